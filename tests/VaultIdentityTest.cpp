// The storage folder's identity (an unplugged drive), the integrity manifest's identity (a
// manifest deleted or put back) and the manifest's entries (an archive away for a while), through
// vaultry-cli as a user runs it and through the GUI that shares its settings.
#include "vault/VaultIdentity.h"

#include <gtest/gtest.h>

#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// A vault made with vaultry-cli on the home of a GUI world (whose settings file it shares): the
// password "pw", the storage folder <home>/drive/vaultry.data.
struct CliVault {
    test::World w;
    fs::path home = w.dir.path();
    fs::path docs = home / "docs";
    fs::path drive = home / "drive";
    fs::path storage = drive / "vaultry.data";
    fs::path settingsFile = w.paths.settingsFile();

    CliVault() {
        fs::create_directories(drive);
        EXPECT_EQ(run({"vault", "storage", "set", drive.string()}, "").code, 0);
        EXPECT_EQ(run({"vault", "password", "set", "--yes", "--password-stdin"}).code, 0);
    }
    test::CliRun run(std::vector<std::string> args, const std::string& input = "pw\n") {
        return test::runCli(home, std::move(args), input);
    }
    // These tests also read archives without their manifest. A file archive then fits a second key
    // derivation about once in 128 salts, which Vaultry rightly refuses to guess; such an archive
    // is made again, with a new salt.
    std::string encrypt(const std::string& name, const std::string& text) {
        const std::string record = (docs / name).string() + ".enc";
        for (int tries = 0; tries < 20; ++tries) {
            writeFile(docs / name, text);
            const auto r = run({"vault", "encrypt", "--yes", "--password-stdin", (docs / name).string()});
            EXPECT_EQ(r.code, 0) << r.err;
            const auto fits =
                vault::derivationsThatOpen(storage / (name + ".enc"), vault::ArchiveKind::File, "pw");
            if (!fits || fits->size() == 1) break;
            EXPECT_EQ(run({"vault", "remove", "--yes", "--password-stdin", record}).code, 0);
        }
        return record;
    }
    void forget(std::initializer_list<const char*> keys) {
        SettingsStore s(settingsFile);
        for (const char* k : keys) s.remove(k);
        ASSERT_TRUE(s.flush());
    }
    std::optional<std::string> setting(const char* k) { return SettingsStore(settingsFile).string(k); }
    // The GUI started on the same home, the pass phrase entered.
    std::unique_ptr<AppDelegate> gui(const std::string& pass = "pw") {
        w.settings.reload();
        auto app = std::make_unique<AppDelegate>(w.services());
        app->applicationDidFinishLaunching();
        w.ui.setText("enterPWLab", pass);
        app->ReturnOnPasswordField();
        return app;
    }
};

// ---- An unplugged storage drive ----------------------------------------------------------------

