#include "gui/ColorScheme.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QPalette>

namespace vaultry::qt {
namespace {
constexpr const char* kService = "org.freedesktop.portal.Desktop";
constexpr const char* kPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.Settings";

// The portal's "color-scheme": 1 prefers dark, 2 prefers light, 0 has no preference.
std::optional<bool> schemeOf(const QVariant& value) {
    QVariant v = value;
    while (v.canConvert<QDBusVariant>() && v.userType() == qMetaTypeId<QDBusVariant>())
        v = v.value<QDBusVariant>().variant();
    bool ok = false;
    const uint scheme = v.toUInt(&ok);
    if (!ok || scheme == 0) return std::nullopt;
    return scheme == 1;
}
}  // namespace

ColorScheme& ColorScheme::instance() {
    static ColorScheme* scheme = new ColorScheme;
    return *scheme;
}

ColorScheme::ColorScheme() {
    const QPalette palette = QGuiApplication::palette();
    paletteDark_ =
        palette.color(QPalette::Window).lightness() < palette.color(QPalette::WindowText).lightness();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Read");
    call << QString("org.freedesktop.appearance") << QString("color-scheme");
    const QDBusMessage reply = bus.call(call, QDBus::Block, 500);
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty())
        portal_ = schemeOf(reply.arguments().first());
    bus.connect(kService, kPath, kInterface, "SettingChanged", this,
                SLOT(settingChanged(QString, QString, QDBusVariant)));
}

void ColorScheme::settingChanged(const QString& group, const QString& key, const QDBusVariant& value) {
    if (group == "org.freedesktop.appearance" && key == "color-scheme") portal_ = schemeOf(value.variant());
}

bool ColorScheme::dark() const { return portal_.value_or(paletteDark_); }

}  // namespace vaultry::qt
