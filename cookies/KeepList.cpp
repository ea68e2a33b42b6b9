#include "cookies/KeepList.h"

#include <algorithm>

#include "app/SettingsKeys.h"
#include "cookies/CookieRemoval.h"
#include "platform/Log.h"

namespace vaultry::cookies {
namespace {

bool save(SettingsStore& settings, std::vector<std::string> list) {
    settings.set(key::CookieKeepDomains, std::move(list));
    if (const auto saved = settings.flush(); !saved) logLine(saved.error().message);
    return true;
}

}  // namespace

std::vector<std::string> keepList(const SettingsStore& settings) {
    std::vector<std::string> out;
    for (const auto& d : settings.stringArray(key::CookieKeepDomains).value_or(StringArray{})) {
        const auto domain = normalizedDomain(d);
        if (!domain.empty() && std::find(out.begin(), out.end(), domain) == out.end()) out.push_back(domain);
    }
    return out;
}

bool addKeepDomain(SettingsStore& settings, const std::string& text) {
    const auto domain = normalizedDomain(text);
    auto list = keepList(settings);
    if (domain.empty() || std::find(list.begin(), list.end(), domain) != list.end()) return false;
    list.push_back(domain);
    return save(settings, std::move(list));
}

bool removeKeepDomain(SettingsStore& settings, const std::string& text) {
    const auto domain = normalizedDomain(text);
    auto list = keepList(settings);
    const auto it = std::find(list.begin(), list.end(), domain);
    if (domain.empty() || it == list.end()) return false;
    list.erase(it);
    return save(settings, std::move(list));
}

}  // namespace vaultry::cookies
