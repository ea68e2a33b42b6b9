// The vault shared by two processes (the GUI and vaultry-cli), a storage folder that is not there,
// and moving the vault to another storage folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <random>
#include <thread>

#include "app/AppDelegate.h"
#include "settings/Preferences.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/AutoLock.h"
#include "vault/CopyManifest.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/StorageFolder.h"
#include "vault/StorageLock.h"
#include "vault/VaultItems.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

// A running GUI (an AppDelegate over fake ports) unlocked with "pw", whose settings file is the
// one vaultry-cli uses with HOME set to the same temporary home.
struct Gui : test::VaultWorld {
    Strings onDisk(const char* key) {
        SettingsStore s(w.paths.settingsFile());
        return s.stringArray(key).value_or(Strings{});
    }
    std::string verifierOnDisk() {
        SettingsStore s(w.paths.settingsFile());
        return s.string(prefkey::PasswordVerifier).value_or("");
    }
    bool has(const Strings& list, const std::string& s) {
        return std::find(list.begin(), list.end(), s) != list.end();
    }
};

TEST(SettingsStoreLists, TwoStoresEditingOneListKeepEachOthersChanges) {
    test::TempDir dir;
    const fs::path file = dir / "s.plist";
    SettingsStore a(file), b(file);
    using C = SettingsStore::ArrayChange;
    ASSERT_TRUE(a.changeArray("L", {{C::Add, "x"}, {C::Add, "y"}}));
    // b read the file before a wrote: its own change still lands on a's list.
    auto written = b.changeArray("L", {{C::Add, "z"}});
    ASSERT_TRUE(written);
    EXPECT_EQ(*written, (Strings{"x", "y", "z"}));
    // A stale whole list set in a, and a removal of every equal item.
    a.set("L", Strings{"stale"});
    ASSERT_TRUE(a.changeArray("L", {{C::Add, "x"}, {C::Remove, "x"}, {C::Add, "w"}}));
    EXPECT_EQ(SettingsStore(file).stringArray("L"), (Strings{"y", "z", "w"}));
    EXPECT_EQ(a.stringArray("L"), (Strings{"y", "z", "w"}));
    b.reload();
    EXPECT_EQ(b.stringArray("L"), (Strings{"y", "z", "w"}));
}

