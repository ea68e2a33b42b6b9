// Vaultry as a citizen of the Linux desktop: file URIs for the file manager, notifications named
// after the installed entry and icon, and one running instance per user.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QFileInfo>
#include <QLocalSocket>
#include <QMutex>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>
#include <QVariantMap>

#include "GuiHarness.h"
#include "app/ShowInFileManager.h"
#include "gui/PrivateBus.h"
#include "gui/QtDesktop.h"
#include "gui/SingleInstance.h"

// Failures show the text, not its UTF-16 units.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {
using namespace vaultry;

TEST(ShowItemsUri, ANameWithBlanksHashPercentAndAccentsArrivesWhole) {
    const std::string path = "/tmp/x y/a b#%\xC3\xA9?.txt";
    const QString uri = qt::showItemsUri(path);
    EXPECT_EQ(uri, "file:///tmp/x%20y/a%20b%23%25%C3%A9%3F.txt");
    // The file manager decodes it to the same file.
    EXPECT_EQ(QUrl(uri).toLocalFile().toStdString(), path);
}

using test::PrivateBus;

// A session bus configuration without the machine's activatable services, listening in `dir`.
QString bareBusConfig(const std::filesystem::path& dir) {
    test::writeFile(dir / "bus.conf",
                    "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
                    " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                    "<busconfig><type>session</type><listen>unix:dir=" +
                        dir.string() +
                        "</listen><auth>EXTERNAL</auth>"
                        "<policy context=\"default\"><allow send_destination=\"*\" eavesdrop=\"true\"/>"
                        "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
    return QString::fromStdString((dir / "bus.conf").string());
}

// The notification service of a desktop, keeping what it was asked to show.
class FakeNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        QString appName, icon, summary;
        QVariantMap hints;
    };
    std::vector<Shown> shown() {
        QMutexLocker lock(&mutex_);
        return shown_;
    }

public slots:
    uint Notify(const QString& appName, uint, const QString& icon, const QString& summary, const QString&,
                const QStringList&, const QVariantMap& hints, int) {
        QMutexLocker lock(&mutex_);
        shown_.push_back({appName, icon, summary, hints});
        return uint(shown_.size());
    }
    void CloseNotification(uint) {}

private:
    QMutex mutex_;
    std::vector<Shown> shown_;
};

TEST(DesktopNotifications, CarryTheDesktopEntryAndTheInstalledIcon) {
    test::guiApp();
    PrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed; it gives the test a session bus";
    // The service answers from a thread of its own: the notifier's call blocks the main thread.
    QThread serviceThread;
    FakeNotifications service;
    service.moveToThread(&serviceThread);
    serviceThread.start();
    QDBusConnection server = bus.connect("fake-notifications");
    ASSERT_TRUE(
        server.registerObject("/org/freedesktop/Notifications", &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(server.registerService("org.freedesktop.Notifications"));

    qt::DBusNotifier notifier(bus.connect("vaultry"));
    notifier.schedule({"EmptyTrashNow3", "Start to empty Trash now", " ", {"OK", "Later"}});
    serviceThread.quit();
    serviceThread.wait();

    const auto shown = service.shown();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].summary, "Start to empty Trash now");
    EXPECT_EQ(shown[0].appName, "Vaultry");
    EXPECT_EQ(shown[0].hints.value("desktop-entry").toString(), "com.Quenmark.vaultry");
    // The name cmake --install gives the icons under hicolor/*/apps, found through the icon theme.
    EXPECT_EQ(shown[0].icon, "com.Quenmark.vaultry");
    EXPECT_EQ(notifier.delivered(), std::vector<std::string>{"EmptyTrashNow3"});
}

// A file manager on the session bus, keeping what it was asked to show.
class FakeFileManager final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    struct Call {
        QString method;
        QStringList uris;
        QString startupId;
    };
    std::vector<Call> calls() {
        QMutexLocker lock(&mutex_);
        return calls_;
    }

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId) { note("ShowItems", uris, startupId); }
    void ShowFolders(const QStringList& uris, const QString& startupId) {
        note("ShowFolders", uris, startupId);
    }
    void ShowItemProperties(const QStringList& uris, const QString& startupId) {
        note("ShowItemProperties", uris, startupId);
    }

