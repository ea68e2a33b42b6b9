#include "cookies/CookieDatabase.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <set>

#include "cookies/BinaryCookies.h"
#include "cookies/BrowserLock.h"
#include "cookies/ChromiumCrypto.h"
#include "cookies/Containers.h"
#include "util/Log.h"

namespace fs = std::filesystem;

namespace vaultry::cookies {
namespace {

constexpr int kBusyTimeoutMs = 200;
constexpr std::int64_t kChromeEpochOffset = 11644473600;  // seconds from 1601-01-01 to 1970-01-01

bool locked(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

struct Connection {
    sqlite3* db = nullptr;
    int open(const std::string& path) {
        int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            sqlite3_close(db);
            db = nullptr;
            rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr);
        }
        if (db) sqlite3_busy_timeout(db, kBusyTimeoutMs);
        return rc;
    }
    ~Connection() { sqlite3_close(db); }
};

struct Statement {
    sqlite3_stmt* st = nullptr;
    ~Statement() { sqlite3_finalize(st); }
};

// Sets a text property only from text whose first byte is not zero.
void setText(PRCookFileNode& node, void (PRCookFileNode::*setter)(PRCookFileNode::Text), sqlite3_stmt* st,
             int col) {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(st, col));
    if (!text || text[0] == '\0') return;
    (node.*setter)(GetStringFormChar(text, static_cast<std::size_t>(sqlite3_column_bytes(st, col))));
}

// The column names of a table; rc tells whether the schema could be read.
std::set<std::string> columns(sqlite3* db, const char* table, int& rc) {
    std::set<std::string> names;
    Statement s;
    rc =
        sqlite3_prepare_v2(db, (std::string("PRAGMA table_info(") + table + ")").c_str(), -1, &s.st, nullptr);
    if (rc != SQLITE_OK) return names;
    while ((rc = sqlite3_step(s.st)) == SQLITE_ROW)
        if (const auto* n = sqlite3_column_text(s.st, 1)) names.insert(reinterpret_cast<const char*>(n));
    if (rc == SQLITE_DONE) rc = SQLITE_OK;
    return names;
}

std::string pick(const std::set<std::string>& have, std::initializer_list<const char*> names) {
    for (const char* n : names)
        if (have.count(n)) return n;
    return "NULL";
}

// Steps through a query, handing each row to fn. A lock ends with the lock's code; any other
// error ends the rows like their end.
int eachRow(sqlite3* db, const std::string& query, const std::function<void(sqlite3_stmt*)>& fn) {
    Statement s;
    int rc = sqlite3_prepare_v2(db, query.c_str(), -1, &s.st, nullptr);
    if (rc != SQLITE_OK) return locked(rc) ? rc : SQLITE_OK;
    while ((rc = sqlite3_step(s.st)) == SQLITE_ROW) fn(s.st);
    return locked(rc) ? rc : SQLITE_OK;
}

int runOn(const std::string& path, const std::function<int(sqlite3*)>& fn) {
    Connection c;
    const int rc = c.open(path);
    if (rc != SQLITE_OK) return locked(rc) ? rc : SQLITE_OK;
    return fn(c.db);
}

}  // namespace

void commitDB(const std::string& path) {
    // Only the removal writes to a store, and it leaves the journal mode the browser chose: a
    // store in WAL mode has its log checkpointed, any other is left as it is.
    Connection c;
    c.open(path);
    if (!c.db) return;
    if (sqlite3_wal_checkpoint(c.db, nullptr) != SQLITE_OK) logLine("Failed to commit");
}

namespace {

struct FileState {
    bool present = false;
    std::uintmax_t size = 0;
    fs::file_time_type time{};
    bool operator==(const FileState&) const = default;
};

FileState stateOf(const std::string& path) {
    std::error_code ec;
    FileState s;
    s.size = fs::file_size(path, ec);
    if (ec) return {};
    s.time = fs::last_write_time(path, ec);
    s.present = !ec;
    return s;
}

// Copies the store with its journal and log into folder. A copy taken while the browser wrote is
// taken again (the sizes and times of the originals must be the same before and after).
bool snapshot(const std::string& path, const fs::path& copy) {
    static constexpr const char* kSuffixes[] = {"", "-journal", "-wal"};
    for (int attempt = 0; attempt < 5; ++attempt) {
        std::vector<FileState> before;
        for (const char* suffix : kSuffixes) before.push_back(stateOf(path + suffix));
        if (!before[0].present) return false;
        std::error_code ec;
        bool copied = true;
        for (std::size_t i = 0; copied && i < std::size(kSuffixes); ++i) {
            const std::string to = copy.string() + kSuffixes[i];
            fs::remove(to, ec);
            if (before[i].present)
                copied = fs::copy_file(path + kSuffixes[i], to, ec) &&
                         (fs::permissions(to, fs::perms::owner_read | fs::perms::owner_write, ec), true);
        }
        if (!copied) continue;
        std::vector<FileState> after;
        for (const char* suffix : kSuffixes) after.push_back(stateOf(path + suffix));
        if (after == before) return true;
    }
    return false;
}

}  // namespace

