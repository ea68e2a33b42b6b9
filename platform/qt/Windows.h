#pragma once
#include <QMargins>
#include <QObject>
#include <QPointer>
#include <QSize>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "vault/PSTableCellView.h"

class QMainWindow;
class QWidget;
class QMenu;
class QStackedWidget;
class QLineEdit;
class QAbstractButton;
class QVBoxLayout;

namespace vaultry {
class NotificationCenter;
}

namespace vaultry::qt {

class QtUi;
class SkinWindow;

class PRCustomeWindow;

// The user commands that menus and plain buttons carry. Each is wired to the application
// controller; one left empty does nothing.
struct Commands {
    using Fn = std::function<void()>;
    Fn openVault;              // OPenFileManageWindow
    Fn preferences;            // ClickShowPereferenceWindow
    Fn hideFiles;              // HideFileAction
    Fn unhideFiles;            // UnHideFileAction
    Fn encryptFiles;           // EncryptFileAction
    Fn tidyDesktop;            // ClickTidyAction
    Fn undoTidy;               // UndoLastTidy
    Fn emptyTrash;             // StrongEmptyTrash
    Fn secureErase;            // StartSafeDeleteFileAction
    Fn automaticTrash;         // ShowAutoTrash
    Fn checkForUpdate;         // CheckforUpdateAction
    Fn help;                   // ClickHelp
    Fn about;                  // ActAboutAction
    Fn quit;                   // QuiteVaultryAction
    Fn returnOnPasswordField;  // ReturnOnPasswordField: Return in "enterPWLab"
    Fn removeFromList;         // RemoveFileFromListAction: the vault table's remove command
    Fn verifyArchives;         // VerifyArchivesAction: the vault table's menu
    Fn autoTidyDesktop;        // ClickAutoTidyDesktop: "autoCleanupSelectBtn" toggled
    Fn sortelloOnLogin;        // ClickSortelloOnLogin: "autoLunchBtn" toggled
    Fn browserBack;            // ClickBackAction: the desktop browser's back button
    Fn exportCookies;          // ActExportCookieData
    Fn removeCookies;          // ActRemoveCookieData
    // The popover controller's view: tidy list and trash settings.
    Fn tidyNow;             // ClickTidyNowAct
    Fn tidyRefresh;         // freshCurrentDeskTop, then the all list
    Fn tidyKindMenu;        // SelectItemAction: "thepBtn" changed
    Fn tidySearch;          // the search field "tidySearchField" changed
    Fn tidyOpen;            // ClickOpenFileAct (also a double click: doubleclickAction)
    Fn tidyReveal;          // ClickShowInFinderAct
    Fn tidyCopy;            // ClickCopyFileAct
    Fn tidyRestore;         // ClickRestoreFileAct
    Fn tidyDelete;          // ClickDeleteFileAct
    Fn trashTimeChanged;    // ChangeTheTrashTime: "theTimeBtn" changed
    Fn trashSizeMoved;      // TragTheStorageAction: "storageSlider" moved
    Fn trashChecksChanged;  // "cleanTimeCheckBtn" or "cleanStorageCheckBtn" toggled by the user
    Fn trashOnLogin;        // ClickAutoTrashOnLogin: the trash settings' login box toggled
    Fn updateNotNow;        // PRUpdateController::ClickNotNowAction
    Fn updateDownload;      // PRUpdateController::ClickGoDownloadAction
    Fn updateOk;            // PRUpdateController::ClickOkAction
    Fn trashPageShown;      // the Trash page came into view: its size and last emptying
    std::function<bool()> vaultWindowShouldClose;  // windowShouldClose for "thefileManageWindow"
    // tableViewViewsForAllRows: every row of the vault table "fileTableView" in one snapshot.
    std::function<std::vector<std::unique_ptr<PSTableCellView>>()> vaultRows;
};

// Builds every window and page, registers each named control with the Ui adapter, and keeps the
// left-hand navigation of the main window.
class Windows final : public QObject {
    Q_OBJECT
public:
    enum class Page { Vault, Desktop, Trash, Cookies };

    Windows(QtUi& ui, NotificationCenter& nc, Commands& commands);
    ~Windows() override;

    QMainWindow* mainWindow() const { return main_; }
    // Every top-level window under its outlet name, for screenshots and tests.
    const std::map<std::string, QPointer<QWidget>>& topLevels() const { return topLevels_; }
    void showPage(Page page);
    Page currentPage() const;
    // The popover's content: built once, carried between the popover and the automatic-trash
    // window.
    QWidget* popoverContent() const { return popoverContent_; }
    void returnPopoverContent();
    // Without a tray host the main window carries the tray menu and the popover button.
    void offerTrayCommands(QMenu* menu, std::function<void(QWidget* anchor)> openPopover);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildMain();
    QWidget* buildVaultPage();
    QWidget* buildDesktopPage();
    QWidget* buildTrashPage();
    QWidget* buildCookiePage();
    void buildVaultWindow();
    void buildConnectWindow();
    void buildAutoTrashWindow();
    // A frameless window with a banner (title, subtitle and its close button) over a body; the
    // body's layout is returned with the window.
    struct Panel {
        SkinWindow* window;
        QVBoxLayout* body;
    };
    Panel bannerWindow(const char* outlet, const QString& windowTitle, QSize size, class ImageView* view,
                       const QString& title, const QString& subtitle, const char* closeOutlet,
                       QMargins margins);
    void buildPreferences();
    void buildCreatePassword();
    void buildEnterPassword();
    void buildAbout();
    void buildUpdateWindows();
    QWidget* buildPopoverContent();
    void reg(const std::string& name, QObject* object);
    void run(Commands::Fn Commands::*command);
    QAbstractButton* commandButton(const QString& title, const QString& image,
                                   Commands::Fn Commands::*command, bool primary = false);

    QtUi& ui_;
    NotificationCenter& nc_;
    Commands& commands_;
    QMainWindow* main_ = nullptr;
    QStackedWidget* pages_ = nullptr;
    std::vector<QAbstractButton*> nav_;
    QWidget* trayBar_ = nullptr;
    QWidget* popoverContent_ = nullptr;
    QWidget* autoTrashHolder_ = nullptr;
    std::map<std::string, QPointer<QWidget>> topLevels_;
    std::uint64_t filterObserver_ = 0;
};

}  // namespace vaultry::qt
