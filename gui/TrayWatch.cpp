#include "gui/TrayWatch.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QSystemTrayIcon>
#include <QTimer>

#include "util/Log.h"

namespace vaultry::qt {
namespace {

constexpr char kWatcher[] = "org.kde.StatusNotifierWatcher";
constexpr char kWatcherPath[] = "/StatusNotifierWatcher";
constexpr int kAnswerMs = 5000;      // a watcher that takes longer counts as none, until it speaks
constexpr int kXEmbedLookMs = 3000;  // X11 announces a new tray to no one who did not ask

// Errors that say no watcher is there (or none that answers).
bool noWatcher(const QString& error) {
    return error == "org.freedesktop.DBus.Error.ServiceUnknown" ||
           error == "org.freedesktop.DBus.Error.NameHasNoOwner" ||
           error == "org.freedesktop.DBus.Error.NoReply" || error == "org.freedesktop.DBus.Error.Timeout" ||
           error == "org.freedesktop.DBus.Error.Disconnected";
}

}  // namespace

TrayWatch::TrayWatch(QDBusConnection bus, QObject* parent) : QObject(parent), bus_(std::move(bus)) {
    if (QGuiApplication::platformName() == "xcb") {
        xembedPoll_ = new QTimer(this);
        xembedPoll_->setInterval(kXEmbedLookMs);
        connect(xembedPoll_, &QTimer::timeout, this, &TrayWatch::lookForXEmbed);
    }
    if (!bus_.isConnected()) {
        // No session bus, no StatusNotifierItem host; told once the caller listens.
        QTimer::singleShot(0, this, [this] { answered(++probes_, false, QString()); });
        return;
    }
    names_ = new QDBusServiceWatcher(kWatcher, bus_, QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(names_, &QDBusServiceWatcher::serviceOwnerChanged, this, &TrayWatch::probe);
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus_.connect(kWatcher, kWatcherPath, kWatcher, signal, this, SLOT(probe()));
    probe();
}

TrayWatch::~TrayWatch() {
    if (!bus_.isConnected()) return;
    for (const char* signal : {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"})
        bus_.disconnect(kWatcher, kWatcherPath, kWatcher, signal, this, SLOT(probe()));
}

TrayWatch::Host TrayWatch::host() const {
    if (!settled_) return Host::None;
    if (statusNotifier_) return Host::StatusNotifier;
    return xembed_ ? Host::XEmbed : Host::None;
}

// Asks the watcher whether a host shows its items; only the newest answer counts.
void TrayWatch::probe() {
    const quint64 serial = ++probes_;
    QDBusMessage get =
        QDBusMessage::createMethodCall(kWatcher, kWatcherPath, "org.freedesktop.DBus.Properties", "Get");
    get << QString(kWatcher) << QString("IsStatusNotifierHostRegistered");
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(get, kAnswerMs), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, serial](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() == QDBusMessage::ReplyMessage) {
            const QVariant value = reply.arguments().value(0).value<QDBusVariant>().variant();
            answered(serial, value.toBool(), reply.service());
            return;
        }
        // A watcher without the property is there all the same, and so, presumably, its host.
        const bool none = noWatcher(reply.errorName());
        answered(serial, !none, none ? QString() : reply.service());
    });
}

void TrayWatch::answered(quint64 serial, bool hosted, const QString& owner) {
    if (serial != probes_) return;
    settled_ = true;
    statusNotifier_ = hosted;
    watcherOwner_ = owner;
    if (xembedPoll_) {
        // A watcher without a host is waiting for a panel that speaks its protocol.
        if (owner.isEmpty()) {
            xembedPoll_->start();
        } else {
            xembedPoll_->stop();
            xembed_ = false;
        }
    }
    if (xembedPoll_ && owner.isEmpty())
        lookForXEmbed();
    else
        update();
}

void TrayWatch::lookForXEmbed() {
    // Without a StatusNotifierItem watcher Qt's answer is the X11 tray's.
    xembed_ = QSystemTrayIcon::isSystemTrayAvailable();
    update();
}

void TrayWatch::update() {
    if (!settled_) return;
    const Host now = host();
    const QString owner = now == Host::StatusNotifier ? watcherOwner_ : QString();
    if (toldOnce_ && now == told_ && owner == toldOwner_) return;
    if (!toldOnce_ || now != told_)
        logLine(now == Host::StatusNotifier ? "tray: a StatusNotifierItem host is there"
                : now == Host::XEmbed       ? "tray: an X11 tray is there"
                                            : "tray: none; closing the main window leaves Vaultry running");
    toldOnce_ = true;
    told_ = now;
    toldOwner_ = owner;
    emit changed();
}

}  // namespace vaultry::qt
