#pragma once

namespace vaultry::platform {

// Keeps the vault pass phrase out of core files and away from debuggers of the same user: the
// process becomes non-dumpable (no core file, no ptrace attach, /proc/<pid>/mem closed to others)
// and its core size limit is set to zero. Called once at start, before any pass phrase is read.
// False when either could not be set.
bool guardSecrets();

}  // namespace vaultry::platform
