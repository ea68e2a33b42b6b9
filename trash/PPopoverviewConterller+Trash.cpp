#include <cstring>

#include "app/SettingsKeys.h"
#include "desktop/PPopoverviewConterller.h"
#include "platform/Log.h"
#include "trash/Trash.h"

namespace vaultry {

void PPopoverviewConterller::ChangeTheTrashTime() {
    const std::string title = s_.ui.text("theTimeBtn");
    if (!trash::intervalOfTimeChoice(title)) return;
    s_.settings.set(key::CleanTimeF, title);
    if (auto st = s_.settings.flush(); !st) logLine(st.error().message);
}

void PPopoverviewConterller::TragTheStorageAction() {
    const std::uint64_t threshold =
        trash::storageThresholdForSlider(s_.ui.number("storageSlider"), kStorageSliderMaximum);
    if (threshold <= trash::kSmallestStorageThreshold) {
        s_.ui.setText("storagelab", "100MB");  // the stored limit keeps its former value
        return;
    }
    char buffer[100] = {};
    std::string label = " ";
    label += size_to_unit(threshold, buffer);
    s_.ui.setText("storagelab", std::move(label));
    s_.settings.set(key::TrashStorage, threshold);
    if (auto st = s_.settings.flush(); !st) logLine(st.error().message);
}

void PPopoverviewConterller::ShowLastCleanUpInfo(const std::optional<std::string>& sizeText,
                                                 const std::optional<std::string>& dateText) {
    for (const char* label : {"lastCleanupInfolab", "lastCleanupSizelab", "lastCleanupDatelab"})
        s_.ui.setHidden(label, false);
    if (sizeText) s_.ui.setText("lastCleanupSizelab", *sizeText);
    if (dateText) s_.ui.setText("lastCleanupDatelab", *dateText);
}

std::string PPopoverviewConterller::getTimeFrequency() { return s_.ui.text("theTimeBtn"); }
bool PPopoverviewConterller::BCheckDate() { return s_.ui.state("cleanTimeCheckBtn"); }
bool PPopoverviewConterller::BCheckStorage() { return s_.ui.state("cleanStorageCheckBtn"); }

void PPopoverviewConterller::readConfigfileInfo() {
    s_.ui.setState("autoLunchBtn", s_.settings.string(key::BAutoLogin) == "YES");
}

void PPopoverviewConterller::ClickAutoTrashOnLogin() {
    const bool wanted = s_.ui.state("autoLunchBtn");
    const bool done = wanted ? addAutoTrashAppAsLoginItem() : deleteAutoTrashAppFromLoginItem();
    // The key and the box say what actually holds, also when the change could not be made.
    const bool on = done ? wanted : s_.loginItems.isEnabled();
    if (!done) {
        logLine(wanted ? "cannot add the login item" : "cannot remove the login item");
        s_.ui.setState("autoLunchBtn", on);
    }
    s_.settings.set(key::BAutoLogin, on ? "YES" : "NO");
    if (auto st = s_.settings.flush(); !st) logLine(st.error().message);
}

bool PPopoverviewConterller::addAutoTrashAppAsLoginItem() { return s_.loginItems.setEnabled(true); }
bool PPopoverviewConterller::deleteAutoTrashAppFromLoginItem() { return s_.loginItems.setEnabled(false); }

}  // namespace vaultry
