// vaultry-cli's Trash commands over every volume's Trash, by age and size, the schedule kept in
// the settings, the hourly timer, and erase with one pass.
#include <gtest/gtest.h>
#include <unistd.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/TrashFiles.h"
#include "trash/TrashItems.h"
#include "trash/TrashSchedule.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::runCli;
using test::writeFile;

// An item of 100 bytes (or as many as asked) deleted days ago, dated in UTC as the CLI reads it.
void item(const fs::path& trash, const std::string& name, int daysAgo, std::size_t bytes = 100) {
    test::trashItem(trash, name, "/x/" + name,
                    std::chrono::system_clock::now() - std::chrono::hours(24 * daysAgo), bytes, false,
                    test::Zone::Utc);
}

// A home with its Trash and a second volume (a folder the mount table lists) with its own.
struct TwoVolumes {
    test::TempDir home;
    fs::path homeTrash = home / ".local/share/Trash";
    fs::path volume = home / "media/USB Stick";
    fs::path volTrash = volume / (".Trash-" + std::to_string(::getuid()));
    TwoVolumes() {
        item(homeTrash, "old home.txt", 40);
        item(homeTrash, "new home.txt", 1);
        item(volTrash, "old usb é.txt", 60);
        item(volTrash, "new usb.txt", 2);
        writeFile(volTrash / "files/no record", "?");
        writeFile(home / "mountinfo",
                  "30 1 8:1 / /media/u/USB\\040Stick rw - vfat /dev/sdb1 rw\n"
                  "31 1 8:1 / " +
                      volume.string().replace(volume.string().find(' '), 1, "\\040") +
                      " rw - vfat /dev/sdb1 rw\n");
    }
    SettingsStore settings() { return SettingsStore(home / ".config/com.Quenmark.vaultry.plist"); }
};