TEST(StorageIdentity, AnUnpluggedDriveRefusesEveryActionAndNothingIsCreatedOrDeleted) {
    CliVault v;
    const std::string a = v.encrypt("a.txt", "alpha");
    const std::string b = v.encrypt("b.txt", "beta");
    ASSERT_EQ(v.run({"vault", "decrypt", "--password-stdin", b}).code, 0);
    EXPECT_TRUE(fs::exists(v.storage / vault::kFolderMarker));
    EXPECT_TRUE(v.setting(prefkey::StorageFolderId));
    writeFile(v.docs / "c.txt", "gamma");
    writeFile(v.home / "Desktop/d.txt", "on the desktop");
    fs::create_directories(v.home / "elsewhere");
    const std::string refused = "vaultry-cli: The storage folder " + v.storage.string() +
                                " is not available. Is its drive connected?\n";
    const std::vector<std::vector<std::string>> actions = {
        {"vault", "encrypt", "--yes", "--password-stdin", (v.docs / "c.txt").string()},
        {"vault", "decrypt", "--password-stdin", a},
        {"vault", "lock", "--yes", "--password-stdin", "--all"},
        {"vault", "remove", "--yes", "--password-stdin", a},
        {"vault", "verify", "--password-stdin"},
        {"vault", "verify", "--reseal", "--yes", "--password-stdin"},
        {"vault", "storage", "set", (v.home / "elsewhere").string()},
    };
    // The drive's mount point as an empty folder, then not there at all.
    fs::rename(v.drive, v.home / "drive-away");
    for (bool mountPoint : {true, false}) {
        if (mountPoint) fs::create_directories(v.drive);
        for (const auto& args : actions) {
            auto r = v.run(args);
            EXPECT_EQ(r.code, 1) << args[1] << ' ' << mountPoint;
            EXPECT_EQ(r.err, refused) << args[1];
        }
        auto r =
            v.run({"vault", "password", "set", "--change", "--password-stdin"}, "pw\nharbour lantern 42\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_EQ(r.err, refused);
        EXPECT_FALSE(fs::exists(v.storage));
        if (mountPoint) {
            EXPECT_TRUE(fs::is_empty(v.drive));
        }
        fs::remove_all(v.drive);
    }
    EXPECT_EQ(readFile(v.docs / "c.txt"), "gamma");
    EXPECT_EQ(readFile(v.docs / "b.txt"), "beta");
    EXPECT_EQ(readFile(v.home / "Desktop/d.txt"), "on the desktop");
    EXPECT_EQ(v.setting(prefkey::StorePath), v.storage.string());

    // Another vault's folder at that path is not this one either.
    fs::create_directories(v.storage);
    writeFile(v.storage / vault::kFolderMarker, "vaultry-folder 1\n" + std::string(32, '0') + "\n");
    EXPECT_EQ(v.run(actions[0]).err, refused);
    fs::remove_all(v.drive);

    // The drive is back: everything works again.
    fs::rename(v.home / "drive-away", v.drive);
    auto r = v.run(actions[0]);
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(v.docs / "c.txt"));
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
}

