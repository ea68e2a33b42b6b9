#pragma once

#include <filesystem>
#include <string>

namespace vaultry::cookies {

// The browser that owns the store at storePath is running, decided the way the browsers decide
// it themselves: a Firefox profile whose `.parentlock` is locked, or whose `lock` link names a
// live process (a link marked with "+" is left to `.parentlock`); a Chromium `SingletonLock` (in
// the profile or up to two folders above it) naming a live process on this host, or any other
// host. Links that a crash or a kill left behind do not count; links that cannot be read do.
bool browserRunning(const std::string& storePath);

}  // namespace vaultry::cookies