void withDatabase(const std::string& path, const std::function<int(sqlite3*)>& fn) {
    // The live store is never opened: even a read-only connection may roll back a journal or
    // create the -shm of a store in WAL mode, and the browser may be writing it. A private copy
    // of the database with its journal and log, in a 0700 folder, is read instead; SQLite
    // completes the copy's log or journal there.
    std::string folder = (fs::temp_directory_path() / "vaultry-cookies-XXXXXX").string();
    if (!::mkdtemp(folder.data())) return;
    const fs::path copy = fs::path(folder) / "store.sqlite";
    if (!snapshot(path, copy))
        logLine("cookie store could not be copied: " + path);
    else if (locked(runOn(copy.string(), fn)))
        logLine("cookie store locked: " + path);
    std::error_code ec;
    fs::remove_all(folder, ec);
}

std::vector<std::string> tableNames(const std::string& path) {
    std::vector<std::string> names;
    withDatabase(path, [&](sqlite3* db) {
        names.clear();
        return eachRow(db, "select name from sqlite_master where type='table'", [&](sqlite3_stmt* st) {
            if (const auto* n = sqlite3_column_text(st, 0))
                names.emplace_back(reinterpret_cast<const char*>(n));
        });
    });
    return names;
}

std::int64_t chromeTimeToUnix(std::int64_t microseconds) {
    return microseconds / 1'000'000 - kChromeEpochOffset;
}

void ReadCookDatabaseFileWithPath(const std::string& path, CookNodes& out) {
    ChromiumDecryptor fixedKeyOnly;
    ReadCookDatabaseFileWithPath(path, out, fixedKeyOnly);
}

void ReadCookDatabaseFileWithPath(const std::string& path, CookNodes& out, ChromiumDecryptor& decryptor) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) return;
    CookNodes rows;
    withDatabase(path, [&](sqlite3* db) {
        rows.clear();
        int rc;
        const auto have = columns(db, "cookies", rc);
        if (rc != SQLITE_OK || have.empty()) return locked(rc) ? rc : SQLITE_OK;
        const bool plainValue = have.count("value") > 0;
        // From version 24 on, each value starts with the SHA-256 of its host.
        std::int64_t metaVersion = 0;
        rc = eachRow(db, "select value from meta where key='version'",
                     [&](sqlite3_stmt* st) { metaVersion = sqlite3_column_int64(st, 0); });
        if (rc != SQLITE_OK) return rc;
        const std::string query =
            "select " + pick(have, {"host_key"}) + "," + pick(have, {"name"}) + "," + pick(have, {"path"}) +
            "," + pick(have, {"expires_utc"}) + "," + pick(have, {"secure", "is_secure"}) + "," +
            pick(have, {"encrypted_value"}) + (plainValue ? ",value" : "") + " from cookies";
        const std::int64_t now = std::time(nullptr);
        return eachRow(db, query, [&](sqlite3_stmt* st) {
            auto node = std::make_shared<PRCookFileNode>();
            setText(*node, &PRCookFileNode::setFileHost, st, 0);
            setText(*node, &PRCookFileNode::setFileName, st, 1);
            setText(*node, &PRCookFileNode::setFilePath, st, 2);
            // A session cookie has no expiry; a persistent one is expired once its time has passed.
            if (const std::int64_t expires = sqlite3_column_int64(st, 3)) {
                node->setExpiredDate(expiryText(chromeTimeToUnix(expires)));
                node->setHasExpired(chromeTimeToUnix(expires) < now);
            }
            if (sqlite3_column_int64(st, 4) == 1) node->setSecureValue("YES");
            const auto* blob = static_cast<const std::uint8_t*>(sqlite3_column_blob(st, 5));
            const int bytes = sqlite3_column_bytes(st, 5);
            if (blob && bytes > 0) {
                const auto* host = reinterpret_cast<const char*>(sqlite3_column_text(st, 0));
                const auto plain = decryptor.decrypt({blob, static_cast<std::size_t>(bytes)},
                                                     host ? host : "", metaVersion >= 24);
                node->setFileValue(plain ? *plain : kEncryptedValue);
            } else if (plainValue)
                setText(*node, &PRCookFileNode::setFileValue, st, 6);
            rows.push_back(std::move(node));
        });
    });
    out.insert(out.end(), rows.begin(), rows.end());
}

