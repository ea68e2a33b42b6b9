// The trash engines and vaultry-cli's trash commands, on real files and real programs.
#include "trash/Trash.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <sys/mount.h>

#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxSpawn.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "trash/SecureErase.h"
#include "util/NoLinkPath.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::writeFile;

TEST(DuOutput, LeadingKilobytesTimes1024) {
    const std::pair<std::string, std::uint64_t> cases[] = {
        {"2048\t/home/u/.local/share/Trash\n", 2097152},
        {"0\t/t\n", 0},
        {"7 more words", 7168},
        {"12abc", 12288},
        {"", 0},
        {"garbage\n", 0},
        {" 2048\t/t", 0},  // the first blank-separated piece is empty
        {"-5\t/t", 0},
        {"\t\n", 0},
        {"99999999999999999999999999\t/t", UINT64_MAX},
        {"18014398509481983\t/t", 18014398509481983ull * 1024},  // the largest count that fits
    };
    for (const auto& [out, bytes] : cases) EXPECT_EQ(trash::parseDuOutput(out), bytes) << out;
}

TEST(FolderSize, FilesMissingPathsAndFolders) {
    test::TempDir dir;
    test::FakeSpawn fake;
    fake.answer = [](const test::FakeSpawn::Call&) { return platform::Spawn::Output{0, "2048\tx\n", ""}; };
    writeFile(dir / "plain", std::string(1234, 'x'));
    EXPECT_EQ(trash::fastFolderSizeAtFilePath(fake, dir / "plain"), 1234u);
    EXPECT_EQ(trash::fastFolderSizeAtFilePath(fake, dir / "missing"), 0u);
    EXPECT_TRUE(fake.calls.empty());  // neither runs du
    const fs::path odd = dir / "line\nbreak -d";
    fs::create_directories(odd);
    EXPECT_EQ(trash::fastFolderSizeAtFilePath(fake, odd), 2097152u);
    ASSERT_EQ(fake.calls.size(), 1u);
    EXPECT_EQ(fake.calls[0].program, "/usr/bin/du");
    EXPECT_EQ(fake.calls[0].args, (std::vector<std::string>{"-k", "-d", "0", odd.string()}));

    // The real du through the real spawn agrees with du run directly.
    writeFile(odd / "data", std::string(300000, 'y'));
    platform::LinuxSpawn spawn;
    auto direct = spawn.run("/usr/bin/du", {"-k", "-d", "0", odd.string()});
    ASSERT_TRUE(direct.ok());
    const auto size = trash::fastFolderSizeAtFilePath(spawn, odd);
    EXPECT_GE(size, 300000u);
    EXPECT_EQ(size, trash::parseDuOutput(direct->out));
    fake.answer = [](const test::FakeSpawn::Call&) -> Result<platform::Spawn::Output> {
        return fail("no du");
    };
    EXPECT_EQ(trash::fastFolderSizeAtFilePath(fake, odd), 0u);
}

struct TrashFixture {
    test::TempDir dir;
    fs::path trash = dir / "Trash";
    fs::path outside = dir / "outside";
    TrashFixture() {
        writeFile(outside / "keep.txt", "precious");
        writeFile(trash / "files/a.txt", "a");
        writeFile(trash / "files/dir/sub/b.txt", "b");
        writeFile(trash / "files/line\nname", "n");
        writeFile(trash / "info/a.txt.trashinfo", "[Trash Info]\n");
        writeFile(trash / "directorysizes", "1 2 dir\n");
        fs::create_directory_symlink(outside, trash / "files/to-outside");
        fs::create_directory_symlink("/", trash / "files/to-root");
        fs::create_symlink(outside / "keep.txt", trash / "files/dir/keep-link");
    }
};

TEST(EmptyTrash, RemovesContentsKeepsFoldersAndNeverFollowsLinks) {
    TrashFixture f;
    const auto r = trash::emptyTrash(f.trash, trash::Unlock::No);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(r.removed, 10u);
    EXPECT_TRUE(fs::is_directory(f.trash / "files"));
    EXPECT_TRUE(fs::is_directory(f.trash / "info"));
    EXPECT_TRUE(fs::is_empty(f.trash / "files"));
    EXPECT_TRUE(fs::is_empty(f.trash / "info"));
    EXPECT_FALSE(present(f.trash / "directorysizes"));
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");

    // A Trash that does not exist yet, or whose files/ is a link, leaves everything alone.
    EXPECT_TRUE(trash::emptyTrash(f.dir / "NoTrash", trash::Unlock::Yes).ok());
    EXPECT_FALSE(present(f.dir / "NoTrash"));
    fs::remove(f.trash / "files");
    fs::create_directory_symlink(f.outside, f.trash / "files");
    EXPECT_TRUE(trash::emptyTrash(f.trash, trash::Unlock::Yes).ok());
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
}

