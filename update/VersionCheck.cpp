#include "update/VersionCheck.h"

#include <algorithm>
#include <cstdlib>

#include "app/SettingsStore.h"

namespace vaultry {
namespace {

// Reserved example hosts: a build for release sets its own addresses through the environment.
constexpr const char* kDefaultVersionListUrl = "http://www.vaultry.example/product/vaultryVersion.plist";
constexpr const char* kDefaultProductPageUrl = "http://www.vaultry.example/product/";

std::string fromEnvironment(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value && *value ? value : fallback;
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

}  // namespace

std::string versionListUrl() { return fromEnvironment("VAULTRY_UPDATE_URL", kDefaultVersionListUrl); }
std::string productPageUrl() { return fromEnvironment("VAULTRY_PRODUCT_URL", kDefaultProductPageUrl); }

Result<VersionList> parseVersionList(std::string_view body) {
    // The maker publishes XML; other forms the property-list reader knows are not accepted here.
    std::string_view start = body;
    if (start.substr(0, 3) == "\xEF\xBB\xBF") start.remove_prefix(3);
    start = trimmed(start);
    if (start.empty()) return fail("the version list is empty");
    if (start.front() != '<') return fail("the version list is not an XML property list");
    auto dict = parsePlist(start);
    if (!dict) return fail("the version list is not a property list (" + dict.error().message + ")");
    VersionList list;
    const auto latest = dict->find("lastestVersion");
    if (latest == dict->end() || !latest->second.as<std::string>())
        return fail("the version list names no \"lastestVersion\"");
    list.lastestVersion = *latest->second.as<std::string>();
    if (const auto notes = dict->find("WhatsNew"); notes != dict->end())
        if (const auto* text = notes->second.as<std::string>()) list.whatsNew = *text;
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
