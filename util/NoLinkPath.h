#pragma once
#include <filesystem>
#include <string>

#include "util/Result.h"

namespace vaultry {

// The item a path names when no link is followed on the way to it, as an absolute path: every
// folder before the last component is looked at with lstat and must be a real folder, ".." is
// taken lexically once the folders before it are proved real, and trailing slashes and "/." are
// dropped ("dir/link/" names the link itself). A path whose meaning depends on a link is refused:
// "PATH: refused: dir/link is a symbolic link". The last component is not looked at, so a link
// there is the link itself and a missing item stays missing.
Result<std::filesystem::path> pathWithoutLinks(const std::string& given);

// "a/b///" → "a/b", "a/b/." → "a/b", so that lstat looks at b itself rather than through it; the
// root stays "/".
std::string withoutTrailingSlashes(std::string path);

}  // namespace vaultry
