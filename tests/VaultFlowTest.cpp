#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>

#include "app/AppDelegate.h"
#include "platform/linux/DotHiddenFlag.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/PasswordVerifier.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using platform::AlertAnswer;
using test::readFile;
using test::writeFile;

fs::perms permsOf(const fs::path& p) { return fs::status(p).permissions() & fs::perms::all; }

using Vault = test::VaultWorld;

TEST(VaultFlow, HideListsTheItemsAndRecordsOnlyThoseMarked) {
    Vault v;
    const std::string a = (v.w.dir / "a b.txt").string(), b = (v.w.dir / "Folder").string(),
                      c = (v.w.dir / "c.txt").string();
    writeFile(a, "1");
    fs::create_directories(b);
    writeFile(c, "3");
    v.w.hiddenFlag.failing.insert(c);
    v.choose({a, b, c, a});
    v.app->HideFileAction();
    ASSERT_EQ(v.w.ui.openPanels.size(), 1u);
    EXPECT_EQ(v.w.ui.openPanels[0].message, "Choose the file(s) or folder(s) to hide.");
    EXPECT_TRUE(v.w.ui.openPanels[0].multipleSelection && v.w.ui.openPanels[0].chooseDirectories);
    ASSERT_EQ(v.w.ui.alerts.size(), 2u);
    EXPECT_EQ(v.w.ui.alerts[0].message, "Are you sure you want to hide the selected items ?");
    EXPECT_EQ(v.w.ui.alerts[0].informative, " \n " + a + " \n " + b + " \n " + c + " \n " + a);
    EXPECT_EQ(v.w.ui.alerts[0].defaultTitle, " Hide ");
    EXPECT_EQ(v.w.ui.alerts[0].alternateTitle, " Cancel ");
    EXPECT_EQ(v.w.ui.alerts[1].informative, " \n " + c);  // the one that failed, named
    EXPECT_EQ(v.storedRecords(), (std::vector<std::string>{a, b, a}));
    EXPECT_TRUE(v.w.hiddenFlag.isHidden(a) && v.w.hiddenFlag.isHidden(b));
    EXPECT_TRUE(v.w.settings.data(a).has_value());

    v.app->UnHiddenFileFolderFunction(a);
    EXPECT_EQ(v.storedRecords(), std::vector<std::string>{b});
    EXPECT_FALSE(v.w.hiddenFlag.isHidden(a));

    // Cancelling the confirmation changes nothing.
    v.choose({a});
    v.w.ui.alertAnswers.push_back(AlertAnswer::Alternate);
    v.app->HideFileAction();
    EXPECT_EQ(v.storedRecords(), std::vector<std::string>{b});
}

TEST(VaultFlow, WithoutPasswordOrStorageNothingIsAsked) {
    Vault v(false);
    v.app->HideFileAction();
    v.app->EncryptFileAction();
    EXPECT_TRUE(v.w.ui.isVisible("CreatePWWindow"));
    EXPECT_TRUE(v.w.ui.openPanels.empty());
    v.w.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
    v.app->EncryptFileAction();  // asks for the storage folder, not for access to the Trash
    EXPECT_FALSE(v.w.ui.isVisible("connectWindow"));
    ASSERT_EQ(v.w.ui.openPanels.size(), 1u);
    EXPECT_TRUE(std::count(v.w.ui.events.begin(), v.w.ui.events.end(), "sheet:window"));
    EXPECT_EQ(v.w.ui.openPanels[0].message, "Choose the location to store encypted files.");
    v.w.ui.openPanels.clear();
    v.w.settings.set(prefkey::StorePath, v.storage.string());
    v.app->EncryptFileAction();  // the pass phrase is not known in this run yet
    EXPECT_TRUE(v.w.ui.isVisible("enterPDWindow"));
    EXPECT_TRUE(v.w.ui.openPanels.empty());
}

