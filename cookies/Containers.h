#pragma once
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace vaultry::cookies {

// Firefox's containers of one profile, by userContextId, from its containers.json: the name the
// user gave, or the English name of a built-in one ("Personal", "Work", "Banking", "Shopping").
std::map<long, std::string> containerNames(std::string_view containersJson);
std::map<long, std::string> containerNames(const std::filesystem::path& profileFolder);

// The container a cookie's originAttributes ("^userContextId=2&firstPartyDomain=…") place it in:
// its name, "Container N" when the profile no longer names it, none for the default container.
std::optional<std::string> containerOf(std::string_view originAttributes,
                                       const std::map<long, std::string>& names);

}  // namespace vaultry::cookies
