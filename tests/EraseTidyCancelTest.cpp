// Cancelling a tidy or an erase at any point: a tidy leaves the desktop exactly as it was, an erase
// stops before the next file and says exactly what it erased and what it left.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "app/AppDelegate.h"
#include "desktop/Tidy.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "support/TreeState.h"
#include "trash/SecureErase.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using platform::AlertAnswer;
using test::readFile;
using test::writeFile;

void setMtime(const fs::path& p, std::time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW);
}

struct TidyWorld {
    test::World w;
    AppDelegate app{w.services()};
    fs::path desktop = w.paths.desktop();
    fs::path store = w.dir / "store";
    fs::path folder = store / "com.Quenmark.sortello";

    TidyWorld() {
        writeFile(desktop / "a.txt", "alpha");
        writeFile(desktop / "b.jpg", std::string(200000, 'b'));
        writeFile(desktop / "Project/notes.md", "notes");
        writeFile(desktop / "Project/deep/x.bin", std::string(3 << 20, 'x'));
        fs::create_symlink("/etc/hostname", desktop / "link");
        writeFile(desktop / "launcher.desktop", "[Desktop Entry]\n");
        writeFile(desktop / ".hidden", "h");
        writeFile(desktop / "z.pdf", "pdf");
        for (const char* name : {"a.txt", "b.jpg", "Project", "z.pdf"}) setMtime(desktop / name, 1000000);
        w.settings.set(prefkey::TidyExclusions, StringArray{"*.desktop"});
        app.setStorelocationPath(store.string());
        // A tidy before this one, whose undo must survive a cancelled run.
        writeFile(folder / "earlier.txt", "earlier");
        writeFile(folder / tidy::kMoveLogName, tidy::formatMoveLog({desktop.string(), {"earlier.txt"}}));
    }
};

// Cancel pressed after every possible number of items: each time the desktop and the tidy folder
// are exactly as before, the earlier tidy's log is untouched, and no alert is shown.
TEST(TidyCancel, CancelledAtAnyItemTheDesktopIsExactlyAsBefore) {
    const std::uint64_t items = tidy::visibleNames(TidyWorld().desktop.string()).size();
    ASSERT_EQ(items, 6u);
    {
        TidyWorld t;  // not cancelled, it tidies
        t.app.ClickTidyAction();
        EXPECT_EQ(t.w.ui.progressSteps, std::vector<std::string>{"Tidying the Desktop"});
        EXPECT_FALSE(fs::exists(t.desktop / "a.txt"));
        EXPECT_TRUE(fs::exists(t.desktop / "launcher.desktop"));
    }
    for (std::uint64_t at = 0; at <= items; ++at) {
        SCOPED_TRACE(at);
        TidyWorld t;
        const auto desktopBefore = test::treeState(t.desktop);
        const auto folderBefore = test::treeState(t.folder);
        test::LogCapture log;
        t.w.ui.cancelAt = at;
        t.app.ClickTidyAction();
        EXPECT_EQ(test::treeState(t.desktop), desktopBefore);
        auto folderAfter = test::treeState(t.folder);
        folderAfter.erase(".vaultry-id");  // the tidy folder's identity, given before the tidy begins
        EXPECT_EQ(folderAfter, folderBefore);
        EXPECT_TRUE(t.w.ui.alerts.empty());
        EXPECT_TRUE(log.contains("tidy: cancelled; the desktop is as it was"));
        EXPECT_FALSE(t.app.isTidying());
        EXPECT_FALSE(t.app.isBusy());
        EXPECT_EQ(t.w.ui.progressSteps.front(), "Tidying the Desktop");
        // The lists show what the tidy folder holds: only the earlier tidy's item.
        ASSERT_EQ(t.app.getDesktopAllArray().size(), 1u);
        EXPECT_EQ(t.app.getDesktopAllArray()[0]->fileName(), "earlier.txt");
        // Undo Last Tidy still takes back the earlier tidy.
        t.app.UndoLastTidy();
        EXPECT_EQ(readFile(t.desktop / "earlier.txt"), "earlier");
    }
}

