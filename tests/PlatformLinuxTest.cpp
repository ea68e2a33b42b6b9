#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSpawn.h"
#include "platform/linux/SecretGuard.h"
#include "support/FakePorts.h"
#include "vault/CopyManifest.h"
#include "vault/StorageFolder.h"

namespace vaultry::platform {
namespace {

// Sets environment variables for one test and puts the old values back.
class Env {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~Env() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

// The GUI runs tools by their bare name ("gio"): they are found through PATH, and a file of that
// name in the working folder is never run, whatever PATH says about "." or empty entries.
TEST(LinuxSpawn, BareNamesAreFoundThroughPathNeverInTheWorkingFolder) {
    test::TempDir dir;
    namespace fs = std::filesystem;
    fs::create_directories(dir / "bin");
    fs::create_directories(dir / "work");
    fs::create_symlink("/bin/echo", dir / "bin/vaultry-probe");
    fs::create_symlink("/bin/echo", dir / "work/only-here");
    test::writeFile(dir / "bin/not-executable", "x");
    const std::string bin = (dir / "bin").string();

    EXPECT_EQ(LinuxSpawn::resolveProgram("vaultry-probe", "/nowhere:" + bin), bin + "/vaultry-probe");
    EXPECT_EQ(LinuxSpawn::resolveProgram("vaultry-probe", "/nowhere:" + bin + "/"), bin + "/vaultry-probe");
    EXPECT_EQ(LinuxSpawn::resolveProgram("not-executable", bin), std::nullopt);
    EXPECT_EQ(LinuxSpawn::resolveProgram("bin", dir.path().string()), std::nullopt);  // a folder
    EXPECT_EQ(LinuxSpawn::resolveProgram("/usr/bin/x", ""), "/usr/bin/x");
    EXPECT_EQ(LinuxSpawn::resolveProgram("", bin), std::nullopt);

    const fs::path before = fs::current_path();
    fs::current_path(dir / "work");
    {
        Env env;
        env.set("PATH", (":.:work::" + bin).c_str());
        LinuxSpawn spawn;
        const auto probe = spawn.run("vaultry-probe", {"found", "in PATH"});
        ASSERT_TRUE(probe) << probe.error().message;
        EXPECT_EQ(probe->exitCode, 0);
        EXPECT_EQ(probe->out, "found in PATH\n");
        const auto local = spawn.run("only-here", {"ran from the working folder"});
        ASSERT_FALSE(local);
        EXPECT_NE(local.error().message.find("only-here: not found in PATH"), std::string::npos)
            << local.error().message;
        EXPECT_EQ(LinuxSpawn::resolveProgram("only-here"), std::nullopt);
        // The named path still runs as named.
        const auto named = spawn.run("./only-here", {"named"});
        ASSERT_TRUE(named);
        EXPECT_EQ(named->out, "named\n");
    }
    fs::current_path(before);
}

// The storage folder's icon: gio runs with its argument vector, and its failure is reported.
TEST(LinuxSpawn, FolderIconReportsAFailingOrMissingGio) {
    test::TempDir dir;
    test::FakeSpawn spawn;
    EXPECT_TRUE(vault::giveFolderIcon(dir.path(), spawn));
    ASSERT_EQ(spawn.calls.size(), 1u);
    EXPECT_EQ(spawn.calls[0].program, "gio");
    EXPECT_EQ(spawn.calls[0].args,
              (std::vector<std::string>{"set", dir.path().string(), "metadata::custom-icon-name",
                                        "vaultry-foldericns"}));
    EXPECT_EQ(test::readFile(dir / ".directory"), "[Desktop Entry]\nIcon=vaultry-foldericns\n");

    spawn.answer = [](const test::FakeSpawn::Call&) -> Result<Spawn::Output> {
        return Spawn::Output{1, "", "gio: Setting attribute not supported"};
    };
    auto st = vault::giveFolderIcon(dir.path(), spawn);
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("Setting attribute not supported"), std::string::npos);
    spawn.answer = [](const test::FakeSpawn::Call&) -> Result<Spawn::Output> {
        return fail("cannot run gio: not found in PATH");
    };
    st = vault::giveFolderIcon(dir.path(), spawn);
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("not found in PATH"), std::string::npos);
}

// The GUI and the command line hide items in one folder at the same time: every name ends up in
// ".hidden", and none of the writers' temporary files stays.
TEST(DotHiddenFlag, ConcurrentChangesKeepEveryName) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    constexpr int kWriters = 6, kNames = 40;
    for (int w = 0; w < kWriters; ++w)
        for (int n = 0; n < kNames; ++n)
            test::writeFile(dir / ("w" + std::to_string(w) + "-" + std::to_string(n)), "");
    test::writeFile(dir / "keep", "");
    DotHiddenFlag first;
    ASSERT_TRUE(first.setHidden((dir / "keep").string(), true));
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            DotHiddenFlag flag;
            for (int n = 0; n < kNames; ++n)
                EXPECT_TRUE(flag.setHidden(
                    (dir / ("w" + std::to_string(w) + "-" + std::to_string(n))).string(), true));
        });
    for (auto& t : writers) t.join();
    DotHiddenFlag flag;
    EXPECT_TRUE(flag.isHidden((dir / "keep").string()));
    for (int w = 0; w < kWriters; ++w)
        for (int n = 0; n < kNames; ++n)
            EXPECT_TRUE(flag.isHidden((dir / ("w" + std::to_string(w) + "-" + std::to_string(n))).string()))
                << w << "-" << n;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        if (e.path().filename() != ".hidden") {
            EXPECT_EQ(e.path().filename().string().find("hidden"), std::string::npos) << e.path();
        }
    }
}

