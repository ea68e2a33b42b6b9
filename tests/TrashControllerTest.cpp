// The trash flows of the application controller and the trash settings view, over fake ports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>

#include "app/AppDelegate.h"
#include "app/PPopoverviewConterller.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"
#include "support/TrashFiles.h"
#include "trash/SecureErase.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using platform::AlertAnswer;
using test::writeFile;

constexpr const char* kEmptyQuestion = "Are you sure you want to remove all items in the Trash ?";

struct TrashWorld {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    fs::path trash = w.paths.trash();
    TrashWorld() {
        // du as it counts a folder: its own blocks, and each file in it by its size in kilobytes.
        w.spawn.answer = [](const test::FakeSpawn::Call& c) {
            if (c.program != "/usr/bin/du") return platform::Spawn::Output{0, "", ""};
            const fs::path folder = c.args.back();
            struct stat st {};
            if (::lstat(folder.c_str(), &st) != 0) return platform::Spawn::Output{1, "", "no such folder"};
            std::uint64_t kb = static_cast<std::uint64_t>(st.st_blocks) / 2;
            for (const auto& e : fs::recursive_directory_iterator(folder))
                if (e.is_regular_file()) kb += (e.file_size() + 1023) / 1024;
            return platform::Spawn::Output{0, std::to_string(kb) + "\t" + folder.string() + "\n", ""};
        };
        writeFile(trash / "files/a.txt", std::string(2 << 20, 'a'));
        writeFile(trash / "info/a.txt.trashinfo", "[Trash Info]\n");
        app = std::make_unique<AppDelegate>(w.services());
    }
    PPopoverviewConterller& view() { return app->popoverController(); }
    bool trashEmptied() { return fs::is_empty(trash / "files") && fs::is_empty(trash / "info"); }
    std::size_t duRuns() {
        return std::count_if(w.spawn.calls.begin(), w.spawn.calls.end(),
                             [](const auto& c) { return c.program == "/usr/bin/du"; });
    }
};

TEST(TrashEmpty, CancelChangesNothingConfirmRecordsThenEmpties) {
    TrashWorld t;
    t.w.ui.alertAnswers = {AlertAnswer::Alternate, AlertAnswer::Alternate};
    t.app->StrongEmptyTrash();
    t.app->removeAllTrashFile(123);
    EXPECT_TRUE(t.w.settings.snapshot().empty());
    EXPECT_FALSE(t.trashEmptied());
    ASSERT_EQ(t.w.ui.alerts.size(), 2u);
    for (const auto& a : t.w.ui.alerts) {
        EXPECT_EQ(a.message, kEmptyQuestion);
        EXPECT_EQ(a.informative, "");
        EXPECT_EQ(a.defaultTitle, " Empty Trash ");
        EXPECT_EQ(a.alternateTitle, " Cancel ");
    }

    t.app->StrongEmptyTrash();
    EXPECT_TRUE(t.trashEmptied());
    EXPECT_TRUE(fs::is_directory(t.trash));
    EXPECT_EQ(t.w.settings.date(prefkey::LastCleanDate), t.w.clock.t);
    EXPECT_EQ(t.w.settings.string(prefkey::LastCleanSize), "2.10MB");
    // The size is measured on a worker and set on the main thread: the emptied Trash holds
    // nothing, whatever its empty folders take on the disk.
    ASSERT_TRUE(t.w.mainThread.pumpUntil([&] { return !t.app->isMeasuringTrash(); }));
    EXPECT_EQ(t.w.ui.text("trashSizelab"), "0.00bytes");
    // The last emptying shows at once, in the settings view and on the page.
    EXPECT_EQ(t.w.ui.text("lastCleanupSizelab"), "2.10MB");
    EXPECT_FALSE(t.w.ui.text("lastCleanupDatelab").empty());
    EXPECT_EQ(t.w.ui.text("trashLastCleanlab").rfind("Last emptied on ", 0), 0u);
    SettingsStore onDisk(t.w.paths.settingsFile());  // written at once
    EXPECT_EQ(onDisk.string(prefkey::LastCleanSize), "2.10MB");

    t.w.clock.t += std::chrono::hours(1);
    t.w.ui.setText("lastCleanupDatelab", "");
    t.app->removeAllTrashFile();  // the scheduled emptying records no size of its own
    EXPECT_EQ(t.w.settings.date(prefkey::LastCleanDate), t.w.clock.t);
    EXPECT_EQ(t.w.settings.string(prefkey::LastCleanSize), "2.10MB");
    EXPECT_FALSE(t.w.ui.text("lastCleanupDatelab").empty());  // the scheduled emptying shows too
    ASSERT_TRUE(t.w.mainThread.pumpUntil([&] { return !t.app->isMeasuringTrash(); }));

    t.app->ShowAutoTrash();
    EXPECT_TRUE(t.w.ui.isVisible("autoTrashWindow"));
    t.app->ShowAutoTrash();
    EXPECT_FALSE(t.w.ui.isVisible("autoTrashWindow"));
}

