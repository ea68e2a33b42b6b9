#pragma once
#include <mutex>
#include <string>

#include "app/NotificationCenter.h"
#include "platform/Image.h"

namespace vaultry::vault {
struct RowLookup;
}

namespace vaultry {

// One row of the vault table: the item's name and picture, its lock picture, the switch that
// unlocks or locks it and the button that reveals its plaintext copy. The row does not call the
// controller: its actions post notifications with the row itself as the object.
class PSTableCellView {
public:
    struct Button {
        platform::ImageRef image;
        bool enabled = true;
    };

    explicit PSTableCellView(NotificationCenter* nc = nullptr, std::string identifier = {})
        : identifier(std::move(identifier)), nc_(nc) {}
    PSTableCellView(const PSTableCellView&) = delete;
    PSTableCellView& operator=(const PSTableCellView&) = delete;

    std::string identifier;  // the table column the row was made for
    std::string fileNamelab;
    platform::ImageRef imageView;
    platform::ImageRef lockImageView;
    platform::ImageRef hideImageView;
    Button switchBtn;
    Button showBtn;
    bool bHidenEncypt = false;
    bool filled = false;  // false for a row made beyond the end of the list

    // Fills the row for a record: name, picture, lock picture and the state the lookup tells.
    // An encrypted file shows the icon of its item's kind (its name less ".enc"), never a picture
    // of its content; an encrypted folder the folder picture; a hidden item the icon of its path.
    void fill(const std::string& record, const vault::RowLookup& lookup);

    std::string theFilePath() const;
    void setTheFilePath(std::string path);

    // Locked: switch "switchdown.png", show button "finddown.png" and disabled, lock "locktag.png".
    void setLockedLook();
    // Unlocked: switch "turnoffbtn.png", show button "find.png" and enabled, lock "viewtag.png".
    void setUnlockedLook();
    // The switch's picture is the row's state.
    bool showsLocked() const;

    void ClickSwtichAction();
    void ClickShowInFinderAction();
    void EncryptedItemAction();
    void DecryptedItemAction();
    void RemoveItemAction();

private:
    void post(const char* name);
    NotificationCenter* nc_;
    mutable std::mutex pathMutex_;
    std::string theFilePath_;
};

}  // namespace vaultry
