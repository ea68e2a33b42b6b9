#pragma once
#include <sys/types.h>

#include <filesystem>
#include <string_view>

#include "platform/Result.h"

namespace vaultry {

// Replaces path with bytes so that a crash at any moment leaves either the old file or the new
// one: a temporary file beside it, flushed, then renamed over it, then the folder flushed. A file
// that exists keeps its permission bits; a new one gets newMode.
Status writeFileAtomically(const std::filesystem::path& path, std::string_view bytes, mode_t newMode = 0600);

}  // namespace vaultry
