// The vault keeps the user's data in ordinary situations a root run never sees: read-only folders,
// unwritable storage, files changed or linked while they are encrypted, runs killed mid-way.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "app/AppDelegate.h"
#include "app/PSTableCellView.h"
#include "settings/Preferences.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/CopyManifest.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/SafeRemoval.h"
#include "vault/Temporaries.h"
#include "vault/VaultItems.h"
#include "vault/VaultList.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using platform::AlertAnswer;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

#define SKIP_AS_ROOT() \
    if (::geteuid() == 0) GTEST_SKIP() << "root ignores permissions; runs in the unprivileged run"

// Gives a folder the mode for the test's length, and its owner's full rights back afterwards
// (so that the temporary folder can be cleaned up).
struct Mode {
    fs::path path;
    Mode(fs::path p, fs::perms perms) : path(std::move(p)) { fs::permissions(path, perms); }
    ~Mode() {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
    }
};
constexpr fs::perms kReadOnly = fs::perms::owner_read | fs::perms::owner_exec;

// Wraps a gzip tar made by the system's tar into a folder archive, as `openssl enc -aes256` would.
fs::path sealTar(const fs::path& tgz, const fs::path& out) {
    EXPECT_TRUE(vault::encryptFile(tgz, out, "pw", vault::ArchiveKind::Folder));
    return out;
}

// The shared vault, with the row actions and a look into the archives.
struct Vault : test::VaultWorld {
    void unlockRow(const std::string& record) { row(record)->ClickSwtichAction(); }
    bool lockRow(const std::string& record) {
        auto view = row(record);
        view->ClickSwtichAction();
        return view->showsLocked();
    }
    void remove(const std::string& record) {
        clickRow(record);
        app->RemoveFileFromListAction();
    }
    // The plaintext an archive holds, unpacked or decrypted into a fresh folder.
    fs::path opened(const std::string& record) {
        const fs::path out = w.dir / ("opened-" + std::to_string(++opens));
        fs::create_directories(out);
        const fs::path archive = vault::archivePath(storage.string(), record);
        if (vault::archiveKindOf(archive) == vault::ArchiveKind::Folder)
            EXPECT_TRUE(vault::unpackFolder(archive, out, "pw"));
        else
            EXPECT_TRUE(vault::decryptFile(archive, out / "file", "pw", {vault::kNewDerivation, {}, {}}));
        return out;
    }
    int opens = 0;
};

// Nothing of ours is left beside the user's items or in the storage folder.
void expectNoLeftovers(const fs::path& folder) {
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(folder, ec)) {
        const std::string name = e.path().filename().string();
        for (const char* prefix : {".vaultry-keep-", ".vaultry-removing-", ".vaultry-unpack-"})
            EXPECT_NE(name.rfind(prefix, 0), 0u) << e.path();
        EXPECT_EQ(name.find(".part-"), std::string::npos) << e.path();
    }
}

// ---- Locking: the copy goes whole or not at all ---------------------------------------------------

TEST(VaultSafety, LockingACopyWithReadOnlyFoldersRemovesItWhole) {
    SKIP_AS_ROOT();
    Vault v;
    writeFile(v.w.dir / "Work/ledger.txt", "ledger");
    writeFile(v.w.dir / "Work/sealed/deed.txt", "deed");
    writeFile(v.w.dir / "Work/sealed/inner/seal.txt", "seal");
    const std::string work = v.encrypt(v.w.dir / "Work");
    v.unlockRow(work);
    ASSERT_TRUE(fs::exists(v.storage / "Work/sealed/inner/seal.txt"));
    // Folders the user made read-only inside the decrypted copy.
    Mode inner(v.storage / "Work/sealed/inner", kReadOnly);
    Mode sealed(v.storage / "Work/sealed", kReadOnly);

    EXPECT_TRUE(v.lockRow(work));
    EXPECT_FALSE(fs::exists(v.storage / "Work"));
    EXPECT_TRUE(v.storedDecrypted().empty());
    expectNoLeftovers(v.storage);
    // The archive still holds everything.
    const fs::path out = v.opened(work);
    EXPECT_EQ(readFile(out / "Work/ledger.txt"), "ledger");
    EXPECT_EQ(readFile(out / "Work/sealed/inner/seal.txt"), "seal");
}

