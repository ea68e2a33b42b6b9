#include <gtest/gtest.h>

#include <QPropertyAnimation>
#include <QSignalSpy>
#include <QTest>
#include <string>
#include <vector>

#include "app/Notifications.h"
#include "gui/GuiHarness.h"
#include "gui/SkinWidgets.h"

using namespace vaultry;
using namespace vaultry::qt;

namespace {

// Every notification posted, in order, as (name, object).
struct Recorder {
    explicit Recorder(NotificationCenter& nc, std::vector<const char*> names) : nc_(nc) {
        for (const char* name : names)
            tokens_.push_back(nc.addObserver(
                name, [this](const Notification& n) { seen.emplace_back(std::string(n.name), n.object); }));
    }
    ~Recorder() {
        for (auto t : tokens_) nc_.removeObserver(t);
    }
    std::vector<std::pair<std::string, const void*>> seen;

private:
    NotificationCenter& nc_;
    std::vector<NotificationCenter::Token> tokens_;
};

struct Case {
    const char* press;
    const char* entered;  // nullptr: no hover behaviour
    const char* exited;
    std::function<SkinButton*(NotificationCenter&)> make;
};

const void* id(QObject* o) { return o; }

}  // namespace

TEST(SkinButtons, PostTheirPressWithThemselvesAsObjectAndRunNoActionOfTheirOwn) {
    test::guiApp();
    using namespace notify;
    const Case cases[] = {
        {PRLeftButtonMouseDown, PRLeftTipButtonMouseEntered, PRLeftTipButtonMouseExited,
         [](NotificationCenter& nc) { return new PRLeftTipButton(nc); }},
        {FBLeftButtonMouseDown, FBLeftButtonMouseEntered, FBLeftButtonMouseExited,
         [](NotificationCenter& nc) { return new FBLeftButton(nc); }},
        {PBypeButtonMouseDown, PBypeButtonMouseEntered, PBypeButtonMouseExited,
         [](NotificationCenter& nc) { return new FBTypeButton(nc); }},
        {MyClosebuttonMouseDown, nullptr, nullptr,
         [](NotificationCenter& nc) { return new PRClosedButton(nc); }},
        {PRCellButtonMouseDown, nullptr, nullptr,
         [](NotificationCenter& nc) { return new PRCellButton(nc); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.press);
        NotificationCenter nc;
        Recorder all(nc, {PRLeftButtonMouseDown, PRLeftTipButtonMouseEntered, PRLeftTipButtonMouseExited,
                          FBLeftButtonMouseDown, FBLeftButtonMouseEntered, FBLeftButtonMouseExited,
                          PBypeButtonMouseDown, PBypeButtonMouseEntered, PBypeButtonMouseExited,
                          MyClosebuttonMouseDown, PRCellButtonMouseDown});
        QWidget window;
        std::unique_ptr<SkinButton> first(c.make(nc)), second(c.make(nc));
        first->setParent(&window);
        second->setParent(&window);
        second->move(0, 40);
        window.show();
        QSignalSpy clicked(first.get(), &QAbstractButton::clicked);

        QTest::mouseClick(first.get(), Qt::LeftButton);
        QTest::mouseClick(second.get(), Qt::LeftButton);
        ASSERT_EQ(all.seen.size(), 2u);
        EXPECT_EQ(all.seen[0].first, c.press);
        EXPECT_EQ(all.seen[0].second, id(first.get()));
        EXPECT_EQ(all.seen[1].second, id(second.get())) << "the observer tells buttons apart by identity";
        EXPECT_EQ(clicked.count(), 0) << "no target/action of its own";

        QTest::mouseClick(first.get(), Qt::RightButton);
        EXPECT_EQ(all.seen.size(), 2u) << "only the primary button presses";

        all.seen.clear();
        QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
        QApplication::sendEvent(first.get(), &enter);
        const Qt::CursorShape inside = first->cursor().shape();
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(first.get(), &leave);
        if (c.entered) {
            ASSERT_EQ(all.seen.size(), 2u);
            EXPECT_EQ(all.seen[0], std::make_pair(std::string(c.entered), id(first.get())));
            EXPECT_EQ(all.seen[1], std::make_pair(std::string(c.exited), id(first.get())));
            EXPECT_EQ(inside, Qt::PointingHandCursor);
            EXPECT_EQ(first->cursor().shape(), Qt::ArrowCursor);
        } else {
            EXPECT_TRUE(all.seen.empty()) << "no hover notifications";
        }
    }
}

TEST(SkinButtons, SpaceBarPostsThePressLikeTheMouse) {
    test::guiApp();
    NotificationCenter nc;
    Recorder seen(nc, {notify::MyClosebuttonMouseDown});
    PRClosedButton button(nc);
    button.show();
    QTest::keyClick(&button, Qt::Key_Space);
    ASSERT_EQ(seen.seen.size(), 1u);
    EXPECT_EQ(seen.seen[0].second, id(&button));
}

TEST(SkinButtons, TaggedButtonsKeepTheirRectangleAndType) {
    test::guiApp();
    NotificationCenter nc;
    PRLeftTipButton tip(nc);
    tip.btnType = 7;
    tip.setCurrentViewRect(QRect(1, 2, 3, 4));
    EXPECT_EQ(tip.currentViewRect(), QRect(1, 2, 3, 4));
    EXPECT_EQ(tip.btnType, 7);
}

TEST(SkinViews, CustomWindowHasItsHeaderAndSwapsItsImage) {
    test::guiApp();
    PRCustomeWindow w;
    w.resize(500, 300);
    w.show();
    QApplication::processEvents();
    EXPECT_EQ(w.header()->height(), QMHeaderView::kHeight);
    EXPECT_EQ(w.header()->width(), w.width() - 2);
    EXPECT_EQ(w.header()->imageName(), "tablehead.png");
    w.UpdateWindowImage("filetopbanner.png");
    EXPECT_EQ(w.header()->imageName(), "filetopbanner.png");
    EXPECT_EQ(PWindowView().imageName(), "topbanner.png");
    EXPECT_EQ(PDWindowView().imageName(), "pdtopview.png");
    EXPECT_EQ(PTopWindowView().imageName(), "filetopbanner.png");
}

TEST(Shake, SwingsByFivePercentAndEndsWhereItBegan) {
    test::GuiWorld world;
    QWidget* w = world.windows.topLevels().at("enterPDWindow");
    w->show();
    w->move(200, 150);
    QApplication::processEvents();
    const QPoint origin = w->pos();
    const int d = static_cast<int>(w->width() * 0.05f);

    world.ui.shake("enterPDWindow");
    auto* anim = w->findChild<QPropertyAnimation*>("vaultryShake");
    ASSERT_NE(anim, nullptr);
    EXPECT_EQ(anim->duration(), 500);
    // The path: from the origin, eight swings left and right by d, and back to the origin.
    const auto frames = anim->keyValues();
    ASSERT_EQ(frames.size(), 18);
    EXPECT_EQ(frames.front().second.toPoint(), origin);
    EXPECT_EQ(frames.back().second.toPoint(), origin);
    for (int i = 1; i <= 16; ++i)
        EXPECT_EQ(frames[i].second.toPoint(), origin + QPoint(i % 2 ? -d : d, 0)) << "frame " << i;

    // A second wrong entry during the shake must not leave the window displaced.
    QTest::qWait(120);
    world.ui.shake("enterPDWindow");
    QPointer<QPropertyAnimation> watch(w->findChild<QPropertyAnimation*>("vaultryShake"));
    ASSERT_TRUE(watch);
    EXPECT_EQ(watch->keyValues().front().second.toPoint(), origin);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watch.isNull(); }, 10000));
    EXPECT_EQ(w->pos(), origin);
}
