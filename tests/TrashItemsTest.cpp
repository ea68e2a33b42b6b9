// The Trash item by item: every volume's Trash, .trashinfo records, emptying by age and down to a
// size, the schedule's rules and its systemd timer; trash-cli's own layout as the reference.
#include "trash/TrashItems.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <ctime>
#include <fstream>

#include "platform/linux/LinuxSpawn.h"
#include "settings/Preferences.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/TrashFiles.h"
#include "trash/TrashSchedule.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::trashItem;
using test::trashStamp;
using test::writeFile;

const auto kNow = std::chrono::system_clock::now();
const auto kDay = std::chrono::hours(24);

TEST(TrashVolumes, MountTableEscapesAndTheTwoTrashFoldersOfAVolume) {
    const std::string table =
        "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
        "40 22 0:35 / /media/u/USB\\040Stick rw,nosuid - vfat /dev/sdb1 rw\n"
        "41 22 0:36 / /mnt/tab\\011and\\134slash rw - tmpfs tmpfs rw\n"
        "broken line\n";
    EXPECT_EQ(trash::parseMountInfo(table),
              (std::vector<fs::path>{"/", "/media/u/USB Stick", "/mnt/tab\tand\\slash"}));

    test::TempDir dir;
    const uid_t uid = ::getuid();
    const fs::path vol = dir / "volume";
    // A sticky shared .Trash with this user's folder, and the user's own .Trash-$uid.
    fs::create_directories(vol / ".Trash" / std::to_string(uid) / "files");
    fs::permissions(vol / ".Trash", fs::perms::all | fs::perms::sticky_bit);
    fs::create_directories(vol / (".Trash-" + std::to_string(uid)) / "files");
    auto found = trash::volumeTrashFolders(vol, uid);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path, vol / ".Trash" / std::to_string(uid));
    EXPECT_EQ(found[1].path, vol / (".Trash-" + std::to_string(uid)));
    EXPECT_EQ(found[0].mountPoint, vol);

    // Without the sticky bit the shared .Trash is not trusted; a .Trash-$uid that is a link leads
    // elsewhere and is never followed.
    fs::permissions(vol / ".Trash", fs::perms::owner_all);
    fs::rename(vol / (".Trash-" + std::to_string(uid)), dir / "elsewhere");
    fs::create_directory_symlink(dir / "elsewhere", vol / (".Trash-" + std::to_string(uid)));
    EXPECT_TRUE(trash::volumeTrashFolders(vol, uid).empty());
    const fs::path linked = dir / "linked";
    fs::create_directories(linked);
    fs::create_directory_symlink(dir / "elsewhere", linked / ".Trash");
    EXPECT_TRUE(trash::volumeTrashFolders(linked, uid).empty());

    // The home Trash first, then each volume's once, whatever the mount table repeats.
    const fs::path second = dir / "second";
    fs::create_directories(second / (".Trash-" + std::to_string(uid)));
    writeFile(dir / "mountinfo", "1 1 0:1 / " + second.string() + " rw - tmpfs t rw\n2 1 0:1 / " +
                                     second.string() + " rw - tmpfs t rw\n");
    const auto all = trash::allTrashFolders(dir / "home/Trash", dir / "mountinfo", uid);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].path, dir / "home/Trash");
    EXPECT_EQ(all[1].path, second / (".Trash-" + std::to_string(uid)));
    EXPECT_EQ(trash::allTrashFolders(dir / "home/Trash", dir / "no-such-table", uid).size(), 1u);
}

