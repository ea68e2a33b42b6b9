#include "cookies/KeepList.h"

#include <algorithm>

#include "cookies/CookieRemoval.h"

namespace vaultry::cookies {
namespace {

bool save(Preferences& prefs, const std::vector<std::string>& list) {
    prefs.setCookieKeepDomains(list);
    prefs.save();
    return true;
}

}  // namespace

std::vector<std::string> keepList(const Preferences& prefs) {
    std::vector<std::string> out;
    for (const auto& d : prefs.cookieKeepDomains()) {
        const auto domain = normalizedDomain(d);
        if (!domain.empty() && std::find(out.begin(), out.end(), domain) == out.end()) out.push_back(domain);
    }
    return out;
}

bool addKeepDomain(Preferences prefs, const std::string& text) {
    const auto domain = normalizedDomain(text);
    auto list = keepList(prefs);
    if (domain.empty() || std::find(list.begin(), list.end(), domain) != list.end()) return false;
    list.push_back(domain);
    return save(prefs, list);
}

bool removeKeepDomain(Preferences prefs, const std::string& text) {
    const auto domain = normalizedDomain(text);
    auto list = keepList(prefs);
    const auto it = std::find(list.begin(), list.end(), domain);
    if (domain.empty() || it == list.end()) return false;
    list.erase(it);
    return save(prefs, list);
}

}  // namespace vaultry::cookies
