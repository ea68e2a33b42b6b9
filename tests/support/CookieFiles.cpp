#include "support/CookieFiles.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <climits>

namespace vaultry::test {

int endedPid() {
    const pid_t pid = ::fork();
    if (pid == 0) ::_exit(0);
    ::waitpid(pid, nullptr, 0);
    return pid;
}

std::string hostName() {
    char name[HOST_NAME_MAX + 1] = {};
    ::gethostname(name, sizeof name - 1);
    return name;
}

void sql(const std::filesystem::path& db, const std::string& statements) {
    sqlite3* h = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &h), SQLITE_OK);
    char* err = nullptr;
    const int rc = sqlite3_exec(h, statements.c_str(), nullptr, nullptr, &err);
    EXPECT_EQ(rc, SQLITE_OK) << (err ? err : "");
    sqlite3_free(err);
    sqlite3_close(h);
}

void makeChromeDb(const std::filesystem::path& db, bool current) {
    if (current) {
        sql(db,
            "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
            "INSERT INTO meta VALUES('version','24'),('last_compatible_version','24');"
            "CREATE TABLE cookies(creation_utc INTEGER NOT NULL,host_key TEXT NOT NULL,top_frame_site_key "
            "TEXT NOT "
            "NULL,name TEXT NOT NULL,value TEXT NOT NULL,encrypted_value BLOB NOT NULL,path TEXT NOT NULL,"
            "expires_utc INTEGER NOT NULL,is_secure INTEGER NOT NULL,is_httponly INTEGER NOT "
            "NULL,last_access_utc "
            "INTEGER NOT NULL,has_expires INTEGER NOT NULL,is_persistent INTEGER NOT NULL,priority INTEGER "
            "NOT "
            "NULL,samesite INTEGER NOT NULL,source_scheme INTEGER NOT NULL,source_port INTEGER NOT NULL,"
            "last_update_utc INTEGER NOT NULL,source_type INTEGER NOT NULL,has_cross_site_ancestor INTEGER "
            "NOT "
            "NULL);"
            "CREATE UNIQUE INDEX cookies_unique_index ON cookies(host_key, top_frame_site_key, "
            "has_cross_site_ancestor, name, path, source_scheme, source_port);");
    } else {
        sql(db,
            "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
            "INSERT INTO meta VALUES('version','9'),('last_compatible_version','9');"
            "CREATE TABLE cookies (creation_utc INTEGER NOT NULL UNIQUE PRIMARY KEY,host_key TEXT NOT "
            "NULL,name "
            "TEXT NOT NULL,value TEXT NOT NULL,path TEXT NOT NULL,expires_utc INTEGER NOT NULL,secure "
            "INTEGER NOT "
            "NULL,httponly INTEGER NOT NULL,last_access_utc INTEGER NOT NULL, has_expires INTEGER NOT NULL "
            "DEFAULT "
            "1, persistent INTEGER NOT NULL DEFAULT 1,priority INTEGER NOT NULL DEFAULT 1,encrypted_value "
            "BLOB "
            "DEFAULT '',firstpartyonly INTEGER NOT NULL DEFAULT 0);");
    }
}

void makeFirefoxDb(const std::filesystem::path& db, bool current) {
    if (current) {
        sql(db,
            "PRAGMA user_version=16;"
            "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '', "
            "name "
            "TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime "
            "INTEGER, "
            "isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER "
            "DEFAULT 0, "
            "schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0, CONSTRAINT "
            "moz_uniqueid "
            "UNIQUE (name, host, path, originAttributes));");
    } else {
        sql(db,
            "PRAGMA user_version=9;"
            "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, baseDomain TEXT, originAttributes TEXT NOT "
            "NULL "
            "DEFAULT '', name TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, "
            "creationTime INTEGER, isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, "
            "sameSite INTEGER DEFAULT 0, CONSTRAINT moz_uniqueid UNIQUE (name, host, path, "
            "originAttributes));");
    }
}

}  // namespace vaultry::test
