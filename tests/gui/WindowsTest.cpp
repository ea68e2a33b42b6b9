#include <gtest/gtest.h>

#include <sstream>

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFile>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QSvgRenderer>
#include <QSystemTrayIcon>
#include <QTableView>
#include <QTest>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <fstream>

#include "gui/GuiHarness.h"
#include "gui/SkinWidgets.h"
#include "platform/Outlets.h"

using namespace vaultry;
using namespace vaultry::qt;

namespace {

template <typename T>
void expectOutlet(QtUi& ui, const char* name) {
    SCOPED_TRACE(name);
    QObject* o = ui.object(name);
    ASSERT_NE(o, nullptr) << "not registered";
    EXPECT_NE(qobject_cast<T*>(o), nullptr) << "wrong kind: " << o->metaObject()->className();
    EXPECT_EQ(ui.outlet(name), static_cast<const void*>(o)) << "notifications carry the widget itself";
}

}  // namespace

TEST(Windows, EveryNamedControlIsRegisteredAsTheRightWidget) {
    test::GuiWorld world;
    auto& ui = world.ui;
    for (const char* w :
         {"window", "thefileManageWindow", "connectWindow", "autoTrashWindow", "preferWindows",
          "CreatePWWindow", "enterPDWindow", "aboutWindow", "UpdateWindow", "noUpdateWindow"}) {
        expectOutlet<QWidget>(ui, w);
        EXPECT_TRUE(ui.widget<QWidget>(w)->isWindow()) << w;
    }
    expectOutlet<PRCustomeWindow>(ui, "thefileManageWindow");
    for (const char* b :
         {"openCookieBtn", "safariCookieBtn", "chromeCookieBtn", "firefoxCookieBtn", "newCookieBtn",
          "tidybutton", "selectStorageBtn", "changeStorageBtn", "changePassWordBtn", "selectAllBtn",
          "selectImageBtn", "selectDocBtn", "selectVideoBtn", "selectFolderBtn", "selectOtherBtn"})
        expectOutlet<PRLeftTipButton>(ui, b);
    for (const char* b :
         {"currentDesktopBtn", "pictureBtn", "documentBtn", "archiveBtn", "folerBtn", "otherBtn"})
        expectOutlet<FBLeftButton>(ui, b);
    for (const char* b : {"allBtn", "imageBtn", "docuBtn", "zipBtn", "folderBtn", "tidyOtherBtn"})
        expectOutlet<FBTypeButton>(ui, b);
    for (const char* b : {"doneButton", "closedButton", "enterPDButton", "closedPDWindowButton",
                          "closedFileWindowButton", "closedPrefWindowButton"})
        expectOutlet<PRClosedButton>(ui, b);
    for (const char* f : {"theCreatePWLab", "theConfirmPWLab", "enterPWLab", "newPWLab", "confirmNewPWLab"}) {
        expectOutlet<QLineEdit>(ui, f);
        EXPECT_EQ(ui.widget<QLineEdit>(f)->echoMode(), QLineEdit::Password) << f;
    }
    for (const char* l : {"warnlab", "enterPDWarnLab", "warnnewPWlab", "StorePathlab", "storagelab",
                          "lastCleanupInfolab", "lastCleanupSizelab", "lastCleanupDatelab", "newversionlab",
                          "currentversionlab", "bottomImageView"})
        expectOutlet<QLabel>(ui, l);
    for (const char* c :
         {"autoLunchBtn", "autoCleanupSelectBtn", "cleanTimeCheckBtn", "cleanStorageCheckBtn"})
        expectOutlet<QCheckBox>(ui, c);
    expectOutlet<QTextEdit>(ui, "whatsnewContentView");
    expectOutlet<QTimeEdit>(ui, "tidyTimePicker");
    EXPECT_EQ(ui.widget<QTimeEdit>("tidyTimePicker")->displayFormat(), "HH:mm");
    expectOutlet<QTableView>(ui, "fileTableView");
    expectOutlet<QTableView>(ui, "dataTableView");
    expectOutlet<QListView>(ui, "theBroswerView");
    for (const char* v :
         {"leftView", "rightView", "openView", "theConentView", "startTidyView", "theProgressor"})
        expectOutlet<QWidget>(ui, v);
    expectOutlet<QSystemTrayIcon>(ui, "_statusItem");
    expectOutlet<QMenu>(ui, "baMenu");
}

