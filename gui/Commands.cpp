#include "gui/Commands.h"

namespace vaultry::qt {

std::vector<std::string> unwiredCommands(const Commands& c) {
    std::vector<std::string> missing;
    const auto check = [&missing](const auto& fn, const char* name) {
        if (!fn) missing.emplace_back(name);
    };
    check(c.openVault, "openVault");
    check(c.preferences, "preferences");
    check(c.hideFiles, "hideFiles");
    check(c.unhideFiles, "unhideFiles");
    check(c.encryptFiles, "encryptFiles");
    check(c.tidyDesktop, "tidyDesktop");
    check(c.undoTidy, "undoTidy");
    check(c.emptyTrash, "emptyTrash");
    check(c.secureErase, "secureErase");
    check(c.automaticTrash, "automaticTrash");
    check(c.checkForUpdate, "checkForUpdate");
    check(c.help, "help");
    check(c.about, "about");
    check(c.quit, "quit");
    check(c.returnOnPasswordField, "returnOnPasswordField");
    check(c.removeFromList, "removeFromList");
    check(c.verifyArchives, "verifyArchives");
    check(c.autoTidyDesktop, "autoTidyDesktop");
    check(c.sortelloOnLogin, "sortelloOnLogin");
    check(c.autoLockChanged, "autoLockChanged");
    check(c.lockOnSessionLockChanged, "lockOnSessionLockChanged");
    check(c.erasePassesChanged, "erasePassesChanged");
    check(c.addTidyExclusion, "addTidyExclusion");
    check(c.removeTidyExclusion, "removeTidyExclusion");
    check(c.keepLaunchers, "keepLaunchers");
    check(c.browserBack, "browserBack");
    check(c.exportCookies, "exportCookies");
    check(c.removeCookies, "removeCookies");
    check(c.removeSelectedCookies, "removeSelectedCookies");
    check(c.addKeepDomain, "addKeepDomain");
    check(c.removeKeepDomain, "removeKeepDomain");
    check(c.tidyNow, "tidyNow");
    check(c.tidyRefresh, "tidyRefresh");
    check(c.tidyKindMenu, "tidyKindMenu");
    check(c.tidySearch, "tidySearch");
    check(c.tidyOpen, "tidyOpen");
    check(c.tidyDoubleClick, "tidyDoubleClick");
    check(c.tidyReveal, "tidyReveal");
    check(c.tidyCopy, "tidyCopy");
    check(c.tidyCopyKey, "tidyCopyKey");
    check(c.tidyRestore, "tidyRestore");
    check(c.tidyDelete, "tidyDelete");
    check(c.desktopOpen, "desktopOpen");
    check(c.desktopReveal, "desktopReveal");
    check(c.desktopCopy, "desktopCopy");
    check(c.desktopRestore, "desktopRestore");
    check(c.desktopDelete, "desktopDelete");
    check(c.trashTimeChanged, "trashTimeChanged");
    check(c.trashSizeMoved, "trashSizeMoved");
    check(c.trashSizeDragged, "trashSizeDragged");
    check(c.trashChecksChanged, "trashChecksChanged");
    check(c.trashOnLogin, "trashOnLogin");
    check(c.trashOnlyChanged, "trashOnlyChanged");
    check(c.updateNotNow, "updateNotNow");
    check(c.updateDownload, "updateDownload");
    check(c.updateOk, "updateOk");
    check(c.trashPageShown, "trashPageShown");
    check(c.vaultWindowShouldClose, "vaultWindowShouldClose");
    check(c.vaultRows, "vaultRows");
    return missing;
}

}  // namespace vaultry::qt
