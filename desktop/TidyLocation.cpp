#include "desktop/TidyLocation.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "desktop/Tidy.h"
#include "util/Log.h"

namespace fs = std::filesystem;

namespace vaultry::tidy {
namespace {

bool isRealFolder(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

std::string chosenLocation(const Preferences& prefs, platform::Bookmarks& bookmarks, const fs::path& trash) {
    auto grant = prefs.tidyLocationGrant();
    if (!grant) grant = prefs.trashGrant();
    if (!grant) return {};
    const auto resolved = bookmarks.resolve(*grant);
    if (!resolved || resolved->stale || fs::path(resolved->path) == trash) return {};
    return resolved->path;
}

bool insideStorage(const std::string& folder, const std::string& storage) {
    if (storage.empty()) return false;
    std::error_code ec;
    const auto inside =
        fs::weakly_canonical(folder, ec).lexically_relative(fs::weakly_canonical(storage, ec));
    return !inside.empty() && *inside.begin() != "..";
}

std::string moveTidyFolder(const std::string& from, const std::string& to) {
    const std::string old = storageFolder(from), next = storageFolder(to);
    if (old.empty() || next.empty() || !isRealFolder(old)) return {};
    std::error_code ec;
    if (fs::equivalent(old, next, ec)) return {};  // one folder by two names
    if (::renameat2(AT_FDCWD, old.c_str(), AT_FDCWD, next.c_str(), RENAME_NOREPLACE) == 0) {
        logLine("tidy folder moved from " + old + " to " + next);
        return {};
    }
    const int err = errno;
    const std::string why = err == EEXIST || err == ENOTEMPTY ? next + " holds a tidy folder already"
                            : err == EXDEV                    ? next + " is on another drive"
                                                              : std::strerror(err);
    const std::string tell = "Items tidied earlier stay in " + old + ": " + why + ". Move them yourself.";
    logLine(tell);
    return tell;
}

std::string takeTidyFolderOutOfStorage(Preferences& prefs, platform::Bookmarks& bookmarks,
                                       const fs::path& trash, std::string& tell) {
    std::string location = chosenLocation(prefs, bookmarks, trash);
    const std::string storage = prefs.storePath().value_or("");
    // Only the storage folder Vaultry makes, "<chosen>/vaultry.data", ever held one.
    if (storage.empty() || fs::path(storage).filename() != "vaultry.data" ||
        !isRealFolder(storageFolder(storage)))
        return location;
    if (location.empty()) {
        // The folder the vault was chosen in: where the documents always said tidied items go.
        const std::string parent = fs::path(storage).parent_path().string();
        auto grant = bookmarks.create(parent);
        if (!grant) return location;
        prefs.setTidyLocationGrant(*grant);
        prefs.setTidyLocationFromVault(true);
        if (!prefs.save()) return location;
        location = parent;
    }
    tell = moveTidyFolder(storage, location);
    return location;
}

}  // namespace vaultry::tidy
