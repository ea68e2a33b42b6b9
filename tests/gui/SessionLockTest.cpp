#include "gui/SessionLock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QTest>
#include <vector>

#include "gui/GuiHarness.h"

extern char** environ;

namespace vaultry {
namespace {

// A private bus of our own (dbus-daemon), ended with the test.
struct PrivateBus {
    pid_t pid = -1;
    QString address;
    PrivateBus() {
        int fds[2];
        if (::pipe(fds) != 0) return;
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        posix_spawn_file_actions_addclose(&fa, fds[0]);
        const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--print-address=1", nullptr};
        if (posix_spawnp(&pid, argv[0], &fa, nullptr, const_cast<char**>(argv), environ) != 0) pid = -1;
        posix_spawn_file_actions_destroy(&fa);
        ::close(fds[1]);
        std::string line;
        char c = 0;
        while (pid > 0 && ::read(fds[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(fds[0]);
        address = QString::fromStdString(line);
    }
    ~PrivateBus() {
        if (pid > 0) {
            ::kill(pid, SIGTERM);
            ::waitpid(pid, nullptr, 0);
        }
    }
};

// The services a desktop provides, as far as the signals go: a screen saver and logind, each
// owning its well-known name on the private bus and sending what the real ones send.
void send(QDBusConnection& from, const char* path, const char* interface, const char* name,
          QVariant arg = {}) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, name);
    if (arg.isValid()) signal << arg;
    from.send(signal);
}

TEST(SessionLock, LocksOnScreenSaverSessionLockAndBeforeSleep) {
    test::guiApp();
    PrivateBus bus;
    if (bus.address.isEmpty()) GTEST_SKIP() << "dbus-daemon is not available";
    QDBusConnection ours = QDBusConnection::connectToBus(bus.address, "vaultry-session-lock-ours");
    QDBusConnection screenSaver = QDBusConnection::connectToBus(bus.address, "vaultry-session-lock-saver");
    QDBusConnection logind = QDBusConnection::connectToBus(bus.address, "vaultry-session-lock-logind");
    ASSERT_TRUE(ours.isConnected() && screenSaver.isConnected() && logind.isConnected());
    ASSERT_TRUE(screenSaver.registerService("org.freedesktop.ScreenSaver"));
    ASSERT_TRUE(logind.registerService("org.freedesktop.login1"));

    std::vector<vault::LockTrigger> calls;
    qt::SessionLock lock([&calls](vault::LockTrigger t) { calls.push_back(t); }, [] { return 0; }, ours,
                         ours);
    const auto waitFor = [&calls](std::size_t n) {
        QElapsedTimer t;
        t.start();
        while (calls.size() < n && t.elapsed() < 10000) QTest::qWait(20);
    };

    send(screenSaver, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", false);
    send(screenSaver, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", true);
    waitFor(1);
    send(logind, "/org/freedesktop/login1/session/auto", "org.freedesktop.login1.Session", "Lock");
    waitFor(2);
    send(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", true);
    waitFor(3);
    send(logind, "/org/freedesktop/login1", "org.freedesktop.login1.Manager", "PrepareForSleep", false);
    // A signal from a sender that does not own the name is not taken for the screen saver's.
    send(ours, "/org/freedesktop/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", true);
    QTest::qWait(200);
    EXPECT_EQ(calls, (std::vector<vault::LockTrigger>{vault::LockTrigger::SessionLocked,
                                                      vault::LockTrigger::SessionLocked,
                                                      vault::LockTrigger::BeforeSleep}));
    QDBusConnection::disconnectFromBus("vaultry-session-lock-ours");
    QDBusConnection::disconnectFromBus("vaultry-session-lock-saver");
    QDBusConnection::disconnectFromBus("vaultry-session-lock-logind");
}

}  // namespace
}  // namespace vaultry
