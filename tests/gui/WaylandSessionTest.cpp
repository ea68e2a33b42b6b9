// Vaultry on a Wayland compositor: run by tests/wayland/under-weston in a headless weston, where
// nothing may be placed by global coordinates and a popup exists only as a child of a window.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDBusConnection>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMainWindow>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <QWindow>

#include "gui/GuiHarness.h"
#include "gui/TrayPanel.h"

namespace {
using namespace vaultry;
using test::eventually;
using test::PrivateBus;

constexpr const char* kNotWayland =
    "runs under a Wayland compositor only: the ctest entry WaylandSession starts a headless weston";

bool onWayland() { return QGuiApplication::platformName() == "wayland"; }

QPushButton* quickPanelButton(QWidget* main) {
    for (auto* b : main->findChildren<QPushButton*>())
        if (b->text() == "Quick Panel") return b;
    return nullptr;
}

TEST(WaylandSession, TheMainWindowShowsAndItsQuickPanelOpensAsAPopupOfItThatEscapeCloses) {
    test::guiApp();
    if (!onWayland()) GTEST_SKIP() << kNotWayland;
    test::GuiWorld world;
    QMainWindow* main = world.windows.mainWindow();
    world.windows.offerTrayCommands(world.banner.menu(),
                                    [&](QWidget* anchor) { world.banner.ClickStateBanner(anchor); });
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main, 30000)) << "the compositor never showed the window";
    QPushButton* button = quickPanelButton(main);
    ASSERT_NE(button, nullptr);

    // A headless weston has no seat, so no input serial: Qt makes the popup a plain surface there.
    // Its placement beside the button is seen with weston's X11 backend (README).
    QTest::mouseClick(button, Qt::LeftButton);
    QPointer<QFrame> pop = world.banner.popover();
    ASSERT_TRUE(pop);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(pop, 30000)) << "the compositor never showed the panel";
    EXPECT_EQ(pop->windowHandle()->transientParent(), main->windowHandle()) << "an xdg_popup of the window";
    EXPECT_EQ(world.windows.popoverContent()->window(), pop.data());

    QTest::keyClick(pop, Qt::Key_Escape);
    EXPECT_TRUE(eventually([&] { return pop.isNull() || !pop->isVisible(); }));
    EXPECT_EQ(world.windows.popoverContent()->window(), world.windows.topLevels().at("autoTrashWindow"));
    main->close();
    QApplication::processEvents();
}

TEST(WaylandSession, FromTheTrayItemThePanelOpensAsAWindowOfItsOwnThatEscapeCloses) {
    test::guiApp();
    if (!onWayland()) GTEST_SKIP() << kNotWayland;
    PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << PrivateBus::kMissing;
    test::GuiWorld world;
    qt::registerTrayDBusTypes();
    QDBusConnection panelBus = bus.connect("panel");
    test::Watcher watcher;
    ASSERT_TRUE(watcher.serve(panelBus));
    world.banner.followTray(bus.connect("vaultry"));
    ASSERT_TRUE(eventually([&] { return !watcher.registered.empty(); })) << "the item never registered";
    test::Panel panel{panelBus, watcher.registered[0].service};

    const QDBusMessage activated =
        panel.call(qt::StatusNotifierItem::kItemPath, test::kItemInterface, "Activate", {100, 10});
    EXPECT_EQ(activated.type(), QDBusMessage::ReplyMessage) << activated.errorMessage().toStdString();
    ASSERT_TRUE(eventually([&] { return world.banner.detachedWindow() != nullptr; }));
    QPointer<QWidget> window = world.banner.detachedWindow();
    EXPECT_EQ(world.banner.popover(), nullptr) << "no popup where the icon's place is unknown";
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window, 30000)) << "the compositor never showed the panel";
    EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint) << "a window the user can move";
    EXPECT_EQ(window->windowHandle()->transientParent(), nullptr);

    QTest::keyClick(window, Qt::Key_Escape);
    EXPECT_TRUE(eventually([&] { return window.isNull() || !window->isVisible(); }));
}

// The program itself, as a Wayland session starts it: it comes up on the compositor, puts its item
// in the panel's tray, opens its panel from the item and quits from the item's menu.
TEST(WaylandSession, VaultryRunsOnTheCompositorAndAnswersFromItsTrayItem) {
    test::guiApp();
    if (!onWayland()) GTEST_SKIP() << kNotWayland;
    ASSERT_TRUE(QFileInfo(VAULTRY_GUI_PATH).isExecutable()) << VAULTRY_GUI_PATH;
    PrivateBus bus;
    if (bus.address().isEmpty()) GTEST_SKIP() << PrivateBus::kMissing;
    qt::registerTrayDBusTypes();
    QDBusConnection panelBus = bus.connect("panel");
    test::Watcher watcher;
    ASSERT_TRUE(watcher.serve(panelBus));

    test::TempDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("HOME", QString::fromStdString(home.path().string()));
    env.remove("XDG_CONFIG_HOME");
    env.remove("XDG_DATA_HOME");
    env.insert("QT_QPA_PLATFORM", "wayland");  // no fallback: a missing plugin fails the start
    env.insert("DBUS_SESSION_BUS_ADDRESS", bus.address());
    env.insert("VAULTRY_UPDATE_URL", "");
    // Under AddressSanitizer: Qt may unload its Wayland plugin, and the client library with it,
    // before the leak check at exit, which then cannot name (nor suppress) what they left behind.
    // Vaultry's own code is leak-checked in this binary's other tests.
    if (env.contains("ASAN_OPTIONS"))
        env.insert("ASAN_OPTIONS", env.value("ASAN_OPTIONS") + ":detect_leaks=0");
    QProcess vaultry;
    vaultry.setProcessEnvironment(env);
    vaultry.setProcessChannelMode(QProcess::MergedChannels);
    vaultry.start(VAULTRY_GUI_PATH, {});
    ASSERT_TRUE(vaultry.waitForStarted(30000));
    std::string output;
    const auto running = [&] {
        output += vaultry.readAll().toStdString();
        return vaultry.state() == QProcess::Running;
    };
    ASSERT_TRUE(eventually([&] { return !running() || !watcher.registered.empty(); }));
    ASSERT_FALSE(watcher.registered.empty()) << "the item never registered\n" << output;
    test::Panel panel{panelBus, watcher.registered[0].service};
    const qt::DBusMenuLayout menu = panel.layout();
    EXPECT_EQ(panel.titles(menu), test::trayMenuTitles(false));

    const QDBusMessage activated =
        panel.call(qt::StatusNotifierItem::kItemPath, test::kItemInterface, "Activate", {100, 10});
    EXPECT_EQ(activated.type(), QDBusMessage::ReplyMessage) << activated.errorMessage().toStdString();
    QTest::qWait(500);
    ASSERT_TRUE(running()) << output;

    const int quit = panel.idOf(menu, "Quit Vaultry");
    ASSERT_GT(quit, 0);
    panel.call(panel.menuPath(), test::kMenuInterface, "Event",
               {quit, QString("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
    EXPECT_TRUE(eventually([&] { return !running(); })) << output;
    if (vaultry.state() != QProcess::NotRunning) {
        vaultry.kill();
        vaultry.waitForFinished(30000);
    }
    EXPECT_EQ(vaultry.exitStatus(), QProcess::NormalExit) << output;
    EXPECT_EQ(vaultry.exitCode(), 0) << output;
}

}  // namespace
