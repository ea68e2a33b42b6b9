// vaultry-cli's long vault commands: a progress line on a terminal only, and Ctrl-C at any moment
// either stops the work with everything as it was (exit 3) or lets it finish.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <map>
#include <random>
#include <thread>

#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/CliTerminal.h"
#include "support/FakePorts.h"
#include "vault/Archive.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct Cli {
    test::TempDir home;
    fs::path storage = home / "safe/vaultry.data";
    Cli() {
        fs::create_directories(home / "safe");
        EXPECT_EQ(run({"vault", "storage", "set", (home / "safe").string()}).code, 0);
        EXPECT_EQ(run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
    }
    test::CliRun run(Strings args, const std::string& input = "") {
        return test::runCli(home.path(), std::move(args), input);
    }
    Strings records() {
        SettingsStore s(home / ".config/com.Quenmark.vaultry.plist");
        return s.stringArray("VaultryDataArray").value_or(Strings{});
    }
    std::string verifier() {
        SettingsStore s(home / ".config/com.Quenmark.vaultry.plist");
        return s.string("VaultryPassword").value_or("");
    }
};

struct Interrupted {
    int code = -1;  // the exit status; -1 when a signal ended it
    std::string err;
};

// Starts vaultry-cli, sends it SIGINT after `delay` (as Ctrl-C would) and waits for it.
Interrupted runAndInterrupt(Cli& c, Strings args, const std::string& input, std::chrono::microseconds delay) {
    const test::CliRun r = test::runCliAndSignal(c.home.path(), std::move(args), input, delay, SIGINT);
    return {r.code, r.err};
}

// What a run cut short may leave: temporary archives, unpack folders, items put aside, new copies.
Strings leftovers(const fs::path& root) {
    Strings out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.find(".part-") != std::string::npos || name.rfind(".vaultry-unpack-", 0) == 0 ||
            name.rfind(".vaultry-keep-", 0) == 0 || name.rfind(".vaultry-removing-", 0) == 0 ||
            it->path().extension() == ".rekey" || name == vault::kRekeyJournal)
            out.push_back(it->path().string());
    }
    return out;
}

TEST(VaultProgressCli, InterruptedEncryptionIsUndoneOrFinished) {
    Cli c;
    std::mt19937 gen(17);
    std::uniform_int_distribution<int> delay(0, 300000);
    const std::string big(4 << 20, 'z');
    int cancelled = 0;
    for (int round = 0; round < 12; ++round) {
        SCOPED_TRACE(round);
        const fs::path file = c.home / ("docs/f" + std::to_string(round) + ".txt");
        test::writeFile(file, big + std::to_string(round));
        const Strings before = c.records();
        const auto r = runAndInterrupt(c, {"vault", "encrypt", "--yes", "--password-stdin", file.string()},
                                       "pw\n", std::chrono::microseconds(delay(gen)));
        const bool recorded = c.records().size() == before.size() + 1;
        if (r.code == 3) {
            ++cancelled;
            EXPECT_EQ(r.err, "vaultry-cli: cancelled; nothing was changed\n");
            EXPECT_EQ(c.records(), before);
            EXPECT_EQ(test::readFile(file), big + std::to_string(round));
            EXPECT_FALSE(fs::exists(c.storage / file.filename().concat(".enc")));
            EXPECT_EQ(leftovers(c.home.path()), Strings{});
        } else if (r.code == 0) {
            EXPECT_TRUE(recorded);
            EXPECT_FALSE(fs::exists(file));
        }
        // Whatever happened, the item is whole in one place.
        if (recorded)
            EXPECT_TRUE(vault::verifyArchive(c.storage / file.filename().concat(".enc"),
                                             vault::ArchiveKind::File, "pw",
                                             {vault::kNewDerivation, {}, {}}));
        else
            EXPECT_EQ(test::readFile(file), big + std::to_string(round));
    }
    RecordProperty("cancelled", cancelled);
}

TEST(VaultProgressCli, InterruptedPasswordChangeIsUndoneOrFinished) {
    Cli c;
    for (int i = 0; i < 3; ++i)
        test::writeFile(c.home / ("docs/f" + std::to_string(i)),
                        std::string(3 << 20, static_cast<char>('a' + i)));
    test::writeFile(c.home / "docs/D/x", std::string(2 << 20, 'x'));
    ASSERT_EQ(
        c.run({"vault", "encrypt", "--yes", "--password-stdin", (c.home / "docs/f0").string(),
               (c.home / "docs/f1").string(), (c.home / "docs/f2").string(), (c.home / "docs/D").string()},
              "pw\n")
            .code,
        0);
    std::mt19937 gen(5);
    std::uniform_int_distribution<int> delay(0, 900000);
    std::string current = "pw";
    int cancelled = 0;
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        const std::string next = "harbour lantern " + std::to_string(round);
        const std::string verifierBefore = c.verifier();
        std::map<std::string, std::string> archivesBefore;
        for (const auto& a : vault::archivesIn(c.storage)) archivesBefore[a.string()] = test::readFile(a);
        const auto r = runAndInterrupt(c, {"vault", "password", "set", "--change", "--password-stdin"},
                                       current + "\n" + next + "\n", std::chrono::microseconds(delay(gen)));
        if (r.code == 3) {
            ++cancelled;
            EXPECT_EQ(r.err, "vaultry-cli: cancelled; nothing was changed\n");
            EXPECT_EQ(c.verifier(), verifierBefore);
            for (const auto& [a, bytes] : archivesBefore) EXPECT_TRUE(test::readFile(a) == bytes) << a;
            EXPECT_EQ(leftovers(c.home.path()), Strings{});
        }
        // A change killed before its handler was in place is settled by the next command.
        ASSERT_EQ(c.run({"vault", "list"}).code, 0);
        if (password::matches(c.verifier(), next))
            current = next;
        else
            ASSERT_TRUE(password::matches(c.verifier(), current));
        EXPECT_FALSE(fs::exists(c.storage / vault::kRekeyJournal));
        for (const auto& archive : vault::archivesIn(c.storage))
            EXPECT_TRUE(vault::verifyArchive(archive, vault::archiveKindOf(archive), current,
                                             {vault::kNewDerivation, {}, {}}))
                << archive;
    }
    RecordProperty("cancelled", cancelled);
}

