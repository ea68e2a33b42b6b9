// Long vault work behind the progress window: encrypting, decrypting, locking, changing the
// password and moving the storage folder report their progress, and Cancel, pressed at any point
// before the work is committed, leaves every file, record and setting exactly as it was.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "app/AppDelegate.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "vault/Archive.h"
#include "vault/PasswordVerifier.h"
#include "vault/Rekey.h"
#include "vault/StorageFolder.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

// Every entry under `root` with its type and, for files, its bytes.
std::map<std::string, std::string> tree(const fs::path& root) {
    std::map<std::string, std::string> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const std::string rel = fs::relative(it->path(), root).string();
        if (it->is_symlink())
            out[rel] = "link:" + fs::read_symlink(it->path()).string();
        else if (it->is_directory())
            out[rel] = "folder";
        else
            out[rel] = "file:" + readFile(it->path());
    }
    return out;
}

// The names that differ between two trees, for a readable failure.
Strings differences(const std::map<std::string, std::string>& a,
                    const std::map<std::string, std::string>& b) {
    Strings out;
    for (const auto& [name, what] : a)
        if (auto it = b.find(name); it == b.end() || it->second != what) out.push_back(name);
    for (const auto& [name, what] : b)
        if (!a.count(name)) out.push_back(name);
    return out;
}

// A running GUI (an AppDelegate over fake ports) unlocked with "pw".
struct Gui {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    fs::path storage = w.dir / "Safe/vaultry.data";
    Gui() {
        app = std::make_unique<AppDelegate>(w.services());
        app->applicationDidFinishLaunching();
        w.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
        fs::create_directories(w.dir / "Safe");
        app->openPanelDidEnd8(platform::Ui::Paths{(w.dir / "Safe").string()});
        w.ui.setText("enterPWLab", "pw");
        app->ReturnOnPasswordField();
        EXPECT_TRUE(app->passPhraseKnown());
    }
    Strings onDisk(const char* key) {
        SettingsStore s(w.paths.settingsFile());
        return s.stringArray(key).value_or(Strings{});
    }
    void cancelAt(const std::string& step, std::uint64_t units) {
        w.ui.cancelStep = step;
        w.ui.cancelAt = units;
        w.ui.progressSteps.clear();
    }
    void noCancel() { w.ui.cancelAt.reset(); }
    bool stepped(const std::string& step) const {
        const auto& s = w.ui.progressSteps;
        return std::find(s.begin(), s.end(), step) != s.end();
    }
};

// The sweep of one step: Cancel pressed once `units` of it are done, for each of the points.
struct Point {
    std::string step;
    std::uint64_t units;
};

TEST(VaultProgress, CancelledEncryptionLeavesEverythingAsBefore) {
    Gui g;
    const std::string big(1 << 20, 'x');
    writeFile(g.w.dir / "docs/f.txt", big + "end");
    writeFile(g.w.dir / "docs/D/a.bin", std::string(400000, 'a'));
    writeFile(g.w.dir / "docs/D/sub/b.bin", std::string(300000, 'b'));
    // An earlier archive: the manifest and the lock file exist before the sweep.
    writeFile(g.w.dir / "docs/old.txt", "old");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((g.w.dir / "docs/old.txt").string()));
    g.app->saveRecords();
    g.w.ui.alerts.clear();
    const auto before = tree(g.w.dir.path());
    const Strings records = g.app->allRecords();

    const std::uint64_t fileBytes = big.size() + 3, folderBytes = 700000;
    const std::vector<Point> points{
        {"Encrypting f.txt", 0},         {"Encrypting f.txt", 1}, {"Encrypting f.txt", 600000},
        {"Encrypting f.txt", fileBytes}, {"Checking f.txt", 0},   {"Checking f.txt", 500000},
        {"Checking f.txt", fileBytes},   {"Encrypting D", 0},     {"Encrypting D", 350000},
        {"Encrypting D", folderBytes},   {"Checking D", 0},       {"Checking D", 1},
    };
    for (const auto& p : points) {
        SCOPED_TRACE(p.step + " at " + std::to_string(p.units));
        g.cancelAt(p.step, p.units);
        const std::string item = (g.w.dir / "docs" / p.step.substr(p.step.find(' ') + 1)).string();
        EXPECT_FALSE(g.app->EncryptFileFolderFunction(item));
        EXPECT_TRUE(g.app->lastWorkCancelled());
        EXPECT_TRUE(g.stepped(p.step));
        EXPECT_TRUE(g.w.ui.alerts.empty()) << g.w.ui.alerts.front().informative;
        EXPECT_EQ(differences(before, tree(g.w.dir.path())), Strings{});
        EXPECT_EQ(g.app->allRecords(), records);
        EXPECT_FALSE(g.app->isBusy());
    }

    // Without Cancel the same work goes through, step by step.
    g.noCancel();
    g.w.ui.progressSteps.clear();
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((g.w.dir / "docs/f.txt").string()));
    EXPECT_EQ(g.w.ui.progressSteps, (Strings{"Encrypting f.txt", "Checking f.txt"}));
    EXPECT_FALSE(fs::exists(g.w.dir / "docs/f.txt"));
    EXPECT_TRUE(fs::exists(g.storage / "f.txt.enc"));
}

