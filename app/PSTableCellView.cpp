#include "app/PSTableCellView.h"

#include "app/Notifications.h"
#include "vault/Records.h"
#include "vault/VaultList.h"

namespace vaultry {

namespace {
const platform::ImageRef kSwitchDown = platform::ImageRef::named("switchdown.png");
}

std::string PSTableCellView::theFilePath() const {
    std::lock_guard lock(pathMutex_);
    return theFilePath_;
}

void PSTableCellView::setTheFilePath(std::string path) {
    std::lock_guard lock(pathMutex_);
    theFilePath_ = std::move(path);
}

void PSTableCellView::setLockedLook() {
    switchBtn.image = kSwitchDown;
    showBtn.image = platform::ImageRef::named("finddown.png");
    showBtn.enabled = false;
    lockImageView = platform::ImageRef::named("locktag.png");
}

void PSTableCellView::setUnlockedLook() {
    switchBtn.image = platform::ImageRef::named("turnoffbtn.png");
    showBtn.image = platform::ImageRef::named("find.png");
    showBtn.enabled = true;
    lockImageView = platform::ImageRef::named("viewtag.png");
}

void PSTableCellView::fill(const std::string& record, const vault::RowLookup& lookup) {
    using vault::RecordKind;
    setTheFilePath(record);
    filled = true;
    const vault::RecordParts parts = vault::splitRecord(record);
    switch (parts.kind) {
        case RecordKind::EncryptedFile:
            bHidenEncypt = true;
            // The icon of the item's kind, from its own name: no picture is drawn from its content.
            imageView = platform::ImageRef::iconOf(vault::deletingExtension(record));
            break;
        case RecordKind::EncryptedFolder:
            bHidenEncypt = true;
            imageView = platform::ImageRef::named("floderimage");
            break;
        case RecordKind::Hidden:
            bHidenEncypt = false;
            imageView = platform::ImageRef::iconOf(record);
            break;
    }
    fileNamelab = parts.displayName;
    if (lookup.isDecrypted(record))
        setUnlockedLook();
    else
        setLockedLook();
}

bool PSTableCellView::showsLocked() const { return switchBtn.image == kSwitchDown; }

void PSTableCellView::post(const char* name) {
    if (nc_) nc_->post(name, this);
}

void PSTableCellView::ClickSwtichAction() {
    post(showsLocked() ? notify::ClickSwtichOnNotification : notify::ClickSwtichOffNotification);
}

void PSTableCellView::ClickShowInFinderAction() {
    if (!showsLocked()) post(notify::ClickShowInFinderNotification);
}

void PSTableCellView::EncryptedItemAction() { post(notify::ClickSwtichOnNotification); }
void PSTableCellView::DecryptedItemAction() { post(notify::ClickSwtichOffNotification); }
void PSTableCellView::RemoveItemAction() { post(notify::ClickRemoveItemNotification); }

}  // namespace vaultry