TEST(Windows, StartUpShowsTheOpeningViewsAndHidesTheWarnings) {
    test::GuiWorld world;
    AppDelegate delegate(world.services());
    delegate.awakeFromNib();
    auto& ui = world.ui;
    for (const char* hidden : {"warnlab", "enterPDWarnLab", "warnnewPWlab", "theConentView", "newCookieBtn"})
        EXPECT_TRUE(ui.isHidden(hidden)) << hidden;
    // Linux has no sandbox: the access window only asks where tidied items go.
    for (const char* shown : {"openView", "startTidyView"}) EXPECT_FALSE(ui.isHidden(shown)) << shown;
    EXPECT_TRUE(ui.state("autoCleanupSelectBtn")) << "automatic tidy is on when never set";
    EXPECT_FALSE(ui.state("autoLunchBtn"));
    for (const auto& [name, w] : world.windows.topLevels()) {
        if (name != "window") {
            EXPECT_FALSE(w->isVisible()) << name;
        }
    }
}

TEST(Windows, ReturnInThePasswordFieldCallsTheControllerAndTypingStaysInTheField) {
    test::GuiWorld world;
    int returns = 0;
    world.commands.returnOnPasswordField = [&] { ++returns; };
    world.ui.showWindow("enterPDWindow");
    auto* field = world.ui.widget<QLineEdit>("enterPWLab");
    QTest::keyClicks(field, "Se cret");
    EXPECT_EQ(world.ui.text("enterPWLab"), "Se cret");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(returns, 1);
    field->clearFocus();  // end of editing alone does nothing
    EXPECT_EQ(returns, 1);
}

TEST(Windows, TheVaultWindowAsksBeforeItClosesByTheSystem) {
    test::GuiWorld world;
    bool allow = false;
    int asked = 0;
    world.commands.vaultWindowShouldClose = [&] {
        ++asked;
        return allow;
    };
    world.ui.showWindow("thefileManageWindow");
    QWidget* w = world.windows.topLevels().at("thefileManageWindow");
    w->close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(w->isVisible());
    allow = true;
    w->close();
    EXPECT_FALSE(w->isVisible());
}

TEST(Windows, MenuCommandsReachTheirCallbacks) {
    test::GuiWorld world;
    std::vector<std::string> ran;
    auto& c = world.commands;
    c.openVault = [&] { ran.push_back("open"); };
    c.quit = [&] { ran.push_back("quit"); };
    c.emptyTrash = [&] { ran.push_back("trash"); };
    for (QAction* a : world.banner.menu()->actions())
        if (!a->isSeparator()) a->trigger();  // commands left unwired do nothing
    EXPECT_EQ(ran, (std::vector<std::string>{"open", "trash", "quit"}));
}

TEST(Popover, OpensAtTheAnchorClosesAndIsBuiltAfreshEachTime) {
    test::GuiWorld world;
    world.windows.mainWindow()->show();
    auto& banner = world.banner;
    QWidget* content = world.windows.popoverContent();
    QWidget* home = world.windows.topLevels().at("autoTrashWindow");

    banner.ClickStateBanner(world.windows.mainWindow());
    QPointer<QFrame> first = banner.popover();
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->windowFlags() & Qt::Popup) << "a click elsewhere closes it";
    EXPECT_EQ(content->window(), first.data());

    first->close();
    QApplication::processEvents();
    EXPECT_EQ(banner.popover(), nullptr);
    EXPECT_EQ(content->window(), home) << "the automatic-trash window gets its view back";

    banner.ClickStateBanner(world.windows.mainWindow());
    ASSERT_NE(banner.popover(), nullptr);
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(first.isNull()) << "the closed popover is gone; this one is new";

    QWidget* detached = banner.detachableWindowForPopover();
    QApplication::processEvents();
    EXPECT_EQ(banner.popover(), nullptr);
    EXPECT_EQ(content->window(), detached);
    EXPECT_TRUE(detached->isVisible());
    detached->close();
    QApplication::processEvents();
    EXPECT_EQ(content->window(), home);
}

