#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "app/PPopoverviewConterller.h"
#include "desktop/FBFileNode.h"
#include "desktop/Tidy.h"
#include "settings/Preferences.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

void setMtime(const fs::path& p, std::time_t seconds) {
    const struct timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, p.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << p;
}

std::vector<std::string> names(const FileNodes& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes) out.push_back(n->fileName());
    return out;
}

// An application controller over fakes, with a desktop and a storage location.
struct Tidy {
    test::World w;
    AppDelegate app{w.services()};
    PPopoverviewConterller& pop = app.popoverController();
    fs::path desktop = w.paths.desktop();
    fs::path store = w.dir / "store";
    fs::path folder = store / "com.Quenmark.sortello";

    Tidy() {
        fs::create_directories(desktop);
        fs::create_directories(store);  // chosen in a folder panel: it exists
        app.setStorelocationPath(store.string());
    }
    int reloads(const char* outlet) { return w.ui.at(outlet).reloads; }
    void tidyAndWait() {
        const int before = reloads("tidyTableView");
        app.ClickTidyAction();  // behind the progress window, which the fake runs in place
        EXPECT_GT(reloads("tidyTableView"), before);
        EXPECT_FALSE(app.isTidying());
    }
    void search(const std::string& text) {
        w.ui.setText("searchField", text);
        const int before = reloads("tidyTableView");
        pop.controlTextDidChange();
        ASSERT_TRUE(w.mainThread.pumpUntil([&] { return reloads("tidyTableView") > before; }));
    }
};

TEST(DesktopTidy, TidySortsTheDesktopIntoKindsNewestFirst) {
    Tidy t;
    writeFile(t.desktop / "a.jpg", "jpeg");
    writeFile(t.desktop / "b.zip", "zip!");
    writeFile(t.desktop / "c.txt", "some text");
    fs::create_directories(t.desktop / "notes.rtfd");
    writeFile(t.desktop / ".secret", "dot");
    writeFile(t.desktop / "movie.mov", "mov");
    setMtime(t.desktop / "a.jpg", 1000);
    setMtime(t.desktop / "b.zip", 4000);
    setMtime(t.desktop / "c.txt", 2000);
    setMtime(t.desktop / "notes.rtfd", 3000);
    setMtime(t.desktop / "movie.mov", 500);
    t.tidyAndWait();

    EXPECT_EQ(names(t.app.getDesktopAllArray()),
              (std::vector<std::string>{"b.zip", "notes.rtfd", "c.txt", "a.jpg", "movie.mov"}));
    EXPECT_EQ(names(t.app.getDesktopPicArray()), std::vector<std::string>{"a.jpg"});
    EXPECT_EQ(names(t.app.getDesktopArchArray()), std::vector<std::string>{"b.zip"});
    EXPECT_EQ(names(t.app.getDesktopDocArray()), (std::vector<std::string>{"notes.rtfd", "c.txt"}));
    EXPECT_EQ(names(t.app.getDesktopOtherArray()), std::vector<std::string>{"movie.mov"});
    EXPECT_TRUE(t.app.getDesktopFolderArray().empty());
    EXPECT_TRUE(t.app.getDesktopVideoArray().empty());
    // The dot file stays; everything else moved with its content.
    EXPECT_TRUE(fs::exists(t.desktop / ".secret"));
    EXPECT_FALSE(fs::exists(t.folder / ".secret"));
    EXPECT_EQ(readFile(t.folder / "c.txt"), "some text");
    EXPECT_FALSE(fs::exists(t.desktop / "c.txt"));
    EXPECT_EQ(names(t.pop.tableArray), names(t.app.getDesktopAllArray()));
    EXPECT_EQ(names(t.pop.backupArray), names(t.app.getDesktopAllArray()));
    EXPECT_TRUE(t.w.ui.alerts.empty());

    const auto& c = t.app.getDesktopDocArray()[1];
    EXPECT_EQ(c->fullFilePath(), (t.folder / "c.txt").string());
    EXPECT_EQ(c->filesizenumber(), 9u);
    EXPECT_EQ(c->fileSize(), "9.00bytes");
    EXPECT_EQ(c->fileModifyDate(), "1970-01-01 00:33:20 +0000");
    EXPECT_EQ(c->fileIcon(), platform::ImageRef::iconOf(c->fullFilePath(), 64));
    // Pictures are shown as themselves, decoded small by the GUI.
    const auto icon = t.app.getDesktopPicArray()[0]->fileIcon();
    EXPECT_EQ(icon.kind, platform::ImageRef::Kind::File);
    EXPECT_EQ(icon.size, 64);

    // A refresh reads the same folder again (no sort follows a refresh).
    t.app.freshCurrentDeskTop();
    EXPECT_EQ(t.app.getDesktopAllArray().size(), 5u);
    EXPECT_EQ(t.app.getDesktopDocArray().size(), 2u);
}