TEST(TrashInfo, PathsArePercentDecodedAndDatesReadAsLocalTime) {
    const auto info = trash::parseTrashInfo(
        "[Trash Info]\r\nPath=/home/u/100%25%20sure%20caf%C3%A9.txt\r\nDeletionDate=2024-02-29T13:45:07\r\n");
    ASSERT_TRUE(info);
    EXPECT_EQ(info->path, "/home/u/100% sure caf\xC3\xA9.txt");
    ASSERT_TRUE(info->deletedAt);
    std::tm tm{};
    tm.tm_year = 124, tm.tm_mon = 1, tm.tm_mday = 29, tm.tm_hour = 13, tm.tm_min = 45, tm.tm_sec = 7,
    tm.tm_isdst = -1;
    EXPECT_EQ(*info->deletedAt, std::chrono::system_clock::from_time_t(std::mktime(&tm)));

    EXPECT_FALSE(trash::parseTrashInfo("Path=/a\nDeletionDate=2024-01-01T00:00:00\n"));  // no group
    EXPECT_FALSE(trash::parseTrashInfo("[Trash Info]\nDeletionDate=2024-01-01T00:00:00\n"));
    EXPECT_FALSE(trash::parseTrashInfo("[Other]\nPath=/a\n"));
    const auto noDate = trash::parseTrashInfo("[Trash Info]\nPath=/a\nDeletionDate=yesterday\n");
    ASSERT_TRUE(noDate);
    EXPECT_FALSE(noDate->deletedAt);
    EXPECT_EQ(trash::percentDecode("50%"), "50%");  // a lone % stays
    EXPECT_EQ(trash::percentDecode("%zz%4"), "%zz%4");
    EXPECT_EQ(trash::percentEncode("/a b/100%/é"), "/a%20b/100%25/%C3%A9");
}

struct AgedTrash {
    test::TempDir dir;
    fs::path trash = dir / "Trash";
    AgedTrash() {
        trashItem(trash, "old 100%.txt", "/home/u/old 100%.txt", kNow - 40 * kDay, 1000);
        trashItem(trash, "vieux dossier é", "/home/u/vieux dossier é", kNow - 35 * kDay, 3000, true);
        trashItem(trash, "recent.txt", "/home/u/recent.txt", kNow - 2 * kDay, 5000);
        trashItem(trash, "kept folder", "/home/u/kept folder", kNow - 1 * kDay, 100, true);
        // An item whose record cannot be read, and a record whose file is gone.
        writeFile(trash / "files/mystery.bin", "?");
        writeFile(trash / "info/mystery.bin.trashinfo", "not a trash info");
        writeFile(trash / "info/orphan.trashinfo",
                  "[Trash Info]\nPath=/home/u/orphan\nDeletionDate=" + trashStamp(kNow - 50 * kDay) + "\n");
    }
};

TEST(TrashByAge, RemovesOnlyOlderItemsWithTheirRecordsAndDirectorySizes) {
    AgedTrash t;
    // A dry run lists and changes nothing.
    auto dry = trash::emptyOlderThan(t.trash, kNow - 30 * kDay, trash::Unlock::No, true);
    std::sort(dry.chosen.begin(), dry.chosen.end());
    EXPECT_EQ(dry.chosen, (std::vector<std::string>{"/home/u/old 100%.txt", "/home/u/orphan",
                                                    "/home/u/vieux dossier é"}));
    EXPECT_EQ(dry.removed, 0u);
    EXPECT_TRUE(present(t.trash / "files/old 100%.txt"));

    const auto r = trash::emptyOlderThan(t.trash, kNow - 30 * kDay, trash::Unlock::No);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.removed, 3u);
    EXPECT_EQ(r.unreadable, 1u);
    for (const char* gone : {"files/old 100%.txt", "info/old 100%.txt.trashinfo", "files/vieux dossier é",
                             "info/vieux dossier é.trashinfo", "info/orphan.trashinfo"})
        EXPECT_FALSE(present(t.trash / gone)) << gone;
    for (const char* kept : {"files/recent.txt", "info/recent.txt.trashinfo", "files/kept folder",
                             "files/mystery.bin", "info/mystery.bin.trashinfo"})
        EXPECT_TRUE(present(t.trash / kept)) << kept;
    EXPECT_EQ(readFile(t.trash / "directorysizes"), "100 1700000000 kept%20folder\n");
}

