#include "app/AppDelegate.h"
#include "platform/Outlets.h"

// Presses of the skin buttons, dispatched by which button sent them. Senders without a branch
// here are ignored.
namespace vaultry {
namespace {

struct Faces {
    const char* outlet;
    const char* down;
    const char* normal;
};

// The cookie page's source buttons.
constexpr Faces kCookieButtons[] = {
    {outlet::openCookieBtn, "opencooikedown.png", "opencookienom.png"},
    {outlet::safariCookieBtn, "safaricookiedown.png", "Safaricookienom.png"},
    {outlet::chromeCookieBtn, "chromecookiedown.png", "chromecookienom.png"},
    {outlet::firefoxCookieBtn, "firefoxcookiedown.png", "firefoxcookienom.png"},
    {outlet::newCookieBtn, "newcookiedown.png", "newcookienom.png"},
};

// The desktop browser's kind buttons.
constexpr Faces kKindButtons[] = {
    {outlet::currentDesktopBtn, "currentBigDesktopdown.png", "currentBigDesktopnom.png"},
    {outlet::pictureBtn, "picbigDown.png", "picbignom.png"},
    {outlet::documentBtn, "docbigdown.png", "docbignom.png"},
    {outlet::archiveBtn, "archbigdown.png", "archbignom.png"},
    {outlet::folerBtn, "folderbigdown.png", "folderbignom.png"},
    {outlet::otherBtn, "othebigdown.png", "otherbignom.png"},
};

// The pressed button of a group shows its down face, the others their normal face.
template <std::size_t N>
void pressOne(platform::Ui& ui, const Faces (&group)[N], std::size_t pressed) {
    for (std::size_t i = 0; i < N; ++i)
        ui.setImage(group[i].outlet, i == pressed ? group[i].down : group[i].normal);
}

template <std::size_t N>
std::optional<std::size_t> senderIn(platform::Ui& ui, const Faces (&group)[N], const void* sender) {
    if (!sender) return std::nullopt;
    for (std::size_t i = 0; i < N; ++i)
        if (ui.outlet(group[i].outlet) == sender) return i;
    return std::nullopt;
}

}  // namespace

void AppDelegate::PRLeftTipButtonMouseDownHandle(const Notification& n) {
    const void* sender = n.object;
    if (!sender) return;
    if (const auto cookie = senderIn(ui_, kCookieButtons, sender)) {
        pressOne(ui_, kCookieButtons, *cookie);
        switch (*cookie) {
            case 0:
                ActClickOpenCookiesAction();
                ui_.setImage(outlet::openCookieBtn, "opencookienom.png");
                ui_.setImage(outlet::newCookieBtn, "newcookiedown.png");
                break;
            case 1:
                ActClickSafariAction();
                break;
            case 2:
                ActClickChromeAction();
                break;
            case 3:
                ActClickFireFoxAction();
                break;
            case 4:
                ShowNewCookieRecords();
                break;
        }
        return;
    }

    // ---- Storage location, password and the vault's six filters
    if (sender == ui_.outlet(outlet::selectStorageBtn)) {
        ui_.setImage(outlet::selectStorageBtn, "storagedown.png");
        ChooseEncryptedFileStoreLocation();
        ui_.setImage(outlet::selectStorageBtn, "storagenom.png");
        return;
    }
    if (sender == ui_.outlet(outlet::changeStorageBtn)) {
        ChangeStorePathAction();
        return;
    }
    if (sender == ui_.outlet(outlet::changePassWordBtn)) {
        ChangePassWordAction();
        return;
    }
    if (sender == ui_.outlet(outlet::tidybutton)) {
        ui_.setImage(outlet::tidybutton, "startlocationdownbtn.png");
        ChooseStartLocationAction();  // its completion puts the normal face back
        return;
    }
    struct Filter {
        const char* outlet;
        const char* image;
        void (AppDelegate::*select)();
    };
    static constexpr Filter kFilters[] = {
        {outlet::selectAllBtn, "allnom", &AppDelegate::SelectAllEncryptedFilesAction},
        {outlet::selectImageBtn, "imagenom", &AppDelegate::SelectEncryptedImagesAction},
        {outlet::selectDocBtn, "docnom", &AppDelegate::SelectEncryptedDocsAction},
        {outlet::selectVideoBtn, "medianom", &AppDelegate::SelectEncryptedMediasAction},
        {outlet::selectFolderBtn, "foldernom", &AppDelegate::SelectEncryptedFoldersAction},
        {outlet::selectOtherBtn, "othernom", &AppDelegate::SelectEncryptedOtherAction}};
    for (const auto& f : kFilters)
        if (sender == ui_.outlet(f.outlet)) {
            ui_.setImage(f.outlet, f.image);
            (this->*f.select)();
            return;
        }
}

void AppDelegate::FBLeftButtonMouseDownDownHandle(const Notification& n) {
    const auto kind = senderIn(ui_, kKindButtons, n.object);
    if (!kind) return;
    pressOne(ui_, kKindButtons, *kind);
    switch (*kind) {
        case 0:
            selectAllDesktop();
            break;
        case 1:
            selectPictures();
            break;
        case 2:
            selectDocuments();
            break;
        case 3:
            selectArchives();
            break;
        case 4:
            selectFolders();
            break;
        case 5:
            selectOthers();
            break;
    }
}

}  // namespace vaultry
