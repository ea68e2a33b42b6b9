// The application as `vaultry` builds it (the same object graph, the Linux ports on a temporary
// home), driven by clicking its real widgets; what it does is read back from the files on disk
// and from what the windows show. Only the desktop's own services are stood in for: nothing is
// opened on the desktop, notifications go to a fake, and log-in items are not touched.
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
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "app/PPopoverviewConterller.h"
#include "app/PRUpdateController.h"
#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "desktop/FBFileNode.h"
#include "gui/Application.h"
#include "gui/ItemModels.h"
#include "gui/PrivateBus.h"
#include "gui/Style.h"
#include "gui/VaultTable.h"
#include "platform/Outlets.h"
#include "settings/SettingsKeys.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"
#include "support/TestHttpServer.h"
#include "vault/AutoLock.h"
#include "vault/StorageLock.h"

namespace fs = std::filesystem;
using namespace vaultry;
using vaultry::test::TempDir;
using vaultry::test::writeFile;

namespace {

// Runs the event loop until pred() holds; false when it did not within the bound (a hang guard,
// not a measurement).
bool waitFor(const std::function<bool()>& pred) {
    QElapsedTimer t;
    t.start();
    while (!pred()) {
        if (t.elapsed() > 30000) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

QString plain(QString s) { return s.remove('&'); }

template <typename T = QAbstractButton>
T* findByText(QWidget* root, const QString& text) {
    for (T* b : root->findChildren<T*>())
        if (plain(b->text()) == text) return b;
    return nullptr;
}

// Answers the alerts and folder or file choosers the application opens, in order, as a user would:
// an alert by pressing the button with the given title, a chooser by choosing the given path (or
// cancelling when the path is empty). Alerts beyond the script are answered with their default.
class Answers {
public:
    struct Answer {
        bool chooser = false;
        std::string button;               // alerts
        std::optional<std::string> path;  // choosers; nullopt: cancel
    };
    Answers() {
        timer_.setInterval(15);
        QObject::connect(&timer_, &QTimer::timeout, [this] { poll(); });
        timer_.start();
    }
    void button(std::string title) { script_.push_back({false, std::move(title), std::nullopt}); }
    void choose(std::string path) { script_.push_back({true, {}, std::move(path)}); }
    void cancelChooser() { script_.push_back({true, {}, std::nullopt}); }
    std::vector<std::string> alerts;  // the messages of the alerts seen
    bool done() const { return script_.empty() && answered_.isEmpty(); }

private:
    void poll() {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible() || answered_.contains(w)) continue;
            // Answered from a timer of its own: whatever the answer opens next runs in a nested
            // loop, and a timer does not fire again while its own handler runs.
            const auto later = [this, w](std::function<void()> act) {
                answered_.insert(w);
                QTimer::singleShot(0, w, [this, w, act = std::move(act)] {
                    act();
                    answered_.remove(w);
                });
            };
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                alerts.push_back(box->text().toStdString());
                QAbstractButton* pressed = box->defaultButton();
                if (!script_.empty() && !script_.front().chooser) {
                    const QString title = QString::fromStdString(script_.front().button).trimmed();
                    for (QAbstractButton* b : box->buttons())
                        if (plain(b->text()).trimmed() == title) pressed = b;
                    script_.pop_front();
                }
                if (pressed) later([pressed] { pressed->click(); });
                return;
            }
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                // A chooser nobody expected stays open: the test fails.
                if (script_.empty() || !script_.front().chooser) return;
                const auto path = script_.front().path;
                script_.pop_front();
                if (!path) {
                    later([dialog] { dialog->reject(); });
                    return;
                }
                later([dialog, path] {
                    if (dialog->fileMode() == QFileDialog::Directory) {
                        // A folder chooser answers with the folder it shows.
                        dialog->setDirectory(QString::fromStdString(*path));
                        static_cast<QDialog*>(dialog)->accept();  // as its Open button does
                    } else {
                        // The path typed into its name field, taken as it stands.
                        if (auto* name = dialog->findChild<QLineEdit*>("fileNameEdit"))
                            name->setText(QString::fromStdString(*path));
                        static_cast<QDialog*>(dialog)->done(QDialog::Accepted);
                    }
                });
                return;
            }
        }
    }
    std::deque<Answer> script_;
    QSet<QWidget*> answered_;
    QTimer timer_;
};

