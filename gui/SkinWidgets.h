#pragma once
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <mutex>

#include "app/NotificationCenter.h"

namespace vaultry::qt {

// An image button that performs nothing itself: a press is posted to the notification centre
// under the class's name with the button as the object, and the observing controller tells the
// buttons apart by identity. Hover buttons also switch the cursor and post enter and exit.
class SkinButton : public QPushButton {
    Q_OBJECT
public:
    struct Names {
        const char* press;
        const char* entered = nullptr;  // nullptr: no hover notifications and no cursor change
        const char* exited = nullptr;
    };
    SkinButton(NotificationCenter& centre, Names names, QWidget* parent = nullptr);

    NotificationCenter& nc;

    // The image covers the whole button and the title is written on it (filled buttons);
    // otherwise the image is an icon beside the title. A face named by its image and drawn in the
    // light scheme's surface colours is drawn, title and all, in their dark counterparts while the
    // palette is dark; faces in the accent colour look the same in both.
    void setFace(bool face, QColor titleColour = Qt::white, QString faceImage = {});
    bool isFace() const { return face_; }
    // Hands the press on (what a mouse press or the space bar does).
    void post();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    Names names_;
    bool face_ = false;
    QString faceImage_;
    bool hovered_ = false;
    QColor titleColour_ = Qt::white;
};

// The rectangle and type tag that tip and cell buttons carry for whoever wants them.
class TaggedButton : public SkinButton {
    Q_OBJECT
public:
    using SkinButton::SkinButton;
    std::int32_t btnType = 0;
    QRect currentViewRect() const;
    void setCurrentViewRect(const QRect& rect);

private:
    mutable std::mutex rectMutex_;
    QRect currentViewRect_;
};

class PRLeftTipButton final : public TaggedButton {
    Q_OBJECT
public:
    explicit PRLeftTipButton(NotificationCenter& nc, QWidget* parent = nullptr);
};

class FBLeftButton final : public SkinButton {
    Q_OBJECT
public:
    explicit FBLeftButton(NotificationCenter& nc, QWidget* parent = nullptr);
};

class FBTypeButton final : public SkinButton {
    Q_OBJECT
public:
    explicit FBTypeButton(NotificationCenter& nc, QWidget* parent = nullptr);
};

class PRClosedButton final : public SkinButton {
    Q_OBJECT
public:
    explicit PRClosedButton(NotificationCenter& nc, QWidget* parent = nullptr);
};

class PRCellButton final : public TaggedButton {
    Q_OBJECT
public:
    explicit PRCellButton(NotificationCenter& nc, QWidget* parent = nullptr);
};

// A view that draws one named image stretched over its bounds, with an optional title and
// subtitle written on it.
class ImageView : public QWidget {
    Q_OBJECT
public:
    ImageView(QString imageName, QWidget* parent = nullptr);
    void setImageName(const QString& name);
    QString imageName() const { return imageName_; }
    void setTitle(const QString& title, const QString& subtitle = {});
    void setTitleColour(const QColor& colour);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString imageName_, title_, subtitle_;
    QColor titleColour_ = Qt::white;
};

// The header strip of a skinned window; UpdateWindowImage swaps its image.
class QMHeaderView final : public ImageView {
    Q_OBJECT
public:
    static constexpr int kHeight = 25;
    explicit QMHeaderView(QWidget* parent = nullptr);
};

// Title banners of the password and preferences windows.
class PWindowView final : public ImageView {
    Q_OBJECT
public:
    explicit PWindowView(QWidget* parent = nullptr) : ImageView("topbanner.png", parent) {}
};
class PDWindowView final : public ImageView {
    Q_OBJECT
public:
    explicit PDWindowView(QWidget* parent = nullptr) : ImageView("pdtopview.png", parent) {}
};
class PTopWindowView final : public ImageView {
    Q_OBJECT
public:
    explicit PTopWindowView(QWidget* parent = nullptr) : ImageView("filetopbanner.png", parent) {}
};

// A frameless window on a white ground that moves when dragged by its background.
class SkinWindow : public QWidget {
    Q_OBJECT
public:
    explicit SkinWindow(QWidget* parent = nullptr);
    // Asked before the window is closed from outside (the close command or the window manager); false keeps
    // it open.
    std::function<bool()> shouldClose;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    QPoint dragOffset_;
    bool dragging_ = false;
};

// A skinned window with the 25-pixel header across its top.
class PRCustomeWindow final : public SkinWindow {
    Q_OBJECT
public:
    explicit PRCustomeWindow(QWidget* parent = nullptr);
    QMHeaderView* header() const { return header_; }
    void UpdateWindowImage(const QString& imageName);
    // Where the window's own content goes, below the header.
    QWidget* body() const { return body_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QMHeaderView* header_;
    QWidget* body_;
};

}  // namespace vaultry::qt
