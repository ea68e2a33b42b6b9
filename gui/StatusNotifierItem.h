#pragma once
#include <QByteArray>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusVariant>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVariantMap>

class QAction;
class QMenu;
class QSystemTrayIcon;
class QTimer;

namespace vaultry::qt {

// The tray icon as a StatusNotifierItem (the tray of KDE Plasma, of GNOME with the AppIndicator
// extension, and of most panels today) with its menu exported as com.canonical.dbusmenu. Qt 6.4
// decides once per process whether its own tray icon speaks this protocol, so an item of our own
// is what lets a panel that starts after Vaultry show the icon; it works under any Qt platform.

// One picture of an icon as a host reads it: 32-bit ARGB, in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray argb;
};
using SniPixmaps = QList<SniPixmap>;

struct SniToolTip {
    QString iconName;
    SniPixmaps pixmaps;
    QString title;
    QString text;
};

// A menu entry as com.canonical.dbusmenu lays it out: its id, its properties and its entries.
struct DBusMenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<DBusMenuLayout> children;
};
struct DBusMenuProperties {
    int id = 0;
    QVariantMap properties;
};
using DBusMenuPropertiesList = QList<DBusMenuProperties>;
struct DBusMenuRemovedProperties {
    int id = 0;
    QStringList names;
};
using DBusMenuRemovedPropertiesList = QList<DBusMenuRemovedProperties>;
struct DBusMenuEvent {
    int id = 0;
    QString eventId;
    QDBusVariant data;
    uint timestamp = 0;
};
using DBusMenuEventList = QList<DBusMenuEvent>;

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap);
QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip);
const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayout& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayout& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuProperties& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuRemovedProperties& item);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuRemovedProperties& item);
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event);
const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event);

// Makes the types above known to Qt D-Bus; called before any is sent or received.
void registerTrayDBusTypes();

// A QMenu as com.canonical.dbusmenu: the host lays the menu out and draws it; a click comes back
// as an event and triggers the action. Actions get ids as they are first seen; a change of the
// menu is announced as a new layout.
class DBusMenuExporter final : public QObject {
    Q_OBJECT
public:
    DBusMenuExporter(QMenu& menu, QObject* parent = nullptr);
    ~DBusMenuExporter() override;

    // The object that answers on the bus; register it with the connection.
    QObject* busObject() const { return busObject_; }

    uint revision() const { return revision_; }
    // The layout under `parentId`, `depth` levels deep (-1: all), with only the named
    // properties (none named: all).
    DBusMenuLayout layout(int parentId, int depth, const QStringList& names);
    QVariantMap properties(int id, const QStringList& names);
    bool knows(int id) const { return id == 0 || actions_.contains(id); }
    // A host's event on an entry; "clicked" triggers its action once the call has been answered.
    void event(int id, const QString& eventId);

signals:
    void layoutUpdated(uint revision, int parentId);

private:
    bool eventFilter(QObject* watched, QEvent* event) override;
    int idOf(QAction* action);
    QMenu* menuOf(int id) const;
    DBusMenuLayout layoutOf(int id, QMenu* menu, int depth, const QStringList& names);
    void changed();

    QPointer<QMenu> menu_;
    QObject* busObject_ = nullptr;
    QHash<QAction*, int> ids_;
    QHash<int, QPointer<QAction>> actions_;
    int nextId_ = 1;
    uint revision_ = 1;
    bool changePending_ = false;
};

// The item itself: exported at /StatusNotifierItem under a name of its own, it shows the icon and
// tool tip the QSystemTrayIcon holds and the menu given, and registers with the watcher when told.
class StatusNotifierItem final : public QObject {
    Q_OBJECT
public:
    static constexpr char kWatcherService[] = "org.kde.StatusNotifierWatcher";
    static constexpr char kItemPath[] = "/StatusNotifierItem";
    static constexpr char kMenuPath[] = "/MenuBar";

    StatusNotifierItem(QDBusConnection bus, QSystemTrayIcon& model, QMenu& menu, QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // The name hosts reach the item by.
    QString serviceName() const { return serviceName_; }
    // Asks the watcher to show the item; registered() follows its answer.
    void registerWithWatcher();
    bool isRegistered() const { return registered_; }

    // What the bus object reads and forwards.
    QString title() const;
    QString iconName() const;
    SniPixmaps iconPixmaps() const;
    SniToolTip toolTip() const;
    void activate(int x, int y);
    void provideActivationToken(const QString& token);
    void contextMenu(int x, int y);

signals:
    // A left click on the icon, with the activation token the host gave for it, if any.
    void activated(const QString& activationToken);
    void registered();

private:
    void checkIcon();

    QDBusConnection bus_;
    QPointer<QSystemTrayIcon> model_;
    QPointer<QMenu> menu_;
    DBusMenuExporter* exporter_ = nullptr;
    QObject* busObject_ = nullptr;
    QTimer* iconCheck_ = nullptr;
    QString serviceName_;
    bool ownsName_ = false;
    bool registered_ = false;
    qint64 iconKey_ = 0;
    QString toolTipShown_;
    QString activationToken_;
};

}  // namespace vaultry::qt

Q_DECLARE_METATYPE(vaultry::qt::SniPixmap)
Q_DECLARE_METATYPE(vaultry::qt::SniToolTip)
Q_DECLARE_METATYPE(vaultry::qt::DBusMenuLayout)
Q_DECLARE_METATYPE(vaultry::qt::DBusMenuProperties)
Q_DECLARE_METATYPE(vaultry::qt::DBusMenuRemovedProperties)
Q_DECLARE_METATYPE(vaultry::qt::DBusMenuEvent)
