#include "cookies/CookieStores.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "cookies/BinaryCookies.h"
#include "cookies/CookieDatabase.h"
#include "cookies/PRRtfController.h"
#include "cookies/TextFile.h"

namespace fs = std::filesystem;

namespace vaultry {
namespace cookies {
namespace {

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(p, ec);
}

}  // namespace

std::optional<Layout> detectLayout(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    char head[16] = {};
    in.read(head, sizeof head);
    if (std::memcmp(head, "cook", 4) == 0) {
        // A crafted file (records that repeat or overlap) is refused here, before any list shows it.
        CookNodes nodes;
        std::vector<std::uint32_t> pages;
        if (!ReadCookBinaryFileWithPath(path, nodes, pages)) return std::nullopt;
        return Layout::Binary;
    }
    if (std::memcmp(head, "SQLite format 3", 16) != 0) return std::nullopt;
    const auto tables = tableNames(path);
    const auto has = [&](const char* t) {
        return std::find(tables.begin(), tables.end(), t) != tables.end();
    };
    return has("moz_cookies") && !has("cookies") ? Layout::Firefox : Layout::Chrome;
}

CookNodes readStore(const std::string& path, Layout layout) {
    CookNodes out;
    std::vector<std::uint32_t> pages;
    switch (layout) {
        case Layout::Binary:
            ReadCookBinaryFileWithPath(path, out, pages);
            break;
        case Layout::Chrome:
            ReadCookDatabaseFileWithPath(path, out);
            break;
        case Layout::Firefox:
            ReadFirefoxCookDatabaseFileWithPath(path, out);
            break;
    }
    return out;
}

std::string safariCookiePath(const platform::Paths& paths) {
    const fs::path home = paths.home();
    const fs::path candidates[] = {
        home / "Library/Cookies/Cookies.binarycookies",
        home / "Library/Containers/com.apple.Safari/Data/Library/Cookies/Cookies.binarycookies",
    };
    for (const auto& c : candidates)
        if (present(c)) return c.string();
    return candidates[0].string();
}

std::string chromeCookiePath(const platform::Paths& paths) {
    const fs::path config = paths.configHome();
    std::vector<fs::path> candidates;
    for (const char* browser : {"google-chrome", "chromium"})
        for (const char* file : {"Default/Network/Cookies", "Default/Cookies"})
            candidates.push_back(config / browser / file);
    for (const auto& c : candidates)
        if (present(c)) return c.string();
    return candidates[0].string();
}

std::optional<fs::path> firefoxDefaultProfile(std::string_view ini, const fs::path& baseDir) {
    std::map<std::string, std::map<std::string, std::string>> sections;
    std::vector<std::string> order;
    std::string current;
    std::istringstream lines{std::string(ini)};
    for (std::string line; std::getline(lines, line);) {
        line = trim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#') continue;
        if (line.front() == '[' && line.back() == ']') {
            current = line.substr(1, line.size() - 2);
            if (!sections.count(current)) order.push_back(current);
            sections[current];
            continue;
        }
        const auto eq = line.find('=');
        if (eq != std::string::npos && !current.empty())
            sections[current][trim(line.substr(0, eq))] = trim(line.substr(eq + 1));
    }
    const auto resolve = [&](const std::string& p, bool relative) {
        return relative || fs::path(p).is_relative() ? baseDir / p : fs::path(p);
    };
    for (const auto& name : order)
        if (name.rfind("Install", 0) == 0)
            if (auto it = sections[name].find("Default"); it != sections[name].end() && !it->second.empty())
                return resolve(it->second, true);
    for (const auto& name : order) {
        auto& s = sections[name];
        if (name.rfind("Profile", 0) == 0 && s["Default"] == "1" && !s["Path"].empty())
            return resolve(s["Path"], s["IsRelative"] != "0");
    }
    return std::nullopt;
}

std::optional<std::string> firefoxCookiePath(const platform::Paths& paths) {
    const fs::path bases[] = {paths.home() / ".mozilla/firefox", paths.configHome() / "mozilla/firefox"};
    for (const auto& base : bases) {
        if (!present(base / "profiles.ini")) continue;
        if (auto profile = firefoxDefaultProfile(readText(base / "profiles.ini"), base))
            if (present(*profile / "cookies.sqlite")) return (*profile / "cookies.sqlite").string();
    }
    for (const auto& base : bases) {
        std::error_code ec;
        std::vector<fs::path> folders;
        for (const auto& e : fs::directory_iterator(base, ec))
            if (e.path().filename().string().rfind('.', 0) != 0 && present(e.path() / "cookies.sqlite"))
                folders.push_back(e.path());
        if (!folders.empty())
            return (*std::min_element(folders.begin(), folders.end()) / "cookies.sqlite").string();
    }
    return std::nullopt;
}

fs::path exportFolder(const platform::Paths& paths) { return paths.downloads() / "com.Quenmark.Crumbscope"; }

Status removeStore(const std::string& path, Layout layout) {
    if (path.empty() || !present(path)) return {};
    if (layout == Layout::Binary) {
        const auto bytes = samplecookies();
        return writeFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    }
    return removeDatabaseCookies(path, layout == Layout::Firefox);
}

std::string exportLine(const PRCookFileNode& node) {
    const auto text = [](const PRCookFileNode::Text& t) { return t ? *t : std::string("(null)"); };
    return "Website:" + text(node.fileHost()) + "  Name:" + text(node.fileName()) +
           "  Secure:" + node.secureValue() + "  Path:" + text(node.filePath()) +
           "  Value:" + text(node.fileValue()) + "  " +
           (node.container() ? "Container:" + *node.container() + "  " : std::string());
}

std::string exportText(const CookNodes& nodes) {
    PRRtfController writer;
    for (const auto& node : nodes) writer.addRtfContent(exportLine(*node));
    return writer.strRtfContent;
}

}  // namespace cookies

Status PRRtfController::writeRtfInPath(const std::string& folder, const std::string& /*fileType*/) {
    setRtfEnder();
    return writeFileAtomically(fs::path(folder) / cookies::kExportFileName, strRtfContent);
}

}  // namespace vaultry