TEST(DesktopTidy, WithoutAStorageLocationItAsksWhereThenTidies) {
    Tidy t;
    t.app.setStorelocationPath("");
    writeFile(t.desktop / "a.txt", "a");
    t.app.ClickTidyAction();
    EXPECT_FALSE(t.app.isTidying());
    EXPECT_TRUE(t.w.ui.isVisible("connectWindow"));
    EXPECT_FALSE(t.w.ui.isHidden("startTidyView"));
    EXPECT_TRUE(fs::exists(t.desktop / "a.txt"));

    const fs::path location = t.w.dir / "Tidied";
    fs::create_directories(location);
    t.w.ui.panelAnswers.push_back(platform::Ui::Paths{location.string()});
    t.w.nc.post(notify::PRLeftButtonMouseDown, t.w.ui.outlet("tidybutton"));
    EXPECT_FALSE(t.w.ui.isVisible("connectWindow"));
    ASSERT_TRUE(t.w.mainThread.pumpUntil([&] { return !t.app.isTidying(); }));
    EXPECT_TRUE(fs::exists(location / "com.Quenmark.sortello/a.txt"));
    EXPECT_EQ(t.app.getDesktopAllArray().size(), 1u);
    EXPECT_EQ(t.app.browserItems().size(), 1u);  // the desktop page shows it
    EXPECT_EQ(t.app.popoverController().rowCount(), 1u);
    // The location is kept under its own key, never under the Trash's grant.
    EXPECT_TRUE(t.w.settings.data(prefkey::TidyLocationGrant));
}

TEST(DesktopTidy, ATakenNameIsNotMovedNotRecordedAndReported) {
    Tidy t;
    fs::create_directories(t.folder);
    writeFile(t.folder / "report.txt", "tidied earlier");
    writeFile(t.desktop / "report.txt", "newer on the desktop");
    fs::create_directories(t.folder / "dir");
    fs::create_directories(t.desktop / "dir");  // an empty folder must not be replaced either
    writeFile(t.desktop / "dir/inside", "x");
    writeFile(t.desktop / "free.txt", "free");
    t.tidyAndWait();

    EXPECT_EQ(readFile(t.folder / "report.txt"), "tidied earlier");
    EXPECT_EQ(readFile(t.desktop / "report.txt"), "newer on the desktop");
    EXPECT_EQ(readFile(t.desktop / "dir/inside"), "x");
    EXPECT_FALSE(fs::exists(t.folder / "dir/inside"));
    // The list is what the tidy folder holds: each name once.
    auto all = names(t.app.getDesktopAllArray());
    std::sort(all.begin(), all.end());
    EXPECT_EQ(all, (std::vector<std::string>{"dir", "free.txt", "report.txt"}));
    ASSERT_EQ(t.w.ui.alerts.size(), 1u);
    EXPECT_EQ(t.w.ui.alerts[0].message, "2 items could not be moved and stay on the Desktop.");
    EXPECT_EQ(t.w.ui.alerts[0].informative, "dir, report.txt");
    EXPECT_EQ(t.w.ui.alerts[0].defaultTitle, " Ok ");
}

// A desktop that is the home folder, the root, or holds the storage location or the settings is
// never tidied: everything stays and the user is told why.
TEST(DesktopTidy, ADesktopThatHoldsHomeRootStorageOrSettingsIsRefused) {
    Tidy t;
    writeFile(t.w.dir / "Documents/thesis.odt", "years of work");
    writeFile(t.desktop / "a.txt", "a");
    const auto refusedWith = [&](const std::string& fragment) {
        const std::size_t before = t.w.ui.alerts.size();
        t.app.ClickTidyAction();
        EXPECT_FALSE(t.app.isTidying());
        ASSERT_EQ(t.w.ui.alerts.size(), before + 1);
        EXPECT_EQ(t.w.ui.alerts.back().message, "The Desktop could not be tidied.");
        EXPECT_NE(t.w.ui.alerts.back().informative.find(fragment), std::string::npos)
            << t.w.ui.alerts.back().informative;
        EXPECT_EQ(readFile(t.w.dir / "Documents/thesis.odt"), "years of work");
        EXPECT_TRUE(fs::exists(t.desktop / "a.txt"));
        EXPECT_FALSE(fs::exists(t.folder));
    };
    // XDG_DESKTOP_DIR="$HOME/" switches the desktop off by naming the home folder.
    t.w.paths.desktopDir = t.w.dir.path().string() + "/";
    refusedWith("the home folder");
    t.w.paths.desktopDir = t.w.dir / "Documents/..";
    refusedWith("the home folder");
    t.w.paths.desktopDir = "/";
    refusedWith("the root folder");
    t.w.paths.desktopDir = t.desktop;
    fs::create_directories(t.desktop / "Store");
    t.app.setStorelocationPath((t.desktop / "Store").string());
    refusedWith("holds the storage location");
    t.app.setStorelocationPath(t.desktop.string());
    refusedWith("holds the storage location");
    t.app.setStorelocationPath(t.store.string());
    fs::create_directories(t.w.dir / "elsewhere");
    fs::create_directories(t.w.dir / ".config");
    fs::create_directory_symlink(t.w.dir / ".config", t.w.dir / "elsewhere/settings-link");
    t.w.paths.desktopDir = t.w.dir / ".config";  // a link to it counts as well
    refusedWith("holds the settings folder");
    t.w.paths.desktopDir = t.w.dir / "elsewhere/settings-link";
    refusedWith("holds the settings folder");

    // An ordinary desktop beside them is tidied.
    t.w.paths.desktopDir = t.desktop;
    fs::remove(t.desktop / "Store");
    t.tidyAndWait();
    EXPECT_TRUE(fs::exists(t.folder / "a.txt"));
}

