// Vaultry as a citizen of the Linux desktop: file URIs for the file manager, notifications named
// after the installed entry and icon, and one running instance per user.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <csignal>

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

// A session bus of our own, so nothing reaches the user's desktop.
class PrivateBus {
public:
    PrivateBus() {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) return;
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1"});
        if (!daemon_.waitForStarted(30000)) return;
        while (!daemon_.canReadLine() && daemon_.waitForReadyRead(30000)) {
        }
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
    }
    ~PrivateBus() {
        for (const auto& name : names_) QDBusConnection::disconnectFromBus(name);
        daemon_.kill();
        daemon_.waitForFinished(30000);
    }
    const QString& address() const { return address_; }
    QDBusConnection connect(const QString& name) {
        names_ << name;
        return QDBusConnection::connectToBus(address_, name);
    }

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

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