// An item encrypted from the command line while the GUI runs stays in the vault when the GUI
// saves its own changes, and one removed there does not come back.
TEST(VaultConcurrency, GuiAndCliChangesToTheListsAreMerged) {
    Gui g;
    const fs::path docs = g.w.dir / "docs";
    writeFile(docs / "cli.txt", "from the command line");
    writeFile(docs / "hidden.txt", "h");
    writeFile(docs / "gone.txt", "g");
    g.choose({(docs / "gone.txt").string()});
    g.app->HideFileAction();
    ASSERT_EQ(g.onDisk(prefkey::Records), Strings{(docs / "gone.txt").string()});

    auto r = g.cli({"vault", "encrypt", "--yes", "--password-stdin", (docs / "cli.txt").string()}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(g.cli({"vault", "unhide", (docs / "gone.txt").string()}).code, 0);
    ASSERT_FALSE(fs::exists(docs / "cli.txt"));

    // The GUI still holds the list it read before; its next change is merged, not written whole.
    g.choose({(docs / "hidden.txt").string()});
    g.app->HideFileAction();
    const std::string cliRecord = (docs / "cli.txt.enc").string();
    EXPECT_EQ(g.onDisk(prefkey::Records), (Strings{cliRecord, (docs / "hidden.txt").string()}));
    EXPECT_TRUE(g.has(g.app->allRecords(), cliRecord));
    EXPECT_FALSE(g.has(g.app->allRecords(), (docs / "gone.txt").string()));

    // The decrypted list the same way: the GUI decrypts while the CLI has decrypted another.
    writeFile(docs / "gui.txt", "from the window");
    g.choose({(docs / "gui.txt").string()});
    g.app->EncryptFileAction();
    r = g.cli({"vault", "decrypt", "--password-stdin", cliRecord}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_TRUE(g.app->DecryptFileFolderFunction((docs / "gui.txt.enc").string()));
    EXPECT_EQ(g.onDisk(prefkey::DecryptedRecords), (Strings{cliRecord, (docs / "gui.txt.enc").string()}));
}

// Auto-lock reads the lists again first: a copy vaultry-cli decrypted while the GUI ran is locked
// too, not left in plain sight because the GUI's list is older.
TEST(VaultConcurrency, AutoLockLocksWhatAnotherProcessDecrypted) {
    Gui g;
    const fs::path docs = g.w.dir / "docs";
    writeFile(docs / "plan.txt", "the plan");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((docs / "plan.txt").string()));
    const std::string record = (docs / "plan.txt.enc").string();
    auto r = g.cli({"vault", "decrypt", "--password-stdin", record}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    ASSERT_EQ(readFile(docs / "plan.txt"), "the plan");
    g.app->autoLockDecrypted(vault::LockTrigger::Idle);
    EXPECT_FALSE(fs::exists(docs / "plan.txt"));
    EXPECT_TRUE(g.onDisk(prefkey::DecryptedRecords).empty());
    ASSERT_EQ(g.w.notifier.scheduled.size(), 1u);
    EXPECT_NE(g.w.notifier.scheduled[0].body.find("Locked: plan.txt."), std::string::npos)
        << g.w.notifier.scheduled[0].body;
}

TEST(VaultConcurrency, GuiKeepsTheOriginalWhenItsRecordCannotBeSaved) {
    Gui g;
    const fs::path item = g.w.dir / "docs/plan.txt";
    writeFile(item, "the plan");
    // The settings folder becomes a file: nothing can be written there, not even by root.
    fs::rename(g.w.dir / ".config", g.w.dir / "config-away");
    writeFile(g.w.dir / ".config", "");
    EXPECT_FALSE(g.app->EncryptFileFolderFunction(item.string()));
    EXPECT_EQ(readFile(item), "the plan");
    EXPECT_FALSE(fs::exists(g.storage / "plan.txt.enc"));
    EXPECT_FALSE(g.has(g.app->allRecords(), item.string() + ".enc"));
    ASSERT_FALSE(g.w.ui.alerts.empty());
    EXPECT_EQ(g.w.ui.alerts.back().message, "The item could not be recorded in the vault.");
}

// A password change made with vaultry-cli while the GUI runs: the GUI's pass phrase no longer
// opens the archives, so it asks for the password again instead of encrypting with it.
TEST(VaultConcurrency, GuiAsksForThePasswordAgainAfterAChangeElsewhere) {
    Gui g;
    const fs::path item = g.w.dir / "docs/after.txt";
    writeFile(item, "written after the change");
    auto r = g.cli({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew\n");
    ASSERT_EQ(r.code, 0) << r.err;
    g.w.ui.hideWindow("enterPDWindow");
    g.choose({item.string()});
    g.app->EncryptFileAction();
    EXPECT_TRUE(g.w.ui.isVisible("enterPDWindow"));
    EXPECT_TRUE(g.w.ui.openPanels.empty());
    EXPECT_EQ(readFile(item), "written after the change");
    EXPECT_FALSE(fs::exists(g.storage / "after.txt.enc"));

    g.w.ui.setText("enterPWLab", "new");
    g.app->ReturnOnPasswordField();
    g.choose({item.string()});
    g.app->EncryptFileAction();
    ASSERT_TRUE(fs::exists(g.storage / "after.txt.enc"));
    EXPECT_TRUE(vault::verifyArchive(g.storage / "after.txt.enc", vault::ArchiveKind::File, "new",
                                     {vault::kNewDerivation, {}, {}}));
}

// A storage folder on a drive that is not plugged in: its archives cannot be re-encrypted, so the
// new password is not stored.
TEST(VaultConcurrency, PasswordChangeWithTheStorageFolderAbsentIsRefused) {
    Gui g;
    const fs::path item = g.w.dir / "docs/plan.txt";
    writeFile(item, "the plan");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(item.string()));
    fs::rename(g.w.dir / "Safe", g.w.dir / "Unplugged");
    const std::string before = g.verifierOnDisk();

    g.w.ui.setText("newPWLab", "new");
    g.w.ui.setText("confirmNewPWLab", "new");
    g.app->ChangePassWordAction();
    ASSERT_FALSE(g.w.ui.alerts.empty());
    EXPECT_EQ(g.w.ui.alerts.back().message, "The password could not be changed.");
    EXPECT_NE(g.w.ui.alerts.back().informative.find(g.storage.string()), std::string::npos);
    EXPECT_EQ(g.verifierOnDisk(), before);

    auto r = g.cli({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not available"), std::string::npos) << r.err;
    EXPECT_EQ(g.verifierOnDisk(), before);

    // Plugged in again, the archive still opens with the password the settings hold.
    fs::rename(g.w.dir / "Unplugged", g.w.dir / "Safe");
    EXPECT_TRUE(password::matches(g.verifierOnDisk(), "pw"));
    EXPECT_TRUE(vault::verifyArchive(g.storage / "plan.txt.enc", vault::ArchiveKind::File, "pw",
                                     {vault::kNewDerivation, {}, {}}));
}

// While one process holds the storage folder (here: this test, as a password change would), the
// other neither settles its journal nor changes the password nor encrypts.
TEST(VaultConcurrency, AStorageFolderInUseIsLeftToItsHolder) {
    test::TempDir home;
    const auto cli = [&](Strings args, const std::string& input = "") {
        return test::runCli(home.path(), std::move(args), input);
    };
    fs::create_directories(home / "safe");
    ASSERT_EQ(cli({"vault", "storage", "set", (home / "safe").string()}).code, 0);
    ASSERT_EQ(cli({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    writeFile(home / "a.txt", "a");
    writeFile(home / "b.txt", "b");
    ASSERT_EQ(cli({"vault", "encrypt", "--yes", "--password-stdin", (home / "a.txt").string()}, "pw\n").code,
              0);
    const fs::path storage = home / "safe/vaultry.data";

    // A change in its first phase: a journal and one new copy so far.
    writeFile(storage / vault::kRekeyJournal, "vaultry-rekey 2\nverifier\n");
    ASSERT_TRUE(vault::encryptFile(home / "b.txt", storage / "a.txt.enc.rekey", "next"));
    {
        auto held = vault::StorageLock::take(storage);
        ASSERT_TRUE(held && held->holds());
        EXPECT_EQ(cli({"vault", "list"}).code, 0);
        EXPECT_TRUE(fs::exists(storage / vault::kRekeyJournal));
        EXPECT_TRUE(fs::exists(storage / "a.txt.enc.rekey"));

        auto r = cli({"vault", "encrypt", "--yes", "--password-stdin", (home / "b.txt").string()}, "pw\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(r.err.find(vault::kStorageBusy), std::string::npos) << r.err;
        EXPECT_EQ(readFile(home / "b.txt"), "b");
        EXPECT_FALSE(fs::exists(storage / "b.txt.enc"));
    }
    // Its holder gone, the unfinished change is undone by the next command.
    EXPECT_EQ(cli({"vault", "list"}).code, 0);
    EXPECT_FALSE(fs::exists(storage / vault::kRekeyJournal));
    EXPECT_FALSE(fs::exists(storage / "a.txt.enc.rekey"));
    EXPECT_TRUE(vault::verifyArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "pw",
                                     {vault::kNewDerivation, {}, {}}));
}

// Another process holding the storage folder: a child of this test that takes its lock and waits.
class OtherHolder {
public:
    explicit OtherHolder(const fs::path& storage) {
        const std::string lockFile = (storage / vault::StorageLock::kFileName).string();
        int ready[2];
        if (::pipe(ready) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            // Only async-signal-safe calls in the child.
            const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
            const char ok = (fd >= 0 && ::flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
            (void)!::write(ready[1], &ok, 1);
            for (;;) ::pause();
        }
        ::close(ready[1]);
        char ok = 'n';
        if (pid_ > 0) (void)!::read(ready[0], &ok, 1);
        ::close(ready[0]);
        holding_ = ok == 'y';
    }
    ~OtherHolder() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
    }
    bool holding() const { return holding_; }

private:
    pid_t pid_ = -1;
    bool holding_ = false;
};

// The archive manifest is read, merged and written only while this process holds the storage
// folder; checking archives reads it without the lock and writes what it learned only when free.
TEST(VaultConcurrency, ArchiveManifestIsWrittenOnlyUnderTheStorageLock) {
    test::TempDir dir;
    const fs::path storage = dir / "vaultry.data";
    fs::create_directories(storage);
    writeFile(dir / "plain", "plain");
    // Without its manifest entry a new archive is ambiguous about once in 128 salts (an old
    // derivation fits its padding too); the vault always records one. Draw a salt that is not.
    for (int attempt = 0; attempt < 20; ++attempt) {
        fs::remove_all(dir / "probe");
        fs::create_directories(dir / "probe");
        fs::remove(storage / "a.txt.enc");
        ASSERT_TRUE(vault::encryptFile(dir / "plain", storage / "a.txt.enc", "pw"));
        fs::copy_file(storage / "a.txt.enc", dir / "probe/a.txt.enc");
        auto probe = vault::checkArchives(dir / "probe", {dir / "probe/a.txt.enc"}, "pw");
        if (probe && probe->empty()) break;
    }
    const fs::path manifest = storage / vault::ArchiveManifest::kFileName;
    {
        OtherHolder other(storage);
        ASSERT_TRUE(other.holding());
        auto bad = vault::checkArchives(storage, {storage / "a.txt.enc"}, "pw");
        ASSERT_TRUE(bad) << bad.error().message;
        EXPECT_TRUE(bad->empty());
        EXPECT_FALSE(fs::exists(manifest));
        auto m = vault::ArchiveManifest::open(storage, "pw");
        ASSERT_TRUE(m);
        const auto saved = m->save(storage);
        ASSERT_FALSE(saved);
        EXPECT_EQ(saved.error().message, vault::kStorageBusy);
        EXPECT_FALSE(fs::exists(manifest));
    }
    auto bad = vault::checkArchives(storage, {storage / "a.txt.enc"}, "pw");
    ASSERT_TRUE(bad);
    EXPECT_TRUE(bad->empty());
    auto m = vault::ArchiveManifest::open(storage, "pw");
    ASSERT_TRUE(m);
    EXPECT_NE(m->find("a.txt.enc"), nullptr);
}

TEST(VaultConcurrency, GuiLeavesAStorageFolderInUseAlone) {
    Gui g;
    const fs::path item = g.w.dir / "docs/plan.txt";
    writeFile(item, "the plan");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(item.string()));
    writeFile(item.string() + ".2", "second");
    const std::string before = g.verifierOnDisk();
    {
        OtherHolder other(g.storage);
        ASSERT_TRUE(other.holding());
        g.w.ui.alerts.clear();
        EXPECT_FALSE(g.app->EncryptFileFolderFunction(item.string() + ".2"));
        EXPECT_EQ(readFile(item.string() + ".2"), "second");
        EXPECT_FALSE(fs::exists(g.storage / "plan.txt.2.enc"));
        ASSERT_EQ(g.w.ui.alerts.size(), 1u);
        EXPECT_EQ(g.w.ui.alerts[0].informative, vault::kStorageBusy);

        g.w.ui.setText("newPWLab", "new");
        g.w.ui.setText("confirmNewPWLab", "new");
        g.app->ChangePassWordAction();
        EXPECT_EQ(g.w.ui.alerts.back().message, "The password could not be changed.");
        EXPECT_EQ(g.verifierOnDisk(), before);

        // Nor is the folder moved away under the other process.
        const fs::path elsewhere = g.w.dir / "Elsewhere";
        fs::create_directories(elsewhere);
        g.app->openPanelDidEnd5(platform::Ui::Paths{elsewhere.string()});
        EXPECT_FALSE(g.app->isMovingStorage());
        EXPECT_EQ(std::count_if(g.w.ui.events.begin(), g.w.ui.events.end(),
                                [](const std::string& e) { return e.rfind("progress:Moving", 0) == 0; }),
                  0);
        EXPECT_EQ(g.w.ui.alerts.back().message, "The storage folder was not changed.");
        EXPECT_EQ(g.w.settings.string(prefkey::StorePath), g.storage.string());
        EXPECT_FALSE(fs::exists(elsewhere / "vaultry.data"));

        // A change the other process is making is not undone by a start meanwhile.
        writeFile(g.storage / vault::kRekeyJournal, "vaultry-rekey 2\nverifier\n");
        AppDelegate second(g.w.services());
        second.loadVaultLists();
        EXPECT_TRUE(fs::exists(g.storage / vault::kRekeyJournal));
    }
    AppDelegate third(g.w.services());
    third.loadVaultLists();
    EXPECT_FALSE(fs::exists(g.storage / vault::kRekeyJournal));
    EXPECT_TRUE(vault::verifyArchive(g.storage / "plan.txt.enc", vault::ArchiveKind::File, "pw",
                                     {vault::kNewDerivation, {}, {}}));
}

// What a run settles first: a committed change hands its verifier over until the caller has
// stored it, and only then is its journal removed; a change that was not committed is undone
// without handing anything over.
TEST(VaultConcurrency, SettlingKeepsAChangeUntilItsVerifierIsStored) {
    test::TempDir dir;
    const fs::path storage = dir / "vaultry.data";
    writeFile(dir / "plain", "plain");
    fs::create_directories(storage);
    ASSERT_TRUE(vault::encryptFile(dir / "plain", storage / "a.txt.enc", "old"));
    ASSERT_TRUE(vault::reencryptArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "old", "new",
                                        storage / "a.txt.enc.rekey", {vault::kNewDerivation, {}, {}}));
    writeFile(storage / vault::kRekeyJournal, "vaultry-rekey 2\nverifier\ncommitted\nsum " +
                                                  *vault::contentSha256(storage / "a.txt.enc.rekey") +
                                                  " a.txt.enc\n");
    Strings handed;
    bool stored = false;  // the settings file could not be written
    const auto settle = [&] {
        vault::settleInterruptedChanges(storage, [&](const std::string& verifier) {
            handed.push_back(verifier);
            return stored;
        });
    };
    settle();
    EXPECT_EQ(handed, Strings{"verifier"});
    EXPECT_TRUE(fs::exists(storage / vault::kRekeyJournal));
    EXPECT_TRUE(vault::verifyArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "new",
                                     {vault::kNewDerivation, {}, {}}));
    stored = true;
    settle();
    EXPECT_EQ(handed, (Strings{"verifier", "verifier"}));
    EXPECT_FALSE(fs::exists(storage / vault::kRekeyJournal));
    settle();  // nothing left to settle
    EXPECT_EQ(handed.size(), 2u);

    writeFile(storage / vault::kRekeyJournal, "vaultry-rekey 2\nverifier\n");
    writeFile(storage / "a.txt.enc.rekey", "half");
    settle();
    EXPECT_EQ(handed.size(), 2u);
    EXPECT_FALSE(fs::exists(storage / vault::kRekeyJournal));
    EXPECT_FALSE(fs::exists(storage / "a.txt.enc.rekey"));
    EXPECT_TRUE(vault::verifyArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "new",
                                     {vault::kNewDerivation, {}, {}}));
}

// The replace phase puts in place only the copies that were verified with the new password: a
// new copy that was changed afterwards is not taken for one.
TEST(VaultConcurrency, ReplacePhaseTakesOnlyVerifiedCopies) {
    test::TempDir dir;
    const fs::path storage = dir / "vaultry.data";
    writeFile(dir / "plain", "plain");
    fs::create_directories(storage);
    ASSERT_TRUE(vault::encryptFile(dir / "plain", storage / "a.txt.enc", "old"));
    ASSERT_TRUE(vault::reencryptArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "old", "new",
                                        storage / "a.txt.enc.rekey", {vault::kNewDerivation, {}, {}}));
    const auto sum = vault::contentSha256(storage / "a.txt.enc.rekey");
    ASSERT_TRUE(sum);
    writeFile(storage / vault::kRekeyJournal,
              "vaultry-rekey 2\nverifier\ncommitted\nsum " + *sum + " a.txt.enc\n");
    // Another process's copy under another password took the verified one's place.
    fs::remove(storage / "a.txt.enc.rekey");
    ASSERT_TRUE(vault::encryptFile(dir / "plain", storage / "a.txt.enc.rekey", "someone else's"));
    EXPECT_FALSE(vault::recoverRekey(storage).has_value());
    EXPECT_TRUE(vault::verifyArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "old",
                                     {vault::kNewDerivation, {}, {}}));

    // The verified copy back: the change is finished.
    fs::remove(storage / "a.txt.enc.rekey");
    ASSERT_TRUE(vault::reencryptArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "old", "new",
                                        storage / "a.txt.enc.rekey", {vault::kNewDerivation, {}, {}}));
    writeFile(storage / vault::kRekeyJournal, "vaultry-rekey 2\nverifier\ncommitted\nsum " +
                                                  *vault::contentSha256(storage / "a.txt.enc.rekey") +
                                                  " a.txt.enc\n");
    EXPECT_EQ(vault::recoverRekey(storage), std::optional<std::string>("verifier"));
    EXPECT_TRUE(vault::verifyArchive(storage / "a.txt.enc", vault::ArchiveKind::File, "new",
                                     {vault::kNewDerivation, {}, {}}));

    // The archive manifest of the new password is held to its digest the same way.
    const fs::path manifest = storage / vault::ArchiveManifest::kFileName;
    const fs::path nextManifest = manifest.string() + ".rekey";
    writeFile(manifest, "the manifest of the old password");
    writeFile(nextManifest, "the manifest that was written");
    const auto manifestSum = vault::contentSha256(nextManifest);
    ASSERT_TRUE(manifestSum);
    const std::string journal = "vaultry-rekey 2\nverifier\ncommitted\nsum " + *manifestSum + " " +
                                vault::ArchiveManifest::kFileName + "\n";
    writeFile(storage / vault::kRekeyJournal, journal);
    writeFile(nextManifest, "someone else's manifest");
    EXPECT_FALSE(vault::recoverRekey(storage).has_value());
    EXPECT_EQ(readFile(manifest), "the manifest of the old password");
    writeFile(nextManifest, "the manifest that was written");
    EXPECT_EQ(vault::recoverRekey(storage), std::optional<std::string>("verifier"));
    EXPECT_EQ(readFile(manifest), "the manifest that was written");
    EXPECT_FALSE(fs::exists(nextManifest));
}

// ---- Moving the storage folder ---------------------------------------------------------------

TEST(VaultStorageMove, SwitchesOnlyWhenEverythingIsCopiedAndChecked) {
    Gui g;
    const fs::path s1 = g.storage;
    const fs::path notes = g.w.dir / "Notes";
    writeFile(notes / "a.txt", "A");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((notes / "a.txt").string()));
    ASSERT_TRUE(g.app->DecryptFileFolderFunction((notes / "a.txt.enc").string()));
    g.app->rememberDecryptedCopy((notes / "a.txt.enc").string());
    ASSERT_TRUE(fs::exists(s1 / vault::CopyManifest::kFileName));
    writeFile(s1 / "b.txt.enc", "B-old");
    writeFile(s1 / "libdata/a", "thumb");
    g.w.ui.alerts.clear();

    // A different item of the same name in the new folder: nothing switches, nothing is left there.
    const fs::path second = g.w.dir / "Second", s2 = second / "vaultry.data";
    writeFile(s2 / "b.txt.enc", "B-new");
    g.app->openPanelDidEnd5(platform::Ui::Paths{second.string()});
    ASSERT_TRUE(g.w.mainThread.pumpUntil([&] { return !g.app->isMovingStorage(); }));
    EXPECT_EQ(g.w.settings.string(prefkey::StorePath), s1.string());
    ASSERT_EQ(g.w.ui.alerts.size(), 1u);
    EXPECT_EQ(g.w.ui.alerts[0].message, "The storage folder was not changed.");
    EXPECT_NE(g.w.ui.alerts[0].informative.find("b.txt.enc"), std::string::npos);
    Strings left;
    for (const auto& e : fs::directory_iterator(s2)) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, Strings{"b.txt.enc"});
    EXPECT_EQ(readFile(s2 / "b.txt.enc"), "B-new");

    // A folder inside the current one is refused.
    g.app->openPanelDidEnd5(platform::Ui::Paths{s1.string()});
    ASSERT_TRUE(g.w.mainThread.pumpUntil([&] { return !g.app->isMovingStorage(); }));
    EXPECT_EQ(g.w.settings.string(prefkey::StorePath), s1.string());
    ASSERT_EQ(g.w.ui.alerts.size(), 2u);
    EXPECT_NE(g.w.ui.alerts[1].informative.find("inside"), std::string::npos);
    EXPECT_FALSE(fs::exists(s1 / "vaultry.data"));

    // The same item there already counts as copied; everything else comes along, the copy
    // manifest too, and the user is told what the old folder still holds.
    writeFile(s2 / "b.txt.enc", "B-old");
    g.app->openPanelDidEnd5(platform::Ui::Paths{second.string()});
    ASSERT_TRUE(g.w.mainThread.pumpUntil([&] { return !g.app->isMovingStorage(); }));
    EXPECT_EQ(g.w.settings.string(prefkey::StorePath), s2.string());
    EXPECT_EQ(readFile(s2 / "a.txt.enc"), readFile(s1 / "a.txt.enc"));
    EXPECT_EQ(readFile(s2 / "libdata/a"), "thumb");
    EXPECT_EQ(readFile(s2 / vault::CopyManifest::kFileName), readFile(s1 / vault::CopyManifest::kFileName));
    ASSERT_EQ(g.w.ui.alerts.size(), 3u);
    EXPECT_EQ(g.w.ui.alerts[2].message, "The old storage folder was kept.");
    EXPECT_NE(g.w.ui.alerts[2].informative.find(s1.string()), std::string::npos);
    EXPECT_NE(g.w.ui.alerts[2].informative.find("a.txt.enc"), std::string::npos);
    for (const auto& e : fs::directory_iterator(s2))
        EXPECT_EQ(e.path().filename().string().rfind(".vaultry-copy", 0), std::string::npos) << e.path();
    EXPECT_FALSE(fs::exists(s1 / ".vaultry-move"));
    // The unchanged copy is known in the new folder: locking it needs no pass phrase.
    g.app->forgetPassPhrase();
    std::string error;
    EXPECT_TRUE(g.app->lockDecryptedRecord((notes / "a.txt.enc").string(), &error)) << error;
    EXPECT_FALSE(fs::exists(notes / "a.txt"));
}

