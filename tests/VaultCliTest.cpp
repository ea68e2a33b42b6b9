#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <random>
#include <thread>

#include "settings/SettingsStore.h"
#include "vault/Archive.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/VaultItems.h"
#include "vault/VaultList.h"

#include "support/CliRun.h"
#include "support/FakePorts.h"

extern char** environ;

namespace vaultry {
namespace {

namespace fs = std::filesystem;

using Cli = test::CliHome;

TEST(VaultCli, PasswordStorageEncryptDecryptAndList) {
    Cli c;
    const fs::path docs = c.home / "docs";
    test::writeFile(docs / "it's \"$x\".txt", "secret text");
    test::writeFile(docs / "Work/x", "w");
    fs::create_directories(c.home / "safe");
    EXPECT_EQ(c.run({"vault", "storage", "set", (c.home / "my safe").string()}).code, 1);
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    EXPECT_EQ(c.run({"vault", "password", "set", "--password-stdin"}, "pw\n").code, 2);
    // The settings never hold the password itself.
    EXPECT_EQ(test::readFile(c.home / ".config/com.Quenmark.vaultry.plist").find(">pw<"), std::string::npos);

    const std::string file = (docs / "it's \"$x\".txt").string(), folder = (docs / "Work").string();
    auto r = c.run({"vault", "encrypt", "--yes", "--password-stdin", file, folder}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(file));
    EXPECT_FALSE(fs::exists(folder));
    EXPECT_EQ(c.run({"vault", "list"}).out,
              "file\tlocked\t" + file + ".enc\nfolder\tlocked\t" + folder + ".tar.gz\n");

    r = c.run({"vault", "decrypt", "--password-stdin", file + ".enc"}, "wrong\n");
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.err, "vaultry-cli: wrong password\n");
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--change", "--password-stdin"}, "pw\nnew\n").code,
              0);
    r = c.run({"vault", "decrypt", "--password-stdin", file + ".enc", folder + ".tar.gz"}, "new\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readFile(file), "secret text");
    EXPECT_EQ(test::readFile(c.home / "safe/vaultry.data/Work/x"), "w");
    EXPECT_NE(c.run({"vault", "list", "--json"}).out.find("\"unlocked\""), std::string::npos);

    test::writeFile(docs / "h.txt", "");
    EXPECT_EQ(c.run({"vault", "hide", (docs / "h.txt").string()}).code, 0);
    EXPECT_EQ(test::readFile(docs / ".hidden"), "h.txt\n");
    EXPECT_EQ(c.run({"vault", "unhide", (docs / "h.txt").string()}).code, 0);
    EXPECT_FALSE(fs::exists(docs / ".hidden"));
    // Without a terminal a confirmation must come from --yes.
    EXPECT_EQ(c.run({"vault", "encrypt", "--password-stdin", (docs / "h.txt").string()}, "new\n").code, 2);
    r = c.run({"vault", "encrypt", "--yes", "--password-stdin", (c.home / "safe").string()}, "new\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("storage folder"), std::string::npos);

    // Encrypting deletes the original: a path through a link ("link/..", "link/file") is refused
    // with its reason, and nothing is packed or deleted.
    test::writeFile(c.home / "elsewhere/inner/kept.txt", "kept");
    fs::create_directory_symlink(c.home / "elsewhere/inner", docs / "link");
    for (const fs::path& through : {docs / "link/..", docs / "link/kept.txt"}) {
        r = c.run({"vault", "encrypt", "--yes", "--password-stdin", through.string()}, "new\n");
        EXPECT_EQ(r.code, 1);
        EXPECT_NE(
            r.err.find(through.string() + ": refused: " + (docs / "link").string() + " is a symbolic link"),
            std::string::npos)
            << r.err;
    }
    EXPECT_EQ(test::readFile(c.home / "elsewhere/inner/kept.txt"), "kept");
    EXPECT_TRUE(fs::exists(docs / "h.txt"));
    EXPECT_EQ(c.run({"vault", "list"}).out.find("elsewhere"), std::string::npos);
}

}  // namespace
}  // namespace vaultry

