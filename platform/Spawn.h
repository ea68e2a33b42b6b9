#pragma once
#include <string>
#include <vector>

#include "util/Result.h"

namespace vaultry::platform {

// Runs a program with an argument vector, never through a shell.
class Spawn {
public:
    struct Output {
        int exitCode = -1;  // -1 when ended by a signal
        std::string out;
        std::string err;
    };
    virtual ~Spawn() = default;
    virtual Result<Output> run(const std::string& program, const std::vector<std::string>& args) = 0;
};

}  // namespace vaultry::platform