TEST(DesktopTidy, DesktopRefusalLooksAtResolvedPaths) {
    test::TempDir dir;
    const fs::path home = dir / "home";
    fs::create_directories(home / "Desktop");
    fs::create_directories(home / ".config");
    const std::string settings = (home / ".config").string();
    const std::string store = (dir / "store").string();
    EXPECT_EQ(tidy::desktopRefusal((home / "Desktop").string(), home.string(), store, settings), "");
    EXPECT_EQ(tidy::desktopRefusal((home / "Desktop/").string(), home.string(), store, settings), "");
    EXPECT_NE(tidy::desktopRefusal(home.string() + "/", home.string(), store, settings), "");
    EXPECT_NE(tidy::desktopRefusal(home.string() + "//.", home.string() + "/", store, settings), "");
    EXPECT_NE(tidy::desktopRefusal("/", home.string(), store, settings), "");
    EXPECT_NE(tidy::desktopRefusal("//", home.string(), store, settings), "");
    // A desktop holding the storage location deep down, or the settings folder.
    EXPECT_NE(tidy::desktopRefusal(dir.path().string(), home.string(), store + "/a/b", settings), "");
    EXPECT_NE(tidy::desktopRefusal(home.string(), (dir / "other").string(), store, settings), "");
    // A name that only begins like the storage location does not hold it.
    EXPECT_EQ(tidy::desktopRefusal((dir / "sto").string(), home.string(), store, settings), "");
    EXPECT_EQ(tidy::desktopRefusal((home / "Desktop").string(), home.string(), "", ""), "");
}

TEST(DesktopTidy, OddNamesLinksAndManyEntriesAllArrive) {
    test::TempDir dir;
    const fs::path desktop = dir / "Desktop", folder = dir / "tidy";
    fs::create_directories(desktop);
    const std::vector<std::string> odd = {"line\nbreak.txt", "quote\"d 'name'.pdf",
                                          std::string("bad\xff\xfe.jpg"), "dangling"};
    for (const auto& n : odd) {
        if (n == "dangling")
            fs::create_symlink(dir / "nowhere", desktop / n);
        else
            writeFile(desktop / n, n);
    }
    for (int i = 0; i < 10000; ++i) writeFile(desktop / ("f" + std::to_string(i) + ".txt"), "");
    const auto outcome = tidy::tidyDesktop(desktop.string(), folder.string());
    ASSERT_TRUE(outcome);
    EXPECT_TRUE(outcome->failed.empty());
    EXPECT_EQ(outcome->moved.size(), 10004u);
    EXPECT_TRUE(tidy::visibleNames(desktop.string()).empty());
    EXPECT_TRUE(fs::is_symlink(folder / "dangling"));
    EXPECT_EQ(readFile(folder / "line\nbreak.txt"), "line\nbreak.txt");
    const auto nodes = scanFolder(folder.string());
    EXPECT_EQ(nodes.size(), 10004u);
    for (const auto& n : nodes)
        if (n->fileName() == "dangling") {
            EXPECT_EQ(n->fileKindType(), "Other");
        }
}

