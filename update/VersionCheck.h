#pragma once
#include <filesystem>
#include <optional>
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

// Where the version list, the download page and the help page live: VAULTRY_UPDATE_URL,
// VAULTRY_PRODUCT_URL and VAULTRY_HELP_URL when set (set to nothing turns one off), else the
// addresses the build was configured with. Each may be empty.
std::string versionListUrl();
std::string productPageUrl();
std::string helpPageUrl();

// Whether this build checks for updates: only with a version list to read. Without one (as in a
// distribution's package) the system's package manager updates Vaultry, and no server is asked.
bool updateCheckOffered();

// What the check-for-update command says where no check is offered.
inline constexpr const char* kUpdateCheckOffTitle = "Update Check Off: Your Package Manager Updates Vaultry…";
inline constexpr const char* kUpdateCheckOffMessage = "This build of Vaultry does not check for updates.";
inline constexpr const char* kUpdateCheckOffInformative =
    "Vaultry is updated with the rest of the system by its package manager (for example apt).";

// An absolute path as a file URL, every byte outside the unreserved characters percent-encoded.
std::string fileUrl(const std::filesystem::path& path);

// What Help opens: the help page when there is one, else the README in the folder of installed
// documentation as a file URL; nothing when neither is there.
std::optional<std::string> helpAddress(const std::filesystem::path& installedDocs);

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