TEST(VaultSafety, ACopyThatCannotBeRemovedIsKeptWholeAndNeverPackedAgain) {
    SKIP_AS_ROOT();
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    writeFile(v.notes / "other.txt", "other");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    v.unlockRow(plan);
    const std::string archiveBefore = readFile(v.storage / "plan.txt.enc");
    {
        Mode notes(v.notes, kReadOnly);  // the copy's folder: nothing in it can be removed
        v.w.ui.alerts.clear();
        EXPECT_FALSE(v.lockRow(plan));
        ASSERT_EQ(v.w.ui.alerts.size(), 2u);
        EXPECT_EQ(v.w.ui.alerts[1].message, "The item could not be hidden again");
        EXPECT_NE(v.w.ui.alerts[1].informative.find("Its decrypted copy was kept."), std::string::npos);
        EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
        EXPECT_EQ(v.storedDecrypted(), Strings{plan});
        expectNoLeftovers(v.notes);
    }
    // Once it can go, it goes; the unchanged copy is not packed over its archive.
    v.unlock();
    EXPECT_TRUE(v.lockRow(plan)) << v.w.ui.alerts.back().informative;
    EXPECT_FALSE(fs::exists(v.notes / "plan.txt"));
    EXPECT_EQ(readFile(v.storage / "plan.txt.enc"), archiveBefore);
    EXPECT_EQ(readFile(v.notes / "other.txt"), "other");
}

TEST(VaultSafety, FilesOfAnotherOwnerStopALockBeforeAnythingGoes) {
    if (::geteuid() != 0)
        GTEST_SKIP()
            << "giving files another owner needs root; the unprivileged run covers read-only folders";
    // The vault runs as nobody; one folder of the decrypted copy belongs to root.
    test::TempDir dir;
    const fs::path storage = dir / "Safe/vaultry.data";
    const std::string record = (dir / "Work.tar.gz").string();
    // Many names, so that some come before the root's folder in any listing order.
    for (int i = 0; i < 24; ++i) writeFile(dir / ("Work/a" + std::to_string(i) + ".txt"), "a");
    writeFile(dir / "Work/roots/r.txt", "r");
    fs::create_directories(storage);
    ASSERT_TRUE(vault::packFolder(dir / "Work", storage / "Work.tar.gz", "pw"));
    fs::copy(dir / "Work", storage / "Work", fs::copy_options::recursive);
    vault::CopyManifest manifest;
    manifest.set(record, *vault::copyDigest(storage / "Work"));
    ASSERT_TRUE(manifest.save(storage));
    for (const auto& e : fs::recursive_directory_iterator(dir.path())) {
        if (e.path().string().find("/Safe/vaultry.data/Work/roots") == std::string::npos) {
            ASSERT_EQ(::lchown(e.path().c_str(), 65534, 65534), 0) << e.path();
        }
    }
    ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);

    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
        vault::CopyManifest m = vault::CopyManifest::load(storage);
        vault::Temporary unlisting;
        ::_exit(vault::lockCopy(storage.string(), record, std::nullopt, m, unlisting) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(WEXITSTATUS(status), 1);
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(readFile(storage / ("Work/a" + std::to_string(i) + ".txt")), "a") << i;
    EXPECT_EQ(readFile(storage / "Work/roots/r.txt"), "r");
    expectNoLeftovers(storage);
}

TEST(VaultSafety, ACopyChangedWhileItIsLockedIsKept) {
    // The removal compares the copy, once out of its place, with what was checked.
    test::TempDir dir;
    writeFile(dir / "copy/a.txt", "a");
    auto before = vault::takeSnapshot(dir / "copy");
    ASSERT_TRUE(before);
    writeFile(dir / "copy/b.txt", "written meanwhile");
    std::optional<fs::path> leftover;
    const auto st = vault::removeWhole(dir / "copy", &*before, &leftover);
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("b.txt was added"), std::string::npos) << st.error().message;
    EXPECT_EQ(readFile(dir / "copy/b.txt"), "written meanwhile");
    expectNoLeftovers(dir.path());
}

// ---- Encrypting: the original goes only as it was packed ------------------------------------------

TEST(VaultSafety, FilesWrittenIntoAFolderWhileItIsEncryptedAreKept) {
    Vault v;
    writeFile(v.w.dir / "Work/a.txt", "a");
    auto plan = vault::planArchive((v.w.dir / "Work").string(), v.storage.string());
    ASSERT_TRUE(plan);
    ASSERT_TRUE(vault::writeArchive(*plan, "pw"));
    // Between packing and removal: a new file, and an edit that keeps the size.
    writeFile(v.w.dir / "Work/new.txt", "written while it was encrypted");
    auto st = vault::removeOriginal(*plan);
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("new.txt was added"), std::string::npos) << st.error().message;
    EXPECT_EQ(readFile(v.w.dir / "Work/new.txt"), "written while it was encrypted");
    EXPECT_EQ(readFile(v.w.dir / "Work/a.txt"), "a");
    expectNoLeftovers(v.w.dir.path());

    fs::remove(plan->archive);
    plan = vault::planArchive((v.w.dir / "Work").string(), v.storage.string());
    ASSERT_TRUE(vault::writeArchive(*plan, "pw"));
    writeFile(v.w.dir / "Work/a.txt", "b");
    fs::last_write_time(v.w.dir / "Work/a.txt",
                        fs::last_write_time(v.w.dir / "Work/a.txt") + std::chrono::seconds(5));
    st = vault::removeOriginal(*plan);
    ASSERT_FALSE(st);
    EXPECT_EQ(readFile(v.w.dir / "Work/a.txt"), "b");

    // Unchanged, it goes.
    fs::remove(plan->archive);
    plan = vault::planArchive((v.w.dir / "Work").string(), v.storage.string());
    ASSERT_TRUE(vault::writeArchive(*plan, "pw"));
    EXPECT_TRUE(vault::removeOriginal(*plan));
    EXPECT_FALSE(fs::exists(v.w.dir / "Work"));
    expectNoLeftovers(v.w.dir.path());
}

