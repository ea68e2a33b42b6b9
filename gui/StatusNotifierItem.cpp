#include "gui/StatusNotifierItem.h"

#include <QAction>
#include <QActionEvent>
#include <QActionGroup>
#include <QCoreApplication>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QGuiApplication>
#include <QIcon>
#include <QImage>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QtEndian>
#include <utility>

#include "util/Log.h"

namespace vaultry::qt {

// ---- Wire formats ---------------------------------------------------------------------------

QDBusArgument& operator<<(QDBusArgument& arg, const SniPixmap& pixmap) {
    arg.beginStructure();
    arg << pixmap.width << pixmap.height << pixmap.argb;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniPixmap& pixmap) {
    arg.beginStructure();
    arg >> pixmap.width >> pixmap.height >> pixmap.argb;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const SniToolTip& tip) {
    arg.beginStructure();
    arg << tip.iconName << tip.pixmaps << tip.title << tip.text;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, SniToolTip& tip) {
    arg.beginStructure();
    arg >> tip.iconName >> tip.pixmaps >> tip.title >> tip.text;
    arg.endStructure();
    return arg;
}

// Entries are variants that hold entries: the layout is a tree of any depth.
QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuLayout& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const DBusMenuLayout& child : item.children) arg << QDBusVariant(QVariant::fromValue(child));
    arg.endArray();
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuLayout& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    item.children.clear();
    arg.beginArray();
    while (!arg.atEnd()) {
        QDBusVariant entry;
        arg >> entry;
        DBusMenuLayout child;
        qvariant_cast<QDBusArgument>(entry.variant()) >> child;
        item.children.push_back(std::move(child));
    }
    arg.endArray();
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuProperties& item) {
    arg.beginStructure();
    arg << item.id << item.properties;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuProperties& item) {
    arg.beginStructure();
    arg >> item.id >> item.properties;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuRemovedProperties& item) {
    arg.beginStructure();
    arg << item.id << item.names;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuRemovedProperties& item) {
    arg.beginStructure();
    arg >> item.id >> item.names;
    arg.endStructure();
    return arg;
}

QDBusArgument& operator<<(QDBusArgument& arg, const DBusMenuEvent& event) {
    arg.beginStructure();
    arg << event.id << event.eventId << event.data << event.timestamp;
    arg.endStructure();
    return arg;
}

const QDBusArgument& operator>>(const QDBusArgument& arg, DBusMenuEvent& event) {
    arg.beginStructure();
    arg >> event.id >> event.eventId >> event.data >> event.timestamp;
    arg.endStructure();
    return arg;
}

void registerTrayDBusTypes() {
    static const bool once = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<SniPixmaps>();
        qDBusRegisterMetaType<SniToolTip>();
        qDBusRegisterMetaType<DBusMenuLayout>();
        qDBusRegisterMetaType<DBusMenuProperties>();
        qDBusRegisterMetaType<DBusMenuPropertiesList>();
        qDBusRegisterMetaType<DBusMenuRemovedProperties>();
        qDBusRegisterMetaType<DBusMenuRemovedPropertiesList>();
        qDBusRegisterMetaType<DBusMenuEvent>();
        qDBusRegisterMetaType<DBusMenuEventList>();
        return true;
    }();
    (void)once;
}

namespace {

// Qt marks a mnemonic with '&' ("&&" for the sign itself), com.canonical.dbusmenu with '_'
// ("__" for the sign itself).
QString menuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == '&') {
            if (i + 1 < text.size() && text[i + 1] == '&') {
                label += '&';
                ++i;
            } else {
                label += '_';
            }
        } else if (c == '_') {
            label += "__";
        } else {
            label += c;
        }
    }
    return label;
}

QVariantMap only(QVariantMap all, const QStringList& names) {
    if (names.isEmpty()) return all;
    QVariantMap chosen;
    for (const QString& name : names)
        if (all.contains(name)) chosen.insert(name, all.value(name));
    return chosen;
}

// ---- The bus objects ------------------------------------------------------------------------

// com.canonical.dbusmenu as hosts call it; the exporter does the work.
class MenuObject final : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "com.canonical.dbusmenu")
    Q_PROPERTY(uint Version READ version)
    Q_PROPERTY(QString TextDirection READ textDirection)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(QStringList IconThemePath READ iconThemePath)
