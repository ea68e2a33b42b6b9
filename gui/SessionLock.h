#pragma once
#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <QTimer>
#include <functional>

#include "vault/AutoLock.h"

namespace vaultry::qt {

// Listens on D-Bus for the moments decrypted copies are locked automatically: the screen saver
// becoming active (org.freedesktop.ScreenSaver ActiveChanged), logind's Lock of this session,
// logind's PrepareForSleep (holding a delay inhibitor until the copies are locked), the end of
// the desktop session, and the idle time set in Preferences (asked of the screen saver every
// half minute).
class SessionLock : public QObject {
    Q_OBJECT
public:
    using Lock = std::function<void(vault::LockTrigger)>;
    SessionLock(Lock lock, std::function<int()> idleMinutes,
                QDBusConnection session = QDBusConnection::sessionBus(),
                QDBusConnection system = QDBusConnection::systemBus(), QObject* parent = nullptr);

private slots:
    void screenSaverActiveChanged(bool active);
    void sessionLocked();
    void prepareForSleep(bool starting);
    void checkIdle();

private:
    void takeSleepInhibitor();

    Lock lock_;
    QDBusConnection session_, system_;
    std::function<int()> idleMinutes_;
    QDBusUnixFileDescriptor inhibitor_;
    QTimer idleTimer_;
    int watchedMinutes_ = -1;
    vault::IdleWatch idle_{0};
};

}  // namespace vaultry::qt