// The hourly check's question, "is the Trash due?", at the edges of the size and the interval.
TEST(TrashSchedule, SizeCheckWithoutStoredLimitIsAlwaysDue) {
    TrashWorld t;
    fs::remove_all(t.trash);  // even a Trash that does not exist (0 bytes) is at the limit 0
    t.w.ui.setState("cleanStorageCheckBtn", true);
    EXPECT_TRUE(t.app->trashIsDue());
    t.w.settings.set(prefkey::TrashSizeLimit, std::uint64_t{2097153});
    EXPECT_FALSE(t.app->trashIsDue());

    TrashWorld limited;
    limited.w.ui.setState("cleanStorageCheckBtn", true);
    limited.w.settings.set(prefkey::TrashSizeLimit, std::uint64_t{2097153});
    EXPECT_FALSE(limited.app->trashIsDue());
    limited.w.settings.set(prefkey::TrashSizeLimit, std::uint64_t{2097152});
    EXPECT_TRUE(limited.app->trashIsDue());
    limited.w.settings.set(prefkey::TrashOnlyOldestItems, "YES");  // the oldest go quietly instead
    EXPECT_FALSE(limited.app->trashIsDue());
}

TEST(TrashSchedule, TwoWeeksAtExactlyTheIntervalAndOneSecondBefore) {
    for (const auto& [ago, due] : {std::pair{1209600, true}, std::pair{1209599, false}}) {
        TrashWorld t;
        t.w.ui.setState("cleanTimeCheckBtn", true);
        t.w.ui.setText("theTimeBtn", "Two Weeks");
        t.w.settings.set(prefkey::CleanTime, "Daily");  // the pop-up counts, not the stored choice
        t.w.settings.set(prefkey::LastCleanDate, t.w.clock.t - std::chrono::seconds(ago));
        EXPECT_EQ(t.app->trashIsDue(), due) << ago;
    }
    TrashWorld never;  // never emptied: due at once; an unknown title never is
    never.w.ui.setState("cleanTimeCheckBtn", true);
    never.w.ui.setText("theTimeBtn", "Hourly");
    EXPECT_FALSE(never.app->trashIsDue());
    never.w.ui.setText("theTimeBtn", "Two Months");
    EXPECT_TRUE(never.app->trashIsDue());
}

