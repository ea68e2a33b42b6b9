#pragma once
#include "platform/Spawn.h"

namespace vaultry::platform {

// posix_spawn with an argument vector: standard input from /dev/null, standard output and error
// read together through poll so that neither pipe can fill up and stall the child.
class LinuxSpawn final : public Spawn {
public:
    Result<Output> run(const std::string& program, const std::vector<std::string>& args) override;
};

}  // namespace vaultry::platform
