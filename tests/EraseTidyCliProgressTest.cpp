// `vaultry-cli erase` and `tidy run` on a terminal and piped, interrupted with Ctrl-C and killed at
// random moments: what they say is true, a cancelled tidy leaves the desktop as it was, and a
// killed one loses nothing.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <map>
#include <random>
#include <regex>
#include <thread>

#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/TreeState.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// vaultry-cli started in a session of its own, standard output and error into files; the test
// signals it when it likes.
struct Started {
    pid_t pid = -1;
    fs::path out, err;
    // The exit status, or -signal when a signal ended it.
    int wait() {
        int status = 0;
        ::waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    }
};

Started start(const fs::path& home, std::vector<std::string> args) {
    Started s{-1, home / ".cli-out", home / ".cli-err"};
    args.insert(args.begin(), VAULTRY_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string homeVar = "HOME=" + home.string(), pathVar = "PATH=/usr/bin:/bin";
    char* envp[] = {homeVar.data(), pathVar.data(), nullptr};
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, s.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, s.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    posix_spawn(&s.pid, argv[0], &fa, &attr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return s;
}

// Standard error on a pseudo-terminal (standard output to a file): all it wrote there.
std::string stderrOnTerminal(const fs::path& home, std::vector<std::string> args, int* code) {
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0) return "no terminal";
    char name[128];
    if (::ptsname_r(master, name, sizeof name) != 0) return "no terminal";
    args.insert(args.begin(), VAULTRY_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string homeVar = "HOME=" + home.string(), pathVar = "PATH=/usr/bin:/bin", lang = "LANG=C.UTF-8";
    char* envp[] = {homeVar.data(), pathVar.data(), lang.data(), nullptr};
    // Held open here too, so that the terminal stays readable until the program has ended.
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open((home / ".cli-out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setsid();
        const int tty = ::open(name, O_RDWR);
        ::ioctl(tty, TIOCSCTTY, 0);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(tty, 2);
        ::close(tty);
        ::execve(argv[0], argv.data(), envp);
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    std::string screen;
    int status = 0;
    bool ended = false;
    // Bounded, so that a program that hangs fails the test instead of hanging it.
    for (int round = 0; round < 600; ++round) {
        pollfd p{master, POLLIN, 0};
        if (::poll(&p, 1, ended ? 0 : 100) > 0 && (p.revents & POLLIN)) {
            char buf[4096];
            const ssize_t n = ::read(master, buf, sizeof buf);
            if (n > 0) screen.append(buf, static_cast<std::size_t>(n));
            continue;
        }
        if (ended) break;  // all it wrote has been read
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    ::close(slave);
    ::close(master);
    *code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return screen;
}

struct Home {
    test::TempDir home;
    fs::path desktop = home / "Desktop";
    fs::path folder;
    explicit Home(const fs::path& store = {}) {
        const fs::path location = store.empty() ? home / "store" : store;
        folder = location / "com.Quenmark.sortello";
        fs::create_directories(desktop);
        test::chooseTidyLocation(home.path(), location);
    }
};

// A tidy folder on another file system when the machine has one (copies take a while there),
// else beside the desktop.
fs::path otherFileSystem(const fs::path& near) {
    struct stat a {
    }, b{};
    if (::stat(near.c_str(), &a) == 0 && ::stat("/dev/shm", &b) == 0 && a.st_dev != b.st_dev &&
        ::access("/dev/shm", W_OK) == 0)
        return fs::path("/dev/shm") / ("vaultry-cli-tidy-" + std::to_string(::getpid()));
    return {};
}

TEST(EraseTidyCli, PipedNothingOfProgressOnATerminalALineThatIsCleared) {
    Home h;
    for (int i = 0; i < 5; ++i) writeFile(h.home / ("docs/f" + std::to_string(i)), "x");
    writeFile(h.desktop / "a.txt", "a");
    auto r = test::runCli(h.home.path(), {"erase", "--yes", "--passes", "1", (h.home / "docs").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("Erasing"), std::string::npos) << r.err;
    r = test::runCli(h.home.path(), {"tidy", "run", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");

    for (int i = 0; i < 5; ++i) writeFile(h.home / ("docs/f" + std::to_string(i)), "x");
    int code = -1;
    std::string screen = stderrOnTerminal(
        h.home.path(), {"erase", "--yes", "--passes", "1", (h.home / "docs").string()}, &code);
    EXPECT_EQ(code, 0) << screen;
    EXPECT_NE(screen.find("Erasing"), std::string::npos) << screen;
    EXPECT_NE(screen.find("of 5"), std::string::npos) << screen;
    // The line is cleared at the end: the last thing on the terminal is the erase-line sequence.
    EXPECT_TRUE(screen.ends_with("\r\033[K")) << screen;
    EXPECT_FALSE(fs::exists(h.home / "docs"));

    writeFile(h.desktop / "b.txt", "b");
    screen = stderrOnTerminal(h.home.path(), {"tidy", "run", "--yes"}, &code);
    EXPECT_EQ(code, 0) << screen;
    EXPECT_NE(screen.find("Tidying the Desktop"), std::string::npos) << screen;
    EXPECT_TRUE(screen.ends_with("\r\033[K")) << screen;
    screen = stderrOnTerminal(h.home.path(), {"-q", "erase", "--yes", (h.home / "nothing").string()}, &code);
    EXPECT_EQ(screen.find("Erasing"), std::string::npos) << screen;
}

// Ctrl-C at random moments of an erase: an exit of 3 names the number of files erased, and exactly
// that many are gone; everything else is whole under its own name, and no half-overwritten file
// is left under a random name.
TEST(EraseTidyCli, InterruptedEraseSaysExactlyWhatItErased) {
    std::mt19937 gen(17);
    std::uniform_int_distribution<int> delay(0, 600000);
    int cancelled = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        Home h;
        const fs::path docs = h.home / "docs";
        std::map<std::string, std::string> contents;
        for (int i = 0; i < 60; ++i) {
            const std::string rel = (i < 40 ? "F/" : "") + std::string("f") + std::to_string(i);
            contents[rel] = "content " + std::to_string(i) + std::string(20000, 'c');
            writeFile(docs / rel, contents[rel]);
        }
        Started s = start(h.home.path(), {"erase", "--yes", "--json", (docs / "F").string(),
                                          (docs / "f40").string(), (docs / "f41").string()});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(gen)));
        ::kill(s.pid, SIGINT);
        const int code = s.wait();
        std::size_t gone = 0;
        for (const auto& [rel, content] : contents) {
            if (fs::exists(docs / rel)) {
                EXPECT_EQ(readFile(docs / rel), content) << rel;
            } else {
                ++gone;
            }
        }
        // Only the original names: the file the tool had was finished, not left half-done.
        for (const auto& e : fs::recursive_directory_iterator(docs)) {
            if (e.is_regular_file()) {
                EXPECT_TRUE(contents.contains(fs::relative(e.path(), docs).string())) << e.path();
            }
        }
        const std::string err = readFile(s.err);
        if (code == -SIGINT) {  // before the work began, or after it ended
            EXPECT_TRUE(gone == 0 || gone == 42) << gone;
        } else if (code == 0) {
            EXPECT_EQ(gone, 42u);
        } else {
            ASSERT_EQ(code, 3) << err;
            ++cancelled;
            const std::regex said("vaultry-cli: cancelled; erased ([0-9]+) file\\(s\\)");
            std::smatch m;
            ASSERT_TRUE(std::regex_search(err, m, said)) << err;
            EXPECT_EQ(std::stoul(m[1]), gone) << err;
            const auto out = nlohmann::json::parse(readFile(s.out));
            EXPECT_TRUE(out["cancelled"].get<bool>());
            EXPECT_EQ(out["erased"].get<std::size_t>(), gone);
            for (const auto& p : out["gone"]) EXPECT_FALSE(fs::exists(p.get<std::string>())) << p;
            for (const auto& p : out["left"]) EXPECT_TRUE(fs::exists(p.get<std::string>())) << p;
        }
    }
    std::printf("erase: %d of 8 runs were cancelled\n", cancelled);
}

// Ctrl-C at random moments of a tidy: cancelled (exit 3), the desktop and the tidy folder are
// exactly as before; else it finished, or the signal came before the work began.
TEST(EraseTidyCli, InterruptedTidyLeavesTheDesktopAsItWas) {
    std::mt19937 gen(23);
    std::uniform_int_distribution<int> delay(0, 300000);
    test::TempDir probe;
    const fs::path other = otherFileSystem(probe.path());
    int cancelled = 0;
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        if (!other.empty()) fs::remove_all(other);
        Home h(other);
        for (int i = 0; i < 12; ++i)
            writeFile(h.desktop / ("item" + std::to_string(i) + ".bin"), std::string(1 << 20, char('a' + i)));
        writeFile(h.desktop / "Folder/inner.txt", "inner");
        writeFile(h.folder / "earlier.txt", "earlier");
        const auto desktopBefore = test::treeState(h.desktop), folderBefore = test::treeState(h.folder);
        Started s = start(h.home.path(), {"tidy", "run", "--yes", "--json"});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(gen)));
        ::kill(s.pid, SIGINT);
        const int code = s.wait();
        const std::string err = readFile(s.err);
        if (code == 0 || (code == -SIGINT && test::treeState(h.desktop).empty())) {  // done before the signal
            EXPECT_TRUE(test::treeState(h.desktop).empty());
            continue;
        }
        EXPECT_EQ(test::treeState(h.desktop), desktopBefore);
        auto folderAfter = test::treeState(h.folder);
        folderAfter.erase(".vaultry-id");  // the tidy folder's identity, given before the tidy begins
        EXPECT_EQ(folderAfter, folderBefore);
        if (code == -SIGINT) continue;
        ASSERT_EQ(code, 3) << err;
        ++cancelled;
        EXPECT_EQ(err, "vaultry-cli: cancelled; nothing was changed, the desktop is as it was\n");
        EXPECT_TRUE(nlohmann::json::parse(readFile(s.out))["cancelled"].get<bool>());
    }
    if (!other.empty()) fs::remove_all(other);
    std::printf("tidy: %d of 8 runs were cancelled\n", cancelled);
}

// Killed at random moments, a tidy loses nothing: every item is whole on the desktop or in the
// tidy folder.
TEST(EraseTidyCli, KilledWhileTidyingNothingIsLost) {
    std::mt19937 gen(29);
    std::uniform_int_distribution<int> delay(0, 300000);
    test::TempDir probe;
    const fs::path other = otherFileSystem(probe.path());
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        if (!other.empty()) fs::remove_all(other);
        Home h(other);
        std::map<std::string, std::string> contents;
        for (int i = 0; i < 10; ++i) {
            const std::string name = "item" + std::to_string(i) + ".bin";
            contents[name] = std::string(1 << 20, char('a' + i));
            writeFile(h.desktop / name, contents[name]);
        }
        Started s = start(h.home.path(), {"tidy", "run", "--yes"});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(gen)));
        ::kill(s.pid, SIGKILL);
        s.wait();
        for (const auto& [name, content] : contents) {
            const bool onDesktop = fs::exists(h.desktop / name), tidied = fs::exists(h.folder / name);
            EXPECT_TRUE(onDesktop || tidied) << name;
            if (onDesktop) {
                EXPECT_EQ(readFile(h.desktop / name), content) << name;
            } else if (tidied) {
                EXPECT_EQ(readFile(h.folder / name), content) << name;
            }
        }
    }
    if (!other.empty()) fs::remove_all(other);
}

