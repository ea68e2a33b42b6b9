#pragma once
#include <filesystem>
#include <map>
#include <string>

namespace vaultry::test {

// Everything below a folder that a user could tell apart: kind, mode, content, link target and
// modification time of every entry, by relative path; names starting with "." only with dotNames.
// Empty when the folder is not there.
std::map<std::string, std::string> treeState(const std::filesystem::path& root, bool dotNames = true);

}  // namespace vaultry::test
