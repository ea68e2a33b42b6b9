// The application as `vaultry` builds it (the same object graph, the Linux ports on a temporary
// home), driven by clicking its real widgets; what it does is read back from the files on disk
// and from what the windows show. Only the desktop's own services are stood in for: nothing is
// opened on the desktop, notifications go to a fake, and log-in items are not touched.
// This file: the Trash, tidy, the popover, notifications, the update check, running without a
// tray, and main(); the vault window, the preferences and the cookie page are in
// EndToEndPagesTest.cpp, the fixture in EndToEnd.h.
#include <gtest/gtest.h>
#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDebug>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>

#include "app/PPopoverviewConterller.h"
#include "app/PRUpdateController.h"
#include "desktop/FBFileNode.h"
#include "e2e/EndToEnd.h"
#include "gui/Application.h"
#include "gui/ItemModels.h"
#include "gui/PrivateBus.h"
#include "gui/Style.h"
#include "platform/Outlets.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "support/TestHttpServer.h"

namespace fs = std::filesystem;
using namespace vaultry;
using vaultry::test::TempDir;
using vaultry::test::writeFile;
using namespace vaultry::e2e;

// ---- Flow 1: Linux has no sandbox ---------------------------------------------------------------

TEST(EndToEnd, TheTrashNeedsNoGrantAndCookieButtonsScanAtOnce) {
    Home home;
    {
        AppRun run;
        // Recorded at start, under the keys the trash care and the cookie viewer read.
        platform::LinuxBookmarks bookmarks;
        for (const char* key : {prefkey::TrashGrant, prefkey::CookieFolderGrant}) {
            const auto data = run.app.settings.data(key);
            ASSERT_TRUE(data) << key;
            const auto resolved = bookmarks.resolve(*data);
            ASSERT_TRUE(resolved);
            EXPECT_EQ(fs::path(resolved->path), home.trash());
        }
        EXPECT_FALSE(run.window(outlet::connectWindow)->isVisible());
        run.app.windows.showPage(qt::AppWindows::Page::Cookies);
        Answers answers;  // whatever the scan has to say
        run.click(outlet::chromeCookieBtn);
        EXPECT_TRUE(run.delegate().cookieWorkerRunning()) << "the scan started at once";
        EXPECT_FALSE(run.window(outlet::connectWindow)->isVisible());
        ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    }
    EXPECT_TRUE(fs::is_directory(home.trash()));
}

TEST(EndToEnd, EncryptingWithoutAStorageFolderAsksForOne) {
    Home home;
    AppRun run;
    Answers answers;
    // A password, but the chooser of the storage folder that follows it is cancelled.
    run.clickText(run.main(), "Open Vault");
    QTest::keyClicks(run.widget<QLineEdit>(outlet::theCreatePWLab), "secret");
    QTest::keyClicks(run.widget<QLineEdit>(outlet::theConfirmPWLab), "secret");
    answers.cancelChooser();
    run.click(outlet::doneButton);
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    ASSERT_FALSE(run.app.settings.contains(prefkey::StorePath));
    const fs::path folder = home.dir / "Vaults";
    fs::create_directories(folder);
    answers.choose(folder.string());  // the storage folder
    answers.cancelChooser();          // then the items to encrypt: none this time
    run.clickText(run.main(), "Encrypt Items…");
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    EXPECT_FALSE(run.window(outlet::connectWindow)->isVisible());
    EXPECT_EQ(run.app.settings.string(prefkey::StorePath), (folder / "vaultry.data").string());
    EXPECT_TRUE(fs::is_directory(folder / "vaultry.data"));
}

// ---- Flow 2: tidy, and the lists that show it ---------------------------------------------------

