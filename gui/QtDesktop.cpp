#include "gui/QtDesktop.h"

#include <QApplication>
#include <QClipboard>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusReply>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeData>
#include <QSaveFile>
#include <QThread>
#include <QUrl>

#include "gui/SingleInstance.h"  // kApplicationId
#include "util/Log.h"

namespace vaultry::qt {
namespace {
QString q(const std::string& s) { return QString::fromStdString(s); }
}  // namespace

QString showItemsUri(const std::string& path) {
    return QString::fromLatin1(QUrl::fromLocalFile(q(path)).toEncoded(QUrl::FullyEncoded));
}

bool QtWorkspace::reveal(const std::string& path) {
    QDBusInterface fm("org.freedesktop.FileManager1", "/org/freedesktop/FileManager1",
                      "org.freedesktop.FileManager1", QDBusConnection::sessionBus());
    if (fm.isValid()) {
        QDBusMessage reply = fm.call("ShowItems", QStringList{showItemsUri(path)}, QString());
        if (reply.type() != QDBusMessage::ErrorMessage) return true;
    }
    return QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(q(path)).absolutePath()));
}

bool QtWorkspace::open(const std::string& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(q(path)));
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
