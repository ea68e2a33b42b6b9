#pragma once
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "gui/Builders.h"
#include "gui/MainWindow.h"

class QMainWindow;
class QMenu;

namespace vaultry {
class NotificationCenter;
}

namespace vaultry::qt {

class QtUi;
class AutoTrashWindow;

// Every window and page of the application, each built by its own class, which registers its
// outlets and wires its controls to the commands.
class AppWindows final {
public:
    using Page = MainWindow::Page;

    AppWindows(QtUi& ui, NotificationCenter& nc, Commands& commands);
    ~AppWindows();
    AppWindows(const AppWindows&) = delete;
    AppWindows& operator=(const AppWindows&) = delete;

    QMainWindow* mainWindow() const { return main_->window(); }
    // Every top-level window under its outlet name, for screenshots and tests.
    const std::map<std::string, QPointer<QWidget>>& topLevels() const { return topLevels_; }
    void showPage(Page page) { main_->showPage(page); }
    Page currentPage() const { return main_->currentPage(); }
    // The popover's content: built once, carried between the popover and the automatic-trash
    // window.
    QWidget* popoverContent() const;
    void returnPopoverContent();
    // Without a tray host the main window carries the tray menu and the popover button.
    void offerTrayCommands(QMenu* menu, std::function<void(QWidget* anchor)> openPopover) {
        main_->offerTrayCommands(menu, std::move(openPopover));
    }
    void withdrawTrayCommands() { main_->withdrawTrayCommands(); }

private:
    template <typename P, typename... Extra>
    P* add(Extra&&... extra) {
        auto part = std::make_unique<P>(context_, std::forward<Extra>(extra)...);
        P* raw = part.get();
        parts_.push_back(std::move(part));
        return raw;
    }

    std::map<std::string, QPointer<QWidget>> topLevels_;
    WindowContext context_;
    // Every part, in the order built; the few reached later are also held by their kind.
    std::vector<std::unique_ptr<WindowPart>> parts_;
    MainWindow* main_ = nullptr;
    PopoverContent* popover_ = nullptr;
    AutoTrashWindow* autoTrash_ = nullptr;
};

}  // namespace vaultry::qt