TEST(DesktopTidy, AnOriginalChangedWhileItIsCopiedStaysWhole) {
    test::TempDir dir;
    const fs::path src = dir / "project";
    fs::create_directories(src);
    writeFile(src / "draft.txt", "draft");
    // A file saved into the folder after the copy was compared must not be deleted with it.
    const auto r = tidy::copyThenDelete(src.string(), (dir / "moved").string(),
                                        [&] { writeFile(src / "saved-meanwhile.txt", "new work"); });
    EXPECT_EQ(r.error, tidy::MoveError::Failed);
    EXPECT_EQ(readFile(src / "saved-meanwhile.txt"), "new work");
    EXPECT_EQ(readFile(src / "draft.txt"), "draft");
    EXPECT_FALSE(fs::exists(dir / "moved"));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
    EXPECT_EQ(left, (std::vector<std::string>{"project"}));
}

TEST(DesktopTidy, MovesAcrossFileSystemsCopyCompareThenDelete) {
    test::TempDir dir;
    const fs::path src = dir / "tree";
    fs::create_directories(src / "sub/deeper");
    writeFile(src / "sub/a.bin", std::string(3'000'000, 'z'));
    writeFile(src / "sub/deeper/b", "b");
    fs::create_symlink("../nowhere", src / "sub/link");
    setMtime(src / "sub/a.bin", 12345);
    fs::permissions(src / "sub/a.bin", fs::perms(0666));
    const auto r = tidy::copyThenDelete(src.string(), (dir / "moved").string());
    ASSERT_TRUE(r.ok()) << r.message;
    EXPECT_FALSE(fs::exists(src));
    EXPECT_EQ(readFile(dir / "moved/sub/a.bin"), std::string(3'000'000, 'z'));
    EXPECT_EQ(readFile(dir / "moved/sub/deeper/b"), "b");
    EXPECT_EQ(fs::status(dir / "moved/sub/a.bin").permissions(), fs::perms(0666));
    EXPECT_EQ(fs::read_symlink(dir / "moved/sub/link"), "../nowhere");
    EXPECT_EQ(makeFileNode((dir / "moved/sub/a.bin").string())->fileModifyDate(),
              "1970-01-01 03:25:45 +0000");

    // A taken name or an item that cannot be copied leaves the original and no leftovers.
    writeFile(dir / "keep", "keep");
    writeFile(dir / "taken", "taken");
    EXPECT_EQ(tidy::copyThenDelete((dir / "keep").string(), (dir / "taken").string()).error,
              tidy::MoveError::NameTaken);
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    EXPECT_EQ(tidy::copyThenDelete((dir / "pipe").string(), (dir / "pipe2").string()).error,
              tidy::MoveError::Failed);
    EXPECT_EQ(readFile(dir / "keep"), "keep");
    EXPECT_EQ(readFile(dir / "taken"), "taken");
    EXPECT_TRUE(fs::exists(dir / "pipe"));
    std::vector<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.path())) left.push_back(e.path().filename().string());
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"keep", "moved", "pipe", "taken"}));

    // moveItem takes the same path when the tidy folder is on another file system.
    struct stat a {
    }, b{};
    if (::stat(dir.path().c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
        ::access("/dev/shm", W_OK) == 0) {
        const fs::path other = fs::path("/dev/shm") / ("vaultry-test-" + std::to_string(::getpid()));
        fs::create_directories(other);
        EXPECT_TRUE(tidy::moveItem((dir / "keep").string(), (other / "keep").string()).ok());
        EXPECT_EQ(readFile(other / "keep"), "keep");
        EXPECT_FALSE(fs::exists(dir / "keep"));
        fs::remove_all(other);
    }
    EXPECT_EQ(tidy::moveItem((dir / "gone").string(), (dir / "x").string()).error, tidy::MoveError::Vanished);
}

TEST(DesktopTidy, RecordHelpers) {
    EXPECT_EQ(pictureIconSize(4000, 3000), (std::pair{64, 48}));
    EXPECT_EQ(pictureIconSize(3000, 4000), (std::pair{40, 54}));
    EXPECT_EQ(pictureIconSize(100, 100), (std::pair{54, 54}));
    EXPECT_EQ(pictureIconSize(10000, 1), (std::pair{64, 1}));
    EXPECT_EQ(pictureIconSize(0, 5), (std::pair{0, 0}));
    EXPECT_TRUE(tidy::nameContains("My REPORT.txt", "rep"));
    EXPECT_FALSE(tidy::nameContains("rep", "repo"));
    EXPECT_EQ(tidy::storageFolder(""), "");
    EXPECT_EQ(tidy::storageFolder("/u/store"), "/u/store/com.Quenmark.sortello");
    for (const char* bad : {"", ".", "..", "a/b", "/x"}) EXPECT_FALSE(tidy::isPlainName(bad)) << bad;
    EXPECT_TRUE(tidy::isPlainName("..hidden"));
    const auto missing = makeFileNode("/nonexistent/x.png");
    EXPECT_EQ(missing->fileName(), "x.png");
    EXPECT_EQ(missing->fileSize(), "");
    EXPECT_EQ(missing->fileKindType(), "Pictures");
}

