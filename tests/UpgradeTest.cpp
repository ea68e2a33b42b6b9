// What an earlier version left behind is settled by the start of either program: one plain
// vaultry-cli command settles it all, and does nothing when there is nothing it may do.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/linux/LinuxBookmarks.h"
#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

// A home as an earlier version left it: records without kinds (an encrypted file's whose archive
// is in the storage folder, a hidden item's), a plain thumbnail of the encrypted file, items
// tidied into the storage folder, and where tidied items go kept under the Trash's key.
struct EarlierHome {
    test::TempDir home;
    fs::path settingsFile = home / ".config/com.Quenmark.vaultry.plist";
    fs::path storage = home / "safe/vaultry.data";
    fs::path tidied = home / "Tidied";
    std::string plan = (home / "Notes/plan.txt.enc").string();
    std::string hidden = (home / "Docs/backup.tar.gz").string();

    EarlierHome() {
        writeFile(storage / "plan.txt.enc", "the archive");
        writeFile(hidden, "the user's own tarball");
        writeFile(storage / "libdata/plan", "plain preview of plan.txt");
        writeFile(storage / "libdata/other", "not a record's");
        writeFile(storage / "com.Quenmark.sortello/a.txt", "tidied a");
        fs::create_directories(tidied);
        SettingsStore settings(settingsFile);
        settings.set(prefkey::StorePath, storage.string());
        settings.set(prefkey::Records, Strings{plan, hidden});
        settings.set(prefkey::TrashGrant, *platform::LinuxBookmarks().create(tidied.string()));
        EXPECT_TRUE(settings.flush());
    }
    SettingsStore onDisk() const { return SettingsStore(settingsFile); }
    Strings kinds() const { return onDisk().stringArray(prefkey::RecordKinds).value_or(Strings{}); }
    // Nothing of the earlier version's state has been settled yet.
    void expectUntouched() const {
        EXPECT_TRUE(kinds().empty());
        EXPECT_TRUE(present(storage / "libdata/plan"));
        EXPECT_EQ(readFile(storage / "com.Quenmark.sortello/a.txt"), "tidied a");
        EXPECT_FALSE(onDisk().data(prefkey::TidyLocationGrant));
    }
};

TEST(Upgrade, OneCliCommandSettlesWhatAnEarlierVersionLeft) {
    EarlierHome h;
    // Help, the version and the completion script only print.
    for (const Strings& args : {Strings{"--help"}, Strings{"--version"}, Strings{"trash", "--help"},
                                Strings{"completion", "bash"}}) {
        const auto r = test::runCli(h.home.path(), args);
        EXPECT_EQ(r.code, 0) << args[0] << ": " << r.err;
        h.expectUntouched();
    }

    const auto first = test::runCli(h.home.path(), {"trash", "size", "--bytes"});
    ASSERT_EQ(first.code, 0) << first.err;
    // Nothing is said but the log's line about the items that moved.
    EXPECT_EQ(first.err, "vaultry: tidy folder moved from " + (h.storage / "com.Quenmark.sortello").string() +
                             " to " + (h.tidied / "com.Quenmark.sortello").string() + "\n");
    // The kinds are written, decided from the files, not the names.
    const Strings kinds = h.kinds();
    EXPECT_EQ(kinds.size(), 2u);
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "file " + h.plan), kinds.end());
    EXPECT_NE(std::find(kinds.begin(), kinds.end(), "hidden " + h.hidden), kinds.end());
    // The plain thumbnail of the encrypted file is gone; nothing else in "libdata" is touched.
    EXPECT_FALSE(present(h.storage / "libdata/plan"));
    EXPECT_EQ(readFile(h.storage / "libdata/other"), "not a record's");
    struct stat st {};
    ASSERT_EQ(::stat((h.storage / "libdata").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0700u);
    // Where tidied items go has its own key, and the tidy folder went there with its items.
    EXPECT_EQ(h.onDisk().data(prefkey::TidyLocationGrant), h.onDisk().data(prefkey::TrashGrant));
    EXPECT_FALSE(present(h.storage / "com.Quenmark.sortello"));
    EXPECT_EQ(readFile(h.tidied / "com.Quenmark.sortello/a.txt"), "tidied a");
    EXPECT_EQ(test::runCli(h.home.path(), {"tidy", "location"}).out, h.tidied.string() + "\n");
    EXPECT_NE(test::runCli(h.home.path(), {"tidy", "list"}).out.find("\ta.txt\n"), std::string::npos);
    EXPECT_EQ(test::runCli(h.home.path(), {"vault", "list"}).out,
              "file\tlocked\t" + h.plan + "\nhidden\thidden\t" + h.hidden + "\n");

    // Run again, it finds nothing left to do: the command prints what it did the first time.
    const auto settingsBefore = readFile(h.settingsFile);
    const auto again = test::runCli(h.home.path(), {"trash", "size", "--bytes"});
    EXPECT_EQ(again.code, 0);
    EXPECT_EQ(again.out, first.out);
    EXPECT_EQ(again.err, "");
    EXPECT_EQ(readFile(h.settingsFile), settingsBefore);
}

// Settings that cannot be written fail no command and move nothing that needs them written: the
// tidy folder stays in the storage folder until its new place can be recorded. A storage folder
// that is not there (a drive not connected) is not made, and no record's kind is guessed.
TEST(Upgrade, WhatCannotBeSettledIsLeftAsItWas) {
    {
        EarlierHome h;
        SettingsStore settings(h.settingsFile);
        settings.remove(prefkey::TrashGrant);  // no tidy location: it would be recorded first
        ASSERT_TRUE(settings.flush());
        const auto settingsBefore = readFile(h.settingsFile);
        const fs::path config = h.settingsFile.parent_path();
        fs::permissions(config, fs::perms::owner_read | fs::perms::owner_exec, fs::perm_options::replace);
        fs::permissions(h.settingsFile, fs::perms::owner_read, fs::perm_options::replace);
        const auto r = test::runCli(h.home.path(), {"trash", "size", "--bytes"});
        fs::permissions(config, fs::perms::owner_all, fs::perm_options::replace);
        fs::permissions(h.settingsFile, fs::perms::owner_read | fs::perms::owner_write,
                        fs::perm_options::replace);
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(readFile(h.settingsFile), settingsBefore);
        EXPECT_EQ(readFile(h.storage / "com.Quenmark.sortello/a.txt"), "tidied a");
        EXPECT_FALSE(present(h.home / "safe/com.Quenmark.sortello"));
        // The plain thumbnail goes all the same: its removal writes no settings.
        EXPECT_FALSE(present(h.storage / "libdata/plan"));
    }
    {
        EarlierHome h;
        fs::rename(h.home / "safe", h.home / "unplugged");
        const auto r = test::runCli(h.home.path(), {"trash", "size", "--bytes"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_FALSE(present(h.home / "safe"));
        EXPECT_EQ(h.kinds(), Strings{"hidden " + h.hidden});  // the archive's record waits
        EXPECT_TRUE(present(h.home / "unplugged/vaultry.data/libdata/plan"));
        EXPECT_TRUE(present(h.home / "unplugged/vaultry.data/com.Quenmark.sortello/a.txt"));
    }
    {
        // A folder at the storage path with neither the vault's marker nor the record's archive is
        // not the vault's: a file of its "libdata" named like the record's preview stays.
        EarlierHome h;
        fs::remove(h.storage / "plan.txt.enc");
        const auto r = test::runCli(h.home.path(), {"trash", "size", "--bytes"});
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(readFile(h.storage / "libdata/plan"), "plain preview of plan.txt");
    }
}

}  // namespace
}  // namespace vaultry