// Killed at random moments, an erase leaves every file whole under its name or gone; at most the
// one file the tool had is left, under a random name, neither the user's data nor gone.
TEST(EraseTidyCli, KilledWhileErasingEveryOtherFileIsWholeOrGone) {
    std::mt19937 gen(31);
    std::uniform_int_distribution<int> delay(0, 400000);
    for (int round = 0; round < 8; ++round) {
        SCOPED_TRACE(round);
        test::TempDir home;
        std::map<std::string, std::string> contents;
        for (int i = 0; i < 30; ++i) {
            const std::string name = "f" + std::to_string(i);
            contents[name] = "content " + std::to_string(i) + std::string(20000, 'c');
            writeFile(home / "docs" / name, contents[name]);
        }
        Started s = start(home.path(), {"erase", "--yes", (home / "docs").string()});
        std::this_thread::sleep_for(std::chrono::microseconds(delay(gen)));
        ::kill(s.pid, SIGKILL);
        s.wait();
        int strangers = 0;
        if (fs::exists(home / "docs"))
            for (const auto& e : fs::directory_iterator(home / "docs")) {
                const std::string name = e.path().filename().string();
                if (contents.contains(name)) {
                    EXPECT_EQ(readFile(e.path()), contents[name]) << name;
                } else {
                    ++strangers;
                }
            }
        EXPECT_LE(strangers, 1);
    }
}

}  // namespace
}  // namespace vaultry
