#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <fstream>
#include <random>
#include <thread>

#include "app/PasswordVerifier.h"
#include "app/SettingsStore.h"
#include "vault/Archive.h"
#include "vault/Rekey.h"

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
    ASSERT_EQ(c.run({"vault", "password", "set", "--password-stdin"}, "pw\n").code, 0);
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
    ASSERT_EQ(c.run({"vault", "password", "set", "--change", "--password-stdin"}, "pw\nnew\n").code, 0);
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
    ASSERT_EQ(c.run({"vault", "password", "set", "--password-stdin"}, "pw\n").code, 0);
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
    ASSERT_EQ(c.run({"vault", "password", "set", "--password-stdin"}, "pw\n").code, 0);
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
        runAndKill(c, {"vault", "password", "set", "--change", "--password-stdin"},
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
TEST(VaultCli, KilledWhileLockingOrRemovingNothingIsLost) {
    Cli c;
    const fs::path storage = c.home / "safe/vaultry.data";
    fs::create_directories(c.home / "safe");
    ASSERT_EQ(c.run({"vault", "storage", "set", (c.home / "safe").string()}).code, 0);
    ASSERT_EQ(c.run({"vault", "password", "set", "--password-stdin"}, "pw\n").code, 0);
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
