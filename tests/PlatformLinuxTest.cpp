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
#include "util/AtomicFile.h"
#include "vault/StorageFolder.h"

namespace vaultry::platform {
namespace {

namespace fs = std::filesystem;
using test::present;
using test::readFile;
using test::TestHttpServer;
using test::writeFile;
using Strings = std::vector<std::string>;
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

// The storage folder's icon, where it is installed: a data folder of the XDG search path whose
// hicolor theme holds it.
struct FolderIconWorld {
    test::TempDir dir;
    fs::path store = dir / "safe/vaultry.data";
    test::Env env;
    test::FakeSpawn spawn;
    FolderIconWorld() {
        env.set("XDG_DATA_HOME", (dir / "home-data").c_str());
        env.set("XDG_DATA_DIRS", (dir / "share").c_str());
        writeFile(
            dir / "share/icons/hicolor/scalable/places" / (std::string(vault::kFolderIconName) + ".svg"),
            "<svg xmlns=\"http://www.w3.org/2000/svg\"/>");
        fs::create_directories(store);
    }
    // `gio info --query-writable` as it answers with GVfs (metadata writable) or without.
    void gvfs(bool runs) {
        spawn.answer = [runs](const test::FakeSpawn::Call& call) -> Result<Spawn::Output> {
            if (call.args.at(0) == "info")
                return Spawn::Output{0,
                                     "Settable attributes:\n standard::symlink-target (bytestring)\n"
                                     "Writable attribute namespaces:\n xattr (string, Copy with file)\n" +
                                         std::string(runs ? " metadata (string, Copy with file)\n" : ""),
                                     ""};
            return Spawn::Output{0, "", ""};
        };
    }
    std::string entry() const { return readFile(store / ".directory"); }
    fs::perms mode() const { return fs::status(store / ".directory").permissions(); }
};

const std::string kOurEntry = "[Desktop Entry]\nIcon=com.Quenmark.vaultry-folder\n";

TEST(FolderIcon, WhereGvfsRunsItsMetadataAndTheEntryForDolphinAreWritten) {
    FolderIconWorld w;
    w.gvfs(true);
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    ASSERT_EQ(w.spawn.calls.size(), 2u);
    EXPECT_EQ(w.spawn.calls[0].program, "gio");
    EXPECT_EQ(w.spawn.calls[0].args, (Strings{"info", "--query-writable", w.store.string()}));
    EXPECT_EQ(w.spawn.calls[1].program, "gio");
    EXPECT_EQ(w.spawn.calls[1].args, (Strings{"set", w.store.string(), "metadata::custom-icon-name",
                                              "com.Quenmark.vaultry-folder"}));
    EXPECT_EQ(w.entry(), kOurEntry);
    EXPECT_EQ(w.mode(), fs::perms::owner_read | fs::perms::owner_write);

    // A real failure of gio where GVfs runs is reported.
    w.spawn.answer = [](const test::FakeSpawn::Call& call) -> Result<Spawn::Output> {
        if (call.args.at(0) == "info")
            return Spawn::Output{0, "Writable attribute namespaces:\n metadata (string)\n", ""};
        return Spawn::Output{1, "", "gio: Error setting attribute: the metadata daemon is gone"};
    };
    const auto st = vault::giveFolderIcon(w.store, w.spawn);
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("the metadata daemon is gone"), std::string::npos)
        << st.error().message;
    EXPECT_EQ(w.entry(), kOurEntry);
}

TEST(FolderIcon, WithoutGvfsOrGioOnlyTheEntryForDolphinIsWrittenAndNothingIsSaid) {
    FolderIconWorld w;
    w.gvfs(false);
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    ASSERT_EQ(w.spawn.calls.size(), 1u);  // asked, and nothing set
    EXPECT_EQ(w.spawn.calls[0].args.at(0), "info");
    EXPECT_EQ(w.entry(), kOurEntry);

    fs::remove(w.store / ".directory");
    w.spawn.answer = [](const test::FakeSpawn::Call&) -> Result<Spawn::Output> {
        return fail("cannot run gio: not found in PATH");
    };
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    EXPECT_EQ(w.entry(), kOurEntry);

    // The real gio, on a machine without a session bus here: nothing to set, nothing said.
    platform::LinuxSpawn real;
    test::Env noBus("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + (w.dir / "no-bus").string());
    EXPECT_TRUE(vault::giveFolderIcon(w.store, real));
}

TEST(FolderIcon, AUsersEntryIsNeverReplacedAndOursOfAnEarlierVersionIsBroughtUpToDate) {
    FolderIconWorld w;
    w.gvfs(false);
    // The user's own entry, view settings and all, stays as it is, readable as the user left it.
    const std::string mine = "[Desktop Entry]\nIcon=folder-red\n\n[Dolphin]\nViewMode=1\n";
    writeFile(w.store / ".directory", mine);
    fs::permissions(w.store / ".directory", static_cast<fs::perms>(0644));
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    EXPECT_EQ(w.entry(), mine);
    EXPECT_EQ(w.mode(), static_cast<fs::perms>(0644));
    EXPECT_FALSE(vault::isOurFolderEntry(w.store / ".directory"));

    // So does a link, whatever it points at, and what it points at.
    fs::remove(w.store / ".directory");
    writeFile(w.dir / "elsewhere", kOurEntry);
    fs::create_symlink(w.dir / "elsewhere", w.store / ".directory");
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    EXPECT_TRUE(fs::is_symlink(w.store / ".directory"));
    EXPECT_EQ(readFile(w.dir / "elsewhere"), kOurEntry);
    EXPECT_FALSE(vault::isOurFolderEntry(w.store / ".directory"));

    // Ours of an earlier version named an icon nobody installed, and was readable by everyone: it
    // names the installed one now and is private; what Dolphin added to it stays.
    fs::remove(w.store / ".directory");
    writeFile(w.store / ".directory", "[Desktop Entry]\nIcon=vaultry-foldericns\n\n[Dolphin]\nViewMode=1\n");
    fs::permissions(w.store / ".directory", static_cast<fs::perms>(0644));
    EXPECT_TRUE(vault::isOurFolderEntry(w.store / ".directory"));
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    EXPECT_EQ(w.entry(), "[Desktop Entry]\nIcon=com.Quenmark.vaultry-folder\n\n[Dolphin]\nViewMode=1\n");
    EXPECT_EQ(w.mode(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST(FolderIcon, WithoutTheInstalledIconNothingIsWrittenOrRun) {
    FolderIconWorld w;
    fs::remove_all(w.dir / "share/icons");
    w.gvfs(true);
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    EXPECT_TRUE(w.spawn.calls.empty());
    EXPECT_FALSE(present(w.store / ".directory"));
    // In the user's own data folder it counts as installed too.
    writeFile(w.dir / "home-data/icons/hicolor/scalable/places/com.Quenmark.vaultry-folder.svg", "<svg/>");
    EXPECT_TRUE(vault::giveFolderIcon(w.store, w.spawn));
    EXPECT_EQ(w.entry(), kOurEntry);
}

TEST(AtomicFile, CreatesAFileOnlyWhereNoneIs) {
    test::TempDir dir;
    auto made = createFileAtomically(dir / "entry", "first", 0600);
    ASSERT_TRUE(made) << made.error().message;
    EXPECT_TRUE(*made);
    EXPECT_EQ(readFile(dir / "entry"), "first");
    EXPECT_EQ(fs::status(dir / "entry").permissions(), fs::perms::owner_read | fs::perms::owner_write);
    made = createFileAtomically(dir / "entry", "second");
    ASSERT_TRUE(made);
    EXPECT_FALSE(*made);
    EXPECT_EQ(readFile(dir / "entry"), "first");
    // A link at the name, even one to nothing, is something there: neither it nor its target is written.
    fs::create_symlink(dir / "target", dir / "link");
    made = createFileAtomically(dir / "link", "through");
    ASSERT_TRUE(made);
    EXPECT_FALSE(*made);
    EXPECT_FALSE(present(dir / "target"));
    // Nothing is left beside them.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.path())) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (Strings{"entry", "link"}));
    EXPECT_FALSE(createFileAtomically(dir / "missing/entry", "x"));
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
