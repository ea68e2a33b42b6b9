#pragma once
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "support/FakePorts.h"

namespace vaultry::test {

struct CliRun {
    int code = -1;  // -1 when it did not start or ended by a signal
    std::string out, err;
};

// Runs vaultry-cli as a user would: HOME set to home, a plain environment (UTC, UTF-8, no
// proxy for the loopback test servers), `input` on standard input, and a session of its own, so
// there is no terminal to ask at and every question needs its flag.
CliRun runCli(const std::filesystem::path& home, std::vector<std::string> args,
              const std::string& input = "");
// The same with `text` readable on descriptor 3 and nothing on standard input.
// Chooses `location` (made when missing) as the folder tidied items go to, as the user would.
void chooseTidyLocation(const std::filesystem::path& home, const std::filesystem::path& location);

CliRun runCliWithFd3(const std::filesystem::path& home, std::vector<std::string> args,
                     const std::string& text);

// Starts vaultry-cli on `home` with `input` on standard input,
// sends it `signal` after `delay` (SIGINT as Ctrl-C would, SIGKILL as a crash would) and waits:
// its exit status (-1 when the signal ended it) and what it wrote on standard error.
CliRun runCliAndSignal(const std::filesystem::path& home, std::vector<std::string> args,
                       const std::string& input, std::chrono::microseconds delay, int signal);

// Starts vaultry-cli on `home` with `input` on standard input, lets it run until it reaches the
// test pause point `point` (VAULTRY_TEST_PAUSE), and kills it there with SIGKILL, as a crash at
// that moment would. `paused` says whether it got there; otherwise it ran to its end.
struct PausedRun {
    bool paused = false;
    CliRun run;
};
PausedRun runCliKilledAt(const std::filesystem::path& home, std::vector<std::string> args,
                         const std::string& input, const std::string& point);

// Starts vaultry-cli on `home` in a session of its own, with standard input, output and error
// the files "in", "out" and "err" of `io` (and "fd3" on descriptor 3 when asked) and `extraEnv`
// added to its plain environment: its process id, or -1 when it did not start.
pid_t startCli(const std::filesystem::path& home, std::vector<std::string> args,
               const std::filesystem::path& io, const std::vector<std::string>& extraEnv = {},
               bool fd3 = false);

// A temporary home to run vaultry-cli in.
struct CliHome {
    TempDir home;
    CliRun run(std::vector<std::string> args, const std::string& input = "") {
        return runCli(home.path(), std::move(args), input);
    }
};

// Runs a program found on PATH with an argument vector and the test's own environment; its exit
// status, or -1 when it did not start or ended by a signal.
int runProgram(const std::vector<std::string>& args);

}  // namespace vaultry::test
