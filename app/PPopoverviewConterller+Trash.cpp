#include <cstring>

#include "app/PPopoverviewConterller.h"
#include "platform/Outlets.h"
#include "trash/Trash.h"
#include "util/Log.h"

namespace vaultry {

void PPopoverviewConterller::ChangeTheTrashTime() {
    const std::string title = s_.ui.text(outlet::theTimeBtn);
    if (!trash::intervalOfTimeChoice(title)) return;
    prefs_.setCleanTime(title);
    prefs_.save();
}

std::uint64_t PPopoverviewConterller::ShowStorageThreshold() {
    const std::uint64_t threshold =
        trash::storageThresholdForSlider(s_.ui.number(outlet::storageSlider), kStorageSliderMaximum);
    if (threshold <= trash::kSmallestStorageThreshold) {
        s_.ui.setText(outlet::storagelab, "100MB");
        return threshold;
    }
    char buffer[100] = {};
    std::string label = " ";
    label += size_to_unit(threshold, buffer);
    s_.ui.setText(outlet::storagelab, std::move(label));
    return threshold;
}

void PPopoverviewConterller::TragTheStorageAction() {
    const std::uint64_t threshold = ShowStorageThreshold();
    if (threshold <= trash::kSmallestStorageThreshold) return;  // the stored limit keeps its value
    prefs_.setTrashSizeLimit(threshold);
    prefs_.save();
}

void PPopoverviewConterller::ShowLastCleanUpInfo(const std::optional<std::string>& sizeText,
                                                 const std::optional<std::string>& dateText) {
    for (const char* label :
         {outlet::lastCleanupInfolab, outlet::lastCleanupSizelab, outlet::lastCleanupDatelab})
        s_.ui.setHidden(label, false);
    if (sizeText) s_.ui.setText(outlet::lastCleanupSizelab, *sizeText);
    if (dateText) s_.ui.setText(outlet::lastCleanupDatelab, *dateText);
}

void PPopoverviewConterller::ClickTrashChecks() {
    prefs_.setTrashCleanByTime(BCheckDate());
    prefs_.setTrashCleanBySize(BCheckStorage());
    // The boxes would read as set while the next start turns the schedule off: say so.
    if (std::string why; !prefs_.save(&why))
        s_.ui.runAlert({"The Trash schedule could not be saved.", why, " Ok ", "", ""});
}

void PPopoverviewConterller::ClickTrashOnlyChecks() {
    prefs_.setTrashOnlyOlderItems(s_.ui.state(outlet::trashOnlyOlderBtn));
    prefs_.setTrashOnlyOldestItems(s_.ui.state(outlet::trashOnlyOldestBtn));
    if (std::string why; !prefs_.save(&why))
        s_.ui.runAlert({"The Trash schedule could not be saved.", why, " Ok ", "", ""});
}

void PPopoverviewConterller::showTrashSettings() {
    if (const auto title = prefs_.cleanTime(); title && trash::intervalOfTimeChoice(*title))
        s_.ui.setText(outlet::theTimeBtn, *title);
    s_.ui.setState(outlet::cleanTimeCheckBtn, prefs_.trashCleanByTime());
    s_.ui.setState(outlet::cleanStorageCheckBtn, prefs_.trashCleanBySize());
    s_.ui.setState(outlet::trashOnlyOlderBtn, prefs_.trashOnlyOlderItems());
    s_.ui.setState(outlet::trashOnlyOldestBtn, prefs_.trashOnlyOldestItems());
    // The slider stands where the stored limit is, or at the bottom of its range.
    const std::uint64_t stored = prefs_.trashSizeLimit();  // absent: 0, below the smallest
    double best = 0;
    std::string label = "100MB";
    if (stored > trash::kSmallestStorageThreshold) {
        std::uint64_t bestGap = UINT64_MAX;
        for (int v = 0; v <= static_cast<int>(kStorageSliderMaximum); ++v) {
            const std::uint64_t t = trash::storageThresholdForSlider(v, kStorageSliderMaximum);
            const std::uint64_t gap = t > stored ? t - stored : stored - t;
            if (gap < bestGap) bestGap = gap, best = v;
        }
        char buffer[100] = {};
        label.assign(1, ' ');  // appended, not " " + text: GCC 12 at -O3 warns falsely on that
        label += size_to_unit(stored, buffer);
    }
    s_.ui.setNumber(outlet::storageSlider, best);
    s_.ui.setText(outlet::storagelab, std::move(label));
    if (const auto last = prefs_.lastCleanDate())
        ShowLastCleanUpInfo(prefs_.lastCleanSize(), trash::lastCleanDateText(*last));
}

std::string PPopoverviewConterller::getTimeFrequency() { return s_.ui.text(outlet::theTimeBtn); }
bool PPopoverviewConterller::BCheckDate() { return s_.ui.state(outlet::cleanTimeCheckBtn); }
bool PPopoverviewConterller::BCheckStorage() { return s_.ui.state(outlet::cleanStorageCheckBtn); }

void PPopoverviewConterller::readConfigfileInfo() {
    s_.ui.setState(outlet::autoLunchBtn, prefs_.autoLogin());
}

void PPopoverviewConterller::ClickAutoTrashOnLogin() {
    const bool wanted = s_.ui.state(outlet::autoLunchBtn);
    const bool done = wanted ? addAutoTrashAppAsLoginItem() : deleteAutoTrashAppFromLoginItem();
    // The key and the box say what actually holds, also when the change could not be made.
    const bool on = done ? wanted : s_.loginItems.isEnabled();
    if (!done) {
        logLine(wanted ? "cannot add the login item" : "cannot remove the login item");
        s_.ui.setState(outlet::autoLunchBtn, on);
    }
    prefs_.setAutoLogin(on);
    prefs_.save();
}

bool PPopoverviewConterller::addAutoTrashAppAsLoginItem() { return s_.loginItems.setEnabled(true); }
bool PPopoverviewConterller::deleteAutoTrashAppFromLoginItem() { return s_.loginItems.setEnabled(false); }

}  // namespace vaultry