TEST(EndToEnd, TidyAsksWhereThenTidiesAndEveryListShowsTheItemsAtEveryStart) {
    Home home;
    const fs::path location = home.dir / "Tidied";
    fs::create_directories(location);
    for (const char* name : {"a.jpg", "b.zip", "c.txt", "d.bin"}) writeFile(home.desktop() / name, name);
    {
        AppRun run;
        Answers answers;
        tidyWithLocation(run, location, answers);
        const fs::path folder = location / "com.Quenmark.sortello";
        for (const char* name : {"a.jpg", "b.zip", "c.txt", "d.bin"}) {
            EXPECT_TRUE(fs::exists(folder / name)) << name;
            EXPECT_FALSE(fs::exists(home.desktop() / name)) << name;
        }
        EXPECT_EQ(run.browserRows(), 4);
        EXPECT_EQ(run.tidyRows(), 4);
        EXPECT_FALSE(run.window(outlet::connectWindow)->isVisible());
        // A second press tidies at once.
        writeFile(home.desktop() / "e.txt", "e");
        run.clickText(run.main(), "Tidy Desktop Now");
        EXPECT_FALSE(run.window(outlet::connectWindow)->isVisible());
        ASSERT_TRUE(waitFor([&] { return run.browserRows() == 5; }));
        EXPECT_TRUE(fs::exists(folder / "e.txt"));
    }
    // After a restart: the same location (never the Trash), and both lists filled at once.
    AppRun run;
    EXPECT_EQ(run.delegate().tidyStorageFolder(), (location / "com.Quenmark.sortello").string());
    EXPECT_EQ(run.browserRows(), 5);
    EXPECT_EQ(run.tidyRows(), 5);
}

TEST(EndToEnd, RestoreAndDeleteInThePopoverLeaveNoStaleRowsAnywhere) {
    Home home;
    const fs::path location = home.dir / "Tidied";
    fs::create_directories(location);
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) writeFile(home.desktop() / name, name);
    AppRun run;
    Answers answers;
    tidyWithLocation(run, location, answers);
    QWidget* pop = run.openPopover();
    ASSERT_NE(pop, nullptr);
    auto* list = run.widget<QTableView>(outlet::tidyTableView);
    const auto names = run.tidyNames();
    ASSERT_EQ(names.size(), 3u);

    // Restore the first row through its menu command.
    list->setCurrentIndex(list->model()->index(0, 0));
    for (QAction* a : list->actions())
        if (plain(a->text()) == "Restore to Desktop") a->trigger();
    EXPECT_TRUE(fs::exists(home.desktop() / names[0]));
    EXPECT_EQ(run.tidyRows(), 2);
    EXPECT_EQ(run.browserRows(), 2) << "the desktop page follows at once";

    // Delete the (new) first row.
    list->setCurrentIndex(list->model()->index(0, 0));
    for (QAction* a : list->actions())
        if (plain(a->text()) == "Delete") a->trigger();
    EXPECT_FALSE(fs::exists(location / "com.Quenmark.sortello" / names[1]));
    EXPECT_EQ(run.tidyRows(), 1);
    ASSERT_EQ(run.browserRows(), 1);

    // A double-click on the desktop page opens the item it shows.
    auto* browser = run.widget<QListView>(outlet::theBroswerView);
    const QModelIndex only = browser->model()->index(0, 0);
    emit browser->doubleClicked(only);
    ASSERT_EQ(run.workspace.opened.size(), 1u);
    EXPECT_EQ(fs::path(run.workspace.opened[0]).filename().string(), run.browserNames()[0]);
    EXPECT_EQ(run.browserNames()[0], names[2]);
}

// ---- Flow 3: the popover's kind buttons --------------------------------------------------------

TEST(EndToEnd, EachPopoverKindButtonFiltersThePopoverAndChangesOnlyItsButtons) {
    Home home;
    const fs::path location = home.dir / "Tidied";
    fs::create_directories(location);
    for (const char* name : {"a.jpg", "b.zip", "c.txt", "d.bin"}) writeFile(home.desktop() / name, name);
    AppRun run;
    Answers answers;
    tidyWithLocation(run, location, answers);
    ASSERT_NE(run.openPopover(), nullptr);
    const auto pageFaces = [&] {
        std::vector<platform::ImageRef> faces;
        for (const char* o : {outlet::currentDesktopBtn, outlet::pictureBtn, outlet::documentBtn,
                              outlet::archiveBtn, outlet::folerBtn, outlet::otherBtn})
            faces.push_back(run.app.ui.image(o));
        return faces;
    };
    const auto before = pageFaces();
    const std::pair<const char*, std::vector<std::string>> kinds[] = {
        {outlet::imageBtn, {"a.jpg"}}, {outlet::zipBtn, {"b.zip"}},       {outlet::docuBtn, {"c.txt"}},
        {outlet::folderBtn, {}},       {outlet::tidyOtherBtn, {"d.bin"}}, {outlet::allBtn, {}}};
    for (const auto& [button, expected] : kinds) {
        run.click(button);
        if (std::string(button) == outlet::allBtn)
            EXPECT_EQ(run.tidyRows(), 4);
        else
            EXPECT_EQ(run.tidyNames(), expected) << button;
        EXPECT_EQ(pageFaces(), before) << button << " changed the desktop page";
    }
    EXPECT_EQ(run.browserRows(), 4);
}