// A home of its own for each test, as the environment tells `vaultry` where it lives.
struct Home {
    TempDir dir;
    Home() {
        setenv("HOME", dir.path().c_str(), 1);
        for (const char* v :
             {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_DOWNLOAD_DIR",
              "VAULTRY_UPDATE_URL", "VAULTRY_PRODUCT_URL", "VAULTRY_HELP_URL"})
            unsetenv(v);
        fs::create_directories(desktop());
        fs::create_directories(dir / "Documents");
    }
    fs::path desktop() const { return dir / "Desktop"; }
    fs::path trash() const { return dir / ".local/share/Trash"; }
};

// A bus that cannot be reached: the tray and the portal of the desktop the tests run on stay out.
QDBusConnection noBus() {
    return QDBusConnection::connectToBus(QString("unix:path=/nonexistent/vaultry-e2e-bus"),
                                         "vaultry-e2e-no-bus");
}

// One run of the application: the object graph of `vaultry`, started as main() starts it.
struct AppRun {
    test::FakeWorkspace workspace;
    test::FakeNotifier notifier;
    test::FakeLoginItems loginItems;
    test::FakeHttp http;  // answers nothing: the start-up check fails at once, silently
    QDBusConnection bus;  // where the tray and the portal are looked for
    qt::Application app;

    // realHttp: the libcurl adapter, as `vaultry` has it. desktopBus: a session bus to look for the
    // tray and the portal on; none by default.
    explicit AppRun(bool realHttp = false, std::optional<QDBusConnection> desktopBus = std::nullopt)
        : bus(desktopBus ? *desktopBus : noBus()),
          app(*qApp, qt::PortChoices{&workspace, &notifier, realHttp ? nullptr : &http, &loginItems, &bus}) {
        app.start();
        QCoreApplication::processEvents();
    }
    ~AppRun() {
        // Every worker has handed back before the controllers go.
        waitFor([this] {
            return !app.delegate->isTidying() && !app.delegate->isMeasuringTrash() &&
                   !app.delegate->updateWindowController().isChecking() && !app.delegate->isMovingStorage();
        });
    }
    AppDelegate& delegate() { return *app.delegate; }
    QMainWindow* main() { return app.windows.mainWindow(); }
    template <typename T = QWidget>
    T* widget(const char* outlet) {
        return app.ui.widget<T>(outlet);
    }
    QWidget* window(const char* outlet) { return app.windows.topLevels().at(outlet); }
    void click(const char* outlet) {
        auto* w = widget(outlet);
        ASSERT_NE(w, nullptr) << outlet;
        QTest::mouseClick(w, Qt::LeftButton);
    }
    void clickText(QWidget* root, const QString& text) {
        auto* b = findByText(root, text);
        ASSERT_NE(b, nullptr) << text.toStdString();
        ASSERT_TRUE(b->isEnabled()) << text.toStdString();
        b->click();
    }
    // The popover opens from the main window's "Quick Panel" button when no tray shows the icon.
    QWidget* openPopover() {
        if (auto* pop = app.banner.popover(); pop && pop->isVisible()) return pop;
        auto* b = findByText(main(), "Quick Panel");
        if (!b) return nullptr;
        b->click();
        waitFor([this] { return app.banner.popover() && app.banner.popover()->isVisible(); });
        return app.banner.popover();
    }
    QAction* menuAction(const QString& text) {
        for (QAction* a : app.banner.menu()->actions())
            if (plain(a->text()) == text) return a;
        return nullptr;
    }
    int browserRows() { return widget<QListView>(outlet::theBroswerView)->model()->rowCount(); }
    int tidyRows() { return widget<QTableView>(outlet::tidyTableView)->model()->rowCount(); }
    std::vector<std::string> browserNames() {
        std::vector<std::string> names;
        auto* m = widget<QListView>(outlet::theBroswerView)->model();
        for (int r = 0; r < m->rowCount(); ++r)
            names.push_back(m->index(r, 0).data().toString().toStdString());
        return names;
    }
    std::vector<std::string> tidyNames() {
        std::vector<std::string> names;
        auto* m = widget<QTableView>(outlet::tidyTableView)->model();
        for (int r = 0; r < m->rowCount(); ++r)
            names.push_back(m->index(r, 0).data().toString().toStdString());
        return names;
    }
};