TEST(VaultProgress, CancelledDecryptionAndLockLeaveEverythingAsBefore) {
    Gui g;
    const std::string big(1 << 20, 'y');
    writeFile(g.w.dir / "docs/f.txt", big);
    writeFile(g.w.dir / "docs/D/a.bin", std::string(600000, 'a'));
    const std::string file = (g.w.dir / "docs/f.txt").string(), folder = (g.w.dir / "docs/D").string();
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(file));
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(folder));
    g.app->saveRecords();
    g.w.ui.alerts.clear();
    auto before = tree(g.w.dir.path());

    // Decrypting: no copy, no staging folder, the list of decrypted items as it was.
    for (const auto& p : std::vector<Point>{{"Decrypting f.txt.enc", 0},
                                            {"Decrypting f.txt.enc", 300000},
                                            {"Decrypting f.txt.enc", big.size()},
                                            {"Decrypting D.tar.gz", 0},
                                            {"Decrypting D.tar.gz", 1}}) {
        SCOPED_TRACE(p.step + " at " + std::to_string(p.units));
        g.cancelAt(p.step, p.units);
        const std::string record = p.step == "Decrypting D.tar.gz" ? folder + ".tar.gz" : file + ".enc";
        EXPECT_FALSE(g.app->DecryptFileFolderFunction(record));
        EXPECT_TRUE(g.app->lastWorkCancelled());
        EXPECT_TRUE(g.w.ui.alerts.empty());
        EXPECT_EQ(differences(before, tree(g.w.dir.path())), Strings{});
        EXPECT_TRUE(g.app->decryptedRecords().empty());
    }

    // Locking an edited copy: the archive, the copy and the records stay as they were.
    g.noCancel();
    ASSERT_TRUE(g.app->DecryptFileFolderFunction(file + ".enc"));
    g.app->rememberDecryptedCopy(file + ".enc");
    writeFile(file, big + "edited");
    ASSERT_TRUE(g.app->DecryptFileFolderFunction(folder + ".tar.gz"));
    g.app->rememberDecryptedCopy(folder + ".tar.gz");
    before = tree(g.w.dir.path());
    const Strings decrypted = g.onDisk(prefkey::DecryptedRecords);
    ASSERT_EQ(decrypted.size(), 2u);
    for (const auto& p : std::vector<Point>{{"Encrypting f.txt", 0},
                                            {"Encrypting f.txt", 500000},
                                            {"Encrypting f.txt", big.size() + 6},
                                            {"Checking f.txt.enc", 0},
                                            {"Checking f.txt.enc", 500000},
                                            {"Checking D.tar.gz", 0},
                                            {"Checking D.tar.gz", 1}}) {
        SCOPED_TRACE(p.step + " at " + std::to_string(p.units));
        g.cancelAt(p.step, p.units);
        const std::string record = p.step == "Checking D.tar.gz" ? folder + ".tar.gz" : file + ".enc";
        std::string why;
        EXPECT_FALSE(g.app->lockDecryptedRecord(record, &why));
        EXPECT_TRUE(g.app->lastWorkCancelled());
        EXPECT_TRUE(g.stepped(p.step));
        EXPECT_EQ(differences(before, tree(g.w.dir.path())), Strings{});
        EXPECT_EQ(g.onDisk(prefkey::DecryptedRecords), decrypted);
    }
    // Cancelled while locking, the quit that asked for it does not go on.
    g.cancelAt("Encrypting f.txt", 1);
    EXPECT_EQ(g.app->visibleItemsOffer(), platform::AlertAnswer::Alternate);
    EXPECT_EQ(differences(before, tree(g.w.dir.path())), Strings{});
    EXPECT_TRUE(g.w.ui.alerts.size() == 1 && g.w.ui.alerts[0].message == "Some items are visible");

    g.noCancel();
    std::string why;
    ASSERT_TRUE(g.app->lockDecryptedRecord(file + ".enc", &why)) << why;
    EXPECT_FALSE(fs::exists(file));
}

