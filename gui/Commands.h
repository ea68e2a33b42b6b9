#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PSTableCellView.h"

namespace vaultry::qt {

// The user commands that menus and plain buttons carry. The windows connect their
// controls to these; the application's object graph assigns every one of them to a controller.
struct Commands {
    using Fn = std::function<void()>;
    Fn openVault;                 // OPenFileManageWindow
    Fn preferences;               // ClickShowPereferenceWindow
    Fn hideFiles;                 // HideFileAction
    Fn unhideFiles;               // UnHideFileAction
    Fn encryptFiles;              // EncryptFileAction
    Fn tidyDesktop;               // ClickTidyAction
    Fn undoTidy;                  // UndoLastTidy
    Fn emptyTrash;                // StrongEmptyTrash
    Fn secureErase;               // StartSafeDeleteFileAction
    Fn automaticTrash;            // ShowAutoTrash
    Fn checkForUpdate;            // CheckforUpdateAction
    Fn help;                      // ClickHelp
    Fn about;                     // ActAboutAction
    Fn quit;                      // QuiteVaultryAction
    Fn returnOnPasswordField;     // ReturnOnPasswordField: Return in "enterPWLab"
    Fn removeFromList;            // RemoveFileFromListAction: the vault table's remove command
    Fn verifyArchives;            // VerifyArchivesAction: the vault table's menu
    Fn autoTidyDesktop;           // ClickAutoTidyDesktop: "autoCleanupSelectBtn" toggled
    Fn tidyTimeChanged;           // ChangeTidyTime: "tidyTimePicker" changed
    Fn sortelloOnLogin;           // ClickSortelloOnLogin: "autoLunchBtn" toggled
    Fn autoLockChanged;           // ChangeAutoLockAction: "autoLockPopup" changed
    Fn lockOnSessionLockChanged;  // ChangeLockOnSessionLockAction: "lockOnSessionLockBtn" toggled
    Fn erasePassesChanged;        // ChangeErasePassesAction: "erasePassesPopup" changed
    Fn addTidyExclusion;          // AddTidyExclusionAction: "addTidyExclusionBtn" or Return in the field
    Fn removeTidyExclusion;       // RemoveTidyExclusionAction: "removeTidyExclusionBtn"
    Fn keepLaunchers;             // KeepLaunchersAction: "keepLaunchersBtn"
    Fn browserBack;               // ClickBackAction: the desktop browser's back button
    Fn exportCookies;             // ActExportCookieData
    Fn removeCookies;             // ActRemoveCookieData
    Fn removeSelectedCookies;     // ActRemoveSelectedCookies: the selected rows of "dataTableView"
    Fn addKeepDomain;             // AddCookieKeepDomain: the domain typed in "cookieKeepField"
    Fn removeKeepDomain;          // RemoveCookieKeepDomain: the domains selected in "cookieKeepList"
    // The popover controller's view: tidy list and trash settings.
    Fn tidyNow;          // ClickTidyNowAct
    Fn tidyRefresh;      // freshCurrentDeskTop, then the all list
    Fn tidyKindMenu;     // SelectItemAction: "thepBtn" changed
    Fn tidySearch;       // the search field "searchField" changed
    Fn tidyOpen;         // ClickOpenFileAct: the row menu's Open, and Enter
    Fn tidyDoubleClick;  // doubleclickAction
    Fn tidyReveal;       // ClickShowInFinderAct
    Fn tidyCopy;         // ClickCopyFileAct: the row menu's Copy
    Fn tidyCopyKey;      // CopyAction: Ctrl+C
    Fn tidyRestore;      // ClickRestoreFileAct
    Fn tidyDelete;       // ClickDeleteFileAct
    // The Desktop page's item menu and keys, on the items selected in "theBroswerView". Open (and
    // Enter) does what a double click does: one folder opens in place.
    Fn desktopOpen;
    Fn desktopReveal;
    Fn desktopCopy;
    Fn desktopRestore;
    Fn desktopDelete;
    Fn trashTimeChanged;    // ChangeTheTrashTime: "theTimeBtn" changed
    Fn trashSizeMoved;      // TragTheStorageAction: "storageSlider" moved
    Fn trashSizeDragged;    // ShowStorageThreshold: "storageSlider" dragged
    Fn trashChecksChanged;  // "cleanTimeCheckBtn" or "cleanStorageCheckBtn" toggled by the user
    Fn trashOnLogin;        // ClickAutoTrashOnLogin: the trash settings' login box toggled
    Fn trashOnlyChanged;    // ClickTrashOnlyChecks: "trashOnlyOlderBtn" or "trashOnlyOldestBtn" toggled
    Fn updateNotNow;        // PRUpdateController::ClickNotNowAction
    Fn updateDownload;      // PRUpdateController::ClickGoDownloadAction
    Fn updateOk;            // PRUpdateController::ClickOkAction
    Fn trashPageShown;      // the Trash page came into view: its size and last emptying
    std::function<bool()> vaultWindowShouldClose;  // windowShouldClose for "thefileManageWindow"
    // tableViewViewsForAllRows: every row of the vault table "fileTableView" in one snapshot.
    std::function<std::vector<std::unique_ptr<PSTableCellView>>()> vaultRows;
};

// The names of the commands nobody assigned; empty once the application is wired.
std::vector<std::string> unwiredCommands(const Commands& commands);

}  // namespace vaultry::qt