TEST(VaultStorageMove, ACopyNotSwitchedToIsTakenBack) {
    test::TempDir dir;
    const fs::path from = dir / "old/vaultry.data", to = dir / "new/vaultry.data";
    writeFile(from / "a.txt.enc", "A");
    writeFile(from / "libdata/a", "thumb");
    writeFile(from / "Work/x", "plaintext of a decrypted folder");
    fs::create_directories(dir / "new");
    auto moved = vault::copyStorageForMove(from, to);
    ASSERT_TRUE(moved) << moved.error().message;
    EXPECT_EQ(moved->leftInOld, (Strings{"Work", "a.txt.enc", "libdata"}));
    EXPECT_EQ(readFile(to / "Work/x"), "plaintext of a decrypted folder");
    // Cut short before the setting named the new folder: the next start takes the copy back.
    vault::rollBackStorageMove(from);
    EXPECT_FALSE(fs::exists(to));
    EXPECT_EQ(readFile(from / "Work/x"), "plaintext of a decrypted folder");

    // Into a folder that held items of its own: only what the copy put there goes.
    writeFile(to / "mine.txt.enc", "mine");
    writeFile(to / "a.txt.enc", "A");
    ASSERT_TRUE(vault::copyStorageForMove(from, to));
    vault::rollBackStorageMove(from);
    Strings left;
    for (const auto& e : fs::directory_iterator(to)) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (Strings{"a.txt.enc", "mine.txt.enc"}));
}

