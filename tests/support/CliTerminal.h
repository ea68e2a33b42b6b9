#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/FakePorts.h"

namespace vaultry::test {

// vaultry-cli on a terminal of its own: a pseudo-terminal is its controlling terminal, as when a
// user runs it, while standard input is empty and standard output and error go to files. The
// test reads what it writes on the terminal and types at it.
class CliOnTerminal {
public:
    // With `errOnTerminal`, standard error is the terminal too, as in an interactive shell.
    CliOnTerminal(const std::filesystem::path& home, std::vector<std::string> args,
                  bool errOnTerminal = false);
    ~CliOnTerminal();
    CliOnTerminal(const CliOnTerminal&) = delete;
    CliOnTerminal& operator=(const CliOnTerminal&) = delete;

    // Reads the terminal until `text` has appeared (false when the program ended first).
    bool waitFor(const std::string& text);
    void type(const std::string& keys);
    void signal(int sig);
    // Whether the terminal echoes what is typed.
    bool echoes() const;
    // The exit status, or 128 + the signal that ended it.
    int wait();

    std::string screen;  // everything written on the terminal so far
    std::string out() const { return readFile(io_ / "out"); }
    std::string err() const { return readFile(io_ / "err"); }

private:
    TempDir io_;
    int master_ = -1, slave_ = -1;
    pid_t pid_ = -1;
    int status_ = -1;
};

}  // namespace vaultry::test
