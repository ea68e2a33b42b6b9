#include <fcntl.h>
#include <gtest/gtest.h>

#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "vault/Archive.h"
#include "vault/PasswordVerifier.h"
#include "vault/VaultItems.h"
#include "vault/VaultList.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

// vaultry-cli on a temporary home with a vault in it.
struct CliHome : test::CliHome {
    fs::path storage = home / "Safe/vaultry.data";
    fs::path notes = home / "Notes";

    SettingsStore store() { return SettingsStore(home / ".config/com.Quenmark.vaultry.plist"); }

    // A vault with a locked file, an unlocked file and a hidden item.
    Strings setUp() {
        fs::create_directories(storage);
        writeFile(notes / "locked.txt", "locked text");
        writeFile(notes / "open.txt", "open text");
        for (const char* name : {"locked.txt", "open.txt"})
            EXPECT_TRUE(
                vault::writeArchive(*vault::planArchive((notes / name).string(), storage.string()), "pw"));
        fs::remove(notes / "locked.txt");
        const Strings records = {(notes / "locked.txt.enc").string(), (notes / "open.txt.enc").string(),
                                 (notes / "hidden.mp4").string()};
        auto s = store();
        s.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
        s.set(prefkey::StorePath, storage.string());
        s.set(prefkey::Records, records);
        s.set(prefkey::DecryptedRecords, Strings{records[1]});
        EXPECT_TRUE(s.flush());
        EXPECT_TRUE(vault::rememberCopy(storage.string(), records[1]));
        return records;
    }
};

TEST(VaultListCli, ListsLocksAndRemoves) {
    CliHome h;
    const Strings records = h.setUp();
    auto r = h.run({"vault", "list", "--kind", "docs"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "file\tlocked\t" + records[0] + "\nfile\tunlocked\t" + records[1] + "\n");
    r = h.run({"vault", "list"});
    EXPECT_NE(r.out.find("hidden\thidden\t" + records[2]), std::string::npos);
    EXPECT_EQ(h.run({"vault", "list", "--kind", "pictures"}).code, 2);

    // An unchanged copy needs no password; without --yes and without a terminal nothing happens.
    EXPECT_EQ(h.run({"vault", "lock", records[1]}).code, 2);
    EXPECT_TRUE(fs::exists(h.notes / "open.txt"));
    r = h.run({"vault", "lock", "--all", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(h.notes / "open.txt"));
    EXPECT_TRUE(h.store().stringArray(prefkey::DecryptedRecords)->empty());
    EXPECT_EQ(h.run({"vault", "lock", records[1], "--yes"}).code, 1);  // not unlocked

    // Removing a locked item restores it first; a wrong password removes nothing.
    r = h.run({"vault", "remove", records[0], "--yes", "--password-stdin"}, "nope\n");
    EXPECT_EQ(r.code, 4);
    EXPECT_NE(r.err.find("vaultry-cli: wrong password"), std::string::npos);
    EXPECT_TRUE(fs::exists(h.storage / "locked.txt.enc"));
    r = h.run({"vault", "remove", records[0], records[2], "--yes", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(h.notes / "locked.txt"), "locked text");
    EXPECT_FALSE(fs::exists(h.storage / "locked.txt.enc"));
    EXPECT_EQ(*h.store().stringArray(prefkey::Records), Strings{records[1]});
}

// Removing an item deletes its archive: with a storage path that goes through a link, what would
// be deleted depends on the link, so nothing is removed and the reason is said.
TEST(VaultListCli, AnArchiveReachedThroughALinkIsNotRemoved) {
    CliHome h;
    const Strings records = h.setUp();
    fs::create_directory_symlink(h.home / "Safe", h.home / "SafeLink");
    {
        auto s = h.store();
        s.set(prefkey::StorePath, (h.home / "SafeLink/vaultry.data").string());
        ASSERT_TRUE(s.flush());
    }
    const auto r = h.run({"vault", "remove", records[0], "--yes", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(
        r.err.find("refused: " + (h.home / "SafeLink").string() + " is a symbolic link; nothing was removed"),
        std::string::npos)
        << r.err;
    EXPECT_TRUE(fs::exists(h.storage / "locked.txt.enc"));
    EXPECT_FALSE(fs::exists(h.notes / "locked.txt"));
    EXPECT_EQ(*h.store().stringArray(prefkey::Records), records);
}

TEST(VaultListCli, AnEditedCopyNeedsThePasswordAndIsSaved) {
    CliHome h;
    const Strings records = h.setUp();
    writeFile(h.notes / "open.txt", "edited");
    auto r = h.run({"vault", "lock", records[1], "--yes"});
    EXPECT_EQ(r.code, 2);  // the password is needed and there is no terminal
    EXPECT_EQ(readFile(h.notes / "open.txt"), "edited");
    r = h.run({"vault", "lock", records[1], "--yes", "--password-stdin"}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(h.notes / "open.txt"));
    ASSERT_TRUE(vault::decryptFile(h.storage / "open.txt.enc", h.home / "check", "pw",
                                   {vault::kNewDerivation, {}, {}}));
    EXPECT_EQ(readFile(h.home / "check"), "edited");
}

}  // namespace
}  // namespace vaultry