TEST(VaultStorageMove, OnlyOurFolderIconEntryStaysBehind) {
    test::TempDir dir;
    const fs::path from = dir / "old/vaultry.data", to = dir / "new/vaultry.data";
    writeFile(from / "a.txt.enc", "A");
    writeFile(from / ".directory", "[Desktop Entry]\nIcon=com.Quenmark.vaultry-folder\n");
    fs::create_directories(dir / "new");
    auto moved = vault::copyStorageForMove(from, to);
    ASSERT_TRUE(moved) << moved.error().message;
    EXPECT_EQ(moved->leftInOld, Strings{"a.txt.enc"});  // ours is written anew where the vault goes
    EXPECT_FALSE(fs::exists(to / ".directory"));
    // Taken back, the folder the copy made goes even with our entry written into it meanwhile.
    writeFile(to / ".directory", "[Desktop Entry]\nIcon=com.Quenmark.vaultry-folder\n");
    vault::rollBackStorageMove(from);
    EXPECT_FALSE(fs::exists(to));

    // A decrypted folder that happens to be named .directory is the user's, as is a user's entry.
    fs::remove(from / ".directory");
    writeFile(from / ".directory/x", "plaintext of a decrypted folder");
    moved = vault::copyStorageForMove(from, to);
    ASSERT_TRUE(moved) << moved.error().message;
    EXPECT_EQ(moved->leftInOld, (Strings{".directory", "a.txt.enc"}));
    EXPECT_EQ(readFile(to / ".directory/x"), "plaintext of a decrypted folder");
    vault::rollBackStorageMove(from);
    EXPECT_FALSE(fs::exists(to));
    fs::remove_all(from / ".directory");
    writeFile(from / ".directory", "[Desktop Entry]\nIcon=folder-red\n");
    moved = vault::copyStorageForMove(from, to);
    ASSERT_TRUE(moved) << moved.error().message;
    EXPECT_EQ(readFile(to / ".directory"), "[Desktop Entry]\nIcon=folder-red\n");
    // A user's entry that turns up in a folder the copy made keeps that folder.
    vault::rollBackStorageMove(from);
    EXPECT_FALSE(fs::exists(to / "a.txt.enc"));
    EXPECT_FALSE(fs::exists(to / ".directory"));
    ASSERT_TRUE(vault::copyStorageForMove(from, to));
    fs::remove(to / ".directory");
    writeFile(to / ".directory", "[Desktop Entry]\nIcon=folder-blue\n");
    vault::rollBackStorageMove(from);
    EXPECT_EQ(readFile(to / ".directory"), "[Desktop Entry]\nIcon=folder-blue\n");
}

