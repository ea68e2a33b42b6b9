#pragma once
#include <QObject>
#include <QString>
#include <QStringList>

class QLocalServer;
class QLocalSocket;
class QWidget;

namespace vaultry::qt {

// The application id: the installed desktop entry, icon and D-Bus name all carry it.
inline constexpr char kApplicationId[] = "com.Quenmark.vaultry";

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

    // Decides this process's role; `arguments` (without the program name) go to a running instance.
    Role claim(const QStringList& arguments);

    QString socketPath() const;

public slots:
    // Called over the bus by a later start.
    Q_SCRIPTABLE void Activate(const QStringList& arguments);

signals:
    // A later start handed over its arguments.
    void activated(const QStringList& arguments);

private:
    bool takeLock();
    bool listen();
    bool handOverBySocket(const QStringList& arguments) const;
    void serve(QLocalSocket* client);

    QString runtimeDir_;
    int lockFd_ = -1;
    bool ownsName_ = false;
    QLocalServer* server_ = nullptr;
};

// Brings the main window to the front for another start: shown, restored when minimized, raised.
void raiseForAnotherStart(QWidget* window, const QStringList& arguments);

}  // namespace vaultry::qt
