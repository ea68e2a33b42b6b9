#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/VaultItems.h"

namespace vaultry {
namespace {

using platform::ImageRef;

struct Gate {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    Gate() {
        app = std::make_unique<AppDelegate>(w.services());
        app->awakeFromNib();
        app->applicationDidFinishLaunching();
    }
    void click(const char* outlet) { w.nc.post(notify::MyClosebuttonMouseDown, w.ui.outlet(outlet)); }
    std::string stored() { return w.settings.string(prefkey::PasswordVerifier).value_or("<none>"); }
    void setStored(const std::string& plainOrVerifier) {
        w.settings.set(prefkey::PasswordVerifier, plainOrVerifier);
    }
    void enter(const std::string& text, bool button) {
        w.ui.setText("enterPWLab", text);
        if (button)
            click("enterPDButton");
        else
            app->ReturnOnPasswordField();
    }
    bool vaultShown() { return w.ui.isVisible("thefileManageWindow"); }
};

TEST(PasswordGate, AnEmptyPasswordIsRefusedAndTheFieldsAreClearedAfterUse) {
    Gate g;
    g.app->OPenFileManageWindow();
    EXPECT_TRUE(g.w.ui.isVisible("CreatePWWindow"));
    g.click("doneButton");
    EXPECT_EQ(g.stored(), "<none>");
    EXPECT_FALSE(g.w.ui.isHidden("warnlab"));
    EXPECT_EQ(g.w.ui.events.back(), "shake:CreatePWWindow");
    EXPECT_FALSE(g.app->passPhraseKnown());

    g.w.ui.setText("theCreatePWLab", "pw");
    g.w.ui.setText("theConfirmPWLab", "pw");
    g.click("doneButton");
    // The storage chooser is asked first, as a sheet on the create window (cancelled here).
    EXPECT_NE(std::find(g.w.ui.events.begin(), g.w.ui.events.end(), "sheet:CreatePWWindow"),
              g.w.ui.events.end());
    EXPECT_TRUE(password::isVerifier(g.stored()));
    EXPECT_TRUE(g.app->passPhraseKnown());
    EXPECT_EQ(g.w.ui.text("theCreatePWLab"), "");
    EXPECT_EQ(g.w.ui.text("theConfirmPWLab"), "");
    EXPECT_EQ(g.w.ui.image("doneButton"), ImageRef::named("donenom.png"));

    g.app->forgetPassPhrase();
    g.app->OPenFileManageWindow();
    EXPECT_TRUE(g.w.ui.isVisible("enterPDWindow"));
    g.enter("", false);
    EXPECT_FALSE(g.vaultShown());
    EXPECT_TRUE(g.w.ui.isHidden("enterPDWarnLab"));
    g.enter("", true);
    EXPECT_FALSE(g.vaultShown());
    const int reloads = g.w.ui.at("fileTableView").reloads;
    g.enter("pw", true);
    EXPECT_TRUE(g.vaultShown());
    EXPECT_EQ(g.w.ui.text("enterPWLab"), "");
    EXPECT_FALSE(g.w.ui.isVisible("enterPDWindow"));
    EXPECT_EQ(g.w.ui.at("fileTableView").reloads, reloads + 1);
    EXPECT_TRUE(g.app->passPhraseKnown());

    // Changing to an empty password is refused too.
    g.w.ui.showWindow("preferWindows");
    g.app->ChangePassWordAction();
    EXPECT_FALSE(g.w.ui.isHidden("warnnewPWlab"));
    EXPECT_TRUE(password::matches(g.stored(), "pw"));
}

TEST(PasswordGate, MismatchedCreateWarnsShakesAndStoresNothing) {
    Gate g;
    g.w.ui.setText("theCreatePWLab", "abc");
    g.w.ui.setText("theConfirmPWLab", "abd");
    g.click("doneButton");
    EXPECT_EQ(g.stored(), "<none>");
    EXPECT_FALSE(g.w.ui.isHidden("warnlab"));
    EXPECT_EQ(g.w.ui.text("theConfirmPWLab"), "");
    EXPECT_EQ(g.w.ui.text("theCreatePWLab"), "");
    EXPECT_EQ(g.w.ui.events.back(), "shake:CreatePWWindow");
    g.w.ui.showWindow("CreatePWWindow");
    g.click("closedButton");
    EXPECT_FALSE(g.w.ui.isVisible("CreatePWWindow"));
    EXPECT_EQ(g.w.ui.image("closedButton"), ImageRef::named("Close_Nom.png"));
}

TEST(PasswordGate, ComparisonIsExactAndALegacyPlainPasswordIsUpgraded) {
    Gate g;
    g.setStored(" Secret");
    for (const char* wrong : {"Secret", " secret", " Secret ", "x"}) {
        g.enter(wrong, false);
        EXPECT_FALSE(g.vaultShown()) << wrong;
        EXPECT_FALSE(g.w.ui.isHidden("enterPDWarnLab"));
        EXPECT_EQ(g.w.ui.events.back(), "shake:enterPDWindow");
        EXPECT_EQ(g.stored(), " Secret");
    }
    g.enter(" Secret", false);
    EXPECT_TRUE(g.vaultShown());
    EXPECT_TRUE(password::isVerifier(g.stored()));
    EXPECT_TRUE(password::matches(g.stored(), " Secret"));
    EXPECT_FALSE(password::matches(g.stored(), " secret"));
    EXPECT_EQ(g.app->passPhrase(), " Secret");
    EXPECT_EQ(g.w.ui.text("enterPWLab"), "");
}

TEST(PasswordGate, PreferencesAskForThePasswordUnlessTheVaultIsOpen) {
    Gate g;
    g.setStored(*password::makeVerifier("pw"));
    g.app->ClickShowPereferenceWindow();
    EXPECT_TRUE(g.app->passwordPromptOpensPreferences());
    EXPECT_FALSE(g.w.ui.isVisible("preferWindows"));
    g.enter("pw", true);
    EXPECT_TRUE(g.w.ui.isVisible("preferWindows"));
    EXPECT_FALSE(g.vaultShown());
    EXPECT_FALSE(g.app->passwordPromptOpensPreferences());

    g.w.ui.hideWindow("preferWindows");
    g.w.ui.showWindow("thefileManageWindow");
    g.app->ClickShowPereferenceWindow();
    EXPECT_TRUE(g.w.ui.isVisible("preferWindows"));
    EXPECT_FALSE(g.w.ui.isVisible("enterPDWindow"));
}

// A fresh home has no password to ask for: the preferences offer to create it, as the vault does,
// and open once it is made, whether a storage folder was chosen on the way or not.
TEST(PasswordGate, PreferencesInAFreshHomeCreateThePasswordFirst) {
    for (const bool chooseStorage : {false, true}) {
        SCOPED_TRACE(chooseStorage);
        Gate g;
        g.app->ClickShowPereferenceWindow();
        EXPECT_TRUE(g.w.ui.isVisible("CreatePWWindow"));
        EXPECT_FALSE(g.w.ui.isVisible("enterPDWindow")) << "no password to enter";
        EXPECT_FALSE(g.w.ui.isVisible("preferWindows"));
        g.w.ui.setText("theCreatePWLab", "pw");
        g.w.ui.setText("theConfirmPWLab", "px");
        g.click("doneButton");
        EXPECT_FALSE(g.w.ui.isVisible("preferWindows")) << "a mismatch leaves the create window up";
        if (chooseStorage) {
            std::filesystem::create_directories(g.w.dir / "Safe");
            g.w.ui.panelAnswers.push_back(platform::Ui::Paths{(g.w.dir / "Safe").string()});
        }
        g.w.ui.setText("theCreatePWLab", "pw");
        g.w.ui.setText("theConfirmPWLab", "pw");
        g.click("doneButton");
        EXPECT_TRUE(password::matches(g.stored(), "pw"));
        EXPECT_TRUE(g.app->passPhraseKnown());
        EXPECT_FALSE(g.w.ui.isVisible("CreatePWWindow"));
        EXPECT_TRUE(g.w.ui.isVisible("preferWindows"));
        EXPECT_FALSE(g.app->passwordPromptOpensPreferences());
        EXPECT_EQ(g.w.settings.string(prefkey::StorePath).has_value(), chooseStorage);
    }
}

TEST(PasswordGate, APasswordCreatedForTheVaultOpensNoPreferences) {
    Gate g;
    g.app->ClickShowPereferenceWindow();
    g.click("closedButton");
    g.app->OPenFileManageWindow();
    EXPECT_TRUE(g.w.ui.isVisible("CreatePWWindow"));
    EXPECT_FALSE(g.app->passwordPromptOpensPreferences());
    g.w.ui.setText("theCreatePWLab", "pw");
    g.w.ui.setText("theConfirmPWLab", "pw");
    g.click("doneButton");
    EXPECT_TRUE(password::matches(g.stored(), "pw"));
    EXPECT_FALSE(g.w.ui.isVisible("preferWindows"));
}

TEST(PasswordGate, ACancelledPromptForgetsWhyItWasOpened) {
    for (const bool byCloseButton : {true, false}) {
        Gate g;
        g.setStored(*password::makeVerifier("pw"));
        g.app->ClickShowPereferenceWindow();
        if (byCloseButton)
            g.click("closedPDWindowButton");
        else
            g.w.ui.hideWindow("enterPDWindow");  // closed by the system
        g.app->OPenFileManageWindow();
        g.enter("pw", true);
        EXPECT_TRUE(g.vaultShown()) << byCloseButton;
        EXPECT_FALSE(g.w.ui.isVisible("preferWindows")) << byCloseButton;
    }
}

TEST(PasswordGate, ShakeSwingsEightTimesAroundTheOrigin) {
    const auto a = AppDelegate::shakeAnimation(100, 50, 400);
    ASSERT_EQ(a.path.size(), 18u);
    const double d = 400 * 0.05000000074505806;
    EXPECT_EQ(a.path[0], std::make_pair(100.0, 50.0));
    EXPECT_EQ(a.path[1], std::make_pair(100 - d, 50.0));
    EXPECT_EQ(a.path[16], std::make_pair(100 + d, 50.0));
    EXPECT_EQ(a.path[17], a.path[0]);
    EXPECT_EQ(a.duration, 0.5);
}

struct VaultWithArchives : Gate {
    std::filesystem::path storage = w.dir / "Safe/vaultry.data";
    VaultWithArchives() {
        setStored(*password::makeVerifier("old"));
        w.settings.set(prefkey::StorePath, storage.string());
        std::filesystem::create_directories(storage);
        test::writeFile(w.dir / "a.txt", "alpha");
        test::writeFile(w.dir / "W/b.txt", "beta");
        for (const char* name : {"a.txt", "W"})
            EXPECT_TRUE(
                vault::writeArchive(*vault::planArchive((w.dir / name).string(), storage.string()), "old"));
    }
    bool allOpenWith(const std::string& pass) {
        return vault::verifyArchive(storage / "a.txt.enc", vault::ArchiveKind::File, pass,
                                    {vault::kNewDerivation, {}, {}}) &&
               vault::verifyArchive(storage / "W.tar.gz", vault::ArchiveKind::Folder, pass);
    }
};

TEST(PasswordGate, ChangingThePasswordReencryptsEveryArchive) {
    VaultWithArchives v;
    v.w.ui.setText("newPWLab", "new");
    v.w.ui.setText("confirmNewPWLab", "nex");
    v.app->ChangePassWordAction();
    EXPECT_FALSE(v.w.ui.isHidden("warnnewPWlab"));
    EXPECT_EQ(v.w.ui.events.back(), "shake:preferWindows");
    EXPECT_TRUE(v.allOpenWith("old"));
    EXPECT_EQ(v.w.ui.text("newPWLab"), "");

    v.enter("old", false);
    v.w.ui.showWindow("preferWindows");
    v.w.ui.setText("newPWLab", "new");
    v.w.ui.setText("confirmNewPWLab", "new");
    v.app->ChangePassWordAction();
    EXPECT_FALSE(v.w.ui.isVisible("preferWindows"));
    EXPECT_TRUE(v.allOpenWith("new"));
    EXPECT_FALSE(vault::verifyArchive(v.storage / "W.tar.gz", vault::ArchiveKind::Folder, "old"));
    EXPECT_TRUE(password::matches(v.stored(), "new"));
    EXPECT_EQ(v.app->passPhrase(), "new");
    EXPECT_FALSE(std::filesystem::exists(v.storage / vault::kRekeyJournal));

    // An archive that does not open with the current password stops the change before it starts.
    test::writeFile(v.storage / "broken.enc", "Salted__12345678" + std::string(32, 'x'));
    v.w.ui.setText("newPWLab", "third");
    v.w.ui.setText("confirmNewPWLab", "third");
    v.app->ChangePassWordAction();
    ASSERT_FALSE(v.w.ui.alerts.empty());
    EXPECT_EQ(v.w.ui.alerts.back().message, "The password could not be changed.");
    EXPECT_NE(v.w.ui.alerts.back().informative.find("broken.enc"), std::string::npos);
    EXPECT_TRUE(password::matches(v.stored(), "new"));
    EXPECT_TRUE(v.allOpenWith("new"));
}

TEST(PasswordGate, AChangeCutShortIsSettledAtTheNextStart) {
    {
        // Cut short after the commit, with one archive still to be replaced: finished.
        VaultWithArchives v;
        const std::string before = test::readFile(v.storage / "W.tar.gz");
        ASSERT_TRUE(vault::changeArchivesPassword(v.storage, "old", "new", *password::makeVerifier("new")));
        std::filesystem::rename(v.storage / "W.tar.gz", v.storage / "W.tar.gz.rekey");
        test::writeFile(v.storage / "W.tar.gz", before);
        AppDelegate restarted(v.w.services());
        restarted.loadVaultLists();
        EXPECT_TRUE(v.allOpenWith("new"));
        EXPECT_TRUE(password::matches(v.stored(), "new"));
        EXPECT_FALSE(std::filesystem::exists(v.storage / vault::kRekeyJournal));
        EXPECT_FALSE(std::filesystem::exists(v.storage / "W.tar.gz.rekey"));
    }
    {
        // Cut short while the new copies were written: undone, the old password stays.
        VaultWithArchives v;
        test::writeFile(v.storage / vault::kRekeyJournal,
                        "vaultry-rekey 2\n" + *password::makeVerifier("new") + "\n");
        test::writeFile(v.storage / "a.txt.enc.rekey", "half");
        // An unpack folder a crash left, as the journal names it.
        test::leaveTemporary(v.storage, vault::TempKind::Folder, v.storage / ".vaultry-unpack-x1");
        test::writeFile(v.storage / ".vaultry-unpack-x1/W/b.txt", "plaintext left by a crash");
        AppDelegate restarted(v.w.services());
        restarted.loadVaultLists();
        EXPECT_TRUE(v.allOpenWith("old"));
        EXPECT_TRUE(password::matches(v.stored(), "old"));
        EXPECT_FALSE(std::filesystem::exists(v.storage / vault::kRekeyJournal));
        EXPECT_FALSE(std::filesystem::exists(v.storage / "a.txt.enc.rekey"));
        EXPECT_FALSE(std::filesystem::exists(v.storage / ".vaultry-unpack-x1"));
    }
}

}  // namespace
}  // namespace vaultry
