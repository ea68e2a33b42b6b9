#include <gtest/gtest.h>

#include <QMainWindow>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <cstdlib>

#include "gui/GuiHarness.h"

using namespace vaultry;
using namespace vaultry::qt;

namespace {

QPushButton* quickPanelButton(QWidget* main) {
    for (auto* b : main->findChildren<QPushButton*>())
        if (b->text() == "Quick Panel") return b;
    return nullptr;
}

}  // namespace

TEST(QuickPanel, OpensAsAPopupOfTheWindowOfItsButton) {
    test::GuiWorld world;
    QMainWindow* main = world.windows.mainWindow();
    world.windows.offerTrayCommands(world.banner.menu(),
                                    [&](QWidget* anchor) { world.banner.ClickStateBanner(anchor); });
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main));
    QPushButton* button = quickPanelButton(main);
    ASSERT_NE(button, nullptr);

    QTest::mouseClick(button, Qt::LeftButton);
    QPointer<QFrame> pop = world.banner.popover();
    ASSERT_TRUE(pop);
    EXPECT_TRUE(pop->isVisible());
    EXPECT_TRUE(pop->windowFlags() & Qt::Popup);
    EXPECT_EQ(pop->parentWidget(), main);
    ASSERT_NE(pop->windowHandle(), nullptr);
    EXPECT_EQ(pop->windowHandle()->transientParent(), main->windowHandle())
        << "on Wayland an xdg_popup of the main window";
    pop->close();
    QApplication::processEvents();
}

TEST(QuickPanel, OpensBelowTheWidgetThatOpensItAndGoesWhereThatWidgetGoes) {
    test::GuiWorld world;
    // A window small enough that the panel fits below it on the test screen.
    QWidget opener;
    auto* button = new QPushButton("Quick Panel", &opener);
    button->setGeometry(30, 10, 120, 30);
    opener.resize(200, 50);
    opener.move(300, 20);
    opener.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&opener));

    world.banner.ClickStateBanner(button);
    QPointer<QFrame> pop = world.banner.popover();
    ASSERT_TRUE(pop);
    EXPECT_EQ(pop->parentWidget(), &opener);
    EXPECT_EQ(pop->windowHandle()->transientParent(), opener.windowHandle());
    const QRect at(button->mapToGlobal(QPoint(0, 0)), button->size());
    const QPoint first = pop->pos();
    EXPECT_LE(std::abs(pop->geometry().center().x() - at.center().x()), 1) << "centred on the button";
    EXPECT_GT(first.y(), at.bottom());
    EXPECT_LE(first.y(), at.bottom() + 8) << "just below the button";
    pop->close();
    QApplication::processEvents();

    opener.move(opener.pos() + QPoint(17, 11));
    QApplication::processEvents();
    ASSERT_EQ(button->mapToGlobal(QPoint(0, 0)), at.topLeft() + QPoint(17, 11));
    world.banner.ClickStateBanner(button);
    ASSERT_TRUE(world.banner.popover());
    EXPECT_EQ(world.banner.popover()->pos(), first + QPoint(17, 11));
    world.banner.popover()->close();
    QApplication::processEvents();
}