// A tidy list of five records r0..r4 with the popover showing them.
struct Listed : Tidy {
    Listed(std::vector<std::string> files = {"r0.txt", "r1.jpg", "r2.zip", "r3.txt", "r4.bin"}) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            writeFile(desktop / files[i], files[i]);
            setMtime(desktop / files[i], static_cast<std::time_t>(10000 - i));
        }
        tidyAndWait();
    }
};

TEST(TidyList, DragMovesTheSourceRowToTheDropRow) {
    Listed t;
    ASSERT_EQ(names(t.pop.tableArray),
              (std::vector<std::string>{"r0.txt", "r1.jpg", "r2.zip", "r3.txt", "r4.bin"}));
    EXPECT_TRUE(t.pop.tableViewWriteRowsWithIndexes({0, 1}));
    EXPECT_EQ(t.pop.sourceIndex, 0);
    EXPECT_TRUE(t.pop.tableViewAcceptDrop(3));
    EXPECT_EQ(names(t.pop.tableArray),
              (std::vector<std::string>{"r1.jpg", "r2.zip", "r0.txt", "r3.txt", "r4.bin"}));
    EXPECT_TRUE(t.pop.tableViewWriteRowsWithIndexes({4}));
    EXPECT_TRUE(t.pop.tableViewAcceptDrop(0));
    EXPECT_EQ(names(t.pop.tableArray),
              (std::vector<std::string>{"r4.bin", "r1.jpg", "r2.zip", "r0.txt", "r3.txt"}));
    EXPECT_TRUE(t.pop.tableViewWriteRowsWithIndexes({2}));
    EXPECT_TRUE(t.pop.tableViewAcceptDrop(2));  // onto itself: unchanged
    EXPECT_TRUE(t.pop.tableViewWriteRowsWithIndexes({1}));
    EXPECT_TRUE(t.pop.tableViewAcceptDrop(5));  // after the last row
    EXPECT_EQ(names(t.pop.tableArray),
              (std::vector<std::string>{"r4.bin", "r2.zip", "r0.txt", "r3.txt", "r1.jpg"}));
    EXPECT_FALSE(t.pop.tableViewWriteRowsWithIndexes({}));
    EXPECT_TRUE(t.pop.tableViewWriteRowsWithIndexes({0}));
    EXPECT_FALSE(t.pop.tableViewAcceptDrop(6));
    EXPECT_EQ(t.pop.tableArray.size(), 5u);
    EXPECT_EQ(t.app.getDesktopAllArray()[0]->fileName(), "r0.txt");  // only the table changes
}

TEST(TidyList, SearchNarrowsUntilTheFieldIsEmptied) {
    Listed t({"report.txt", "Repo.zip", "prep.doc", "other.png"});
    t.search("rep");
    EXPECT_EQ(names(t.pop.tableArray), (std::vector<std::string>{"report.txt", "Repo.zip", "prep.doc"}));
    t.search("repo");
    EXPECT_EQ(names(t.pop.tableArray), (std::vector<std::string>{"report.txt", "Repo.zip"}));
    t.search("rep");  // deleting a character does not widen
    EXPECT_EQ(names(t.pop.tableArray), (std::vector<std::string>{"report.txt", "Repo.zip"}));
    EXPECT_EQ(names(t.pop.filterArray), names(t.pop.tableArray));
    t.w.ui.setText("searchField", "");
    t.pop.controlTextDidChange();
    EXPECT_EQ(t.pop.tableArray.size(), 4u);
}

