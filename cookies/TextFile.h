#pragma once
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

// Small text helpers the cookie store finders share: profile lists and settings files of browsers.
namespace vaultry::cookies {

// The whole file as it is; empty when it cannot be read.
inline std::string readText(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Without the blanks, tabs and carriage returns at either end.
inline std::string trim(std::string_view s) {
    const auto b = s.find_first_not_of(" \t\r");
    if (b == std::string_view::npos) return {};
    return std::string(s.substr(b, s.find_last_not_of(" \t\r") - b + 1));
}

}  // namespace vaultry::cookies