// With the option on, the hourly check removes only what has aged past the interval, without a
// question or a notification; the box without it still announces a full emptying.
TEST(TrashSchedule, OnlyOlderItemsOptionRemovesThemQuietly) {
    TrashWorld t;
    test::trashItem(t.trash, "old.txt", "/h/old.txt", t.w.clock.t - std::chrono::hours(49));
    test::trashItem(t.trash, "new.txt", "/h/new.txt", t.w.clock.t - std::chrono::hours(1));
    t.w.ui.setState("cleanTimeCheckBtn", true);
    t.w.ui.setText("theTimeBtn", "Daily");
    t.w.settings.set(prefkey::TrashOnlyOlderItems, "YES");
    t.app->CleanUpTimer_hander();
    EXPECT_FALSE(fs::exists(t.trash / "files/old.txt"));
    EXPECT_FALSE(fs::exists(t.trash / "info/old.txt.trashinfo"));
    EXPECT_TRUE(fs::exists(t.trash / "files/new.txt"));
    EXPECT_TRUE(fs::exists(t.trash / "files/a.txt"));  // no readable date: left
    EXPECT_TRUE(t.w.notifier.scheduled.empty());
    EXPECT_TRUE(t.w.ui.alerts.empty());
    EXPECT_FALSE(t.w.settings.date(prefkey::LastCleanDate));

    t.w.settings.set(prefkey::TrashOnlyOlderItems, "NO");
    t.app->CleanUpTimer_hander();
    EXPECT_EQ(t.w.notifier.scheduled.size(), 1u);  // never emptied: the full emptying is due
}

TEST(TrashSettings, TimeChoiceSliderAndLoginItem) {
    TrashWorld t;
    auto& view = t.view();
    t.w.ui.setText("theTimeBtn", "Every Month");
    view.ChangeTheTrashTime();
    t.w.ui.setText("theTimeBtn", "Sometimes");
    view.ChangeTheTrashTime();
    EXPECT_EQ(t.w.settings.string(prefkey::CleanTime), "Every Month");
    EXPECT_EQ(view.getTimeFrequency(), "Sometimes");

    t.w.ui.setNumber("storageSlider", 25);
    view.TragTheStorageAction();
    EXPECT_EQ(t.w.ui.text("storagelab"), " 750.0MB");
    EXPECT_EQ(t.w.settings.number(prefkey::TrashSizeLimit), 750000000u);
    t.w.ui.setNumber("storageSlider", 3);  // the lowest band: floor shown, limit kept
    view.TragTheStorageAction();
    EXPECT_EQ(t.w.ui.text("storagelab"), "100MB");
    EXPECT_EQ(t.w.settings.number(prefkey::TrashSizeLimit), 750000000u);
    t.w.ui.setNumber("storageSlider", 100);
    view.TragTheStorageAction();
    EXPECT_EQ(t.w.ui.text("storagelab"), " 10.0GB");
    EXPECT_EQ(SettingsStore(t.w.paths.settingsFile()).number(prefkey::TrashSizeLimit), 10000000000u);

    t.w.ui.setState("autoLunchBtn", true);
    view.ClickAutoTrashOnLogin();
    EXPECT_TRUE(t.w.loginItems.enabled);
    EXPECT_EQ(t.w.settings.string(prefkey::AutoLogin), "YES");
    t.w.ui.setState("autoLunchBtn", false);
    t.app->ClickSortelloOnLogin();  // the preferences switch: same item, same key
    EXPECT_FALSE(t.w.loginItems.enabled);
    EXPECT_EQ(t.w.settings.string(prefkey::AutoLogin), "NO");
    view.readConfigfileInfo();
    EXPECT_FALSE(t.w.ui.state("autoLunchBtn"));

    // A change that fails is not recorded as done: box and key say what holds.
    t.w.loginItems.failing = true;
    t.w.ui.setState("autoLunchBtn", true);
    view.ClickAutoTrashOnLogin();
    EXPECT_FALSE(t.w.ui.state("autoLunchBtn"));
    EXPECT_EQ(t.w.settings.string(prefkey::AutoLogin), "NO");
}