TEST(VaultProgress, CancelledPasswordChangeLeavesEverythingAsBefore) {
    Gui g;
    writeFile(g.w.dir / "docs/f.txt", std::string(700000, 'f'));
    writeFile(g.w.dir / "docs/D/a.bin", std::string(500000, 'a'));
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((g.w.dir / "docs/f.txt").string()));
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((g.w.dir / "docs/D").string()));
    g.app->saveRecords();
    std::uint64_t bytes = 0;
    for (const auto& a : vault::archivesIn(g.storage)) bytes += fs::file_size(a);
    const auto before = tree(g.w.dir.path());

    for (const auto& p : std::vector<Point>{{"Checking archives", 0},
                                            {"Checking archives", bytes / 2},
                                            {"Checking archives", bytes},
                                            {"Re-encrypting archives", 0},
                                            {"Re-encrypting archives", bytes},
                                            {"Re-encrypting archives", 2 * bytes},
                                            {"Re-encrypting archives", 3 * bytes - 1}}) {
        SCOPED_TRACE(p.step + " at " + std::to_string(p.units));
        g.cancelAt(p.step, p.units);
        g.w.ui.alerts.clear();
        g.w.ui.setText("newPWLab", "new");
        g.w.ui.setText("confirmNewPWLab", "new");
        g.app->ChangePassWordAction();
        EXPECT_TRUE(g.stepped(p.step));
        EXPECT_TRUE(g.w.ui.alerts.empty());
        EXPECT_EQ(differences(before, tree(g.w.dir.path())), Strings{});
        for (const auto& a : vault::archivesIn(g.storage))
            EXPECT_TRUE(vault::verifyArchive(a, vault::archiveKindOf(a), "pw",
                                             vault::Opening{vault::kNewDerivation, {}, {}}))
                << a;
    }

    g.noCancel();
    g.w.ui.setText("newPWLab", "new");
    g.w.ui.setText("confirmNewPWLab", "new");
    g.app->ChangePassWordAction();
    for (const auto& a : vault::archivesIn(g.storage))
        EXPECT_TRUE(vault::verifyArchive(a, vault::archiveKindOf(a), "new",
                                         vault::Opening{vault::kNewDerivation, {}, {}}))
            << a;
}

TEST(VaultProgress, CancelledStorageMoveLeavesBothFoldersAsBefore) {
    Gui g;
    writeFile(g.w.dir / "docs/f.txt", std::string(900000, 'f'));
    writeFile(g.w.dir / "docs/D/a.bin", std::string(500000, 'a'));
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((g.w.dir / "docs/f.txt").string()));
    ASSERT_TRUE(g.app->EncryptFileFolderFunction((g.w.dir / "docs/D").string()));
    ASSERT_TRUE(g.app->DecryptFileFolderFunction((g.w.dir / "docs/D.tar.gz").string()));
    g.app->saveRecords();
    const fs::path second = g.w.dir / "Second";
    fs::create_directories(second);
    const auto before = tree(g.w.dir.path());

    for (const auto& p : std::vector<Point>{{"Copying the vault", 0},
                                            {"Copying the vault", 1},
                                            {"Copying the vault", 700000},
                                            {"Checking the copies", 0},
                                            {"Checking the copies", 1}}) {
        SCOPED_TRACE(p.step + " at " + std::to_string(p.units));
        g.cancelAt(p.step, p.units);
        g.w.ui.alerts.clear();
        g.app->openPanelDidEnd5(platform::Ui::Paths{second.string()});
        EXPECT_TRUE(g.stepped(p.step));
        EXPECT_TRUE(g.w.ui.alerts.empty());
        EXPECT_EQ(differences(before, tree(g.w.dir.path())), Strings{});
        EXPECT_EQ(g.w.settings.string(prefkey::StorePath), g.storage.string());
        EXPECT_FALSE(g.app->isMovingStorage());
    }

    g.noCancel();
    g.app->openPanelDidEnd5(platform::Ui::Paths{second.string()});
    EXPECT_EQ(g.w.settings.string(prefkey::StorePath), (second / "vaultry.data").string());
    EXPECT_EQ(readFile(second / "vaultry.data/f.txt.enc"), readFile(g.storage / "f.txt.enc"));
    EXPECT_EQ(readFile(second / "vaultry.data/D/a.bin"), std::string(500000, 'a'));
}

}  // namespace
}  // namespace vaultry