// A tidy folder on another file system: cancelled while a file is being copied, the half copy is
// removed and the original stays; items already copied over come back whole.
TEST(TidyCancel, AcrossFileSystemsAHalfCopyGoesAndTheOriginalStays) {
    test::TempDir dir;
    struct stat a {
    }, b{};
    if (::stat(dir.path().c_str(), &a) != 0 || ::stat("/dev/shm", &b) != 0 || a.st_dev == b.st_dev ||
        ::access("/dev/shm", W_OK) != 0)
        GTEST_SKIP() << "/dev/shm is not another writable file system here";
    const fs::path other = fs::path("/dev/shm") / ("vaultry-cancel-" + std::to_string(::getpid()));
    const fs::path desktop = dir / "Desktop", folder = other / "tidy";
    writeFile(desktop / "a.txt", "alpha");
    writeFile(desktop / "big.bin", std::string(5 << 20, 'B'));  // five buffers
    writeFile(desktop / "c/inner.bin", std::string(3 << 20, 'c'));
    writeFile(desktop / "d.txt", "delta");
    const auto before = test::treeState(desktop);
    // Every report, the buffers of a copy included, is a point at which Cancel may come.
    for (int at = 0; at < 20; ++at) {
        SCOPED_TRACE(at);
        fs::remove_all(other);
        fs::create_directories(other);  // the location the user chose
        Progress progress;
        int reports = 0;
        progress.watch([&](Progress& p) {
            if (++reports > at) p.cancel();
        });
        const auto r = tidy::tidyDesktop(desktop.string(), folder.string(), {}, progress);
        if (r) {  // the whole tidy fitted in before this point
            EXPECT_EQ(r->moved.size(), 4u);
            EXPECT_GT(at, 10);
            break;
        }
        EXPECT_TRUE(r.error().cancelled) << r.error().message;
        EXPECT_EQ(test::treeState(desktop), before);
        EXPECT_FALSE(fs::exists(folder));  // no copy, whole or half, no move log, not even the folder
    }
    fs::remove_all(other);
}

// A copy across file systems that is cancelled: the temporary copy goes, nothing is at the
// destination, and the original is untouched.
TEST(TidyCancel, ACancelledCopyLeavesNothingBehind) {
    test::TempDir dir;
    writeFile(dir / "from/big.bin", std::string(4 << 20, 'q'));
    const auto before = test::treeState(dir / "from");
    Progress progress;
    int reports = 0;
    progress.watch([&](Progress& p) {
        if (++reports == 3) p.cancel();
    });
    const auto r = tidy::copyThenDelete((dir / "from").string(), (dir / "to").string(), {}, progress);
    EXPECT_EQ(r.error, tidy::MoveError::Cancelled);
    EXPECT_EQ(test::treeState(dir / "from"), before);
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    EXPECT_EQ(names, std::vector<std::string>{"from"});
}

// An item that cannot go back (the desktop has its name again) is not lost: it stays in the tidy
// folder, joins the move log for Undo, and the user is told.
TEST(TidyCancel, AnItemThatCannotGoBackIsNamedAndKeptForUndo) {
    TidyWorld t;
    Progress progress;
    int reports = 0;
    progress.watch([&](Progress& p) {
        if (++reports == 3 && !fs::exists(t.desktop / "a.txt")) {
            writeFile(t.desktop / "a.txt", "new on the desktop");
            p.cancel();
        }
    });
    const auto r = tidy::tidyDesktop(t.desktop.string(), t.folder.string(), {}, progress);
    ASSERT_FALSE(r);
    EXPECT_FALSE(r.error().cancelled);
    EXPECT_NE(r.error().message.find("could not be moved back"), std::string::npos) << r.error().message;
    EXPECT_EQ(readFile(t.folder / "a.txt"), "alpha");
    EXPECT_EQ(readFile(t.desktop / "a.txt"), "new on the desktop");
    const auto log = tidy::parseMoveLog(readFile(t.folder / tidy::kMoveLogName));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->names, (std::vector<std::string>{"earlier.txt", "a.txt"}));
    EXPECT_EQ(readFile(t.desktop / "b.jpg"), std::string(200000, 'b'));  // the others went back
}

// ---- Erase ------------------------------------------------------------------------------------

struct EraseWorld {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    fs::path root = w.dir / "chosen";
    std::vector<std::string> toolGot;  // names of the files the tool overwrote, in order

    EraseWorld() {
        // The tool overwrites and deletes the file it is given, as srm and shred -u do.
        w.spawn.answer = [this](const test::FakeSpawn::Call& c) {
            if (c.program == "/usr/bin/du") return platform::Spawn::Output{0, "4\t.\n", ""};
            toolGot.push_back(readFile(c.args.back()));
            fs::remove(c.args.back());
            return platform::Spawn::Output{0, "", ""};
        };
        writeFile(root / "Folder/f1", "f1");
        writeFile(root / "Folder/f2", "f2");
        writeFile(root / "Folder/.dot", "dot");
        writeFile(root / "Folder/sub/f3", "f3");
        writeFile(root / "Folder/sub/f4", "f4");
        writeFile(root / "single", "s1");
        writeFile(root / "other", "o1");
        app = std::make_unique<AppDelegate>(w.services());
    }
    std::vector<std::string> chosen() const {
        return {(root / "Folder").string(), (root / "single").string(), (root / "other").string()};
    }
};

