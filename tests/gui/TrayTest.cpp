// The tray icon as a StatusNotifierItem, seen from the panel's side: a watcher of our own on a
// private session bus takes the item's registration, reads its menu as a panel does and clicks it.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QFileInfo>
#include <QMenu>
#include <QProcess>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <string>
#include <vector>

#include "gui/GuiHarness.h"
#include "gui/TrayPanel.h"

// Failures show the text, not its UTF-16 units.
static void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {
using namespace vaultry;
using test::answerOf;
using test::eventually;
using test::kItemInterface;
using test::kMenuInterface;
using test::kWatcher;
using test::Panel;
using test::PrivateBus;
using test::trayMenuTitles;
using test::Watcher;

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
    // Plasma's host hands a Wayland activation token over first; it serves that click alone and
    // is not left for the programs Vaultry starts.
    const QDBusMessage token = panel.call(qt::StatusNotifierItem::kItemPath, kItemInterface,
                                          "ProvideXdgActivationToken", {QString("token-1")});
    EXPECT_EQ(token.type(), QDBusMessage::ReplyMessage) << token.errorMessage().toStdString();
    QSignalSpy clicks(world.banner.notifierItem(), &qt::StatusNotifierItem::activated);
    const QDBusMessage activated =
        panel.call(qt::StatusNotifierItem::kItemPath, kItemInterface, "Activate", {100, 10});
    EXPECT_EQ(activated.type(), QDBusMessage::ReplyMessage) << activated.errorMessage().toStdString();
    EXPECT_TRUE(eventually(
        [&] { return world.banner.detachedWindow() && world.banner.detachedWindow()->isVisible(); }));
    ASSERT_EQ(clicks.count(), 1);
    EXPECT_EQ(clicks.at(0).at(0).toString(), "token-1");
    EXPECT_FALSE(qEnvironmentVariableIsSet("XDG_ACTIVATION_TOKEN"));
    world.banner.detachedWindow()->close();
    panel.call(qt::StatusNotifierItem::kItemPath, kItemInterface, "Activate", {100, 10});
    ASSERT_TRUE(eventually([&] { return clicks.count() == 2; }));
    EXPECT_EQ(clicks.at(1).at(0).toString(), "") << "a token serves one click";
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