private:
    void note(const QString& method, const QStringList& uris, const QString& startupId) {
        QMutexLocker lock(&mutex_);
        calls_.push_back({method, uris, startupId});
    }
    QMutex mutex_;
    std::vector<Call> calls_;
};

TEST(Reveal, TheFileManagerOnTheBusShowsTheItemAndComesToTheFront) {
    test::guiApp();
    test::TempDir dir;
    PrivateBus bus(bareBusConfig(dir.path()));
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed; it gives the test a session bus";
    QThread serviceThread;
    FakeFileManager service;
    service.moveToThread(&serviceThread);
    serviceThread.start();
    QDBusConnection server = bus.connect("fake-file-manager");
    ASSERT_TRUE(
        server.registerObject("/org/freedesktop/FileManager1", &service, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(server.registerService("org.freedesktop.FileManager1"));

    test::Env token("XDG_ACTIVATION_TOKEN", "token-42");
    const std::filesystem::path copy = dir / "safe/vaultry.data/Work #1";
    std::filesystem::create_directories(copy);
    qt::QtWorkspace workspace(bus.connect("vaultry"));
    EXPECT_TRUE(workspace.reveal(copy.string()));
    EXPECT_TRUE(workspace.open(copy.string()));  // a folder opened goes to the file manager too
    serviceThread.quit();
    serviceThread.wait();

    const auto calls = service.calls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[0].method, "ShowItems");
    EXPECT_EQ(calls[0].uris, QStringList{qt::showItemsUri(copy.string())});
    EXPECT_EQ(calls[0].uris[0],
              "file://" + QString::fromStdString((dir / "safe/vaultry.data/Work%20%231").string()));
    EXPECT_EQ(calls[0].startupId, "token-42");
    EXPECT_EQ(calls[1].method, "ShowFolders");
    EXPECT_EQ(calls[1].uris, calls[0].uris);
    EXPECT_EQ(calls[1].startupId, "token-42");
}

// The applications of a desktop without a file manager on the bus: a configuration and data home of
// their own, none of the machine's, and programs that write down how they were started.
struct FolderHandlers {
    test::TempDir dir;
    test::Env env;
    FolderHandlers() {
        const std::pair<const char*, const char*> folders[] = {{"XDG_CONFIG_HOME", "config"},
                                                               {"XDG_CONFIG_DIRS", "etc-xdg"},
                                                               {"XDG_DATA_HOME", "data"},
                                                               {"XDG_DATA_DIRS", "share"}};
        for (const auto& [name, sub] : folders) env.set(name, (dir / sub).c_str());
        env.set("XDG_CURRENT_DESKTOP", nullptr);
        env.set("XDG_ACTIVATION_TOKEN", "token-7");
    }
    // An application entry whose program notes its arguments and activation token in <name>.ran.
    void application(const std::string& name, const std::string& categories) {
        const std::filesystem::path program = dir / name;
        test::writeFile(program,
                        "#!/bin/sh\nprintf '%s\\n' \"$@\" \"token=$XDG_ACTIVATION_TOKEN\" > \"$0.tmp\"\n"
                        "mv \"$0.tmp\" \"$0.ran\"\n");
        std::filesystem::permissions(program, std::filesystem::perms::owner_all);
        test::writeFile(dir / "data/applications" / (name + ".desktop"),
                        "[Desktop Entry]\nType=Application\nName=" + name + "\nExec=\"" + program.string() +
                            "\" %U\nCategories=" + categories + "\nMimeType=inode/directory;text/html;\n");
    }
    void foldersOpenWith(const std::string& name) {
        test::writeFile(dir / "config/mimeapps.list",
                        "[Default Applications]\ninode/directory=" + name + ".desktop\n");
    }
    // What the program was started with, once it ran; empty when it did not within the time.
    std::string ran(const std::string& name, int milliseconds) {
        const QDeadlineTimer deadline(milliseconds);
        while (!std::filesystem::exists(dir / (name + ".ran")) && !deadline.hasExpired()) QThread::msleep(20);
        return std::filesystem::exists(dir / (name + ".ran")) ? test::readFile(dir / (name + ".ran")) : "";
    }
};

TEST(Reveal, WithoutAFileManagerAWebBrowserIsNeverHandedTheFolderAndThePathIsOffered) {
    test::guiApp();
    FolderHandlers apps;
    apps.application("browser", "Network;WebBrowser;");
    apps.foldersOpenWith("browser");
    const std::filesystem::path copy = apps.dir / "safe/vaultry.data/Work";
    std::filesystem::create_directories(copy);
    // No session bus at all, and (where dbus-daemon is installed) one with neither a file manager
    // nor the portal on it.
    std::vector<QDBusConnection> buses{QDBusConnection::connectToBus(
        "unix:path=" + QString::fromStdString((apps.dir / "no-bus").string()), "no-bus")};
    PrivateBus bus(bareBusConfig(apps.dir.path()));
    if (!bus.address().isEmpty()) buses.push_back(bus.connect("vaultry"));
    for (const auto& connection : buses) {
        qt::QtWorkspace workspace(connection);
        EXPECT_FALSE(workspace.reveal(copy.string()));
        EXPECT_FALSE(workspace.open(copy.string()));

        // The controllers then offer the path, and Copy puts it on the clipboard as text.
        test::FakeUi ui;
        QApplication::clipboard()->clear();
        showInFileManager(workspace, ui, copy.string());
        ASSERT_EQ(ui.alerts.size(), 1u);
        EXPECT_EQ(ui.alerts[0].message, "No file manager can show this item.");
        EXPECT_EQ(ui.alerts[0].defaultTitle, " Copy ");
        EXPECT_EQ(QApplication::clipboard()->text(), QString::fromStdString(copy.string()));
    }
    QDBusConnection::disconnectFromBus("no-bus");
    EXPECT_EQ(apps.ran("browser", 1500), "") << "the browser was started";
}

TEST(Reveal, WithoutFileManager1TheDefaultFileManagerOpensTheFolder) {
    test::guiApp();
    FolderHandlers apps;
    apps.application("browser", "Network;WebBrowser;");
    apps.application("files", "System;FileManager;");
    apps.foldersOpenWith("files");
    const std::filesystem::path copy = apps.dir / "safe/vaultry.data/plan b.txt";
    test::writeFile(copy, "plan");
    qt::QtWorkspace workspace(QDBusConnection::connectToBus(
        "unix:path=" + QString::fromStdString((apps.dir / "no-bus").string()), "no-bus"));
    // The folder the item is in, as the entry's %U asks: a file URI.
    EXPECT_TRUE(workspace.reveal(copy.string()));
    EXPECT_EQ(apps.ran("files", 30000),
              qt::showItemsUri(copy.parent_path().string()).toStdString() + "\ntoken=token-7\n");
    std::filesystem::remove(apps.dir / "files.ran");
    // A folder opened: that folder itself.
    EXPECT_TRUE(workspace.open(copy.parent_path().string()));
    EXPECT_EQ(apps.ran("files", 30000),
              qt::showItemsUri(copy.parent_path().string()).toStdString() + "\ntoken=token-7\n");
    QDBusConnection::disconnectFromBus("no-bus");
    EXPECT_EQ(apps.ran("browser", 500), "");
}

// Two starts of the real program on a temporary home.
class OneInstance : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(QFileInfo(VAULTRY_GUI_PATH).isExecutable()) << VAULTRY_GUI_PATH;
        env_ = QProcessEnvironment::systemEnvironment();
        env_.insert("HOME", QString::fromStdString(home_.path().string()));
        env_.insert("XDG_RUNTIME_DIR", runtime());
        env_.remove("XDG_CONFIG_HOME");
        env_.remove("XDG_DATA_HOME");
        env_.insert("QT_QPA_PLATFORM", "offscreen");
        env_.insert("VAULTRY_UPDATE_URL", "http://127.0.0.1:9/versions.plist");  // refused at once
        ::mkdir(runtime().toLocal8Bit().constData(), 0700);
    }
    void TearDown() override {
        if (first_.state() != QProcess::NotRunning) {
            first_.terminate();
            if (!first_.waitForFinished(30000)) first_.kill();
            first_.waitForFinished(30000);
        }
    }
    QString runtime() const { return QString::fromStdString((home_.path() / "run").string()); }

    // Starts the first instance and waits until a later start can find it.
    void startFirst(const std::function<bool()>& ready) {
        first_.setProcessEnvironment(env_);
        first_.setProcessChannelMode(QProcess::MergedChannels);
        first_.start(VAULTRY_GUI_PATH, {"--hidden"});
        ASSERT_TRUE(first_.waitForStarted(30000));
        const QDeadlineTimer deadline(120000);
        while (!ready()) {
            ASSERT_EQ(first_.state(), QProcess::Running) << first_.readAll().toStdString();
            ASSERT_FALSE(deadline.hasExpired()) << "the first start never became reachable";
            QThread::msleep(50);
        }
    }

    // A second start with arguments; its exit code.
    int startSecond(const QStringList& arguments = {"a file.txt"}) {
        QProcess second;
        second.setProcessEnvironment(env_);
        second.setProcessChannelMode(QProcess::MergedChannels);
        second.start(VAULTRY_GUI_PATH, arguments);
        if (!second.waitForFinished(120000)) {
            second.kill();
            second.waitForFinished(30000);
            return -1;
        }
        secondOutput_ = second.readAll().toStdString();
        return second.exitStatus() == QProcess::NormalExit ? second.exitCode() : -1;
    }

    // Waits for the first instance to log `line`.
    bool firstLogs(const std::string& line) {
        const QDeadlineTimer deadline(60000);
        while (firstOutput_.find(line) == std::string::npos) {
            if (deadline.hasExpired() || first_.state() != QProcess::Running) return false;
            first_.waitForReadyRead(1000);
            firstOutput_ += first_.readAll().toStdString();
        }
        return true;
    }

    test::TempDir home_;
    QProcessEnvironment env_;
    QProcess first_;
    std::string firstOutput_, secondOutput_;
};