TEST(TidyList, KindButtonsAndMenuChooseTheList) {
    Listed t;
    const auto before = t.pop.tableArray;
    t.w.nc.post(notify::PBypeButtonMouseDown, t.w.ui.outlet("imageBtn"));
    EXPECT_EQ(names(t.pop.tableArray), std::vector<std::string>{"r1.jpg"});
    EXPECT_EQ(t.w.ui.image("imageBtn"), platform::ImageRef::named("imagedownbtn"));
    EXPECT_EQ(t.w.ui.image("allBtn"), platform::ImageRef::named("allnombbtn"));
    EXPECT_EQ(t.w.ui.image("tidyOtherBtn"), platform::ImageRef::named("othernombbtn"));
    // The desktop page's own kind buttons are not the popover's: a press there changes nothing
    // here, and the popover's buttons leave the page's faces alone.
    t.w.nc.post(notify::PBypeButtonMouseDown, t.w.ui.outlet("otherBtn"));
    EXPECT_EQ(names(t.pop.tableArray), std::vector<std::string>{"r1.jpg"});
    EXPECT_EQ(t.w.ui.image("otherBtn"), platform::ImageRef{});
    t.w.nc.post(notify::PBypeButtonMouseDown, t.w.ui.outlet("tidyOtherBtn"));
    EXPECT_EQ(names(t.pop.tableArray), std::vector<std::string>{"r4.bin"});
    EXPECT_EQ(t.w.ui.image("tidyOtherBtn"), platform::ImageRef::named("otherdownbbtn"));
    EXPECT_EQ(t.w.ui.image("otherBtn"), platform::ImageRef{});

    t.w.ui.setNumber("thepBtn", 0);  // All Content
    t.pop.SelectItemAction();
    EXPECT_EQ(t.pop.tableArray.size(), 5u);
    t.w.ui.setNumber("thepBtn", 5);  // Audios: unchanged
    t.pop.SelectItemAction();
    EXPECT_EQ(t.pop.tableArray.size(), 5u);
    t.w.ui.setNumber("thepBtn", 4);  // Videos: always empty
    t.pop.SelectItemAction();
    EXPECT_TRUE(t.pop.tableArray.empty());
    t.w.ui.setNumber("thepBtn", 3);
    t.pop.SelectItemAction();
    EXPECT_EQ(names(t.pop.tableArray), (std::vector<std::string>{"r0.txt", "r3.txt"}));
}

TEST(TidyList, RowCommandsActOnlyOnARealRow) {
    Listed t;
    for (long row : {-1L, 5L, 100L}) {
        t.pop.CopyAction(row);
        t.pop.ClickCopyFileAct(row);
        t.pop.doubleclickAction(row);
        t.pop.ClickOpenFileAct(row);
        t.pop.ClickShowInFinderAct(row);
        t.pop.ClickRestoreFileAct(row);
        t.pop.ClickDeleteFileAct(row);
    }
    EXPECT_TRUE(t.w.workspace.copied.empty() && t.w.workspace.opened.empty() &&
                t.w.workspace.revealed.empty() && t.w.ui.alerts.empty());
    EXPECT_EQ(t.pop.tableArray.size(), 5u);
    const std::string r1 = (t.folder / "r1.jpg").string();
    t.pop.CopyAction(1);
    t.pop.ClickCopyFileAct(1);
    t.pop.doubleclickAction(1);
    t.pop.ClickOpenFileAct(1);
    t.pop.ClickShowInFinderAct(1);
    EXPECT_EQ(t.w.workspace.copied, (std::vector<std::vector<std::string>>{{r1}, {r1}}));
    EXPECT_EQ(t.w.workspace.opened, (std::vector<std::string>{r1, r1}));
    EXPECT_EQ(t.w.workspace.revealed, std::vector<std::string>{r1});
}

TEST(TidyList, WhereNothingCanShowOrOpenAnItemItsPathIsOfferedToCopy) {
    Listed t;
    t.w.workspace.fileManager = false;
    const std::string r1 = (t.folder / "r1.jpg").string();
    t.w.ui.alertAnswers = {platform::AlertAnswer::Default, platform::AlertAnswer::Alternate};
    t.pop.ClickShowInFinderAct(1);
    t.pop.ClickOpenFileAct(1);
    ASSERT_EQ(t.w.ui.alerts.size(), 2u);
    EXPECT_EQ(t.w.ui.alerts[0].message, "No file manager can show this item.");
    EXPECT_EQ(t.w.ui.alerts[1].message, "No application can open this item.");
    EXPECT_EQ(t.w.ui.alerts[1].defaultTitle, " Copy ");
    // Copy was chosen once, Close once.
    EXPECT_EQ(t.w.workspace.copiedTexts, std::vector<std::string>{r1});
    EXPECT_EQ(t.w.workspace.revealed, std::vector<std::string>{r1});
    EXPECT_EQ(t.w.workspace.opened, std::vector<std::string>{r1});
}

