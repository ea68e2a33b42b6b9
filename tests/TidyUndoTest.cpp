// Tidy exclusions, dry run, the move log and undo, and the automatic daily tidy: the engine, the
// controller over fakes, and vaultry-cli's tidy commands.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <ctime>
#include <filesystem>

#include "app/AppDelegate.h"
#include "desktop/Tidy.h"
#include "settings/Preferences.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/TreeState.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::writeFile;

struct Desk {
    test::TempDir dir;
    fs::path desktop = dir / "Desktop";
    fs::path folder = dir / "store/com.Quenmark.sortello";
    Desk() {
        fs::create_directories(folder.parent_path());  // the location the user chose
        writeFile(desktop / "a.txt", "a");
        writeFile(desktop / "b.png", "b");
        writeFile(desktop / "c 100%.pdf", "c");
        writeFile(desktop / "Firefox.desktop", "[Desktop Entry]\n");
        writeFile(desktop / "notes/n.txt", "n");
    }
};

TEST(TidyOptions, DryRunListsAndExclusionsStay) {
    Desk d;
    tidy::TidyOptions options{{"*.desktop", "[n]otes"}, true};
    EXPECT_TRUE(tidy::isExcluded("Firefox.desktop", options.exclusions));
    EXPECT_FALSE(tidy::isExcluded("desktop", options.exclusions));
    EXPECT_FALSE(tidy::isExcluded("Notes", options.exclusions));

    auto dry = tidy::tidyDesktop(d.desktop.string(), d.folder.string(), options);
    ASSERT_TRUE(dry);
    std::vector<std::string> would;
    for (const auto& to : dry->moved) would.push_back(fs::path(to).filename().string());
    EXPECT_EQ(would, (std::vector<std::string>{"a.txt", "b.png", "c 100%.pdf"}));
    EXPECT_EQ(dry->excluded, (std::vector<std::string>{"Firefox.desktop", "notes"}));
    EXPECT_FALSE(present(d.folder));  // nothing made, nothing moved
    EXPECT_TRUE(present(d.desktop / "a.txt"));

    options.dryRun = false;
    auto real = tidy::tidyDesktop(d.desktop.string(), d.folder.string(), options);
    ASSERT_TRUE(real);
    EXPECT_EQ(real->moved.size(), 3u);
    EXPECT_TRUE(present(d.desktop / "Firefox.desktop"));
    EXPECT_TRUE(present(d.desktop / "notes/n.txt"));
    EXPECT_FALSE(present(d.desktop / "a.txt"));
    // The log of this tidy is a dot file of the tidy folder, so the tidy list never shows it.
    const auto log = tidy::parseMoveLog(readFile(d.folder / tidy::kMoveLogName));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->desktop, d.desktop.string());
    EXPECT_EQ(log->names, (std::vector<std::string>{"a.txt", "b.png", "c 100%.pdf"}));
    EXPECT_EQ(tidy::visibleNames(d.folder.string()), log->names);
}

TEST(TidyUndo, PartialCollisionIsReportedAndLeftInTheTidyFolder) {
    Desk d;
    ASSERT_TRUE(tidy::tidyDesktop(d.desktop.string(), d.folder.string()));
    // Since the tidy: a new a.txt on the desktop, b.png deleted from the tidy folder.
    writeFile(d.desktop / "a.txt", "new a");
    fs::remove(d.folder / "b.png");
    const auto undo = tidy::undoLastTidy(d.folder.string());
    ASSERT_TRUE(undo) << undo.error().message;
    EXPECT_EQ(undo->restored, (std::vector<std::string>{"Firefox.desktop", "c 100%.pdf", "notes"}));
    EXPECT_EQ(undo->taken, (std::vector<std::string>{"a.txt"}));
    EXPECT_EQ(undo->missing, (std::vector<std::string>{"b.png"}));
    EXPECT_EQ(readFile(d.desktop / "a.txt"), "new a");  // never overwritten
    EXPECT_EQ(readFile(d.folder / "a.txt"), "a");       // stays where it was tidied to
    EXPECT_EQ(readFile(d.desktop / "notes/n.txt"), "n");
    EXPECT_FALSE(present(d.folder / tidy::kMoveLogName));
    EXPECT_FALSE(tidy::undoLastTidy(d.folder.string()));  // nothing left to undo

    // A tidy that moves nothing keeps the log of the one before.
    writeFile(d.desktop / "z.txt", "z");
    ASSERT_TRUE(tidy::tidyDesktop(d.desktop.string(), d.folder.string(), {{"[!z]*"}, false}));
    ASSERT_TRUE(tidy::tidyDesktop(d.desktop.string(), d.folder.string(), {{"*"}, false}));
    const auto log = tidy::parseMoveLog(readFile(d.folder / tidy::kMoveLogName));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->names, (std::vector<std::string>{"z.txt"}));
}