TEST(VaultSafety, AnOriginalThatCannotBeRemovedIsNotLeftEncryptedToo) {
    SKIP_AS_ROOT();
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    Mode notes(v.notes, kReadOnly);
    v.w.ui.alerts.clear();
    EXPECT_FALSE(v.app->EncryptFileFolderFunction((v.notes / "plan.txt").string()));
    ASSERT_EQ(v.w.ui.alerts.size(), 1u);
    EXPECT_EQ(v.w.ui.alerts[0].message, "The item was kept where it is");
    EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
    EXPECT_TRUE(v.storedRecords().empty());
    EXPECT_FALSE(fs::exists(v.storage / "plan.txt.enc"));
}

TEST(VaultSafety, UnwritableStorageEncryptsNothing) {
    SKIP_AS_ROOT();
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    writeFile(v.w.dir / "Work/a.txt", "a");
    const std::string work = v.encrypt(v.w.dir / "Work");
    fs::rename(v.storage, v.w.dir / "elsewhere");
    // The storage folder is gone and cannot be made again where it was.
    Mode safe(v.w.dir / "Safe", kReadOnly);
    writeFile(v.w.dir / "Work/a.txt", "a");
    v.w.ui.alerts.clear();
    EXPECT_FALSE(v.app->EncryptFileFolderFunction((v.notes / "plan.txt").string()));
    EXPECT_FALSE(v.app->EncryptFileFolderFunction((v.w.dir / "Work").string()));
    EXPECT_EQ(v.w.ui.alerts.size(), 2u);
    EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
    EXPECT_EQ(readFile(v.w.dir / "Work/a.txt"), "a");
    EXPECT_EQ(v.storedRecords(), Strings{work});
    // Nor can a folder copy be written; the item stays locked.
    v.unlockRow(work);
    EXPECT_TRUE(v.storedDecrypted().empty());
    EXPECT_FALSE(fs::exists(v.storage));
}

TEST(VaultSafety, LinksAreRefusedForEncryption) {
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    fs::create_symlink(v.notes / "plan.txt", v.notes / "link.txt");
    fs::create_hard_link(v.notes / "plan.txt", v.notes / "second name.txt");
    writeFile(v.w.dir / "Work/a.txt", "a");
    fs::create_hard_link(v.w.dir / "Work/a.txt", v.notes / "a outside.txt");

    for (const fs::path& item : {v.notes / "link.txt", v.notes / "plan.txt", v.w.dir / "Work"}) {
        SCOPED_TRACE(item);
        v.w.ui.alerts.clear();
        EXPECT_FALSE(v.app->EncryptFileFolderFunction(item.string()));
        ASSERT_EQ(v.w.ui.alerts.size(), 1u);
        EXPECT_NE(v.w.ui.alerts[0].informative.find(" link"), std::string::npos)
            << v.w.ui.alerts[0].informative;
    }
    // Through a linked folder: the original would go wherever the link leads at that moment.
    writeFile(v.w.dir / "Elsewhere/memo.txt", "memo");
    fs::create_directory_symlink(v.w.dir / "Elsewhere", v.w.dir / "Via link");
    v.w.ui.alerts.clear();
    EXPECT_FALSE(v.app->EncryptFileFolderFunction((v.w.dir / "Via link/memo.txt").string()));
    ASSERT_EQ(v.w.ui.alerts.size(), 1u);
    EXPECT_NE(v.w.ui.alerts[0].informative.find("Via link is a symbolic link"), std::string::npos)
        << v.w.ui.alerts[0].informative;
    EXPECT_EQ(readFile(v.w.dir / "Elsewhere/memo.txt"), "memo");
    EXPECT_TRUE(fs::is_symlink(v.notes / "link.txt"));
    EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
    EXPECT_EQ(readFile(v.w.dir / "Work/a.txt"), "a");
    EXPECT_TRUE(v.storedRecords().empty());
    EXPECT_TRUE(vault::archivesIn(v.storage).empty());

    // Hard links that stay inside the folder are whole in its archive.
    fs::remove(v.notes / "a outside.txt");
    fs::create_hard_link(v.w.dir / "Work/a.txt", v.w.dir / "Work/a again.txt");
    v.encrypt(v.w.dir / "Work");
    EXPECT_FALSE(fs::exists(v.w.dir / "Work"));
}

