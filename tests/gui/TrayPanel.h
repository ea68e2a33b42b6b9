#pragma once
// The desktop panel's side of the tray, for tests: a StatusNotifierWatcher of our own on a private
// session bus that takes the item's registration, and a panel that reads its menu and clicks it.
#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QObject>
#include <QStringList>
#include <string>
#include <vector>

#include "gui/PrivateBus.h"
#include "gui/StatusNotifierItem.h"
#include "update/VersionCheck.h"

namespace vaultry::test {

constexpr char kWatcher[] = "org.kde.StatusNotifierWatcher";
constexpr char kItemInterface[] = "org.kde.StatusNotifierItem";
constexpr char kMenuInterface[] = "com.canonical.dbusmenu";
constexpr char kSeparator[] = "(separator)";

// The panel's watcher, as KDE Plasma and the AppIndicator extension run it: it takes
// registrations and says that a host shows them.
class Watcher final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    struct Item {
        QString service;  // as the item named itself
        QString sender;   // the connection that registered it
    };
    std::vector<Item> registered;

    QStringList items() const {
        QStringList all;
        for (const auto& item : registered) all << item.service;
        return all;
    }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }

    // Serves on `bus` under the watcher's name.
    bool serve(QDBusConnection& bus) {
        return bus.registerObject("/StatusNotifierWatcher", this, QDBusConnection::ExportAllContents) &&
               bus.registerService(kWatcher);
    }

public slots:
    void RegisterStatusNotifierItem(const QString& service) {
        registered.push_back({service, message().service()});
        emit StatusNotifierItemRegistered(service);
    }
    void RegisterStatusNotifierHost(const QString&) {}

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();
};

// The tray menu's entries in order, as the code of the tray gives them (a separator between
// groups); the update entry reads as this build and environment have it.
inline std::vector<std::string> trayMenuTitles(bool updateCheck) {
    return {"Open Vault…",
            "Preferences…",
            kSeparator,
            "Hide Items…",
            "Encrypt Items…",
            "Tidy Desktop Now",
            "Undo Last Tidy",
            kSeparator,
            "Empty Trash…",
            "Secure Erase…",
            "Automatic Trash…",
            kSeparator,
            updateCheck ? "Check for Update…" : kUpdateCheckOffTitle,
            "Help",
            "About Vaultry",
            kSeparator,
            "Quit Vaultry"};
}

// The panel's side of the conversation, on a connection of its own.
struct Panel {
    QDBusConnection bus;
    QString service;  // the item's

    QDBusMessage call(const QString& path, const char* interface, const char* method,
                      const QVariantList& args) {
        QDBusMessage m = QDBusMessage::createMethodCall(service, path, interface, method);
        m.setArguments(args);
        return answerOf(bus.asyncCall(m, 30000));
    }
    QVariant property(const QString& path, const char* interface, const char* name) {
        const QDBusMessage reply =
            call(path, "org.freedesktop.DBus.Properties", "Get", {QString(interface), QString(name)});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }
    QString menuPath() {
        return property(qt::StatusNotifierItem::kItemPath, kItemInterface, "Menu")
            .value<QDBusObjectPath>()
            .path();
    }
    qt::DBusMenuLayout layout() {
        const QDBusMessage reply = call(menuPath(), kMenuInterface, "GetLayout", {0, -1, QStringList()});
        EXPECT_EQ(reply.type(), QDBusMessage::ReplyMessage) << reply.errorMessage().toStdString();
        EXPECT_EQ(reply.signature(), "u(ia{sv}av)");
        return qdbus_cast<qt::DBusMenuLayout>(reply.arguments().value(1).value<QDBusArgument>());
    }
    // What the panel draws: each entry's label, or that it is a separator.
    std::vector<std::string> titles(const qt::DBusMenuLayout& root) {
        std::vector<std::string> all;
        for (const auto& entry : root.children) {
            if (entry.properties.value("type").toString() == "separator")
                all.emplace_back(kSeparator);
            else
                all.push_back(entry.properties.value("label").toString().toStdString());
        }
        return all;
    }
    int idOf(const qt::DBusMenuLayout& root, const QString& label) {
        for (const auto& entry : root.children)
            if (entry.properties.value("label").toString() == label) return entry.id;
        return -1;
    }
};

}  // namespace vaultry::test
