#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "cookies/PRCookFileNode.h"
#include "platform/Paths.h"
#include "util/AtomicFile.h"
#include "util/Result.h"

namespace vaultry::cookies {

enum class Layout { Binary, Chrome, Firefox };

// How a file the user opens is read: "cook" at the start is a binary cookie file; an SQLite
// database is read in the Firefox layout when it has `moz_cookies` and no `cookies` table, in
// the Chrome layout otherwise. None for anything else (or a file that cannot be opened, or a
// binary file whose records repeat or overlap).
std::optional<Layout> detectLayout(const std::string& path);

// Reads the store in the given layout.
CookNodes readStore(const std::string& path, Layout layout);

// The default stores of the user. Paths are formed even when the store is missing (the first
// candidate).
std::string safariCookiePath(const platform::Paths& paths);
std::string chromeCookiePath(const platform::Paths& paths);

// "<Downloads>/com.Quenmark.Crumbscope" and the export file in it.
std::filesystem::path exportFolder(const platform::Paths& paths);
inline constexpr const char* kExportFileName = "cookiedata.txt";

// Removes every cookie of the store: a binary cookie file is replaced by `samplecookies`; a
// database has its table emptied and is rebuilt. A missing store changes nothing.
Status removeStore(const std::string& path, Layout layout);

}  // namespace vaultry::cookies