TEST(TrashBySize, OldestFirstAcrossVolumesUntilBelowTheSize) {
    AgedTrash t;
    const fs::path other = t.dir / "volume/.Trash-1000";
    trashItem(other, "ancient.txt", "/media/usb/ancient.txt", kNow - 90 * kDay, 8000);
    const std::vector<fs::path> both{t.trash, other};
    const std::uint64_t total = trash::trashUsage(t.trash) + trash::trashUsage(other);
    // Just below the whole: the oldest item (on the other volume) is enough.
    auto r = trash::emptyDownTo(both, total - 1, trash::Unlock::No);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.chosen, (std::vector<std::string>{"/media/usb/ancient.txt"}));
    EXPECT_FALSE(present(other / "files/ancient.txt"));
    EXPECT_GT(r.freed, 8000u);
    EXPECT_EQ(r.unreadable, 1u);

    // Down past the two oldest files: they go with the orphan record before them, oldest first;
    // the newer items and the unreadable one stay.
    const std::uint64_t keep = trash::trashUsage(t.trash) + trash::trashUsage(other) -
                               trash::diskUsage(t.trash / "files/old 100%.txt") -
                               trash::diskUsage(t.trash / "files/vieux dossier é") - 1;
    r = trash::emptyDownTo(both, keep, trash::Unlock::No);
    EXPECT_EQ(r.chosen, (std::vector<std::string>{"/home/u/orphan", "/home/u/old 100%.txt",
                                                  "/home/u/vieux dossier é"}));
    EXPECT_LT(trash::trashUsage(t.trash) + trash::trashUsage(other), keep);
    EXPECT_TRUE(present(t.trash / "files/recent.txt"));
    EXPECT_TRUE(present(t.trash / "files/kept folder"));
    EXPECT_TRUE(present(t.trash / "files/mystery.bin"));
    EXPECT_EQ(readFile(t.trash / "directorysizes"), "100 1700000000 kept%20folder\n");
    // Under the size already: nothing to do.
    EXPECT_EQ(trash::emptyDownTo(both, UINT64_MAX, trash::Unlock::No).removed, 0u);
}

TEST(TrashByAgeAndSize, ADryRunChoosesEachItemOnceAndTheRunRemovesThem) {
    AgedTrash t;
    const std::vector<trash::TrashFolder> folders{{t.trash, {}}};
    // The size rule alone would take the same three items as the age rule.
    const std::uint64_t limit = trash::trashUsage(t.trash) -
                                trash::diskUsage(t.trash / "files/old 100%.txt") -
                                trash::diskUsage(t.trash / "files/vieux dossier é") - 1;
    auto dry = trash::emptyByAgeAndSize(folders, kNow - 30 * kDay, limit, trash::Unlock::No, true);
    ASSERT_EQ(dry.chosenFrom.size(), dry.chosen.size());
    std::sort(dry.chosen.begin(), dry.chosen.end());
    EXPECT_EQ(dry.chosen, (std::vector<std::string>{"/home/u/old 100%.txt", "/home/u/orphan",
                                                    "/home/u/vieux dossier é"}));
    EXPECT_EQ(dry.unreadable, 1u);
    EXPECT_EQ(dry.removed, 0u);
    EXPECT_TRUE(present(t.trash / "files/old 100%.txt"));

    const auto r = trash::emptyByAgeAndSize(folders, kNow - 30 * kDay, limit, trash::Unlock::No, false);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.removed, 3u);
    EXPECT_EQ(r.unreadable, 1u);
    EXPECT_FALSE(present(t.trash / "files/old 100%.txt"));
    EXPECT_TRUE(present(t.trash / "files/recent.txt"));
}

TEST(TrashBySize, SizeTexts) {
    EXPECT_EQ(trash::parseSize("500MB"), 500000000u);
    EXPECT_EQ(trash::parseSize("1.5GiB"), 1610612736u);
    EXPECT_EQ(trash::parseSize("2G"), 2147483648u);
    EXPECT_EQ(trash::parseSize("2 kb"), 2000u);
    EXPECT_EQ(trash::parseSize("1048576"), 1048576u);
    for (const char* bad : {"", "MB", "5 parsecs", "-1", "1e400GB", "99999999999TB"})
        EXPECT_FALSE(trash::parseSize(bad)) << bad;
}

