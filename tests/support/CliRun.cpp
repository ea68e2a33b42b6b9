#include "support/CliRun.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <thread>

#include "support/FakePorts.h"

extern char** environ;

namespace vaultry::test {

pid_t startCli(const std::filesystem::path& home, std::vector<std::string> args,
               const std::filesystem::path& io, const std::vector<std::string>& extraEnv, bool fd3) {
    args.insert(args.begin(), VAULTRY_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"HOME=" + home.string(), "PATH=/usr/bin:/bin", "LANG=C.UTF-8", "TZ=UTC",
                                 "no_proxy=127.0.0.1",
                                 // the volumes' Trash folders of a test are those it lists here
                                 "VAULTRY_MOUNTINFO=" + (home / "mountinfo").string()};
    env.insert(env.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, 0, (io / "in").c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&fa, 1, (io / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&fa, 2, (io / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    if (fd3) posix_spawn_file_actions_addopen(&fa, 3, (io / "fd3").c_str(), O_RDONLY, 0);
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSID);
    pid_t pid = 0;
    const int started = posix_spawn(&pid, argv[0], &fa, &attr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&fa);
    posix_spawnattr_destroy(&attr);
    return started == 0 ? pid : -1;
}

namespace {

CliRun ended(const std::filesystem::path& io, int status) {
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, readFile(io / "out"), readFile(io / "err")};
}

CliRun spawnCli(const std::filesystem::path& home, std::vector<std::string> args, const std::string& input,
                const std::optional<std::string>& fd3) {
    TempDir io;
    writeFile(io / "in", input);
    if (fd3) writeFile(io / "fd3", *fd3);
    const pid_t pid = startCli(home, std::move(args), io.path(), {}, fd3.has_value());
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return {};
    return ended(io.path(), status);
}

}  // namespace

CliRun runCli(const std::filesystem::path& home, std::vector<std::string> args, const std::string& input) {
    return spawnCli(home, std::move(args), input, std::nullopt);
}

CliRun runCliWithFd3(const std::filesystem::path& home, std::vector<std::string> args,
                     const std::string& text) {
    return spawnCli(home, std::move(args), "", text);
}

CliRun runCliAndSignal(const std::filesystem::path& home, std::vector<std::string> args,
                       const std::string& input, std::chrono::microseconds delay, int signal) {
    TempDir io;
    writeFile(io / "in", input);
    const pid_t pid = startCli(home, std::move(args), io.path());
    if (pid < 0) return {};
    std::this_thread::sleep_for(delay);
    ::kill(pid, signal);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return ended(io.path(), status);
}

PausedRun runCliKilledAt(const std::filesystem::path& home, std::vector<std::string> args,
                         const std::string& input, const std::string& point) {
    TempDir io;
    writeFile(io / "in", input);
    const std::filesystem::path mark = io / "paused";
    const pid_t pid = startCli(home, std::move(args), io.path(),
                               {"VAULTRY_TEST_PAUSE=" + point, "VAULTRY_TEST_PAUSE_MARK=" + mark.string()});
    PausedRun result;
    if (pid < 0) return result;
    int status = 0;
    // Until it stands at the point or has ended by itself: no time limit decides anything.
    for (;;) {
        if (std::filesystem::exists(mark)) {
            result.paused = true;
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            break;
        }
        if (::waitpid(pid, &status, WNOHANG) == pid) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    result.run = ended(io.path(), status);
    return result;
}

int runProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    if (waitpid(pid, &status, 0) < 0) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void chooseTidyLocation(const std::filesystem::path& home, const std::filesystem::path& location) {
    std::filesystem::create_directories(location);
    const auto r = runCli(home, {"tidy", "location", location.string()});
    EXPECT_EQ(r.code, 0) << r.err;
}

}  // namespace vaultry::test