TEST(Images, EveryImageTheControllersAskForIsDrawn) {
    test::guiApp();
    // Every name the controllers ask for, blank-separated.
    std::istringstream names(
        "Close_Down.png Close_Nom.png Safaricookienom.png archbigdown.png archbignom.png "
        "bannerIcon.png chromecookiedown.png chromecookienom.png currentBigDesktopdown.png "
        "currentBigDesktopnom.png darkbannerIcon.png "
        "docbigdown.png docbignom.png donedown.png donenom.png filetopbanner.png find.png "
        "finddown.png firefoxcookiedown.png firefoxcookienom.png folderbigdown.png folderbignom.png "
        "foldericns.png locktag.png mainBottomImage.png newcookiedown.png newcookienom.png "
        "opencooikedown.png opencookienom.png othebigdown.png otherbignom.png pdtopview.png "
        "picbigDown.png picbignom.png safaricookiedown.png startlocationdownbtn.png "
        "startlocationnombtn.png storagedown.png storagenom.png switchdown.png tablehead.png "
        "topbanner.png turnoffbtn.png viewtag.png allnom imagenom docnom medianom foldernom othernom "
        "floderimage alldownbbtn allnombbtn imagedownbtn imagenombtn docdownbtn docnombtn zipdownbtn "
        "zipnombtn folderdownbtn foldernombtn otherdownbbtn othernombbtn NSRefreshTemplate "
        "NSActionTemplate");
    for (std::string name; names >> name;) {
        const QIcon icon = iconFor(platform::ImageRef::named(name));
        EXPECT_FALSE(icon.isNull()) << name;
        const QImage one = icon.pixmap(QSize(32, 32), 1.0).toImage();
        const QImage two = icon.pixmap(QSize(32, 32), 2.0).toImage();
        EXPECT_EQ(two.width(), 2 * one.width()) << name << " is drawn afresh at 2x";
    }
    // The tray icon contrasts with the panel: dark ink on light panels, light ink on dark ones.
    const auto ink = [](const char* name) {
        const QImage img = iconFor(platform::ImageRef::named(name)).pixmap(QSize(22, 22), 1.0).toImage();
        return QColor(img.pixel(11, 4)).lightness();
    };
    EXPECT_LT(ink("bannerIcon.png"), 100);
    EXPECT_GT(ink("darkbannerIcon.png"), 200);
}

TEST(Images, TheTrayIconTakesTheImageTheControllerSets) {
    test::GuiWorld world;
    world.ui.setImage("_statusItem", "darkbannerIcon.png");
    EXPECT_EQ(world.ui.image("_statusItem").value, "darkbannerIcon.png");
    EXPECT_FALSE(world.banner.statusItem()->icon().isNull());
}

// Where the symbolic icon is installed, the tray item carries its name in the icon theme, which a
// StatusNotifierItem host looks up and paints in the panel's colours; where it is not, the light or
// dark pixmap stays.
TEST(Images, TheTrayIconIsTheThemedSymbolicIconWithThePixmapsAsFallback) {
    test::guiApp();
    test::TempDir dir;
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    // hicolor as Debian installs it: its index names the folder of symbolic icons.
    test::writeFile(dir / "icons/hicolor/index.theme",
                    "[Icon Theme]\nName=Hicolor\nDirectories=symbolic/apps\n\n[symbolic/apps]\nMinSize=8\n"
                    "Size=16\nMaxSize=512\nContext=Applications\nType=Scalable\n");
    QFile installed(":/assets/appicon-symbolic.svg");
    ASSERT_TRUE(installed.open(QIODevice::ReadOnly));
    test::writeFile(dir / "icons/hicolor/symbolic/apps" / (std::string(kTrayIconName) + ".svg"),
                    installed.readAll().toStdString());
    QIcon::setThemeSearchPaths({QString::fromStdString((dir / "icons").string())});
    QIcon::setThemeName("hicolor");
    {
        test::GuiWorld world;
        QSystemTrayIcon* tray = world.banner.statusItem();
        EXPECT_EQ(tray->icon().name(), kTrayIconName);
        // The controller's light or dark choice keeps the themed icon; its pixmap is the fallback.
        world.ui.setImage("_statusItem", "darkbannerIcon.png");
        EXPECT_EQ(tray->icon().name(), kTrayIconName);
        EXPECT_EQ(world.ui.image("_statusItem").value, "darkbannerIcon.png");
        const QImage drawn = tray->icon().pixmap(QSize(16, 16), 1.0).toImage();
        EXPECT_GT(qAlpha(drawn.pixel(8, 3)), 200) << "the shield is drawn";
        EXPECT_EQ(QColor(drawn.pixel(8, 3)).name(), "#bebebe") << "in its one colour";
        EXPECT_LT(qAlpha(drawn.pixel(8, 7)), 40) << "with the keyhole cut out";
    }
    QIcon::setThemeSearchPaths({QString::fromStdString((dir / "no-icons").string())});
    {
        test::GuiWorld world;
        QSystemTrayIcon* tray = world.banner.statusItem();
        EXPECT_TRUE(tray->icon().name().isEmpty());
        const char* pixmap = world.ui.darkAppearance() ? "darkbannerIcon.png" : "bannerIcon.png";
        EXPECT_EQ(tray->icon().pixmap(QSize(22, 22), 1.0).toImage(),
                  iconFor(platform::ImageRef::named(pixmap)).pixmap(QSize(22, 22), 1.0).toImage());
    }
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
}