// ---- Flow 4: the Trash schedule ----------------------------------------------------------------

TEST(EndToEnd, TheTrashScheduleIsKeptAcrossRestartsAndDrivesTheCheck) {
    Home home;
    {
        AppRun run;
        ASSERT_NE(run.openPopover(), nullptr);
        auto* byTime = run.widget<QCheckBox>(outlet::cleanTimeCheckBtn);
        auto* bySize = run.widget<QCheckBox>(outlet::cleanStorageCheckBtn);
        QTest::mouseClick(byTime, Qt::LeftButton, {}, QPoint(8, byTime->height() / 2));
        QTest::mouseClick(bySize, Qt::LeftButton, {}, QPoint(8, bySize->height() / 2));
        auto* times = run.widget<QComboBox>(outlet::theTimeBtn);
        times->setCurrentIndex(2);
        emit times->activated(2);
        EXPECT_EQ(run.app.settings.string(prefkey::TrashCleanByTime), "YES");
        EXPECT_EQ(run.app.settings.string(prefkey::TrashCleanBySize), "YES");
        EXPECT_EQ(run.app.settings.string(prefkey::CleanTime), "Two Weeks");
    }
    writeFile(home.trash() / "files/old.txt", std::string(4096, 'x'));
    writeFile(home.trash() / "info/old.txt.trashinfo", "[Trash Info]\nPath=/tmp/old.txt\n");
    AppRun run;
    EXPECT_TRUE(run.widget<QCheckBox>(outlet::cleanTimeCheckBtn)->isChecked());
    EXPECT_TRUE(run.widget<QCheckBox>(outlet::cleanStorageCheckBtn)->isChecked());
    EXPECT_EQ(plain(run.widget<QComboBox>(outlet::theTimeBtn)->currentText()), "Two Weeks");
    // The hourly check finds the Trash due (never emptied, and above the stored limit of 0).
    run.delegate().CleanUpTimer_hander();
    ASSERT_EQ(run.notifier.scheduled.size(), 1u);
    EXPECT_EQ(run.notifier.scheduled[0].title, "Start to empty Trash now");
    // The notification's OK empties after the question; the last emptying shows at once.
    Answers answers;
    answers.button("Empty Trash");
    run.notifier.handler("EmptyTrashNow3", "OK");
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    EXPECT_FALSE(fs::exists(home.trash() / "files/old.txt"));
    EXPECT_FALSE(run.app.ui.text(outlet::lastCleanupSizelab).empty());
    EXPECT_NE(run.app.ui.text(outlet::lastCleanupDatelab), "—");
    EXPECT_NE(run.app.ui.text(outlet::trashLastCleanlab).find("Last emptied on"), std::string::npos);
}

TEST(EndToEnd, TheTrashOptionsToRemoveOnlySomeItemsAreKeptAcrossRestarts) {
    Home home;
    {
        AppRun run;
        ASSERT_NE(run.openPopover(), nullptr);
        auto* older = run.widget<QCheckBox>(outlet::trashOnlyOlderBtn);
        ASSERT_NE(older, nullptr);
        QTest::mouseClick(older, Qt::LeftButton, {}, QPoint(8, older->height() / 2));
        EXPECT_EQ(run.app.settings.string(prefkey::TrashOnlyOlderItems), "YES");
        EXPECT_EQ(run.app.settings.string(prefkey::TrashOnlyOldestItems), "NO");
    }
    {
        AppRun run;
        EXPECT_TRUE(run.widget<QCheckBox>(outlet::trashOnlyOlderBtn)->isChecked());
        EXPECT_FALSE(run.widget<QCheckBox>(outlet::trashOnlyOldestBtn)->isChecked());
        // The automatic-trash window shows the same boxes.
        run.delegate().ShowAutoTrash();
        ASSERT_TRUE(waitFor([&] { return run.window(outlet::autoTrashWindow)->isVisible(); }));
        auto* oldest = run.widget<QCheckBox>(outlet::trashOnlyOldestBtn);
        EXPECT_EQ(oldest->window(), run.window(outlet::autoTrashWindow));
        QTest::mouseClick(oldest, Qt::LeftButton, {}, QPoint(8, oldest->height() / 2));
        EXPECT_EQ(run.app.settings.string(prefkey::TrashOnlyOldestItems), "YES");
    }
    AppRun run;
    EXPECT_TRUE(run.widget<QCheckBox>(outlet::trashOnlyOldestBtn)->isChecked());
}

