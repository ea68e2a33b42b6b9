#pragma once
#include <filesystem>
#include <string>
#include <vector>

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

}  // namespace vaultry::test
