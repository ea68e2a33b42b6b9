// A record's kind is kept with it: a hidden item whose name ends as an archive's is never taken
// for one, and an archive belongs to one record only.
#include <gtest/gtest.h>

#include "settings/Preferences.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/Records.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

bool has(const Strings& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

struct Kinds : test::VaultWorld {
    fs::path docs = w.dir / "Docs";
    Strings storedKinds() { return w.settings.stringArray(prefkey::RecordKinds).value_or(Strings{}); }
    void hide(const fs::path& item) {
        choose({item.string()});
        app->HideFileAction();
    }
    void remove(const std::string& record) {
        clickRow(record);
        app->RemoveFileFromListAction();
    }
    // Another record's archive, still whole: it opens and holds what was packed.
    void expectArchiveHolds(const std::string& file, const std::string& text) {
        const fs::path out = w.dir / ("opened-" + std::to_string(++opens));
        fs::create_directories(out);
        ASSERT_TRUE(vault::unpackFolder(storage / "backup.tar.gz", out, "pw"));
        EXPECT_EQ(readFile(out / file), text);
    }
    int opens = 0;
    // Starts again on the lists as an earlier version left them: the records alone, no kinds.
    void restartAsEarlierVersion(const Strings& records) {
        app.reset();
        w.settings.remove(prefkey::RecordKinds);
        w.settings.set(prefkey::Records, records);
        ASSERT_TRUE(w.settings.flush());
        start();
    }
};

TEST(RecordKinds, AHiddenItemNamedLikeAnArchiveStaysHiddenAndLeavesTheArchiveAlone) {
    Kinds k;
    writeFile(k.notes / "backup/report.txt", "the report");
    const std::string folder = k.encrypt(k.notes / "backup");
    writeFile(k.docs / "backup.tar.gz", "the user's own tarball");
    const std::string hidden = (k.docs / "backup.tar.gz").string();
    k.hide(hidden);
    ASSERT_TRUE(has(k.storedRecords(), hidden));
    EXPECT_TRUE(has(k.storedKinds(), "hidden " + hidden));
    EXPECT_TRUE(has(k.storedKinds(), "folder " + folder));
    EXPECT_EQ(k.cli({"vault", "list"}).out,
              "folder\tlocked\t" + folder + "\nhidden\thidden\t" + hidden + "\n");

    // Taking the hidden item out of the vault unpacks nothing and deletes no archive.
    k.remove(hidden);
    EXPECT_FALSE(has(k.storedRecords(), hidden));
    EXPECT_FALSE(has(k.storedKinds(), "hidden " + hidden));
    EXPECT_EQ(readFile(hidden), "the user's own tarball");
    EXPECT_FALSE(fs::exists(k.docs / "backup"));
    EXPECT_TRUE(has(k.storedRecords(), folder));
    k.expectArchiveHolds("backup/report.txt", "the report");

    // The command-line tool keeps kinds the same way.
    auto r = k.cli({"vault", "hide", hidden});
    ASSERT_EQ(r.code, 0) << r.err;
    r = k.cli({"vault", "remove", "--yes", hidden});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(hidden), "the user's own tarball");
    EXPECT_FALSE(fs::exists(k.docs / "backup"));
    k.expectArchiveHolds("backup/report.txt", "the report");
}

TEST(RecordKinds, ListsOfEarlierVersionsAreSettledFromTheFilesNotTheNames) {
    Kinds k;
    writeFile(k.notes / "backup/report.txt", "the report");
    const std::string folder = k.encrypt(k.notes / "backup");
    writeFile(k.docs / "backup.tar.gz", "the user's own tarball");
    writeFile(k.docs / "notes.enc", "a file the user named so");
    const std::string hidden = (k.docs / "backup.tar.gz").string(), enc = (k.docs / "notes.enc").string();
    k.restartAsEarlierVersion({folder, hidden, enc});
    k.w.settings.reload();
    EXPECT_TRUE(has(k.storedKinds(), "hidden " + hidden));
    EXPECT_TRUE(has(k.storedKinds(), "hidden " + enc));
    EXPECT_TRUE(has(k.storedKinds(), "folder " + folder));
    k.unlock();
    k.remove(hidden);
    k.remove(enc);
    EXPECT_EQ(readFile(hidden), "the user's own tarball");
    EXPECT_EQ(readFile(enc), "a file the user named so");
    EXPECT_FALSE(fs::exists(k.docs / "backup"));
    EXPECT_FALSE(fs::exists(k.docs / "notes"));
    k.expectArchiveHolds("backup/report.txt", "the report");
}

TEST(RecordKinds, TwoRecordsNeverShareOneArchive) {
    Kinds k;
    writeFile(k.notes / "backup/report.txt", "the report");
    const std::string folder = k.encrypt(k.notes / "backup");
    // An earlier version's list where a second record names the same archive.
    const std::string twin = (k.docs / "backup.tar.gz").string();
    fs::create_directories(k.docs);
    k.restartAsEarlierVersion({folder, twin});
    k.unlock();

    // Removing either leaves the archive where it is and unpacks nothing.
    auto r = k.cli({"vault", "remove", "--yes", "--password-stdin", twin}, "pw\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("also named by"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(k.docs / "backup"));
    k.expectArchiveHolds("backup/report.txt", "the report");

    // A new item is never given an archive a record already names, even while that archive is
    // away (its drive unplugged).
    k.w.settings.reload();
    k.app->refreshVaultLists();
    fs::rename(k.storage / "backup.tar.gz", k.w.dir / "away.tar.gz");
    writeFile(k.w.dir / "Other/backup/new.txt", "new");
    k.w.ui.alerts.clear();
    EXPECT_FALSE(k.app->EncryptFileFolderFunction((k.w.dir / "Other/backup").string()));
    EXPECT_EQ(readFile(k.w.dir / "Other/backup/new.txt"), "new");
    r = k.cli({"vault", "encrypt", "--yes", "--password-stdin", (k.w.dir / "Other/backup").string()}, "pw\n");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("belongs to"), std::string::npos) << r.err;
    EXPECT_EQ(readFile(k.w.dir / "Other/backup/new.txt"), "new");
}

}  // namespace
}  // namespace vaultry
