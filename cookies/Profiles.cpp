#include "cookies/Profiles.h"

#include <sqlite3.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <sstream>

#include "cookies/CookieDatabase.h"
#include "cookies/TextFile.h"

namespace fs = std::filesystem;

namespace vaultry::cookies {
namespace {

bool isFile(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

// An INI text as its sections in file order, each with its keys.
using Section = std::map<std::string, std::string>;
std::vector<std::pair<std::string, Section>> parseIni(std::string_view text) {
    std::vector<std::pair<std::string, Section>> sections;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            sections.emplace_back(line.substr(1, line.size() - 2), Section{});
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && !sections.empty())
            sections.back().second[trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    return sections;
}

std::string value(const Section& s, const char* key) {
    const auto it = s.find(key);
    return it == s.end() ? std::string() : it->second;
}

fs::path folderOf(const fs::path& base, const std::string& path, bool relative) {
    return (relative || fs::path(path).is_relative() ? base / path : fs::path(path)).lexically_normal();
}

// Where a browser keeps its data, native first; Snap and Flatpak installs have their own.
struct Location {
    fs::path dir;
    const char* packaging;
};

std::vector<Location> firefoxBases(const platform::Paths& p) {
    const fs::path h = p.home();
    return {{h / ".mozilla/firefox", ""},
            {p.configHome() / "mozilla/firefox", ""},
            {h / "snap/firefox/common/.mozilla/firefox", "snap"},
            {h / ".var/app/org.mozilla.firefox/.mozilla/firefox", "flatpak"},
            {h / ".var/app/org.mozilla.firefox/config/mozilla/firefox", "flatpak"}};
}

std::vector<Location> chromiumBases(const platform::Paths& p, std::string_view browser) {
    const fs::path h = p.home(), c = p.configHome(), flat = h / ".var/app";
    if (browser == "chrome")
        return {{c / "google-chrome", ""},
                {c / "google-chrome-beta", ""},
                {c / "google-chrome-unstable", ""},
                {flat / "com.google.Chrome/config/google-chrome", "flatpak"}};
    if (browser == "chromium")
        return {{c / "chromium", ""},
                {h / "snap/chromium/common/chromium", "snap"},
                {flat / "org.chromium.Chromium/config/chromium", "flatpak"}};
    if (browser == "brave")
        return {{c / "BraveSoftware/Brave-Browser", ""},
                {h / "snap/brave/current/.config/BraveSoftware/Brave-Browser", "snap"},
                {flat / "com.brave.Browser/config/BraveSoftware/Brave-Browser", "flatpak"}};
    if (browser == "vivaldi")
        return {{c / "vivaldi", ""},
                {c / "vivaldi-snapshot", ""},
                {flat / "com.vivaldi.Vivaldi/config/vivaldi", "flatpak"}};
    if (browser == "edge")
        return {{c / "microsoft-edge", ""},
                {c / "microsoft-edge-beta", ""},
                {c / "microsoft-edge-dev", ""},
                {flat / "com.microsoft.Edge/config/microsoft-edge", "flatpak"}};
    if (browser == "opera")
        return {{c / "opera", ""},
                {c / "opera-beta", ""},
                {c / "opera-developer", ""},
                {h / "snap/opera/current/.config/opera", "snap"},
                {flat / "com.opera.Opera/config/opera", "flatpak"}};
    return {};
}

// The store of a Chromium profile folder: Network/Cookies since 2021, Cookies before.
std::optional<fs::path> chromiumStore(const fs::path& profile) {
    for (const char* file : {"Network/Cookies", "Cookies"})
        if (isFile(profile / file)) return profile / file;
    return std::nullopt;
}

// "Default", then "Profile 1", "Profile 2", … by number, then any other name.
bool profileOrder(const std::string& a, const std::string& b) {
    const auto rank = [](const std::string& n) -> std::pair<int, long> {
        if (n == "Default") return {0, 0};
        if (n.rfind("Profile ", 0) == 0 && n.size() > 8 &&
            std::all_of(n.begin() + 8, n.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
            return {1, std::stol(n.substr(8, 9))};
        return {2, 0};
    };
    const auto ra = rank(a), rb = rank(b);
    return ra != rb ? ra < rb : a < b;
}

void addChromium(const platform::Paths& paths, const BrowserInfo& info, std::vector<Profile>& out) {
    for (const auto& base : chromiumBases(paths, info.id)) {
        std::error_code ec;
        if (!fs::is_directory(base.dir, ec)) continue;
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(base.dir, ec)) {
            const std::string name = e.path().filename().string();
            // Chrome's own pseudo-profiles hold no browsing of the user's; Network/ is Opera's store.
            if (name == "System Profile" || name == "Guest Profile" || name == "Network" ||
                !e.is_directory(ec))
                continue;
            if (chromiumStore(e.path())) names.push_back(name);
        }
        std::sort(names.begin(), names.end(), profileOrder);
        for (const auto& name : names)
            out.push_back({info.id, name, chromiumStore(base.dir / name)->string(), Layout::Chrome,
                           base.packaging, false});
        // Opera keeps a single profile in the folder itself.
        if (names.empty())
            if (auto store = chromiumStore(base.dir))
                out.push_back({info.id, "Default", store->string(), Layout::Chrome, base.packaging, false});
    }
}

void addFirefox(const platform::Paths& paths, std::vector<Profile>& out) {
    for (const auto& base : firefoxBases(paths)) {
        const auto profiles = firefoxProfiles(readText(base.dir / "profiles.ini"),
                                              readText(base.dir / "installs.ini"), base.dir);
        std::vector<FirefoxProfileEntry> listed = profiles;
        if (listed.empty()) {
            // No profiles.ini: every profile folder with a store, in name order.
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(base.dir, ec))
                if (e.path().filename().string().rfind('.', 0) != 0)
                    listed.push_back({e.path().filename().string(), e.path(), false});
            std::sort(listed.begin(), listed.end(),
                      [](const auto& a, const auto& b) { return a.name < b.name; });
        }
        for (const auto& p : listed)
            if (isFile(p.folder / "cookies.sqlite"))
                out.push_back({"firefox", p.name, (p.folder / "cookies.sqlite").string(), Layout::Firefox,
                               base.packaging, p.isDefault});
    }
}

void addGnomeWeb(const platform::Paths& paths, std::vector<Profile>& out) {
    const fs::path flat = paths.home() / ".var/app/org.gnome.Epiphany";
    const Location stores[] = {{paths.dataHome() / "epiphany/cookies.sqlite", ""},
                               {paths.configHome() / "epiphany/cookies.sqlite", ""},
                               {flat / "data/epiphany/cookies.sqlite", "flatpak"}};
    for (const auto& s : stores)
        if (isFile(s.dir))
            out.push_back({"gnome-web", "Default", s.dir.string(), Layout::Firefox, s.packaging, false});
}

// One default per browser: the one the browser marks, else its first profile.
void markDefaults(std::vector<Profile>& profiles) {
    for (auto& p : profiles) {
        const auto same = [&](const Profile& o) { return o.browser == p.browser; };
        const bool marked = std::any_of(profiles.begin(), profiles.end(),
                                        [&](const Profile& o) { return same(o) && o.isDefault; });
        if (!marked) {
            std::find_if(profiles.begin(), profiles.end(), same)->isDefault = true;
            continue;
        }
        // Keep the first marked one only (a native and a Snap install may both mark one).
        bool seen = false;
        for (auto& o : profiles)
            if (same(o) && o.isDefault) {
                o.isDefault = !seen;
                seen = true;
            }
    }
}

}  // namespace

const std::vector<BrowserInfo>& knownBrowsers() {
    static const std::vector<BrowserInfo> browsers = {
        {"firefox", "Firefox", Layout::Firefox, ""},
        {"chrome", "Google Chrome", Layout::Chrome, "Chrome"},
        {"chromium", "Chromium", Layout::Chrome, "Chromium"},
        {"brave", "Brave", Layout::Chrome, "Brave"},
        {"vivaldi", "Vivaldi", Layout::Chrome, "Chrome"},
        {"edge", "Microsoft Edge", Layout::Chrome, "Chromium"},
        {"opera", "Opera", Layout::Chrome, "Chromium"},
        {"gnome-web", "GNOME Web", Layout::Firefox, ""},
    };
    return browsers;
}

const BrowserInfo* browserInfo(std::string_view id) {
    for (const auto& b : knownBrowsers())
        if (id == b.id) return &b;
    return nullptr;
}

std::vector<FirefoxProfileEntry> firefoxProfiles(std::string_view profilesIni, std::string_view installsIni,
                                                 const fs::path& baseDir) {
    std::vector<FirefoxProfileEntry> out;
    const auto add = [&](const std::string& name, const fs::path& folder) -> FirefoxProfileEntry& {
        for (auto& e : out)
            if (e.folder == folder) return e;
        return out.emplace_back(FirefoxProfileEntry{name, folder, false});
    };
    const auto profiles = parseIni(profilesIni);
    for (const auto& [name, s] : profiles)
        if (name.rfind("Profile", 0) == 0 && !value(s, "Path").empty()) {
            const fs::path folder = folderOf(baseDir, value(s, "Path"), value(s, "IsRelative") != "0");
            const std::string shown =
                value(s, "Name").empty() ? folder.filename().string() : value(s, "Name");
            add(shown, folder);
        }
    // The install sections (in profiles.ini and installs.ini) name the profile each installed
    // Firefox opens; the first of them wins over the older Default=1 mark.
    std::optional<fs::path> installDefault;
    auto installs = parseIni(installsIni);
    for (const auto& [name, s] : profiles)
        if (name.rfind("Install", 0) == 0) installs.emplace_back(name, s);
    for (const auto& [name, s] : installs) {
        const std::string path = value(s, "Default");
        if (path.empty()) continue;
        const fs::path folder = folderOf(baseDir, path, true);
        add(folder.filename().string(), folder);
        if (!installDefault) installDefault = folder;
    }
    if (!installDefault)
        for (const auto& [name, s] : profiles)
            if (name.rfind("Profile", 0) == 0 && value(s, "Default") == "1" && !value(s, "Path").empty()) {
                installDefault = folderOf(baseDir, value(s, "Path"), value(s, "IsRelative") != "0");
                break;
            }
    for (auto& e : out) e.isDefault = installDefault && e.folder == *installDefault;
    return out;
}

std::vector<Profile> findProfiles(const platform::Paths& paths, std::string_view browser) {
    std::vector<Profile> out;
    for (const auto& info : knownBrowsers()) {
        if (!browser.empty() && browser != info.id) continue;
        if (std::string_view(info.id) == "firefox")
            addFirefox(paths, out);
        else if (std::string_view(info.id) == "gnome-web")
            addGnomeWeb(paths, out);
        else
            addChromium(paths, info, out);
    }
    markDefaults(out);
    return out;
}

std::vector<Profile> findProfiles(const platform::Paths& paths) { return findProfiles(paths, {}); }

std::optional<Profile> pickProfile(const std::vector<Profile>& profiles, std::string_view browser,
                                   std::string_view selector) {
    const auto ofBrowser = [&](const Profile& p) { return browser.empty() || p.browser == browser; };
    const auto first = [&](auto pred) -> std::optional<Profile> {
        for (const auto& p : profiles)
            if (ofBrowser(p) && pred(p)) return p;
        return std::nullopt;
    };
    if (selector.empty()) {
        if (auto p = first([](const Profile& p) { return p.isDefault; })) return p;
        return first([](const Profile&) { return true; });
    }
    if (auto p = first([&](const Profile& p) { return p.name == selector; })) return p;
    // A path: the store itself, the profile folder, or the folder above Network/.
    std::error_code ec;
    const fs::path wanted = fs::weakly_canonical(fs::path(selector), ec);
    return first([&](const Profile& p) {
        fs::path store = fs::weakly_canonical(p.store, ec);
        for (fs::path at = store; !at.empty() && at != at.parent_path(); at = at.parent_path()) {
            if (at == wanted) return true;
            if (at != store && at.filename() != "Network") break;
        }
        return false;
    });
}

ChromiumDecryptor decryptorFor(SafeStorage& storage, std::string_view browser) {
    std::vector<std::string> names;
    if (const auto* info = browserInfo(browser); info && *info->keyring) names.push_back(info->keyring);
    for (const auto& b : knownBrowsers())
        if (*b.keyring && std::find(names.begin(), names.end(), b.keyring) == names.end())
            names.push_back(b.keyring);
    std::vector<ChromiumDecryptor::PasswordSource> sources;
    for (const auto& name : names) sources.push_back([&storage, name] { return storage.password(name); });
    return ChromiumDecryptor(std::move(sources));
}

CookNodes readStore(const std::string& path, Layout layout, ChromiumDecryptor& decryptor) {
    if (layout != Layout::Chrome) return readStore(path, layout);
    CookNodes out;
    ReadCookDatabaseFileWithPath(path, out, decryptor);
    return out;
}

std::size_t countCookies(const std::string& store, Layout layout) {
    if (layout == Layout::Binary) return readStore(store, layout).size();
    std::size_t count = 0;
    const std::string query =
        std::string("select count(*) from ") + (layout == Layout::Firefox ? "moz_cookies" : "cookies");
    withDatabase(store, [&](sqlite3* db) {
        sqlite3_stmt* st = nullptr;
        int rc = sqlite3_prepare_v2(db, query.c_str(), -1, &st, nullptr);
        if (rc == SQLITE_OK && (rc = sqlite3_step(st)) == SQLITE_ROW) {
            count = static_cast<std::size_t>(sqlite3_column_int64(st, 0));
            rc = SQLITE_OK;
        }
        sqlite3_finalize(st);
        return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED ? rc : SQLITE_OK;
    });
    return count;
}

}  // namespace vaultry::cookies
