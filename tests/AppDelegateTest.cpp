#include "app/AppDelegate.h"
#include "vault/Records.h"

#include <gtest/gtest.h>

#include "app/Notifications.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "vault/VaultList.h"

namespace vaultry {
namespace {

struct Started {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    void start() {
        app = std::make_unique<AppDelegate>(w.services());
        app->awakeFromNib();
        app->applicationDidFinishLaunching();
    }
};

TEST(StartUp, FirstStartWithAnEmptyStore) {
    Started s;
    s.start();
    auto& app = *s.app;
    EXPECT_EQ(AppDelegate::GetAppControllor(), &app);
    EXPECT_TRUE(app.shownRecords().empty());
    EXPECT_TRUE(app.allRecords().empty());
    EXPECT_TRUE(app.decryptedRecords().empty());
    EXPECT_EQ(app.StorelocationPath(), "");
    EXPECT_FALSE(s.w.ui.state("autoLunchBtn"));
    EXPECT_TRUE(s.w.ui.state("autoCleanupSelectBtn"));
    EXPECT_EQ(s.w.ui.text("StorePathlab"), "");
    for (const char* hidden :
         {"warnlab", "enterPDWarnLab", "warnnewPWlab", "theProgressor", "theConentView", "newCookieBtn"})
        EXPECT_TRUE(s.w.ui.isHidden(hidden)) << hidden;
    // Linux has no sandbox: the access window only ever asks where tidied items go.
    EXPECT_FALSE(s.w.ui.isHidden("startTidyView"));
    EXPECT_FALSE(s.w.ui.isHidden("openView"));
    EXPECT_EQ(s.w.ui.image("_statusItem"), platform::ImageRef::named("bannerIcon.png"));
    EXPECT_FALSE(app.inDarkMode());
    EXPECT_FALSE(app.passwordPromptOpensPreferences());
    ASSERT_NE(app.autoTidyTimerId(), 0u);
    EXPECT_EQ(s.w.mainThread.timers.at(app.autoTidyTimerId()).interval, std::chrono::seconds(1));
    EXPECT_TRUE(s.w.mainThread.timers.at(app.autoTidyTimerId()).repeats);
    // Starting writes nothing but the Trash's grant, which Linux needs no one to give.
    SettingsStore onDisk(s.w.paths.settingsFile());
    std::vector<std::string> keys;
    for (const auto& [k, v] : onDisk.snapshot()) keys.push_back(k);
    EXPECT_EQ(keys, (std::vector<std::string>{prefkey::TrashGrant, prefkey::CookieFolderGrant}));
    const auto grant = s.w.bookmarks.resolve(*onDisk.data(prefkey::TrashGrant));
    ASSERT_TRUE(grant);
    EXPECT_EQ(grant->path, s.w.paths.trash().string());
    EXPECT_EQ(app.StorelocationPath(), "") << "the Trash is never where tidied items go";
    s.app.reset();
    EXPECT_EQ(AppDelegate::GetAppControllor(), nullptr);
}

TEST(StartUp, AnOlderTidyLocationIsKeptButTheTrashGrantIsNeverTakenForIt) {
    {
        Started s;
        const auto location = s.w.dir / "Tidied";
        std::filesystem::create_directories(location);
        s.w.settings.set(prefkey::TrashGrant, *s.w.bookmarks.create(location.string()));  // as before
        s.start();
        EXPECT_EQ(s.app->StorelocationPath(), location.string());
        s.app.reset();
        s.start();  // the Trash's grant took the old key; the location moved to its own
        EXPECT_EQ(s.app->StorelocationPath(), location.string());
        EXPECT_TRUE(s.w.settings.data(prefkey::TidyLocationGrant));
    }
    Started s;
    s.start();  // the first start records the Trash's grant
    s.app.reset();
    s.start();
    EXPECT_EQ(s.app->StorelocationPath(), "");
}

TEST(StartUp, CheckBoxesFollowTheStoredFlags) {
    const std::tuple<const char*, const char*, bool, bool> cases[] = {
        {"YES", "YES", true, true}, {"NO", "NO", false, false}, {"yes", "yes", false, false},
        {"", "", false, false},     {"1", "YES", false, true},
    };
    for (const auto& [login, tidy, loginOn, tidyOn] : cases) {
        Started s;
        s.w.settings.set(prefkey::AutoLogin, login);
        s.w.settings.set(prefkey::AutoTidy, tidy);
        s.start();
        EXPECT_EQ(s.w.ui.state("autoLunchBtn"), loginOn) << login;
        EXPECT_EQ(s.w.ui.state("autoCleanupSelectBtn"), tidyOn) << tidy;
    }
}

TEST(StartUp, LoadsTheVaultListsAndTheStorageGrant) {
    Started s;
    std::filesystem::create_directories(s.w.dir / "chosen");
    s.w.settings.set(prefkey::Records, StringArray{"/u/a.enc", "/u/b", "/u/a.enc"});
    s.w.settings.set(prefkey::DecryptedRecords, StringArray{"/u/a.enc"});
    s.w.settings.set(prefkey::StorePath, (s.w.dir / "chosen/vaultry.data").string());
    s.w.settings.set(prefkey::StoreParentGrant, *s.w.bookmarks.create((s.w.dir / "chosen").string()));
    s.start();
    EXPECT_EQ(s.app->allRecords(), (StringArray{"/u/a.enc", "/u/b", "/u/a.enc"}));
    EXPECT_EQ(s.app->shownRecords(), s.app->allRecords());
    EXPECT_EQ(s.app->decryptedRecords(), StringArray{"/u/a.enc"});
    EXPECT_EQ(s.w.ui.text("StorePathlab"), (s.w.dir / "chosen/vaultry.data").string());
    EXPECT_EQ(s.app->StorelocationPath(), "");  // the vault's folder is no tidy location
    EXPECT_GE(s.w.ui.outlets["fileTableView"].reloads, 1);
}

TEST(StartUp, AWronglyTypedListIsTreatedAsEmpty) {
    Started s;
    s.w.settings.set(prefkey::Records, "oops");
    test::LogCapture log;
    s.start();
    EXPECT_TRUE(s.app->allRecords().empty());
    EXPECT_TRUE(log.contains("VaultryDataArray"));
}

TEST(VaultLists, FilteredListNeverShrinksTheStoredList) {
    Started s;
    s.start();
    auto& app = *s.app;
    app.addVaultRecord("/u/x.enc", vaultry::vault::recordKind("/u/x.enc"));
    app.addVaultRecord("/u/x.enc", vaultry::vault::recordKind("/u/x.enc"));
    app.addVaultRecord("/u/y.tar.gz", vaultry::vault::recordKind("/u/y.tar.gz"));
    app.applyVaultFilter(vault::VaultFilter::Folders);  // shows /u/y.tar.gz only
    app.addVaultRecord("/u/z", vaultry::vault::recordKind("/u/z"));
    app.saveRecords();
    EXPECT_EQ(SettingsStore(s.w.paths.settingsFile()).stringArray(prefkey::Records),
              (StringArray{"/u/x.enc", "/u/x.enc", "/u/y.tar.gz", "/u/z"}));
    app.removeVaultRecord("/u/x.enc", true);  // takes out every equal entry
    app.saveRecords();
    EXPECT_EQ(app.shownRecords(), (StringArray{"/u/y.tar.gz", "/u/z"}));
    EXPECT_EQ(SettingsStore(s.w.paths.settingsFile()).stringArray(prefkey::Records),
              (StringArray{"/u/y.tar.gz", "/u/z"}));
    app.markDecrypted("/u/y.tar.gz");
    app.saveDecrypted();
    EXPECT_EQ(SettingsStore(s.w.paths.settingsFile()).stringArray(prefkey::DecryptedRecords),
              StringArray{"/u/y.tar.gz"});
    app.unmarkDecrypted("/u/y.tar.gz");
    app.saveDecrypted();
    EXPECT_EQ(SettingsStore(s.w.paths.settingsFile()).stringArray(prefkey::DecryptedRecords), StringArray{});
}

TEST(Tick, FollowsTheAppearanceOnlyWhileAutoTidyIsOn) {
    Started s;
    s.start();
    auto& app = *s.app;
    s.w.ui.dark = true;
    s.w.ui.setState("autoCleanupSelectBtn", false);
    s.w.mainThread.fire(app.autoTidyTimerId());
    EXPECT_EQ(s.w.ui.image("_statusItem"), platform::ImageRef::named("bannerIcon.png"));
    EXPECT_FALSE(app.inDarkMode());
    s.w.ui.setState("autoCleanupSelectBtn", true);
    s.w.mainThread.fire(app.autoTidyTimerId());
    EXPECT_EQ(s.w.ui.image("_statusItem"), platform::ImageRef::named("darkbannerIcon.png"));
    EXPECT_TRUE(app.inDarkMode());
    s.w.ui.dark = false;
    s.w.mainThread.fire(app.autoTidyTimerId());
    EXPECT_EQ(s.w.ui.image("_statusItem"), platform::ImageRef::named("bannerIcon.png"));
    EXPECT_FALSE(app.inDarkMode());
}

TEST(StartUp, FilesHandedToTheApplicationAreOnlyLogged) {
    Started s;
    s.start();
    test::LogCapture log;
    EXPECT_TRUE(s.app->applicationOpenFile("/u/dropped.txt"));
    s.app->applicationOpenFiles({"/u/a", "/u/b"});
    EXPECT_TRUE(log.contains("FileName1====/u/dropped.txt"));
    EXPECT_TRUE(log.contains("FileName2====/u/b"));
    EXPECT_TRUE(s.app->allRecords().empty());
    EXPECT_TRUE(s.w.workspace.opened.empty());
}

TEST(Notifications, TwoSendersReachTheOneHandlerInOrder) {
    NotificationCenter nc;
    std::vector<const void*> seen;
    nc.addObserver(notify::MyClosebuttonMouseDown, [&](const Notification& n) { seen.push_back(n.object); });
    int other = 0;
    nc.addObserver(notify::PRLeftButtonMouseDown, [&](const Notification&) { ++other; });
    int buttonA = 0, buttonB = 0;
    nc.post(notify::MyClosebuttonMouseDown, &buttonA);
    nc.post(notify::MyClosebuttonMouseDown, &buttonB);
    nc.post(notify::PRCellButtonMouseDown, &buttonA);  // nobody observes it
    EXPECT_EQ(seen, (std::vector<const void*>{&buttonA, &buttonB}));
    EXPECT_EQ(other, 0);
}

TEST(Notifications, AHandlerMayPostAndUnregisterDuringDelivery) {
    NotificationCenter nc;
    int inner = 0;
    NotificationCenter::Token self = 0;
    self = nc.addObserver("outer", [&](const Notification&) {
        nc.post("inner");
        nc.removeObserver(self);
    });
    nc.addObserver("inner", [&](const Notification&) { ++inner; });
    nc.post("outer");
    nc.post("outer");
    EXPECT_EQ(inner, 1);
}

}  // namespace
}  // namespace vaultry
