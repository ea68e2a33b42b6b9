#include "app/AppDelegate.h"

// Presses of the skin buttons, dispatched by which button sent them. Senders without a branch
// here are ignored.
namespace vaultry {

void AppDelegate::PRLeftTipButtonMouseDownHandle(const Notification& n) {
    // ---- Vault and preferences: storage folder, password change and the vault's six filters.
    const auto is = [&](const char* outlet) { return n.object && n.object == ui_.outlet(outlet); };
    if (is("selectStorageBtn")) {
        ui_.setImage("selectStorageBtn", "storagedown.png");
        ChooseEncryptedFileStoreLocation();
        ui_.setImage("selectStorageBtn", "storagenom.png");
        return;
    }
    if (is("changeStorageBtn")) {
        ChangeStorePathAction();
        return;
    }
    if (is("changePassWordBtn")) {
        ChangePassWordAction();
        return;
    }
    struct Filter {
        const char* outlet;
        const char* image;
        void (AppDelegate::*select)();
    };
    static constexpr Filter kFilters[] = {
        {"selectAllBtn", "allnom", &AppDelegate::SelectAllEncryptedFilesAction},
        {"selectImageBtn", "imagenom", &AppDelegate::SelectEncryptedImagesAction},
        {"selectDocBtn", "docnom", &AppDelegate::SelectEncryptedDocsAction},
        {"selectVideoBtn", "medianom", &AppDelegate::SelectEncryptedMediasAction},
        {"selectFolderBtn", "foldernom", &AppDelegate::SelectEncryptedFoldersAction},
        {"selectOtherBtn", "othernom", &AppDelegate::SelectEncryptedOtherAction}};
    for (const auto& f : kFilters)
        if (is(f.outlet)) {
            ui_.setImage(f.outlet, f.image);
            (this->*f.select)();
            return;
        }
    // ---- End of vault and preferences.
}

void AppDelegate::FBLeftButtonMouseDownDownHandle(const Notification&) {}

}  // namespace vaultry