TEST_F(OneInstance, ASecondStartOnTheSessionBusHandsOverAndTheFirstRaisesItsWindow) {
    test::guiApp();
    PrivateBus bus;
    if (bus.address().isEmpty())
        GTEST_SKIP() << "dbus-daemon is not installed; it gives the test a session bus";
    env_.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    QDBusConnection watcher = bus.connect("watcher");
    ASSERT_NO_FATAL_FAILURE(
        startFirst([&] { return watcher.interface()->isServiceRegistered("com.Quenmark.vaultry").value(); }));
    // Another start at login leaves the window alone; the answer comes after the window was dealt
    // with, so only the start by hand has raised it.
    EXPECT_EQ(startSecond({"--hidden"}), 0) << secondOutput_;
    EXPECT_EQ(startSecond(), 0) << secondOutput_;
    EXPECT_TRUE(firstLogs("another start: main window raised")) << firstOutput_;
    EXPECT_EQ(firstOutput_.find("main window raised"), firstOutput_.rfind("main window raised"))
        << firstOutput_;
    EXPECT_EQ(first_.state(), QProcess::Running);  // still the one instance
    EXPECT_TRUE(watcher.interface()->isServiceRegistered("com.Quenmark.vaultry").value());
}

TEST_F(OneInstance, WithoutABusASecondStartHandsOverThroughTheRuntimeFolderAlsoAfterACrash) {
    env_.insert("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + runtime() + "/no-bus-here");
    const QString socket = runtime() + "/com.Quenmark.vaultry.socket";
    const auto listening = [&] {
        QLocalSocket probe;
        probe.connectToServer(socket);
        return probe.waitForConnected(1000);
    };
    ASSERT_NO_FATAL_FAILURE(startFirst(listening));
    EXPECT_EQ(startSecond(), 0) << secondOutput_;
    EXPECT_TRUE(firstLogs("another start: main window raised")) << firstOutput_;
    EXPECT_EQ(first_.state(), QProcess::Running);

    // A running instance that does not answer is not joined by a second one.
    ::kill(pid_t(first_.processId()), SIGSTOP);
    EXPECT_EQ(startSecond(), 1) << secondOutput_;
    EXPECT_NE(secondOutput_.find("the running Vaultry does not answer"), std::string::npos) << secondOutput_;
    ::kill(pid_t(first_.processId()), SIGCONT);

    // Killed, it leaves its socket behind; the next start takes over the lock and the socket.
    first_.kill();
    ASSERT_TRUE(first_.waitForFinished(30000));
    ASSERT_TRUE(QFileInfo::exists(socket));
    firstOutput_.clear();
    ASSERT_NO_FATAL_FAILURE(startFirst(listening));
    EXPECT_EQ(startSecond(), 0) << secondOutput_;
    EXPECT_TRUE(firstLogs("another start: main window raised")) << firstOutput_;
}

}  // namespace

#include "DesktopCitizenTest.moc"