TEST(TrashSchedule, TimerAnnouncesADueTrashAndOkEmptiesAfterAsking) {
    TrashWorld t;
    test::LogCapture log;
    t.app->startAutoTrashTimer();
    auto& timers = t.w.mainThread.timers;
    ASSERT_EQ(timers.count(t.app->autoTrashTimerId()), 1u);
    EXPECT_EQ(timers.at(t.app->autoTrashTimerId()).interval, std::chrono::minutes(1));
    EXPECT_FALSE(timers.at(t.app->autoTrashTimerId()).repeats);
    t.w.mainThread.fire(t.app->autoTrashTimerId());  // nothing is due: no notification
    EXPECT_TRUE(t.w.notifier.scheduled.empty());
    ASSERT_EQ(timers.count(t.app->autoTrashTimerId()), 1u);
    EXPECT_EQ(timers.at(t.app->autoTrashTimerId()).interval, std::chrono::hours(1));
    EXPECT_TRUE(timers.at(t.app->autoTrashTimerId()).repeats);

    t.w.ui.setState("cleanStorageCheckBtn", true);
    t.w.mainThread.fire(t.app->autoTrashTimerId());
    EXPECT_TRUE(t.w.ui.alerts.empty());  // announced, not asked
    ASSERT_EQ(t.w.notifier.scheduled.size(), 1u);
    const auto& n = t.w.notifier.scheduled[0];
    EXPECT_EQ(n.identifier, "EmptyTrashNow3");
    EXPECT_EQ(n.title, "Start to empty Trash now");
    EXPECT_EQ(n.actions, (std::vector<std::string>{"OK", "Later"}));
    EXPECT_EQ(t.w.notifier.removed, std::vector<std::string>{"EmptyTrashNow3"});

    ASSERT_TRUE(t.w.notifier.handler);
    t.w.notifier.handler("EmptyTrashNow3", "Later");
    t.w.notifier.handler("EmptyTrashNow3", "");
    EXPECT_TRUE(t.w.ui.alerts.empty());
    EXPECT_FALSE(t.trashEmptied());
    t.w.notifier.handler("EmptyTrashNow3", "OK");
    EXPECT_EQ(t.w.ui.alerts.size(), 1u);
    EXPECT_TRUE(t.trashEmptied());
    EXPECT_EQ(t.w.settings.string(prefkey::LastCleanSize), "2.10MB");
    EXPECT_TRUE(log.contains("notification clicked: EmptyTrashNow3"));
    EXPECT_TRUE(log.contains("notification action OK: EmptyTrashNow3"));
}

TEST(TrashSchedule, WithoutNotificationActionsTheQuestionIsAskedInAWindow) {
    TrashWorld t;
    t.w.notifier.actions = false;
    t.w.ui.setState("cleanStorageCheckBtn", true);
    t.w.ui.alertAnswers = {AlertAnswer::Alternate};  // "Later"
    t.app->CleanUpTimer_hander();
    EXPECT_TRUE(t.w.notifier.scheduled.empty());
    ASSERT_EQ(t.w.ui.alerts.size(), 1u);
    EXPECT_EQ(t.w.ui.alerts[0].message, "Start to empty Trash now");
    EXPECT_EQ(t.w.ui.alerts[0].defaultTitle, "OK");
    EXPECT_EQ(t.w.ui.alerts[0].alternateTitle, "Later");
    EXPECT_FALSE(t.trashEmptied());
    t.w.ui.alertAnswers = {AlertAnswer::Default, AlertAnswer::Default};  // "OK", then the confirmation
    t.app->CleanUpTimer_hander();
    EXPECT_EQ(t.w.ui.alerts.size(), 3u);
    EXPECT_TRUE(t.trashEmptied());
    ASSERT_TRUE(t.w.mainThread.pumpUntil([&] { return !t.app->isMeasuringTrash(); }));
}