TEST(QuickPanel, BelowItsOpenerAndOnWaylandNeverPushedAwayFromIt) {
    const QRect opener(400, 300, 80, 30);
    const QSize size(200, 150);
    // Below the opener, centred on it.
    EXPECT_EQ(popoverPosition(opener, size, QRect(0, 0, 1920, 1080)), QPoint(339, 333));
    // Where the screen is known and there is no room below, above it; kept on the screen.
    EXPECT_EQ(popoverPosition(opener, size, QRect(0, 0, 1000, 420)), QPoint(339, 146));
    EXPECT_EQ(popoverPosition(QRect(0, 10, 20, 20), size, QRect(0, 0, 1000, 800)).x(), 0);
    // Room neither below nor above: beside it, never over it.
    EXPECT_EQ(popoverPosition(opener, QSize(200, 310), QRect(0, 0, 1000, 600)), QPoint(483, 159));
    EXPECT_EQ(popoverPosition(QRect(880, 300, 80, 30), QSize(200, 310), QRect(0, 0, 1000, 600)),
              QPoint(676, 159));
    // On Wayland the room is measured in the opener's window; the compositor slides the popup onto
    // the screen, so a popup that does not fit below or above within the window goes beside the
    // opener, on the window's wider side, where sliding cannot bring it over the opener.
    EXPECT_EQ(popoverPosition(QRect(-50, 2000, 80, 30), size, std::nullopt), QPoint(-110, 2033));
    const QRect window(0, 0, 926, 632);
    EXPECT_EQ(popoverPosition(QRect(400, 10, 80, 30), size, std::nullopt, window), QPoint(339, 43));
    EXPECT_EQ(popoverPosition(QRect(400, 590, 80, 30), size, std::nullopt, window), QPoint(339, 436));
    const QSize tall(363, 508);
    EXPECT_EQ(popoverPosition(QRect(16, 463, 180, 32), tall, std::nullopt, window), QPoint(199, 224));
    EXPECT_EQ(popoverPosition(QRect(800, 300, 100, 32), tall, std::nullopt, window), QPoint(433, 61));
}

TEST(QuickPanel, FromATrayIconWhosePlaceIsUnknownItOpensAsAWindowThatEscapeCloses) {
    test::GuiWorld world;
    auto& banner = world.banner;
    ASSERT_TRUE(banner.statusItem()->geometry().isEmpty()) << "no tray shows the icon here";
    banner.ClickStateBanner();
    EXPECT_EQ(banner.popover(), nullptr) << "a popup of nothing would open wherever the pointer is";
    QPointer<QWidget> window = banner.detachedWindow();
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint) << "a window the user can move";
    EXPECT_EQ((window->windowFlags() & Qt::WindowType_Mask), Qt::Window);
    EXPECT_EQ(world.windows.popoverContent()->window(), window.data());

    banner.ClickStateBanner();  // the icon again: the same window
    EXPECT_EQ(banner.detachedWindow(), window.data());

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
    QApplication::processEvents();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(window.isNull() || !window->isVisible());
    EXPECT_EQ(world.windows.popoverContent()->window(), world.windows.topLevels().at("autoTrashWindow"));
}

TEST(QuickPanel, OpenedFromTheTrayAsAWindowItClosesWhenAnotherWindowTakesTheFocus) {
    test::GuiWorld world;
    auto& banner = world.banner;
    // Gives `w` the focus and lets the window it took it from hear of that.
    const auto focus = [](QWidget* w) {
        w->activateWindow();
        if (!QTest::qWaitForWindowActive(w)) return false;
        QApplication::processEvents();
        QApplication::processEvents();
        return true;
    };
    banner.ClickStateBanner();
    QPointer<QWidget> window = banner.detachedWindow();
    ASSERT_TRUE(window);
    ASSERT_TRUE(focus(window));

    {  // a dialog of its own takes the focus: the window stays
        QWidget dialog(window, Qt::Dialog);
        dialog.show();
        ASSERT_TRUE(focus(&dialog));
        ASSERT_TRUE(window);
        EXPECT_TRUE(window->isVisible());
    }
    ASSERT_TRUE(focus(window));

    QWidget other;
    other.resize(100, 100);
    other.show();
    ASSERT_TRUE(focus(&other));
    EXPECT_TRUE(window.isNull() || !window->isVisible()) << "another window took the focus";
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(world.windows.popoverContent()->window(), world.windows.topLevels().at("autoTrashWindow"));

    // Torn off by the user's choice, the window stays when the focus goes elsewhere.
    QPushButton opener("Quick Panel");
    opener.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&opener));
    banner.ClickStateBanner(&opener);
    ASSERT_TRUE(banner.popover());
    window = banner.detachableWindowForPopover();
    ASSERT_TRUE(focus(window));
    ASSERT_TRUE(focus(&other));
    ASSERT_TRUE(window);
    EXPECT_TRUE(window->isVisible());
    window->close();
    QApplication::processEvents();
}