TEST(TidyList, RestoreNeverOverwritesAndDeleteRemovesForGood) {
    Listed t;
    t.search("r");  // the records must also leave the search's full copy
    writeFile(t.desktop / "r0.txt", "a new r0 on the desktop");
    t.pop.ClickRestoreFileAct(0);
    ASSERT_EQ(t.w.ui.alerts.size(), 1u);
    EXPECT_EQ(t.w.ui.alerts[0].message, "The Desktop already has an item named \"r0.txt\".");
    EXPECT_EQ(readFile(t.desktop / "r0.txt"), "a new r0 on the desktop");
    EXPECT_EQ(readFile(t.folder / "r0.txt"), "r0.txt");
    EXPECT_EQ(t.pop.tableArray.size(), 5u);

    t.pop.ClickRestoreFileAct(1);  // r1.jpg
    EXPECT_EQ(readFile(t.desktop / "r1.jpg"), "r1.jpg");
    EXPECT_FALSE(fs::exists(t.folder / "r1.jpg"));
    EXPECT_TRUE(t.app.getDesktopPicArray().empty());
    EXPECT_EQ(t.app.getDesktopAllArray().size(), 4u);

    // Deleting asks first; a No keeps the item.
    t.w.ui.alertAnswers = {platform::AlertAnswer::Alternate};
    t.pop.ClickDeleteFileAct(1);  // r2.zip
    ASSERT_EQ(t.w.ui.alerts.size(), 2u);
    EXPECT_EQ(t.w.ui.alerts[1].message, "Are you sure you want to delete \"r2.zip\"?");
    EXPECT_EQ(t.w.ui.alerts[1].defaultTitle, " Delete ");
    EXPECT_TRUE(fs::exists(t.folder / "r2.zip"));
    t.pop.ClickDeleteFileAct(1);
    EXPECT_FALSE(fs::exists(t.folder / "r2.zip"));
    EXPECT_FALSE(fs::exists(t.desktop / "r2.zip"));
    EXPECT_TRUE(t.app.getDesktopArchArray().empty());
    EXPECT_EQ(names(t.pop.tableArray), (std::vector<std::string>{"r0.txt", "r3.txt", "r4.bin"}));
    t.w.ui.setText("searchField", "");
    t.pop.controlTextDidChange();
    EXPECT_EQ(names(t.pop.tableArray), (std::vector<std::string>{"r0.txt", "r3.txt", "r4.bin"}));
    EXPECT_EQ(t.w.ui.alerts.size(), 3u);
}

TEST(DesktopBrowser, FoldersOpenInPlaceAndBackReturns) {
    Tidy t;
    fs::create_directories(t.desktop / "photos/inner");
    writeFile(t.desktop / "photos/b.jpg", "b");
    writeFile(t.desktop / "photos/.DS_Store", "");
    writeFile(t.desktop / "photos/a.txt", "a");
    writeFile(t.desktop / "paper.pdf", "pdf");
    t.tidyAndWait();
    t.app.selectFolders();
    ASSERT_EQ(names(t.app.browserItems()), std::vector<std::string>{"photos"});
    t.app.imageBrowserCellWasDoubleClicked(0);
    EXPECT_EQ(names(t.app.browserItems()), (std::vector<std::string>{"a.txt", "b.jpg", "inner"}));
    ASSERT_EQ(t.app.browserTrailDepth(), 1u);
    t.app.imageBrowserCellWasDoubleClicked(2);
    EXPECT_TRUE(t.app.browserItems().empty());
    t.app.imageBrowserCellWasDoubleClicked(0);  // nothing there
    t.app.ClickBackAction();
    t.app.imageBrowserCellWasDoubleClicked(1);
    EXPECT_EQ(t.w.workspace.opened, std::vector<std::string>{(t.folder / "photos/b.jpg").string()});
    t.app.ClickBackAction();
    EXPECT_EQ(names(t.app.browserItems()), std::vector<std::string>{"photos"});
    t.app.ClickBackAction();  // an empty trail: nothing changes
    EXPECT_EQ(names(t.app.browserItems()), std::vector<std::string>{"photos"});
    t.app.selectDocuments();
    EXPECT_EQ(names(t.app.browserItems()), std::vector<std::string>{"paper.pdf"});
    EXPECT_EQ(t.app.browserTrailDepth(), 0u);
    t.app.selectAllDesktop();
    EXPECT_EQ(t.app.browserItems().size(), 2u);
    for (auto select :
         {&AppDelegate::selectPictures, &AppDelegate::selectArchives, &AppDelegate::selectOthers}) {
        (t.app.*select)();
        EXPECT_TRUE(t.app.browserItems().empty());
    }
    EXPECT_GE(t.reloads("theBroswerView"), 8);
}

// ---- vaultry-cli tidy, run as a user runs it ----------------------------------------------------

using test::runCli;

