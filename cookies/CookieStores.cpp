#include "cookies/CookieStores.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <vector>

#include "cookies/BinaryCookies.h"
#include "cookies/CookieDatabase.h"
#include "cookies/PRRtfController.h"

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
