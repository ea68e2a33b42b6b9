#pragma once
#include <QPointer>
#include <QPushButton>
#include <QRect>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <mutex>

#include "app/NotificationCenter.h"
#include "app/Notifications.h"

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
    void setHovered(bool hovered);

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

// Each kind of skin button is a class of its own, so that a controller or a test can tell the kinds
// apart by type; a kind differs from its base only in the notifications it posts.
#define VAULTRY_SKIN_BUTTON(Kind, Base, ...)                             \
    class Kind final : public Base {                                     \
        Q_OBJECT                                                         \
    public:                                                              \
        explicit Kind(NotificationCenter& nc, QWidget* parent = nullptr) \
            : Base(nc, {__VA_ARGS__}, parent) {}                         \
    }

VAULTRY_SKIN_BUTTON(PRLeftTipButton, TaggedButton, notify::PRLeftButtonMouseDown,
                    notify::PRLeftTipButtonMouseEntered, notify::PRLeftTipButtonMouseExited);
VAULTRY_SKIN_BUTTON(FBLeftButton, SkinButton, notify::FBLeftButtonMouseDown, notify::FBLeftButtonMouseEntered,
                    notify::FBLeftButtonMouseExited);
VAULTRY_SKIN_BUTTON(FBTypeButton, SkinButton, notify::PBypeButtonMouseDown, notify::PBypeButtonMouseEntered,
                    notify::PBypeButtonMouseExited);
VAULTRY_SKIN_BUTTON(PRClosedButton, SkinButton, notify::MyClosebuttonMouseDown);
VAULTRY_SKIN_BUTTON(PRCellButton, TaggedButton, notify::PRCellButtonMouseDown);
#undef VAULTRY_SKIN_BUTTON

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

// Title banners of the password and preferences windows: an image view that starts with its image.
template <const char* Image>
class BannerView final : public ImageView {
public:
    explicit BannerView(QWidget* parent = nullptr) : ImageView(QString::fromLatin1(Image), parent) {}
};
inline constexpr char kTopBanner[] = "topbanner.png";
inline constexpr char kPasswordBanner[] = "pdtopview.png";
inline constexpr char kFileBanner[] = "filetopbanner.png";
using PWindowView = BannerView<kTopBanner>;
using PDWindowView = BannerView<kPasswordBanner>;
using PTopWindowView = BannerView<kFileBanner>;

// Hands a window over to the compositor or window manager to be moved with the pointer that is
// pressed now; false where the platform cannot (an X11 window manager without _NET_WM_MOVERESIZE,
// the offscreen platform), and the caller then follows the pointer itself.
bool startSystemMove(QWidget* window);

// A frameless window on a white ground that moves when dragged by its background.
class SkinWindow : public QWidget {
    Q_OBJECT
public:
    explicit SkinWindow(QWidget* parent = nullptr);
    // Asked before the window is closed from outside (the close command or the window manager); false keeps
    // it open.
    std::function<bool()> shouldClose;
    // How a press on the background starts the move; the window follows the pointer itself when this
    // answers false. On Wayland only the compositor can move a window.
    std::function<bool(QWidget*)> systemMove = startSystemMove;

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
