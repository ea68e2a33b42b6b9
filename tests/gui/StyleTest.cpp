#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QStandardItemModel>
#include <QStyleOptionViewItem>

#include "gui/Builders.h"
#include "gui/GuiHarness.h"
#include "gui/SkinWidgets.h"
#include "gui/Style.h"
#include "gui/VaultTable.h"

using namespace vaultry;
using namespace vaultry::qt;

namespace {

// Styles the application light or dark for one test and gives it back the desktop's scheme after.
struct Scheme {
    explicit Scheme(bool dark) {
        test::guiApp();
        applyStyle(dark);
    }
    ~Scheme() { applyStyle(); }
};

QImage paintRow(QStyle::State state, bool showEnabled = false) {
    QStandardItemModel model(1, 1);
    model.setData(model.index(0, 0), QStringLiteral("Tax return 2025.pdf"));
    model.setData(model.index(0, 0), showEnabled ? "find.png" : "finddown.png", VaultTableModel::ShowRole);
    model.setData(model.index(0, 0), showEnabled, VaultTableModel::ShowEnabledRole);
    VaultRowDelegate delegate;
    QStyleOptionViewItem option;
    option.rect = QRect(0, 0, 600, VaultRowDelegate::kRowHeight);
    option.state = QStyle::State_Enabled | state;
    option.font = QApplication::font();
    option.palette = QApplication::palette();
    QImage image(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::magenta);
    QPainter p(&image);
    delegate.paint(&p, option, model.index(0, 0));
    return image;
}

QImage paintFace(const char* face, QColor title) {
    NotificationCenter nc;
    PRCellButton button(nc);
    faceButton(&button, face, QStringLiteral("Choose…"), QSize(120, 32), title);
    button.ensurePolished();
    return button.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

int lightest(const QImage& image, const QRect& area) {
    int most = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            most = std::max(most, image.pixelColor(x, y).lightness());
    return most;
}

// The lightest pixel of the button's middle, where its title is written.
int lightestTitlePixel(const QImage& face) { return lightest(face, QRect(30, 8, 60, 16)); }

}  // namespace

TEST(DarkScheme, VaultRowsTakeDarkGroundsAndTheLightSchemeKeepsItsOwn) {
    const QPoint ground(300, 4);  // clear of the picture, the text and the buttons
    const QPoint frame(16, VaultRowDelegate::kRowHeight / 2 - 18);  // the picture's frame
    {
        Scheme light(false);
        EXPECT_EQ(paintRow({}).pixelColor(ground), QColor("#ffffff"));
        EXPECT_EQ(paintRow(QStyle::State_Selected).pixelColor(ground), QColor("#eef2ff"));
        EXPECT_EQ(paintRow(QStyle::State_MouseOver).pixelColor(ground), QColor("#f8fafc"));
        EXPECT_EQ(paintRow({}).pixelColor(frame), QColor("#f1f5f9"));
    }
    Scheme dark(true);
    const QColor window = QApplication::palette().color(QPalette::Window);
    for (auto state :
         {QStyle::State{}, QStyle::State(QStyle::State_Selected), QStyle::State(QStyle::State_MouseOver)}) {
        const QImage row = paintRow(state);
        EXPECT_LT(row.pixelColor(ground).lightness(), 80) << "state " << int(state);
        EXPECT_LT(row.pixelColor(frame).lightness(), 80) << "state " << int(state);
    }
    EXPECT_EQ(paintRow({}).pixelColor(ground), window);
    // Selected and hovered rows still stand apart from the others.
    EXPECT_NE(paintRow(QStyle::State_Selected).pixelColor(ground), window);
    // A show button that cannot act recedes rather than shining brighter than one that can.
    const QRect show = VaultRowDelegate::showRect(QRect(0, 0, 600, VaultRowDelegate::kRowHeight));
    const int off = lightest(paintRow({}, false), show), on = lightest(paintRow({}, true), show);
    EXPECT_LT(off, on);
    EXPECT_LT(off, 120);
}

TEST(DarkScheme, SurfaceFaceButtonsDarkenWithTheirTitlesWhileAccentFacesStay) {
    const QPoint inside(10, 16);  // within the rounded face, left of the title
    const QColor title("#334155");
    {
        Scheme light(false);
        const QImage storage = paintFace("storagenom.png", title);
        EXPECT_EQ(storage.pixelColor(inside), QColor("#ffffff"));
        EXPECT_EQ(paintFace("donenom.png", Qt::white).pixelColor(inside), QColor("#4f46e5"));
    }
    Scheme dark(true);
    const QImage storage = paintFace("storagenom.png", title);
    EXPECT_LT(storage.pixelColor(inside).lightness(), 80);
    // The dark title on a dark face would vanish: it lightens with the face.
    EXPECT_GT(lightestTitlePixel(storage), 180);
    // The accent face and its white title look the same in both schemes.
    const QImage done = paintFace("donenom.png", Qt::white);
    EXPECT_EQ(done.pixelColor(inside), QColor("#4f46e5"));
    EXPECT_GT(lightestTitlePixel(done), 240);
}
