#include "gui/SingleInstance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>
#include <QThread>
#include <QWidget>
#include <cerrno>
#include <cstring>

#include "util/Log.h"

namespace vaultry::qt {
namespace {

constexpr char kObjectPath[] = "/com/Quenmark/vaultry";
constexpr char kInterface[] = "com.Quenmark.vaultry.Instance";
constexpr int kAnswerMs = 10000;            // how long a later start waits for the running one
constexpr qint64 kMaxMessage = 256 * 1024;  // a list of arguments, never more

}  // namespace

QVariantMap startupPlatformData() {
    QVariantMap data;
    if (const QString token = qEnvironmentVariable("XDG_ACTIVATION_TOKEN"); !token.isEmpty())
        data.insert(kActivationTokenKey, token);
    if (const QString id = qEnvironmentVariable("DESKTOP_STARTUP_ID"); !id.isEmpty())
        data.insert(kDesktopStartupIdKey, id);
    return data;
}

QByteArray encodeHandOver(const QStringList& arguments, const QVariantMap& platformData) {
    QByteArray message;
    QDataStream out(&message, QIODevice::WriteOnly);
    out << arguments << platformData;
    return message;
}

bool decodeHandOver(QDataStream& in, QStringList& arguments, QVariantMap& platformData) {
    in.startTransaction();
    in >> arguments >> platformData;
    return in.commitTransaction();
}

SingleInstance::SingleInstance(QString runtimeDir, QObject* parent)
    : QObject(parent), runtimeDir_(std::move(runtimeDir)) {
    if (runtimeDir_.isEmpty())
        runtimeDir_ = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
}

SingleInstance::~SingleInstance() {
    if (server_) server_->close();  // removes the socket file while the lock still keeps it ours
    if (lockFd_ >= 0) ::close(lockFd_);
}

QString SingleInstance::socketPath() const {
    return QDir(runtimeDir_).filePath(QString(kApplicationId) + ".socket");
}

SingleInstance::Role SingleInstance::claim(const QStringList& arguments, const QVariantMap& platformData) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        bus.registerObject(kObjectPath, this, QDBusConnection::ExportScriptableSlots);
        // Two starts at once: the bus gives the name to one; the other finds its owner.
        for (int attempt = 0; attempt < 2 && !ownsName_; ++attempt) {
            if (bus.interface()->isServiceRegistered(kApplicationId).value()) {
                QDBusMessage call =
                    QDBusMessage::createMethodCall(kApplicationId, kObjectPath, kInterface, "Activate");
                call << arguments << platformData;
                QDBusMessage reply = bus.call(call, QDBus::Block, kAnswerMs);
                if (reply.type() == QDBusMessage::ErrorMessage &&
                    reply.errorName() == QLatin1String("org.freedesktop.DBus.Error.UnknownMethod")) {
                    // A running Vaultry of an earlier version takes the arguments alone.
                    call.setArguments({arguments});
                    reply = bus.call(call, QDBus::Block, kAnswerMs);
                }
                if (reply.type() == QDBusMessage::ReplyMessage) return Role::HandedOver;
                logLine("the running Vaultry does not answer: " + reply.errorMessage().toStdString());
                return Role::Unreachable;
            }
            const auto registered =
                bus.interface()->registerService(kApplicationId, QDBusConnectionInterface::DontQueueService,
                                                 QDBusConnectionInterface::DontAllowReplacement);
            ownsName_ =
                registered.isValid() && registered.value() == QDBusConnectionInterface::ServiceRegistered;
        }
        if (!ownsName_) {
            logLine("the session bus name " + std::string(kApplicationId) + " cannot be taken");
            return Role::Unreachable;
        }
    }
    // The lock decides between starts that do not share a bus; its holder listens on the socket.
    if (takeLock()) {
        if (!listen()) logLine("no local socket for later starts: " + server_->errorString().toStdString());
        return Role::First;
    }
    if (ownsName_) {
        bus.interface()->unregisterService(kApplicationId);
        ownsName_ = false;
    }
    if (handOverBySocket(arguments, platformData)) return Role::HandedOver;
    logLine("the running Vaultry does not answer on " + socketPath().toStdString());
    return Role::Unreachable;
}