namespace vaultry {
namespace {

// Starts vaultry-cli and kills it after `delay`; the exit does not matter.
void runAndKill(Cli& c, std::vector<std::string> args, const std::string& input,
                std::chrono::microseconds delay) {
    test::runCliAndSignal(c.home.path(), std::move(args), input, delay, SIGKILL);
}

std::vector<std::string> storedRecords(Cli& c) {
    SettingsStore s(c.home / ".config/com.Quenmark.vaultry.plist");
    return s.stringArray("VaultryDataArray").value_or(std::vector<std::string>{});
}

// Killed at many moments, an item is always either in its place or complete in its archive and
// recorded, and every archive opens with the password the settings hold.
// Settings that cannot be written: each command fails with its own last word, nothing is logged
// under "settings:" besides, and nothing changes (the password stays, the item stays and no
// archive is left).
TEST(VaultCli, UnwritableSettingsFailTheCommandAndChangeNothing) {
    Cli c;
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "correct horse 42\n").code, 0);
    test::writeFile(c.home / "x.txt", "x");
    fs::permissions(c.home / ".config", fs::perms::owner_read | fs::perms::owner_exec);
    const auto failed = [](const test::CliRun& r, const std::string& last) {
        EXPECT_EQ(r.code, 1) << r.err;
        EXPECT_EQ(r.err.find("vaultry: settings:"), std::string::npos) << r.err;
        EXPECT_NE(r.err.rfind("\nvaultry-cli: " + last), std::string::npos) << r.err;
    };
    failed(c.run({"vault", "password", "set", "--yes", "--change", "--password-stdin"},
                 "correct horse 42\nbattery staple 7\n"),
           "the password could not be changed: ");
    failed(c.run({"vault", "encrypt", "--yes", "--password-stdin", (c.home / "x.txt").string()},
                 "correct horse 42\n"),
           "cannot write ");
    fs::permissions(c.home / ".config", fs::perms::owner_all);
    EXPECT_EQ(test::readFile(c.home / "x.txt"), "x");
    EXPECT_TRUE(vault::archivesIn(c.home / "safe/vaultry.data").empty());
    EXPECT_EQ(c.run({"vault", "verify", "--password-stdin"}, "correct horse 42\n").code, 0);
}

