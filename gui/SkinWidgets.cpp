#include "gui/SkinWidgets.h"

#include <QCloseEvent>
#include <QFile>
#include <QHash>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QStyleOptionButton>
#include <QSvgRenderer>
#include <QVBoxLayout>
#include <QWindow>

#include "app/Notifications.h"
#include "gui/QtUi.h"
#include "gui/Style.h"

namespace vaultry::qt {
namespace {

// A face image's dark variant: its vector source with the scheme's colours swapped, made once per
// image; empty when the image has no vector source or no colour of the light scheme's surfaces.
QByteArray darkFace(const QString& image) {
    static QHash<QString, QByteArray> cache;
    auto it = cache.find(image);
    if (it == cache.end()) {
        QByteArray dark;
        QFile file(":/assets/" + image + ".svg");
        if (!image.isEmpty() && file.open(QIODevice::ReadOnly)) {
            const QString light = QString::fromUtf8(file.readAll());
            const QString recoloured = qt::recoloured(light, true);
            if (recoloured != light) dark = recoloured.toUtf8();
        }
        it = cache.insert(image, dark);
    }
    return *it;
}

}  // namespace

SkinButton::SkinButton(NotificationCenter& centre, Names names, QWidget* parent)
    : QPushButton(parent), nc(centre), names_(names) {
    setProperty("skin", true);
    setFlat(true);
    setAutoDefault(false);
    setFocusPolicy(Qt::TabFocus);
    setMouseTracking(true);
    setAttribute(Qt::WA_Hover);
}

void SkinButton::setFace(bool face, QColor titleColour, QString faceImage) {
    face_ = face;
    titleColour_ = titleColour;
    if (faceImage.endsWith(".png")) faceImage.chop(4);
    faceImage_ = std::move(faceImage);
    update();
}

void SkinButton::post() { nc.post(names_.press, static_cast<const void*>(static_cast<QObject*>(this))); }

// The standard press handling (highlight, clicked signal) never runs: the press is only posted.
void SkinButton::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    post();
}

void SkinButton::mouseReleaseEvent(QMouseEvent* event) { event->accept(); }

void SkinButton::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
        event->accept();
        post();
        return;
    }
    QWidget::keyPressEvent(event);
}

void SkinButton::keyReleaseEvent(QKeyEvent* event) { QWidget::keyReleaseEvent(event); }

void SkinButton::setHovered(bool hovered) {
    hovered_ = hovered;
    if (const char* name = hovered ? names_.entered : names_.exited) {
        setCursor(hovered ? Qt::PointingHandCursor : Qt::ArrowCursor);
        nc.post(name, static_cast<const void*>(static_cast<QObject*>(this)));
    }
    update();
}

void SkinButton::enterEvent(QEnterEvent* event) {
    setHovered(true);
    QPushButton::enterEvent(event);
}

void SkinButton::leaveEvent(QEvent* event) {
    setHovered(false);
    QPushButton::leaveEvent(event);
}

void SkinButton::paintEvent(QPaintEvent* event) {
    if (!face_) {
        QPushButton::paintEvent(event);
        return;
    }
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRect r = rect();
    const qreal dpr = devicePixelRatioF();
    const QIcon face = icon();
    QColor c = titleColour_;
    const QByteArray dark = darkPalette() ? darkFace(faceImage_) : QByteArray();
    if (!dark.isEmpty()) {
        QSvgRenderer svg(dark);
        if (!isEnabled()) p.setOpacity(0.5);
        svg.render(&p, QRectF(r));
        p.setOpacity(1.0);
        c = QColor(recoloured(c.name(), true));
    } else if (!face.isNull()) {
        QPixmap pm = face.pixmap(r.size(), dpr, isEnabled() ? QIcon::Normal : QIcon::Disabled);
        p.drawPixmap(r, pm);
    }
    if (hovered_ && isEnabled()) {
        QPainterPath path;
        path.addRoundedRect(QRectF(r).adjusted(0.5, 0.5, -0.5, -0.5), r.height() / 2.0, r.height() / 2.0);
        p.fillPath(path, QColor(255, 255, 255, 28));
    }
    QFont f = font();
    f.setWeight(QFont::DemiBold);
    p.setFont(f);
    if (!isEnabled()) c.setAlpha(120);
    p.setPen(c);
    p.drawText(r, Qt::AlignCenter, text());
    if (hasFocus()) {
        p.setPen(QPen(QColor(99, 102, 241, 160), 2));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(r).adjusted(1, 1, -1, -1), r.height() / 2.0 - 1, r.height() / 2.0 - 1);
    }
}

