#pragma once
#include <QIcon>
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "platform/Ui.h"

namespace vaultry::qt {

// Turns the core's image names, files and "icon of path" into pixels.
QIcon iconFor(const platform::ImageRef& image);

// The tray icon's name in the icon theme: the symbolic icon installed under hicolor. A
// StatusNotifierItem host (KDE Plasma, GNOME Shell's AppIndicator support) takes it by name and
// paints it in the panel's colours.
inline constexpr char kTrayIconName[] = "com.Quenmark.vaultry-symbolic";
// The tray icon: the themed symbolic icon where it is installed, else the picture named (the light
// or dark pixmap the controller chooses).
QIcon trayIconFor(const platform::ImageRef& fallback);

// The Qt adapter of the Ui port. Windows register their widgets under the names of the outlet list
// (platform/Outlets.h); a registered outlet whose widget is gone keeps its state here. A name
// outside the list, or one no window registered, is refused: logged, and reported to the refusal
// handler (tests make it a failure).
class QtUi final : public platform::Ui {
public:
    // Tables and browsers re-read their model through this.
    using Reloader = std::function<void()>;

    void registerOutlet(const std::string& name, QObject* object);
    void registerReloader(const std::string& name, Reloader reload);
    using Refusals = std::function<void(std::string_view name)>;
    // For every adapter of the process (tests install one before building any window).
    static void onRefusal(Refusals handler) { refusals_ = std::move(handler); }
    // Whether the desktop's own file picker (the portal's, GTK's, Plasma's) stands in for Qt's
    // dialog; unset, Qt says. Tests set it to see the desktop's way on a platform without one.
    static void assumeDesktopPicker(std::optional<bool> present) { desktopPicker_ = present; }
    QObject* object(std::string_view name) const;
    template <typename T>
    T* widget(std::string_view name) const {
        return qobject_cast<T*>(object(name));
    }

    const void* outlet(std::string_view name) override;
    void showWindow(std::string_view window) override;
    void hideWindow(std::string_view window) override;
    void centerWindow(std::string_view window) override;
    bool isVisible(std::string_view window) override;
    void activateApp() override;
    void shake(std::string_view window) override;
    void setHidden(std::string_view outlet, bool hidden) override;
    bool isHidden(std::string_view outlet) override;
    using Ui::setImage;
    void setImage(std::string_view outlet, const platform::ImageRef& image) override;
    platform::ImageRef image(std::string_view outlet) override;
    void setText(std::string_view outlet, std::string text) override;
    std::string text(std::string_view outlet) override;
    void setEnabled(std::string_view outlet, bool enabled) override;
    void setState(std::string_view outlet, bool on) override;
    bool state(std::string_view outlet) override;
    void setNumber(std::string_view outlet, double value) override;
    double number(std::string_view outlet) override;
    void reload(std::string_view table) override;
    std::int64_t clickedRow(std::string_view table) override;
    platform::AlertAnswer runAlert(const platform::Alert& alert) override;
    std::optional<Paths> runOpenPanel(const platform::OpenPanel& panel) override;
    void beginSheet(std::string_view window, const platform::OpenPanel& panel,
                    std::function<void(std::optional<Paths>)> done) override;
    std::optional<std::string> runSavePanel(const platform::SavePanel& panel) override;
    void runWithProgress(std::string title, Progress& progress, const std::function<void()>& work) override;
    void terminate() override;
    bool darkAppearance() override;

private:
    struct Fallback {
        bool hidden = false, visible = false, enabled = true, state = false;
        double number = 0;
        platform::ImageRef image;
        std::string text;
    };
    Fallback& fallback(std::string_view name);
    QWidget* windowOf(std::string_view name) const;
    void refuse(std::string_view name);
    bool desktopPicker() const;

    std::map<std::string, QPointer<QObject>, std::less<>> objects_;
    std::map<std::string, Reloader, std::less<>> reloaders_;
    std::map<std::string, platform::ImageRef, std::less<>> images_;
    std::map<std::string, Fallback, std::less<>> fallbacks_;
    static inline Refusals refusals_;
    static inline std::optional<bool> desktopPicker_;
};

}  // namespace vaultry::qt