TEST(TrashRules, BoxesKeepTheirMeaningAndTheOptionsRemoveOnlySome) {
    trash::ScheduleRules r;
    EXPECT_EQ(trash::scheduleAction(r, UINT64_MAX, UINT64_MAX), trash::ScheduleAction::None);
    r.bySize = true, r.sizeLimit = 100;
    EXPECT_EQ(trash::scheduleAction(r, 99, 0), trash::ScheduleAction::None);
    EXPECT_EQ(trash::scheduleAction(r, 100, 0), trash::ScheduleAction::EmptyAll);
    r.onlyOldest = true;
    EXPECT_EQ(trash::scheduleAction(r, 100, 0), trash::ScheduleAction::RemoveOldest);
    r = {};
    r.byTime = true, r.interval = 1209600;
    EXPECT_EQ(trash::scheduleAction(r, 0, 1209599), trash::ScheduleAction::None);
    EXPECT_EQ(trash::scheduleAction(r, 0, 1209600), trash::ScheduleAction::EmptyAll);
    r.onlyOlder = true;  // every check removes what has aged past the interval
    EXPECT_EQ(trash::scheduleAction(r, 0, 0), trash::ScheduleAction::RemoveOlder);

    test::TempDir dir;
    SettingsStore settings(dir / "s.plist");
    settings.set(prefkey::TrashCleanByTime, "YES");
    settings.set(prefkey::CleanTime, "Two Weeks");
    settings.set(prefkey::TrashOnlyOlderItems, "YES");
    const auto kept = trash::rulesFromSettings(settings);
    EXPECT_TRUE(kept.byTime && kept.onlyOlder);
    EXPECT_FALSE(kept.bySize || kept.onlyOldest);
    EXPECT_EQ(kept.interval, 1209600u);
}

// trash-cli writes the reference layout: its items are read, aged and emptied the same way.
TEST(TrashPut, ItemsOfTrashCliAreReadAndEmptiedByAge) {
    if (::access("/usr/bin/trash-put", X_OK) != 0) GTEST_SKIP() << "trash-cli is not installed";
    test::TempDir dir;
    const fs::path data = dir / "data";
    const fs::path files = dir / "work";
    const std::vector<std::string> names{"100% done.txt", "caf\xC3\xA9 menu.pdf", "a#b?c&d",
                                         "folder with space"};
    for (const auto& n : names) {
        if (n.starts_with("folder"))
            writeFile(files / n / "x", "x");
        else
            writeFile(files / n, "x");
    }
    for (const auto& n : names) {
        platform::LinuxSpawn spawn;
        // trash-put reads XDG_DATA_HOME; run it through env with an argument vector.
        auto r = spawn.run("/usr/bin/env", {"XDG_DATA_HOME=" + data.string(), "HOME=" + dir.path().string(),
                                            "/usr/bin/trash-put", "--", (files / n).string()});
        ASSERT_TRUE(r) << r.error().message;
        ASSERT_EQ(r->exitCode, 0) << r->err;
    }
    const fs::path trash = data / "Trash";
    auto items = trash::listItems(trash);
    ASSERT_EQ(items.size(), names.size());
    std::vector<std::string> originals;
    for (const auto& i : items) {
        ASSERT_TRUE(i.info) << i.name;
        ASSERT_TRUE(i.info->deletedAt) << i.name;
        EXPECT_LE(*i.info->deletedAt, std::chrono::system_clock::now());
        EXPECT_GT(*i.info->deletedAt, std::chrono::system_clock::now() - std::chrono::hours(1));
        originals.push_back(fs::path(i.info->path).filename().string());
    }
    std::sort(originals.begin(), originals.end());
    auto sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(originals, sorted);

    EXPECT_EQ(trash::emptyOlderThan(trash, kNow - kDay, trash::Unlock::No).removed, 0u);
    const auto r = trash::emptyOlderThan(trash, std::chrono::system_clock::now() + kDay, trash::Unlock::No);
    EXPECT_EQ(r.removed, names.size());
    EXPECT_TRUE(fs::is_empty(trash / "files"));
    EXPECT_TRUE(fs::is_empty(trash / "info"));
    platform::LinuxSpawn spawn;
    auto list = spawn.run("/usr/bin/env", {"XDG_DATA_HOME=" + data.string(), "HOME=" + dir.path().string(),
                                           "/usr/bin/trash-list"});
    ASSERT_TRUE(list);
    EXPECT_EQ(list->out, "");
}