TEST(VaultCli, VerifyReportsEveryChangedArchiveAndAnEmptyPasswordIsRefused) {
    Cli c;
    const fs::path docs = c.home / "docs";
    test::writeFile(docs / "a.txt", "alpha");
    test::writeFile(docs / "b.txt", "beta");
    test::writeFile(docs / "Work/x", std::string(100000, 'w'));
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    auto r = c.run({"vault", "password", "set", "--password-stdin"}, "\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "vaultry-cli: an empty password is refused\n");
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    EXPECT_EQ(c.run({"vault", "password", "set", "--change", "--password-stdin"}, "pw\n\n").code, 1);
    const std::string a = (docs / "a.txt").string(), b = (docs / "b.txt").string(),
                      w = (docs / "Work").string();
    ASSERT_EQ(c.run({"vault", "encrypt", "--yes", "--password-stdin", a, b, w}, "pw\n").code, 0);

    r = c.run({"vault", "verify", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = c.run({"vault", "verify", "--password-stdin"}, "not pw\n");
    EXPECT_EQ(r.code, 4);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(c.run({"vault", "verify", "--password-stdin"}).code, 2);  // nothing to read it from
    const fs::path storage = c.home / "safe/vaultry.data";
    for (const char* name : {"b.txt.enc", "Work.tar.gz"}) {
        std::string bytes = test::readFile(storage / name);
        bytes[bytes.size() / 2] ^= 0x20;
        test::writeFile(storage / name, bytes);
    }
    r = c.run({"vault", "verify", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.out, std::string("Work.tar.gz: ") + vault::kChangedOrDamaged +
                         "\nb.txt.enc: " + vault::kChangedOrDamaged + "\n");
    r = c.run({"vault", "verify", "--password-stdin", a + ".enc"}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    r = c.run({"vault", "verify", "--password-stdin", b + ".enc"}, "pw\n");
    EXPECT_EQ(r.code, 1);
    r = c.run({"vault", "decrypt", "--password-stdin", b + ".enc"}, "pw\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find(vault::kChangedOrDamaged), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(b));
}

TEST(VaultCli, KilledAtAnyMomentNothingIsLost) {
    Cli c;
    const fs::path storage = c.home / "safe/vaultry.data";
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    std::mt19937 gen(4);
    std::uniform_int_distribution<int> delay(0, 400000);
    const std::string big(3 << 20, 'z');

    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const fs::path file = c.home / ("docs/f" + std::to_string(round) + ".txt");
        const fs::path folder = c.home / ("docs/D" + std::to_string(round));
        test::writeFile(file, big + std::to_string(round));
        test::writeFile(folder / "inner.txt", big);
        runAndKill(c, {"vault", "encrypt", "--yes", "--password-stdin", file.string(), folder.string()},
                   "pw\n", std::chrono::microseconds(delay(gen)));
        const auto records = storedRecords(c);
        const auto recorded = [&](const std::string& r) {
            return std::find(records.begin(), records.end(), r) != records.end();
        };
        if (recorded(file.string() + ".enc")) {
            std::error_code ec;
            fs::remove(c.home / "check", ec);
            ASSERT_TRUE(vault::decryptFile(storage / file.filename().concat(".enc"), c.home / "check", "pw",
                                           {vault::kNewDerivation, {}, {}}));
            EXPECT_EQ(test::readFile(c.home / "check"), big + std::to_string(round));
        } else {
            EXPECT_EQ(test::readFile(file), big + std::to_string(round));
        }
        if (recorded(folder.string() + ".tar.gz")) {
            EXPECT_TRUE(vault::verifyArchive(storage / (folder.filename().string() + ".tar.gz"),
                                             vault::ArchiveKind::Folder, "pw"));
        } else {
            EXPECT_EQ(test::readFile(folder / "inner.txt"), big);
        }
    }

    // Decryptions killed mid-way: a plaintext copy is either complete or not there.
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const fs::path file = c.home / ("docs/f" + std::to_string(round) + ".txt");
        const fs::path copy = storage / ("D" + std::to_string(round));
        const auto records = storedRecords(c);
        const auto recorded = [&](const std::string& r) {
            return std::find(records.begin(), records.end(), r) != records.end();
        };
        std::vector<std::string> ours;
        if (recorded(file.string() + ".enc") && !fs::exists(file)) ours.push_back(file.string() + ".enc");
        const std::string folderRecord = (c.home / ("docs/D" + std::to_string(round))).string() + ".tar.gz";
        if (recorded(folderRecord)) ours.push_back(folderRecord);
        if (ours.empty()) continue;
        std::vector<std::string> args{"vault", "decrypt", "--password-stdin"};
        args.insert(args.end(), ours.begin(), ours.end());
        runAndKill(c, args, "pw\n", std::chrono::microseconds(delay(gen)));
        if (fs::exists(file)) {
            EXPECT_EQ(test::readFile(file), big + std::to_string(round));
        }
        if (fs::exists(copy)) {
            EXPECT_EQ(test::readFile(copy / "inner.txt"), big);
            fs::remove_all(copy);
        }
        std::error_code ec;
        fs::remove(file, ec);
    }

    // Password changes killed mid-way: settled by the next command.
    std::string current = "pw";
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        const std::string next = "pw" + std::to_string(round);
        runAndKill(c, {"vault", "password", "set", "--yes", "--change", "--password-stdin"},
                   current + "\n" + next + "\n", std::chrono::microseconds(delay(gen) * 3));
        ASSERT_EQ(c.run({"vault", "list"}).code, 0);
        SettingsStore s(c.home / ".config/com.Quenmark.vaultry.plist");
        const std::string verifier = s.string("VaultryPassword").value_or("");
        if (password::matches(verifier, next))
            current = next;
        else
            ASSERT_TRUE(password::matches(verifier, current));
        EXPECT_FALSE(fs::exists(storage / vault::kRekeyJournal));
        for (const auto& archive : vault::archivesIn(storage))
            EXPECT_TRUE(vault::verifyArchive(archive, vault::archiveKindOf(archive), current,
                                             {vault::kNewDerivation, {}, {}}))
                << archive;
        // The manifest's identity in the settings followed the change, finished or undone.
        const auto r = c.run({"vault", "verify", "--password-stdin"}, current + "\n");
        EXPECT_EQ(r.code, 0) << r.out << r.err;
    }
}

}  // namespace
}  // namespace vaultry

namespace vaultry {
namespace {

// Killed at many moments while locking and removing, every item stays whole somewhere: an edited
// copy either in its place or saved in its archive, and a removed item's plaintext in its place
// before its archive is gone.
// A lock killed after a copy went and before the list was saved left the item listed as unlocked
// with no copy anywhere. Its note in the journal lets the next start finish it: the record leaves
// the list when its copy is gone, and stays when the copy was put back. The notes are let go here as
// a dead run's are.
TEST(VaultCli, ALockKilledBeforeItsListWasSavedIsFinishedByTheNextStart) {
    Cli c;
    const fs::path storage = c.home / "safe/vaultry.data";
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    const fs::path gone = c.home / "docs/.profile", kept = c.home / "docs/kept.txt";
    test::writeFile(gone, "gone");
    test::writeFile(kept, "kept");
    const std::string goneRecord = gone.string() + ".enc", keptRecord = kept.string() + ".enc";
    ASSERT_EQ(
        c.run({"vault", "encrypt", "--yes", "--password-stdin", gone.string(), kept.string()}, "pw\n").code,
        0);
    ASSERT_EQ(c.run({"vault", "decrypt", "--password-stdin", goneRecord, keptRecord}, "pw\n").code, 0);

    vault::CopyManifest manifest = vault::CopyManifest::load(storage);
    vault::Temporary removed;
    ASSERT_TRUE(vault::lockCopy(storage.string(), goneRecord, "pw", manifest, removed));
    removed.keepForSweep();
    ASSERT_FALSE(fs::exists(gone));
    auto cutShort = vault::Temporary::reserve(storage, vault::TempKind::Locking, kept, keptRecord);
    ASSERT_TRUE(cutShort);
    cutShort->keepForSweep();

    EXPECT_EQ(c.run({"vault", "list"}).out,
              "file\tlocked\t" + goneRecord + "\nfile\tunlocked\t" + keptRecord + "\n");
    EXPECT_FALSE(vault::CopyManifest::load(storage).find(goneRecord));
    EXPECT_EQ(test::readFile(kept), "kept");
    auto r = c.run({"vault", "decrypt", "--password-stdin", goneRecord}, "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readFile(gone), "gone");
    r = c.run({"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(gone) || fs::exists(kept));
}

// A removal of an unlocked folder killed after it moved the folder's copy home and before the
// lists were saved left the record listed as unlocked, its copy gone from the storage folder and
// its plaintext beside the record. The next start puts the copy back where the record expects it.
TEST(VaultCli, ARemovalKilledBeforeItsListsWereSavedIsUndoneByTheNextStart) {
    Cli c;
    const fs::path storage = c.home / "safe/vaultry.data";
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    const fs::path folder = c.home / "docs/Plans";
    test::writeFile(folder / "a.txt", "a");
    const std::string record = folder.string() + ".tar.gz";
    ASSERT_EQ(c.run({"vault", "encrypt", "--yes", "--password-stdin", folder.string()}, "pw\n").code, 0);
    ASSERT_EQ(c.run({"vault", "decrypt", "--password-stdin", record}, "pw\n").code, 0);
    ASSERT_TRUE(fs::exists(storage / "Plans/a.txt"));

    // Killed right after the move: the child ends without settling anything.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const auto moved = vault::plaintextBeforeRemoval(storage.string(), record, true, "pw",
                                                         vault::CopyManifest::load(storage));
        ::_exit(moved && *moved ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    ASSERT_EQ(WEXITSTATUS(status), 0);
    ASSERT_TRUE(fs::exists(folder / "a.txt"));

    EXPECT_EQ(c.run({"vault", "list"}).out, "folder\tunlocked\t" + record + "\n");
    EXPECT_EQ(test::readFile(storage / "Plans/a.txt"), "a");
    EXPECT_FALSE(fs::exists(folder));
    auto r = c.run({"vault", "remove", "--yes", "--password-stdin", record}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readFile(folder / "a.txt"), "a");
    EXPECT_EQ(c.run({"vault", "list"}).out, "");
}

TEST(VaultCli, KilledWhileLockingOrRemovingNothingIsLost) {
    Cli c;
    const fs::path storage = c.home / "safe/vaultry.data";
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    std::mt19937 gen(7);
    std::uniform_int_distribution<int> delay(0, 300000);
    const std::string big(2 << 20, 'q');
    const auto archiveText = [&](const fs::path& archive) {
        std::error_code ec;
        fs::remove(c.home / "check", ec);
        if (!vault::decryptFile(archive, c.home / "check", "pw", {vault::kNewDerivation, {}, {}}))
            return std::string("(does not open)");
        return test::readFile(c.home / "check");
    };

    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const std::string n = std::to_string(round);
        const fs::path file = c.home / ("docs/f" + n + ".txt"), folder = c.home / ("docs/D" + n);
        const std::string fileRecord = file.string() + ".enc", folderRecord = folder.string() + ".tar.gz";
        test::writeFile(file, big + n);
        test::writeFile(folder / "inner.txt", big);
        test::writeFile(folder / "sub/more.txt", n);
        ASSERT_EQ(
            c.run({"vault", "encrypt", "--yes", "--password-stdin", file.string(), folder.string()}, "pw\n")
                .code,
            0);
        ASSERT_EQ(c.run({"vault", "decrypt", "--password-stdin", fileRecord, folderRecord}, "pw\n").code, 0);
        const std::string edited = big + "edited " + n;
        test::writeFile(file, edited);  // locking must save it into the archive first

        runAndKill(c, {"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n",
                   std::chrono::microseconds(delay(gen)));
        if (fs::exists(file)) {
            EXPECT_EQ(test::readFile(file), edited);
        } else {
            EXPECT_EQ(archiveText(storage / file.filename().concat(".enc")), edited);
        }
        if (fs::exists(storage / ("D" + n))) {
            EXPECT_EQ(test::readFile(storage / ("D" + n) / "inner.txt"), big);
        }
        EXPECT_TRUE(vault::verifyArchive(storage / ("D" + n + ".tar.gz"), vault::ArchiveKind::Folder, "pw"));
        // The next run finishes the job.
        auto r = c.run({"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n");
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(archiveText(storage / file.filename().concat(".enc")), edited);

        runAndKill(c, {"vault", "remove", "--yes", "--password-stdin", fileRecord, folderRecord}, "pw\n",
                   std::chrono::microseconds(delay(gen)));
        const auto records = storedRecords(c);
        const auto recorded = [&](const std::string& rec) {
            return std::find(records.begin(), records.end(), rec) != records.end();
        };
        if (!recorded(fileRecord) || !fs::exists(storage / file.filename().concat(".enc")) ||
            fs::exists(file)) {
            EXPECT_EQ(test::readFile(file), edited);
        } else {
            EXPECT_EQ(archiveText(storage / file.filename().concat(".enc")), edited);
        }
        if (!recorded(folderRecord) || !fs::exists(storage / ("D" + n + ".tar.gz"))) {
            EXPECT_EQ(test::readFile(folder / "inner.txt"), big);
            EXPECT_EQ(test::readFile(folder / "sub/more.txt"), n);
        } else {
            EXPECT_TRUE(
                vault::verifyArchive(storage / ("D" + n + ".tar.gz"), vault::ArchiveKind::Folder, "pw"));
        }
    }
}

}  // namespace
}  // namespace vaultry

namespace vaultry {
namespace {

// A home with a storage folder and the password "pw", and the items given encrypted.
struct KilledRuns {
    Cli c;
    fs::path docs = c.home / "docs";
    fs::path storage = c.home / "safe/vaultry.data";
    KilledRuns() {
        fs::create_directories(c.home / "safe");
        EXPECT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
        EXPECT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    }
    test::PausedRun killedAt(std::vector<std::string> args, const std::string& point) {
        return test::runCliKilledAt(c.home.path(), std::move(args), "pw\n", point);
    }
};

// An encryption killed while its archive was being checked: the archive, never recorded, is
// removed by the next command, and encrypting the item works again.
TEST(VaultCli, AnEncryptionKilledWhileCheckingLeavesNoArchiveBehind) {
    KilledRuns k;
    test::writeFile(k.docs / "plan.txt", "the plan");
    test::writeFile(k.docs / "Work/x", "w");
    for (const auto& [item, archive] : {std::pair{k.docs / "plan.txt", k.storage / "plan.txt.enc"},
                                        std::pair{k.docs / "Work", k.storage / "Work.tar.gz"}}) {
        SCOPED_TRACE(item);
        const auto killed =
            k.killedAt({"vault", "encrypt", "--yes", "--password-stdin", item.string()}, "encrypt-check");
        ASSERT_TRUE(killed.paused) << killed.run.err;
        EXPECT_TRUE(fs::exists(archive));  // written, not yet checked nor recorded
        EXPECT_TRUE(fs::exists(item));
        EXPECT_EQ(k.c.run({"vault", "list"}).out.find(item.string()), std::string::npos);
        const auto again = k.c.run({"vault", "encrypt", "--yes", "--password-stdin", item.string()}, "pw\n");
        EXPECT_EQ(again.code, 0) << again.err;
        EXPECT_FALSE(fs::exists(item));
        EXPECT_TRUE(vault::verifyArchive(archive, vault::archiveKindOf(archive), "pw",
                                         {vault::kNewDerivation, {}, {}}));
        const auto list = k.c.run({"vault", "list"}).out;
        EXPECT_NE(list.find("locked\t" + item.string()), std::string::npos) << list;
        EXPECT_EQ(k.c.run({"vault", "list"}).out, list);
    }
}

// An encryption killed after its archive was checked: before its record was saved, the next
// command deletes the archive and the integrity record forgets it; after, it removes the original
// when it is what was packed, and takes the item out of the vault when it changed since.
TEST(VaultCli, AnEncryptionKilledAroundItsRecordIsFinishedOrUndone) {
    KilledRuns k;
    test::writeFile(k.docs / "plan.txt", "the plan");
    test::writeFile(k.docs / "Work/x", "w");
    const std::string file = (k.docs / "plan.txt").string(), folder = (k.docs / "Work").string();
    const auto verify = [&] {
        const auto r = k.c.run({"vault", "verify", "--password-stdin"}, "pw\n");
        EXPECT_EQ(r.code, 0) << r.out << r.err;
    };

    auto killed = k.killedAt({"vault", "encrypt", "--yes", "--password-stdin", file}, "encrypt-record");
    ASSERT_TRUE(killed.paused) << killed.run.err;
    EXPECT_EQ(k.c.run({"vault", "list"}).out, "");
    EXPECT_FALSE(fs::exists(k.storage / "plan.txt.enc"));
    EXPECT_EQ(test::readFile(file), "the plan");
    verify();

    killed = k.killedAt({"vault", "encrypt", "--yes", "--password-stdin", file}, "encrypt-recorded");
    ASSERT_TRUE(killed.paused) << killed.run.err;
    EXPECT_TRUE(fs::exists(file));
    EXPECT_EQ(k.c.run({"vault", "list"}).out, "file\tlocked\t" + file + ".enc\n");
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(vault::verifyArchive(k.storage / "plan.txt.enc", vault::ArchiveKind::File, "pw",
                                     {vault::kNewDerivation, {}, {}}));
    verify();

    killed = k.killedAt({"vault", "encrypt", "--yes", "--password-stdin", folder}, "encrypt-recorded");
    ASSERT_TRUE(killed.paused) << killed.run.err;
    test::writeFile(k.docs / "Work/x", "changed after the crash");
    const auto list = k.c.run({"vault", "list"});
    EXPECT_EQ(list.out, "file\tlocked\t" + file + ".enc\n");
    EXPECT_NE(list.err.find(folder + " changed after it was encrypted"), std::string::npos) << list.err;
    EXPECT_EQ(test::readFile(k.docs / "Work/x"), "changed after the crash");
    EXPECT_FALSE(fs::exists(k.storage / "Work.tar.gz"));
    verify();
}

// A process that read the settings before the vault moved takes the folder left behind for the
// vault's: it is refused there, and nothing it would write lands where the vault never looks.
TEST(VaultCli, TheFolderLeftBehindByAMoveRefusesWhoeverStillTakesItForTheVault) {
    KilledRuns k;
    test::writeFile(k.docs / "plan.txt", "the plan");
    const fs::path settings = k.c.home / ".config/com.Quenmark.vaultry.plist";
    const std::string before = test::readFile(settings);
    fs::create_directories(k.c.home / "new");
    ASSERT_EQ(k.c.run({"vault", "storage", "set", (k.c.home / "new").string()}).code, 0);
    const std::string after = test::readFile(settings);
    test::writeFile(settings, before);  // as a process that read them before the move sees them
    const std::string item = (k.docs / "plan.txt").string();
    const auto stale = k.c.run({"vault", "encrypt", "--yes", "--password-stdin", item}, "pw\n");
    EXPECT_NE(stale.code, 0);
    EXPECT_NE(stale.err.find("the vault was moved to " + (k.c.home / "new/vaultry.data").string()),
              std::string::npos)
        << stale.err;
    EXPECT_EQ(test::readFile(item), "the plan");
    EXPECT_FALSE(fs::exists(k.storage / "plan.txt.enc"));
    test::writeFile(settings, after);
    const auto done = k.c.run({"vault", "encrypt", "--yes", "--password-stdin", item}, "pw\n");
    EXPECT_EQ(done.code, 0) << done.err;
    EXPECT_TRUE(fs::exists(k.c.home / "new/vaultry.data/plan.txt.enc"));
    EXPECT_EQ(k.c.run({"vault", "verify", "--password-stdin"}, "pw\n").code, 0);
}

// A tidy leaves on the desktop what the vault works with there: the decrypted copy of an unlocked
// file (moved away, locking would take it for deleted and leave it behind in plain) and a hidden
// item.
TEST(VaultCli, ATidyLeavesTheVaultsItemsOnTheDesktop) {
    KilledRuns k;
    const fs::path desktop = k.c.home / "Desktop";
    test::writeFile(desktop / "secret.txt", "secret");
    test::writeFile(desktop / "shy.txt", "shy");
    test::writeFile(desktop / "other.txt", "other");
    const std::string file = (desktop / "secret.txt").string();
    ASSERT_EQ(k.c.run({"vault", "encrypt", "--yes", "--password-stdin", file}, "pw\n").code, 0);
    ASSERT_EQ(k.c.run({"vault", "decrypt", "--password-stdin", file + ".enc"}, "pw\n").code, 0);
    test::writeFile(desktop / "secret.txt", "secret, edited");
    ASSERT_EQ(k.c.run({"vault", "hide", (desktop / "shy.txt").string()}).code, 0);
    test::chooseTidyLocation(k.c.home.path(), k.c.home / "tidied");
    const auto tidied = k.c.run({"tidy", "run", "--yes"});
    EXPECT_EQ(tidied.code, 0) << tidied.err;
    EXPECT_FALSE(fs::exists(desktop / "other.txt"));
    EXPECT_EQ(test::readFile(desktop / "shy.txt"), "shy");
    const auto locked = k.c.run({"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n");
    EXPECT_EQ(locked.code, 0) << locked.err;
    EXPECT_FALSE(fs::exists(desktop / "secret.txt"));
    ASSERT_TRUE(vault::decryptFile(k.storage / "secret.txt.enc", k.c.home / "opened", "pw",
                                   {vault::kNewDerivation, {}, {}}));
    EXPECT_EQ(test::readFile(k.c.home / "opened"), "secret, edited");
}

// A decryption killed after its copy entered its place and before it was listed: the next
// command lists the copy as unlocked, whether it is still what was unpacked, was changed since, or
// was cut short before its digest was taken, and locking saves any change into the archive.
TEST(VaultCli, ADecryptionKilledBeforeItWasListedIsListedAsUnlocked) {
    KilledRuns k;
    test::writeFile(k.docs / "plan.txt", "the plan");
    test::writeFile(k.docs / "Work/x", "w");
    const std::string file = (k.docs / "plan.txt").string(), folder = (k.docs / "Work").string();
    ASSERT_EQ(k.c.run({"vault", "encrypt", "--yes", "--password-stdin", file, folder}, "pw\n").code, 0);
    const auto lockAll = [&] {
        const auto locked = k.c.run({"vault", "lock", "--all", "--yes", "--password-stdin"}, "pw\n");
        EXPECT_EQ(locked.code, 0) << locked.err;
        EXPECT_FALSE(fs::exists(file) || fs::exists(k.storage / "Work"));
    };

    auto killed = k.killedAt({"vault", "decrypt", "--password-stdin", file + ".enc"}, "decrypt-list");
    ASSERT_TRUE(killed.paused) << killed.run.err;
    EXPECT_EQ(test::readFile(file), "the plan");
    auto list = k.c.run({"vault", "list"});
    EXPECT_NE(list.out.find("file\tunlocked\t" + file + ".enc"), std::string::npos) << list.out << list.err;
    // Unchanged, it goes without the pass phrase.
    auto locked = k.c.run({"vault", "lock", "--all", "--yes"});
    EXPECT_EQ(locked.code, 0) << locked.err;
    EXPECT_FALSE(fs::exists(file));

    killed = k.killedAt({"vault", "decrypt", "--password-stdin", folder + ".tar.gz"}, "decrypt-list");
    ASSERT_TRUE(killed.paused) << killed.run.err;
    test::writeFile(k.storage / "Work/x", "changed after the crash");
    list = k.c.run({"vault", "list"});
    EXPECT_EQ(list.out, "file\tlocked\t" + file + ".enc\nfolder\tunlocked\t" + folder + ".tar.gz\n");
    EXPECT_NE(list.err.find("listed " + (k.storage / "Work").string() + " as unlocked"), std::string::npos)
        << list.err;
    lockAll();
    ASSERT_EQ(k.c.run({"vault", "decrypt", "--password-stdin", folder + ".tar.gz"}, "pw\n").code, 0);
    EXPECT_EQ(test::readFile(k.storage / "Work/x"), "changed after the crash");
    lockAll();

    // Killed the moment the copy was in place, before its digest was noted.
    for (const auto& [record, copy] :
         {std::pair{file + ".enc", fs::path(file)}, std::pair{folder + ".tar.gz", k.storage / "Work"}}) {
        SCOPED_TRACE(record);
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            auto intent = vault::Temporary::reserve(k.storage, vault::TempKind::Copy, copy, record);
            const bool folderRecord = copy.parent_path() == k.storage;
            const bool placed =
                intent && vault::openArchiveInto(k.storage, vault::archivePath(k.storage.string(), record),
                                                 folderRecord ? k.storage : copy, "pw");
            ::_exit(placed ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_EQ(WEXITSTATUS(status), 0);
        ASSERT_TRUE(fs::exists(copy));
        list = k.c.run({"vault", "list"});
        EXPECT_NE(list.out.find("unlocked\t" + record), std::string::npos) << list.out << list.err;
        lockAll();
    }
}

// A removal killed after the item was restored and before its record left the vault: the next
// command lists the restored file as the item's copy, and removing it again finishes the job.
TEST(VaultCli, ARemovalKilledAfterRestoringListsTheRestoredFile) {
    KilledRuns k;
    test::writeFile(k.docs / "plan.txt", "the plan");
    const std::string file = (k.docs / "plan.txt").string();
    ASSERT_EQ(k.c.run({"vault", "encrypt", "--yes", "--password-stdin", file}, "pw\n").code, 0);
    const auto killed =
        k.killedAt({"vault", "remove", file + ".enc", "--yes", "--password-stdin"}, "remove-list");
    ASSERT_TRUE(killed.paused) << killed.run.err;
    EXPECT_EQ(test::readFile(file), "the plan");
    const auto list = k.c.run({"vault", "list"});
    EXPECT_EQ(list.out, "file\tunlocked\t" + file + ".enc\n") << list.err;
    const auto removed = k.c.run({"vault", "remove", file + ".enc", "--yes", "--password-stdin"}, "pw\n");
    EXPECT_EQ(removed.code, 0) << removed.err;
    EXPECT_EQ(test::readFile(file), "the plan");
    EXPECT_FALSE(fs::exists(k.storage / "plan.txt.enc"));
    EXPECT_EQ(k.c.run({"vault", "list"}).out, "");
}

}  // namespace
}  // namespace vaultry

namespace vaultry {
namespace {

namespace fs = std::filesystem;

// The storage folder's icon: given without a word where GVfs is not there (no session bus here),
// never taken for an archive or a stray file, and through a move ours is written anew while a
// user's own .directory goes along with everything else.
TEST(VaultCli, TheStorageFolderGetsItsIconQuietlyAndMovesKeepAUsersEntry) {
    test::CliHome c;
    test::writeFile(c.home / ".local/share/icons/hicolor/scalable/places/com.Quenmark.vaultry-folder.svg",
                    "<svg/>");
    const std::string ours = "[Desktop Entry]\nIcon=com.Quenmark.vaultry-folder\n";
    for (const char* name : {"one", "two", "three"}) fs::create_directories(c.home / name);
    auto r = c.run({"vault", "storage", "set", (c.home / "one").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    const fs::path one = c.home / "one/vaultry.data", two = c.home / "two/vaultry.data",
                   three = c.home / "three/vaultry.data";
    EXPECT_EQ(test::readFile(one / ".directory"), ours);
    EXPECT_EQ(fs::status(one / ".directory").permissions(), fs::perms::owner_read | fs::perms::owner_write);

    ASSERT_EQ(c.run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    test::writeFile(c.home / "docs/plan.txt", "the plan");
    test::writeFile(c.home / "docs/Work/x", "w");
    r = c.run({"vault", "encrypt", "--yes", "--password-stdin", (c.home / "docs/plan.txt").string(),
               (c.home / "docs/Work").string()},
              "pw\n");
    ASSERT_EQ(r.code, 0) << r.err;
    // Neither verify nor list takes the entry for an archive, nor the start of a run for a leftover.
    r = c.run({"vault", "verify", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.out << r.err;
    EXPECT_EQ((r.out + r.err).find(".directory"), std::string::npos) << r.out << r.err;
    r = c.run({"vault", "list"});
    EXPECT_EQ((r.out + r.err).find(".directory"), std::string::npos) << r.out << r.err;
    EXPECT_EQ(test::readFile(one / ".directory"), ours);

    // Moved: ours is written anew in the new folder and is not counted among what the old one keeps.
    r = c.run({"vault", "storage", "set", (c.home / "two").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(".directory"), std::string::npos) << r.err;
    EXPECT_EQ(test::readFile(two / ".directory"), ours);
    EXPECT_TRUE(fs::exists(two / "plan.txt.enc"));

    // The user's own entry is the user's: it goes along and is never replaced by ours.
    const std::string mine = "[Desktop Entry]\nIcon=folder-red\n[Dolphin]\nViewMode=1\n";
    test::writeFile(two / ".directory", mine);
    r = c.run({"vault", "storage", "set", (c.home / "three").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::readFile(three / ".directory"), mine);
    EXPECT_EQ(test::readFile(two / ".directory"), mine);
    EXPECT_NE(r.err.find(".directory"), std::string::npos) << "the old folder still holds it: " << r.err;
    EXPECT_EQ(c.run({"vault", "verify", "--password-stdin"}, "pw\n").code, 0);
    EXPECT_EQ(
        c.run({"vault", "decrypt", "--password-stdin", (c.home / "docs/Work.tar.gz").string()}, "pw\n").code,
        0);
    EXPECT_EQ(test::readFile(three / "Work/x"), "w");
}

}  // namespace
}  // namespace vaultry
