#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSlider>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "app/Notifications.h"
#include "app/PPopoverviewConterller.h"
#include "app/PRUpdateController.h"
#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "desktop/FBFileNode.h"
#include "desktop/SizeText.h"
#include "gui/GuiHarness.h"
#include "gui/Views.h"
#include "platform/Version.h"
#include "settings/Preferences.h"
#include "support/CookieFiles.h"

using namespace vaultry;
using namespace vaultry::qt;
namespace fs = std::filesystem;

namespace {

// The windows, the controller and the models bound to them, as the application starts them.
struct Pages {
    test::GuiWorld world;
    AppDelegate app{world.services()};
    BoundViews views;
    fs::path home = world.dir.path();

    Pages() {
        app.awakeFromNib();
        views = bindViews(world.ui, world.windows, app);
        wireCommands(world.commands, world.ui, app);
    }
    void press(const char* notification, const char* outlet) {
        world.nc.post(notification, world.ui.outlet(outlet));
    }
    void finishCookies() {
        ASSERT_TRUE(world.mainThread.pumpUntil([&] { return !app.cookieWorkerRunning(); }));
    }
    std::string image(const char* outlet) { return world.ui.image(outlet).value; }
    QString cell(QAbstractItemModel* m, int row, int column = 0) {
        return m->data(m->index(row, column)).toString();
    }
    // A Chromium store with one cookie "n<i>" of each host.
    void writeHosts(const fs::path& db, const std::vector<std::string>& hosts) {
        fs::create_directories(db.parent_path());
        test::makeChromeDb(db, true);
        for (std::size_t i = 0; i < hosts.size(); ++i)
            test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(i) + ",'" + hosts[i] + "','','n" +
                              std::to_string(i) + "','',x'0102','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    }
    std::vector<std::string> storedHosts(const fs::path& db) {
        std::vector<std::string> out;
        for (const auto& n : cookies::readStore(db.string(), cookies::Layout::Chrome))
            out.push_back(n->fileHost().value_or(""));
        std::sort(out.begin(), out.end());
        return out;
    }
    // The view row that shows `host`.
    int rowOf(const std::string& host) {
        for (int r = 0; r < views.cookies->rowCount(); ++r)
            if (cell(views.cookies, r).toStdString() == host) return r;
        return -1;
    }
    std::vector<std::string> texts(const QMenu& menu) {
        std::vector<std::string> out;
        for (const auto* a : menu.actions()) out.push_back(a->text().toStdString());
        return out;
    }
    QAction* action(const QMenu& menu, const char* text) {
        for (auto* a : menu.actions())
            if (a->text() == text) return a;
        ADD_FAILURE() << "no menu entry \"" << text << "\"";
        return nullptr;
    }
    std::vector<std::string> keepShown() {
        std::vector<std::string> out;
        auto* list = world.ui.widget<QListWidget>("cookieKeepList");
        for (int i = 0; i < list->count(); ++i) out.push_back(list->item(i)->text().toStdString());
        return out;
    }
    void writeChrome(const fs::path& db, int rows) {
        fs::create_directories(db.parent_path());
        test::makeChromeDb(db, true);
        for (int i = 0; i < rows; ++i)
            test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(i) + ",'c" + std::to_string(i) +
                              ".com','','n','',x'0102','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    }
    std::shared_ptr<FBFileNode> file(const std::string& name) {
        const fs::path p = home / "items" / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << name;
        return makeFileNode(p.string());
    }
};

std::vector<std::string> names(const FileNodes& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes) out.push_back(n->fileName());
    return out;
}

}  // namespace

TEST(CookiePage, AScanFillsTheTableAndTheLastFileButtonBringsTheOpenedFileBack) {
    const fs::path fixture = test::sharedFixtures() / "cookies/plaso_Cookies.binarycookies";
    if (test::sharedFixtures().empty() || !fs::exists(fixture)) GTEST_SKIP() << "shared fixtures not present";
    Pages p;
    auto* table = p.world.ui.widget<QTableView>("dataTableView");
    ASSERT_EQ(table->model(), p.views.cookies);

    // A file opened by hand.
    p.app.openPanelDidEnd1(platform::Ui::Paths{fixture.string()});
    p.finishCookies();
    const int opened = p.views.cookies->rowCount();
    ASSERT_GT(opened, 0);
    EXPECT_EQ(opened, static_cast<int>(p.app.cookieRecords().size()));
    EXPECT_FALSE(p.world.ui.widget<QWidget>("theConentView")->isHidden());
    EXPECT_TRUE(p.world.ui.widget<QWidget>("openView")->isHidden());
    EXPECT_FALSE(p.world.ui.widget<QWidget>("newCookieBtn")->isHidden());
    EXPECT_EQ(p.views.cookies->columnCount(), 7);
    EXPECT_EQ(p.views.cookies->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Website");
    EXPECT_EQ(p.cell(p.views.cookies, 0, 0).toStdString(), p.app.cookieRecords()[0]->fileHost().value_or(""));

    // A later scan of Chrome's store replaces the rows; its button shows it pressed.
    p.world.settings.set(prefkey::CookieFolderGrant, *p.world.bookmarks.create(p.home.string()));
    p.writeChrome(cookies::chromeCookiePath(p.world.paths), 3);
    p.press(notify::PRLeftButtonMouseDown, "chromeCookieBtn");
    p.finishCookies();
    EXPECT_EQ(p.views.cookies->rowCount(), 3);
    EXPECT_EQ(p.image("chromeCookieBtn"), "chromecookiedown.png");
    EXPECT_EQ(p.image("safariCookieBtn"), "Safaricookienom.png");
    EXPECT_EQ(p.image("newCookieBtn"), "newcookienom.png");

    // Sorting by the website, both ways, then the last opened file again.
    table->sortByColumn(0, Qt::DescendingOrder);
    EXPECT_EQ(p.cell(p.views.cookies, 0), "c2.com");
    table->sortByColumn(0, Qt::AscendingOrder);
    EXPECT_EQ(p.cell(p.views.cookies, 0), "c0.com");
    table->selectRow(1);
    p.press(notify::PRLeftButtonMouseDown, "newCookieBtn");
    EXPECT_EQ(p.views.cookies->rowCount(), opened);
    EXPECT_EQ(p.image("newCookieBtn"), "newcookiedown.png");
    EXPECT_EQ(p.image("chromeCookieBtn"), "chromecookienom.png");
    EXPECT_FALSE(table->selectionModel()->hasSelection());
}

TEST(CookiePage, ExportWritesTheFileAndOpensItsFolder) {
    Pages p;
    p.world.settings.set(prefkey::CookieFolderGrant, *p.world.bookmarks.create(p.home.string()));
    p.writeChrome(cookies::chromeCookiePath(p.world.paths), 2);
    p.app.ActClickChromeAction();
    p.finishCookies();
    ASSERT_EQ(p.views.cookies->rowCount(), 2);
    p.world.commands.exportCookies();
    p.finishCookies();
    const fs::path folder = cookies::exportFolder(p.world.paths);
    ASSERT_EQ(p.world.workspace.opened, std::vector<std::string>{folder.string()});
    std::string text;
    for (const auto& e : fs::directory_iterator(folder)) {
        std::ifstream in(e.path());
        text.assign(std::istreambuf_iterator<char>(in), {});
    }
    EXPECT_NE(text.find("Website:c0.com"), std::string::npos);
    EXPECT_NE(text.find("Website:c1.com"), std::string::npos);
}

TEST(TidyList, SearchNarrowsTheListAndAnEmptyFieldRestoresIt) {
    Pages p;
    auto& pop = p.app.popoverController();
    pop.SetTableControllerArray(
        {p.file("report.txt"), p.file("Repo.zip"), p.file("prep.doc"), p.file("other.png")});
    p.world.ui.reload(PPopoverviewConterller::kTidyTable);
    auto* model = p.views.tidy;
    ASSERT_EQ(model->rowCount(), 4);
    EXPECT_EQ(model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(), "Name");
    EXPECT_FALSE(model->data(model->index(0, 0), Qt::DecorationRole).value<QIcon>().isNull());

    auto* field = p.world.ui.widget<QLineEdit>("searchField");
    int reloads = 0;  // each keystroke's search hands its rows back with one reload
    QObject::connect(model, &QAbstractItemModel::modelReset, [&reloads] { ++reloads; });
    QTest::keyClicks(field, "repo");
    ASSERT_TRUE(p.world.mainThread.pumpUntil([&] { return reloads == 4; }));
    EXPECT_EQ(model->rowCount(), 2);
    EXPECT_EQ(p.cell(model, 0), "report.txt");
    EXPECT_EQ(p.cell(model, 1), "Repo.zip");
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Backspace);
    EXPECT_EQ(model->rowCount(), 4);  // an empty field shows the whole list at once
}

TEST(TidyList, ADoubleClickOpensTheRowAndCtrlCCopiesIt) {
    Pages p;
    auto& pop = p.app.popoverController();
    const auto one = p.file("one.txt"), two = p.file("two.txt");
    pop.SetTableControllerArray({one, two});
    p.world.ui.reload(PPopoverviewConterller::kTidyTable);
    auto* list = p.world.ui.widget<QTableView>("tidyTableView");
    list->setCurrentIndex(p.views.tidy->index(1, 0));
    emit list->doubleClicked(p.views.tidy->index(1, 0));
    EXPECT_EQ(p.world.workspace.opened, std::vector<std::string>{two->fullFilePath()});
    QAction* copy = nullptr;
    for (auto* a : list->actions())
        if (a->shortcuts().contains(QKeySequence(QKeySequence::Copy))) copy = a;
    ASSERT_NE(copy, nullptr);
    copy->trigger();
    EXPECT_EQ(p.world.workspace.copied, std::vector<std::vector<std::string>>{{two->fullFilePath()}});
}

TEST(TidyList, DraggingRowZeroOntoRowThreeMovesIt) {
    Pages p;
    auto& pop = p.app.popoverController();
    pop.SetTableControllerArray(
        {p.file("r0.txt"), p.file("r1.txt"), p.file("r2.txt"), p.file("r3.txt"), p.file("r4.txt")});
    p.world.ui.reload(PPopoverviewConterller::kTidyTable);
    auto* model = p.views.tidy;
    std::unique_ptr<QMimeData> drag(model->mimeData({model->index(0, 0)}));
    ASSERT_NE(drag, nullptr);
    EXPECT_TRUE(drag->hasFormat(PPopoverviewConterller::kDragType));
    QMimeData foreign;
    foreign.setText("x");
    EXPECT_FALSE(model->canDropMimeData(&foreign, Qt::MoveAction, 3, 0, {}));
    ASSERT_TRUE(model->dropMimeData(drag.get(), Qt::MoveAction, 3, 0, {}));
    EXPECT_EQ(names(pop.tableArray),
              (std::vector<std::string>{"r1.txt", "r2.txt", "r0.txt", "r3.txt", "r4.txt"}));
    EXPECT_EQ(p.cell(model, 2), "r0.txt");
    // Dropped below the last row, the row goes to the end.
    drag.reset(model->mimeData({model->index(0, 0)}));
    ASSERT_TRUE(model->dropMimeData(drag.get(), Qt::MoveAction, -1, -1, {}));
    EXPECT_EQ(p.cell(model, 4), "r1.txt");
}

TEST(TrashSettings, TheSliderShowsItsThresholdAndKeepsTheStoredOneInTheLowestBand) {
    Pages p;
    auto* slider = p.world.ui.widget<QSlider>("storageSlider");
    ASSERT_EQ(slider->maximum(), static_cast<int>(PPopoverviewConterller::kStorageSliderMaximum));
    slider->setValue(slider->maximum() / 2);
    slider->triggerAction(QAbstractSlider::SliderSingleStepSub);  // a step, as the keyboard moves it
    QTest::qWait(20);
    const int v = slider->value();
    const auto expected = static_cast<std::uint64_t>(
        static_cast<float>(v) / static_cast<float>(slider->maximum()) * 1000 * 1000 * 1000 * 6);
    EXPECT_EQ(p.world.ui.text("storagelab"), " " + sizeText(expected, 1));
    EXPECT_EQ(p.world.settings.number(prefkey::TrashSizeLimit).value_or(0), expected);
    slider->setValue(1);
    slider->triggerAction(QAbstractSlider::SliderSingleStepSub);
    QTest::qWait(20);
    EXPECT_EQ(p.world.ui.text("storagelab"), "100MB");
    EXPECT_EQ(p.world.settings.number(prefkey::TrashSizeLimit).value_or(0), expected);
}

// The label follows a drag as it goes; the size is stored once the slider is let go.
TEST(TrashSettings, TheLabelFollowsADragAndTheSizeIsStoredOnRelease) {
    Pages p;
    auto* slider = p.world.ui.widget<QSlider>("storageSlider");
    slider->setValue(slider->maximum() / 4);
    const auto before = p.world.settings.number(prefkey::TrashSizeLimit);
    slider->setSliderDown(true);
    slider->setSliderPosition(slider->maximum() / 2);  // as the mouse drags it
    QTest::qWait(20);
    const auto expected =
        static_cast<std::uint64_t>(static_cast<float>(slider->sliderPosition()) /
                                   static_cast<float>(slider->maximum()) * 1000 * 1000 * 1000 * 6);
    EXPECT_EQ(p.world.ui.text("storagelab"), " " + sizeText(expected, 1));
    EXPECT_EQ(p.world.settings.number(prefkey::TrashSizeLimit), before) << "nothing is stored while dragging";
    slider->setSliderDown(false);
    QTest::qWait(20);
    EXPECT_EQ(p.world.settings.number(prefkey::TrashSizeLimit).value_or(0), expected);
}

TEST(TrashSettings, TheViewOpensOnTheStoredChoices) {
    Pages p;
    p.world.settings.set(prefkey::TrashSizeLimit, std::uint64_t{3'000'000'000});
    p.world.settings.set(prefkey::CleanTime, std::string("Two Weeks"));
    p.world.settings.set(prefkey::LastCleanSize, std::string("2.5GB"));
    p.world.settings.set(prefkey::LastCleanDate, p.world.clock.now());
    p.app.popoverController().showTrashSettings();
    EXPECT_EQ(p.world.ui.number("storageSlider"), 50);
    EXPECT_EQ(p.world.ui.text("storagelab"), " 3.0GB");
    EXPECT_EQ(p.world.ui.text("theTimeBtn"), "Two Weeks");
    EXPECT_EQ(p.world.ui.text("lastCleanupSizelab"), "2.5GB");
    p.world.commands.trashSizeMoved();  // the slider where it stands keeps the stored limit
    EXPECT_EQ(p.world.settings.number(prefkey::TrashSizeLimit).value_or(0), 3'000'000'000u);
}

TEST(UpdateWindow, ANewerVersionFillsTheWindow) {
    setenv("VAULTRY_UPDATE_URL", "http://updates.test/v.plist", 1);
    Pages p;
    const std::string list =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>lastestVersion</key>"
        "<string>99.0</string><key>WhatsNew</key><string>Faster.*Safer.</string></dict></plist>\n";
    p.world.http.responses.insert_or_assign("http://updates.test/v.plist",
                                            platform::Http::Response{200, {list.begin(), list.end()}});
    p.app.updateWindowController().hidUpdateWindow();  // as at start-up
    p.world.commands.checkForUpdate();
    ASSERT_TRUE(p.world.mainThread.pumpUntil([&] { return !p.app.updateWindowController().isChecking(); }));
    unsetenv("VAULTRY_UPDATE_URL");
    auto* window = p.world.windows.topLevels().at("UpdateWindow").data();
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(p.world.ui.widget<QLabel>("newversionlab")->text(), "Vaultry 99.0 is available.");
    EXPECT_EQ(p.world.ui.widget<QLabel>("currentversionlab")->text().toStdString(),
              std::string("You are using ") + kVersion + " version. Would you like to download it now?");
    EXPECT_EQ(p.world.ui.text("whatsnewContentView"), "Faster.\nSafer.");
    p.world.commands.updateNotNow();
    EXPECT_FALSE(window->isVisible());
}

// The tray menu's entry with this title, or none.
QAction* menuEntry(Pages& p, const QString& title) {
    for (QAction* a : p.world.banner.menu()->actions())
        if (a->text() == title) return a;
    return nullptr;
}

// Presses the default button of the next alert and keeps its texts.
void acceptNextAlert(QString* texts) {
    QTimer::singleShot(0, [texts] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        *texts = box->text() + "|" + box->informativeText();
        box->defaultButton()->click();
    });
}

TEST(UpdateMenu, ABuildWithoutAVersionListSaysInTheMenuThatThePackageManagerUpdatesIt) {
    test::Env off("VAULTRY_UPDATE_URL", "");
    Pages p;
    EXPECT_EQ(menuEntry(p, "Check for Update…"), nullptr);
    QAction* entry = menuEntry(p, "Update Check Off: Your Package Manager Updates Vaultry…");
    ASSERT_NE(entry, nullptr);
    EXPECT_TRUE(entry->isEnabled());

    p.app.updateWindowController().hidUpdateWindow();  // as at start-up
    p.app.updateWindowController().checkServerVersion();
    EXPECT_FALSE(p.app.updateWindowController().isChecking());

    QString texts;
    acceptNextAlert(&texts);
    entry->trigger();
    EXPECT_EQ(texts.toStdString(),
              "This build of Vaultry does not check for updates.|Vaultry is updated with the rest of the "
              "system by its package manager (for example apt).");
    EXPECT_FALSE(p.app.updateWindowController().isChecking());
    EXPECT_TRUE(p.world.http.requested.empty());
    EXPECT_FALSE(p.world.ui.isVisible("UpdateWindow"));
    EXPECT_FALSE(p.world.ui.isVisible("noUpdateWindow"));
}

TEST(UpdateMenu, ABuildWithAVersionListOffersTheCheck) {
    test::Env on("VAULTRY_UPDATE_URL", "http://updates.test/v.plist");
    Pages p;
    EXPECT_NE(menuEntry(p, "Check for Update…"), nullptr);
    EXPECT_EQ(menuEntry(p, "Update Check Off: Your Package Manager Updates Vaultry…"), nullptr);
}

TEST(HelpMenu, OpensTheHelpPageOrElseTheInstalledReadme) {
    test::Env help("VAULTRY_HELP_URL", "");
    Pages p;
    QAction* entry = menuEntry(p, "Help");
    ASSERT_NE(entry, nullptr);
    const auto readme = p.world.paths.installedDocs() / "README.md";
    test::writeFile(readme, "# Vaultry\n");
    entry->trigger();
    ASSERT_EQ(p.world.workspace.urls.size(), 1u);
    EXPECT_EQ(p.world.workspace.urls[0], "file://" + readme.string());

    help.set("VAULTRY_HELP_URL", "https://help.test/vaultry");
    entry->trigger();
    EXPECT_EQ(p.world.workspace.urls.back(), "https://help.test/vaultry");
}

TEST(DesktopBrowser, KindButtonsChooseTheListAndFoldersOpenInPlace) {
    Pages p;
    auto pic = p.file("a.png");
    auto doc = p.file("b.txt");
    fs::create_directories(p.home / "items/box");
    std::ofstream(p.home / "items/box/inner.txt") << "x";
    std::ofstream(p.home / "items/box/.hidden") << "x";
    auto folder = makeFileNode((p.home / "items/box").string());
    for (const auto& n : {pic, doc, folder}) p.app.addDesktopNode(n);

    p.press(notify::FBLeftButtonMouseDown, "pictureBtn");
    EXPECT_EQ(p.image("pictureBtn"), "picbigDown.png");
    EXPECT_EQ(p.image("currentDesktopBtn"), "currentBigDesktopnom.png");
    auto* browser = p.world.ui.widget<QListView>("theBroswerView");
    auto* model = p.views.browser;
    ASSERT_EQ(model->rowCount(), 1);
    EXPECT_EQ(p.cell(model, 0), "a.png");
    p.press(notify::FBLeftButtonMouseDown, "pictureBtn");  // twice: the same
    EXPECT_EQ(model->rowCount(), 1);
    EXPECT_EQ(p.image("pictureBtn"), "picbigDown.png");

    p.press(notify::FBLeftButtonMouseDown, "currentDesktopBtn");
    ASSERT_EQ(model->rowCount(), 3);
    int boxRow = -1;
    for (int r = 0; r < 3; ++r)
        if (p.cell(model, r) == "box") boxRow = r;
    ASSERT_GE(boxRow, 0);
    browser->selectionModel()->select(model->index(boxRow), QItemSelectionModel::ClearAndSelect);
    const QString details = p.world.ui.widget<QLabel>("browserDetailsLab")->text();
    EXPECT_TRUE(details.contains("box")) << details.toStdString();
    EXPECT_TRUE(details.contains("Folder")) << details.toStdString();

    emit browser->doubleClicked(model->index(boxRow));
    ASSERT_EQ(model->rowCount(), 1);  // the dot file is skipped
    EXPECT_EQ(p.cell(model, 0), "inner.txt");
    p.world.commands.browserBack();
    EXPECT_EQ(model->rowCount(), 3);
    const int docRow = p.cell(model, 0) == "b.txt" ? 0 : p.cell(model, 1) == "b.txt" ? 1 : 2;
    emit browser->doubleClicked(model->index(docRow));
    EXPECT_EQ(p.world.workspace.opened, std::vector<std::string>{doc->fullFilePath()});
}

TEST(Icons, PicturesAreDecodedSmallOffTheMainThreadAndCached) {
    test::guiApp();
    test::TempDir dir;
    const fs::path big = dir.path() / "big.png";
    QImage image(1600, 900, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    ASSERT_TRUE(image.save(QString::fromStdString(big.string())));
    std::ofstream(dir.path() / "broken.png") << "not a picture";

    IconLoader icons;
    QStringList loaded;
    QObject::connect(&icons, &IconLoader::loaded, [&](const QString& path) { loaded << path; });
    const auto ref = platform::ImageRef::file(big.string());
    icons.icon(ref);
    icons.icon(ref);  // still decoding: not started twice
    icons.icon(platform::ImageRef::file((dir.path() / "broken.png").string()));
    icons.waitForDone();
    EXPECT_EQ(icons.decodedCount(), 2);
    EXPECT_EQ(loaded.size(), 2);
    // Drawn 64 by 36, in the middle of an icon's square.
    const QImage shown = icons.icon(ref).pixmap(64, 64).toImage();
    EXPECT_EQ(icons.icon(ref).availableSizes().value(0), QSize(64, 64));
    EXPECT_EQ(qAlpha(shown.pixel(32, 10)), 0);
    EXPECT_EQ(QColor(shown.pixel(32, 32)), QColor(Qt::darkCyan));
    icons.icon(ref);
    icons.waitForDone();
    EXPECT_EQ(icons.decodedCount(), 2);  // cached
    EXPECT_FALSE(icons.icon(platform::ImageRef::file((dir.path() / "broken.png").string())).isNull());

    // A one-bit picture keeps its colours.
    QImage mono(200, 200, QImage::Format_Mono);
    mono.setColorTable({qRgb(255, 0, 0), qRgb(0, 0, 255)});
    mono.fill(0);
    const fs::path red = dir.path() / "red.png";
    ASSERT_TRUE(mono.save(QString::fromStdString(red.string())));
    const auto redRef = platform::ImageRef::file(red.string());
    icons.icon(redRef);
    icons.waitForDone();
    EXPECT_EQ(QColor(icons.icon(redRef).pixmap(64, 64).toImage().pixel(32, 32)), QColor(Qt::red));
}

// The Desktop page as the user meets it: the main window shown on it, its items in the browser.
struct DesktopPageShown : Pages {
    QListView* browser = world.ui.widget<QListView>("theBroswerView");
    fs::path desktop = world.paths.desktop();
    DesktopPageShown() {
        world.windows.showPage(AppWindows::Page::Desktop);
        QWidget* main = world.windows.mainWindow();
        main->show();
        main->activateWindow();  // keys reach the focused view of the active window
        EXPECT_TRUE(QTest::qWaitForWindowActive(main));
        fs::create_directories(desktop);
    }
    ~DesktopPageShown() { world.windows.mainWindow()->hide(); }
    void show(const FileNodes& nodes) {
        for (const auto& n : nodes) app.addDesktopNode(n);
        press(notify::FBLeftButtonMouseDown, "currentDesktopBtn");
    }
    int rowOf(const std::string& name) {
        for (int r = 0; r < views.browser->rowCount(); ++r)
            if (cell(views.browser, r).toStdString() == name) return r;
        ADD_FAILURE() << name << " is not shown";
        return -1;
    }
    void select(std::initializer_list<const char*> items) {
        browser->clearSelection();
        for (const char* name : items)
            browser->selectionModel()->select(views.browser->index(rowOf(name)), QItemSelectionModel::Select);
        browser->window()->activateWindow();  // again, after an alert
        EXPECT_TRUE(QTest::qWaitForWindowActive(browser->window()));
        browser->setFocus();
    }
    std::vector<std::string> shown() {
        std::vector<std::string> out;
        for (int r = 0; r < views.browser->rowCount(); ++r)
            out.push_back(cell(views.browser, r).toStdString());
        std::sort(out.begin(), out.end());
        return out;
    }
    QPoint centre(const char* name) {
        return browser->visualRect(views.browser->index(rowOf(name))).center();
    }
};

TEST(DesktopPage, TheItemMenuAndKeysActOnTheSelectedItems) {
    DesktopPageShown p;
    const auto a = p.file("a.txt"), b = p.file("b.txt"), c = p.file("c.txt");
    fs::create_directories(p.home / "items/box");
    std::ofstream(p.home / "items/box/inner.txt") << "x";
    p.show({a, b, c, makeFileNode((p.home / "items/box").string())});
    ASSERT_EQ(p.views.browser->rowCount(), 4);

    // A right click on an item makes it the selection and offers the tidy list's commands.
    QTest::mouseClick(p.browser->viewport(), Qt::RightButton, {}, p.centre("b.txt"));
    emit p.browser->customContextMenuRequested(p.centre("b.txt"));
    auto* menu = p.browser->findChild<QMenu*>();
    ASSERT_NE(menu, nullptr);
    EXPECT_EQ(p.texts(*menu),
              (std::vector<std::string>{"Open", "Show in Folder", "Copy", "Restore to Desktop", "Delete"}));
    p.action(*menu, "Show in Folder")->trigger();
    EXPECT_EQ(p.world.workspace.revealed, std::vector<std::string>{b->fullFilePath()});
    p.action(*menu, "Open")->trigger();
    EXPECT_EQ(p.world.workspace.opened, std::vector<std::string>{b->fullFilePath()});
    menu->close();

    // Ctrl+C copies the selection; Enter opens each item of it.
    p.select({"a.txt", "c.txt"});
    QTest::keyClick(p.browser, Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(p.world.workspace.copied,
              (std::vector<std::vector<std::string>>{{a->fullFilePath(), c->fullFilePath()}}));
    QTest::keyClick(p.browser, Qt::Key_Return);
    EXPECT_EQ(p.world.workspace.opened.size(), 3u);

    // Delete asks, then deletes for good.
    QString asked;
    acceptNextAlert(&asked);
    QTest::keyClick(p.browser, Qt::Key_Delete);
    EXPECT_TRUE(asked.startsWith("Are you sure you want to delete these 2 items?")) << asked.toStdString();
    EXPECT_FALSE(fs::exists(a->fullFilePath()) || fs::exists(c->fullFilePath()));
    EXPECT_EQ(p.shown(), (std::vector<std::string>{"b.txt", "box"}));
    EXPECT_EQ(names(p.app.getDesktopAllArray()).size(), 2u);

    // Restore to Desktop moves the item back and out of the lists.
    p.select({"b.txt"});
    p.world.commands.desktopRestore();
    EXPECT_TRUE(fs::exists(p.desktop / "b.txt"));
    EXPECT_EQ(p.shown(), std::vector<std::string>{"box"});

    // Enter on a folder opens it in place, as a double click does.
    p.select({"box"});
    QTest::keyClick(p.browser, Qt::Key_Enter);
    EXPECT_EQ(p.shown(), std::vector<std::string>{"inner.txt"});
}

TEST(DesktopPage, PicturesArrivingLaterLeaveNoOldLayoutBehind) {
    DesktopPageShown p;
    FileNodes nodes;
    for (const char* name : {"wide.png", "tall.png", "note.txt"}) {
        const fs::path path = p.home / "items" / name;
        fs::create_directories(path.parent_path());
        if (fs::path(name).extension() == ".png") {
            QImage image(name[0] == 'w' ? QSize(640, 200) : QSize(100, 400), QImage::Format_RGB32);
            image.fill(Qt::darkGreen);
            ASSERT_TRUE(image.save(QString::fromStdString(path.string())));
        } else {
            std::ofstream(path) << name;
        }
        nodes.push_back(makeFileNode(path.string()));
    }
    p.show(nodes);
    QTest::qWait(20);  // the first paint, with the icons of the kinds
    p.views.icons->waitForDone();
    QTest::qWait(20);
    // Where the view draws each item is where a fresh layout puts it.
    std::vector<QRect> drawn;
    for (int r = 0; r < p.views.browser->rowCount(); ++r)
        drawn.push_back(p.browser->visualRect(p.views.browser->index(r)));
    p.browser->doItemsLayout();
    for (int r = 0; r < p.views.browser->rowCount(); ++r)
        EXPECT_EQ(drawn[std::size_t(r)], p.browser->visualRect(p.views.browser->index(r)))
            << p.cell(p.views.browser, r).toStdString();
}

TEST(CookiePage, TheProfileDropDownsListEveryProfileAndAPlainClickReadsTheDefault) {
    Pages p;
    const fs::path chrome = p.home / ".config/google-chrome";
    p.writeHosts(chrome / "Default/Network/Cookies", {"default.com", "default.org"});
    p.writeHosts(chrome / "Profile 1/Network/Cookies", {"one.com", "one.org", "one.net"});

    QMenu* menu = p.world.ui.widget<QToolButton>("chromeProfilesBtn")->menu();
    ASSERT_NE(menu, nullptr);
    emit menu->aboutToShow();
    ASSERT_EQ(p.texts(*menu),
              (std::vector<std::string>{"Google Chrome — Default", "Google Chrome — Profile 1"}));
    EXPECT_TRUE(menu->actions()[0]->font().bold()) << "the default profile stands out";
    emit menu->aboutToShow();  // opened again: the same entries, not twice over
    EXPECT_EQ(menu->actions().size(), 2);

    p.action(*menu, "Google Chrome — Profile 1")->trigger();
    p.finishCookies();
    EXPECT_EQ(p.views.cookies->rowCount(), 3);
    EXPECT_EQ(p.app.currentScanFilePath(), (chrome / "Profile 1/Network/Cookies").string());

    p.press(notify::PRLeftButtonMouseDown, "chromeCookieBtn");
    p.finishCookies();
    EXPECT_EQ(p.views.cookies->rowCount(), 2);
    EXPECT_EQ(p.app.currentScanFilePath(), (chrome / "Default/Network/Cookies").string());

    QMenu* firefox = p.world.ui.widget<QToolButton>("firefoxProfilesBtn")->menu();
    emit firefox->aboutToShow();
    ASSERT_EQ(p.texts(*firefox), std::vector<std::string>{"No profiles found"});
    EXPECT_FALSE(firefox->actions()[0]->isEnabled());
}

TEST(CookiePage, RemoveSelectedTakesTheRecordsOfTheSortedRowsShown) {
    Pages p;
    const fs::path db = p.home / ".config/google-chrome/Default/Network/Cookies";
    p.writeHosts(db, {"a.com", "b.com", "c.com", "d.com"});
    p.app.ActClickChromeAction();
    p.finishCookies();
    auto* table = p.world.ui.widget<QTableView>("dataTableView");
    // Sorted the other way round, the first rows of the view are the store's last records.
    table->sortByColumn(0, Qt::DescendingOrder);
    ASSERT_EQ(p.cell(p.views.cookies, 0), "d.com");
    table->selectRow(0);
    table->selectionModel()->select(p.views.cookies->index(2, 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    ASSERT_EQ(p.cell(p.views.cookies, 2), "b.com");
    EXPECT_EQ(selectedCookieRows(*table, p.app.cookieRecords()), (std::vector<std::size_t>{1, 3}));

    p.world.commands.removeSelectedCookies();
    p.finishCookies();
    EXPECT_EQ(p.storedHosts(db), (std::vector<std::string>{"a.com", "c.com"}));
    EXPECT_EQ(p.views.cookies->rowCount(), 2);
    EXPECT_EQ(p.cell(p.views.cookies, 0), "c.com") << "the table keeps its order";

    // Nothing selected: nothing is removed.
    p.world.commands.removeSelectedCookies();
    p.finishCookies();
    EXPECT_EQ(p.storedHosts(db).size(), 2u);
}

TEST(CookiePage, TheRowMenuRemovesARowOrASiteAndKeepsASiteFromRemoveAll) {
    Pages p;
    const fs::path db = p.home / ".config/google-chrome/Default/Network/Cookies";
    p.writeHosts(db, {"a.com", ".a.com", "b.org", "c.net", "d.net"});
    p.app.ActClickChromeAction();
    p.finishCookies();
    auto* table = p.world.ui.widget<QTableView>("dataTableView");
    table->sortByColumn(0, Qt::DescendingOrder);

    std::unique_ptr<QMenu> menu(cookieRowMenu(p.world.ui, p.app, p.rowOf("b.org"), table));
    ASSERT_TRUE(menu);
    EXPECT_EQ(p.texts(*menu),
              (std::vector<std::string>{"Remove", "", "Remove All of This Site", "Keep This Site"}));
    EXPECT_EQ(selectedCookieRows(*table, p.app.cookieRecords()), std::vector<std::size_t>{2})
        << "the row asked about is the selection";
    p.action(*menu, "Keep This Site")->trigger();
    EXPECT_EQ(p.keepShown(), std::vector<std::string>{"b.org"});
    EXPECT_EQ(p.app.cookieKeepList(), std::vector<std::string>{"b.org"});

    menu.reset(cookieRowMenu(p.world.ui, p.app, p.rowOf("a.com"), table));
    p.action(*menu, "Remove All of This Site")->trigger();
    p.finishCookies();
    EXPECT_EQ(p.storedHosts(db), (std::vector<std::string>{"b.org", "c.net", "d.net"}));

    // "Remove" takes the selection the row belongs to.
    table->selectRow(p.rowOf("c.net"));
    table->selectionModel()->select(p.views.cookies->index(p.rowOf("d.net"), 0),
                                    QItemSelectionModel::Select | QItemSelectionModel::Rows);
    menu.reset(cookieRowMenu(p.world.ui, p.app, p.rowOf("d.net"), table));
    p.action(*menu, "Remove")->trigger();
    p.finishCookies();
    EXPECT_EQ(p.storedHosts(db), std::vector<std::string>{"b.org"});

    // "Remove All" leaves the kept site.
    p.world.commands.removeCookies();
    p.finishCookies();
    EXPECT_EQ(p.storedHosts(db), std::vector<std::string>{"b.org"});
    EXPECT_EQ(p.views.cookies->rowCount(), 1);
}

TEST(CookiePage, TheKeepListEditorAddsAndRemovesSites) {
    Pages p;
    auto* field = p.world.ui.widget<QLineEdit>("cookieKeepField");
    field->setText(" Example.ORG ");
    p.world.commands.addKeepDomain();
    EXPECT_EQ(p.keepShown(), std::vector<std::string>{"example.org"});
    EXPECT_TRUE(field->text().isEmpty());
    field->setText("b.org");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_EQ(p.keepShown(), (std::vector<std::string>{"example.org", "b.org"}));
    EXPECT_EQ(p.world.settings.stringArray(prefkey::CookieKeepDomains),
              std::optional(StringArray{"example.org", "b.org"}));

    auto* list = p.world.ui.widget<QListWidget>("cookieKeepList");
    list->item(0)->setSelected(true);
    p.world.commands.removeKeepDomain();
    EXPECT_EQ(p.keepShown(), std::vector<std::string>{"b.org"});
    EXPECT_EQ(p.app.cookieKeepList(), std::vector<std::string>{"b.org"});
}

// Chromium marks nearly every cookie "has expiry": only one whose expiry has passed is greyed, and
// its tooltip says so; a session cookie never is.
TEST(CookiePage, OnlyCookiesWhoseExpiryHasPassedAreGreyed) {
    Pages p;
    p.world.settings.set(prefkey::CookieFolderGrant, *p.world.bookmarks.create(p.home.string()));
    const fs::path db = cookies::chromeCookiePath(p.world.paths);
    fs::create_directories(db.parent_path());
    test::makeChromeDb(db, true);
    // 2023-11-14, 2099-01-01, and none.
    for (const auto& [host, expires] : std::vector<std::pair<std::string, std::string>>{
             {"past.com", "13344473600000000"}, {"future.com", "15715382400000000"}, {"session.com", "0"}})
        test::sql(db, "INSERT INTO cookies VALUES(1,'" + host + "','','n','v',x'','/'," + expires +
                          ",0,0,0," + (expires == "0" ? "0,0" : "1,1") + ",1,0,2,443,0,0,0);");
    p.press(notify::PRLeftButtonMouseDown, "chromeCookieBtn");
    p.finishCookies();
    ASSERT_EQ(p.views.cookies->rowCount(), 3);
    for (const char* host : {"past.com", "future.com", "session.com"}) {
        const QModelIndex cell = p.views.cookies->index(p.rowOf(host), 0);
        const bool expired = std::string(host) == "past.com";
        EXPECT_EQ(cell.data(Qt::ForegroundRole).isValid(), expired) << host;
        EXPECT_EQ(cell.data(Qt::ToolTipRole).toString() == "Expired", expired) << host;
    }
}

// The first scan's progress shows while the hint is still up; a table of long values scrolls
// inside itself and leaves the window as wide as it was.
TEST(CookiePage, TheFirstScanShowsItsProgressAndLongRowsDoNotWidenTheWindow) {
    Pages p;
    QWidget* main = p.world.windows.mainWindow();
    p.world.windows.showPage(AppWindows::Page::Cookies);
    main->show();
    QTest::qWait(20);
    const int width = main->width();
    p.world.settings.set(prefkey::CookieFolderGrant, *p.world.bookmarks.create(p.home.string()));
    const fs::path db = cookies::chromeCookiePath(p.world.paths);
    fs::create_directories(db.parent_path());
    test::makeChromeDb(db, true);
    for (int i = 0; i < 20; ++i)
        test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(i) + ",'site" + std::to_string(i) +
                          ".example.com','','n','" + std::string(400, 'v') + "',x'','/" +
                          std::string(120, 'p') + "',0,0,0,0,0,0,1,0,2,443,0,0,0);");
    auto* progress = p.world.ui.widget<QWidget>("theProgressor");
    p.press(notify::PRLeftButtonMouseDown, "chromeCookieBtn");
    EXPECT_TRUE(progress->isVisibleTo(main)) << "the scan shows its progress at once";
    p.finishCookies();
    QTest::qWait(50);
    EXPECT_EQ(p.views.cookies->rowCount(), 20);
    EXPECT_FALSE(progress->isVisibleTo(main));
    EXPECT_EQ(main->width(), width);
    main->hide();
}