TEST(EmptyTrash, UnlockMakesReadOnlyFoldersRemovable) {
    TrashFixture f;
    fs::permissions(f.trash / "files/dir/sub", fs::perms::owner_read | fs::perms::owner_exec);
    fs::permissions(f.trash / "files/dir", fs::perms::none);
    if (::geteuid() != 0) {  // the superuser removes them anyway
        const auto locked = trash::emptyTrash(f.trash, trash::Unlock::No);
        EXPECT_FALSE(locked.ok());
        EXPECT_TRUE(present(f.trash / "files/dir"));
    }
    const auto r = trash::emptyTrash(f.trash, trash::Unlock::Yes);
    EXPECT_TRUE(r.ok()) << r.failed;
    EXPECT_TRUE(fs::is_empty(f.trash / "files"));
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
    EXPECT_EQ(fs::status(f.outside).permissions() & fs::perms::owner_all, fs::perms::owner_all);
}

TEST(RemoveTree, RefusesTheRootAndRemovesLinksAsLinks) {
    test::TempDir dir;
    EXPECT_FALSE(trash::removeTree("/", trash::Unlock::No).ok());
    EXPECT_FALSE(trash::removeTree("/..", trash::Unlock::No).ok());
    writeFile(dir / "target/t.txt", "t");
    fs::create_directory_symlink(dir / "target", dir / "link");
    EXPECT_TRUE(trash::removeTree(dir / "link/", trash::Unlock::No).ok());
    EXPECT_FALSE(present(dir / "link"));
    EXPECT_EQ(readFile(dir / "target/t.txt"), "t");
}