TEST(TrashSchedule, TheBoxesAreKeptAndComeBackAtTheNextStart) {
    TrashWorld t;
    t.w.ui.setState("cleanTimeCheckBtn", true);
    t.w.ui.setState("cleanStorageCheckBtn", false);
    t.view().ClickTrashChecks();
    SettingsStore onDisk(t.w.paths.settingsFile());
    EXPECT_EQ(onDisk.string(prefkey::TrashCleanByTime), "YES");
    EXPECT_EQ(onDisk.string(prefkey::TrashCleanBySize), "NO");
    EXPECT_TRUE(t.w.ui.alerts.empty());

    // The next start shows the boxes as kept, so the hourly check still runs on them.
    t.w.ui.setState("cleanTimeCheckBtn", false);
    t.w.ui.setText("theTimeBtn", "Daily");
    t.view().showTrashSettings();
    EXPECT_TRUE(t.w.ui.state("cleanTimeCheckBtn"));
    EXPECT_FALSE(t.w.ui.state("cleanStorageCheckBtn"));
    EXPECT_TRUE(t.app->trashIsDue());  // never emptied: the time check is due
}

TEST(TrashSchedule, TheOnlySomeItemsBoxesAreKeptAndComeBackAtTheNextStart) {
    TrashWorld t;
    t.w.ui.setState("trashOnlyOlderBtn", true);
    t.w.ui.setState("trashOnlyOldestBtn", false);
    t.view().ClickTrashOnlyChecks();
    {
        SettingsStore onDisk(t.w.paths.settingsFile());
        EXPECT_EQ(onDisk.string(prefkey::TrashOnlyOlderItems), "YES");
        EXPECT_EQ(onDisk.string(prefkey::TrashOnlyOldestItems), "NO");
    }
    t.w.ui.setState("trashOnlyOlderBtn", false);
    t.w.ui.setState("trashOnlyOldestBtn", true);
    t.view().showTrashSettings();
    EXPECT_TRUE(t.w.ui.state("trashOnlyOlderBtn"));
    EXPECT_FALSE(t.w.ui.state("trashOnlyOldestBtn"));

    t.w.ui.setState("trashOnlyOlderBtn", false);
    t.w.ui.setState("trashOnlyOldestBtn", true);
    t.view().ClickTrashOnlyChecks();
    SettingsStore onDisk(t.w.paths.settingsFile());
    EXPECT_EQ(onDisk.string(prefkey::TrashOnlyOlderItems), "NO");
    EXPECT_EQ(onDisk.string(prefkey::TrashOnlyOldestItems), "YES");
    EXPECT_TRUE(t.w.ui.alerts.empty());
}

TEST(TrashSchedule, AScheduleThatCannotBeKeptIsReportedNotSilentlyDropped) {
    if (geteuid() == 0) GTEST_SKIP() << "root ignores permissions; runs in the unprivileged run";
    TrashWorld t;
    t.w.settings.set(prefkey::CleanTime, std::string("Daily"));
    ASSERT_TRUE(t.w.settings.flush());
    const fs::path folder = t.w.paths.settingsFile().parent_path();
    fs::permissions(folder, fs::perms::owner_read | fs::perms::owner_exec);
    t.w.ui.setState("cleanTimeCheckBtn", true);
    t.view().ClickTrashChecks();
    fs::permissions(folder, fs::perms::owner_all);
    ASSERT_EQ(t.w.ui.alerts.size(), 1u);
    EXPECT_EQ(t.w.ui.alerts[0].message, "The Trash schedule could not be saved.");
}

// The erase choice of Preferences reaches the tool the worker runs.
TEST(TrashErase, ThePassesChosenInPreferencesPickTheEraseTool) {
    for (const unsigned passes : {1u, 0u}) {
        TrashWorld t;
        t.w.ui.setNumber("erasePassesPopup", passes);
        t.app->ChangeErasePassesAction();
        writeFile(t.w.dir / "one.txt", "x");
        t.w.ui.panelAnswers = {std::vector<std::string>{(t.w.dir / "one.txt").string()}};
        t.app->StartSafeDeleteFileAction();
        EXPECT_FALSE(t.app->isErasing());
        const auto tool = trash::eraseToolForPasses(passes);
        const auto call = std::find_if(t.w.spawn.calls.begin(), t.w.spawn.calls.end(),
                                       [](const auto& c) { return c.program != "/usr/bin/du"; });
        ASSERT_NE(call, t.w.spawn.calls.end());
        EXPECT_EQ(call->program, tool.program);
        ASSERT_GE(call->args.size(), 2u);
        const std::vector<std::string> options(call->args.begin(), call->args.end() - 2);  // then --, path
        EXPECT_EQ(options, tool.options) << passes << " passes";
    }
}