TEST(VaultFlow, EncryptAndDecryptAFileAndAFolder) {
    Vault v;
    const fs::path notes = v.w.dir / "Notes", work = v.w.dir / "My $Work";
    writeFile(notes / "plan.txt", "the plan");
    writeFile(notes / "photo.jpg", "jpeg");
    writeFile(work / "deep/x.txt", "x");
    v.w.thumbnailer.pictures[(notes / "photo.jpg").string()] = {800, 600};
    v.choose({(notes / "plan.txt").string(), (notes / "photo.jpg").string(), work.string()});
    v.app->EncryptFileAction();
    EXPECT_EQ(v.w.ui.alerts.at(0).message, "Are you sure you want to Encrypt the selected items ?");
    EXPECT_EQ(v.w.ui.alerts.size(), 1u);
    EXPECT_EQ(v.w.ui.openPanels.at(0).message, "Choose the file(s) or folder(s) to encypt and hide.");

    const std::string planRecord = (notes / "plan.txt.enc").string(), workRecord = work.string() + ".tar.gz";
    EXPECT_EQ(v.storedRecords(),
              (std::vector<std::string>{planRecord, (notes / "photo.jpg.enc").string(), workRecord}));
    EXPECT_FALSE(fs::exists(notes / "plan.txt"));
    EXPECT_FALSE(fs::exists(work));
    EXPECT_EQ(permsOf(v.storage), fs::perms::owner_all);
    EXPECT_EQ(permsOf(v.storage / "plan.txt.enc"), fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_EQ(permsOf(v.storage / "My $Work.tar.gz"), fs::perms::owner_read | fs::perms::owner_write);
    // Nothing drawn from an item's content is stored: a thumbnail would be a plain copy of it.
    EXPECT_FALSE(fs::exists(v.storage / "libdata"));
    EXPECT_TRUE(v.w.thumbnailer.sizes.empty());
    // Every file Vaultry wrote in the storage folder is the user's alone, every folder too.
    for (auto it = fs::recursive_directory_iterator(v.storage); it != fs::recursive_directory_iterator();
         ++it)
        EXPECT_EQ(permsOf(it->path()),
                  it->is_directory() ? fs::perms::owner_all : fs::perms::owner_read | fs::perms::owner_write)
            << it->path();
    // Each row shows the icon of its item's kind.
    EXPECT_EQ(v.row((notes / "photo.jpg.enc").string())->imageView,
              platform::ImageRef::iconOf((notes / "photo.jpg").string()));
    EXPECT_EQ(v.row(planRecord)->imageView, platform::ImageRef::iconOf((notes / "plan.txt").string()));

    // Those an earlier version left (of any file) are removed at the next start; what is not at
    // a record's thumbnail stays.
    writeFile(v.storage / "libdata/photo", "old plain thumbnail");
    writeFile(v.storage / "libdata/plan", "old plain thumbnail");
    writeFile(v.storage / "libdata/other", "not ours");
    AppDelegate again(v.w.services());
    again.applicationDidFinishLaunching();
    EXPECT_FALSE(fs::exists(v.storage / "libdata/photo"));
    EXPECT_FALSE(fs::exists(v.storage / "libdata/plan"));
    EXPECT_TRUE(fs::exists(v.storage / "libdata/other"));
    EXPECT_EQ(permsOf(v.storage / "libdata"), fs::perms::owner_all);

    EXPECT_TRUE(v.app->DecryptFileFolderFunction(planRecord));
    EXPECT_EQ(readFile(notes / "plan.txt"), "the plan");
    EXPECT_TRUE(v.app->DecryptFileFolderFunction(workRecord));
    EXPECT_EQ(readFile(v.storage / "My $Work/deep/x.txt"), "x");
    EXPECT_EQ(v.w.workspace.revealed,
              (std::vector<std::string>{(notes / "plan.txt").string(), (v.storage / "My $Work").string()}));
    EXPECT_EQ(v.w.settings.stringArray(prefkey::DecryptedRecords),
              (std::vector<std::string>{planRecord, workRecord}));
    // The archives stay.
    EXPECT_TRUE(fs::exists(v.storage / "plan.txt.enc"));

    // Decrypting again while the copy exists overwrites nothing and marks nothing.
    writeFile(notes / "plan.txt", "edited");
    EXPECT_FALSE(v.app->DecryptFileFolderFunction(planRecord));
    EXPECT_EQ(readFile(notes / "plan.txt"), "edited");
    EXPECT_EQ(v.app->decryptedRecords().size(), 2u);
}

TEST(VaultFlow, FailuresLeaveTheOriginalAndRecordNothing) {
    Vault v;
    const fs::path notes = v.w.dir / "Notes";
    writeFile(notes / "plan.txt", "mine");
    writeFile(v.storage / "plan.txt.enc", "somebody else's archive");
    v.choose({(notes / "plan.txt").string(), (notes / "gone.txt").string()});
    v.app->EncryptFileAction();
    ASSERT_EQ(v.w.ui.alerts.size(), 3u);
    EXPECT_EQ(v.w.ui.alerts[1].message, "An archive with this name is already in the storage folder.");
    EXPECT_EQ(v.w.ui.alerts[2].message, "The selected item is not available");
    EXPECT_EQ(readFile(notes / "plan.txt"), "mine");
    EXPECT_EQ(readFile(v.storage / "plan.txt.enc"), "somebody else's archive");
    EXPECT_TRUE(v.storedRecords().empty());

    // The folder around the storage folder would pack the archive being written.
    v.w.ui.alerts.clear();
    EXPECT_FALSE(v.app->EncryptFileFolderFunction((v.w.dir / "Safe").string()));
    ASSERT_EQ(v.w.ui.alerts.size(), 1u);
    EXPECT_NE(v.w.ui.alerts[0].informative.find("storage folder"), std::string::npos);
    EXPECT_TRUE(fs::exists(v.storage / "plan.txt.enc"));

    // An archive made under another pass phrase: nothing written, nothing marked.
    writeFile(v.w.dir / "x.txt", "x");
    // (A salt where "pw" happens to fit the padding, about one in 128, is drawn again.)
    do {
        fs::remove(v.storage / "y.txt.enc");
        ASSERT_TRUE(vault::encryptFile(v.w.dir / "x.txt", v.storage / "y.txt.enc", "other"));
    } while (vault::derivationsThatOpen(v.storage / "y.txt.enc", vault::ArchiveKind::File, "pw"));
    EXPECT_FALSE(v.app->DecryptFileFolderFunction((notes / "y.txt.enc").string()));
    EXPECT_FALSE(fs::exists(notes / "y.txt"));
    EXPECT_FALSE(v.app->DecryptFileFolderFunction((notes / "missing.tar.gz").string()));
    EXPECT_TRUE(v.app->decryptedRecords().empty());
    for (const auto& e : fs::directory_iterator(v.storage))
        EXPECT_EQ(e.path().filename().string().find(".part-"), std::string::npos) << e.path();
}

TEST(VaultFlow, VerifyArchivesSaysWhichArchivesWereChanged) {
    Vault v;
    writeFile(v.w.dir / "a.txt", "alpha");
    writeFile(v.w.dir / "b.txt", "beta");
    ASSERT_TRUE(v.app->EncryptFileFolderFunction((v.w.dir / "a.txt").string()));
    ASSERT_TRUE(v.app->EncryptFileFolderFunction((v.w.dir / "b.txt").string()));
    v.w.ui.alerts.clear();
    v.app->VerifyArchivesAction();
    ASSERT_EQ(v.w.ui.alerts.size(), 1u);
    EXPECT_EQ(v.w.ui.alerts[0].message, "Every archive is intact.");
    std::string bytes = readFile(v.storage / "b.txt.enc");
    bytes[20] ^= 1;
    writeFile(v.storage / "b.txt.enc", bytes);
    v.app->VerifyArchivesAction();
    ASSERT_EQ(v.w.ui.alerts.size(), 2u);
    EXPECT_EQ(v.w.ui.alerts[1].message, "Some archives were changed or cannot be opened.");
    EXPECT_EQ(v.w.ui.alerts[1].informative, std::string(" \n b.txt.enc: ") + vault::kChangedOrDamaged);
    // Decrypting it is refused for what it is, and writes nothing.
    EXPECT_FALSE(v.app->DecryptFileFolderFunction((v.w.dir / "b.txt.enc").string()));
    EXPECT_EQ(v.w.ui.alerts.back().informative, vault::kChangedOrDamaged);
    EXPECT_FALSE(fs::exists(v.w.dir / "b.txt"));
}

TEST(VaultFlow, AutoLockLocksWhatItCanAndSaysWhatWasLeft) {
    Vault v;
    writeFile(v.w.dir / "a.txt", "alpha");
    writeFile(v.w.dir / "b.txt", "beta");
    const std::string a = (v.w.dir / "a.txt.enc").string(), b = (v.w.dir / "b.txt.enc").string();
    ASSERT_TRUE(v.app->EncryptFileFolderFunction((v.w.dir / "a.txt").string()));
    ASSERT_TRUE(v.app->EncryptFileFolderFunction((v.w.dir / "b.txt").string()));
    v.app->autoLockDecrypted(vault::LockTrigger::Idle);
    EXPECT_TRUE(v.w.notifier.scheduled.empty());  // nothing was decrypted: nothing to say

    ASSERT_TRUE(v.app->DecryptFileFolderFunction(a));
    ASSERT_TRUE(v.app->DecryptFileFolderFunction(b));
    v.app->rememberDecryptedCopy(a);
    v.app->rememberDecryptedCopy(b);
    writeFile(v.w.dir / "b.txt", "beta, edited");
    // Without the pass phrase the edited copy cannot be saved into its archive: it is left.
    v.app->forgetPassPhrase();
    v.app->autoLockDecrypted(vault::LockTrigger::SessionLocked);
    EXPECT_FALSE(fs::exists(v.w.dir / "a.txt"));
    EXPECT_EQ(readFile(v.w.dir / "b.txt"), "beta, edited");
    EXPECT_EQ(v.app->decryptedRecords(), std::vector<std::string>{b});
    ASSERT_EQ(v.w.notifier.scheduled.size(), 1u);
    const std::string& text = v.w.notifier.scheduled[0].body;
    EXPECT_EQ(text.rfind("The session was locked. Locked: a.txt. Not locked: b.txt (", 0), 0u) << text;

    // With the pass phrase the edit goes into the archive, then the copy goes.
    v.w.ui.setText("enterPWLab", "pw");
    v.app->ReturnOnPasswordField();
    v.app->autoLockDecrypted(vault::LockTrigger::BeforeSleep);
    EXPECT_FALSE(fs::exists(v.w.dir / "b.txt"));
    EXPECT_TRUE(v.app->decryptedRecords().empty());
    EXPECT_EQ(v.w.notifier.scheduled.back().body, "The computer is going to sleep. Locked: b.txt.");
    ASSERT_TRUE(v.app->DecryptFileFolderFunction(b));
    EXPECT_EQ(readFile(v.w.dir / "b.txt"), "beta, edited");
}

TEST(AutoLock, IdleLocksOncePerIdleStretchAndOnlyTheOfferedTimesCount) {
    vault::IdleWatch off(0);
    EXPECT_FALSE(off.due(std::chrono::hours(5)));
    vault::IdleWatch five(5);
    EXPECT_FALSE(five.due(std::chrono::minutes(4)));
    EXPECT_TRUE(five.due(std::chrono::minutes(5)));
    EXPECT_FALSE(five.due(std::chrono::minutes(30)));  // still the same stretch
    EXPECT_FALSE(five.due(std::chrono::seconds(3)));   // the user came back
    EXPECT_TRUE(five.due(std::chrono::minutes(6)));
    EXPECT_EQ(vault::autoLockMinutes(15), 15);
    EXPECT_EQ(vault::autoLockMinutes(60), 60);
    EXPECT_EQ(vault::autoLockMinutes(7), 0);
    EXPECT_EQ(vault::autoLockMinutes(std::nullopt), 0);
}

TEST(VaultFlow, StorageLocationChoicesAndChange) {
    Vault v(false);
    v.w.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
    fs::create_directories(v.w.dir / "My Files");
    v.app->openPanelDidEnd8(platform::Ui::Paths{(v.w.dir / "My Files").string()});
    EXPECT_EQ(v.w.ui.alerts.at(0).message,
              "Do not include spaces or other invalid characters in the selected storage path.");
    EXPECT_FALSE(v.w.settings.contains(prefkey::StorePath));

    const fs::path first = v.w.dir / "First", second = v.w.dir / "Second";
    fs::create_directories(first);
    v.w.ui.showWindow("CreatePWWindow");
    v.app->openPanelDidEnd8(platform::Ui::Paths{first.string()});
    const std::string s1 = (first / "vaultry.data").string();
    EXPECT_EQ(v.w.settings.string(prefkey::StorePath), s1);
    EXPECT_TRUE(v.w.settings.data(prefkey::StoreParentGrant).has_value());
    EXPECT_EQ(v.w.ui.text("StorePathlab"), s1);
    EXPECT_EQ(permsOf(s1), fs::perms::owner_all);
    EXPECT_FALSE(v.w.ui.isVisible("CreatePWWindow"));
    // The vault's storage folder is never where tidied items go, in this run or the next.
    EXPECT_EQ(v.app->StorelocationPath(), "");
    {
        AppDelegate again(v.w.services());
        again.settleEarlierVersions();
        again.loadVaultLists();
        EXPECT_EQ(again.StorelocationPath(), "");
    }

    writeFile(fs::path(s1) / "a.txt.enc", "A");
    writeFile(fs::path(s1) / "b.txt.enc", "B-old");
    writeFile(fs::path(s1) / ".vaultry-integrity", "manifest");
    writeFile(fs::path(s1) / "libdata/a", "thumb");
    writeFile(second / "vaultry.data/b.txt.enc", "B-new");
    // A move copies everything, verifies it, and only then switches; a copy that cannot be made
    // (a name taken in the new folder) leaves the vault where it was.
    v.app->openPanelDidEnd5(platform::Ui::Paths{second.string()});
    const fs::path s2 = second / "vaultry.data";
    EXPECT_NE(
        std::find(v.w.ui.events.begin(), v.w.ui.events.end(), "progress:Moving the vault to " + s2.string()),
        v.w.ui.events.end());
    EXPECT_FALSE(v.w.ui.isVisible("progressWindow"));
    // Another item of the same name there: never overwritten, and the vault stays where it is.
    EXPECT_EQ(v.w.settings.string(prefkey::StorePath), s1);
    EXPECT_EQ(readFile(s2 / "b.txt.enc"), "B-new");
    EXPECT_EQ(readFile(fs::path(s1) / "b.txt.enc"), "B-old");
    EXPECT_FALSE(fs::exists(s2 / "a.txt.enc"));
    ASSERT_EQ(v.w.ui.alerts.size(), 2u);
    EXPECT_EQ(v.w.ui.alerts[1].message, "The storage folder was not changed.");
    EXPECT_NE(v.w.ui.alerts[1].informative.find("b.txt.enc"), std::string::npos);

    fs::remove(s2 / "b.txt.enc");
    v.app->openPanelDidEnd5(platform::Ui::Paths{second.string()});
    ASSERT_TRUE(v.w.mainThread.pumpUntil([&] { return !v.app->isMovingStorage(); }));
    EXPECT_EQ(v.w.settings.string(prefkey::StorePath), s2.string());
    EXPECT_EQ(readFile(s2 / "a.txt.enc"), "A");
    EXPECT_EQ(readFile(s2 / ".vaultry-integrity"), "manifest");  // the archives' MACs come along
    EXPECT_EQ(readFile(s2 / "libdata/a"), "thumb");
    EXPECT_EQ(readFile(s2 / "b.txt.enc"), "B-old");
    EXPECT_EQ(readFile(fs::path(s1) / "b.txt.enc"), "B-old");
    ASSERT_EQ(v.w.ui.alerts.size(), 3u);
    EXPECT_EQ(v.w.ui.alerts[2].message, "The old storage folder was kept.");
    for (const auto& e : fs::directory_iterator(s2))
        EXPECT_EQ(e.path().filename().string().find(".vaultry-copy"), std::string::npos);

    // "Choose…" once a vault exists moves it the same way, never repointing it at an empty folder.
    const fs::path third = v.w.dir / "Third";
    fs::create_directories(third);
    v.app->openPanelDidEnd8(platform::Ui::Paths{third.string()});
    const fs::path s3 = third / "vaultry.data";
    EXPECT_NE(
        std::find(v.w.ui.events.begin(), v.w.ui.events.end(), "progress:Moving the vault to " + s3.string()),
        v.w.ui.events.end());
    EXPECT_FALSE(v.w.ui.isVisible("progressWindow"));
    EXPECT_EQ(v.w.settings.string(prefkey::StorePath), s3.string());
    EXPECT_EQ(v.w.ui.text("StorePathlab"), s3.string());
    EXPECT_EQ(readFile(s3 / "a.txt.enc"), "A");
    EXPECT_EQ(readFile(s3 / "b.txt.enc"), "B-old");
    EXPECT_EQ(readFile(s3 / "libdata/a"), "thumb");
    EXPECT_EQ(readFile(s2 / "a.txt.enc"), "A") << "the old folder stays as it is";
    ASSERT_EQ(v.w.ui.alerts.size(), 4u) << v.w.ui.alerts.back().informative;
    EXPECT_EQ(v.w.ui.alerts[3].message, "The old storage folder was kept.");
    for (const auto& e : fs::directory_iterator(s3))
        EXPECT_EQ(e.path().filename().string().find(".vaultry-copy"), std::string::npos);
}

}  // namespace
}  // namespace vaultry