TEST(Schedule, TimeChoicesAndElapsedSeconds) {
    EXPECT_EQ(trash::intervalOfTimeChoice("Daily"), 86400u);
    EXPECT_EQ(trash::intervalOfTimeChoice("Every Week"), 604800u);
    EXPECT_EQ(trash::intervalOfTimeChoice("Two Weeks"), 1209600u);
    EXPECT_EQ(trash::intervalOfTimeChoice("Every Month"), 2592000u);
    EXPECT_EQ(trash::intervalOfTimeChoice("Two Months"), 5184000u);
    EXPECT_FALSE(trash::intervalOfTimeChoice("daily"));
    EXPECT_FALSE(trash::intervalOfTimeChoice(""));

    const auto now = std::chrono::system_clock::from_time_t(1'765'000'000);
    EXPECT_EQ(trash::secondsSince(now - std::chrono::seconds(1209600), now), 1209600u);
    EXPECT_EQ(trash::secondsSince(now - std::chrono::milliseconds(1209599999), now), 1209599u);  // truncated
    EXPECT_EQ(trash::secondsSince(std::nullopt, now), 1'765'000'000u - 978'307'200u);
    EXPECT_EQ(trash::secondsSince(now + std::chrono::hours(1), now), 0u);  // a clock set back
    EXPECT_EQ(trash::lastCleanDateText(std::chrono::system_clock::from_time_t(1'796'601'600)),
              "(2026-12-07)");
}

TEST(Schedule, SliderBandsInSinglePrecision) {
    constexpr double kMax = 100;
    EXPECT_EQ(trash::storageThresholdForSlider(0, kMax), 0u);
    EXPECT_EQ(trash::storageThresholdForSlider(3, kMax), 90000000u);  // under the "100MB" floor
    EXPECT_EQ(trash::storageThresholdForSlider(25, kMax), 750000000u);
    EXPECT_NEAR(double(trash::storageThresholdForSlider(26, kMax)), 1.56e9, 1e3);
    EXPECT_EQ(trash::storageThresholdForSlider(50, kMax), 3000000000u);
    EXPECT_NEAR(double(trash::storageThresholdForSlider(51, kMax)), 4.59e9, 1e3);
    EXPECT_EQ(trash::storageThresholdForSlider(75, kMax), 6750000128u);  // 6.75e9 as a float
    EXPECT_NEAR(double(trash::storageThresholdForSlider(76, kMax)), 7.6e9, 1e3);
    EXPECT_EQ(trash::storageThresholdForSlider(100, kMax), 10000000000u);
    EXPECT_EQ(trash::storageThresholdForSlider(25.9, kMax), 750000000u);  // taken as an integer
    EXPECT_EQ(trash::storageThresholdForSlider(-5, kMax), 0u);
    EXPECT_EQ(trash::storageThresholdForSlider(5, 0), 0u);
}

struct EraseFixture {
    test::TempDir dir;
    fs::path chosen = dir / "chosen";
    fs::path outside = dir / "outside";
    EraseFixture() {
        writeFile(outside / "keep.txt", "precious");
        writeFile(chosen / "a.txt", std::string(5000, 'a'));
        writeFile(chosen / ".hidden", "h");
        writeFile(chosen / "sub/b.txt", "b");
        writeFile(chosen / "-rf", "dash");
        fs::create_directory_symlink(outside, chosen / "outside-link");
        fs::create_symlink(outside / "keep.txt", chosen / "sub/file-link");
        fs::create_directory_symlink("/", chosen / "sub/root-link");
        ::mkfifo((chosen / "pipe").c_str(), 0600);
    }
};

TEST(SecureErase, OverwritesFilesOnlyAndNeverLeavesTheChosenItems) {
    EraseFixture f;
    test::FakeSpawn fake;
    const trash::EraseTool tool{"/usr/bin/srm", {}};
    const auto r = trash::eraseItem(fake, tool, f.chosen);
    std::vector<std::string> erased;
    for (const auto& c : fake.calls) {
        EXPECT_EQ(c.program, "/usr/bin/srm");
        ASSERT_EQ(c.args.size(), 2u);
        EXPECT_EQ(c.args[0], "--");
        // The tool sees a random name in the file's own folder, never the file's name.
        const fs::path given = fs::path(c.args[1]).lexically_relative(f.chosen);
        EXPECT_EQ(given.filename().string().size(), 16u) << given;
        erased.push_back(given.parent_path().string());
    }
    std::sort(erased.begin(), erased.end());
    EXPECT_EQ(erased, (std::vector<std::string>{"", "", "", "sub"}));  // .hidden too, no link
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
    // The fake tool removed nothing itself: what it did not erase stays, under its own name.
    EXPECT_EQ(r.failed, 4u);
    EXPECT_EQ(readFile(f.chosen / ".hidden"), "h");
    EXPECT_EQ(readFile(f.chosen / "sub/b.txt"), "b");

    // A chosen link is removed as a link; a missing item is skipped.
    fs::create_directory_symlink(f.outside, f.dir / "chosen-link");
    fake.calls.clear();
    EXPECT_TRUE(trash::eraseItem(fake, tool, f.dir / "chosen-link").ok());
    EXPECT_TRUE(trash::eraseItem(fake, tool, f.dir / "gone").ok());
    EXPECT_TRUE(fake.calls.empty());
    EXPECT_FALSE(present(f.dir / "chosen-link"));
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
    EXPECT_FALSE(trash::eraseItem(fake, tool, "/").ok());
    EXPECT_TRUE(fake.calls.empty());
}

TEST(SecureErase, TheNameGoesFirstAndComesBackWhenTheToolFails) {
    test::TempDir dir;
    writeFile(dir / "tax return 2026.pdf", "secret");
    test::FakeSpawn fake;
    std::string seenContent;
    fake.answer = [&](const test::FakeSpawn::Call& c) {
        seenContent = readFile(c.args.back());  // the file is there, under the name given
        return platform::Spawn::Output{1, "", "failed"};
    };
    const auto r = trash::eraseFile(fake, {"/usr/bin/srm", {}}, dir / "tax return 2026.pdf");
    ASSERT_EQ(fake.calls.size(), 1u);
    const fs::path given = fake.calls[0].args.back();
    EXPECT_EQ(given.parent_path(), dir.path());
    EXPECT_EQ(given.filename().string().find("tax"), std::string::npos);
    EXPECT_EQ(seenContent, "secret");
    // Not erased: reported, and the file is where the user left it.
    EXPECT_EQ(r.failed, 1u);
    EXPECT_EQ(readFile(dir / "tax return 2026.pdf"), "secret");
    EXPECT_FALSE(present(given));
}

TEST(SecureErase, OnePassChoiceAndWhereOverwritingFallsShort) {
    const auto fast = trash::eraseToolForPasses(1);
    if (::access(trash::kSrmProgram, X_OK) == 0)
        EXPECT_EQ(fast.options, (std::vector<std::string>{"-l", "-l"}));
    else
        EXPECT_EQ(fast.options, (std::vector<std::string>{"-u", "-n", "1", "-z"}));
    EXPECT_EQ(trash::eraseToolForPasses(0).options, trash::defaultEraseTool().options);
    EXPECT_EQ(trash::eraseToolForPasses(0).program, trash::defaultEraseTool().program);
    // Memory-backed files have no drive and no copy-on-write: nothing to warn about.
    const fs::path probe = "/dev/shm/vaultry-caveat-" + std::to_string(::getpid());
    if (::access("/dev/shm", W_OK) == 0) {
        writeFile(probe, "x");
        EXPECT_EQ(trash::overwriteCaveat(probe), "");
        fs::remove(probe);
    }
}

TEST(SecureErase, RealSrmAndShred) {
    EraseFixture f;
    platform::LinuxSpawn spawn;
    const auto tool = trash::defaultEraseTool();
    const auto r = trash::eraseItem(spawn, tool, f.chosen);
    EXPECT_TRUE(r.ok()) << r.failed;
    EXPECT_EQ(r.erased, 4u);
    EXPECT_FALSE(present(f.chosen));
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");

    const trash::EraseTool shred{"/usr/bin/shred", {"-u", "-z", "-n", "3"}};
    writeFile(f.dir / "-n", "looks like an option");
    const auto s = trash::eraseItem(spawn, shred, f.dir / "-n");
    EXPECT_TRUE(s.ok());
    EXPECT_EQ(s.erased, 1u);
    EXPECT_FALSE(present(f.dir / "-n"));
}

// Tab completion writes "dir/link/": the link itself goes, what it points to stays untouched.
TEST(SecureErase, ATrailingSlashRemovesTheLinkNeverWhatItPointsTo) {
    EraseFixture f;
    platform::LinuxSpawn spawn;
    const auto tool = trash::defaultEraseTool();
    for (const std::string tail : {"/", "///", "/.", "/./"}) {
        fs::create_directory_symlink(f.outside, f.dir / "link");
        const auto r = trash::eraseItem(spawn, tool, (f.dir / "link").string() + tail);
        EXPECT_TRUE(r.ok()) << tail;
        EXPECT_EQ(r.erased, 0u) << tail;
        EXPECT_EQ(r.removed, 1u) << tail;
        EXPECT_FALSE(present(f.dir / "link")) << tail;
        EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious") << tail;
    }
    fs::create_symlink(f.outside / "keep.txt", f.dir / "file-link");
    EXPECT_TRUE(trash::eraseItem(spawn, tool, (f.dir / "file-link/").string()).ok());
    EXPECT_FALSE(present(f.dir / "file-link"));
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
    // A real folder named with a slash is still erased.
    EXPECT_TRUE(trash::eraseItem(spawn, tool, f.chosen.string() + "/").ok());
    EXPECT_FALSE(present(f.chosen));
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
}

// Overwriting a file overwrites every name it has: a file with another hard link is refused with
// the reason, by either tool, and both names keep their content.
TEST(SecureErase, AFileWithOtherHardLinksIsRefused) {
    EraseFixture f;
    platform::LinuxSpawn spawn;
    const trash::EraseTool shred{"/usr/bin/shred", {"-u", "-z", "-n", "3"}};
    fs::create_hard_link(f.outside / "keep.txt", f.chosen / "sub/second-name");
    for (const auto& tool : {shred, trash::defaultEraseTool()}) {
        const auto r = trash::eraseItem(spawn, tool, f.chosen / "sub/second-name");
        EXPECT_FALSE(r.ok());
        ASSERT_EQ(r.refusals.size(), 1u);
        EXPECT_NE(r.refusals[0].find("2 hard links"), std::string::npos) << r.refusals[0];
        EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
        EXPECT_EQ(readFile(f.chosen / "sub/second-name"), "precious");
        // Refused before the random rename: the file keeps its name, and nothing else appeared.
        EXPECT_NE(r.refusals[0].find("sub/second-name:"), std::string::npos) << r.refusals[0];
        for (const auto& e : fs::directory_iterator(f.chosen / "sub"))
            EXPECT_NE(e.path().filename().string().size(), 16u) << e.path();
    }
    // Inside a chosen folder the other files are erased; the folder stays with the refused file.
    const auto r = trash::eraseItem(spawn, shred, f.chosen);
    EXPECT_EQ(r.erased, 4u);
    EXPECT_EQ(r.refusals.size(), 1u);
    EXPECT_EQ(readFile(f.outside / "keep.txt"), "precious");
    EXPECT_FALSE(present(f.chosen / "a.txt"));
}

// A tool that overwrites nothing but records what it was given, then deletes it as srm would.
struct RecordingTool {
    test::FakeSpawn fake;
    std::vector<std::string> contents;  // of every file handed over, sorted when read
    RecordingTool() {
        fake.answer = [this](const test::FakeSpawn::Call& c) {
            contents.push_back(readFile(c.args.back()));
            fs::remove(c.args.back());
            return platform::Spawn::Output{0, "", ""};
        };
    }
    std::vector<std::string> given() {
        std::sort(contents.begin(), contents.end());
        return contents;
    }
};

// Every regular file of a tree goes to the tool, names beginning with "." and everything inside
// folders so named included; the counts say what was overwritten and what was only removed.
TEST(SecureErase, DotFilesAndDotFoldersAreOverwrittenToo) {
    test::TempDir dir;
    const fs::path chosen = dir / "project";
    writeFile(chosen / ".env", "API_KEY=1");
    writeFile(chosen / ".git/config", "[core]");
    writeFile(chosen / ".git/objects/ab/cdef", "blob");
    writeFile(chosen / "src/.secret", "s");
    writeFile(chosen / "main.cpp", "m");
    fs::create_symlink(".env", chosen / ".env-link");
    RecordingTool tool;
    EXPECT_EQ(trash::eraseUnits(chosen), 6u);
    const auto r = trash::eraseItem(tool.fake, {"/usr/bin/srm", {}}, chosen);
    EXPECT_TRUE(r.ok());
    EXPECT_EQ(tool.given(), (std::vector<std::string>{"API_KEY=1", "[core]", "blob", "m", "s"}));
    EXPECT_EQ(r.erased, 5u);
    EXPECT_EQ(r.removed, 6u);  // the link and the folders .git, .git/objects, .git/objects/ab, src, project
    EXPECT_FALSE(present(chosen));

    // Folders erased in place (they stay) have their dot files overwritten as well.
    writeFile(dir / "keep/.bash_history", "history");
    RecordingTool inPlace;
    EXPECT_TRUE(trash::EraseFileDirectoryPath(inPlace.fake, {"/usr/bin/srm", {}}, dir / "keep").ok());
    EXPECT_EQ(inPlace.given(), std::vector<std::string>{"history"});
    EXPECT_TRUE(fs::is_empty(dir / "keep"));

    // A dot file the tool fails on is counted as not erased and stays under its name: it is never
    // deleted without being overwritten.
    writeFile(chosen / ".env", "API_KEY=2");
    writeFile(chosen / "a.txt", "a");
    test::FakeSpawn failing;
    failing.answer = [](const test::FakeSpawn::Call& c) {
        if (readFile(c.args.back()) == "API_KEY=2") return platform::Spawn::Output{1, "", "failed"};
        fs::remove(c.args.back());
        return platform::Spawn::Output{0, "", ""};
    };
    const auto f = trash::eraseItem(failing, {"/usr/bin/srm", {}}, chosen);
    EXPECT_FALSE(f.ok());
    EXPECT_EQ(f.erased, 1u);
    EXPECT_EQ(f.failed, 1u);
    EXPECT_EQ(readFile(chosen / ".env"), "API_KEY=2");
    EXPECT_FALSE(present(chosen / "a.txt"));
}

// A file system mounted inside the chosen folder is another volume: nothing on it is entered,
// overwritten or deleted, and its mount point is listed. The device of each entry is stood in
// here, as an unprivileged test cannot mount anything.
TEST(SecureErase, AnotherFileSystemInsideIsLeftAloneAndListed) {
    test::TempDir dir;
    const fs::path chosen = dir / "chosen";
    writeFile(chosen / "a.txt", "a");
    writeFile(chosen / "usb/photo.jpg", "photo");
    writeFile(chosen / "usb/.hidden", "h");
    writeFile(chosen / "deep/bind.txt", "bound");  // a single file can be bind-mounted too
    writeFile(chosen / "deep/b.txt", "b");
    const trash::DeviceOf device = [&](const fs::path& p, const struct stat& st) {
        return p == chosen / "usb" || p == chosen / "deep/bind.txt" ? st.st_dev + 1 : st.st_dev;
    };
    RecordingTool tool;
    EXPECT_EQ(trash::eraseUnits(chosen, device), 2u);
    const auto run =
        trash::eraseItems(tool.fake, {"/usr/bin/srm", {}}, {chosen.string()}, Progress::none(), device);
    EXPECT_EQ(tool.given(), (std::vector<std::string>{"a", "b"}));
    auto others = run.report.otherFileSystems;
    std::sort(others.begin(), others.end());
    EXPECT_EQ(others,
              (std::vector<std::string>{(chosen / "deep/bind.txt").string(), (chosen / "usb").string()}));
    EXPECT_EQ(readFile(chosen / "usb/photo.jpg"), "photo");
    EXPECT_EQ(readFile(chosen / "usb/.hidden"), "h");
    EXPECT_EQ(readFile(chosen / "deep/bind.txt"), "bound");
    EXPECT_FALSE(run.report.ok());
    EXPECT_EQ(run.left, std::vector<std::string>{chosen.string()});
    EXPECT_EQ(run.partial, std::vector<std::string>{chosen.string()});
}

// A real mount (root only): a tmpfs mounted inside the folder given to `vaultry-cli erase`.
TEST(SecureErase, AMountedTmpfsInsideIsLeftAlone) {
    if (::geteuid() != 0)
        GTEST_SKIP() << "mounting a tmpfs needs root; the device check is tested with a fake";
    test::TempDir dir;
    const fs::path mnt = dir / "chosen/mnt";
    writeFile(dir / "chosen/a.txt", "a");
    fs::create_directories(mnt);
    if (::mount("tmpfs", mnt.c_str(), "tmpfs", 0, "size=1m") != 0)
        GTEST_SKIP() << "cannot mount a tmpfs here (" << std::strerror(errno) << "), e.g. in a container";
    writeFile(mnt / "on-the-stick.txt", "stick");
    writeFile(mnt / ".dot", "dot");
    const auto r = test::runCli(dir.path(), {"erase", "--yes", (dir / "chosen").string()});
    const std::string stick = readFile(mnt / "on-the-stick.txt"), dot = readFile(mnt / ".dot");
    ::umount(mnt.c_str());
    EXPECT_EQ(r.code, 1) << r.err;
    EXPECT_NE(r.err.find("left alone, another file system is mounted at " + mnt.string()), std::string::npos)
        << r.err;
    EXPECT_EQ(stick, "stick");
    EXPECT_EQ(dot, "dot");
    EXPECT_FALSE(present(dir / "chosen/a.txt"));
}

// A path whose meaning depends on a link is refused with its reason, whatever the link is in it;
// ".." is taken lexically only after the folders before it are proved real; a link as the last
// component is the link itself.
TEST(SecureErase, APathThroughALinkIsRefused) {
    test::TempDir dir;
    writeFile(dir / "outside/data/keep.txt", "precious");
    writeFile(dir / "dir/sub/a.txt", "a");
    fs::create_directory_symlink(dir / "outside/data", dir / "dir/link");
    const std::string d = (dir / "dir").string();
    const std::pair<std::string, std::string> refused[] = {
        {d + "/link/..", d + "/link is a symbolic link"},
        {d + "/link/keep.txt", d + "/link is a symbolic link"},
        {d + "/link/../data/", d + "/link is a symbolic link"},
        {d + "/sub/../link/./keep.txt", d + "/sub/../link is a symbolic link"},
        {d + "/sub/a.txt/..", d + "/sub/a.txt is not a folder"},
    };
    for (const auto& [path, why] : refused) {
        SCOPED_TRACE(path);
        const auto resolved = pathWithoutLinks(path);
        ASSERT_FALSE(resolved);
        EXPECT_EQ(resolved.error().message, path + ": refused: " + why);
        RecordingTool tool;
        const auto r = trash::eraseItem(tool.fake, {"/usr/bin/srm", {}}, path);
        EXPECT_FALSE(r.ok());
        ASSERT_EQ(r.refusals.size(), 1u);
        EXPECT_EQ(r.refusals[0], path + ": refused: " + why);
        EXPECT_TRUE(tool.given().empty());
        EXPECT_EQ(trash::eraseUnits(path), 0u);
        EXPECT_FALSE(trash::EraseFileDirectoryPath(tool.fake, {"/usr/bin/srm", {}}, path).ok());
        EXPECT_EQ(readFile(dir / "outside/data/keep.txt"), "precious");
        EXPECT_EQ(readFile(dir / "dir/sub/a.txt"), "a");
    }
    EXPECT_EQ(*pathWithoutLinks(d + "/sub/../sub/a.txt"), dir / "dir/sub/a.txt");
    EXPECT_EQ(*pathWithoutLinks(d + "/link/"), dir / "dir/link");
    EXPECT_EQ(*pathWithoutLinks("/"), fs::path("/"));

    // A Trash folder that is itself a link is never emptied.
    writeFile(dir / "outside/data/Trash/files/x", "x");
    fs::create_symlink(dir / "outside/data/Trash", dir / "TrashLink");
    EXPECT_FALSE(trash::emptyTrash(dir / "TrashLink", trash::Unlock::No).ok());
    EXPECT_EQ(readFile(dir / "outside/data/Trash/files/x"), "x");
    EXPECT_EQ(readFile(dir / "outside/data/keep.txt"), "precious");
}

// vaultry-cli as a user runs it, on a temporary home.
struct Cli {
    test::TempDir home;
    platform::Spawn::Output run(std::vector<std::string> args) {
        std::vector<std::string> all{
            "-u", "XDG_CONFIG_HOME", "-u", "XDG_DATA_HOME", "HOME=" + home.path().string(), VAULTRY_CLI_PATH};
        all.insert(all.end(), args.begin(), args.end());
        platform::LinuxSpawn spawn;
        auto r = spawn.run("/usr/bin/env", all);
        return r ? *r : platform::Spawn::Output{};
    }
};

TEST(TrashCli, SizeEmptyCheckEraseAndLoginItem) {
    Cli cli;
    EXPECT_EQ(cli.run({"trash", "size", "--bytes"}).out, "0\n");  // no Trash yet
    const fs::path trash = cli.home / ".local/share/Trash";
    writeFile(trash / "files/big", std::string(2 << 20, 'x'));
    writeFile(trash / "info/big.trashinfo", "[Trash Info]\n");
    EXPECT_GE(std::stoull(cli.run({"trash", "size", "--bytes"}).out), 2u << 20);

    auto refused = cli.run({"trash", "empty"});  // no terminal, no --yes: a usage error
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_NE(refused.err.find("vaultry-cli: trash empty asks first"), std::string::npos);
    EXPECT_TRUE(present(trash / "files/big"));

    EXPECT_EQ(cli.run({"trash", "check", "--every", "Weekly"}).exitCode, 2);
    EXPECT_EQ(cli.run({"trash", "check"}).out, "No Trash schedule is set\n");  // the kept rules: none
    auto notDue = cli.run({"trash", "check", "--above", "1000000000", "--yes"});
    EXPECT_EQ(notDue.exitCode, 0);
    EXPECT_NE(notDue.out.find("not due"), std::string::npos);
    auto due = cli.run({"trash", "check", "--every", "Two Weeks", "--yes"});  // never emptied: due
    EXPECT_EQ(due.exitCode, 0) << due.err;
    EXPECT_FALSE(present(trash / "files/big"));
    EXPECT_NE(due.out.find("Trash emptied (2."), std::string::npos) << due.out;
    EXPECT_NE(due.out.find("Last emptied: 2."), std::string::npos) << due.out;
    EXPECT_NE(cli.run({"trash", "check", "--every", "Two Weeks"}).out.find("not due"), std::string::npos);
    // The emptied Trash holds nothing, whatever its empty folders take on the disk.
    EXPECT_EQ(cli.run({"trash", "size", "--bytes"}).out, "0\n");
    EXPECT_EQ(cli.run({"trash", "size"}).out, "0.00bytes\n");

    writeFile(cli.home / "secret/a.txt", "a");
    fs::create_directory_symlink(cli.home / "outside", cli.home / "secret/link");
    writeFile(cli.home / "outside/keep.txt", "keep");
    auto erase = cli.run({"erase", "--yes", (cli.home / "secret").string(), (cli.home / "missing").string()});
    EXPECT_EQ(erase.exitCode, 1);
    EXPECT_NE(erase.err.find("no such file or folder"), std::string::npos);
    EXPECT_FALSE(present(cli.home / "secret"));
    EXPECT_EQ(readFile(cli.home / "outside/keep.txt"), "keep");

    // The form tab completion writes removes the link only; a hard-linked file is refused.
    fs::create_directory_symlink(cli.home / "outside", cli.home / "link");
    erase = cli.run({"erase", "--yes", (cli.home / "link/").string()});
    EXPECT_EQ(erase.exitCode, 0) << erase.err;
    EXPECT_FALSE(present(cli.home / "link"));
    EXPECT_EQ(readFile(cli.home / "outside/keep.txt"), "keep");
    fs::create_hard_link(cli.home / "outside/keep.txt", cli.home / "second");
    erase = cli.run({"erase", "--yes", (cli.home / "second").string()});
    EXPECT_EQ(erase.exitCode, 1);
    EXPECT_NE(erase.err.find("hard links"), std::string::npos) << erase.err;
    EXPECT_EQ(readFile(cli.home / "second"), "keep");

    // Dot files are overwritten like any other; one that cannot be makes the exit status 1.
    writeFile(cli.home / "project/.env", "KEY=1");
    writeFile(cli.home / "project/.git/HEAD", "ref");
    fs::create_hard_link(cli.home / "outside/keep.txt", cli.home / "project/.keep-too");
    erase = cli.run({"erase", "--yes", "--json", (cli.home / "project").string()});
    EXPECT_EQ(erase.exitCode, 1) << erase.err;
    EXPECT_NE(erase.err.find(".keep-too: not erased"), std::string::npos) << erase.err;
    const auto summary = nlohmann::json::parse(erase.out);
    EXPECT_EQ(summary["erased"], 2);
    EXPECT_EQ(summary["failed"], 1);
    EXPECT_EQ(summary["left"], nlohmann::json::array({(cli.home / "project").string()}));
    EXPECT_FALSE(present(cli.home / "project/.env"));
    EXPECT_EQ(readFile(cli.home / "project/.keep-too"), "keep");
    fs::remove(cli.home / "project/.keep-too");
    erase = cli.run({"erase", "--yes", (cli.home / "project").string()});
    EXPECT_EQ(erase.exitCode, 0) << erase.err;
    EXPECT_EQ(erase.out, "erased 0 file(s), removed 1 other item(s)\n");

    // A path through a link is refused before anything is asked or erased.
    writeFile(cli.home / "outside/sub/file.txt", "sub");
    fs::create_directory_symlink(cli.home / "outside/sub", cli.home / "to-sub");
    erase = cli.run(
        {"erase", "--yes", (cli.home / "to-sub/..").string(), (cli.home / "to-sub/file.txt").string()});
    EXPECT_EQ(erase.exitCode, 1);
    EXPECT_NE(erase.err.find((cli.home / "to-sub/..").string() +
                             ": refused: " + (cli.home / "to-sub").string() + " is a symbolic link"),
              std::string::npos)
        << erase.err;
    EXPECT_EQ(readFile(cli.home / "outside/keep.txt"), "keep");
    EXPECT_EQ(readFile(cli.home / "outside/sub/file.txt"), "sub");

    EXPECT_EQ(cli.run({"login-item", "on"}).exitCode, 0);
    EXPECT_TRUE(present(cli.home / ".config/autostart/vaultry.desktop"));
    EXPECT_EQ(cli.run({"login-item", "status"}).out, "on\n");
    EXPECT_NE(cli.run({"settings", "list"}).out.find("BAutoLogin\tYES"), std::string::npos);
    EXPECT_EQ(cli.run({"login-item", "off"}).exitCode, 0);
    EXPECT_EQ(cli.run({"login-item", "status"}).out, "off\n");
    EXPECT_EQ(cli.run({"login-item", "maybe"}).exitCode, 2);
}

}  // namespace
}  // namespace vaultry
