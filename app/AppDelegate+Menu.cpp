#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "app/SettingsKeys.h"
#include "platform/Log.h"
#include "update/VersionCheck.h"
#include "vault/PSTableCellView.h"
#include "vault/Records.h"

// Menu commands that reach no subsystem of their own.
namespace vaultry {

void AppDelegate::UnHideFileAction() {
    const std::int64_t row = ui_.clickedRow("fileTableView");
    if (ui_.isVisible("thefileManageWindow") && row >= 0 &&
        static_cast<std::uint64_t>(row) < FileDataArray.size() &&
        !vault::isEncrypted(FileDataArray[static_cast<std::size_t>(row)])) {
        // The same confirmation, reveal and unhide as the row's own switch.
        auto view = tableViewViewForTableColumnRow("fileColumn", row);
        ClickSwtichNotificationHandle({notify::ClickSwtichOnNotification, view.get()});
        return;
    }
    OPenFileManageWindow();
}

void AppDelegate::ClickHelp() { s_.workspace.openUrl(productPageUrl()); }

void AppDelegate::ActAboutAction() {
    if (!ui_.isVisible("aboutWindow")) ui_.showWindow("aboutWindow");
}

void AppDelegate::ClickAutoTidyDesktop() {
    const bool on = ui_.state("autoCleanupSelectBtn");
    settings_.set(key::BAutoTidy, std::string(on ? "YES" : "NO"));
    // Switched on, the first tidy is the next time the chosen moment comes, not at once.
    if (on) settings_.set(key::LastAutoTidyDate, s_.clock.now());
    if (auto st = settings_.flush(); !st) logLine("settings: " + st.error().message);
}

}  // namespace vaultry
