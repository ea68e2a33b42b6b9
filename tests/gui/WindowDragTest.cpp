#include <gtest/gtest.h>

#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTest>
#include <QVBoxLayout>
#include <vector>

#include "gui/GuiHarness.h"
#include "gui/SkinWidgets.h"

using namespace vaultry;
using namespace vaultry::qt;

namespace {

void send(QWidget* to, QEvent::Type type, QPoint local, Qt::MouseButtons held) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(local), QPointF(to->mapToGlobal(local)), button, held, Qt::NoModifier);
    QApplication::sendEvent(to, &event);
}

// A skinned window on the screen with a label and a button on its background.
struct Skinned {
    Skinned() {
        auto* v = new QVBoxLayout(&window);
        v->addWidget(label);
        v->addWidget(button);
        window.resize(300, 200);
        window.move(120, 90);
        window.show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    test::GuiAppFirst app;
    SkinWindow window;
    QLabel* label = new QLabel("Vault");
    QPushButton* button = new QPushButton("OK");
};

}  // namespace

TEST(WindowDrag, APressOnTheBackgroundHandsTheMoveToTheCompositor) {
    Skinned s;
    std::vector<QWidget*> asked;
    s.window.systemMove = [&](QWidget* w) {
        asked.push_back(w);
        return true;
    };
    const QPoint before = s.window.pos();
    send(&s.window, QEvent::MouseButtonPress, {5, 5}, Qt::LeftButton);
    ASSERT_EQ(asked, std::vector<QWidget*>{&s.window});
    // The compositor moves the window now; the window does not follow the pointer as well.
    send(&s.window, QEvent::MouseMove, {45, 35}, Qt::LeftButton);
    send(&s.window, QEvent::MouseButtonRelease, {45, 35}, Qt::NoButton);
    EXPECT_EQ(s.window.pos(), before);

    // A label is background; a button keeps its press.
    send(s.label, QEvent::MouseButtonPress, {2, 2}, Qt::LeftButton);
    send(s.label, QEvent::MouseButtonRelease, {2, 2}, Qt::NoButton);
    EXPECT_EQ(asked.size(), 2u);
    send(s.button, QEvent::MouseButtonPress, {2, 2}, Qt::LeftButton);
    send(s.button, QEvent::MouseButtonRelease, {2, 2}, Qt::NoButton);
    EXPECT_EQ(asked.size(), 2u);
}

TEST(WindowDrag, WhereThePlatformCannotMoveItTheWindowFollowsThePointer) {
    Skinned s;
    // The offscreen platform, like an X11 window manager without _NET_WM_MOVERESIZE, moves nothing.
    EXPECT_FALSE(startSystemMove(&s.window));
    const QPoint before = s.window.pos();
    send(&s.window, QEvent::MouseButtonPress, {10, 10}, Qt::LeftButton);
    send(&s.window, QEvent::MouseMove, {40, 30}, Qt::LeftButton);
    EXPECT_EQ(s.window.pos(), before + QPoint(30, 20));
    send(&s.window, QEvent::MouseButtonRelease, {10, 10}, Qt::NoButton);
    send(&s.window, QEvent::MouseMove, {60, 60}, Qt::NoButton);
    EXPECT_EQ(s.window.pos(), before + QPoint(30, 20)) << "the drag ended with the release";
}