// Tidies through the main window's button; the first time it asks where tidied items go.
void tidyWithLocation(AppRun& run, const fs::path& location, Answers& answers) {
    run.app.windows.showPage(qt::AppWindows::Page::Desktop);
    run.clickText(run.main(), "Tidy Desktop Now");
    ASSERT_TRUE(run.window(outlet::connectWindow)->isVisible());
    EXPECT_TRUE(run.widget(outlet::startTidyView)->isVisible());
    answers.choose(location.string());
    run.click(outlet::tidybutton);
    ASSERT_TRUE(waitFor([&] { return answers.done() && !run.delegate().isTidying(); }));
    ASSERT_TRUE(waitFor([&] { return run.browserRows() > 0; }));
}

}  // namespace

// ---- Flow 1: Linux has no sandbox ---------------------------------------------------------------

TEST(EndToEnd, TheTrashNeedsNoGrantAndCookieButtonsScanAtOnce) {
    Home home;
    {
        AppRun run;
        // Recorded at start, under the keys the trash care and the cookie viewer read.
        platform::LinuxBookmarks bookmarks;
        for (const char* key : {key::AutoTrashData, key::CrumbscopeData}) {
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
    ASSERT_FALSE(run.app.settings.contains(key::EncyptedStorePath));
    const fs::path folder = home.dir / "Vaults";
    fs::create_directories(folder);
    answers.choose(folder.string());  // the storage folder
    answers.cancelChooser();          // then the items to encrypt: none this time
    run.clickText(run.main(), "Encrypt Items…");
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    EXPECT_FALSE(run.window(outlet::connectWindow)->isVisible());
    EXPECT_EQ(run.app.settings.string(key::EncyptedStorePath), (folder / "vaultry.data").string());
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
        EXPECT_EQ(run.app.settings.string(key::TrashCleanByTime), "YES");
        EXPECT_EQ(run.app.settings.string(key::TrashCleanBySize), "YES");
        EXPECT_EQ(run.app.settings.string(key::CleanTimeF), "Two Weeks");
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
        EXPECT_EQ(run.app.settings.string(key::TrashOnlyOlderItems), "YES");
        EXPECT_EQ(run.app.settings.string(key::TrashOnlyOldestItems), "NO");
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
        EXPECT_EQ(run.app.settings.string(key::TrashOnlyOldestItems), "YES");
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

// ---- Flows 7, 8, 9: the vault --------------------------------------------------------------------

namespace {
// Creates the password and the storage folder through their windows.
void createVault(AppRun& run, const fs::path& storageParent, Answers& answers) {
    run.clickText(run.main(), "Open Vault");
    ASSERT_TRUE(run.window(outlet::CreatePWWindow)->isVisible());
    QTest::keyClicks(run.widget<QLineEdit>(outlet::theCreatePWLab), "secret");
    QTest::keyClicks(run.widget<QLineEdit>(outlet::theConfirmPWLab), "secret");
    answers.choose(storageParent.string());
    run.click(outlet::doneButton);
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    ASSERT_TRUE(run.app.settings.string(key::EncyptedStorePath).has_value());
}

void encrypt(AppRun& run, const fs::path& item, Answers& answers) {
    answers.choose(item.string());
    answers.button("Encrypt");
    run.clickText(run.main(), "Encrypt Items…");
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
}
}  // namespace

TEST(EndToEnd, VaultRowsOfNonPicturesShowTheirTypeIcon) {
    Home home;
    const fs::path vaults = home.dir / "Vaults";
    fs::create_directories(vaults);
    writeFile(home.dir / "Documents/notes.txt", "my notes");
    AppRun run;
    Answers answers;
    createVault(run, vaults, answers);
    encrypt(run, home.dir / "Documents/notes.txt", answers);
    EXPECT_FALSE(fs::exists(home.dir / "Documents/notes.txt"));
    auto* table = run.widget<QTableView>(outlet::fileTableView);
    ASSERT_EQ(table->model()->rowCount(), 1);
    const QIcon icon = table->model()->index(0, 0).data(qt::VaultTableModel::PictureRole).value<QIcon>();
    EXPECT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(QSize(32, 32)).isNull());
}

TEST(EndToEnd, CancellingThePasswordPromptForgetsWhyItWasOpened) {
    Home home;
    const fs::path vaults = home.dir / "Vaults";
    fs::create_directories(vaults);
    {
        AppRun run;
        Answers answers;
        createVault(run, vaults, answers);
    }
    AppRun run;
    run.clickText(run.main(), "Preferences…");
    ASSERT_TRUE(run.window(outlet::enterPDWindow)->isVisible());
    run.click(outlet::closedPDWindowButton);
    EXPECT_FALSE(run.window(outlet::enterPDWindow)->isVisible());
    run.clickText(run.main(), "Open Vault");
    ASSERT_TRUE(run.window(outlet::enterPDWindow)->isVisible());
    QTest::keyClicks(run.widget<QLineEdit>(outlet::enterPWLab), "secret");
    QTest::keyClick(run.widget<QLineEdit>(outlet::enterPWLab), Qt::Key_Return);
    EXPECT_TRUE(run.window(outlet::thefileManageWindow)->isVisible());
    EXPECT_FALSE(run.window(outlet::preferWindows)->isVisible());
}

TEST(EndToEnd, ChoosingAnotherStorageFolderMovesTheVault) {
    Home home;
    const fs::path first = home.dir / "First", second = home.dir / "Second";
    fs::create_directories(first);
    fs::create_directories(second);
    writeFile(home.dir / "Documents/plan.txt", "the plan");
    AppRun run;
    Answers answers;
    createVault(run, first, answers);
    encrypt(run, home.dir / "Documents/plan.txt", answers);
    const auto oldStorage = first / "vaultry.data";
    std::vector<std::string> archives;
    // Everything the vault keeps there; the folder's lock file belongs to the folder, not the vault.
    for (const auto& e : fs::directory_iterator(oldStorage))
        if (e.is_regular_file() && e.path().filename() != vault::StorageLock::kFileName)
            archives.push_back(e.path().filename().string());
    ASSERT_FALSE(archives.empty());

    run.window(outlet::thefileManageWindow)->hide();
    run.clickText(run.main(), "Preferences…");
    QTest::keyClicks(run.widget<QLineEdit>(outlet::enterPWLab), "secret");
    QTest::keyClick(run.widget<QLineEdit>(outlet::enterPWLab), Qt::Key_Return);
    ASSERT_TRUE(run.window(outlet::preferWindows)->isVisible());
    answers.choose(second.string());
    run.click(outlet::selectStorageBtn);
    ASSERT_TRUE(waitFor([&] { return answers.done() && !run.delegate().isMovingStorage(); }));
    const auto newStorage = second / "vaultry.data";
    EXPECT_EQ(run.app.settings.string(key::EncyptedStorePath), newStorage.string());
    for (const auto& name : archives) EXPECT_TRUE(fs::exists(newStorage / name)) << name;
    EXPECT_EQ(run.app.ui.text(outlet::StorePathlab), newStorage.string());
    // The old folder is left as it was, and the user is told so.
    for (const auto& name : archives) EXPECT_TRUE(fs::exists(oldStorage / name)) << name;
    EXPECT_EQ(std::count(answers.alerts.begin(), answers.alerts.end(), "The old storage folder was kept."),
              1);
    EXPECT_FALSE(fs::exists(oldStorage / ".vaultry-move"));
    // Every item still reads as present: it decrypts from the new folder.
    auto* table = run.widget<QTableView>(outlet::fileTableView);
    ASSERT_EQ(table->model()->rowCount(), 1);
    const std::string record = run.delegate().shownRecords().at(0);
    EXPECT_TRUE(run.delegate().DecryptFileFolderFunction(record));
}

// ---- Preferences -------------------------------------------------------------------------------

TEST(EndToEnd, PreferencesKeepAutoLockErasePassesAndTidyExclusionsAcrossRestarts) {
    Home home;
    {
        AppRun run;
        auto* lock = run.widget<QComboBox>(outlet::autoLockPopup);
        auto* passes = run.widget<QComboBox>(outlet::erasePassesPopup);
        ASSERT_NE(lock, nullptr);
        ASSERT_NE(passes, nullptr);
        EXPECT_EQ(plain(lock->currentText()), "Off");
        lock->setCurrentIndex(3);
        emit lock->activated(3);
        passes->setCurrentIndex(1);
        emit passes->activated(1);
        EXPECT_EQ(run.app.settings.number(vault::kAutoLockMinutesKey), 60u);
        EXPECT_EQ(run.app.settings.number(key::ErasePasses), 1u);

        auto* list = run.widget<QListWidget>(outlet::tidyExclusionList);
        ASSERT_NE(list, nullptr);
        run.widget<QLineEdit>(outlet::tidyExclusionField)->setText("notes-*.txt");
        run.widget<QPushButton>(outlet::addTidyExclusionBtn)->click();
        run.widget<QPushButton>(outlet::keepLaunchersBtn)->click();
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(list->item(1)->text(), "*.desktop");
        list->setCurrentRow(0);
        run.widget<QPushButton>(outlet::removeTidyExclusionBtn)->click();
        EXPECT_EQ(run.app.settings.stringArray(key::TidyExclusions), std::vector<std::string>{"*.desktop"});
    }
    AppRun run;
    EXPECT_EQ(plain(run.widget<QComboBox>(outlet::autoLockPopup)->currentText()), "60 minutes");
    EXPECT_EQ(plain(run.widget<QComboBox>(outlet::erasePassesPopup)->currentText()), "1 pass (fast)");
    auto* list = run.widget<QListWidget>(outlet::tidyExclusionList);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "*.desktop");
    // A tidy leaves the launchers the list keeps on the desktop.
    writeFile(home.desktop() / "editor.desktop", "[Desktop Entry]\n");
    writeFile(home.desktop() / "report.pdf", "%PDF");
    fs::create_directories(home.dir / "Tidied");
    Answers answers;
    tidyWithLocation(run, home.dir / "Tidied", answers);
    EXPECT_TRUE(fs::exists(home.desktop() / "editor.desktop"));
    EXPECT_FALSE(fs::exists(home.desktop() / "report.pdf"));
}

// ---- Wiring -------------------------------------------------------------------------------------

// ---- The cookie page: profiles, removal of part of a store, the keep-list ------------------------

TEST(EndToEnd, TheCookiePageOffersProfilesRemovesFromARowsMenuAndKeepsTheKeptSite) {
    Home home;
    const fs::path db = home.dir / ".config/google-chrome/Default/Network/Cookies";
    fs::create_directories(db.parent_path());
    test::makeChromeDb(db, true);
    int id = 0;
    for (const char* host : {"a.com", "b.org", "c.net"})
        test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(++id) + ",'" + host +
                          "','','n','',x'0102','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    const auto stored = [&] {
        std::vector<std::string> hosts;
        for (const auto& n : cookies::readStore(db.string(), cookies::Layout::Chrome))
            hosts.push_back(n->fileHost().value_or(""));
        return hosts;
    };

    AppRun run;
    run.main()->show();
    run.app.windows.showPage(qt::AppWindows::Page::Cookies);
    QMenu* profiles = run.widget<QToolButton>(outlet::chromeProfilesBtn)->menu();
    emit profiles->aboutToShow();
    ASSERT_EQ(profiles->actions().size(), 1);
    EXPECT_EQ(profiles->actions()[0]->text(), QString::fromUtf8("Google Chrome — Default"));
    profiles->actions()[0]->trigger();
    ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    auto* table = run.widget<QTableView>(outlet::dataTableView);
    ASSERT_EQ(table->model()->rowCount(), 3);
    QCoreApplication::processEvents();

    // The menu of b.org's row: keep the site.
    const auto rowMenu = [&](const char* host) -> QMenu* {
        for (int r = 0; r < table->model()->rowCount(); ++r)
            if (table->model()->index(r, 0).data().toString() == host) {
                const QPoint at = table->visualRect(table->model()->index(r, 0)).center();
                emit table->customContextMenuRequested(at);
                break;
            }
        for (auto* menu : table->findChildren<QMenu*>())
            if (menu->isVisible()) return menu;
        return nullptr;
    };
    const auto choose = [](QMenu* menu, const char* text) {
        for (auto* a : menu->actions())
            if (a->text() == text) {
                a->trigger();
                menu->close();
                return true;
            }
        return false;
    };
    QMenu* menu = rowMenu("b.org");
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(choose(menu, "Keep This Site"));
    auto* keep = run.widget<QListWidget>(outlet::cookieKeepList);
    ASSERT_EQ(keep->count(), 1);
    EXPECT_EQ(keep->item(0)->text(), "b.org");

    // Remove Selected takes the selected row only.
    table->selectRow(0);
    const QString first = table->model()->index(0, 0).data().toString();
    run.clickText(run.main(), "Remove Selected");
    ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    const auto left = stored();
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(std::count(left.begin(), left.end(), first.toStdString()), 0) << first.toStdString();

    // Remove All leaves the kept site.
    run.clickText(run.main(), "Remove All");
    ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    EXPECT_EQ(stored(), std::vector<std::string>{"b.org"});
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
        EXPECT_EQ(run.app.settings.string(key::BackgroundNoticeGiven), "YES");

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
