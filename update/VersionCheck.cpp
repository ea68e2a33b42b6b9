#include "update/VersionCheck.h"

#include <plist/plist.h>
#include <algorithm>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>

#include "platform/Version.h"
#include "trash/TrashItems.h"

namespace vaultry {
namespace {

// A variable set to nothing overrides too: it turns the address off.
std::string fromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

// The digits of one component without leading zeros; "" stands for 0, also for a component that
// is not a whole number.
std::string_view componentDigits(std::string_view c) {
    if (c.empty() || !std::all_of(c.begin(), c.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
        return {};
    while (!c.empty() && c.front() == '0') c.remove_prefix(1);
    return c;
}

// Splits off the component before the next ".", leaving the rest in s.
std::string_view nextComponent(std::string_view& s) {
    const auto dot = s.find('.');
    std::string_view c = s.substr(0, dot);
    s = dot == std::string_view::npos ? std::string_view{} : s.substr(dot + 1);
    return c;
}

// The text under key, when the dictionary has one there.
std::optional<std::string> stringItem(plist_t dict, const char* key) {
    plist_t item = plist_dict_get_item(dict, key);
    if (!item || plist_get_node_type(item) != PLIST_STRING) return std::nullopt;
    std::uint64_t length = 0;
    const char* text = plist_get_string_ptr(item, &length);
    if (!text) return std::nullopt;
    // The reader may count bytes past a NUL inside the text; stop at the first one.
    return std::string(text, strnlen(text, length));
}

}  // namespace

std::string versionListUrl() { return fromEnvironment("VAULTRY_UPDATE_URL", kDefaultVersionListUrl); }
std::string productPageUrl() { return fromEnvironment("VAULTRY_PRODUCT_URL", kDefaultProductPageUrl); }
std::string helpPageUrl() { return fromEnvironment("VAULTRY_HELP_URL", kDefaultHelpPageUrl); }

bool updateCheckOffered() { return !versionListUrl().empty(); }

std::string fileUrl(const std::filesystem::path& path) {
    // The same escaping as a .trashinfo path: every byte but unreserved ASCII and "/".
    return "file://" + trash::percentEncode(path.string());
}

std::optional<std::string> helpAddress(const std::filesystem::path& installedDocs) {
    if (auto page = helpPageUrl(); !page.empty()) return page;
    if (installedDocs.empty()) return std::nullopt;
    std::error_code ec;
    for (const char* name : {"README.md", "README"}) {
        const auto readme = installedDocs / name;
        if (std::filesystem::is_regular_file(readme, ec)) return fileUrl(readme);
    }
    return std::nullopt;
}

Result<VersionList> parseVersionList(std::string_view body) {
    // The maker publishes XML; other forms the property-list reader knows are not accepted here.
    std::string_view start = body;
    if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
    start = trimmed(start);
    if (start.empty()) return fail("the version list is empty");
    if (start.front() != '<') return fail("the version list is not an XML property list");
    // Read with libplist directly: the generic reader's string accessor aborts the process on a
    // text with a NUL byte inside; here such a text ends at the NUL.
    if (start.size() > std::numeric_limits<std::uint32_t>::max())
        return fail("the version list is too large");
    plist_t raw = nullptr;
    plist_from_xml(start.data(), static_cast<std::uint32_t>(start.size()), &raw);
    const std::unique_ptr<void, void (*)(plist_t)> root(raw, plist_free);
    if (!root) return fail("the version list is not a property list");
    if (plist_get_node_type(raw) != PLIST_DICT) return fail("the version list is not a dictionary");
    VersionList list;
    const auto latest = stringItem(raw, "lastestVersion");
    if (!latest) return fail("the version list names no \"lastestVersion\"");
    list.lastestVersion = *latest;
    list.whatsNew = stringItem(raw, "WhatsNew").value_or("");
    return list;
}

Result<VersionList> fetchVersionList(platform::Http& http, const std::string& url) {
    auto response = http.get(url);
    if (!response) return response.error();
    if (response->status < 200 || response->status > 299)
        return fail("the server answered with HTTP status " + std::to_string(response->status));
    const auto& body = response->body;
    return parseVersionList(std::string_view(reinterpret_cast<const char*>(body.data()), body.size()));
}

int compareVersions(std::string_view a, std::string_view b) {
    a = trimmed(a);
    b = trimmed(b);
    while (!a.empty() || !b.empty()) {
        const auto x = componentDigits(nextComponent(a));
        const auto y = componentDigits(nextComponent(b));
        if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
        if (const int c = x.compare(y); c != 0) return c < 0 ? -1 : 1;
    }
    return 0;
}

bool CompareOneString(std::string_view newest, std::string_view running) {
    return compareVersions(newest, running) > 0;
}

std::string releaseNotesText(std::string_view whatsNew) {
    std::string text(whatsNew);
    std::replace(text.begin(), text.end(), '*', '\n');
    return text;
}

}  // namespace vaultry