TEST(Images, TheSymbolicIconIsValidSvgOfOneColour) {
    test::guiApp();
    QSvgRenderer renderer(QStringLiteral(":/assets/appicon-symbolic.svg"));
    EXPECT_TRUE(renderer.isValid());
    EXPECT_EQ(renderer.defaultSize(), QSize(16, 16));
    QFile file(":/assets/appicon-symbolic.svg");
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(file.readAll());
    QStringList colours;
    for (auto it = QRegularExpression("#[0-9a-fA-F]{6}").globalMatch(text); it.hasNext();)
        colours << it.next().captured().toLower();
    colours.removeDuplicates();
    EXPECT_EQ(colours, QStringList{"#bebebe"});
    // KDE paints the colour-scheme class in the panel's text colour; the shield takes it.
    EXPECT_TRUE(text.contains("current-color-scheme"));
    EXPECT_TRUE(text.contains("fill=\"currentColor\""));
}

// Answers the next modal alert by pressing the button with this exact title.
static void answerWith(const QString& title, QString* message) {
    QTimer::singleShot(0, [title, message] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *message = box->text() + "|" + box->informativeText();
        if (box->textFormat() != Qt::PlainText) *message += "|markup";  // file names are not markup
        for (QAbstractButton* b : box->buttons())
            if (b->text() == title) {
                b->click();
                return;
            }
        ADD_FAILURE() << "no button titled '" << title.toStdString() << "'";
        box->reject();
    });
}

TEST(Alerts, TitlesKeepTheirBlanksAndEachButtonGivesItsAnswer) {
    test::GuiWorld world;
    const platform::Alert offer{"Some items are visible",
                                "Do you want to hide all the visible items before quitting Vaultry ?",
                                " Hide and Quit", " Cancel ", " Quit "};
    QString shown;
    answerWith(" Hide and Quit", &shown);
    EXPECT_EQ(world.ui.runAlert(offer), platform::AlertAnswer::Default);
    EXPECT_EQ(shown.toStdString(), offer.message + "|" + offer.informative);
    answerWith(" Cancel ", &shown);
    EXPECT_EQ(world.ui.runAlert(offer), platform::AlertAnswer::Alternate);
    answerWith(" Quit ", &shown);
    EXPECT_EQ(world.ui.runAlert(offer), platform::AlertAnswer::Other);
}

// A folder `root` holding a folder and a file, and a panel for any number of both, opening there.
static platform::OpenPanel panelForBothKinds(const std::filesystem::path& root) {
    std::filesystem::create_directories(root / "Photos");
    std::ofstream(root / "notes.txt") << "x";
    platform::OpenPanel panel;
    panel.chooseFiles = panel.chooseDirectories = panel.multipleSelection = true;
    panel.directory = root.string();
    return panel;
}

