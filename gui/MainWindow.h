#pragma once
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "gui/Builders.h"

class QMainWindow;
class QStackedWidget;
class QMenu;
class QAbstractButton;

namespace vaultry::qt {

// The main window `window`: the navigation on the left and its four pages.
class MainWindow final : public WindowPart {
public:
    enum class Page { Vault, Desktop, Trash, Cookies };
    explicit MainWindow(WindowContext& context);
    ~MainWindow() override;
    QMainWindow* window() const { return main_; }
    void showPage(Page page);
    Page currentPage() const;
    // Without a tray host the main window carries the tray menu and the popover button, and says
    // that closing it leaves Vaultry running; a tray that appears takes them back.
    void offerTrayCommands(QMenu* menu, std::function<void(QWidget* anchor)> openPopover);
    void withdrawTrayCommands();

private:
    QMainWindow* main_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::vector<QAbstractButton*> nav_;
    QWidget* trayBar_ = nullptr;
    std::unique_ptr<VaultPage> vaultPage_;
    std::unique_ptr<DesktopPage> desktopPage_;
    std::unique_ptr<TrashPage> trashPage_;
    std::unique_ptr<CookiePage> cookiePage_;
};

}  // namespace vaultry::qt
