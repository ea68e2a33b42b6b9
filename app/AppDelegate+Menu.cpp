#include <algorithm>
#include <cctype>
#include <iterator>

#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "app/PSTableCellView.h"
#include "desktop/Tidy.h"
#include "platform/Outlets.h"
#include "update/VersionCheck.h"
#include "vault/AutoLock.h"
#include "vault/Records.h"

// Menu commands that reach no subsystem of their own.
namespace vaultry {

void AppDelegate::UnHideFileAction() {
    const std::int64_t row = ui_.clickedRow(outlet::fileTableView);
    if (ui_.isVisible(outlet::thefileManageWindow) && row >= 0 &&
        static_cast<std::uint64_t>(row) < FileDataArray.size() &&
        !vault::isEncrypted(FileDataArray[static_cast<std::size_t>(row)])) {
        // The same confirmation, reveal and unhide as the row's own switch.
        auto view = tableViewViewForTableColumnRow("fileColumn", row);
        ClickSwtichNotificationHandle({notify::ClickSwtichOnNotification, view.get()});
        return;
    }
    OPenFileManageWindow();
}

void AppDelegate::ClickHelp() {
    if (const auto address = helpAddress(s_.paths.installedDocs())) {
        s_.workspace.openUrl(*address);
        return;
    }
    ui_.runAlert(
        {"Vaultry's documentation is not installed.", "Its manual page: man vaultry", " Ok ", "", ""});
}

void AppDelegate::ActAboutAction() {
    if (!ui_.isVisible(outlet::aboutWindow)) ui_.showWindow(outlet::aboutWindow);
}

void AppDelegate::ClickAutoTidyDesktop() {
    const bool on = ui_.state(outlet::autoCleanupSelectBtn);
    prefs_.setAutoTidy(on);
    // The time beside the box is the one the user saw: it is kept as the tidy's time.
    if (tidy::parseHourMinute(ui_.text(outlet::tidyTimePicker)))
        prefs_.setTidyTime(ui_.text(outlet::tidyTimePicker));
    // Switched on, the first tidy is the next time the chosen moment comes, not at once.
    if (on) prefs_.setLastAutoTidyDate(s_.clock.now());
    prefs_.save();
    // Nothing moves by itself until the user said where tidied items go.
    if (on && (StorelocationPath().empty() || prefs_.tidyLocationFromVault())) askTidyLocation(false);
}

void AppDelegate::ChangeTidyTime() {
    const std::string chosen = ui_.text(outlet::tidyTimePicker);
    // Showing the stored time (or the default) in the box is no change.
    if (!tidy::parseHourMinute(chosen) || prefs_.tidyTime() == chosen) return;
    prefs_.setTidyTime(chosen);
    prefs_.save();
}

namespace {

// The tidy exclusions one a line, as the list shows them.
std::string exclusionLines(const StringArray& patterns) {
    std::string lines;
    for (const auto& p : patterns) {
        if (!lines.empty()) lines += '\n';
        lines += p;
    }
    return lines;
}

std::string trimmed(std::string s) {
    const auto blank = [](unsigned char c) { return std::isspace(c) != 0; };
    s.erase(s.begin(), std::find_if_not(s.begin(), s.end(), blank));
    s.erase(std::find_if_not(s.rbegin(), s.rend(), blank).base(), s.end());
    return s;
}

}  // namespace

void AppDelegate::readPreferences() {
    const int minutes = vault::autoLockMinutes(prefs_.autoLockMinutes());
    const auto* choice =
        std::find(std::begin(vault::kAutoLockChoices), std::end(vault::kAutoLockChoices), minutes);
    ui_.setNumber(outlet::autoLockPopup,
                  choice == std::end(vault::kAutoLockChoices)
                      ? 0
                      : static_cast<double>(std::distance(std::begin(vault::kAutoLockChoices), choice)));
    ui_.setState(outlet::lockOnSessionLockBtn, prefs_.lockOnSessionLock());
    ui_.setNumber(outlet::erasePassesPopup, prefs_.erasePasses() == 1 ? 1 : 0);
    ui_.setText(outlet::tidyExclusionList, exclusionLines(prefs_.tidyExclusions()));
}

void AppDelegate::ChangeAutoLockAction() {
    const double index = ui_.number(outlet::autoLockPopup);
    if (index < 0 || index >= static_cast<double>(std::size(vault::kAutoLockChoices))) return;
    prefs_.setAutoLockMinutes(
        static_cast<std::uint64_t>(vault::kAutoLockChoices[static_cast<std::size_t>(index)]));
    prefs_.save();
}

void AppDelegate::ChangeLockOnSessionLockAction() {
    prefs_.setLockOnSessionLock(ui_.state(outlet::lockOnSessionLockBtn));
    prefs_.save();
}

void AppDelegate::ChangeErasePassesAction() {
    prefs_.setErasePasses(ui_.number(outlet::erasePassesPopup) == 1 ? 1u : 0u);
    prefs_.save();
}

namespace {

// Adds a pattern unless it is blank or already listed; true when the list changed.
bool addPattern(StringArray& list, std::string pattern) {
    pattern = trimmed(std::move(pattern));
    if (pattern.empty() || pattern.find('\n') != std::string::npos) return false;
    if (std::find(list.begin(), list.end(), pattern) != list.end()) return false;
    list.push_back(std::move(pattern));
    return true;
}

}  // namespace

void AppDelegate::AddTidyExclusionAction() {
    StringArray list = prefs_.tidyExclusions();
    if (addPattern(list, ui_.text(outlet::tidyExclusionField))) {
        prefs_.setTidyExclusions(list);
        prefs_.save();
    }
    ui_.setText(outlet::tidyExclusionField, "");
    ui_.setText(outlet::tidyExclusionList, exclusionLines(list));
}

void AppDelegate::RemoveTidyExclusionAction() {
    StringArray list = prefs_.tidyExclusions();
    const double row = ui_.number(outlet::tidyExclusionList);
    if (row < 0 || row >= static_cast<double>(list.size())) return;
    list.erase(list.begin() + static_cast<std::ptrdiff_t>(row));
    prefs_.setTidyExclusions(list);
    prefs_.save();
    ui_.setText(outlet::tidyExclusionList, exclusionLines(list));
}

void AppDelegate::KeepLaunchersAction() {
    StringArray list = prefs_.tidyExclusions();
    if (addPattern(list, "*.desktop")) {
        prefs_.setTidyExclusions(list);
        prefs_.save();
    }
    ui_.setText(outlet::tidyExclusionList, exclusionLines(list));
}

}  // namespace vaultry
