#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "cookies/PRCookFileNode.h"
#include "util/Result.h"

struct sqlite3;

namespace vaultry::cookies {

class ChromiumDecryptor;

// Brings a database's write-ahead log into its main file before a removal: a passive checkpoint
// of a store in WAL mode (the journal mode stays as the browser set it). A failed checkpoint logs
// "Failed to commit". Readers never call it.
void commitDB(const std::string& path);

// Chrome's table `cookies`, old and current layouts (columns found by name: `secure` or
// `is_secure`; expires_utc in microseconds since 1601-01-01). The value is encrypted_value
// decrypted ("(encrypted)" when no key opens it); when a row has none, its plain `value`. Without
// a decryptor only the fixed key of "v10" values is tried.
void ReadCookDatabaseFileWithPath(const std::string& path, CookNodes& out);
void ReadCookDatabaseFileWithPath(const std::string& path, CookNodes& out, ChromiumDecryptor& decryptor);
// Firefox's table `moz_cookies`: `baseDomain`, else `host`; expiry in seconds, or milliseconds
// from user_version 16 on.
void ReadFirefoxCookDatabaseFileWithPath(const std::string& path, CookNodes& out);

// Runs fn on a private snapshot of the database at path: the database with its journal and -wal
// copied into a 0700 temporary folder that is removed afterwards, so reading never changes the
// browser's store (no journal mode, no -wal or -shm, no rolled-back journal). fn returns an
// SQLite result code; only SQLITE_BUSY and SQLITE_LOCKED count as locked.
void withDatabase(const std::string& path, const std::function<int(sqlite3*)>& fn);

// The names of the tables of a database, empty when it has none or is not a database.
std::vector<std::string> tableNames(const std::string& path);

// Chrome's time (microseconds since 1601-01-01 UTC) as seconds since 1970.
std::int64_t chromeTimeToUnix(std::int64_t microseconds);

// The text every refused removal reports.
inline constexpr const char* kBrowserRunning = "the browser must be closed first";

// Deletes every cookie of the database (table `moz_cookies` or `cookies`) and rebuilds the file,
// with SQLite's secure delete on and the log emptied, so no deleted row stays on disk. Refused
// with kBrowserRunning, and nothing deleted, while the browser runs or holds the database.
// A database without the table keeps everything and is only rebuilt.
Status removeDatabaseCookies(const std::string& path, bool firefox);

}  // namespace vaultry::cookies