// Cancel pressed after every possible number of files: what the tool got is gone, everything else
// is intact, and the alert names exactly what was erased, partly erased and left.
TEST(EraseCancel, CancelledAtAnyFileWhatItSaysIsTrue) {
    // The dot file is a file like the others: overwritten, counted, and said.
    const std::map<std::string, std::string> contents = {
        {"Folder/f1", "f1"},     {"Folder/f2", "f2"}, {"Folder/.dot", "dot"}, {"Folder/sub/f3", "f3"},
        {"Folder/sub/f4", "f4"}, {"single", "s1"},    {"other", "o1"}};
    EXPECT_EQ(trash::eraseUnits(EraseWorld().root / "Folder"), 5u);
    for (std::uint64_t at = 0; at <= 7; ++at) {
        SCOPED_TRACE(at);
        EraseWorld t;
        t.w.ui.panelAnswers = {t.chosen()};
        t.w.ui.cancelAt = at;
        t.app->StartSafeDeleteFileAction();
        EXPECT_EQ(t.w.ui.progressSteps, std::vector<std::string>{"Erasing"});
        EXPECT_EQ(t.toolGot.size(), at);  // stopped before the next file, after finishing the one it had
        std::size_t intact = 0;
        for (const auto& [rel, content] : contents) {
            const bool erased = std::find(t.toolGot.begin(), t.toolGot.end(), content) != t.toolGot.end();
            if (erased) {
                EXPECT_FALSE(fs::exists(t.root / rel)) << rel;
            } else {
                EXPECT_EQ(readFile(t.root / rel), content) << rel;
                ++intact;
            }
        }
        EXPECT_EQ(intact, 7 - at);
        EXPECT_FALSE(t.app->isErasing());
        EXPECT_TRUE(t.w.ui.isHidden("eraseProgresslab"));
        const std::string folder = (t.root / "Folder").string(), single = (t.root / "single").string(),
                          other = (t.root / "other").string();
        if (at == 7) {  // pressed after the last file: all was done, and it says so by saying nothing
            EXPECT_TRUE(t.w.ui.alerts.size() == 1);  // the confirmation only
            EXPECT_FALSE(fs::exists(t.root / "Folder"));
            EXPECT_EQ(t.w.ui.text("eraseProgresslab"), "3 of 3");
            continue;
        }
        ASSERT_EQ(t.w.ui.alerts.size(), 2u);
        const auto& said = t.w.ui.alerts[1];
        EXPECT_EQ(said.message, "Erasing was cancelled.");
        std::string expected = std::to_string(at) + (at == 1 ? " file was" : " files were") + " erased.";
        if (at == 6)
            expected += "\nErased: " + folder + ", " + single + ".";
        else if (at == 5)
            expected += "\nErased: " + folder + ".";
        if (at > 0 && at < 5)
            expected += "\nPartly erased (the files not reached yet are still in it): " + folder + ".";
        if (at == 0)
            expected += "\nLeft as they were: " + folder + ", " + single + ", " + other + ".";
        else if (at < 6)
            expected += "\nLeft as they were: " + single + ", " + other + ".";
        else
            expected += "\nLeft as they were: " + other + ".";
        EXPECT_EQ(said.informative, expected);
        EXPECT_EQ(fs::exists(t.root / "Folder"), at < 5);
    }
}

// The engine's own account, as the command line prints it: gone, partly erased and left.
TEST(EraseCancel, TheRunSaysWhatIsGoneAndWhatIsLeft) {
    EraseWorld t;
    Progress progress;
    progress.watch([](Progress& p) {
        if (p.state().done == 2) p.cancel();
    });
    const auto run = trash::eraseItems(t.w.spawn, trash::defaultEraseTool(), t.chosen(), progress);
    EXPECT_TRUE(run.report.cancelled);
    EXPECT_EQ(run.report.erased, 2u);
    EXPECT_TRUE(run.gone.empty());
    EXPECT_EQ(run.left, t.chosen());
    EXPECT_EQ(run.partial, std::vector<std::string>{t.chosen()[0]});
    EXPECT_EQ(readFile(t.root / "single"), "s1");
    // Nothing cancels it: everything goes.
    EraseWorld all;
    const auto done = trash::eraseItems(all.w.spawn, trash::defaultEraseTool(), all.chosen());
    EXPECT_FALSE(done.report.cancelled);
    EXPECT_EQ(done.gone, all.chosen());
    EXPECT_TRUE(done.left.empty());
    EXPECT_FALSE(fs::exists(all.root / "Folder"));
}

}  // namespace
}  // namespace vaultry
