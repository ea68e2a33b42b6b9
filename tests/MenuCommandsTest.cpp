#include <gtest/gtest.h>

#include <algorithm>

#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "update/VersionCheck.h"
#include "vault/AutoLock.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct MenuWorld {
    test::World w;
    std::unique_ptr<AppDelegate> app = std::make_unique<AppDelegate>(w.services());
    void press(const char* outlet) { w.nc.post(notify::PRLeftButtonMouseDown, w.ui.outlet(outlet)); }
    bool happened(const std::string& event) {
        return std::find(w.ui.events.begin(), w.ui.events.end(), event) != w.ui.events.end();
    }
};

// Preferences: auto-lock and erase choices, and the tidy exclusions, kept on disk and shown again
// at the next start.
TEST(Preferences, AutoLockAndErasePassesAreKeptAndReadBackAtStart) {
    MenuWorld m;
    m.app->readConfigfileInfo();
    EXPECT_EQ(m.w.ui.number("autoLockPopup"), 0);  // Off
    EXPECT_EQ(m.w.ui.number("erasePassesPopup"), 0);

    m.w.ui.setNumber("autoLockPopup", 2);
    m.app->ChangeAutoLockAction();
    m.w.ui.setNumber("erasePassesPopup", 1);
    m.app->ChangeErasePassesAction();
    SettingsStore onDisk(m.w.paths.settingsFile());
    EXPECT_EQ(onDisk.number(vault::kAutoLockMinutesKey), 15u);
    EXPECT_EQ(onDisk.number(prefkey::ErasePasses), 1u);

    m.w.ui.setNumber("autoLockPopup", 0);
    m.w.ui.setNumber("erasePassesPopup", 0);
    m.app->readConfigfileInfo();
    EXPECT_EQ(m.w.ui.number("autoLockPopup"), 2);
    EXPECT_EQ(m.w.ui.number("erasePassesPopup"), 1);

    // Off and the tool's default are kept as 0; a stored time that is no choice shows as Off.
    m.w.ui.setNumber("autoLockPopup", 0);
    m.app->ChangeAutoLockAction();
    m.w.ui.setNumber("erasePassesPopup", 0);
    m.app->ChangeErasePassesAction();
    EXPECT_EQ(m.w.settings.number(vault::kAutoLockMinutesKey), 0u);
    EXPECT_EQ(m.w.settings.number(prefkey::ErasePasses), 0u);
    m.w.settings.set(vault::kAutoLockMinutesKey, std::uint64_t{7});
    m.w.ui.setNumber("autoLockPopup", 3);
    m.app->readConfigfileInfo();
    EXPECT_EQ(m.w.ui.number("autoLockPopup"), 0);
}

TEST(Preferences, TidyExclusionsAreAddedOnceRemovedByRowAndReadBackAtStart) {
    MenuWorld m;
    m.w.ui.setText("tidyExclusionField", "  *.iso ");
    m.app->AddTidyExclusionAction();
    EXPECT_EQ(m.w.ui.text("tidyExclusionField"), "");
    m.app->KeepLaunchersAction();
    m.app->KeepLaunchersAction();  // once only
    m.w.ui.setText("tidyExclusionField", "*.iso");
    m.app->AddTidyExclusionAction();
    m.w.ui.setText("tidyExclusionField", "   ");
    m.app->AddTidyExclusionAction();
    EXPECT_EQ(m.w.ui.text("tidyExclusionList"), "*.iso\n*.desktop");
    EXPECT_EQ(SettingsStore(m.w.paths.settingsFile()).stringArray(prefkey::TidyExclusions),
              (Strings{"*.iso", "*.desktop"}));

    m.w.ui.setNumber("tidyExclusionList", 0);
    m.app->RemoveTidyExclusionAction();
    m.w.ui.setNumber("tidyExclusionList", -1);  // nothing selected: nothing removed
    m.app->RemoveTidyExclusionAction();
    EXPECT_EQ(SettingsStore(m.w.paths.settingsFile()).stringArray(prefkey::TidyExclusions),
              (Strings{"*.desktop"}));

    m.w.ui.setText("tidyExclusionList", "");
    m.app->readConfigfileInfo();
    EXPECT_EQ(m.w.ui.text("tidyExclusionList"), "*.desktop");
}

TEST(TipButtons, StorageAndPasswordButtonsRunTheirCommands) {
    MenuWorld m;
    fs::create_directories(m.w.dir / "Safe");
    m.w.ui.panelAnswers.push_back(Strings{(m.w.dir / "Safe").string()});
    m.press("selectStorageBtn");
    EXPECT_TRUE(m.happened("sheet:CreatePWWindow"));
    EXPECT_EQ(m.w.ui.image("selectStorageBtn").value, "storagenom.png");
    EXPECT_EQ(m.w.ui.text("StorePathlab"), (m.w.dir / "Safe/vaultry.data").string());

    m.press("changeStorageBtn");
    EXPECT_TRUE(m.happened("sheet:preferWindows"));

    m.w.ui.setText("newPWLab", "one");
    m.w.ui.setText("confirmNewPWLab", "two");
    m.w.ui.setHidden("warnnewPWlab", true);
    m.press("changePassWordBtn");
    EXPECT_FALSE(m.w.ui.isHidden("warnnewPWlab"));
    EXPECT_TRUE(m.happened("shake:preferWindows"));

    // A button without a branch, and no sender at all, change nothing.
    const auto events = m.w.ui.events;
    m.press("tidyNowBtn");
    m.w.nc.post(notify::PRLeftButtonMouseDown, nullptr);
    EXPECT_EQ(m.w.ui.events, events);
}

