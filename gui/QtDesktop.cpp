#include "gui/QtDesktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDBusUnixFileDescriptor>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QProcess>
#include <QSaveFile>
#include <QThread>
#include <QUrl>
#include <filesystem>
#include <optional>

#include "gui/SingleInstance.h"  // kApplicationId
#include "platform/linux/FolderHandler.h"
#include "platform/linux/LinuxSpawn.h"
#include "util/Log.h"

namespace vaultry::qt {
namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QString showItemsUri(const std::string& path) {
    return QString::fromLatin1(QUrl::fromLocalFile(q(path)).toEncoded(QUrl::FullyEncoded));
}

QString activationToken() {
    for (const char* name : {"XDG_ACTIVATION_TOKEN", "DESKTOP_STARTUP_ID"})
        if (QString token = qEnvironmentVariable(name); !token.isEmpty()) return token;
    return {};
}

namespace {

// Starts the file manager of an application entry on a folder, with the activation token in its
// environment. The program is found through PATH, never in the working folder.
bool startFileManager(const platform::DesktopEntry& entry, const std::string& folder) {
    const auto args = platform::execArguments(entry, folder, showItemsUri(folder).toStdString());
    if (!args) return false;
    const auto program = platform::LinuxSpawn::resolveProgram(args->front());
    if (!program) {
        logLine("reveal: " + entry.id + " cannot run: " + args->front() + " is not found");
        return false;
    }
    QProcess process;
    process.setProgram(q(*program));
    QStringList arguments;
    for (std::size_t i = 1; i < args->size(); ++i) arguments << q((*args)[i]);
    process.setArguments(arguments);
    process.setWorkingDirectory(QDir::homePath());
    process.setStandardInputFile(QProcess::nullDevice());
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (const QString token = activationToken(); !token.isEmpty()) {
        environment.insert("XDG_ACTIVATION_TOKEN", token);
        environment.insert("DESKTOP_STARTUP_ID", token);
    }
    process.setProcessEnvironment(environment);
    if (!process.startDetached()) {
        logLine("reveal: " + entry.id + " did not start");
        return false;
    }
    return true;
}

// The file manager that opens folders here, or none (logged with the reason).
std::optional<platform::DesktopEntry> folderFileManager() {
    const auto dirs = platform::XdgDirs::fromEnvironment();
    auto manager = platform::folderFileManager(dirs);
    if (!manager) {
        const auto chosen = platform::defaultApplication(dirs, "inode/directory");
        logLine(chosen ? "reveal: folders open with " + chosen->id + ", which is no file manager"
                       : std::string("reveal: no file manager is installed"));
    }
    return manager;
}

}  // namespace

QtWorkspace::QtWorkspace(QDBusConnection bus) : bus_(std::move(bus)) {}

bool QtWorkspace::askFileManager(const QString& method, const std::string& path) {
    if (!bus_.isConnected()) return false;
    QDBusMessage call =
        QDBusMessage::createMethodCall("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                                       "org.freedesktop.FileManager1", method);
    call << QStringList{showItemsUri(path)} << activationToken();
    const QDBusMessage reply = bus_.call(call, QDBus::Block);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    if (reply.errorName() != "org.freedesktop.DBus.Error.ServiceUnknown")
        logLine("reveal: FileManager1." + method.toStdString() + ": " + reply.errorMessage().toStdString());
    return false;
}

bool QtWorkspace::askPortal(const std::string& path) {
    const QString portal = "org.freedesktop.portal.Desktop";
    QDBusConnectionInterface* names = bus_.isConnected() ? bus_.interface() : nullptr;
    if (!names || (!names->isServiceRegistered(portal).value() &&
                   !names->activatableServiceNames().value().contains(portal)))
        return false;
    const int fd = ::open(path.c_str(), O_PATH | O_CLOEXEC);
    if (fd < 0) return false;
    QDBusMessage call = QDBusMessage::createMethodCall(portal, "/org/freedesktop/portal/desktop",
                                                       "org.freedesktop.portal.OpenURI", "OpenDirectory");
    QVariantMap options;
    if (const QString token = activationToken(); !token.isEmpty()) options.insert("activation_token", token);
    call << QString() << QVariant::fromValue(QDBusUnixFileDescriptor(fd)) << options;
    ::close(fd);  // the message holds a copy
    const QDBusMessage reply = bus_.call(call, QDBus::Block);
    if (reply.type() == QDBusMessage::ReplyMessage) return true;
    logLine("reveal: the portal's OpenDirectory: " + reply.errorMessage().toStdString());
    return false;
}

bool QtWorkspace::reveal(const std::string& path) {
    if (askFileManager("ShowItems", path)) return true;
    // The portal and the folder's default handler both end in the default handler of folders,
    // so both are only asked when that is a file manager.
    const auto manager = folderFileManager();
    if (!manager) return false;
    if (askPortal(path)) return true;
    return startFileManager(*manager, QFileInfo(q(path)).absolutePath().toStdString());
}

bool QtWorkspace::open(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_directory(path, ec))
        return QDesktopServices::openUrl(QUrl::fromLocalFile(q(path)));
    if (askFileManager("ShowFolders", path)) return true;
    const auto manager = folderFileManager();
    return manager && startFileManager(*manager, path);
}

bool QtWorkspace::openUrl(const std::string& url) { return QDesktopServices::openUrl(QUrl(q(url))); }

void QtWorkspace::copyFiles(const std::vector<std::string>& paths) {
    QList<QUrl> urls;
    QStringList texts;
    QByteArray gnome = "copy";  // what GNOME's file managers paste from
    for (const auto& path : paths) {
        urls << QUrl::fromLocalFile(q(path));
        texts << q(path);
        gnome += "\n" + urls.back().toEncoded();
    }
    auto* mime = new QMimeData;
    mime->setUrls(urls);
    mime->setText(texts.join('\n'));
    mime->setData("x-special/gnome-copied-files", gnome);
    QApplication::clipboard()->setMimeData(mime);
}

void QtWorkspace::copyText(const std::string& text) { QApplication::clipboard()->setText(q(text)); }

std::optional<platform::Thumbnailer::Size> QtThumbnailer::imageSize(const std::string& path) {
    QImageReader reader(q(path));
    const QSize size = reader.size();
    if (!reader.canRead() || !size.isValid()) return std::nullopt;
    return Size{size.width(), size.height()};
}

bool QtThumbnailer::writeThumbnail(const std::string& source, const std::string& tiffPath, Size size) {
    QImageReader reader(q(source));
    if (!reader.canRead()) return false;
    QSize scaled = reader.size();
    if (scaled.isValid()) {
        scaled.scale(size.width, size.height, Qt::KeepAspectRatio);
        reader.setScaledSize(scaled);  // decode small; never the full picture
    }
    const QImage image = reader.read();
    if (image.isNull()) return false;
    QSaveFile out(q(tiffPath));
    if (!out.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&out, "tiff");
    return writer.write(image) && out.commit();
}

namespace {
QDBusInterface notifications(const QDBusConnection& bus) {
    return QDBusInterface("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                          "org.freedesktop.Notifications", bus);
}
}  // namespace

DBusNotifier::DBusNotifier(QDBusConnection bus) : bus_(std::move(bus)) {
    bus_.connect("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                 "org.freedesktop.Notifications", "ActionInvoked", this, SLOT(actionInvoked(uint, QString)));
    bus_.connect("org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                 "org.freedesktop.Notifications", "NotificationClosed", this,
                 SLOT(notificationClosed(uint, uint)));
}

void DBusNotifier::schedule(const Notification& n) {
    // "default" is the click on the notification's body; it has no button of its own.
    QStringList actions{"default", QString()};
    for (const auto& a : n.actions) actions << q(a) << q(a);  // key and label alike
    auto iface = notifications(bus_);
    const QVariantMap hints{{"desktop-entry", QString(kApplicationId)}};
    QDBusReply<uint> reply = iface.call("Notify", QString("Vaultry"), uint(0), QString(kApplicationId),
                                        q(n.title), q(n.body), actions, hints, int(-1));
    if (!reply.isValid()) {
        logLine("notification \"" + n.identifier + "\" not shown: " + reply.error().message().toStdString());
        return;
    }
    shown_[reply.value()] = n.identifier;
}

bool DBusNotifier::offersActions() {
    auto iface = notifications(bus_);
    if (!iface.isValid()) return false;
    QDBusReply<QStringList> caps = iface.call("GetCapabilities");
    return caps.isValid() && caps.value().contains("actions");
}

std::vector<std::string> DBusNotifier::delivered() {
    std::vector<std::string> ids;
    for (const auto& [id, identifier] : shown_) ids.push_back(identifier);
    return ids;
}

void DBusNotifier::remove(const std::string& identifier) {
    for (auto it = shown_.begin(); it != shown_.end();) {
        if (it->second == identifier) {
            notifications(bus_).call("CloseNotification", it->first);
            it = shown_.erase(it);
        } else {
            ++it;
        }
    }
}

void DBusNotifier::actionInvoked(uint id, const QString& actionKey) {
    // The controller answers on the main thread only.
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, id, actionKey] { actionInvoked(id, actionKey); }, Qt::QueuedConnection);
        return;
    }
    auto it = shown_.find(id);
    if (it == shown_.end()) return;
    const std::string identifier = it->second;
    shown_.erase(it);
    if (handler_) handler_(identifier, actionKey == "default" ? std::string() : actionKey.toStdString());
}

void DBusNotifier::notificationClosed(uint id, uint) { shown_.erase(id); }

}  // namespace vaultry::qt