TEST(OpenPanels, APanelForFilesAndFoldersReturnsBothKindsChosenTogether) {
    test::GuiWorld world;
    const auto root = world.dir.path() / "pick";
    platform::OpenPanel panel = panelForBothKinds(root);
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr);
        auto* list = dialog->findChild<QListView*>("listView");
        ASSERT_NE(list, nullptr);
        ASSERT_TRUE(QTest::qWaitFor([&] { return list->model()->rowCount(list->rootIndex()) == 2; }, 10000));
        list->selectAll();
        auto* box = dialog->findChild<QDialogButtonBox*>("buttonBox");
        ASSERT_NE(box, nullptr);
        box->button(QDialogButtonBox::Open)->click();
    });
    const auto chosen = world.ui.runOpenPanel(panel);
    ASSERT_TRUE(chosen.has_value());
    auto paths = *chosen;
    std::sort(paths.begin(), paths.end());
    EXPECT_EQ(paths, (std::vector<std::string>{(root / "Photos").string(), (root / "notes.txt").string()}));
}

// The desktop's picker takes files or one folder: a panel for both asks which first.
TEST(OpenPanels, WithTheDesktopsPickerAPanelForBothKindsAsksFilesOrFolderFirst) {
    test::GuiWorld world;
    qt::QtUi::assumeDesktopPicker(true);
    struct Reset {
        ~Reset() { qt::QtUi::assumeDesktopPicker(std::nullopt); }
    } reset;
    const auto root = world.dir.path() / "pick";
    platform::OpenPanel panel = panelForBothKinds(root);
    panel.message = "Choose the file(s) or folder(s) to hide.";

    // Presses `title` in the question, then hands the picker that follows to `pick`.
    const auto answer = [](QString title, std::function<void(QFileDialog*)> pick) {
        QTimer::singleShot(0, [title, pick] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_NE(box, nullptr) << "no question before the picker";
            EXPECT_EQ(box->text(), "Choose the file(s) or folder(s) to hide.");
            QStringList titles;
            for (QAbstractButton* b : box->buttons()) titles << b->text();
            titles.sort();
            EXPECT_EQ(titles, (QStringList{"Cancel", "Files…", "Folder…"}));
            if (pick)
                QTimer::singleShot(0, [pick] {
                    auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
                    ASSERT_NE(dialog, nullptr);
                    pick(dialog);
                });
            for (QAbstractButton* b : box->buttons())
                if (b->text() == title) b->click();
        });
    };

    answer("Folder…", [&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->fileMode(), QFileDialog::Directory);
        dialog->selectFile(QString::fromStdString((root / "Photos").string()));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    auto chosen = world.ui.runOpenPanel(panel);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, std::vector<std::string>{(root / "Photos").string()});

    answer("Files…", [&](QFileDialog* dialog) {
        EXPECT_EQ(dialog->fileMode(), QFileDialog::ExistingFiles);
        dialog->selectFile(QString::fromStdString((root / "notes.txt").string()));
        QMetaObject::invokeMethod(dialog, "accept");
    });
    chosen = world.ui.runOpenPanel(panel);
    ASSERT_TRUE(chosen.has_value());
    EXPECT_EQ(*chosen, std::vector<std::string>{(root / "notes.txt").string()});

    answer("Cancel", nullptr);
    EXPECT_FALSE(world.ui.runOpenPanel(panel).has_value());

    // A sheet asks the same; a panel of one kind goes straight to the picker.
    std::optional<std::optional<platform::Ui::Paths>> answered;
    answer("Cancel", nullptr);
    world.ui.beginSheet("window", panel, [&](std::optional<platform::Ui::Paths> p) { answered = p; });
    ASSERT_TRUE(answered.has_value());
    EXPECT_FALSE(answered->has_value());
    panel.chooseDirectories = false;
    QTimer::singleShot(0, [] {
        auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        ASSERT_NE(dialog, nullptr) << "files only: no question";
        dialog->reject();
    });
    EXPECT_FALSE(world.ui.runOpenPanel(panel).has_value());
}

