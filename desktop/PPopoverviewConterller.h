#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "app/AppDelegate.h"

namespace vaultry {

// The controller of the tray popover: the tidy list of the tidied desktop, and the trash
// settings view (also shown in the automatic-trash window). Tidy-list methods live in desktop/,
// trash-settings methods in trash/.
class PPopoverviewConterller {
public:
    explicit PPopoverviewConterller(Services services);
    ~PPopoverviewConterller();
    PPopoverviewConterller(const PPopoverviewConterller&) = delete;
    PPopoverviewConterller& operator=(const PPopoverviewConterller&) = delete;

    // The one-decimal size text ("1.0MB") into a caller's zero-filled 100-byte buffer; also
    // returned as a string.
    std::string size_to_unit(std::uint64_t bytes, char* out_buffer);

    // ---- Tidy list -------------------------------------------------------------------------

    // ---- Trash settings --------------------------------------------------------------------
    // The storage slider's range as the GUI builds it (0 to kStorageSliderMaximum).
    static constexpr double kStorageSliderMaximum = 100;
    void ChangeTheTrashTime();    // "theTimeBtn" changed: a known title goes to "CleanTimeF"
    void TragTheStorageAction();  // "storageSlider" moved: "storagelab" and "TrashStorage"
    // The last-emptying labels; each text is set only when given.
    void ShowLastCleanUpInfo(const std::optional<std::string>& sizeText,
                             const std::optional<std::string>& dateText);
    std::string getTimeFrequency();
    bool BCheckDate();
    bool BCheckStorage();
    void readConfigfileInfo();
    // "autoLunchBtn" changed: the login item follows it and "BAutoLogin" records what holds.
    void ClickAutoTrashOnLogin();
    bool addAutoTrashAppAsLoginItem();
    bool deleteAutoTrashAppFromLoginItem();

private:
    Services s_;
    std::vector<NotificationCenter::Token> observers_;

    // ---- Tidy list state -------------------------------------------------------------------

    // ---- Trash settings state --------------------------------------------------------------
};

}  // namespace vaultry
