#include "gui/SessionLock.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QGuiApplication>

namespace vaultry::qt {
namespace {

const char* kLogin = "org.freedesktop.login1";
const char* kLoginPath = "/org/freedesktop/login1";
const char* kManager = "org.freedesktop.login1.Manager";

}  // namespace

SessionLock::SessionLock(Lock lock, std::function<int()> idleMinutes, QDBusConnection session,
                         QDBusConnection system, QObject* parent)
    : QObject(parent),
      lock_(std::move(lock)),
      session_(session),
      system_(system),
      idleMinutes_(std::move(idleMinutes)) {
    session.connect("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                    "org.freedesktop.ScreenSaver", "ActiveChanged", this,
                    SLOT(screenSaverActiveChanged(bool)));
    system.connect(kLogin, kLoginPath, kManager, "PrepareForSleep", this, SLOT(prepareForSleep(bool)));
    system.connect(kLogin, "/org/freedesktop/login1/session/auto", "org.freedesktop.login1.Session", "Lock",
                   this, SLOT(sessionLocked()));
    takeSleepInhibitor();
    // The end of the desktop session: the session manager asks for unsaved data.
    if (auto* app = qobject_cast<QGuiApplication*>(QGuiApplication::instance()))
        connect(
            app, &QGuiApplication::commitDataRequest, this, [this] { lock_(vault::LockTrigger::Logout); },
            Qt::DirectConnection);
    idleTimer_.setInterval(30 * 1000);
    connect(&idleTimer_, &QTimer::timeout, this, &SessionLock::checkIdle);
    idleTimer_.start();
}

void SessionLock::screenSaverActiveChanged(bool active) {
    if (active) lock_(vault::LockTrigger::SessionLocked);
}

void SessionLock::sessionLocked() { lock_(vault::LockTrigger::SessionLocked); }

void SessionLock::prepareForSleep(bool starting) {
    if (!starting) {
        takeSleepInhibitor();  // awake again: ready for the next time
        return;
    }
    lock_(vault::LockTrigger::BeforeSleep);
    inhibitor_ = QDBusUnixFileDescriptor();  // closing it lets the sleep go on
}

void SessionLock::takeSleepInhibitor() {
    QDBusMessage call = QDBusMessage::createMethodCall(kLogin, kLoginPath, kManager, "Inhibit");
    call << QString("sleep") << QString("Vaultry") << QString("Locking decrypted vault items")
         << QString("delay");
    QDBusReply<QDBusUnixFileDescriptor> reply = system_.call(call, QDBus::Block, 2000);
    if (reply.isValid()) inhibitor_ = reply.value();
}

void SessionLock::checkIdle() {
    const int minutes = idleMinutes_ ? idleMinutes_() : 0;
    if (minutes != watchedMinutes_) {
        watchedMinutes_ = minutes;
        idle_ = vault::IdleWatch(minutes);
    }
    if (minutes <= 0) return;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver",
                                       "org.freedesktop.ScreenSaver", "GetSessionIdleTime");
    QDBusReply<uint> reply = session_.call(call, QDBus::Block, 1000);
    if (!reply.isValid()) return;
    // KDE and the freedesktop screen saver give seconds.
    if (idle_.due(std::chrono::seconds(reply.value()))) lock_(vault::LockTrigger::Idle);
}

}  // namespace vaultry::qt
