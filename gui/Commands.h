#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/PSTableCellView.h"

// Every user command of the windows in one list, each with what it runs in the controllers:
// `Commands` has a slot for each, and unwiredCommands() checks each, so a command added here is
// one the wiring check covers.
// X(Type, name): one command; Type is one of the Commands' call types below.
#define VAULTRY_COMMANDS(X)                                                                                 \
    X(Fn, openVault)                /* OPenFileManageWindow */                                              \
    X(Fn, preferences)              /* ClickShowPereferenceWindow */                                        \
    X(Fn, hideFiles)                /* HideFileAction */                                                    \
    X(Fn, unhideFiles)              /* UnHideFileAction */                                                  \
    X(Fn, encryptFiles)             /* EncryptFileAction */                                                 \
    X(Fn, tidyDesktop)              /* ClickTidyAction */                                                   \
    X(Fn, undoTidy)                 /* UndoLastTidy */                                                      \
    X(Fn, emptyTrash)               /* StrongEmptyTrash */                                                  \
    X(Fn, secureErase)              /* StartSafeDeleteFileAction */                                         \
    X(Fn, automaticTrash)           /* ShowAutoTrash */                                                     \
    X(Fn, checkForUpdate)           /* CheckforUpdateAction */                                              \
    X(Fn, help)                     /* ClickHelp */                                                         \
    X(Fn, about)                    /* ActAboutAction */                                                    \
    X(Fn, quit)                     /* QuiteVaultryAction */                                                \
    X(Fn, returnOnPasswordField)    /* ReturnOnPasswordField: Return in "enterPWLab" */                     \
    X(Fn, removeFromList)           /* RemoveFileFromListAction: the vault table's remove command */        \
    X(Fn, verifyArchives)           /* VerifyArchivesAction: the vault table's menu */                      \
    X(Fn, autoTidyDesktop)          /* ClickAutoTidyDesktop: "autoCleanupSelectBtn" toggled */              \
    X(Fn, tidyTimeChanged)          /* ChangeTidyTime: "tidyTimePicker" changed */                          \
    X(Fn, sortelloOnLogin)          /* ClickSortelloOnLogin: "autoLunchBtn" toggled */                      \
    X(Fn, autoLockChanged)          /* ChangeAutoLockAction: "autoLockPopup" changed */                     \
    X(Fn, lockOnSessionLockChanged) /* ChangeLockOnSessionLockAction: "lockOnSessionLockBtn" toggled */     \
    X(Fn, erasePassesChanged)       /* ChangeErasePassesAction: "erasePassesPopup" changed */               \
    X(Fn, addTidyExclusion)      /* AddTidyExclusionAction: "addTidyExclusionBtn" or Return in the field */ \
    X(Fn, removeTidyExclusion)   /* RemoveTidyExclusionAction: "removeTidyExclusionBtn" */                  \
    X(Fn, keepLaunchers)         /* KeepLaunchersAction: "keepLaunchersBtn" */                              \
    X(Fn, browserBack)           /* ClickBackAction: the desktop browser's back button */                   \
    X(Fn, exportCookies)         /* ActExportCookieData */                                                  \
    X(Fn, removeCookies)         /* ActRemoveCookieData */                                                  \
    X(Fn, removeSelectedCookies) /* ActRemoveSelectedCookies: the selected rows of "dataTableView" */       \
    X(Fn, addKeepDomain)         /* AddCookieKeepDomain: the domain typed in "cookieKeepField" */           \
    X(Fn, removeKeepDomain)      /* RemoveCookieKeepDomain: the domains selected in "cookieKeepList" */     \
    /* The popover controller's view: tidy list and trash settings. */                                      \
    X(Fn, tidyNow)         /* ClickTidyNowAct */                                                            \
    X(Fn, tidyRefresh)     /* freshCurrentDeskTop, then the all list */                                     \
    X(Fn, tidyKindMenu)    /* SelectItemAction: "thepBtn" changed */                                        \
    X(Fn, tidySearch)      /* the search field "searchField" changed */                                     \
    X(Fn, tidyOpen)        /* ClickOpenFileAct: the row menu's Open, and Enter */                           \
    X(Fn, tidyDoubleClick) /* doubleclickAction */                                                          \
    X(Fn, tidyReveal)      /* ClickShowInFinderAct */                                                       \
    X(Fn, tidyCopy)        /* ClickCopyFileAct: the row menu's Copy */                                      \
    X(Fn, tidyCopyKey)     /* CopyAction: Ctrl+C */                                                         \
    X(Fn, tidyRestore)     /* ClickRestoreFileAct */                                                        \
    X(Fn, tidyDelete)      /* ClickDeleteFileAct */                                                         \
    /* The Desktop page's item menu and keys, on the items selected in "theBroswerView". Open (and */       \
    /* Enter) does what a double click does: one folder opens in place. */                                  \
    X(Fn, desktopOpen)                                                                                      \
    X(Fn, desktopReveal)                                                                                    \
    X(Fn, desktopCopy)                                                                                      \
    X(Fn, desktopRestore)                                                                                   \
    X(Fn, desktopDelete)                                                                                    \
    X(Fn, trashTimeChanged)   /* ChangeTheTrashTime: "theTimeBtn" changed */                                \
    X(Fn, trashSizeMoved)     /* TragTheStorageAction: "storageSlider" moved */                             \
    X(Fn, trashSizeDragged)   /* ShowStorageThreshold: "storageSlider" dragged */                           \
    X(Fn, trashChecksChanged) /* "cleanTimeCheckBtn" or "cleanStorageCheckBtn" toggled by the user */       \
    X(Fn, trashOnLogin)       /* ClickAutoTrashOnLogin: the trash settings' login box toggled */            \
    X(Fn, trashOnlyChanged) /* ClickTrashOnlyChecks: "trashOnlyOlderBtn" or "trashOnlyOldestBtn" toggled */ \
    X(Fn, updateNotNow)     /* PRUpdateController::ClickNotNowAction */                                     \
    X(Fn, updateDownload)   /* PRUpdateController::ClickGoDownloadAction */                                 \
    X(Fn, updateOk)         /* PRUpdateController::ClickOkAction */                                         \
    X(Fn, trashPageShown)   /* the Trash page came into view: its size and last emptying */                 \
    X(Answer, vaultWindowShouldClose) /* windowShouldClose for "thefileManageWindow" */                     \
    /* tableViewViewsForAllRows: every row of the vault table "fileTableView" in one snapshot. */           \
    X(Rows, vaultRows)

namespace vaultry::qt {

// The user commands that menus and plain buttons carry. The windows connect their
// controls to these; the application's object graph assigns every one of them to a controller.
struct Commands {
    using Fn = std::function<void()>;
    using Answer = std::function<bool()>;
    using Rows = std::function<std::vector<std::unique_ptr<PSTableCellView>>()>;

#define VAULTRY_COMMAND_SLOT(Type, name) Type name;
    VAULTRY_COMMANDS(VAULTRY_COMMAND_SLOT)
#undef VAULTRY_COMMAND_SLOT
};

// The names of the commands nobody assigned; empty once the application is wired.
std::vector<std::string> unwiredCommands(const Commands& commands);

}  // namespace vaultry::qt
