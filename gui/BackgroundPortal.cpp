#include "gui/BackgroundPortal.h"

#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QRandomGenerator>

#include "util/Log.h"

namespace vaultry::qt {
namespace {

constexpr char kPortal[] = "org.freedesktop.portal.Desktop";
constexpr char kPortalPath[] = "/org/freedesktop/portal/desktop";
constexpr char kBackground[] = "org.freedesktop.portal.Background";
constexpr char kRequest[] = "org.freedesktop.portal.Request";

}  // namespace

BackgroundPortal::BackgroundPortal(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {}

void BackgroundPortal::requestBackground(const QString& reason) {
    if (requested_ || !bus_.isConnected()) return;
    requested_ = true;
    // The interface's version tells whether the portal (started on demand where it is installed)
    // has it at all.
    QDBusMessage get =
        QDBusMessage::createMethodCall(kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get");
    get << QString(kBackground) << QString("version");
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(get), this);
    connect(call, &QDBusPendingCallWatcher::finished, this, [this, reason](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            logLine("background portal: none (" + w->error().message().toStdString() + ")");
            return;
        }
        ask(reason);
    });
}

void BackgroundPortal::ask(const QString& reason) {
    // The request's path follows from our name and the token, so its answer cannot come before
    // it is listened for.
    const QString token = QString("vaultry%1").arg(QRandomGenerator::global()->generate());
    const QString sender = bus_.baseService().mid(1).replace('.', '_');
    requestPath_ = QString("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
    bus_.connect(kPortal, requestPath_, kRequest, "Response", this, SLOT(response(uint, QVariantMap)));
    QDBusMessage call =
        QDBusMessage::createMethodCall(kPortal, kPortalPath, kBackground, "RequestBackground");
    const QVariantMap options{{"handle_token", token}, {"reason", reason}, {"autostart", false}};
    call << QString() << options;  // no parent window: Vaultry may have none shown
    auto* pending = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusMessage reply = w->reply();
        if (reply.type() != QDBusMessage::ReplyMessage) {
            logLine("background portal: the request failed (" + reply.errorMessage().toStdString() + ")");
            bus_.disconnect(kPortal, requestPath_, kRequest, "Response", this,
                            SLOT(response(uint, QVariantMap)));
            return;
        }
        // Portals older than the handle token answer on a path of their own choosing.
        const QString path = reply.arguments().value(0).value<QDBusObjectPath>().path();
        if (!path.isEmpty() && path != requestPath_) {
            bus_.disconnect(kPortal, requestPath_, kRequest, "Response", this,
                            SLOT(response(uint, QVariantMap)));
            requestPath_ = path;
            bus_.connect(kPortal, requestPath_, kRequest, "Response", this,
                         SLOT(response(uint, QVariantMap)));
        }
    });
}

void BackgroundPortal::response(uint response, const QVariantMap& results) {
    bus_.disconnect(kPortal, requestPath_, kRequest, "Response", this, SLOT(response(uint, QVariantMap)));
    if (response == 0)
        logLine(std::string("background portal: running in the background ") +
                (results.value("background", true).toBool() ? "allowed" : "not allowed"));
    else
        logLine("background portal: the request was " + std::string(response == 1 ? "cancelled" : "refused"));
    emit answered(response, results);
}

}  // namespace vaultry::qt