TEST(TidyCli, RunListSearchRestoreDelete) {
    test::TempDir home;
    fs::create_directories(home / "Desktop");
    EXPECT_EQ(runCli(home.path(), {"tidy", "list"}).code, 1);  // no tidy location yet
    {
        // A vault storage folder is not a tidy location.
        SettingsStore settings(home / ".config/com.Quenmark.vaultry.plist");
        settings.set(prefkey::StorePath, (home / "store/vaultry.data").string());
        ASSERT_TRUE(settings.flush());
    }
    fs::create_directories(home / "store/vaultry.data");
    writeFile(home / "Desktop/keep.txt", "keep");
    auto refused = runCli(home.path(), {"tidy", "run", "--yes"});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("no tidy location is chosen"), std::string::npos) << refused.err;
    EXPECT_EQ(runCli(home.path(), {"tidy", "location", (home / "store/vaultry.data/in").string()}).code, 1);
    fs::create_directories(home / "store/vaultry.data/in");
    refused = runCli(home.path(), {"tidy", "location", (home / "store/vaultry.data/in").string()});
    EXPECT_NE(refused.err.find("cannot go into the vault's storage folder"), std::string::npos)
        << refused.err;
    EXPECT_EQ(runCli(home.path(), {"tidy", "location", (home / "store").string()}).code, 0);
    EXPECT_EQ(runCli(home.path(), {"tidy", "location"}).out, (home / "store").string() + "\n");
    fs::remove(home / "Desktop/keep.txt");
    writeFile(home / "Desktop/old.jpg", "jpg");
    writeFile(home / "Desktop/new report.txt", "txt");
    writeFile(home / "Desktop/line\nbreak", "x");
    setMtime(home / "Desktop/old.jpg", 1000);
    setMtime(home / "Desktop/new report.txt", 5000);
    setMtime(home / "Desktop/line\nbreak", 3000);
    EXPECT_EQ(runCli(home.path(), {"tidy", "run"}).code, 2);  // not a terminal and no --yes
    EXPECT_TRUE(fs::exists(home / "Desktop/old.jpg"));
    auto r = runCli(home.path(), {"tidy", "run", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    const fs::path folder = home / "store/com.Quenmark.sortello";
    EXPECT_TRUE(fs::exists(folder / "old.jpg"));

    r = runCli(home.path(), {"tidy", "list"});
    EXPECT_EQ(r.out,
              "Documents\t3.00bytes\tnew "
              "report.txt\nOther\t1.00bytes\tline\\nbreak\nPictures\t3.00bytes\told.jpg\n");
    r = runCli(home.path(), {"tidy", "list", "--kind", "pictures", "--json"});
    EXPECT_NE(r.out.find("\"name\": \"old.jpg\""), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("report"), std::string::npos);
    EXPECT_EQ(runCli(home.path(), {"tidy", "list", "--kind", "videos"}).code, 2);
    EXPECT_EQ(runCli(home.path(), {"tidy", "search", "REPORT"}).out,
              "Documents\t3.00bytes\tnew report.txt\n");

    writeFile(home / "Desktop/old.jpg", "someone else's");
    r = runCli(home.path(), {"tidy", "restore", "old.jpg", "new report.txt"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("vaultry-cli: the desktop already has an item named 'old.jpg'"), std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(home / "Desktop/old.jpg"), "someone else's");
    EXPECT_EQ(readFile(home / "Desktop/new report.txt"), "txt");
    EXPECT_EQ(runCli(home.path(), {"tidy", "restore", "../x"}).code, 2);

    EXPECT_EQ(runCli(home.path(), {"tidy", "delete", "old.jpg"}).code, 2);
    EXPECT_TRUE(fs::exists(folder / "old.jpg"));
    EXPECT_EQ(runCli(home.path(), {"tidy", "delete", "old.jpg", "--yes"}).code, 0);
    EXPECT_FALSE(fs::exists(folder / "old.jpg"));
    EXPECT_EQ(runCli(home.path(), {"tidy", "delete", "old.jpg", "--yes"}).code, 1);

    // A tidy folder reached through a link: what a name stands for depends on the link, so
    // nothing is deleted.
    fs::create_directory_symlink(home / "store", home / "via-link");
    test::chooseTidyLocation(home.path(), home / "via-link");
    r = runCli(home.path(), {"tidy", "delete", "--yes", "line\nbreak"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("refused: " + (home / "via-link").string() + " is a symbolic link"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(folder / "line\nbreak"), "x");
    test::chooseTidyLocation(home.path(), home / "store");

    // A user-dirs file that switches the desktop off names the home folder: nothing is moved.
    writeFile(home / ".config/user-dirs.dirs", "XDG_DESKTOP_DIR=\"$HOME/\"\n");
    writeFile(home / "Documents/thesis.odt", "years of work");
    r = runCli(home.path(), {"tidy", "run", "--yes"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("not tidying: the desktop folder " + home.path().string() +
                         "/ resolves to the home folder"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(readFile(home / "Documents/thesis.odt"), "years of work");
    EXPECT_FALSE(fs::exists(folder / "Documents"));
}

}  // namespace
}  // namespace vaultry