TEST(TrashErase, PanelAlertAndWorkerLeaveEverythingOutsideAlone) {
    TrashWorld t;
    const fs::path chosen = t.w.dir / "chosen", outside = t.w.dir / "outside";
    writeFile(outside / "keep.txt", "precious");
    writeFile(chosen / "a.txt", "a");
    writeFile(chosen / ".hidden", "h");
    writeFile(chosen / "sub/b.txt", "b");
    fs::create_directory_symlink(outside, chosen / "link");
    fs::create_directory_symlink(t.w.dir.path(), chosen / "home-link");
    writeFile(t.w.dir / "single.txt", "s");

    t.app->StartSafeDeleteFileAction();  // panel cancelled
    t.w.ui.panelAnswers = {std::vector<std::string>{chosen.string()}};
    t.w.ui.alertAnswers = {AlertAnswer::Alternate};
    t.app->StartSafeDeleteFileAction();  // alert cancelled
    EXPECT_TRUE(std::none_of(t.w.spawn.calls.begin(), t.w.spawn.calls.end(),
                             [](const auto& c) { return c.program != "/usr/bin/du"; }));
    ASSERT_EQ(t.w.ui.openPanels.size(), 2u);
    const auto& panel = t.w.ui.openPanels[0];
    EXPECT_TRUE(panel.chooseFiles && panel.chooseDirectories && panel.multipleSelection);
    EXPECT_EQ(panel.message, "Choose the file(s) or folder(s) to secure deletion.");
    EXPECT_EQ(panel.directory, t.trash.string());
    EXPECT_EQ(t.w.ui.alerts[0].message, "Are you sure you want to permanently erase the selected items ?");
    EXPECT_EQ(t.w.ui.alerts[0].informative, " \n " + chosen.string());
    EXPECT_EQ(t.w.ui.alerts[0].defaultTitle, " Erase ");

    test::LogCapture log;
    const std::size_t duBefore = t.duRuns();
    t.w.spawn.answer = [](const test::FakeSpawn::Call& c) {  // a tool that does its work
        if (c.program != "/usr/bin/du") fs::remove(c.args.back());
        return platform::Spawn::Output{0, "", ""};
    };
    const std::size_t alertsBefore = t.w.ui.alerts.size();
    t.w.ui.panelAnswers = {std::vector<std::string>{chosen.string(), (t.w.dir / "single.txt").string()}};
    t.app->StartSafeDeleteFileAction();
    EXPECT_FALSE(t.app->isErasing());
    EXPECT_EQ(t.w.ui.progressSteps, std::vector<std::string>{"Erasing"});
    // Each file reaches the tool under a random name of its own folder.
    std::vector<std::string> erased;
    for (const auto& c : t.w.spawn.calls)
        if (c.program != "/usr/bin/du") erased.push_back(fs::path(c.args.back()).parent_path().string());
    std::sort(erased.begin(), erased.end());
    EXPECT_EQ(erased, (std::vector<std::string>{t.w.dir.path().string(), chosen.string(), chosen.string(),
                                                (chosen / "sub").string()}));  // .hidden too
    EXPECT_EQ(t.w.ui.alerts.size(), alertsBefore + 1);  // the question only: all was erased
    EXPECT_FALSE(fs::exists(chosen));
    EXPECT_EQ(test::readFile(outside / "keep.txt"), "precious");
    EXPECT_TRUE(fs::exists(t.trash / "files/a.txt"));
    EXPECT_TRUE(t.w.ui.isHidden("eraseProgresslab"));
    EXPECT_EQ(t.w.ui.text("eraseProgresslab"), "2 of 2");
    // The trash size was refreshed, measured on a worker.
    ASSERT_TRUE(t.w.mainThread.pumpUntil([&] { return !t.app->isMeasuringTrash(); }));
    EXPECT_EQ(t.duRuns(), duBefore + 1);
    EXPECT_TRUE(log.contains("erase file finished"));
}

}  // namespace
}  // namespace vaultry

