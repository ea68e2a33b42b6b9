#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <stdlib.h>

#include <thread>

#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxHttp.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/LinuxSpawn.h"
#include "platform/linux/SecretGuard.h"
#include "support/FakePorts.h"
#include "support/TestHttpServer.h"
#include "vault/StorageFolder.h"

namespace vaultry::platform {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::TestHttpServer;
using test::writeFile;
using namespace std::chrono_literals;

using test::Env;

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
    // Private like everything Vaultry writes in the storage folder; one an earlier version left
    // readable by everyone is made private, one that is not ours is left alone.
    const auto mode = [&dir] { return fs::status(dir / ".directory").permissions(); };
    EXPECT_EQ(mode(), fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(dir / ".directory", static_cast<fs::perms>(0644));
    EXPECT_TRUE(vault::giveFolderIcon(dir.path(), spawn));
    EXPECT_EQ(mode(), fs::perms::owner_read | fs::perms::owner_write);
    test::writeFile(dir / ".directory", "[Desktop Entry]\nIcon=mine\n");
    fs::permissions(dir / ".directory", static_cast<fs::perms>(0644));
    EXPECT_TRUE(vault::giveFolderIcon(dir.path(), spawn));
    EXPECT_EQ(mode(), static_cast<fs::perms>(0644));
    fs::remove(dir / ".directory");

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

TEST(LinuxSpawn, DrainsBothPipesAndReportsFailures) {
    platform::LinuxSpawn spawn;
    // Megabytes on both streams: a child that filled an unread pipe would never end.
    std::vector<std::string> missing(20000, "/nonexistent/" + std::string(60, 'm'));
    missing.insert(missing.begin(), "/proc/self/status");
    auto r = spawn.run("/usr/bin/cat", missing);
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r->exitCode, 1);
    EXPECT_GT(r->err.size(), 1000000u);
    EXPECT_NE(r->out.find("Name:"), std::string::npos);

    auto big = spawn.run("/usr/bin/head", {"-c", "3000000", "/dev/zero"});
    ASSERT_TRUE(big.ok());
    EXPECT_EQ(big->exitCode, 0);
    EXPECT_EQ(big->out.size(), 3000000u);

    auto quoted = spawn.run("/usr/bin/printf", {"%s|", "a b", "$HOME", "`x`", "-n"});
    ASSERT_TRUE(quoted.ok());
    EXPECT_EQ(quoted->out, "a b|$HOME|`x`|-n|");  // arguments arrive as given, no shell between

    EXPECT_FALSE(spawn.run("/nonexistent/program", {}).ok());
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

TEST(DotHiddenFlag, KeepsOtherLinesAndRemovesAnEmptyFile) {
    test::TempDir dir;
    platform::DotHiddenFlag flag;
    writeFile(dir / ".hidden", "other\n");
    writeFile(dir / "a b", "");
    fs::create_directories(dir / "sub");
    EXPECT_TRUE(flag.setHidden((dir / "a b").string(), true));
    EXPECT_TRUE(flag.setHidden((dir / "sub/").string(), true));
    EXPECT_TRUE(flag.setHidden((dir / "a b").string(), true));  // listed once
    EXPECT_EQ(readFile(dir / ".hidden"), "other\na b\nsub\n");
    EXPECT_TRUE(flag.isHidden((dir / "sub").string()));
    EXPECT_FALSE(flag.setHidden((dir / "gone").string(), true));
    EXPECT_TRUE(flag.setHidden((dir / "a b").string(), false));
    EXPECT_TRUE(flag.setHidden((dir / "sub").string(), false));
    EXPECT_EQ(readFile(dir / ".hidden"), "other\n");
    EXPECT_TRUE(flag.setHidden((dir / "sub").string(), true));
    writeFile(dir / ".hidden", "sub\n");
    EXPECT_TRUE(flag.setHidden((dir / "sub").string(), false));
    EXPECT_FALSE(fs::exists(dir / ".hidden"));

    if (::geteuid() != 0) {
        fs::permissions(dir / "sub", fs::perms::owner_read | fs::perms::owner_exec);
        writeFile(dir / "x", "");
        fs::create_directories(dir / "ro");
        writeFile(dir / "ro/item", "");
        fs::permissions(dir / "ro", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(flag.setHidden((dir / "ro/item").string(), true));
    }
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

TEST(LinuxLoginItems, EntryRoundTripAndRemovalOfEveryEntryOfTheProgram) {
    test::TempDir dir;
    test::FakePaths paths(dir.path());
    const std::string program = (dir / "odd dir/with \"quote\" $HOME `x` 100% back\\slash/vaultry").string();
    platform::LinuxLoginItems items(paths, program);
    EXPECT_FALSE(items.isEnabled());
    ASSERT_TRUE(items.setEnabled(true));
    EXPECT_TRUE(items.isEnabled());
    const std::string entry = readFile(items.entryPath());
    const auto at = entry.find("\nExec=") + 6;
    const std::string exec = entry.substr(at, entry.find('\n', at) - at);
    EXPECT_EQ(platform::LinuxLoginItems::programOfExec(exec), program);
    // At login only the tray icon appears; a start by hand shows the window.
    EXPECT_EQ(exec, platform::LinuxLoginItems::execValue(program) + " --hidden");
    EXPECT_EQ(platform::LinuxLoginItems::programOfExec("/usr/bin/vaultry --minimized"), "/usr/bin/vaultry");
    ASSERT_TRUE(items.setEnabled(true));  // again: still one entry, no temporary files
    EXPECT_EQ(
        std::distance(fs::directory_iterator(items.entryPath().parent_path()), fs::directory_iterator()), 1);

    const fs::path autostart = items.entryPath().parent_path();
    writeFile(autostart / "copy.desktop", "[Desktop Entry]\nType=Application\nExec=" +
                                              platform::LinuxLoginItems::execValue(program) + " -x\n");
    writeFile(autostart / "other.desktop", "[Desktop Entry]\nType=Application\nExec=/usr/bin/other\n");
    ASSERT_TRUE(items.setEnabled(false));
    EXPECT_FALSE(items.isEnabled());
    EXPECT_FALSE(present(items.entryPath()));
    EXPECT_FALSE(present(autostart / "copy.desktop"));
    EXPECT_TRUE(present(autostart / "other.desktop"));
    EXPECT_TRUE(items.setEnabled(false));  // nothing to remove is no failure
}

// ---- LinuxHttp: libcurl against a server on 127.0.0.1 that each test starts itself ----------------

std::string text(const platform::Http::Response& r) { return std::string(r.body.begin(), r.body.end()); }

LinuxHttp::Limits shortLimits() {
    LinuxHttp::Limits l;
    l.connectTimeout = 2s;
    l.totalTimeout = 3s;
    return l;
}

TEST(LinuxHttp, FetchesBodyAndStatusAndFollowsRedirectsWithAFreshBody) {
    TestHttpServer server({
        {"/list", {200, "the list"}},
        {"/moved", {302, "moved body", {"Location: /list"}}},
        {"/twice", {301, "first hop", {"Location: /moved"}}},
        {"/missing", {404, "<html>gone</html>"}},
    });
    LinuxHttp http(shortLimits());

    auto ok = http.get(server.url("/list"));
    ASSERT_TRUE(ok) << ok.error().message;
    EXPECT_EQ(ok->status, 200);
    EXPECT_EQ(text(*ok), "the list");

    auto redirected = http.get(server.url("/twice"));
    ASSERT_TRUE(redirected) << redirected.error().message;
    EXPECT_EQ(redirected->status, 200);
    EXPECT_EQ(text(*redirected), "the list");  // no trace of the redirect bodies

    // An error status is an answer, not a transfer failure: the caller judges it.
    auto missing = http.get(server.url("/missing"));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->status, 404);
    EXPECT_EQ(text(*missing), "<html>gone</html>");
}

TEST(LinuxHttp, RefusesRedirectsToOtherProtocolsAndEndlessRedirects) {
    TestHttpServer server({
        {"/to-file", {302, "", {"Location: file:///etc/passwd"}}},
        {"/loop", {302, "", {"Location: /loop"}}},
    });
    LinuxHttp http(shortLimits());
    EXPECT_FALSE(http.get(server.url("/to-file")));
    EXPECT_FALSE(http.get(server.url("/loop")));
    EXPECT_LE(server.requests(), 2 + 11);
    EXPECT_FALSE(http.get("file:///etc/passwd"));
}

TEST(LinuxHttp, RefusesBodiesBeyondTheCapWithOrWithoutALength) {
    const std::string big(2 * 1024 * 1024, 'x');
    TestHttpServer server({
        {"/declared", {200, big}},
        {"/undeclared", {200, big, {}, false}},
        {"/at-cap", {200, std::string(1024 * 1024, 'y'), {}, false}},
    });
    LinuxHttp http(shortLimits());
    for (const char* path : {"/declared", "/undeclared"}) {
        auto r = http.get(server.url(path));
        ASSERT_FALSE(r) << path;
        EXPECT_NE(r.error().message.find("larger than 1048576 bytes"), std::string::npos) << path;
    }
    auto atCap = http.get(server.url("/at-cap"));
    ASSERT_TRUE(atCap) << atCap.error().message;
    EXPECT_EQ(atCap->body.size(), 1024u * 1024u);
}

TEST(LinuxHttp, FailsOnRefusedConnectionsAndSilentServers) {
    EXPECT_FALSE(LinuxHttp(shortLimits()).get(TestHttpServer::refusedUrl()));

    TestHttpServer server({{"/slow", {200, "late", {}, true, true}}});
    LinuxHttp::Limits limits;
    limits.connectTimeout = 300ms;
    limits.totalTimeout = 300ms;
    auto r = LinuxHttp(limits).get(server.url("/slow"));
    ASSERT_FALSE(r);
    EXPECT_NE(r.error().message.find("timed out"), std::string::npos) << r.error().message;
}

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
}  // namespace vaultry::platform