TEST(EndToEnd, EmptyingFromTheTrashPageUpdatesLastEmptiedAndTheSizeArrivesFromAWorker) {
    Home home;
    writeFile(home.trash() / "files/big.bin", std::string(200000, 'y'));
    AppRun run;
    run.app.windows.showPage(qt::AppWindows::Page::Trash);
    ASSERT_TRUE(waitFor([&] { return !run.delegate().isMeasuringTrash(); }));
    EXPECT_NE(run.app.ui.text(outlet::trashSizelab), "—");
    EXPECT_EQ(run.app.ui.text(outlet::trashLastCleanlab), "Not emptied by Vaultry yet.");
    Answers answers;
    answers.button("Empty Trash");
    run.clickText(run.main(), "Empty Trash…");
    ASSERT_TRUE(waitFor([&] { return answers.done() && !run.delegate().isMeasuringTrash(); }));
    EXPECT_FALSE(fs::exists(home.trash() / "files/big.bin"));
    EXPECT_NE(run.app.ui.text(outlet::trashLastCleanlab).find("Last emptied on"), std::string::npos);
    EXPECT_FALSE(run.app.ui.text(outlet::lastCleanupSizelab).empty());
    EXPECT_NE(run.app.ui.text(outlet::lastCleanupSizelab), "—");
}

// ---- Flow 5: no notification service -----------------------------------------------------------

TEST(EndToEnd, WithoutNotificationActionsTheDueTrashIsAskedInAWindow) {
    Home home;
    writeFile(home.trash() / "files/old.txt", "old");
    AppRun run;
    run.notifier.actions = false;
    ASSERT_NE(run.openPopover(), nullptr);
    auto* bySize = run.widget<QCheckBox>(outlet::cleanStorageCheckBtn);
    QTest::mouseClick(bySize, Qt::LeftButton, {}, QPoint(8, bySize->height() / 2));
    Answers answers;
    answers.button("OK");           // the question in place of the notification
    answers.button("Empty Trash");  // and the usual confirmation
    run.delegate().CleanUpTimer_hander();
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    EXPECT_TRUE(run.notifier.scheduled.empty());
    ASSERT_FALSE(answers.alerts.empty());
    EXPECT_EQ(answers.alerts.front(), "Start to empty Trash now");
    EXPECT_FALSE(fs::exists(home.trash() / "files/old.txt"));
}

// ---- Flow 6: the update check ------------------------------------------------------------------