TEST(StorageIdentity, AVaultOfAnEarlierVersionGetsItsIdentityOnlyWhereItsArchivesAre) {
    CliVault v;
    const std::string a = v.encrypt("a.txt", "alpha");
    // As an earlier version left it: no marker, no identity in the settings.
    fs::remove(v.storage / vault::kFolderMarker);
    v.forget({prefkey::StorageFolderId});
    // Its drive not mounted: the empty mount point is not taken for the vault.
    fs::rename(v.drive, v.home / "drive-away");
    fs::create_directories(v.storage);
    writeFile(v.docs / "c.txt", "gamma");
    auto r = v.run({"vault", "encrypt", "--yes", "--password-stdin", (v.docs / "c.txt").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is not available. Is its drive connected?"), std::string::npos) << r.err;
    EXPECT_TRUE(fs::is_empty(v.storage));
    EXPECT_FALSE(v.setting(prefkey::StorageFolderId));
    fs::remove_all(v.drive);
    // Mounted: the folder holds the vault's archives and gets its identity.
    fs::rename(v.home / "drive-away", v.drive);
    r = v.run({"vault", "decrypt", "--password-stdin", a});
    EXPECT_EQ(r.code, 0) << r.err;
    const auto id = v.setting(prefkey::StorageFolderId);
    ASSERT_TRUE(id);
    EXPECT_NE(readFile(v.storage / vault::kFolderMarker).find(*id), std::string::npos);

    // A marker lost while the folder holds the very manifest the settings record is put back.
    fs::remove(v.storage / vault::kFolderMarker);
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(readFile(v.storage / vault::kFolderMarker).find(*id), std::string::npos);
    // Not where the manifest is another one.
    fs::remove(v.storage / vault::kFolderMarker);
    writeFile(v.storage / vault::ArchiveManifest::kFileName, "vaultry-integrity 1\n");
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("is not available. Is its drive connected?"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(v.storage / vault::kFolderMarker));
}

// The GUI refuses the same, with the same words, and its tidy never makes a tidy folder anew on a
// location that is gone or is an empty mount point.
TEST(StorageIdentity, TheGuiRefusesOnAnUnpluggedDriveAndTidiesOnlyIntoItsOwnTidyFolder) {
    test::VaultWorld v;
    writeFile(v.notes / "a.txt", "alpha");
    const std::string a = v.encrypt(v.notes / "a.txt");
    writeFile(v.notes / "b.txt", "beta");
    fs::rename(v.w.dir / "Safe", v.w.dir / "Safe-away");
    fs::create_directories(v.w.dir / "Safe");
    const std::string refused =
        "The storage folder " + v.storage.string() + " is not available. Is its drive connected?";
    EXPECT_FALSE(v.app->EncryptFileFolderFunction((v.notes / "b.txt").string()));
    EXPECT_EQ(v.w.ui.alerts.back().message, refused);
    EXPECT_FALSE(v.app->DecryptFileFolderFunction(a));
    EXPECT_EQ(v.w.ui.alerts.back().message, refused);
    v.app->VerifyArchivesAction();
    EXPECT_EQ(v.w.ui.alerts.back().message, refused);
    v.w.ui.setText("newPWLab", "new");
    v.w.ui.setText("confirmNewPWLab", "new");
    v.app->ChangePassWordAction();
    EXPECT_EQ(v.w.ui.alerts.back().informative, refused);
    // The vault's storage folder is no tidy location: a tidy asks where tidied items go.
    const auto alerts = v.w.ui.alerts.size();
    v.app->ClickTidyAction();
    EXPECT_EQ(v.w.ui.alerts.size(), alerts);
    EXPECT_TRUE(v.w.ui.isVisible("connectWindow"));
    EXPECT_FALSE(fs::exists(v.storage));
    EXPECT_EQ(readFile(v.notes / "b.txt"), "beta");
    fs::remove_all(v.w.dir / "Safe");
    fs::rename(v.w.dir / "Safe-away", v.w.dir / "Safe");

    // A tidy location of its own (no vault storage there): the first tidy makes its tidy folder;
    // once the location is an empty mount point, or gone, the tidy refuses and makes nothing.
    test::World w;
    AppDelegate app(w.services());
    const fs::path location = w.dir / "usb", folder = location / "com.Quenmark.sortello";
    fs::create_directories(location);
    writeFile(w.paths.desktop() / "one.txt", "1");
    app.setStorelocationPath(location.string());
    app.ClickTidyAction();
    EXPECT_EQ(readFile(folder / "one.txt"), "1");
    writeFile(w.paths.desktop() / "two.txt", "2");
    fs::rename(location, w.dir / "usb-away");
    for (bool mountPoint : {true, false}) {
        if (mountPoint) fs::create_directories(location);
        app.ClickTidyAction();
        EXPECT_EQ(w.ui.alerts.back().informative,
                  "The tidy folder " + folder.string() + " is not available. Is its drive connected?");
        EXPECT_FALSE(fs::exists(folder));
        EXPECT_EQ(readFile(w.paths.desktop() / "two.txt"), "2");
        fs::remove_all(location);
    }
}

// ---- The integrity manifest ---------------------------------------------------------------------

// An archive away (a restore, a drive) while the manifest is saved keeps its entry: what comes
// back in its place is checked, not taken in as an earlier version's archive. `vault verify`
// with no names says it is missing meanwhile; the GUI's "Verify Archives…" says the same.
// A process that unlocked with the old password writes no integrity record once another process
// changed it: a manifest sealed with the old password would open for nobody any more.
TEST(IntegrityRecord, NothingIsSealedWithAPasswordAnotherProcessChanged) {
    CliVault v;
    SettingsStore settings(v.settingsFile);
    vault::SettingsIntegrityKeeper keeper(settings, {});
    keeper.unlockedWith(settings.string(prefkey::PasswordVerifier).value_or(""));
    const auto changed =
        v.run({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew pw\n");
    ASSERT_EQ(changed.code, 0) << changed.err;
    auto manifest = vault::ArchiveManifest::open(v.storage, "pw");
    ASSERT_TRUE(manifest) << manifest.error().message;
    const auto saved = manifest->save(v.storage);
    ASSERT_FALSE(saved);
    EXPECT_NE(saved.error().message.find("changed by another Vaultry process"), std::string::npos);
    EXPECT_FALSE(fs::exists(v.storage / vault::ArchiveManifest::kFileName));
    writeFile(v.docs / "after.txt", "written with the new password");
    const auto encrypted =
        v.run({"vault", "encrypt", "--yes", "--password-stdin", (v.docs / "after.txt").string()}, "new pw\n");
    EXPECT_EQ(encrypted.code, 0) << encrypted.err;
    EXPECT_EQ(v.run({"vault", "verify", "--password-stdin"}, "new pw\n").code, 0);
}

// A process killed after it announced the first manifest, before the manifest was in place, left
// an identity no manifest ever had: every later archive was refused as if the record were
// replaced. A recorded manifest that is deleted is still refused.
TEST(IntegrityRecord, AFirstManifestCutShortBeforeItWasWrittenBlocksNothing) {
    CliVault v;
    {
        SettingsStore s(v.settingsFile);
        s.set(prefkey::IntegrityIdentityNext, std::string(64, '1') + " " + std::string(64, '2'));
        ASSERT_TRUE(s.flush());
    }
    ASSERT_FALSE(fs::exists(v.storage / vault::ArchiveManifest::kFileName));
    v.encrypt("a.txt", "alpha");
    EXPECT_EQ(v.run({"vault", "verify", "--password-stdin"}).code, 0);
    fs::remove(v.storage / vault::ArchiveManifest::kFileName);
    const auto r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE((r.out + r.err).find("integrity record is missing"), std::string::npos) << r.out << r.err;
}

TEST(IntegrityRecord, AnArchiveAwayWhileTheManifestIsSavedIsCheckedWhenItComesBack) {
    CliVault v;
    const std::string a = v.encrypt("a.txt", "alpha");
    const std::string b = v.encrypt("b.txt", "beta");
    const std::string bBytes = readFile(v.storage / "b.txt.enc");
    fs::rename(v.storage / "a.txt.enc", v.home / "a.away");
    auto r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "a.txt.enc: missing\n");
    // A password change would leave it under the old password: it waits for it.
    r = v.run({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("missing from the storage folder: a.txt.enc"), std::string::npos) << r.err;
    v.encrypt("c.txt", "gamma");  // the manifest is saved while a.txt.enc is away
    // In its place comes another archive that opens with the password.
    writeFile(v.storage / "a.txt.enc", bBytes);
    r = v.run({"vault", "decrypt", "--password-stdin", a});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(vault::kChangedOrDamaged), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(v.docs / "a.txt"));
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, std::string("a.txt.enc: ") + vault::kChangedOrDamaged + "\n");
    fs::rename(v.home / "a.away", v.storage / "a.txt.enc");
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;

    // An entry leaves only when Vaultry removes the archive.
    r = v.run({"vault", "remove", "--yes", "--password-stdin", b});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(v.docs / "b.txt"), "beta");
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;

    // An archive the manifest never recorded is unverified, never taken in.
    writeFile(v.docs / "x.txt", "planted");
    ASSERT_TRUE(vault::encryptFile(v.docs / "x.txt", v.storage / "x.txt.enc", "pw"));
    {
        SettingsStore s(v.settingsFile);
        ASSERT_TRUE(s.changeArray(prefkey::Records,
                                  {{SettingsStore::ArrayChange::Add, (v.docs / "x.txt").string() + ".enc"}}));
    }
    fs::remove(v.docs / "x.txt");
    r = v.run({"vault", "decrypt", "--password-stdin", (v.docs / "x.txt").string() + ".enc"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("unverified"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(v.docs / "x.txt"));
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, "x.txt.enc: " + vault::unverifiedArchive("x.txt.enc") + "\n");
    // Nor is it re-encrypted by a password change.
    r = v.run({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("unverified"), std::string::npos) << r.err;

    // The GUI's check is the same check.
    fs::remove(v.storage / "x.txt.enc");
    fs::rename(v.storage / "a.txt.enc", v.home / "a.away");
    auto app = v.gui();
    app->VerifyArchivesAction();
    ASSERT_FALSE(v.w.ui.alerts.empty());
    EXPECT_EQ(v.w.ui.alerts.back().message, "Some archives were changed or cannot be opened.");
    EXPECT_NE(v.w.ui.alerts.back().informative.find("a.txt.enc: missing"), std::string::npos);
    EXPECT_NE(v.w.ui.alerts.back().informative.find("x.txt.enc: missing"), std::string::npos);
}

// Archives of a version before the manifest are taken in once, at the first use of this one, and
// the user is told; from then on the manifest's identity is kept.
TEST(IntegrityRecord, ArchivesOfAnEarlierVersionAreAdoptedOnceAndTheUserIsTold) {
    CliVault v;
    v.encrypt("a.txt", "alpha");
    v.encrypt("b.txt", "beta");
    fs::remove(v.storage / vault::ArchiveManifest::kFileName);
    v.forget({prefkey::IntegrityIdentity, prefkey::IntegrityIdentityNext});
    auto r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("checked and recorded in the integrity record: a.txt.enc, b.txt.enc"),
              std::string::npos)
        << r.err;
    EXPECT_TRUE(v.setting(prefkey::IntegrityIdentity));
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(r.err, "");
}

// Deleting the manifest, or putting back an older one, does not switch the checks off: swapped
// archives are never decrypted into each other's place. A deliberate re-seal checks every archive
// and records the new manifest; a password change keeps its identity in step.
TEST(IntegrityRecord, AManifestDeletedOrReplacedIsReportedAndResealedOnlyDeliberately) {
    CliVault v;
    const std::string a = v.encrypt("a.txt", "alpha");
    const std::string older = readFile(v.storage / vault::ArchiveManifest::kFileName);
    const std::string b = v.encrypt("b.txt", "beta");
    const std::string aBytes = readFile(v.storage / "a.txt.enc"), bBytes = readFile(v.storage / "b.txt.enc");
    const std::string current = readFile(v.storage / vault::ArchiveManifest::kFileName);
    const std::string replaced = std::string("vaultry-cli: ") + vault::kIntegrityReplaced + "\n";

    // Swapped archives and no manifest.
    writeFile(v.storage / "a.txt.enc", bBytes);
    writeFile(v.storage / "b.txt.enc", aBytes);
    fs::remove(v.storage / vault::ArchiveManifest::kFileName);
    auto r = v.run({"vault", "decrypt", "--password-stdin", a});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vaultry-cli: " + a + ": " + vault::kIntegrityReplaced + "\n");
    EXPECT_FALSE(fs::exists(v.docs / "a.txt"));
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, replaced);
    writeFile(v.docs / "c.txt", "gamma");
    r = v.run({"vault", "encrypt", "--yes", "--password-stdin", (v.docs / "c.txt").string()});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(readFile(v.docs / "c.txt"), "gamma");
    EXPECT_FALSE(fs::exists(v.storage / vault::ArchiveManifest::kFileName));

    // An older manifest put back (it does not know b.txt.enc) is not the one recorded either.
    writeFile(v.storage / vault::ArchiveManifest::kFileName, older);
    writeFile(v.storage / "a.txt.enc", aBytes);
    writeFile(v.storage / "b.txt.enc", bBytes);
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, replaced);

    // Re-sealing asks first; then every archive is checked and the new manifest recorded.
    r = v.run({"vault", "verify", "--reseal", "--password-stdin"});
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(readFile(v.storage / vault::ArchiveManifest::kFileName), older);
    writeFile(v.storage / "broken.enc", "Salted__12345678 not an archive....");
    r = v.run({"vault", "verify", "--reseal", "--yes", "--password-stdin"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("broken.enc: "), std::string::npos) << r.out;
    EXPECT_EQ(readFile(v.storage / vault::ArchiveManifest::kFileName), older);
    fs::remove(v.storage / "broken.enc");
    r = v.run({"vault", "verify", "--reseal", "--yes", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_NE(readFile(v.storage / vault::ArchiveManifest::kFileName), current);  // a fresh salt
    r = v.run({"vault", "verify", "--password-stdin"});
    EXPECT_EQ(r.code, 0) << r.out << r.err;

    // A password change writes a new manifest: its identity follows.
    r = v.run({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew\n");
    ASSERT_EQ(r.code, 0) << r.err;
    r = v.run({"vault", "verify", "--password-stdin"}, "new\n");
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    r = v.run({"vault", "decrypt", "--password-stdin", b}, "new\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(v.docs / "b.txt"), "beta");
    // The GUI, sharing the settings, opens with it as well.
    auto app = v.gui("new");
    EXPECT_TRUE(app->DecryptFileFolderFunction(a));
    EXPECT_EQ(readFile(v.docs / "a.txt"), "alpha");
}

}  // namespace
}  // namespace vaultry