// ---- Removing from the list: the archive goes only when the plaintext is in place --------------

TEST(VaultSafety, RemovingAnUnlockedItemWhoseCopyIsGoneRestoresItFirst) {
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    v.unlockRow(plan);
    fs::remove(v.notes / "plan.txt");  // the user deleted the copy
    v.remove(plan);
    EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
    EXPECT_FALSE(fs::exists(v.storage / "plan.txt.enc"));
    EXPECT_TRUE(v.storedRecords().empty());
    // Its entry left the integrity record with it: nothing is reported missing.
    v.app->VerifyArchivesAction();
    EXPECT_EQ(v.w.ui.alerts.back().message, "Every archive is intact.");

    // Without the pass phrase nothing can be restored, so nothing is removed.
    writeFile(v.notes / "b.txt", "b");
    const std::string b = v.encrypt(v.notes / "b.txt");
    v.unlockRow(b);
    fs::remove(v.notes / "b.txt");
    v.start();
    v.remove(b);
    EXPECT_EQ(v.w.ui.alerts.back().message, "The item could not be restored");
    EXPECT_TRUE(fs::exists(v.storage / "b.txt.enc"));
    EXPECT_EQ(v.storedRecords(), Strings{b});

    // Its copy back in place, nothing needs restoring; but the archive's entry leaves the
    // integrity record only with the pass phrase, so it is asked for first.
    writeFile(v.notes / "b.txt", "b");
    v.w.ui.hideWindow("enterPDWindow");
    v.remove(b);
    EXPECT_TRUE(v.w.ui.isVisible("enterPDWindow"));
    EXPECT_TRUE(fs::exists(v.storage / "b.txt.enc"));
    EXPECT_EQ(v.storedRecords(), Strings{b});
}

TEST(VaultSafety, RemovingAnUnlockedFolderMovesItsCopyBackHome) {
    Vault v;
    writeFile(v.w.dir / "Work/a.txt", "a");
    const std::string work = v.encrypt(v.w.dir / "Work");
    v.unlockRow(work);
    ASSERT_TRUE(fs::exists(v.storage / "Work/a.txt"));
    v.remove(work);
    EXPECT_EQ(readFile(v.w.dir / "Work/a.txt"), "a");
    EXPECT_FALSE(fs::exists(v.storage / "Work"));
    EXPECT_FALSE(fs::exists(v.storage / "Work.tar.gz"));
    EXPECT_TRUE(v.storedRecords().empty());
    EXPECT_TRUE(v.storedDecrypted().empty());
}

TEST(VaultSafety, AChangedOrHalfRemovedCopyKeepsItsArchive) {
    Vault v;
    writeFile(v.w.dir / "Work/a.txt", "a");
    writeFile(v.w.dir / "Work/b.txt", "b");
    const std::string work = v.encrypt(v.w.dir / "Work");
    v.unlockRow(work);
    fs::remove(v.storage / "Work/b.txt");  // half of the copy is gone
    v.remove(work);
    EXPECT_EQ(v.w.ui.alerts.back().message, "The item could not be restored");
    EXPECT_TRUE(fs::exists(v.storage / "Work.tar.gz"));
    EXPECT_EQ(v.storedRecords(), Strings{work});
    EXPECT_FALSE(fs::exists(v.w.dir / "Work"));
}

// ---- Unpacking ----------------------------------------------------------------------------------

