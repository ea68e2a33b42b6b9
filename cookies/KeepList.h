#pragma once
#include <string>
#include <vector>

#include "settings/Preferences.h"

namespace vaultry::cookies {

// The domains whose cookies "Remove All" and removal without named domains leave alone, kept in
// the settings under "CookieKeepDomains", normalised and without repeats, in the order added.
std::vector<std::string> keepList(const Preferences& prefs);
// Adds (or removes) a domain and saves the settings; false when the text holds no domain, or the
// list already has (or lacks) it.
bool addKeepDomain(Preferences prefs, const std::string& domain);
bool removeKeepDomain(Preferences prefs, const std::string& domain);

}  // namespace vaultry::cookies