void ReadFirefoxCookDatabaseFileWithPath(const std::string& path, CookNodes& out) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) return;
    CookNodes rows;
    const auto containers = containerNames(fs::path(path).parent_path());
    withDatabase(path, [&](sqlite3* db) {
        rows.clear();
        int rc;
        const auto have = columns(db, "moz_cookies", rc);
        if (rc != SQLITE_OK || have.empty()) return locked(rc) ? rc : SQLITE_OK;
        std::int64_t userVersion = 0;
        rc = eachRow(db, "PRAGMA user_version",
                     [&](sqlite3_stmt* st) { userVersion = sqlite3_column_int64(st, 0); });
        if (rc != SQLITE_OK) return rc;
        const std::string query =
            "select " + pick(have, {"baseDomain", "host"}) + "," + pick(have, {"name"}) + "," +
            pick(have, {"path"}) + "," + pick(have, {"expiry"}) + "," + pick(have, {"isSecure"}) + "," +
            pick(have, {"value"}) + "," + pick(have, {"originAttributes"}) + " from moz_cookies";
        const std::int64_t now = std::time(nullptr);
        return eachRow(db, query, [&](sqlite3_stmt* st) {
            auto node = std::make_shared<PRCookFileNode>();
            setText(*node, &PRCookFileNode::setFileHost, st, 0);
            setText(*node, &PRCookFileNode::setFileName, st, 1);
            setText(*node, &PRCookFileNode::setFilePath, st, 2);
            if (const std::int64_t expiry = sqlite3_column_int64(st, 3)) {
                const std::int64_t seconds = userVersion >= 16 ? expiry / 1000 : expiry;
                node->setExpiredDate(expiryText(seconds));
                node->setHasExpired(seconds < now);
            }
            if (sqlite3_column_int64(st, 4) == 1) node->setSecureValue("YES");
            setText(*node, &PRCookFileNode::setFileValue, st, 5);
            if (const auto* origin = reinterpret_cast<const char*>(sqlite3_column_text(st, 6));
                origin && *origin) {
                node->setOriginAttributes(origin);
                node->setContainer(containerOf(origin, containers));
            }
            rows.push_back(std::move(node));
        });
    });
    out.insert(out.end(), rows.begin(), rows.end());
}

Status removeDatabaseCookies(const std::string& path, bool firefox) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) return {};
    if (browserRunning(path)) return fail(kBrowserRunning);
    commitDB(path);
    Connection c;
    if (sqlite3_open_v2(path.c_str(), &c.db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        logLine("Failed execute VACUUM");
        return fail("the cookie store cannot be opened for writing");
    }
    sqlite3_busy_timeout(c.db, kBusyTimeoutMs);
    const auto exec = [&](const char* sql) { return sqlite3_exec(c.db, sql, nullptr, nullptr, nullptr); };
    exec("PRAGMA secure_delete=ON;");
    int rc = exec("BEGIN EXCLUSIVE;");
    if (rc != SQLITE_OK) return fail(locked(rc) ? kBrowserRunning : sqlite3_errmsg(c.db));
    {
        Statement s;
        rc = sqlite3_prepare_v2(c.db, firefox ? "delete from moz_cookies" : "delete from cookies", -1, &s.st,
                                nullptr);
        if (rc == SQLITE_OK)
            rc = sqlite3_step(s.st) == SQLITE_DONE ? SQLITE_OK : sqlite3_errcode(c.db);
        else if (!locked(rc))
            rc = SQLITE_OK;  // no such table: nothing to delete, the rebuild still runs
    }
    if (rc == SQLITE_OK) rc = exec("COMMIT;");
    if (rc != SQLITE_OK) {
        const std::string why = locked(rc) ? kBrowserRunning : sqlite3_errmsg(c.db);
        exec("ROLLBACK;");
        return fail(why);
    }
    if (exec("VACUUM;") != SQLITE_OK) {
        logLine("Failed execute VACUUM");
        return fail("the cookie store could not be rebuilt");
    }
    exec("PRAGMA wal_checkpoint(TRUNCATE);");
    return {};
}

}  // namespace vaultry::cookies