// A real volume: a tmpfs mounted by the test, its Trash found through the kernel's mount table,
// measured and emptied with the home Trash.
TEST(TrashVolumes, TmpfsVolumeFromTheRealMountTable) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root; the fake mount table covers the rest";
    test::TempDir dir;
    const fs::path vol = dir / "vol";
    fs::create_directories(vol);
    if (::mount("tmpfs", vol.c_str(), "tmpfs", 0, "size=8m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{vol};
    const fs::path volTrash = vol / ".Trash-0";
    trashItem(volTrash, "on usb.txt", (vol / "on usb.txt").string(), kNow - 10 * kDay, 4096);
    // A link named like the other Trash leads off the volume and is never followed.
    fs::create_directories(dir / "outside");
    writeFile(dir / "outside/keep", "keep");
    fs::create_directory_symlink(dir / "outside", vol / ".Trash");
    const auto all = trash::allTrashFolders(dir / "home/Trash", "/proc/self/mountinfo", 0);
    ASSERT_TRUE(std::any_of(all.begin(), all.end(), [&](const auto& f) { return f.path == volTrash; }));
    EXPECT_FALSE(
        std::any_of(all.begin(), all.end(), [&](const auto& f) { return f.path == vol / ".Trash/0"; }));
    const std::vector<trash::TrashFolder> mine{{dir / "home/Trash", {}}, {volTrash, vol}};
    const auto r = trash::emptyAll(mine, trash::Unlock::No);
    EXPECT_TRUE(r.ok());
    EXPECT_TRUE(fs::is_empty(volTrash / "files"));
    EXPECT_EQ(readFile(dir / "outside/keep"), "keep");
}

// Emptying never enters a file system mounted inside the Trash.
TEST(TrashVolumes, EmptyingStaysOnTheVolume) {
    if (::geteuid() != 0) GTEST_SKIP() << "mounting a tmpfs needs root";
    test::TempDir dir;
    const fs::path trash = dir / "Trash";
    trashItem(trash, "plain.txt", "/x/plain.txt", kNow - kDay);
    const fs::path inner = trash / "files/mounted here";
    fs::create_directories(inner);
    if (::mount("tmpfs", inner.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here: " << std::strerror(errno);
    struct Unmount {
        fs::path p;
        ~Unmount() { ::umount2(p.c_str(), MNT_DETACH); }
    } unmount{inner};
    writeFile(inner / "other volume.txt", "stays");
    const auto r = trash::emptyTrash(trash, trash::Unlock::Yes);
    EXPECT_FALSE(r.ok());
    EXPECT_FALSE(present(trash / "files/plain.txt"));
    EXPECT_EQ(readFile(inner / "other volume.txt"), "stays");
}

TEST(TrashTimer, UnitsAreValidAndRunTheCheck) {
    test::TempDir dir;
    const fs::path cli = dir / "bin dir/vaultry-cli";
    writeFile(cli, "#!/bin/sh\n");
    fs::permissions(cli, fs::perms::owner_all);
    const std::string service = trash::trashCheckService(cli);
    EXPECT_NE(service.find("ExecStart=\"" + cli.string() + "\" trash check --yes\n"), std::string::npos);
    EXPECT_EQ(trash::systemdQuoted("a\"b\\c%d$e"), "\"a\\\"b\\\\c%%d$$e\"");
    const std::string timer = trash::trashCheckTimer();
    EXPECT_NE(timer.find("OnCalendar=hourly"), std::string::npos);
    EXPECT_NE(timer.find("Persistent=true"), std::string::npos);

    // Installing writes both units (the container may have no user manager to start them).
    test::FakeSpawn fake;
    const auto st = trash::installTrashTimer(fake, dir / "config", cli);
    const fs::path units = trash::userUnitFolder(dir / "config");
    EXPECT_EQ(readFile(units / trash::kServiceName), service);
    EXPECT_EQ(readFile(units / trash::kTimerName), timer);
    if (st) {
        ASSERT_EQ(fake.calls.size(), 2u);
        EXPECT_EQ(fake.calls[1].args,
                  (std::vector<std::string>{"--user", "enable", "--now", trash::kTimerName}));
    }
    if (::access("/usr/bin/systemd-analyze", X_OK) == 0) {
        platform::LinuxSpawn spawn;
        auto r = spawn.run("/usr/bin/systemd-analyze",
                           {"verify", "--man=no", (units / trash::kServiceName).string(),
                            (units / trash::kTimerName).string()});
        ASSERT_TRUE(r);
        EXPECT_EQ(r->exitCode, 0) << r->out << r->err;
    }
    EXPECT_TRUE(trash::removeTrashTimer(fake, dir / "config") || true);
    EXPECT_FALSE(present(units / trash::kServiceName));
    EXPECT_FALSE(present(units / trash::kTimerName));
    EXPECT_EQ(trash::trashTimerStatus(fake, dir / "config"), "off");
}

}  // namespace
}  // namespace vaultry
