// The tray icon as a StatusNotifierItem, seen from the panel's side: a watcher of our own on a
// private session bus takes the item's registration, reads its menu as a panel does and clicks it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <string>
#include <vector>

#include "gui/GuiHarness.h"
#include "gui/PrivateBus.h"
#include "gui/StatusNotifierItem.h"
#include "update/VersionCheck.h"

// Failures show the text, not its UTF-16 units.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {
using namespace vaultry;
using test::answerOf;
using test::eventually;
using test::PrivateBus;

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
std::vector<std::string> trayMenuTitles(bool updateCheck) {
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

TEST(StatusNotifierTray, TheItemRegistersCarriesTheTrayMenuAndOpensThePanel) {
    test::guiApp();
    PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << PrivateBus::kMissing;
    test::GuiWorld world;
    qt::registerTrayDBusTypes();
    QDBusConnection panelBus = bus.connect("panel");
    Watcher watcher;
    ASSERT_TRUE(watcher.serve(panelBus));

    QSignalSpy trayChanges(&world.banner, &qt::StatusBanner::trayHostChanged);
    world.banner.followTray(bus.connect("vaultry"));
    ASSERT_TRUE(eventually([&] { return !watcher.registered.empty(); })) << "the item never registered";
    ASSERT_EQ(watcher.registered.size(), 1u);
    EXPECT_TRUE(world.banner.hasTrayHost());
    ASSERT_EQ(trayChanges.count(), 1);
    EXPECT_TRUE(trayChanges.at(0).at(0).toBool());
    // One icon: Qt's own stays hidden, or the panel would show two.
    EXPECT_FALSE(world.banner.statusItem()->isVisible());

    Panel panel{panelBus, watcher.registered[0].service};
    EXPECT_TRUE(panel.service.startsWith("org.kde.StatusNotifierItem-")) << panel.service.toStdString();
    EXPECT_EQ(panelBus.interface()->serviceOwner(panel.service).value(), watcher.registered[0].sender);
    EXPECT_EQ(panel.property(qt::StatusNotifierItem::kItemPath, kItemInterface, "Title").toString(),
              "Vaultry");
    EXPECT_EQ(panel.property(qt::StatusNotifierItem::kItemPath, kItemInterface, "Status").toString(),
              "Active");
    EXPECT_FALSE(panel.property(qt::StatusNotifierItem::kItemPath, kItemInterface, "ItemIsMenu").toBool());
    const auto pixmaps = qdbus_cast<qt::SniPixmaps>(
        panel.property(qt::StatusNotifierItem::kItemPath, kItemInterface, "IconPixmap")
            .value<QDBusArgument>());
    ASSERT_FALSE(pixmaps.isEmpty()) << "the icon reaches the panel";
    for (const auto& p : pixmaps) EXPECT_EQ(p.argb.size(), qsizetype(p.width) * p.height * 4);

    // The menu a right click shows: every entry of the tray menu, by the title it has there.
    const qt::DBusMenuLayout root = panel.layout();
    EXPECT_EQ(root.properties.value("children-display").toString(), "submenu");
    EXPECT_EQ(panel.titles(root), trayMenuTitles(updateCheckOffered()));

    // A click in that menu runs the command.
    bool aboutShown = false;
    world.commands.about = [&] { aboutShown = true; };
    const int about = panel.idOf(root, "About Vaultry");
    ASSERT_GT(about, 0);
    const QDBusMessage clicked =
        panel.call(panel.menuPath(), kMenuInterface, "Event",
                   {about, QString("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_EQ(clicked.type(), QDBusMessage::ReplyMessage) << clicked.errorMessage().toStdString();
    EXPECT_TRUE(eventually([&] { return aboutShown; }));

    // A left click on the icon opens the quick panel: in a window of its own, since the item's place
    // on the screen is the host's.
    ASSERT_FALSE(world.banner.detachedWindow());
    const QDBusMessage activated =
        panel.call(qt::StatusNotifierItem::kItemPath, kItemInterface, "Activate", {100, 10});
    EXPECT_EQ(activated.type(), QDBusMessage::ReplyMessage) << activated.errorMessage().toStdString();
    EXPECT_TRUE(eventually(
        [&] { return world.banner.detachedWindow() && world.banner.detachedWindow()->isVisible(); }));
}

TEST(StatusNotifierTray, APanelThatStartsLaterGetsTheIconAndARestartedOneGetsItAgain) {
    test::guiApp();
    PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << PrivateBus::kMissing;
    test::GuiWorld world;
    QSignalSpy trayChanges(&world.banner, &qt::StatusBanner::trayHostChanged);
    world.banner.followTray(bus.connect("vaultry"));
    // First no tray at all: the main window carries the commands.
    ASSERT_TRUE(eventually([&] { return trayChanges.count() == 1; }));
    EXPECT_FALSE(trayChanges.at(0).at(0).toBool());
    EXPECT_FALSE(world.banner.hasTrayHost());

    QDBusConnection panelBus = bus.connect("panel");
    Watcher watcher;
    ASSERT_TRUE(watcher.serve(panelBus));
    ASSERT_TRUE(eventually([&] { return !watcher.registered.empty(); })) << "the item never registered";
    EXPECT_TRUE(world.banner.hasTrayHost());
    ASSERT_EQ(trayChanges.count(), 2);
    EXPECT_TRUE(trayChanges.at(1).at(0).toBool());
    Panel panel{panelBus, watcher.registered[0].service};
    EXPECT_EQ(panel.titles(panel.layout()), trayMenuTitles(updateCheckOffered()));

    // The panel goes: no tray; it comes back: the icon is registered with it again.
    ASSERT_TRUE(panelBus.unregisterService(kWatcher));
    ASSERT_TRUE(eventually([&] { return !world.banner.hasTrayHost(); }));
    ASSERT_TRUE(eventually([&] { return trayChanges.count() == 3; }));
    EXPECT_FALSE(trayChanges.at(2).at(0).toBool());
    ASSERT_TRUE(panelBus.registerService(kWatcher));
    ASSERT_TRUE(eventually([&] { return watcher.registered.size() == 2; })) << "not registered again";
    EXPECT_TRUE(world.banner.hasTrayHost());
    Panel again{panelBus, watcher.registered[1].service};
    EXPECT_EQ(again.titles(again.layout()), trayMenuTitles(updateCheckOffered()));
}

// The program as a login starts it (`vaultry --hidden`) on a desktop whose panel comes later.
TEST(StatusNotifierTray, TheProgramStartedBeforeThePanelShowsItsIconWhenThePanelComes) {
    test::guiApp();
    ASSERT_TRUE(QFileInfo(VAULTRY_GUI_PATH).isExecutable()) << VAULTRY_GUI_PATH;
    PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << PrivateBus::kMissing;
    test::TempDir home;
    const QString runtime = QString::fromStdString((home.path() / "run").string());
    ::mkdir(runtime.toLocal8Bit().constData(), 0700);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home.path().string()));
    env.insert("XDG_RUNTIME_DIR", runtime);
    env.remove("XDG_CONFIG_HOME");
    env.remove("XDG_DATA_HOME");
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("VAULTRY_UPDATE_URL", "");  // no update check: the entry says who updates Vaultry
    QProcess vaultry;
    vaultry.setProcessEnvironment(env);
    vaultry.setProcessChannelMode(QProcess::MergedChannels);
    vaultry.start(VAULTRY_GUI_PATH, {"--hidden"});
    ASSERT_TRUE(vaultry.waitForStarted(30000));
    std::string output;
    const auto logged = [&](const char* line) {
        return eventually([&] {
                   output += vaultry.readAll().toStdString();
                   return output.find(line) != std::string::npos || vaultry.state() != QProcess::Running;
               }) &&
               output.find(line) != std::string::npos;
    };
    // It has looked for a tray and found none.
    ASSERT_TRUE(logged("tray: none")) << output;

    QDBusConnection panelBus = bus.connect("panel");
    Watcher watcher;
    ASSERT_TRUE(watcher.serve(panelBus));
    ASSERT_TRUE(eventually([&] { return !watcher.registered.empty(); })) << "the item never registered\n"
                                                                         << output;
    Panel panel{panelBus, watcher.registered[0].service};
    EXPECT_EQ(panel.titles(panel.layout()), trayMenuTitles(false));
    EXPECT_TRUE(logged("tray: the icon is in the panel's tray")) << output;
    EXPECT_EQ(vaultry.state(), QProcess::Running);

    vaultry.terminate();
    if (!vaultry.waitForFinished(30000)) vaultry.kill();
    vaultry.waitForFinished(30000);
}

}  // namespace

#include "TrayTest.moc"