TEST(Windows, ATablesNumberIsItsClickedRow) {
    test::GuiWorld world;
    auto* table = world.ui.widget<QTableView>("fileTableView");
    EXPECT_EQ(world.ui.number("fileTableView"), -1) << "no model, no row";
    QStandardItemModel model(3, 1);
    table->setModel(&model);
    EXPECT_EQ(world.ui.number("fileTableView"), -1);
    world.ui.setNumber("fileTableView", 2);
    EXPECT_EQ(world.ui.number("fileTableView"), 2);
    table->setModel(nullptr);
}

TEST(Windows, PopoverControlsReachTheirCallbacks) {
    test::GuiWorld world;
    std::vector<std::string> ran;
    auto& c = world.commands;
    c.tidyNow = [&] { ran.push_back("tidy"); };
    c.tidyRefresh = [&] { ran.push_back("refresh"); };
    c.tidySearch = [&] { ran.push_back("search:" + world.ui.text("searchField")); };
    c.trashOnLogin = [&] { ran.push_back("login"); };
    c.preferences = [&] { ran.push_back("prefs"); };
    world.ui.showWindow("autoTrashWindow");
    QTest::mouseClick(world.ui.widget<QPushButton>("tidyNowBtn"), Qt::LeftButton);
    QTest::mouseClick(world.ui.widget<QToolButton>("tidyRefreshBtn"), Qt::LeftButton);
    QTest::mouseClick(world.ui.widget<QToolButton>("tidySettingsBtn"), Qt::LeftButton);
    QTest::keyClicks(world.ui.widget<QLineEdit>("searchField"), "ab");
    world.ui.widget<QCheckBox>("trashAutoLunchBtn")->click();
    EXPECT_EQ(ran, (std::vector<std::string>{"tidy", "refresh", "prefs", "search:a", "search:ab", "login"}));
    EXPECT_TRUE(world.ui.state("autoLunchBtn")) << "the two login boxes show one state";
}

TEST(Outlets, EveryNameOfTheListHasItsControlAndOtherNamesAreRefused) {
    test::GuiWorld world;
    for (std::string_view name : outlet::kAll) {
        if (name == outlet::thePopover || name == outlet::popAttachWindow) continue;  // made when shown
        EXPECT_NE(world.ui.object(name), nullptr) << name;
    }
    std::vector<std::string> refused;
    qt::QtUi::onRefusal([&](std::string_view name) { refused.emplace_back(name); });
    test::LogCapture log;
    world.ui.setText("warnLab", "x");  // misspelt
    world.ui.setHidden("otherButton", true);
    world.ui.registerOutlet("noSuchOutlet", world.windows.mainWindow());
    qt::QtUi::onRefusal(
        [](std::string_view name) { ADD_FAILURE() << "no outlet is named \"" << name << "\""; });
    EXPECT_EQ(refused, (std::vector<std::string>{"warnLab", "otherButton", "noSuchOutlet"}));
    EXPECT_TRUE(log.contains("ui: no outlet is named \"warnLab\""));
}

TEST(Keyboard, IconOnlyControlsAreNamedAndEscapeClosesEveryWindowButTheMainOne) {
    test::GuiWorld world;
    std::vector<QWidget*> roots{world.windows.popoverContent()};
    for (const auto& [name, w] : world.windows.topLevels()) roots.push_back(w);
    for (QWidget* root : roots)
        for (QAbstractButton* b : root->findChildren<QAbstractButton*>()) {
            if (!b->text().trimmed().isEmpty() && b->text().trimmed() != "‹") continue;
            // Qt's own parts of tables, tab bars and line edits are not ours to name.
            const QString cls = b->metaObject()->className();
            if (cls == "QTableCornerButton" || cls == "QLineEditIconButton" ||
                b->objectName().startsWith("Scroll"))
                continue;
            EXPECT_FALSE(b->toolTip().isEmpty())
                << b->objectName().toStdString() << " in " << b->window()->objectName().toStdString() << " "
                << b->metaObject()->className();
            EXPECT_FALSE(b->accessibleName().isEmpty()) << b->objectName().toStdString();
        }
    for (const auto& [name, w] : world.windows.topLevels()) {
        if (name == "window") continue;
        w->show();
        QApplication::setActiveWindow(w);
        QTest::keyClick(w, Qt::Key_Escape);
        QApplication::processEvents();
        EXPECT_FALSE(w->isVisible()) << name;
    }
}