QRect TaggedButton::currentViewRect() const {
    std::lock_guard lock(rectMutex_);
    return currentViewRect_;
}

void TaggedButton::setCurrentViewRect(const QRect& rect) {
    std::lock_guard lock(rectMutex_);
    currentViewRect_ = rect;
}

ImageView::ImageView(QString imageName, QWidget* parent)
    : QWidget(parent), imageName_(std::move(imageName)) {}

void ImageView::setImageName(const QString& name) {
    imageName_ = name;
    update();
}

void ImageView::setTitleColour(const QColor& colour) {
    titleColour_ = colour;
    update();
}

void ImageView::setTitle(const QString& title, const QString& subtitle) {
    title_ = title;
    subtitle_ = subtitle;
    update();
}

void ImageView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    // Drawn from the vector source stretched over the bounds, so it never blurs.
    QString base = imageName_;
    if (base.endsWith(".png")) base.chop(4);
    QSvgRenderer svg(":/assets/" + base + ".svg");
    if (svg.isValid()) {
        svg.render(&p, QRectF(rect()));
    } else {
        const QIcon image = iconFor(platform::ImageRef::named(imageName_.toStdString()));
        if (!image.isNull()) image.paint(&p, rect(), Qt::AlignCenter, QIcon::Normal, QIcon::Off);
    }
    if (title_.isEmpty()) return;
    const int left = 22;
    QFont big = font();
    big.setPointSizeF(big.pointSizeF() * 1.35);
    big.setWeight(QFont::Bold);
    QFont small = font();
    p.setPen(titleColour_);
    if (subtitle_.isEmpty()) {
        if (height() < 40) {  // a header strip: a small centred caption
            p.setFont(small);
            p.drawText(rect(), Qt::AlignCenter, title_);
            return;
        }
        p.setFont(big);
        p.drawText(rect().adjusted(left, 0, -60, 0), Qt::AlignVCenter | Qt::AlignLeft, title_);
        return;
    }
    const QFontMetrics bm(big), sm(small);
    const int total = bm.height() + 2 + sm.height();
    const int top = (height() - total) / 2;
    p.setFont(big);
    p.drawText(QRect(left, top, width() - left - 60, bm.height()), Qt::AlignLeft | Qt::AlignVCenter, title_);
    p.setFont(small);
    p.setPen(QColor(255, 255, 255, 200));
    p.drawText(QRect(left, top + bm.height() + 2, width() - left - 60, sm.height()),
               Qt::AlignLeft | Qt::AlignVCenter, subtitle_);
}

QMHeaderView::QMHeaderView(QWidget* parent) : ImageView("tablehead.png", parent) {
    setTitleColour(QColor("#64748b"));
    setFixedHeight(kHeight);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

SkinWindow::SkinWindow(QWidget* parent) : QWidget(parent, Qt::Window | Qt::FramelessWindowHint) {}

void SkinWindow::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), palette().color(QPalette::Window));
    p.setPen(QColor(0, 0, 0, 50));
    p.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool startSystemMove(QWidget* window) {
    QWindow* handle = window ? window->window()->windowHandle() : nullptr;
    return handle && handle->startSystemMove();
}

void SkinWindow::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        dragging_ = false;
        if (systemMove && systemMove(this)) {
            event->accept();
            return;
        }
        dragging_ = true;
        dragOffset_ = event->globalPosition().toPoint() - frameGeometry().topLeft();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void SkinWindow::mouseMoveEvent(QMouseEvent* event) {
    if (dragging_ && (event->buttons() & Qt::LeftButton)) {
        move(event->globalPosition().toPoint() - dragOffset_);
        event->accept();
        return;
    }
    QWidget::mouseMoveEvent(event);
}

void SkinWindow::mouseReleaseEvent(QMouseEvent* event) {
    dragging_ = false;
    QWidget::mouseReleaseEvent(event);
}

void SkinWindow::closeEvent(QCloseEvent* event) {
    if (shouldClose && !shouldClose()) {
        event->ignore();
        return;
    }
    event->accept();
}

PRCustomeWindow::PRCustomeWindow(QWidget* parent) : SkinWindow(parent) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);
    header_ = new QMHeaderView(this);
    connect(this, &QWidget::windowTitleChanged, header_, [this](const QString& t) { header_->setTitle(t); });
    body_ = new QWidget(this);
    layout->addWidget(header_);
    layout->addWidget(body_, 1);
}

void PRCustomeWindow::UpdateWindowImage(const QString& imageName) { header_->setImageName(imageName); }

void PRCustomeWindow::resizeEvent(QResizeEvent* event) { SkinWindow::resizeEvent(event); }

}  // namespace vaultry::qt
