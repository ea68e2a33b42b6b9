#pragma once
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>
#include <QThread>
#include <functional>

namespace vaultry::test {

// A session bus of our own (dbus-daemon), so that nothing reaches the user's desktop; ended with
// the object. address() is empty when dbus-daemon is not installed. With a configuration file of
// its own no service on the machine is started on demand.
class PrivateBus {
public:
    explicit PrivateBus(const QString& configFile = {}) {
        if (QStandardPaths::findExecutable("dbus-daemon").isEmpty()) return;
        daemon_.start("dbus-daemon", {configFile.isEmpty() ? "--session" : "--config-file=" + configFile,
                                      "--nofork", "--nopidfile", "--print-address=1"});
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
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    const QString& address() const { return address_; }
    // A connection of its own, under a name unique to this bus.
    QDBusConnection connect(const QString& name) {
        const QString unique = QString("%1-%2").arg(name).arg(quintptr(this));
        names_ << unique;
        return QDBusConnection::connectToBus(address_, unique);
    }

    static constexpr const char* kMissing =
        "dbus-daemon is not installed (Debian package dbus); it gives the test "
        "a session bus of its own";

private:
    QProcess daemon_;
    QString address_;
    QStringList names_;
};

// Runs the event loop until pred() holds; false when it did not within the bound (a guard against
// a hang, never a measure of speed).
inline bool eventually(const std::function<bool()>& pred, int boundMs = 60000) {
    const QDeadlineTimer deadline(boundMs);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// Waits for a call made with asyncCall while the loop runs: the callee may live on this thread.
inline QDBusMessage answerOf(QDBusPendingCall call) {
    eventually([&call] { return call.isFinished(); });
    return call.reply();
}

}  // namespace vaultry::test