TEST(TidyUndo, MoveLogKeepsOddNames) {
    const tidy::MoveLog log{"/home/u/Bureau 100%", {"line\nbreak", "50%", "carriage\rret", "plain"}};
    const auto back = tidy::parseMoveLog(tidy::formatMoveLog(log));
    ASSERT_TRUE(back);
    EXPECT_EQ(back->desktop, log.desktop);
    EXPECT_EQ(back->names, log.names);
    EXPECT_FALSE(tidy::parseMoveLog("something else\ndesktop=/x\n"));
    // Names that could leave the tidy folder are dropped.
    const auto hostile = tidy::parseMoveLog("vaultry-tidy-log 1\ndesktop=/d\n../../etc\n..\nok\n");
    ASSERT_TRUE(hostile);
    EXPECT_EQ(hostile->names, (std::vector<std::string>{"ok"}));
}

TEST(AutoTidy, OnceADayAtTheChosenTimeAlsoAfterASleep) {
    using namespace std::chrono;
    const auto base = system_clock::from_time_t(1'765'000'000);
    const auto nine = tidy::lastScheduledMoment(base, 9, 0);
    EXPECT_LE(nine, base);
    EXPECT_GT(nine, base - hours(25));
    const std::time_t t = system_clock::to_time_t(nine);
    std::tm tm{};
    localtime_r(&t, &tm);
    EXPECT_EQ(tm.tm_hour, 9);
    EXPECT_EQ(tm.tm_min, 0);

    EXPECT_FALSE(tidy::autoTidyDue(std::nullopt, base, 9, 0));  // armed, not fired
    EXPECT_FALSE(tidy::autoTidyDue(nine, nine, 9, 0));          // ran at nine
    EXPECT_TRUE(tidy::autoTidyDue(nine - seconds(1), nine, 9, 0));
    // Asleep from before nine until three days later: one tidy at wake, then none till the next nine.
    const auto wake = nine + hours(72) + hours(3);
    EXPECT_TRUE(tidy::autoTidyDue(nine - hours(1), wake, 9, 0));
    EXPECT_FALSE(tidy::autoTidyDue(wake, wake + hours(20), 9, 0));
    EXPECT_TRUE(tidy::autoTidyDue(wake, wake + hours(24), 9, 0));

    EXPECT_EQ(tidy::parseHourMinute("07:05"), (std::pair{7, 5}));
    for (const char* bad : {"", "7:05", "24:00", "12:60", "ab:cd", "12:5x"})
        EXPECT_FALSE(tidy::parseHourMinute(bad));
}

struct AutoTidyWorld {
    test::World w;
    AppDelegate app{w.services()};
    fs::path desktop = w.paths.desktop();
    fs::path store = w.dir / "store";
    fs::path folder = store / "com.Quenmark.sortello";
    AutoTidyWorld() {
        fs::create_directories(store);  // the location the user chose
        writeFile(desktop / "a.txt", "a");
        writeFile(desktop / "b.txt", "b");
        writeFile(desktop / "vaultry.desktop", "[Desktop Entry]\n");
        w.settings.set(prefkey::TidyExclusions, StringArray{"*.desktop"});
        w.ui.setState("autoCleanupSelectBtn", true);
        w.ui.setText("tidyTimePicker", "09:00");
        w.settings.set(prefkey::TidyTime, "09:00");  // set by the user beside the box
    }
    void tick() { app.BMakeModeTimer_hander(); }
};

TEST(AutoTidy, TheTickTidiesNotifiesAndUndoes) {
    using namespace std::chrono;
    AutoTidyWorld t;
    t.app.setStorelocationPath(t.store.string());
    const auto nine = tidy::lastScheduledMoment(t.w.clock.t, 9, 0) + hours(24);  // the next nine
    t.tick();                                                                    // arms the schedule
    EXPECT_TRUE(t.w.settings.date(prefkey::LastAutoTidyDate));
    t.w.clock.t = nine - seconds(1);
    t.tick();
    EXPECT_FALSE(t.app.isTidying());
    EXPECT_TRUE(present(t.desktop / "a.txt"));

    t.w.clock.t = nine + hours(5);  // asleep at nine: the next tick after waking tidies
    t.tick();
    ASSERT_TRUE(t.w.mainThread.pumpUntil([&] { return !t.w.notifier.scheduled.empty(); }));
    t.app.joinTidyWorkerForTest();
    EXPECT_FALSE(present(t.desktop / "a.txt"));
    EXPECT_TRUE(present(t.desktop / "vaultry.desktop"));  // excluded
    ASSERT_EQ(t.w.notifier.scheduled.size(), 1u);
    EXPECT_EQ(t.w.notifier.scheduled[0].body, "2 items moved into the tidy folder.");
    EXPECT_EQ(t.w.notifier.scheduled[0].actions, (std::vector<std::string>{"Undo"}));
    EXPECT_TRUE(t.w.ui.alerts.empty());
    EXPECT_EQ(t.app.getDesktopAllArray().size(), 2u);

    t.tick();  // once a day
    t.w.clock.t += hours(2);
    t.tick();
    EXPECT_EQ(t.w.notifier.scheduled.size(), 1u);

    // "Undo" from the notification, with a.txt made again meanwhile.
    writeFile(t.desktop / "a.txt", "again");
    ASSERT_TRUE(t.w.notifier.handler);
    t.w.notifier.handler(t.w.notifier.scheduled[0].identifier, "Undo");
    EXPECT_EQ(readFile(t.desktop / "b.txt"), "b");
    EXPECT_EQ(readFile(t.desktop / "a.txt"), "again");
    EXPECT_EQ(readFile(t.folder / "a.txt"), "a");
    ASSERT_EQ(t.w.ui.alerts.size(), 1u);
    EXPECT_EQ(t.w.ui.alerts[0].message,
              "1 item stays in the tidy folder: the Desktop has an item of its name again.");
    EXPECT_EQ(t.w.ui.alerts[0].informative, "a.txt");
    EXPECT_EQ(t.app.getDesktopAllArray().size(), 1u);  // the lists show what is left
}

TEST(AutoTidy, NeverWithoutATidyLocation) {
    using namespace std::chrono;
    AutoTidyWorld t;
    test::LogCapture log;
    t.tick();
    t.w.clock.t += hours(25);
    t.tick();
    EXPECT_FALSE(t.app.isTidying());
    EXPECT_FALSE(t.app.isTidying());
    EXPECT_TRUE(present(t.desktop / "a.txt"));
    EXPECT_TRUE(t.w.notifier.scheduled.empty());
    EXPECT_TRUE(t.w.ui.alerts.empty());

    // Switching the box on arms the schedule afresh: no tidy for a moment that passed long ago.
    t.app.setStorelocationPath(t.store.string());
    t.w.clock.t += hours(24 * 30);
    t.app.ClickAutoTidyDesktop();
    t.tick();
    EXPECT_FALSE(t.app.isTidying());
    EXPECT_TRUE(present(t.desktop / "a.txt"));

    // A desktop that resolves to the home folder is never tidied, not even when due.
    AutoTidyWorld home;
    home.app.setStorelocationPath(home.store.string());
    home.w.paths.desktopDir = home.w.dir.path();
    writeFile(home.w.dir / "thesis.txt", "t");
    home.tick();
    home.w.clock.t += hours(25);
    home.tick();
    EXPECT_FALSE(home.app.isTidying());
    EXPECT_FALSE(home.app.isTidying());
    EXPECT_TRUE(present(home.w.dir / "thesis.txt"));
    EXPECT_TRUE(log.contains("automatic tidy skipped: the desktop folder"));

    // Off: nothing is armed or run.
    AutoTidyWorld off;
    off.w.ui.setState("autoCleanupSelectBtn", false);
    off.tick();
    EXPECT_FALSE(off.w.settings.date(prefkey::LastAutoTidyDate));
}

// The box is on by default, but nothing moves by itself until the user chose where tidied items go
// (the vault's storage folder never stands in for that) and set the time shown beside the box, which
// is kept across starts.
TEST(AutoTidy, WaitsForAChosenLocationAndATimeTheUserSet) {
    using namespace std::chrono;
    test::World w;
    fs::create_directories(w.dir / "Safe/vaultry.data");
    w.settings.set(prefkey::StorePath, (w.dir / "Safe/vaultry.data").string());
    writeFile(w.paths.desktop() / "a.txt", "a");
    test::LogCapture log;
    auto app = std::make_unique<AppDelegate>(w.services());
    app->awakeFromNib();
    app->applicationDidFinishLaunching();
    EXPECT_TRUE(w.ui.state("autoCleanupSelectBtn"));
    EXPECT_EQ(w.ui.text("tidyTimePicker"), "18:00");
    EXPECT_EQ(app->tidyStorageFolder(), "");
    const auto sixPm = [&] { return tidy::lastScheduledMoment(w.clock.t, 18, 0) + hours(24); };
    app->BMakeModeTimer_hander();  // arms
    w.clock.t = sixPm() + minutes(1);
    app->BMakeModeTimer_hander();
    EXPECT_FALSE(app->isTidying());
    EXPECT_TRUE(present(w.paths.desktop() / "a.txt"));
    EXPECT_TRUE(log.contains("automatic tidy skipped: no tidy location is chosen"));

    // Ticking the box asks where tidied items go; the answer moves nothing yet.
    app->ClickAutoTidyDesktop();
    EXPECT_TRUE(w.ui.isVisible("connectWindow"));
    EXPECT_EQ(w.settings.string(prefkey::TidyTime), "18:00");
    fs::create_directories(w.dir / "Tidied");
    app->openPanelDidEnd3(platform::Ui::Paths{(w.dir / "Tidied").string()});
    EXPECT_FALSE(w.ui.isVisible("connectWindow"));
    EXPECT_TRUE(present(w.paths.desktop() / "a.txt"));

    // A time set in the box is kept; showing the stored one is no change.
    w.ui.setText("tidyTimePicker", "07:30");
    app->ChangeTidyTime();
    EXPECT_EQ(w.settings.string(prefkey::TidyTime), "07:30");
    app.reset();
    w.ui.setText("tidyTimePicker", "");
    app = std::make_unique<AppDelegate>(w.services());
    app->awakeFromNib();
    app->applicationDidFinishLaunching();
    EXPECT_EQ(w.ui.text("tidyTimePicker"), "07:30");
    EXPECT_EQ(app->tidyStorageFolder(), (w.dir / "Tidied/com.Quenmark.sortello").string());
    w.clock.t = tidy::lastScheduledMoment(w.clock.t, 7, 30) + hours(24) + minutes(1);
    app->BMakeModeTimer_hander();
    ASSERT_TRUE(w.mainThread.pumpUntil([&] { return !w.notifier.scheduled.empty(); }));
    app->joinTidyWorkerForTest();
    EXPECT_EQ(readFile(w.dir / "Tidied/com.Quenmark.sortello/a.txt"), "a");
    EXPECT_EQ(w.notifier.scheduled[0].actions, (std::vector<std::string>{"Undo"}));
}

// Items tidied into the vault's storage folder by the earlier version move out of it, with the log
// that undoes their tidy; the folder the vault was chosen in takes them without counting as chosen.
TEST(TidyFolder, MovesOutOfTheStorageFolderAndItsTidyStillUndoes) {
    test::World w;
    const fs::path storage = w.dir / "Safe/vaultry.data", old = storage / "com.Quenmark.sortello";
    w.settings.set(prefkey::StorePath, storage.string());
    w.settings.set(prefkey::TidyTime, "09:00");
    writeFile(w.paths.desktop() / "a.txt", "a");
    fs::create_directories(old);
    {  // the earlier version's tidy
        tidy::TidyOptions options;
        ASSERT_TRUE(tidy::tidyDesktop(w.paths.desktop().string(), old.string(), options));
    }
    ASSERT_TRUE(present(old / "a.txt"));
    {
        AppDelegate app(w.services());
        app.awakeFromNib();
        app.applicationDidFinishLaunching();
        const fs::path moved = w.dir / "Safe/com.Quenmark.sortello";
        EXPECT_FALSE(present(old));
        EXPECT_EQ(readFile(moved / "a.txt"), "a");
        EXPECT_EQ(app.tidyStorageFolder(), moved.string());
        EXPECT_EQ(app.getDesktopAllArray().size(), 1u);
        EXPECT_TRUE(w.ui.alerts.empty());
        EXPECT_EQ(w.settings.string(prefkey::TidyLocationFromVault), "YES");
        app.UndoLastTidy();
        EXPECT_EQ(readFile(w.paths.desktop() / "a.txt"), "a");
        EXPECT_TRUE(w.ui.alerts.empty());

        // Not chosen: the automatic tidy leaves the desktop alone.
        test::LogCapture log;
        w.ui.setState("autoCleanupSelectBtn", true);
        app.BMakeModeTimer_hander();
        w.clock.t += std::chrono::hours(25);
        app.BMakeModeTimer_hander();
        EXPECT_FALSE(app.isTidying());
        EXPECT_TRUE(log.contains("automatic tidy skipped: no tidy location is chosen"));

        // A folder inside the vault is refused; another one takes the tidy folder along.
        fs::create_directories(storage / "inside");
        app.openPanelDidEnd3(platform::Ui::Paths{(storage / "inside").string()});
        ASSERT_EQ(w.ui.alerts.size(), 1u);
        EXPECT_EQ(w.ui.alerts[0].message, "Tidied items cannot go into the vault's storage folder.");
        fs::create_directories(w.dir / "Tidied");
        app.openPanelDidEnd3(platform::Ui::Paths{(w.dir / "Tidied").string()});
        EXPECT_TRUE(fs::is_directory(w.dir / "Tidied/com.Quenmark.sortello"));
        EXPECT_FALSE(present(moved));
        EXPECT_EQ(w.settings.string(prefkey::TidyLocationFromVault), "NO");
        EXPECT_TRUE(present(w.paths.desktop() / "a.txt"));  // choosing is not tidying
    }

    // The command line moves it the same way, and its undo works from the new place.
    test::TempDir home;
    const fs::path cliOld = home / "safe/vaultry.data/com.Quenmark.sortello";
    {
        SettingsStore settings(home / ".config/com.Quenmark.vaultry.plist");
        settings.set(prefkey::StorePath, (home / "safe/vaultry.data").string());
        ASSERT_TRUE(settings.flush());
    }
    writeFile(home / "Desktop/b.txt", "b");
    fs::create_directories(cliOld);
    {
        tidy::TidyOptions options;
        ASSERT_TRUE(tidy::tidyDesktop((home / "Desktop").string(), cliOld.string(), options));
    }
    auto r = test::runCli(home.path(), {"tidy", "undo"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(home / "Desktop/b.txt"), "b");
    EXPECT_TRUE(fs::is_directory(home / "safe/com.Quenmark.sortello"));
    EXPECT_FALSE(present(cliOld));
    EXPECT_EQ(test::runCli(home.path(), {"tidy", "location"}).out,
              (home / "safe").string() + " (not chosen yet)\n");
}

TEST(TidyCli, DryRunExclusionsAndUndo) {
    test::TempDir home;
    test::chooseTidyLocation(home.path(), home / "store");
    writeFile(home / "Desktop/report.txt", "r");
    writeFile(home / "Desktop/app.desktop", "[Desktop Entry]\n");

    auto r = test::runCli(home.path(), {"tidy", "exclude", "add", "*.desktop"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(test::runCli(home.path(), {"tidy", "exclude", "list"}).out, "*.desktop\n");
    EXPECT_EQ(test::runCli(home.path(), {"tidy", "exclude", "list", "--json"}).out,
              "[\n  \"*.desktop\"\n]\n");
    r = test::runCli(home.path(), {"tidy", "run", "--dry-run"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "would move report.txt\nexcluded app.desktop\n1 item would move into " +
                         (home / "store/com.Quenmark.sortello").string() + "\n");
    r = test::runCli(home.path(), {"tidy", "run", "--dry-run", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto dry = nlohmann::json::parse(r.out);
    EXPECT_EQ(dry["wouldMove"], nlohmann::json::array({"report.txt"}));
    EXPECT_EQ(dry["excluded"], nlohmann::json::array({"app.desktop"}));
    EXPECT_TRUE(present(home / "Desktop/report.txt"));

    r = test::runCli(home.path(), {"tidy", "run", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(present(home / "Desktop/report.txt"));
    EXPECT_TRUE(present(home / "Desktop/app.desktop"));

    r = test::runCli(home.path(), {"tidy", "undo", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["restored"], nlohmann::json::array({"report.txt"}));
    EXPECT_EQ(readFile(home / "Desktop/report.txt"), "r");
    r = test::runCli(home.path(), {"tidy", "undo"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("there is no tidy to undo"), std::string::npos);

    ASSERT_EQ(test::runCli(home.path(), {"tidy", "exclude", "remove", "*.desktop"}).code, 0);
    EXPECT_EQ(test::runCli(home.path(), {"tidy", "exclude", "list"}).out, "");
    EXPECT_EQ(test::runCli(home.path(), {"tidy", "exclude", "add", "a/b"}).code, 2);
}

// A tidy killed half-way (SIGKILL, at a point the test chooses through the tidy's test hook) is
// the last tidy: undo takes back exactly the items it moved, never the tidy before's, and an
// item whose journal entry was written but whose move never happened stays where it is.
TEST(TidyJournal, AKilledTidyIsUndoneExactly) {
    // The desktop holds 10 entries: "a-link", "folder", "item0.txt" to "item7.txt".
    const std::pair<std::string, std::size_t> stops[] = {
        {"moved:4", 4}, {"intent:4", 3}, {"moved:1", 1}, {"intent:10", 9}};
    // Beside the desktop (moves are renames) and, where the machine has one, on another file
    // system (moves are copies, then the original deleted).
    test::TempDir probe;
    std::vector<fs::path> elsewhere{{}};
    struct stat a {
    }, b{};
    if (::stat(probe.path().c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
        ::access("/dev/shm", W_OK) == 0)
        elsewhere.push_back(fs::path("/dev/shm") / ("vaultry-tidy-journal-" + std::to_string(::getpid())));
    for (const auto& other : elsewhere)
        for (const auto& [stop, moved] : stops) {
            SCOPED_TRACE(stop + (other.empty() ? "" : " across file systems"));
            test::TempDir home;
            const fs::path store = other.empty() ? home / "store" : other;
            fs::remove_all(store);
            test::chooseTidyLocation(home.path(), store);
            const fs::path desktop = home / "Desktop", folder = store / "com.Quenmark.sortello";
            // The tidy before: its item stays in the tidy folder whatever happens to the next one.
            writeFile(desktop / "earlier.txt", "earlier");
            ASSERT_EQ(test::runCli(home.path(), {"tidy", "run", "--yes"}).code, 0);
            ASSERT_TRUE(present(folder / "earlier.txt"));
            for (int i = 0; i < 8; ++i)
                writeFile(desktop / ("item" + std::to_string(i) + ".txt"), std::to_string(i));
            writeFile(desktop / "folder/inside.txt", "inside");
            fs::create_symlink("item0.txt", desktop / "a-link");
            const auto desktopBefore = test::treeState(desktop);
            const auto folderBefore = test::treeState(folder, false);

            ASSERT_TRUE(
                test::runCliKilledAt(home.path(), {"tidy", "run", "--yes"}, "", "tidy-" + stop).paused);
            // Killed part-way: some items moved, and the journal says which may have.
            ASSERT_TRUE(present(folder / tidy::kJournalName));
            EXPECT_NE(test::treeState(desktop), desktopBefore);

            const auto undo = test::runCli(home.path(), {"tidy", "undo", "--json"});
            ASSERT_EQ(undo.code, 0) << undo.err;
            const auto out = nlohmann::json::parse(undo.out);
            EXPECT_EQ(out["restored"].size(), moved) << undo.out;
            EXPECT_TRUE(out["missing"].empty()) << undo.out;
            EXPECT_TRUE(out["taken"].empty()) << undo.out;
            EXPECT_EQ(test::treeState(desktop), desktopBefore);
            EXPECT_EQ(test::treeState(folder, false), folderBefore);
            EXPECT_FALSE(present(folder / tidy::kJournalName));
            // That undo used the killed tidy up: the tidy before is not undone in its place.
            EXPECT_TRUE(present(folder / "earlier.txt"));
            if (!other.empty()) fs::remove_all(other);
        }
}

// The next tidy after a kill recovers the journal first: the killed tidy becomes the tidy before,
// so a tidy that then moves nothing leaves the killed one as the last to undo.
TEST(TidyJournal, TheNextTidyTakesOverAJournalLeftBehind) {
    Desk d;
    tidy::TidyOptions options;
    options.onStep = [&](std::string_view step, std::size_t n) {
        if (step == "moved" && n == 2) throw std::runtime_error("killed");  // stands in for a crash
    };
    EXPECT_THROW((void)tidy::tidyDesktop(d.desktop.string(), d.folder.string(), options), std::runtime_error);
    ASSERT_TRUE(present(d.folder / tidy::kJournalName));
    // Nothing left to move but the excluded rest: the recovered journal is the move log.
    tidy::TidyOptions all;
    all.exclusions = {"*"};
    const auto next = tidy::tidyDesktop(d.desktop.string(), d.folder.string(), all);
    ASSERT_TRUE(next);
    EXPECT_TRUE(next->moved.empty());
    EXPECT_FALSE(present(d.folder / tidy::kJournalName));
    const auto log = tidy::parseMoveLog(readFile(d.folder / tidy::kMoveLogName));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->names, (std::vector<std::string>{"Firefox.desktop", "a.txt"}));
    const auto undo = tidy::undoLastTidy(d.folder.string());
    ASSERT_TRUE(undo);
    EXPECT_EQ(undo->restored, (std::vector<std::string>{"Firefox.desktop", "a.txt"}));
    EXPECT_EQ(readFile(d.desktop / "a.txt"), "a");

    // A move log of the format older tidies wrote is still undone.
    writeFile(d.folder / "old.txt", "old");
    writeFile(d.folder / tidy::kMoveLogName,
              "vaultry-tidy-log 1\ndesktop=" + d.desktop.string() + "\nold.txt\n");
    const auto old = tidy::undoLastTidy(d.folder.string());
    ASSERT_TRUE(old);
    EXPECT_EQ(old->restored, std::vector<std::string>{"old.txt"});
    EXPECT_EQ(readFile(d.desktop / "old.txt"), "old");
}

}  // namespace
}  // namespace vaultry