TEST(TrashCliVolumes, SizeByVolumeAndEmptyingEverywhere) {
    TwoVolumes v;
    auto r = runCli(v.home.path(), {"trash", "size", "--by-volume", "--bytes"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto tab1 = r.out.find('\t');
    const auto nl1 = r.out.find('\n');
    ASSERT_NE(tab1, std::string::npos);
    EXPECT_EQ(r.out.substr(tab1 + 1, nl1 - tab1 - 1), v.homeTrash.string());
    EXPECT_EQ(r.out.substr(r.out.find('\t', nl1) + 1), v.volTrash.string() + "\n");
    const std::uint64_t first = std::stoull(r.out.substr(0, tab1));
    const std::uint64_t second = std::stoull(r.out.substr(nl1 + 1));
    r = runCli(v.home.path(), {"trash", "size", "--bytes"});
    EXPECT_EQ(r.out, std::to_string(first + second) + "\n");

    r = runCli(v.home.path(), {"trash", "empty", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const auto& t : {v.homeTrash, v.volTrash}) {
        EXPECT_TRUE(fs::is_empty(t / "files")) << t;
        EXPECT_TRUE(fs::is_empty(t / "info")) << t;
    }
}

TEST(TrashCliVolumes, EmptyByAgeAndBySize) {
    TwoVolumes v;
    auto r = runCli(v.home.path(), {"trash", "empty", "--older-than", "30", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "removed 2 items from the Trash\n1 item without a readable .trashinfo left in place\n");
    EXPECT_FALSE(present(v.homeTrash / "files/old home.txt"));
    EXPECT_FALSE(present(v.volTrash / "files/old usb é.txt"));
    EXPECT_FALSE(present(v.volTrash / "info/old usb é.txt.trashinfo"));
    EXPECT_TRUE(present(v.homeTrash / "files/new home.txt"));
    EXPECT_TRUE(present(v.volTrash / "files/new usb.txt"));
    EXPECT_TRUE(present(v.volTrash / "files/no record"));

    // Down to a size nothing fits under: every item with a record goes, oldest first.
    r = runCli(v.home.path(), {"trash", "empty", "--keep-under", "1KB", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out.substr(0, r.out.find(" (")), "removed 2 items from the Trash");
    EXPECT_FALSE(present(v.homeTrash / "files/new home.txt"));
    EXPECT_TRUE(present(v.volTrash / "files/no record"));

    EXPECT_EQ(runCli(v.home.path(), {"trash", "empty", "--older-than", "soon", "--yes"}).code, 2);
    EXPECT_EQ(runCli(v.home.path(), {"trash", "empty", "--keep-under", "5 parsecs", "--yes"}).code, 2);
    // Without --yes and without a terminal the question is a usage error; nothing is removed.
    item(v.homeTrash, "older.txt", 90);
    r = runCli(v.home.path(), {"trash", "empty", "--older-than", "30"});
    EXPECT_EQ(r.code, 2);
    EXPECT_TRUE(present(v.homeTrash / "files/older.txt"));
}

TEST(TrashCliVolumes, DryRunListsWhatWouldGoPerTrashFolder) {
    TwoVolumes v;
    auto r = runCli(v.home.path(), {"trash", "empty", "--dry-run"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto homeAt = r.out.find(v.homeTrash.string() + ":\n");
    const auto volAt = r.out.find(v.volTrash.string() + ":\n");
    ASSERT_NE(homeAt, std::string::npos) << r.out;
    ASSERT_NE(volAt, std::string::npos) << r.out;
    const std::string homePart = r.out.substr(homeAt, volAt - homeAt), volPart = r.out.substr(volAt);
    EXPECT_NE(homePart.find("would remove old home.txt\n"), std::string::npos) << r.out;
    EXPECT_NE(volPart.find("would remove no record\n"), std::string::npos) << r.out;
    EXPECT_NE(volPart.find("would remove old usb é.txt\n"), std::string::npos) << r.out;

    // By age: only the old items, each under its own Trash, by the path it was deleted from.
    r = runCli(v.home.path(), {"trash", "empty", "--older-than", "30", "--dry-run", "--json"});
    ASSERT_EQ(r.code, 0) << r.err;
    const auto out = nlohmann::json::parse(r.out);
    ASSERT_EQ(out["volumes"].size(), 2u) << r.out;
    EXPECT_EQ(out["volumes"][0]["trash"], v.homeTrash.string());
    EXPECT_EQ(out["volumes"][0]["wouldRemove"], nlohmann::json::array({"/x/old home.txt"}));
    EXPECT_EQ(out["volumes"][1]["trash"], v.volTrash.string());
    EXPECT_EQ(out["volumes"][1]["wouldRemove"], nlohmann::json::array({"/x/old usb é.txt"}));
    EXPECT_EQ(out["unreadable"], 1);

    // Down to a size: the oldest first, across the folders, without asking.
    r = runCli(v.home.path(), {"trash", "empty", "--keep-under", "1KB", "--dry-run"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("would remove /x/new usb.txt\n"), std::string::npos) << r.out;
    for (const auto& t : {v.homeTrash, v.volTrash}) EXPECT_FALSE(fs::is_empty(t / "files")) << t;
    EXPECT_TRUE(present(v.volTrash / "files/old usb é.txt"));
    EXPECT_FALSE(v.settings().date(prefkey::LastCleanDate));

    r = runCli(v.home.path(), {"trash", "size", "--json"});
    const auto size = nlohmann::json::parse(r.out);
    ASSERT_EQ(size["volumes"].size(), 2u);
    EXPECT_EQ(size["volumes"][1]["trash"], v.volTrash.string());
    EXPECT_EQ(size["bytes"], size["volumes"][0]["bytes"].get<std::uint64_t>() +
                                 size["volumes"][1]["bytes"].get<std::uint64_t>());
}

TEST(TrashCliVolumes, CheckAppliesTheRulesKeptInTheSettings) {
    TwoVolumes v;
    auto r = runCli(v.home.path(), {"trash", "check"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "No Trash schedule is set\n");

    {
        auto s = v.settings();
        s.set(prefkey::TrashCleanByTime, "YES");
        s.set(prefkey::CleanTime, "Every Month");
        s.set(prefkey::TrashOnlyOlderItems, "YES");
        ASSERT_TRUE(s.flush());
    }
    // Only the items older than the interval, without a question (the timer runs unattended).
    r = runCli(v.home.path(), {"trash", "check"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(present(v.homeTrash / "files/old home.txt"));
    EXPECT_FALSE(present(v.volTrash / "files/old usb é.txt"));
    EXPECT_TRUE(present(v.homeTrash / "files/new home.txt"));
    EXPECT_FALSE(v.settings().date(prefkey::LastCleanDate));

    // The box's own meaning: everything, once the interval has passed, after the question.
    {
        auto s = v.settings();
        s.set(prefkey::TrashOnlyOlderItems, "NO");
        ASSERT_TRUE(s.flush());
    }
    r = runCli(v.home.path(), {"trash", "check"});
    EXPECT_EQ(r.code, 2);  // a question without a terminal
    EXPECT_TRUE(present(v.homeTrash / "files/new home.txt"));
    r = runCli(v.home.path(), {"trash", "check", "--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_TRUE(fs::is_empty(v.homeTrash / "files"));
    EXPECT_TRUE(fs::is_empty(v.volTrash / "files"));
    EXPECT_TRUE(v.settings().date(prefkey::LastCleanDate));
    r = runCli(v.home.path(), {"trash", "check", "--yes"});
    EXPECT_EQ(r.out.substr(0, r.out.find('\n')), "Trash not due for emptying");
}

// A home Trash of items of 64 KiB (a whole number of du's blocks) deleted days ago, with both rules
// of the schedule set: the size rule's limit and option, and the time rule's option, monthly.
struct BothRules {
    test::TempDir home;
    fs::path trash = home / ".local/share/Trash";
    BothRules(std::initializer_list<std::pair<const char*, int>> items, bool onlyOldest, bool onlyOlder) {
        for (const auto& [name, daysAgo] : items) item(trash, name, daysAgo, 64 << 10);
        auto s = settings();
        s.set(prefkey::TrashCleanBySize, "YES");
        s.set(prefkey::TrashOnlyOldestItems, onlyOldest ? "YES" : "NO");
        s.set(prefkey::TrashCleanByTime, "YES");
        s.set(prefkey::CleanTime, "Every Month");
        s.set(prefkey::TrashOnlyOlderItems, onlyOlder ? "YES" : "NO");
        EXPECT_TRUE(s.flush());
    }
    SettingsStore settings() { return SettingsStore(home / ".config/com.Quenmark.vaultry.plist"); }
    void limit(std::uint64_t bytes) {
        auto s = settings();
        s.set(prefkey::TrashSizeLimit, bytes);
        EXPECT_TRUE(s.flush());
    }
    bool has(const std::string& name) { return present(trash / "files" / name); }
    test::CliRun check(std::vector<std::string> flags) {
        flags.insert(flags.begin(), {"trash", "check"});
        return runCli(home.path(), flags);
    }
};

// The two rules together decide as the GUI's hourly check does: what an option removes goes
// quietly first, then emptying everything is due by the other rule and is asked. A dry run only
// says so; without --yes the question needs a terminal (exit 2) after the quiet removal; with
// --yes everything goes and the emptying is recorded.
TEST(TrashCliVolumes, CheckWithBothRulesRemovesSomeItemsQuietlyThenAsksToEmptyAll) {
    const auto quietThenAsked = [](BothRules& t, const std::string& gone,
                                   const std::vector<std::string>& kept) {
        const auto lastBefore = t.settings().date(prefkey::LastCleanDate);
        auto r = t.check({"--dry-run"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_NE(r.out.find("the Trash would be emptied ("), std::string::npos) << r.out;
        EXPECT_TRUE(t.has(gone));
        EXPECT_EQ(t.settings().date(prefkey::LastCleanDate), lastBefore);

        r = t.check({});
        EXPECT_EQ(r.code, 2) << r.out;
        EXPECT_NE(r.err.find("add --yes"), std::string::npos) << r.err;
        EXPECT_FALSE(t.has(gone));
        EXPECT_FALSE(present(t.trash / "info" / (gone + ".trashinfo")));
        for (const auto& name : kept) EXPECT_TRUE(t.has(name)) << name;
        EXPECT_EQ(t.settings().date(prefkey::LastCleanDate), lastBefore);

        r = t.check({"--yes"});
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out.rfind("Trash emptied (", 0), 0u) << r.out;
        EXPECT_TRUE(fs::is_empty(t.trash / "files"));
        EXPECT_TRUE(fs::is_empty(t.trash / "info"));
        const auto last = t.settings().date(prefkey::LastCleanDate);
        ASSERT_TRUE(last);
        EXPECT_GT(*last, std::chrono::system_clock::now() - std::chrono::hours(1));
    };

    // Over the limit with "only the oldest", and 40 days since the last emptying (time rule without
    // its option): the limit lies within the oldest item, as the option counts the Trash (info/
    // included), so it alone goes; the month passed asks for the rest.
    BothRules oldest({{"oldest.bin", 90}, {"middle.bin", 60}, {"newest.bin", 1}}, true, false);
    oldest.limit(trash::trashUsage(oldest.trash) - trash::diskUsage(oldest.trash / "files/oldest.bin") / 2);
    {
        auto s = oldest.settings();
        s.set(prefkey::LastCleanDate, std::chrono::system_clock::now() - std::chrono::hours(24 * 40));
        ASSERT_TRUE(s.flush());
    }
    quietThenAsked(oldest, "oldest.bin", {"middle.bin", "newest.bin"});

    // Over the limit (size rule without its option), the time rule with "only older": the item
    // older than a month goes first; the rest is still over the limit (as the GUI, which measures
    // after the quiet removal, finds too), so emptying everything is asked.
    BothRules older({{"old.bin", 40}, {"recent.bin", 2}, {"new.bin", 1}}, false, true);
    older.limit(64 << 10);
    quietThenAsked(older, "old.bin", {"recent.bin", "new.bin"});

    // The same, with a limit that the quiet removal took the Trash under: nothing more is due, so
    // the timer's run (--yes) leaves the rest where it is.
    BothRules under({{"old.bin", 40}, {"recent.bin", 2}, {"new.bin", 1}}, false, true);
    under.limit(150 << 10);
    const auto r = under.check({"--yes"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(under.has("old.bin"));
    EXPECT_TRUE(under.has("recent.bin"));
    EXPECT_TRUE(under.has("new.bin"));
    EXPECT_FALSE(under.settings().date(prefkey::LastCleanDate));
}

// "Only the oldest" with the Trash already under the limit (by du's count and the option's own,
// which includes info/): the pass down to the limit finds nothing to remove, nothing is asked.
TEST(TrashCliVolumes, CheckWithOnlyTheOldestUnderTheLimitLeavesEverything) {
    BothRules t({{"old.bin", 90}, {"new.bin", 1}}, true, false);
    {
        auto s = t.settings();
        s.set(prefkey::TrashCleanByTime, "NO");
        ASSERT_TRUE(s.flush());
    }
    t.limit(1 << 20);
    ASSERT_LT(trash::trashUsage(t.trash), std::uint64_t{1} << 20);
    for (const auto& flags : {std::vector<std::string>{"--dry-run"}, std::vector<std::string>{}}) {
        const auto r = t.check(flags);
        ASSERT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(r.out, "Trash not due for emptying\n");
        EXPECT_TRUE(t.has("old.bin"));
        EXPECT_TRUE(t.has("new.bin"));
        EXPECT_FALSE(t.settings().date(prefkey::LastCleanDate));
    }
}

TEST(TrashCliVolumes, TimerOnStatusOff) {
    test::TempDir home;
    const fs::path units = home / ".config/systemd/user";
    auto r = runCli(home.path(), {"trash", "timer", "status"});
    EXPECT_EQ(r.out, "off\n");
    r = runCli(home.path(), {"trash", "timer", "on"});
    // Without a user service manager (as in a container) the files are written and the error says so.
    EXPECT_TRUE(r.code == 0 || r.err.find("the timer is written") != std::string::npos) << r.err;
    ASSERT_TRUE(present(units / trash::kTimerName));
    EXPECT_NE(
        readFile(units / trash::kServiceName).find(std::string(VAULTRY_CLI_PATH) + "\" trash check --yes"),
        std::string::npos);
    r = runCli(home.path(), {"trash", "timer", "status"});
    EXPECT_EQ(r.out.substr(0, 2), "on");
    runCli(home.path(), {"trash", "timer", "off"});
    EXPECT_FALSE(present(units / trash::kTimerName));
    EXPECT_FALSE(present(units / trash::kServiceName));
    EXPECT_EQ(runCli(home.path(), {"trash", "timer", "status"}).out, "off\n");
    EXPECT_EQ(runCli(home.path(), {"trash", "timer", "maybe"}).code, 2);
}

TEST(EraseCli, OnePassAndTheNameGoesFirst) {
    test::TempDir home;
    writeFile(home / "secret plans.txt", std::string(100000, 's'));
    auto r = runCli(home.path(), {"erase", "--passes", "1", "--yes", (home / "secret plans.txt").string()});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(present(home / "secret plans.txt"));
    EXPECT_EQ(r.out, "erased 1 file(s), removed 0 other item(s)\n");
    EXPECT_EQ(runCli(home.path(), {"erase", "--passes", "7", "--yes", home.path().string()}).code, 2);
}

}  // namespace
}  // namespace vaultry
