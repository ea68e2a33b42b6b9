#include "cookies/Containers.h"

#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>

namespace vaultry::cookies {

std::map<long, std::string> containerNames(std::string_view containersJson) {
    static const std::map<std::string, std::string> builtIn = {
        {"userContextPersonal.label", "Personal"},
        {"userContextWork.label", "Work"},
        {"userContextBanking.label", "Banking"},
        {"userContextShopping.label", "Shopping"},
    };
    std::map<long, std::string> out;
    const auto json = nlohmann::json::parse(containersJson, nullptr, false);
    if (!json.is_object() || !json.contains("identities") || !json["identities"].is_array()) return out;
    for (const auto& identity : json["identities"]) {
        if (!identity.is_object() || !identity.contains("userContextId") ||
            !identity["userContextId"].is_number_integer())
            continue;
        const long id = identity["userContextId"].get<long>();
        if (identity.contains("name") && identity["name"].is_string())
            out[id] = identity["name"].get<std::string>();
        else if (identity.contains("l10nID") && identity["l10nID"].is_string())
            if (const auto it = builtIn.find(identity["l10nID"].get<std::string>()); it != builtIn.end())
                out[id] = it->second;
    }
    return out;
}

std::map<long, std::string> containerNames(const std::filesystem::path& profileFolder) {
    std::ifstream in(profileFolder / "containers.json", std::ios::binary);
    if (!in) return {};
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return containerNames(std::string_view(text));
}

std::optional<std::string> containerOf(std::string_view attributes,
                                       const std::map<long, std::string>& names) {
    if (!attributes.empty() && attributes.front() == '^') attributes.remove_prefix(1);
    while (!attributes.empty()) {
        const auto amp = attributes.find('&');
        const auto pair = attributes.substr(0, amp);
        attributes = amp == std::string_view::npos ? std::string_view() : attributes.substr(amp + 1);
        constexpr std::string_view key = "userContextId=";
        if (pair.substr(0, key.size()) != key) continue;
        long id = 0;
        for (char c : pair.substr(key.size())) {
            if (c < '0' || c > '9' || id > 100'000'000) return std::nullopt;
            id = id * 10 + (c - '0');
        }
        if (id == 0) return std::nullopt;
        const auto it = names.find(id);
        return it != names.end() ? it->second : "Container " + std::to_string(id);
    }
    return std::nullopt;
}

}  // namespace vaultry::cookies