TEST(VaultStorageMove, ACopyThatFailsChangesNothing) {
    if (geteuid() == 0) GTEST_SKIP() << "root ignores permissions; runs in the unprivileged run";
    test::TempDir home;
    const auto cli = [&](Strings args) { return test::runCli(home.path(), std::move(args)); };
    const fs::path s1 = home / "one/vaultry.data", s2 = home / "two/vaultry.data";
    fs::create_directories(home / "one");
    fs::create_directories(home / "two");
    ASSERT_EQ(cli({"vault", "storage", "set", (home / "one").string()}).code, 0);
    writeFile(s1 / "a.txt.enc", "A");
    writeFile(s1 / "b.txt.enc", "B");
    fs::permissions(s1 / "b.txt.enc", fs::perms::none);
    const auto r = cli({"vault", "storage", "set", (home / "two").string()});
    fs::permissions(s1 / "b.txt.enc", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("b.txt.enc"), std::string::npos) << r.err;
    SettingsStore s(home / ".config/com.Quenmark.vaultry.plist");
    EXPECT_EQ(s.string(prefkey::StorePath), s1.string());
    EXPECT_FALSE(fs::exists(s2));
    EXPECT_FALSE(fs::exists(s1 / ".vaultry-move"));
}

// vaultry-cli killed at any moment of `vault storage set`: the setting names either the old
// folder, and the next command takes back what the copy left in the new one, or the new folder
// with everything in it.
TEST(VaultStorageMove, KilledAtAnyMomentTheMoveIsWholeOrUndone) {
    test::TempDir home;
    const auto cli = [&](Strings args, const std::string& input = "") {
        return test::runCli(home.path(), std::move(args), input);
    };
    const fs::path s1 = home / "one/vaultry.data";
    fs::create_directories(home / "one");
    ASSERT_EQ(cli({"vault", "storage", "set", (home / "one").string()}).code, 0);
    const std::string big(2 << 20, 'm');
    for (int i = 0; i < 6; ++i) writeFile(s1 / ("f" + std::to_string(i) + ".enc"), big + std::to_string(i));
    writeFile(s1 / "libdata/f0", "thumb");
    writeFile(s1 / vault::CopyManifest::kFileName, "manifest");
    const auto settingNow = [&] {
        SettingsStore s(home / ".config/com.Quenmark.vaultry.plist");
        return s.string(prefkey::StorePath).value_or("");
    };

    std::mt19937 gen(7);
    std::uniform_int_distribution<int> delay(0, 300000);
    fs::path current = s1;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const fs::path folder = home / ("dest" + std::to_string(round));
        fs::create_directories(folder);
        std::string cliPath = VAULTRY_CLI_PATH, homeVar = "HOME=" + home.path().string(),
                    pathVar = "PATH=/usr/bin:/bin";
        std::string a1 = "vault", a2 = "storage", a3 = "set", a4 = folder.string();
        char* argv[] = {cliPath.data(), a1.data(), a2.data(), a3.data(), a4.data(), nullptr};
        char* envp[] = {homeVar.data(), pathVar.data(), nullptr};
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        ASSERT_EQ(posix_spawn(&pid, argv[0], &fa, nullptr, argv, envp), 0);
        posix_spawn_file_actions_destroy(&fa);
        std::this_thread::sleep_for(std::chrono::microseconds(delay(gen)));
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);

        ASSERT_EQ(cli({"vault", "list"}).code, 0);  // settles what was cut short
        const fs::path now = settingNow();
        const fs::path target = folder / "vaultry.data";
        if (now == target) {
            for (int i = 0; i < 6; ++i)
                EXPECT_EQ(readFile(target / ("f" + std::to_string(i) + ".enc")), big + std::to_string(i));
            EXPECT_EQ(readFile(target / "libdata/f0"), "thumb");
            EXPECT_EQ(readFile(target / vault::CopyManifest::kFileName), "manifest");
            current = target;
        } else {
            ASSERT_EQ(now, current);
            EXPECT_FALSE(fs::exists(target)) << "a copy cut short was left behind";
        }
        EXPECT_FALSE(fs::exists(current / ".vaultry-move"));
    }
}

}  // namespace
}  // namespace vaultry