bool SingleInstance::takeLock() {
    QDir().mkpath(runtimeDir_);
    const QByteArray path = QFile::encodeName(QDir(runtimeDir_).filePath(QString(kApplicationId) + ".lock"));
    lockFd_ = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd_ < 0) {
        // Without a lock file (a read-only runtime folder) this start runs on its own.
        logLine("no lock file in " + runtimeDir_.toStdString() + ": " + std::strerror(errno));
        return true;
    }
    int r;
    do r = ::flock(lockFd_, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    if (r == 0) return true;
    ::close(lockFd_);
    lockFd_ = -1;
    return false;
}

bool SingleInstance::listen() {
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    QLocalServer::removeServer(socketPath());  // left by a start that ended without cleaning up
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* client = server_->nextPendingConnection()) serve(client);
    });
    return server_->listen(socketPath());
}

void SingleInstance::serve(QLocalSocket* client) {
    connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
    connect(client, &QLocalSocket::readyRead, this, [this, client] {
        if (client->bytesAvailable() > kMaxMessage) {
            client->abort();
            return;
        }
        QDataStream in(client);
        QStringList arguments;
        QVariantMap platformData;
        if (!decodeHandOver(in, arguments, platformData)) return;  // the rest is still on its way
        Activate(arguments, platformData);
        client->write("1");
        client->disconnectFromServer();
    });
}

bool SingleInstance::handOverBySocket(const QStringList& arguments, const QVariantMap& platformData) const {
    // The lock's holder may be a moment away from listening.
    for (int tries = 0; tries < 50; ++tries) {
        QLocalSocket socket;
        socket.connectToServer(socketPath());
        if (!socket.waitForConnected(kAnswerMs)) {
            QThread::msleep(100);
            continue;
        }
        socket.write(encodeHandOver(arguments, platformData));
        if (!socket.waitForBytesWritten(kAnswerMs)) return false;
        return socket.waitForReadyRead(kAnswerMs) && socket.read(1) == "1";
    }
    return false;
}

void SingleInstance::Activate(const QStringList& arguments, const QVariantMap& platformData) {
    emit activated(arguments, platformData);
}

void SingleInstance::Activate(const QStringList& arguments) { emit activated(arguments, {}); }

QString takeActivationToken(const QVariantMap& platformData, bool wayland) {
    QString token = platformData.value(kActivationTokenKey).toString();
    // GLib's launchers on Wayland hand the same token to both variables; an X11 startup id is no
    // token, and there the window manager is asked to raise the window anyway.
    if (token.isEmpty() && wayland) token = platformData.value(kDesktopStartupIdKey).toString();
    if (token.isEmpty() || !wayland) return {};
    qputenv("XDG_ACTIVATION_TOKEN", token.toUtf8());
    return token;
}

void raiseForAnotherStart(QWidget* window, const QStringList& arguments, const QVariantMap& platformData,
                          bool wayland) {
    // Another autostart finds the tray already there; only a start by hand brings the window.
    if (arguments.contains("--hidden") || !window) return;
    const bool withToken = !takeActivationToken(platformData, wayland).isEmpty();
    if (window->isMinimized()) window->showNormal();
    window->show();
    window->raise();
    window->activateWindow();
    // Qt removes the token once used; one this compositor had no use for must not reach the
    // programs Vaultry starts later.
    if (withToken) qunsetenv("XDG_ACTIVATION_TOKEN");
    if (!window->isVisible())
        logLine("another start: main window not shown");
    else if (!wayland)
        logLine("another start: main window raised");
    else if (withToken)
        logLine(
            "another start: main window shown; the desktop was asked to bring it forward with the "
            "start's activation token");
    else
        logLine(
            "another start: asked to show the main window; without an activation token from the "
            "launcher the desktop may keep it behind others");
}

}  // namespace vaultry::qt
