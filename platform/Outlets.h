#pragma once
// Every outlet name of the application in one place: the windows register their controls under
// these names, the controllers address them by these names, and the Ui adapters refuse any
// other name, so a misspelt outlet is an error instead of a control that silently does nothing.
#include <algorithm>
#include <iterator>
#include <string_view>

// X(name): one outlet whose name is its identifier.
#define VAULTRY_OUTLETS(X)                                                                \
    /* windows */                                                                         \
    X(window)                                                                             \
    X(thefileManageWindow)                                                                \
    X(connectWindow)                                                                      \
    X(autoTrashWindow)                                                                    \
    X(preferWindows)                                                                      \
    X(CreatePWWindow)                                                                     \
    X(enterPDWindow)                                                                      \
    X(aboutWindow)                                                                        \
    X(UpdateWindow)                                                                       \
    X(noUpdateWindow)                                                                     \
    X(progressWindow)                                                                     \
    X(thePopover)                                                                         \
    X(popAttachWindow)                                                                    \
    X(_statusItem)                                                                        \
    X(baMenu)                                                                             \
    /* cookie page */                                                                     \
    X(leftView)                                                                           \
    X(rightView)                                                                          \
    X(openView)                                                                           \
    X(theConentView)                                                                      \
    X(openCookieBtn)                                                                      \
    X(safariCookieBtn)                                                                    \
    X(chromeCookieBtn)                                                                    \
    X(firefoxCookieBtn)                                                                   \
    X(chromeProfilesBtn)                                                                  \
    X(firefoxProfilesBtn)                                                                 \
    X(cookieKeepList)                                                                     \
    X(cookieKeepField)                                                                    \
    X(newCookieBtn)                                                                       \
    X(dataTableView)                                                                      \
    X(theProgressor)                                                                      \
    /* desktop page */                                                                    \
    X(theBroswerView)                                                                     \
    X(browserDetailsLab)                                                                  \
    X(currentDesktopBtn)                                                                  \
    X(pictureBtn)                                                                         \
    X(documentBtn)                                                                        \
    X(archiveBtn)                                                                         \
    X(folerBtn)                                                                           \
    X(otherBtn)                                                                           \
    /* trash page */                                                                      \
    X(trashSizelab)                                                                       \
    X(trashLastCleanlab)                                                                  \
    X(eraseProgresslab)                                                                   \
    /* vault window */                                                                    \
    X(fileTableView)                                                                      \
    X(closedFileWindowButton)                                                             \
    X(selectAllBtn)                                                                       \
    X(selectImageBtn)                                                                     \
    X(selectDocBtn)                                                                       \
    X(selectVideoBtn)                                                                     \
    X(selectFolderBtn)                                                                    \
    X(selectOtherBtn)                                                                     \
    /* access window */                                                                   \
    X(startTidyView)                                                                      \
    X(tidybutton)                                                                         \
    /* popover: tidy list (its "other" kind button is not the desktop page's otherBtn) */ \
    X(allBtn)                                                                             \
    X(imageBtn)                                                                           \
    X(docuBtn)                                                                            \
    X(zipBtn)                                                                             \
    X(folderBtn)                                                                          \
    X(tidyOtherBtn)                                                                       \
    X(thepBtn)                                                                            \
    X(searchField)                                                                        \
    X(tidyTableView)                                                                      \
    X(tidyRefreshBtn)                                                                     \
    X(tidySettingsBtn)                                                                    \
    X(tidyNowBtn)                                                                         \
    /* popover: trash settings */                                                         \
    X(cleanTimeCheckBtn)                                                                  \
    X(cleanStorageCheckBtn)                                                               \
    X(theTimeBtn)                                                                         \
    X(storageSlider)                                                                      \
    X(storagelab)                                                                         \
    X(lastCleanupInfolab)                                                                 \
    X(lastCleanupSizelab)                                                                 \
    X(lastCleanupDatelab)                                                                 \
    X(trashAutoLunchBtn)                                                                  \
    X(trashOnlyOlderBtn)                                                                  \
    X(trashOnlyOldestBtn)                                                                 \
    /* preferences */                                                                     \
    X(closedPrefWindowButton)                                                             \
    X(StorePathlab)                                                                       \
    X(selectStorageBtn)                                                                   \
    X(changeStorageBtn)                                                                   \
    X(newPWLab)                                                                           \
    X(newPWStrengthBar)                                                                   \
    X(newPWStrengthLab)                                                                   \
    X(confirmNewPWLab)                                                                    \
    X(warnnewPWlab)                                                                       \
    X(changePassWordBtn)                                                                  \
    X(autoLunchBtn)                                                                       \
    X(autoCleanupSelectBtn)                                                               \
    X(tidyTimePicker)                                                                     \
    X(autoLockPopup)                                                                      \
    X(lockOnSessionLockBtn)                                                               \
    X(erasePassesPopup)                                                                   \
    X(tidyExclusionList)                                                                  \
    X(tidyExclusionField)                                                                 \
    X(addTidyExclusionBtn)                                                                \
    X(removeTidyExclusionBtn)                                                             \
    X(keepLaunchersBtn)                                                                   \
    /* password windows */                                                                \
    X(closedButton)                                                                       \
    X(theCreatePWLab)                                                                     \
    X(createPWStrengthBar)                                                                \
    X(createPWStrengthLab)                                                                \
    X(theConfirmPWLab)                                                                    \
    X(warnlab)                                                                            \
    X(doneButton)                                                                         \
    X(closedPDWindowButton)                                                               \
    X(enterPWLab)                                                                         \
    X(enterPDWarnLab)                                                                     \
    X(enterPDButton)                                                                      \
    /* update windows */                                                                  \
    X(newversionlab)                                                                      \
    X(currentversionlab)                                                                  \
    X(whatsnewContentView)                                                                \
    X(bottomImageView)                                                                    \
    /* the progress window of long work */                                                \
    X(progressLab)                                                                        \
    X(progressBar)                                                                        \
    X(progressCancelBtn)

namespace vaultry::outlet {

#define VAULTRY_OUTLET_NAME(name) inline constexpr const char* name = #name;
VAULTRY_OUTLETS(VAULTRY_OUTLET_NAME)
#undef VAULTRY_OUTLET_NAME

#define VAULTRY_OUTLET_ENTRY(name) std::string_view(#name),
inline constexpr std::string_view kAll[] = {VAULTRY_OUTLETS(VAULTRY_OUTLET_ENTRY)};
#undef VAULTRY_OUTLET_ENTRY

// True for the names above, and only for them.
inline bool isKnown(std::string_view name) {
    return std::find(std::begin(kAll), std::end(kAll), name) != std::end(kAll);
}

}  // namespace vaultry::outlet