TEST(VaultSafety, UnpackingKeepsEveryMemberOfOurArchives) {
    test::TempDir dir;
    writeFile(dir / "Books/._ledger", "the ledger, not a resource fork");
    writeFile(dir / "Books/ledger", "x");
    writeFile(dir / "Books/._lonely", std::string("\x00\x05\x16\x07 looks like one", 20));
    fs::create_directories(dir / "out");
    ASSERT_TRUE(vault::packFolder(dir / "Books", dir / "Books.tar.gz", "pw"));
    auto placed = vault::unpackFolder(dir / "Books.tar.gz", dir / "out", "pw");
    ASSERT_TRUE(placed) << placed.error().message;
    EXPECT_EQ(readFile(dir / "out/Books/._ledger"), "the ledger, not a resource fork");
    EXPECT_TRUE(fs::exists(dir / "out/Books/._lonely"));

    // macOS tar (not GNU): only real AppleDouble members beside their file are skipped.
    const std::string appleDouble("\x00\x05\x16\x07\x00\x02\x00\x00", 8);
    writeFile(dir / "mac/Work/photo.jpg", "jpeg");
    writeFile(dir / "mac/Work/._photo.jpg", appleDouble + "fork");
    writeFile(dir / "mac/Work/._notes", appleDouble + "no sibling");
    writeFile(dir / "mac/Work/._plan", "a user's file");
    writeFile(dir / "mac/Work/plan", "p");
    ASSERT_EQ(test::runProgram({"tar", "--format=pax", "-czf", (dir / "mac.tgz").string(), "-C",
                                (dir / "mac").string(), "Work"}),
              0);
    fs::create_directories(dir / "out2");
    placed = vault::unpackFolder(sealTar(dir / "mac.tgz", dir / "mac.tar.gz"), dir / "out2", "pw");
    ASSERT_TRUE(placed) << placed.error().message;
    EXPECT_EQ(readFile(dir / "out2/Work/photo.jpg"), "jpeg");
    EXPECT_FALSE(fs::exists(dir / "out2/Work/._photo.jpg"));
    EXPECT_TRUE(fs::exists(dir / "out2/Work/._notes"));
    EXPECT_EQ(readFile(dir / "out2/Work/._plan"), "a user's file");
}

TEST(VaultSafety, UnpackingRefusesLinkChainsThatLeadOutside) {
    test::TempDir dir;
    fs::create_directories(dir / "src/Work/d");
    fs::create_symlink("..", dir / "src/Work/d/l1");
    fs::create_symlink("d/l1/../../..", dir / "src/Work/esc");
    ASSERT_EQ(
        test::runProgram({"tar", "-czf", (dir / "chain.tgz").string(), "-C", (dir / "src").string(), "Work"}),
        0);
    fs::create_directories(dir / "a/target");
    EXPECT_FALSE(
        vault::unpackFolder(sealTar(dir / "chain.tgz", dir / "chain.tar.gz"), dir / "a/target", "pw"));
    EXPECT_TRUE(fs::is_empty(dir / "a/target"));

    // Chains that stay inside are fine.
    fs::remove(dir / "src/Work/esc");
    fs::create_symlink("d/l1/d", dir / "src/Work/back");
    ASSERT_EQ(
        test::runProgram({"tar", "-czf", (dir / "fine.tgz").string(), "-C", (dir / "src").string(), "Work"}),
        0);
    auto placed = vault::unpackFolder(sealTar(dir / "fine.tgz", dir / "fine.tar.gz"), dir / "a/target", "pw");
    ASSERT_TRUE(placed) << placed.error().message;
    EXPECT_TRUE(fs::is_symlink(dir / "a/target/Work/back"));
}

// ---- Leftovers of killed runs -------------------------------------------------------------------

void backdate(const fs::path& p) {
    fs::last_write_time(p, fs::file_time_type::clock::now() - std::chrono::hours(1));
}