public:
    explicit MenuObject(DBusMenuExporter& menu) : QObject(&menu), menu_(menu) {
        connect(&menu, &DBusMenuExporter::layoutUpdated, this, &MenuObject::LayoutUpdated);
    }
    uint version() const { return 3; }
    QString textDirection() const { return QGuiApplication::isRightToLeft() ? "rtl" : "ltr"; }
    QString status() const { return "normal"; }
    QStringList iconThemePath() const { return {}; }

public slots:
    uint GetLayout(int parentId, int recursionDepth, const QStringList& propertyNames,
                   vaultry::qt::DBusMenuLayout& layout) {
        if (!menu_.knows(parentId)) {
            unknown(parentId);
            return 0;
        }
        layout = menu_.layout(parentId, recursionDepth, propertyNames);
        return menu_.revision();
    }
    QList<vaultry::qt::DBusMenuProperties> GetGroupProperties(const QList<int>& ids,
                                                              const QStringList& propertyNames) {
        DBusMenuPropertiesList all;
        for (int id : ids)
            if (menu_.knows(id)) all.push_back({id, menu_.properties(id, propertyNames)});
        return all;
    }
    QDBusVariant GetProperty(int id, const QString& name) {
        const QVariantMap props = menu_.properties(id, {name});
        if (!menu_.knows(id) || !props.contains(name)) {
            sendErrorReply(QDBusError::InvalidArgs, QString("no property %1 on entry %2").arg(name).arg(id));
            return QDBusVariant(QString());
        }
        return QDBusVariant(props.value(name));
    }
    void Event(int id, const QString& eventId, const QDBusVariant&, uint) {
        if (!menu_.knows(id)) {
            unknown(id);
            return;
        }
        menu_.event(id, eventId);
    }
    QList<int> EventGroup(const QList<vaultry::qt::DBusMenuEvent>& events) {
        QList<int> errors;
        for (const DBusMenuEvent& e : events) {
            if (menu_.knows(e.id))
                menu_.event(e.id, e.eventId);
            else
                errors.push_back(e.id);
        }
        return errors;
    }
    bool AboutToShow(int) { return false; }  // the menu is complete before it is shown
    QList<int> AboutToShowGroup(const QList<int>& ids, QList<int>& idErrors) {
        for (int id : ids)
            if (!menu_.knows(id)) idErrors.push_back(id);
        return {};
    }

signals:
    void ItemsPropertiesUpdated(const QList<vaultry::qt::DBusMenuProperties>& updatedProps,
                                const QList<vaultry::qt::DBusMenuRemovedProperties>& removedProps);
    void LayoutUpdated(uint revision, int parent);
    void ItemActivationRequested(int id, uint timestamp);

private:
    void unknown(int id) { sendErrorReply(QDBusError::InvalidArgs, QString("no menu entry %1").arg(id)); }
    DBusMenuExporter& menu_;
};

