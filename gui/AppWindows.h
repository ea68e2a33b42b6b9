#pragma once
#include <QPointer>
#include <QWidget>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "gui/Builders.h"
#include "gui/MainWindow.h"

class QMainWindow;
class QMenu;

namespace vaultry {
class NotificationCenter;
}

namespace vaultry::qt {

class QtUi;
class VaultWindow;
class AccessWindow;
class PopoverContent;
class AutoTrashWindow;
class PreferencesWindow;
class CreatePasswordWindow;
class EnterPasswordWindow;
class AboutWindow;
class UpdateWindow;
class NoUpdateWindow;
class ProgressWindow;

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

private:
    std::map<std::string, QPointer<QWidget>> topLevels_;
    WindowContext context_;
    std::unique_ptr<MainWindow> main_;
    std::unique_ptr<VaultWindow> vault_;
    std::unique_ptr<AccessWindow> access_;
    std::unique_ptr<PopoverContent> popover_;
    std::unique_ptr<AutoTrashWindow> autoTrash_;
    std::unique_ptr<PreferencesWindow> preferences_;
    std::unique_ptr<CreatePasswordWindow> createPassword_;
    std::unique_ptr<EnterPasswordWindow> enterPassword_;
    std::unique_ptr<AboutWindow> about_;
    std::unique_ptr<UpdateWindow> update_;
    std::unique_ptr<NoUpdateWindow> noUpdate_;
    std::unique_ptr<ProgressWindow> progress_;
};

}  // namespace vaultry::qt