// The sweep takes only what the journal names of a run that died, and only while it is still the
// object that run made; the user's files and folders that merely look like ours stay, however old.
TEST(VaultSafety, TheSweepTakesOnlyWhatADeadRunWroteDown) {
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    // An item named like a temporary file, decrypted and edited.
    writeFile(v.notes / "chapter.part-annex1", "chapter one");
    const std::string chapter = v.encrypt(v.notes / "chapter.part-annex1");
    v.unlockRow(chapter);
    writeFile(v.notes / "chapter.part-annex1", "chapter one, edited");

    // The user's own, under names like ours, long untouched.
    const Strings users = {"thesis.part-second", "song.mp3.part-Q1w2E3", ".vaultry-removing-abc123/keep.txt",
                           ".vaultry-unpack-x1Y2z3/a.txt", ".vaultry-keep-Qw3rTy/Draft/d.txt"};
    for (const auto& name : users) writeFile(v.notes / name, "the user's " + name);
    writeFile(v.storage / ".plan.txt.enc.relock", "the user's");
    writeFile(v.storage / "Work.tar.gz.part-9aB8c7", "the user's");
    for (const auto& name : {"thesis.part-second", "song.mp3.part-Q1w2E3", ".vaultry-removing-abc123",
                             ".vaultry-unpack-x1Y2z3", ".vaultry-keep-Qw3rTy", "chapter.part-annex1"})
        backdate(v.notes / name);
    backdate(v.storage / ".plan.txt.enc.relock");

    // What a dead run wrote down: a temporary file, an unpack folder, an item set aside for
    // checking, and a copy set aside once it was certain to go.
    using vault::TempKind;
    test::leaveTemporary(v.storage, TempKind::File, v.notes / "plan.txt.part-Ab12Cd", "half the plaintext");
    test::leaveTemporary(v.storage, TempKind::Folder, v.notes / ".vaultry-unpack-Zz9Yy8");
    writeFile(v.notes / ".vaultry-unpack-Zz9Yy8/Work/a.txt", "plaintext");
    test::leaveTemporary(v.storage, TempKind::Aside, v.notes / ".vaultry-keep-Kk1Kk1");
    writeFile(v.notes / ".vaultry-keep-Kk1Kk1/Draft2/d.txt", "the user's draft");
    test::leaveTemporary(v.storage, TempKind::Aside, v.storage / ".vaultry-keep-Rr2Rr2");
    writeFile(v.storage / ".vaultry-keep-Rr2Rr2/Work/a.txt", "plaintext");
    fs::rename(v.storage / ".vaultry-keep-Rr2Rr2", v.storage / ".vaultry-removing-Rr2Rr2");
    // A dead run's file whose place the user's own file took since: not the object that was made.
    test::leaveTemporary(v.storage, TempKind::File, v.notes / "report.part-Cc3Cc3", "half");
    fs::remove(v.notes / "report.part-Cc3Cc3");
    writeFile(v.notes / "report.part-Cc3Cc3", "the user's report");
    // A run still at work (its entry held): its file stays.
    auto live = vault::Temporary::reserve(v.storage, TempKind::File, v.notes / "song.mp3.part-Ll4Ll4");
    ASSERT_TRUE(live);
    writeFile(v.notes / "song.mp3.part-Ll4Ll4", "in progress");
    ASSERT_TRUE(live->made(*vault::identityOf(v.notes / "song.mp3.part-Ll4Ll4")));
    backdate(v.notes / "song.mp3.part-Ll4Ll4");
    const fs::path integrity = v.storage / vault::ArchiveManifest::kFileName;
    const std::string manifest = readFile(integrity);

    v.start();
    for (const auto& name : users) EXPECT_EQ(readFile(v.notes / name), "the user's " + name) << name;
    EXPECT_FALSE(fs::exists(v.notes / "Draft"));  // the user's keep folder was not taken for ours
    EXPECT_EQ(readFile(v.storage / ".plan.txt.enc.relock"), "the user's");
    EXPECT_EQ(readFile(v.storage / "Work.tar.gz.part-9aB8c7"), "the user's");
    EXPECT_EQ(readFile(v.notes / "chapter.part-annex1"), "chapter one, edited");
    EXPECT_EQ(readFile(v.notes / "report.part-Cc3Cc3"), "the user's report");
    EXPECT_EQ(readFile(v.notes / "song.mp3.part-Ll4Ll4"), "in progress");

    EXPECT_FALSE(fs::exists(v.notes / "plan.txt.part-Ab12Cd"));
    EXPECT_FALSE(fs::exists(v.notes / ".vaultry-unpack-Zz9Yy8"));
    EXPECT_EQ(readFile(v.notes / "Draft2/d.txt"), "the user's draft");
    EXPECT_FALSE(fs::exists(v.notes / ".vaultry-keep-Kk1Kk1"));
    EXPECT_FALSE(fs::exists(v.storage / ".vaultry-removing-Rr2Rr2"));
    EXPECT_TRUE(fs::exists(v.storage / "plan.txt.enc"));
    EXPECT_EQ(readFile(integrity), manifest);

    // The command-line tool sweeps the same way; the held entry is free once its run ends.
    live = vault::Temporary();
    test::leaveTemporary(v.storage, TempKind::File, v.notes / "plan.txt.part-Zz11Yy", "half the plaintext");
    EXPECT_EQ(test::runCli(v.w.dir.path(), {"vault", "list"}).code, 0);
    EXPECT_FALSE(fs::exists(v.notes / "plan.txt.part-Zz11Yy"));
    for (const auto& name : users) EXPECT_TRUE(fs::exists(v.notes / name)) << name;
    EXPECT_EQ(readFile(v.notes / "chapter.part-annex1"), "chapter one, edited");
    EXPECT_EQ(v.storedDecrypted(), Strings{chapter});
    EXPECT_EQ(readFile(integrity), manifest);
    (void)plan;
}