namespace vaultry {
namespace {

// Whatever was not erased is said in the result, not only logged: a file the tool failed on, a
// file refused for its other hard links.
TEST(TrashErase, WhatWasNotErasedIsSaid) {
    TrashWorld t;
    const fs::path chosen = t.w.dir / "chosen";
    writeFile(chosen / ".env", "KEY=1");
    writeFile(chosen / "a.txt", "a");
    writeFile(t.w.dir / "outside.txt", "o");
    fs::create_hard_link(t.w.dir / "outside.txt", chosen / ".linked");
    t.w.spawn.answer = [](const test::FakeSpawn::Call& c) {
        if (c.program == "/usr/bin/du") return platform::Spawn::Output{0, "", ""};
        if (test::readFile(c.args.back()) == "KEY=1") return platform::Spawn::Output{1, "", "failed"};
        fs::remove(c.args.back());
        return platform::Spawn::Output{0, "", ""};
    };
    t.w.ui.panelAnswers = {std::vector<std::string>{chosen.string()}};
    t.app->StartSafeDeleteFileAction();
    ASSERT_EQ(t.w.ui.alerts.size(), 2u);
    const auto& result = t.w.ui.alerts[1];
    EXPECT_EQ(result.message, "Not everything was erased.");
    EXPECT_NE(result.informative.find("1 file was erased, 0 other item(s) removed, 2 not erased."),
              std::string::npos)
        << result.informative;
    EXPECT_NE(
        result.informative.find((chosen / ".linked").string() + ": not erased, the file has 2 hard links"),
        std::string::npos)
        << result.informative;
    EXPECT_NE(result.informative.find("Not everything was erased in: " + chosen.string()), std::string::npos);
    EXPECT_EQ(test::readFile(chosen / ".env"), "KEY=1");
    EXPECT_EQ(test::readFile(t.w.dir / "outside.txt"), "o");
    EXPECT_FALSE(fs::exists(chosen / "a.txt"));
}

// While erasing runs behind the progress window, another erase command is refused at once: no
// panel, nothing queued; the running erase finishes what it was given.
TEST(TrashErase, ASecondCommandWhileErasingIsRefused) {
    TrashWorld t;
    std::vector<std::string> erased;  // the contents the tool was given, in order
    std::size_t panelsDuringErase = 0;
    t.w.spawn.answer = [&](const test::FakeSpawn::Call& c) {
        if (c.program != "/usr/bin/du") {
            erased.push_back(test::readFile(c.args.back()));
            const std::size_t before = t.w.ui.openPanels.size();
            EXPECT_TRUE(t.app->isBusy());
            t.app->StartSafeDeleteFileAction();  // the tray menu is still reachable
            panelsDuringErase += t.w.ui.openPanels.size() - before;
        }
        return platform::Spawn::Output{0, "4\t.\n", ""};
    };
    for (const char* name : {"one.txt", "two.txt"}) writeFile(t.w.dir / name, name);
    t.w.ui.panelAnswers = {std::vector<std::string>{(t.w.dir / "one.txt").string()},
                           std::vector<std::string>{(t.w.dir / "two.txt").string()}};
    t.app->StartSafeDeleteFileAction();
    EXPECT_EQ(panelsDuringErase, 0u);
    EXPECT_EQ(erased, std::vector<std::string>{"one.txt"});
    EXPECT_TRUE(fs::exists(t.w.dir / "two.txt"));
    EXPECT_EQ(t.w.ui.text("eraseProgresslab"), "1 of 1");
    EXPECT_FALSE(t.app->isErasing());
}

}  // namespace
}  // namespace vaultry