// Ctrl-C once the work shows its progress: it stops, and everything is as it was.
TEST(VaultProgressCli, CtrlCWhileTheProgressLineShowsCancels) {
    Cli c;
    const std::string big(64 << 20, 'q');
    test::writeFile(c.home / "docs/big.bin", big);
    test::writeFile(c.home / "pw", "pw\n");
    {
        test::CliOnTerminal t(c.home.path(),
                              {"vault", "encrypt", "--yes", "--password-file", (c.home / "pw").string(),
                               (c.home / "docs/big.bin").string()},
                              true);
        ASSERT_TRUE(t.waitFor("Encrypting big.bin"));
        t.signal(SIGINT);
        EXPECT_EQ(t.wait(), 3);
        t.waitFor("\x01 the end");
        EXPECT_NE(t.screen.find("vaultry-cli: cancelled; nothing was changed"), std::string::npos)
            << t.screen;
    }
    EXPECT_TRUE(test::readFile(c.home / "docs/big.bin") == big);
    EXPECT_EQ(c.records(), Strings{});
    EXPECT_FALSE(fs::exists(c.storage / "big.bin.enc"));
    EXPECT_EQ(leftovers(c.home.path()), Strings{});

    ASSERT_EQ(
        c.run({"vault", "encrypt", "--yes", "--password-stdin", (c.home / "docs/big.bin").string()}, "pw\n")
            .code,
        0);
    const std::string verifier = c.verifier(), archive = test::readFile(c.storage / "big.bin.enc");
    test::writeFile(c.home / "pw", "pw\nnew\n");
    {
        test::CliOnTerminal t(
            c.home.path(),
            {"vault", "password", "set", "--yes", "--change", "--password-file", (c.home / "pw").string()},
            true);
        ASSERT_TRUE(t.waitFor("archives"));
        t.signal(SIGINT);
        EXPECT_EQ(t.wait(), 3);
    }
    EXPECT_EQ(c.verifier(), verifier);
    EXPECT_TRUE(test::readFile(c.storage / "big.bin.enc") == archive);
    EXPECT_EQ(leftovers(c.home.path()), Strings{});
}

TEST(VaultProgressCli, AProgressLineOnlyOnATerminal) {
    Cli c;
    const std::string big(8 << 20, 'p');
    test::writeFile(c.home / "pw", "pw\n");
    test::writeFile(c.home / "docs/a.bin", big);
    test::writeFile(c.home / "docs/b.bin", big);
    test::writeFile(c.home / "docs/c.bin", big);

    // Piped: the records on standard output, nothing at all on standard error.
    auto r = c.run({"vault", "encrypt", "--yes", "--password-file", (c.home / "pw").string(),
                    (c.home / "docs/a.bin").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(r.out, (c.home / "docs/a.bin.enc").string() + "\n");

    // On a terminal: a line that rewrites itself and is cleared at the end.
    {
        test::CliOnTerminal t(c.home.path(),
                              {"vault", "encrypt", "--yes", "--password-file", (c.home / "pw").string(),
                               (c.home / "docs/b.bin").string()},
                              true);
        EXPECT_TRUE(t.waitFor("Encrypting b.bin"));
        EXPECT_EQ(t.wait(), 0);
        t.waitFor("\x01 the end");  // what is left on the terminal
        EXPECT_NE(t.screen.find("\r\033[KEncrypting b.bin"), std::string::npos) << t.screen;
        EXPECT_EQ(t.screen.substr(t.screen.size() - 4), "\r\033[K") << t.screen;
        EXPECT_EQ(t.out(), (c.home / "docs/b.bin.enc").string() + "\n");
    }
    // With -q, nothing either.
    {
        test::CliOnTerminal t(c.home.path(),
                              {"-q", "vault", "encrypt", "--yes", "--password-file", (c.home / "pw").string(),
                               (c.home / "docs/c.bin").string()},
                              true);
        EXPECT_EQ(t.wait(), 0);
        t.waitFor("\x01 the end");
        EXPECT_EQ(t.screen.find("Encrypting"), std::string::npos) << t.screen;
    }
}

}  // namespace
}  // namespace vaultry