// A file system without unnamed files: the temporary file has a name, and it is written down
// before it is made, so a kill mid-way leaves nothing unaccounted for.
TEST(VaultSafety, NamedTemporaryFilesAreWrittenDownBeforeTheyAreMade) {
    Vault v;
    vault::allowUnnamedFiles(false);
    struct Restore {
        ~Restore() { vault::allowUnnamedFiles(true); }
    } restore;
    writeFile(v.notes / "plan.txt", "the plan");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    v.unlockRow(plan);
    EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
    expectNoLeftovers(v.notes);
    expectNoLeftovers(v.storage);
    // Every entry went with its temporary.
    std::error_code ec;
    EXPECT_TRUE(fs::is_empty(v.storage / vault::kTemporariesFolder, ec));
}

// ---- Locking packs only the copy that was unpacked ---------------------------------------------

// A decrypted copy replaced by a link, or by another object, is never packed nor removed, by any
// way of locking (a row, auto-lock, `vault lock`, `vault lock --all`) nor by removal from the
// vault; the archive keeps what it held and the user's other file stays as it is.
TEST(VaultSafety, WhatNowStandsAtACopysPlaceIsNeverPackedNorRemoved) {
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    writeFile(v.notes / "Work/a.txt", "work");
    writeFile(v.notes / "taxes.txt", "the user's taxes");
    writeFile(v.notes / "Photos/p.txt", "the user's photos");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    const std::string work = v.encrypt(v.notes / "Work");
    v.unlockRow(plan);
    v.unlockRow(work);
    ASSERT_EQ(v.storedDecrypted().size(), 2u);
    fs::remove(v.notes / "plan.txt");
    fs::create_symlink(v.notes / "taxes.txt", v.notes / "plan.txt");
    fs::remove_all(v.storage / "Work");
    fs::create_symlink(v.notes / "Photos", v.storage / "Work");
    const auto unchanged = [&] {
        EXPECT_EQ(readFile(v.opened(plan) / "file"), "the plan");
        EXPECT_EQ(readFile(v.opened(work) / "Work/a.txt"), "work");
        EXPECT_EQ(readFile(v.notes / "taxes.txt"), "the user's taxes");
        EXPECT_EQ(readFile(v.notes / "Photos/p.txt"), "the user's photos");
        EXPECT_TRUE(fs::is_symlink(v.notes / "plan.txt"));
        EXPECT_TRUE(fs::is_symlink(v.storage / "Work"));
        EXPECT_EQ(v.storedDecrypted().size(), 2u);
    };

    EXPECT_FALSE(v.lockRow(plan));
    ASSERT_FALSE(v.w.ui.alerts.empty());
    EXPECT_NE(v.w.ui.alerts.back().informative.find((v.notes / "plan.txt").string() +
                                                    " is now a symbolic link to " +
                                                    (v.notes / "taxes.txt").string() + "; it was not locked"),
              std::string::npos)
        << v.w.ui.alerts.back().informative;
    EXPECT_FALSE(v.lockRow(work));
    unchanged();
    v.app->autoLockDecrypted(vault::LockTrigger::Idle);
    unchanged();
    auto r = v.cli({"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n");
    EXPECT_NE(r.code, 0);
    EXPECT_NE(r.err.find((v.storage / "Work").string() + " is now a symbolic link to " +
                         (v.notes / "Photos").string() + "; it was not locked"),
              std::string::npos)
        << r.err;
    r = v.cli({"vault", "lock", plan, "--yes", "--password-stdin"}, "pw\n");
    EXPECT_NE(r.code, 0);
    unchanged();
    v.remove(work);
    r = v.cli({"vault", "remove", plan, "--yes", "--password-stdin"}, "pw\n");
    EXPECT_NE(r.code, 0);
    v.start();
    unchanged();

    // Another file of the user linked into the copy's place (a second name of it).
    fs::remove(v.notes / "plan.txt");
    fs::create_hard_link(v.notes / "taxes.txt", v.notes / "plan.txt");
    EXPECT_FALSE(v.lockRow(plan));
    EXPECT_NE(v.w.ui.alerts.back().informative.find("now has other hard links"), std::string::npos)
        << v.w.ui.alerts.back().informative;
    r = v.cli({"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n");
    EXPECT_NE(r.code, 0);
    EXPECT_EQ(readFile(v.notes / "taxes.txt"), "the user's taxes");
    EXPECT_EQ(readFile(v.opened(plan) / "file"), "the plan");
    EXPECT_TRUE(std::find(v.storedDecrypted().begin(), v.storedDecrypted().end(), plan) !=
                v.storedDecrypted().end());

    // An editor's save (a new file renamed over the copy) is the user's edit: it is packed.
    fs::remove(v.notes / "plan.txt");
    writeFile(v.notes / ".plan.txt.swp", "the plan, edited");
    fs::rename(v.notes / ".plan.txt.swp", v.notes / "plan.txt");
    v.unlock();
    EXPECT_TRUE(v.lockRow(plan)) << v.w.ui.alerts.back().informative;
    EXPECT_FALSE(fs::exists(v.notes / "plan.txt"));
    EXPECT_EQ(readFile(v.opened(plan) / "file"), "the plan, edited");

    // Another folder moved into a folder copy's place is not the copy.
    fs::remove(v.storage / "Work");
    writeFile(v.w.dir / "Elsewhere/b.txt", "elsewhere");
    fs::rename(v.w.dir / "Elsewhere", v.storage / "Work");
    EXPECT_FALSE(v.lockRow(work));
    EXPECT_NE(v.w.ui.alerts.back().informative.find("another folder took its place"), std::string::npos)
        << v.w.ui.alerts.back().informative;
    EXPECT_EQ(readFile(v.storage / "Work/b.txt"), "elsewhere");
    EXPECT_EQ(readFile(v.opened(work) / "Work/a.txt"), "work");
}

// A copy whose decryption cannot be listed (the settings folder is read-only) is taken back: the
// vault never shows an item locked while its plaintext lies beside it.
TEST(VaultSafety, ACopyThatCannotBeListedIsTakenBack) {
    SKIP_AS_ROOT();
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    writeFile(v.notes / "Work/a.txt", "work");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    const std::string work = v.encrypt(v.notes / "Work");
    {
        Mode settings(v.w.paths.configHome(), kReadOnly);
        EXPECT_FALSE(v.app->DecryptFileFolderFunction(plan));
        EXPECT_FALSE(v.app->DecryptFileFolderFunction(work));
        EXPECT_FALSE(fs::exists(v.notes / "plan.txt"));
        EXPECT_FALSE(fs::exists(v.storage / "Work"));
        EXPECT_NE(v.w.ui.alerts.back().informative.find("The decrypted copy was removed again"),
                  std::string::npos)
            << v.w.ui.alerts.back().informative;
        auto r = v.cli({"vault", "decrypt", "--password-stdin", plan, work}, "pw\n");
        EXPECT_NE(r.code, 0);
        EXPECT_FALSE(fs::exists(v.notes / "plan.txt"));
        EXPECT_FALSE(fs::exists(v.storage / "Work"));
    }
    EXPECT_TRUE(v.storedDecrypted().empty());
    v.start();
    EXPECT_TRUE(v.storedDecrypted().empty());
    expectNoLeftovers(v.notes);
    expectNoLeftovers(v.storage);
    // Writable again, it decrypts and locks as ever.
    v.unlock();
    v.unlockRow(plan);
    EXPECT_EQ(readFile(v.notes / "plan.txt"), "the plan");
    v.unlock();
    EXPECT_TRUE(v.lockRow(plan)) << v.w.ui.alerts.back().informative;
    EXPECT_FALSE(fs::exists(v.notes / "plan.txt"));
}

// The GUI's start settles a decryption killed before its copy was listed, as the CLI does: the
// copy is listed as unlocked, changed since or not, and locking saves a change into the archive.
TEST(VaultSafety, TheStartListsACopyAKilledDecryptionLeft) {
    Vault v;
    writeFile(v.notes / "plan.txt", "the plan");
    writeFile(v.notes / "Work/a.txt", "work");
    const std::string plan = v.encrypt(v.notes / "plan.txt");
    const std::string work = v.encrypt(v.notes / "Work");
    const auto killDecrypting = [&](const std::string& record) {
        const auto killed = test::runCliKilledAt(
            v.w.dir.path(), {"vault", "decrypt", "--password-stdin", record}, "pw\n", "decrypt-list");
        EXPECT_TRUE(killed.paused) << killed.run.err;
    };
    killDecrypting(work);
    writeFile(v.storage / "Work/a.txt", "changed after the crash");
    // The next command, this one cut short too, lists the changed copy.
    killDecrypting(plan);
    v.w.settings.reload();  // as a new process reads it
    EXPECT_EQ(v.storedDecrypted(), Strings{work});
    const std::size_t alerts = v.w.ui.alerts.size();

    v.start();
    EXPECT_EQ(v.storedDecrypted(), (Strings{work, plan}));
    EXPECT_EQ(v.w.ui.alerts.size(), alerts);
    v.unlock();
    EXPECT_TRUE(v.lockRow(plan)) << v.w.ui.alerts.back().informative;
    EXPECT_FALSE(fs::exists(v.notes / "plan.txt"));
    v.unlock();
    EXPECT_TRUE(v.lockRow(work)) << v.w.ui.alerts.back().informative;
    EXPECT_FALSE(fs::exists(v.storage / "Work"));
    EXPECT_EQ(readFile(v.opened(work) / "Work/a.txt"), "changed after the crash");
}

}  // namespace
}  // namespace vaultry