TEST(TipButtons, EachFilterShowsItsImageAndNarrowsTheList) {
    MenuWorld m;
    const Strings all = {"/u/a.jpg.enc",   "/u/b.pdf.enc", "/u/c.mov.enc",
                         "/u/Work.tar.gz", "/u/e.xyz.enc", "/u/hidden.txt"};
    for (const auto& record : all) m.app->addVaultRecord(record, vaultry::vault::recordKind(record));
    const std::tuple<const char*, const char*, Strings> cases[] = {
        {"selectImageBtn", "imagenom", {"/u/a.jpg.enc"}},
        {"selectDocBtn", "docnom", {"/u/b.pdf.enc"}},
        {"selectVideoBtn", "medianom", {"/u/c.mov.enc"}},
        {"selectFolderBtn", "foldernom", {"/u/Work.tar.gz"}},
        {"selectOtherBtn", "othernom", {"/u/e.xyz.enc"}},
        {"selectAllBtn", "allnom", all}};
    for (const auto& [outlet, image, shown] : cases) {
        SCOPED_TRACE(outlet);
        const int reloads = m.w.ui.at("fileTableView").reloads;
        m.press(outlet);
        EXPECT_EQ(m.w.ui.image(outlet).value, image);
        EXPECT_EQ(m.app->shownRecords(), shown);
        EXPECT_EQ(m.w.ui.at("fileTableView").reloads, reloads + 1);
    }
}

TEST(MenuCommands, HelpOpensTheHelpPageTheBuildNames) {
    test::Env help("VAULTRY_HELP_URL", "https://help.test/vaultry#readme");
    MenuWorld m;
    test::writeFile(m.w.paths.installedDocs() / "README.md", "# Vaultry\n");
    m.app->ClickHelp();
    EXPECT_EQ(m.w.workspace.urls, Strings{"https://help.test/vaultry#readme"});
    EXPECT_TRUE(m.w.ui.alerts.empty());
}

TEST(MenuCommands, HelpWithoutAHelpPageOpensTheInstalledReadme) {
    test::Env help("VAULTRY_HELP_URL", "");
    MenuWorld m;
    const auto readme = m.w.paths.installedDocs() / "README.md";
    test::writeFile(readme, "# Vaultry\n");
    m.app->ClickHelp();
    ASSERT_EQ(m.w.workspace.urls.size(), 1u);
    EXPECT_EQ(m.w.workspace.urls[0], fileUrl(readme));
    EXPECT_EQ(m.w.workspace.urls[0], "file://" + readme.string()) << "a temporary path needs no escapes";
    EXPECT_TRUE(m.w.ui.alerts.empty());
}

TEST(MenuCommands, HelpWithNothingToOpenSaysWhereTheManualIs) {
    test::Env help("VAULTRY_HELP_URL", "");
    MenuWorld m;
    m.app->ClickHelp();
    EXPECT_TRUE(m.w.workspace.urls.empty());
    ASSERT_EQ(m.w.ui.alerts.size(), 1u);
    EXPECT_EQ(m.w.ui.alerts[0].message, "Vaultry's documentation is not installed.");
    EXPECT_NE(m.w.ui.alerts[0].informative.find("man vaultry"), std::string::npos);
}

TEST(MenuCommands, AboutAutomaticTidyAndUnhide) {
    MenuWorld m;
    m.app->ActAboutAction();
    m.app->ActAboutAction();
    EXPECT_EQ(std::count(m.w.ui.events.begin(), m.w.ui.events.end(), "show:aboutWindow"), 1)
        << "an about window already shown is left as it is";

    for (const bool on : {false, true}) {
        m.w.ui.setState("autoCleanupSelectBtn", on);
        m.app->ClickAutoTidyDesktop();
        SettingsStore reread(m.w.paths.settingsFile());  // flushed to the file
        EXPECT_EQ(reread.string(prefkey::AutoTidy), on ? "YES" : "NO");
    }

    // Without the vault window, unhide leads to it (through the password gate).
    m.app->UnHideFileAction();
    EXPECT_TRUE(m.w.ui.isVisible("CreatePWWindow"));

    // With the vault open and a hidden item's row clicked: asked, revealed, unhidden.
    m.w.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
    const std::string hidden = (m.w.dir / "diary.md").string();
    test::writeFile(hidden, "x");
    ASSERT_TRUE(m.app->HiddenFileFolderFunction(hidden));
    m.app->addVaultRecord("/u/a.jpg.enc", vaultry::vault::recordKind("/u/a.jpg.enc"));
    m.app->addVaultRecord(hidden, vaultry::vault::recordKind(hidden));
    m.w.ui.showWindow("thefileManageWindow");
    m.w.ui.at("fileTableView").clickedRow = 0;  // an encrypted row: just the window again
    m.w.ui.events.clear();
    m.app->UnHideFileAction();
    EXPECT_TRUE(m.w.ui.alerts.empty());
    EXPECT_TRUE(m.happened("show:thefileManageWindow"));
    m.w.ui.at("fileTableView").clickedRow = 1;
    m.w.ui.alertAnswers.push_back(platform::AlertAnswer::Alternate);
    m.app->UnHideFileAction();
    EXPECT_EQ(m.app->shownRecords(), (Strings{"/u/a.jpg.enc", hidden})) << "cancel leaves it hidden";
    m.app->UnHideFileAction();
    ASSERT_FALSE(m.w.ui.alerts.empty());
    EXPECT_EQ(m.w.ui.alerts.back().defaultTitle, " Unhide ");
    EXPECT_EQ(m.w.workspace.revealed, Strings{hidden});
    EXPECT_EQ(m.app->shownRecords(), Strings{"/u/a.jpg.enc"});
    EXPECT_FALSE(m.w.hiddenFlag.isHidden(hidden));
}

}  // namespace
}  // namespace vaultry
