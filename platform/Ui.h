#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Image.h"
#include "util/Progress.h"

namespace vaultry::platform {

enum class AlertAnswer { Default, Alternate, Other };

// A modal alert. Titles carry their blanks (" Ok ", " Cancel "); an empty title means no button.
struct Alert {
    std::string message;
    std::string informative;
    std::string defaultTitle;
    std::string alternateTitle;
    std::string otherTitle;
};

struct OpenPanel {
    bool chooseFiles = true;
    bool chooseDirectories = false;
    bool multipleSelection = false;
    bool canCreateDirectories = false;
    std::string message;
    std::string directory;  // where the panel starts; empty: the toolkit's choice
    std::string prompt;     // the OK button's title; empty: the toolkit's
};

struct SavePanel {
    std::string directory;
    std::string fileName;
    std::string message;
};

// The screen as controllers see it: windows and controls addressed by their outlet names
// ("warnlab", "switchBtn", "thefileManageWindow"). The GUI maps names to widgets; tests keep a
// map of states and a queue of scripted answers.
class Ui {
public:
    using Paths = std::vector<std::string>;
    virtual ~Ui() = default;

    // The identity of an outlet's object, as it appears as the object of a notification.
    virtual const void* outlet(std::string_view name) = 0;

    // Windows.
    virtual void showWindow(std::string_view window) = 0;  // show, center, bring forward
    virtual void hideWindow(std::string_view window) = 0;
    virtual void centerWindow(std::string_view window) = 0;
    virtual bool isVisible(std::string_view window) = 0;
    virtual void activateApp() = 0;
    virtual void shake(std::string_view window) = 0;

    // Controls.
    virtual void setHidden(std::string_view outlet, bool hidden) = 0;
    virtual bool isHidden(std::string_view outlet) = 0;
    virtual void setImage(std::string_view outlet, const ImageRef& image) = 0;
    void setImage(std::string_view o, std::string name) { setImage(o, ImageRef::named(std::move(name))); }
    virtual ImageRef image(std::string_view outlet) = 0;
    virtual void setText(std::string_view outlet, std::string text) = 0;
    virtual std::string text(std::string_view outlet) = 0;
    virtual void setEnabled(std::string_view outlet, bool enabled) = 0;
    virtual void setState(std::string_view outlet, bool on) = 0;  // check boxes, switches
    virtual bool state(std::string_view outlet) = 0;
    virtual void setNumber(std::string_view outlet, double value) = 0;  // sliders, pop-ups
    virtual double number(std::string_view outlet) = 0;
    virtual void reload(std::string_view table) = 0;  // a table or browser re-reads its model
    // The row of the table the user last clicked (for a context menu); -1 for none.
    virtual std::int64_t clickedRow(std::string_view table) = 0;

    // Modal questions.
    virtual AlertAnswer runAlert(const Alert& alert) = 0;
    // Modal open panel: the chosen paths, or nothing on cancel.
    virtual std::optional<Paths> runOpenPanel(const OpenPanel& panel) = 0;
    // The same as a sheet on a window; the completion runs on the main thread.
    virtual void beginSheet(std::string_view window, const OpenPanel& panel,
                            std::function<void(std::optional<Paths>)> done) = 0;
    virtual std::optional<std::string> runSavePanel(const SavePanel& panel) = 0;

    // Runs `work` on a worker thread while the window "progressWindow" shows `title` and what
    // `progress` reports, and returns when `work` has returned. The window's Cancel button asks
    // `progress` to cancel; the rest of the application takes no input meanwhile.
    virtual void runWithProgress(std::string title, Progress& progress,
                                 const std::function<void()>& work) = 0;

    // Ends the application.
    virtual void terminate() = 0;
    // The desktop's colour scheme is dark.
    virtual bool darkAppearance() = 0;
};

}  // namespace vaultry::platform
