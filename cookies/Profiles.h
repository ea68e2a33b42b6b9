#pragma once
#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "cookies/ChromiumCrypto.h"
#include "cookies/CookieStores.h"
#include "platform/Paths.h"

namespace vaultry::cookies {

// One browser profile with a cookie store.
struct Profile {
    std::string browser;  // the command-line id: "firefox", "chrome", "chromium", "gnome-web", …
    std::string name;     // as the browser names it: "default-release", "Default", "Profile 1"
    std::string store;    // the cookie store's path
    Layout layout = Layout::Chrome;
    std::string packaging;   // "", "snap" or "flatpak"
    bool isDefault = false;  // the profile the browser opens first; one per browser at most
};

// The browsers whose profiles are looked for, in the order they are listed. `keyring` is the
// name a Chromium-family browser keeps its key under in the Secret Service ("<keyring> Safe
// Storage"); empty for the others.
struct BrowserInfo {
    const char* id;
    const char* title;
    Layout layout;
    const char* keyring;
};
const std::vector<BrowserInfo>& knownBrowsers();
const BrowserInfo* browserInfo(std::string_view id);

// Every profile of every known browser under the home: native, Snap and Flatpak installs.
// Only profiles whose cookie store exists are listed.
std::vector<Profile> findProfiles(const platform::Paths& paths);
std::vector<Profile> findProfiles(const platform::Paths& paths, std::string_view browser);

// The profile of a browser that `selector` names: its name, the profile folder or the store's
// path; an empty selector picks the browser's default profile (else its first).
std::optional<Profile> pickProfile(const std::vector<Profile>& profiles, std::string_view browser,
                                   std::string_view selector = {});

// The profiles a Firefox profiles.ini and installs.ini describe, relative to baseDir, in the
// order of profiles.ini; the default one marked. Each may lack a cookie store.
struct FirefoxProfileEntry {
    std::string name;
    std::filesystem::path folder;
    bool isDefault = false;
};
std::vector<FirefoxProfileEntry> firefoxProfiles(std::string_view profilesIni, std::string_view installsIni,
                                                 const std::filesystem::path& baseDir);

// The decryptor for a browser's values: the browser's own Secret Service item first, then those of
// the other browsers of the family (a store copied or opened by hand may be any of them).
ChromiumDecryptor decryptorFor(SafeStorage& storage, std::string_view browser);
// Reads a store as readStore() does, Chromium values decrypted with the decryptor.
CookNodes readStore(const std::string& path, Layout layout, ChromiumDecryptor& decryptor);

// The number of cookies in a store (0 when it cannot be read).
std::size_t countCookies(const std::string& store, Layout layout);

}  // namespace vaultry::cookies
