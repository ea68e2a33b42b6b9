#pragma once
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

#include "gui/Builders.h"

class QDataStream;
class QLocalServer;
class QLocalSocket;
class QWidget;

namespace vaultry::qt {

// The application id: the installed desktop entry, icon and D-Bus name all carry it.
inline constexpr char kApplicationId[] = "com.Quenmark.vaultry";

// What a later start hands over besides its arguments, keyed as the platform data of
// org.freedesktop.Application: the launcher's permission to bring a window to the front, which
// is given to the process it starts and which the running Vaultry needs to come forward.
inline constexpr char kActivationTokenKey[] = "activation-token";     // xdg-activation (Wayland)
inline constexpr char kDesktopStartupIdKey[] = "desktop-startup-id";  // startup notification (X11)

// The platform data of this start: XDG_ACTIVATION_TOKEN and DESKTOP_STARTUP_ID as the launcher set
// them.
QVariantMap startupPlatformData();

// The hand-over on the local socket: the arguments, then the platform data.
QByteArray encodeHandOver(const QStringList& arguments, const QVariantMap& platformData);
// False while the message is still incomplete; the stream is then rolled back.
bool decodeHandOver(QDataStream& in, QStringList& arguments, QVariantMap& platformData);

// One Vaultry per user: two would run two tray icons and two emptying timers. The first start owns
// the name com.Quenmark.vaultry on the session bus and holds a lock file beside a local socket in
// the runtime folder (for starts that reach no bus); a later start hands its arguments to the
// running one and ends.
class SingleInstance final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.Quenmark.vaultry.Instance")
public:
    enum class Role {
        First,        // this process is the one instance
        HandedOver,   // the running instance took the arguments; this one ends
        Unreachable,  // an instance runs but did not answer
    };

    // runtimeDir: where the lock file and the socket live; empty means the user's runtime folder.
    explicit SingleInstance(QString runtimeDir = {}, QObject* parent = nullptr);
    ~SingleInstance() override;

    // Decides this process's role; `arguments` (without the program name) and `platformData` go to
    // a running instance.
    Role claim(const QStringList& arguments, const QVariantMap& platformData = startupPlatformData());

    QString socketPath() const;

public slots:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Activate(const QStringList& arguments, const QVariantMap& platformData);
    // As called by the starts of earlier versions, which hand over no platform data.
    Q_SCRIPTABLE void Activate(const QStringList& arguments);

signals:
    // A later start handed over its arguments.
    void activated(const QStringList& arguments, const QVariantMap& platformData);

private:
    bool takeLock();
    bool listen();
    bool handOverBySocket(const QStringList& arguments, const QVariantMap& platformData) const;
    void serve(QLocalSocket* client);

    QString runtimeDir_;
    int lockFd_ = -1;
    bool ownsName_ = false;
    QLocalServer* server_ = nullptr;
};

// Puts the activation token of another start where the platform's window activation takes it:
// Qt's Wayland plugin reads XDG_ACTIVATION_TOKEN when a window asks to be activated, and removes
// it once used. On Wayland a start by a launcher that gave no token of its own may carry it as
// the startup id. Returns the token put there, empty when there is none.
QString takeActivationToken(const QVariantMap& platformData, bool wayland);

// Brings the main window to the front for another start: shown, restored when minimized, raised
// and activated with the start's activation token. Logs what the platform could be asked for: on
// Wayland a window without a token stays where the compositor keeps it.
void raiseForAnotherStart(QWidget* window, const QStringList& arguments, const QVariantMap& platformData = {},
                          bool wayland = onWayland());

}  // namespace vaultry::qt