// org.kde.StatusNotifierItem as hosts call it; the item does the work.
class ItemObject final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QString IconName READ iconName)
    Q_PROPERTY(QList<vaultry::qt::SniPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(QList<vaultry::qt::SniPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(QList<vaultry::qt::SniPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(vaultry::qt::SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
public:
    explicit ItemObject(StatusNotifierItem& item) : QObject(&item), item_(item) {}
    QString category() const { return "ApplicationStatus"; }
    QString id() const {
        return QGuiApplication::desktopFileName().isEmpty() ? "vaultry" : QGuiApplication::desktopFileName();
    }
    QString title() const { return item_.title(); }
    QString status() const { return "Active"; }
    int windowId() const { return 0; }
    QString none() const { return {}; }
    QString iconName() const { return item_.iconName(); }
    SniPixmaps iconPixmap() const { return item_.iconPixmaps(); }
    SniPixmaps noPixmaps() const { return {}; }
    SniToolTip toolTip() const { return item_.toolTip(); }
    // A left click is Activate (the quick panel); the menu is for the right click.
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(StatusNotifierItem::kMenuPath); }

public slots:
    void ContextMenu(int x, int y) { item_.contextMenu(x, y); }
    void Activate(int x, int y) { item_.activate(x, y); }
    // Plasma's hosts send this just before Activate: the token lets the window the click opens
    // come to the front on Wayland.
    void ProvideXdgActivationToken(const QString& token) { item_.provideActivationToken(token); }
    void SecondaryActivate(int, int) {}
    void Scroll(int, const QString&) {}

signals:
    void NewTitle();
    void NewIcon();
    void NewAttentionIcon();
    void NewOverlayIcon();
    void NewToolTip();
    void NewStatus(const QString& status);

private:
    StatusNotifierItem& item_;
};

}  // namespace

// ---- The menu -------------------------------------------------------------------------------

DBusMenuExporter::DBusMenuExporter(QMenu& menu, QObject* parent) : QObject(parent), menu_(&menu) {
    registerTrayDBusTypes();
    busObject_ = new MenuObject(*this);
    menu.installEventFilter(this);
}

DBusMenuExporter::~DBusMenuExporter() = default;

int DBusMenuExporter::idOf(QAction* action) {
    if (const auto it = ids_.constFind(action); it != ids_.constEnd() && actions_.value(*it) == action)
        return *it;
    const int id = nextId_++;
    ids_.insert(action, id);
    actions_.insert(id, action);
    return id;
}

QMenu* DBusMenuExporter::menuOf(int id) const {
    if (id == 0) return menu_;
    const QAction* action = actions_.value(id);
    return action ? QMenu::menuInAction(action) : nullptr;
}

QVariantMap DBusMenuExporter::properties(int id, const QStringList& names) {
    QVariantMap p;
    if (id == 0) {
        p.insert("children-display", "submenu");
        return only(p, names);
    }
    const QAction* a = actions_.value(id);
    if (!a) return {};
    if (a->isSeparator()) {
        p.insert("type", "separator");
    } else {
        p.insert("label", menuLabel(a->text()));
        if (!a->isEnabled()) p.insert("enabled", false);
        if (a->isCheckable()) {
            const bool radio = a->actionGroup() && a->actionGroup()->isExclusive();
            p.insert("toggle-type", radio ? "radio" : "checkmark");
            p.insert("toggle-state", a->isChecked() ? 1 : 0);
        }
        if (QMenu::menuInAction(a)) p.insert("children-display", "submenu");
        if (!a->icon().name().isEmpty()) p.insert("icon-name", a->icon().name());
    }
    if (!a->isVisible()) p.insert("visible", false);
    return only(p, names);
}

DBusMenuLayout DBusMenuExporter::layoutOf(int id, QMenu* menu, int depth, const QStringList& names) {
    DBusMenuLayout item{id, properties(id, names), {}};
    if (!menu || depth == 0) return item;
    menu->installEventFilter(this);  // once per menu, however often it is laid out
    for (QAction* action : menu->actions()) {
        const int child = idOf(action);
        item.children.push_back(
            layoutOf(child, QMenu::menuInAction(action), depth < 0 ? -1 : depth - 1, names));
    }
    return item;
}

DBusMenuLayout DBusMenuExporter::layout(int parentId, int depth, const QStringList& names) {
    return layoutOf(parentId, menuOf(parentId), depth, names);
}

void DBusMenuExporter::event(int id, const QString& eventId) {
    if (eventId != "clicked") return;  // "hovered", "opened" and "closed" change nothing here
    QAction* action = actions_.value(id);
    if (!action || !action->isEnabled() || QMenu::menuInAction(action)) return;
    // After the host has its answer: a command may open a window that waits for the user.
    QMetaObject::invokeMethod(action, &QAction::trigger, Qt::QueuedConnection);
}

bool DBusMenuExporter::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
        case QEvent::ActionRemoved:
            if (auto* removed = static_cast<QActionEvent*>(event)->action())
                if (const auto it = ids_.find(removed); it != ids_.end()) {
                    actions_.remove(*it);
                    ids_.erase(it);
                }
            changed();
            break;
        case QEvent::ActionAdded:
        case QEvent::ActionChanged:
            changed();
            break;
        default:
            break;
    }
    return QObject::eventFilter(watched, event);
}

// Several changes at once make one new layout.
void DBusMenuExporter::changed() {
    if (changePending_) return;
    changePending_ = true;
    QTimer::singleShot(0, this, [this] {
        changePending_ = false;
        ++revision_;
        emit layoutUpdated(revision_, 0);
    });
}

