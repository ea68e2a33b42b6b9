#pragma once
#include <optional>
#include <string>

#include "platform/Spawn.h"

namespace vaultry::platform {

// posix_spawn with an argument vector: standard input from /dev/null, standard output and error
// read together through poll so that neither pipe can fill up and stall the child. The one spawn
// adapter of the GUI and the command line. A program named with a "/" runs as named; a bare name
// is looked up in PATH by resolveProgram, so that the GUI (whose working folder is anywhere) never
// runs a same-named file from it.
class LinuxSpawn final : public Spawn {
public:
    Result<Output> run(const std::string& program, const std::vector<std::string>& args) override;

    // The absolute path of the executable regular file `name` in the first absolute folder of
    // `searchPath` (a PATH value; empty and relative entries, which would mean the working
    // folder, are skipped). A name with a "/" is returned as it is. None when there is none.
    static std::optional<std::string> resolveProgram(const std::string& name, const std::string& searchPath);
    // resolveProgram with the PATH of the environment, or the usual system folders without one.
    static std::optional<std::string> resolveProgram(const std::string& name);
};

}  // namespace vaultry::platform
