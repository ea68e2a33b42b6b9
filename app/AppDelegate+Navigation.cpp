#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "platform/Outlets.h"

// Presses of the skin buttons, routed by one table from the button (the notification its kind
// posts and its outlet) to what the press does. Presses of buttons not in the table are ignored.
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

// One skin button and what its press does.
struct PressRoute {
    const char* notification;  // what the button's kind posts
    const char* outlet;
    void (*press)(AppDelegate&);
};

}  // namespace

void AppDelegate::SkinButtonMouseDownHandle(const Notification& n) {
    using namespace notify;
    static constexpr PressRoute kRoutes[] = {
        // ---- The cookie page's sources
        {PRLeftButtonMouseDown, outlet::openCookieBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kCookieButtons, 0);
             d.ActClickOpenCookiesAction();
             d.ui_.setImage(outlet::openCookieBtn, "opencookienom.png");
             d.ui_.setImage(outlet::newCookieBtn, "newcookiedown.png");
         }},
        {PRLeftButtonMouseDown, outlet::safariCookieBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kCookieButtons, 1);
             d.ActClickSafariAction();
         }},
        {PRLeftButtonMouseDown, outlet::chromeCookieBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kCookieButtons, 2);
             d.ActClickChromeAction();
         }},
        {PRLeftButtonMouseDown, outlet::firefoxCookieBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kCookieButtons, 3);
             d.ActClickFireFoxAction();
         }},
        {PRLeftButtonMouseDown, outlet::newCookieBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kCookieButtons, 4);
             d.ShowNewCookieRecords();
         }},
        // ---- Storage location, password and the start location of a tidy
        {PRLeftButtonMouseDown, outlet::selectStorageBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectStorageBtn, "storagedown.png");
             d.ChooseEncryptedFileStoreLocation();
             d.ui_.setImage(outlet::selectStorageBtn, "storagenom.png");
         }},
        {PRLeftButtonMouseDown, outlet::changeStorageBtn, [](AppDelegate& d) { d.ChangeStorePathAction(); }},
        {PRLeftButtonMouseDown, outlet::changePassWordBtn, [](AppDelegate& d) { d.ChangePassWordAction(); }},
        {PRLeftButtonMouseDown, outlet::tidybutton,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::tidybutton, "startlocationdownbtn.png");
             d.ChooseStartLocationAction();  // its completion puts the normal face back
         }},
        // ---- The vault's six filters
        {PRLeftButtonMouseDown, outlet::selectAllBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectAllBtn, "allnom");
             d.SelectAllEncryptedFilesAction();
         }},
        {PRLeftButtonMouseDown, outlet::selectImageBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectImageBtn, "imagenom");
             d.SelectEncryptedImagesAction();
         }},
        {PRLeftButtonMouseDown, outlet::selectDocBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectDocBtn, "docnom");
             d.SelectEncryptedDocsAction();
         }},
        {PRLeftButtonMouseDown, outlet::selectVideoBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectVideoBtn, "medianom");
             d.SelectEncryptedMediasAction();
         }},
        {PRLeftButtonMouseDown, outlet::selectFolderBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectFolderBtn, "foldernom");
             d.SelectEncryptedFoldersAction();
         }},
        {PRLeftButtonMouseDown, outlet::selectOtherBtn,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::selectOtherBtn, "othernom");
             d.SelectEncryptedOtherAction();
         }},
        // ---- The desktop browser's kind buttons
        {FBLeftButtonMouseDown, outlet::currentDesktopBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kKindButtons, 0);
             d.selectAllDesktop();
         }},
        {FBLeftButtonMouseDown, outlet::pictureBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kKindButtons, 1);
             d.selectPictures();
         }},
        {FBLeftButtonMouseDown, outlet::documentBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kKindButtons, 2);
             d.selectDocuments();
         }},
        {FBLeftButtonMouseDown, outlet::archiveBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kKindButtons, 3);
             d.selectArchives();
         }},
        {FBLeftButtonMouseDown, outlet::folerBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kKindButtons, 4);
             d.selectFolders();
         }},
        {FBLeftButtonMouseDown, outlet::otherBtn,
         [](AppDelegate& d) {
             pressOne(d.ui_, kKindButtons, 5);
             d.selectOthers();
         }},
        // ---- Close buttons of the vault, enter-password and preferences windows
        {MyClosebuttonMouseDown, outlet::closedFileWindowButton,
         [](AppDelegate& d) { d.visibleItemsOffer(); }},
        {MyClosebuttonMouseDown, outlet::closedPDWindowButton,
         [](AppDelegate& d) {
             // A cancelled prompt forgets why it was opened, a password change waiting for it too.
             d.bperfPassW = false;
             d.pendingNewPassword_.reset();
             d.ui_.hideWindow(outlet::enterPDWindow);
         }},
        {MyClosebuttonMouseDown, outlet::closedPrefWindowButton,
         [](AppDelegate& d) { d.ui_.hideWindow(outlet::preferWindows); }},
        // ---- The password windows' buttons
        {MyClosebuttonMouseDown, outlet::doneButton, [](AppDelegate& d) { d.ClickCreatePasswordDone(); }},
        {MyClosebuttonMouseDown, outlet::closedButton,
         [](AppDelegate& d) {
             d.ui_.setImage(outlet::closedButton, "Close_Down.png");
             d.ui_.hideWindow(outlet::CreatePWWindow);
             d.ui_.setImage(outlet::closedButton, "Close_Nom.png");
         }},
        {MyClosebuttonMouseDown, outlet::enterPDButton, [](AppDelegate& d) { d.ClickEnterPasswordButton(); }},
    };
    if (!n.object) return;
    for (const auto& route : kRoutes)
        if (n.name == route.notification && n.object == ui_.outlet(route.outlet)) return route.press(*this);
}

}  // namespace vaultry
