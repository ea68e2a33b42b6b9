#pragma once
#include <string>
#include <string_view>

#include "platform/Http.h"
#include "util/Result.h"

namespace vaultry {

// The maker's version list: a property-list dictionary with the newest version and its notes.
struct VersionList {
    std::string lastestVersion;  // dotted, "2.4.1"
    std::string whatsNew;        // release notes; "*" stands for a line break
};

// Where the version list and the product page live: VAULTRY_UPDATE_URL and VAULTRY_PRODUCT_URL
// when set and not empty, else the built-in addresses.
std::string versionListUrl();
std::string productPageUrl();

// Reads a version list from the bytes of an XML property list. Anything else (an HTML page, a
// binary list, a list without a "lastestVersion" text) is an error.
Result<VersionList> parseVersionList(std::string_view body);

// Downloads and reads the list; blocking, so callers run it on a worker thread. A status other
// than 2xx is an error.
Result<VersionList> fetchVersionList(platform::Http& http, const std::string& url);

// Three-way comparison of dotted versions, one component at a time and numerically: 1.10 is
// newer than 1.9, 2.0 equals 2.0.0. A missing component, and one that is not a whole number,
// counts as 0. Returns <0, 0 or >0 as a is older than, equal to or newer than b.
int compareVersions(std::string_view a, std::string_view b);

// True when newest names a later version than running.
bool CompareOneString(std::string_view newest, std::string_view running);

// The release notes as shown: every "*" becomes a line break.
std::string releaseNotesText(std::string_view whatsNew);

}  // namespace vaultry