TEST(EndToEnd, CheckForUpdateFromTheMenuSaysWhenItFailedAndTheStartCheckStaysSilent) {
    Home home;
    setenv("VAULTRY_UPDATE_URL", test::TestHttpServer::refusedUrl().c_str(), 1);
    Answers answers;
    AppRun run(true);  // its start-up check fails too, silently
    ASSERT_TRUE(waitFor([&] { return !run.delegate().updateWindowController().isChecking(); }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(answers.alerts.empty());
    QAction* check = run.menuAction("Check for Update…");
    ASSERT_NE(check, nullptr);
    check->trigger();
    ASSERT_TRUE(waitFor([&] { return !answers.alerts.empty(); }));
    EXPECT_EQ(answers.alerts[0].rfind("Could not check for updates: ", 0), 0u) << answers.alerts[0];
    unsetenv("VAULTRY_UPDATE_URL");
}

// ---- Without a tray --------------------------------------------------------------------------

namespace {

// The XDG desktop portal's Background interface, answering as the portal does: a request object
// whose Response says what was granted.
class FakeBackgroundPortal final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Background")
    Q_PROPERTY(uint version READ version)
public:
    struct Request {
        QString parentWindow;
        QVariantMap options;
    };
    std::vector<Request> requests;
    uint version() const { return 2; }

public slots:
    QDBusObjectPath RequestBackground(const QString& parentWindow, const QVariantMap& options) {
        requests.push_back({parentWindow, options});
        const QString path = "/org/freedesktop/portal/desktop/request/" +
                             message().service().mid(1).replace('.', '_') + "/" +
                             options.value("handle_token").toString();
        QDBusMessage response =
            QDBusMessage::createSignal(path, "org.freedesktop.portal.Request", "Response");
        response << 0u << QVariantMap{{"background", true}, {"autostart", false}};
        connection().send(response);
        return QDBusObjectPath(path);
    }
};

}  // namespace

TEST(EndToEnd, WithoutATrayClosingTheMainWindowLeavesVaultryRunningAndSaysSoOnce) {
    Home home;
    {
        AppRun run;
        QCoreApplication::processEvents();  // the look for a tray has answered: none
        ASSERT_TRUE(run.main()->isVisible());
        EXPECT_FALSE(run.app.banner.hasTrayHost());
        // Quit is where the window says it is.
        auto* commands = findByText<QPushButton>(run.main(), "Commands");
        ASSERT_NE(commands, nullptr);
        ASSERT_TRUE(commands->isVisibleTo(run.main()));
        ASSERT_NE(commands->menu(), nullptr);
        bool quitInMenu = false;
        for (QAction* a : commands->menu()->actions()) quitInMenu |= plain(a->text()) == "Quit Vaultry";
        EXPECT_TRUE(quitInMenu);
        bool quitAsked = false;
        run.app.commands.quit = [&] { quitAsked = true; };

        // Closed while a loop runs, as by its title bar: a quit would end the loop early.
        QEventLoop loop;
        QTimer::singleShot(0, run.main(), [&] { run.main()->close(); });
        QTimer::singleShot(500, &loop, [&] { loop.exit(7); });
        EXPECT_EQ(loop.exec(), 7) << "the loop was ended";
        EXPECT_FALSE(quitAsked);
        EXPECT_FALSE(run.main()->isVisible());
        EXPECT_NE(run.delegate().autoTrashTimerId(), 0u) << "the Trash schedule goes on";
        EXPECT_NE(run.delegate().autoTidyTimerId(), 0u) << "the tidy's clock goes on";
        ASSERT_EQ(run.notifier.scheduled.size(), 1u);
        EXPECT_EQ(run.notifier.scheduled[0].identifier, AppDelegate::kBackgroundNotification);
        EXPECT_EQ(run.notifier.scheduled[0].title, "Vaultry is still running");
        EXPECT_EQ(run.app.settings.string(prefkey::BackgroundNoticeGiven), "YES");

        // Its click brings the window back; closing it again says nothing more.
        ASSERT_TRUE(run.notifier.handler);
        run.notifier.handler(AppDelegate::kBackgroundNotification, "");
        EXPECT_TRUE(run.main()->isVisible());
        run.main()->close();
        QCoreApplication::processEvents();
        EXPECT_FALSE(run.main()->isVisible());
        EXPECT_EQ(run.notifier.scheduled.size(), 1u);
        EXPECT_FALSE(quitAsked);
    }
    {
        // Once per installation: the next start does not say it again.
        AppRun run;
        QCoreApplication::processEvents();
        run.main()->close();
        QCoreApplication::processEvents();
        EXPECT_TRUE(run.notifier.scheduled.empty());
    }
}

TEST(EndToEnd, WithoutATrayVaultryAsksTheDesktopPortalToLetItRunInTheBackground) {
    Home home;
    test::PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << test::PrivateBus::kMissing;
    QDBusConnection desktop = bus.connect("desktop");
    FakeBackgroundPortal portal;
    ASSERT_TRUE(desktop.registerObject("/org/freedesktop/portal/desktop", &portal,
                                       QDBusConnection::ExportAllContents));
    ASSERT_TRUE(desktop.registerService("org.freedesktop.portal.Desktop"));

    AppRun run(false, bus.connect("vaultry"));
    QSignalSpy answered(run.app.portal.get(), &qt::BackgroundPortal::answered);
    ASSERT_TRUE(test::eventually([&] { return answered.count() == 1; })) << "no answer reached Vaultry";
    EXPECT_FALSE(run.app.banner.hasTrayHost());
    ASSERT_EQ(portal.requests.size(), 1u);
    EXPECT_EQ(portal.requests[0].parentWindow, "");
    EXPECT_EQ(portal.requests[0].options.value("autostart"), QVariant(false))
        << "the login entry starts Vaultry";
    EXPECT_FALSE(portal.requests[0].options.value("reason").toString().isEmpty());
    EXPECT_EQ(answered.at(0).at(0).toUInt(), 0u);
}

// ---- Wiring -------------------------------------------------------------------------------------

TEST(EndToEnd, NoCommandIsLeftUnwiredAfterStartUp) {
    Home home;
    AppRun run;
    EXPECT_EQ(qt::unwiredCommands(run.app.commands), std::vector<std::string>{});
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    qt::applyStyle();
    qt::QtUi::onRefusal(
        [](std::string_view name) { ADD_FAILURE() << "no outlet is named \"" << name << "\""; });
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

#include "EndToEndTest.moc"