// Two processes that loaded the copy manifest before either saved: both records stay, and an
// erase by one does not bring back or drop the other's.
TEST(CopyManifest, SavesMergeUnderTheLockInsteadOfOverwriting) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
    {
        vault::CopyManifest m = vault::CopyManifest::load(dir.path());
        m.set("/u/old", a);
        ASSERT_TRUE(m.save(dir.path()));
    }
    vault::CopyManifest gui = vault::CopyManifest::load(dir.path());
    vault::CopyManifest cli = vault::CopyManifest::load(dir.path());
    gui.set("/u/gui", b);
    cli.set("/u/cli", c);
    cli.erase("/u/old");
    ASSERT_TRUE(gui.save(dir.path()));
    ASSERT_TRUE(cli.save(dir.path()));
    auto back = vault::CopyManifest::load(dir.path());
    EXPECT_EQ(back.size(), 2u);
    ASSERT_NE(back.find("/u/gui"), nullptr);
    EXPECT_EQ(*back.find("/u/gui"), b);
    ASSERT_NE(back.find("/u/cli"), nullptr);
    EXPECT_EQ(back.find("/u/old"), nullptr);
    EXPECT_EQ(fs::status(dir / vault::CopyManifest::kFileName).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Many writers at once, each loading, adding and saving in turn.
    constexpr int kWriters = 6, kRecords = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int r = 0; r < kRecords; ++r) {
                vault::CopyManifest m = vault::CopyManifest::load(dir.path());
                m.set("/w" + std::to_string(w) + "/" + std::to_string(r), a);
                EXPECT_TRUE(m.save(dir.path()));
            }
        });
    for (auto& t : writers) t.join();
    back = vault::CopyManifest::load(dir.path());
    EXPECT_EQ(back.size(), 2u + kWriters * kRecords);
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename(), vault::CopyManifest::kFileName) << e.path();
}

TEST(LinuxPaths, FollowHomeXdgVariablesAndTheUserDirsFile) {
    test::TempDir home;
    Env env;
    env.set("HOME", home.path().c_str());
    for (const char* v :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_DOWNLOAD_DIR"})
        env.set(v, nullptr);
    LinuxPaths paths;
    EXPECT_EQ(paths.configHome(), home / ".config");
    EXPECT_EQ(paths.trash(), home.path() / ".local/share/Trash");
    EXPECT_EQ(paths.settingsFile(), home / ".config/com.Quenmark.vaultry.plist");
    EXPECT_EQ(paths.desktop(), home / "Desktop");

    test::writeFile(home / ".config/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                    "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n"
                    "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\n");  // unterminated: ignored
    EXPECT_EQ(paths.desktop(), home / "Schreibtisch");
    EXPECT_EQ(paths.documents(), "/srv/docs");
    EXPECT_EQ(paths.downloads(), home / "Downloads");

    env.set("XDG_DESKTOP_DIR", "/elsewhere/desk");
    env.set("XDG_CONFIG_HOME", "relative/ignored");
    env.set("XDG_DATA_HOME", "/data");
    EXPECT_EQ(paths.desktop(), "/elsewhere/desk");
    EXPECT_EQ(paths.configHome(), home / ".config");
    EXPECT_EQ(paths.trash(), "/data/Trash");
    EXPECT_FALSE(paths.userName().empty());
}

TEST(LinuxBookmarks, ResolveWhileTheSameObjectStaleOnceReplaced) {
    test::TempDir dir;
    LinuxBookmarks marks;
    std::filesystem::create_directories(dir / "chosen");
    auto data = marks.create((dir / "chosen").string());
    ASSERT_TRUE(data);
    auto r = marks.resolve(*data);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->path, (dir / "chosen").string());
    EXPECT_FALSE(r->stale);
    EXPECT_TRUE(marks.startAccessing(r->path));

    std::filesystem::rename(dir / "chosen", dir / "moved");
    std::filesystem::create_directories(dir / "chosen");  // same name, another folder
    r = marks.resolve(*data);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->stale);
    std::filesystem::remove(dir / "chosen");
    EXPECT_TRUE(marks.resolve(*data)->stale);

    EXPECT_FALSE(marks.create((dir / "missing").string()));
    EXPECT_FALSE(marks.create("relative/path"));
    EXPECT_FALSE(marks.resolve({}));
    EXPECT_FALSE(marks.resolve({'V', 'B', 'M', '1'}));
    Bytes junk(40, 'x');
    EXPECT_FALSE(marks.resolve(junk));
}

}  // namespace
}  // namespace vaultry::platform

namespace vaultry {
namespace {

TEST(SecretGuard, TheProcessIsNotDumpableAndWritesNoCoreFile) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const bool guarded = platform::guardSecrets();
        rlimit core{};
        ::getrlimit(RLIMIT_CORE, &core);
        _exit(guarded && ::prctl(PR_GET_DUMPABLE) == 0 && core.rlim_cur == 0 && core.rlim_max == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vaultry