// ---- The item -------------------------------------------------------------------------------

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QSystemTrayIcon& model, QMenu& menu,
                                       QObject* parent)
    : QObject(parent), bus_(std::move(bus)), model_(&model), menu_(&menu) {
    registerTrayDBusTypes();
    exporter_ = new DBusMenuExporter(menu, this);
    busObject_ = new ItemObject(*this);
    if (!bus_.registerObject(kItemPath, busObject_, QDBusConnection::ExportAllContents))
        logLine("tray: the item cannot be exported at " + std::string(kItemPath));
    if (!bus_.registerObject(kMenuPath, exporter_->busObject(), QDBusConnection::ExportAllContents))
        logLine("tray: the menu cannot be exported at " + std::string(kMenuPath));
    // The name the protocol suggests: hosts see it go when Vaultry ends or the item is withdrawn.
    static int items = 0;
    serviceName_ =
        QString("org.kde.StatusNotifierItem-%1-%2").arg(QCoreApplication::applicationPid()).arg(++items);
    ownsName_ = bus_.registerService(serviceName_);
    if (!ownsName_) serviceName_ = bus_.baseService();
    iconKey_ = model.icon().cacheKey();
    toolTipShown_ = model.toolTip();
    // QSystemTrayIcon tells nobody when its icon changes (the light and dark icons swap with the
    // desktop's colour scheme): the item looks now and then and tells the host.
    iconCheck_ = new QTimer(this);
    iconCheck_->setInterval(2000);
    connect(iconCheck_, &QTimer::timeout, this, &StatusNotifierItem::checkIcon);
    iconCheck_->start();
}

StatusNotifierItem::~StatusNotifierItem() {
    bus_.unregisterObject(kItemPath);
    bus_.unregisterObject(kMenuPath);
    if (ownsName_) bus_.unregisterService(serviceName_);
}

void StatusNotifierItem::registerWithWatcher() {
    QDBusMessage call = QDBusMessage::createMethodCall(kWatcherService, "/StatusNotifierWatcher",
                                                       kWatcherService, "RegisterStatusNotifierItem");
    call << serviceName_;
    auto* answer = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    connect(answer, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        if (w->isError()) {
            logLine("tray: the watcher did not take the icon: " + w->error().message().toStdString());
            return;
        }
        registered_ = true;
        logLine("tray: the icon is in the panel's tray (" + serviceName_.toStdString() + ")");
        emit registered();
    });
}

QString StatusNotifierItem::title() const {
    const QString tip = model_ ? model_->toolTip() : QString();
    return tip.isEmpty() ? QStringLiteral("Vaultry") : tip;
}

QString StatusNotifierItem::iconName() const { return model_ ? model_->icon().name() : QString(); }

SniPixmaps StatusNotifierItem::iconPixmaps() const {
    SniPixmaps all;
    if (!model_ || model_->icon().isNull()) return all;
    const QIcon icon = model_->icon();
    for (const int side : {16, 22, 32, 48, 64}) {
        QImage image = icon.pixmap(QSize(side, side), 1.0).toImage().convertToFormat(QImage::Format_ARGB32);
        if (image.isNull()) continue;
        SniPixmap p{image.width(), image.height(), {}};
        p.argb.resize(qsizetype(image.width()) * image.height() * 4);
        auto* out = reinterpret_cast<uchar*>(p.argb.data());
        for (int y = 0; y < image.height(); ++y) {
            const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x, out += 4) qToBigEndian<quint32>(row[x], out);
        }
        all.push_back(std::move(p));
    }
    return all;
}

SniToolTip StatusNotifierItem::toolTip() const { return {QString(), {}, title(), QString()}; }

void StatusNotifierItem::provideActivationToken(const QString& token) { activationToken_ = token; }

void StatusNotifierItem::activate(int, int) {
    // After the host has its answer. A token serves the one click it came with.
    QMetaObject::invokeMethod(
        this, [this, token = std::exchange(activationToken_, QString())] { emit activated(token); },
        Qt::QueuedConnection);
}

void StatusNotifierItem::contextMenu(int x, int y) {
    // For hosts that draw no menu of their own.
    QTimer::singleShot(0, this, [this, x, y] {
        if (menu_) menu_->popup(QPoint(x, y));
    });
}

void StatusNotifierItem::checkIcon() {
    if (!model_) return;
    auto* item = static_cast<ItemObject*>(busObject_);
    if (const qint64 key = model_->icon().cacheKey(); key != iconKey_) {
        iconKey_ = key;
        emit item->NewIcon();
    }
    if (const QString tip = model_->toolTip(); tip != toolTipShown_) {
        toolTipShown_ = tip;
        emit item->NewTitle();
        emit item->NewToolTip();
    }
}

}  // namespace vaultry::qt

#include "StatusNotifierItem.moc"
