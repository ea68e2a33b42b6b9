// Every profile of a home: 5 profiles (two of Chrome, Snap Chromium, two of Firefox) of 10,000
// cookies each, Chromium values encrypted as the browser writes them (v10, host digest). Times
// finding the profiles and reading every one, values decrypted, beside the sqlite3 command-line
// tool reading the same rows of the same stores in the same run.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cookies/ChromiumCrypto.h"
#include "cookies/Profiles.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCookies = 10000;
constexpr int kRounds = 5;

class RootPaths : public vaultry::platform::Paths {
public:
    explicit RootPaths(fs::path root) : root_(std::move(root)) {}
    fs::path home() const override { return root_; }
    std::string userName() const override { return "bench"; }
    fs::path desktop() const override { return root_ / "Desktop"; }
    fs::path documents() const override { return root_ / "Documents"; }
    fs::path downloads() const override { return root_ / "Downloads"; }
    fs::path configHome() const override { return root_ / ".config"; }
    fs::path dataHome() const override { return root_ / ".local/share"; }
    fs::path trash() const override { return dataHome() / "Trash"; }

private:
    fs::path root_;
};

// No keyring: the stores hold v10 values only, so it is never asked.
class NoKeyring : public vaultry::cookies::SafeStorage {
public:
    std::optional<std::string> password(const std::string&) override { return std::nullopt; }
};

void exec(sqlite3* db, const char* sql) { sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }

void chromeStore(const fs::path& path, int seed) {
    fs::create_directories(path.parent_path());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    exec(db,
         "CREATE TABLE meta(key LONGVARCHAR NOT NULL UNIQUE PRIMARY KEY, value LONGVARCHAR);"
         "INSERT INTO meta VALUES('version','24');"
         "CREATE TABLE cookies(creation_utc INTEGER NOT NULL,host_key TEXT NOT NULL,top_frame_site_key TEXT "
         "NOT NULL,name TEXT NOT NULL,value TEXT NOT NULL,encrypted_value BLOB NOT NULL,path TEXT NOT NULL,"
         "expires_utc INTEGER NOT NULL,is_secure INTEGER NOT NULL,is_httponly INTEGER NOT NULL,"
         "last_access_utc INTEGER NOT NULL,has_expires INTEGER NOT NULL,is_persistent INTEGER NOT NULL,"
         "priority INTEGER NOT NULL,samesite INTEGER NOT NULL,source_scheme INTEGER NOT NULL,source_port "
         "INTEGER NOT NULL,last_update_utc INTEGER NOT NULL,source_type INTEGER NOT NULL,"
         "has_cross_site_ancestor INTEGER NOT NULL); BEGIN;");
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(
        db, "INSERT INTO cookies VALUES(?,?,'',?,'',?,'/',13344473600000000,1,0,0,1,1,1,0,2,443,0,0,0)", -1,
        &st, nullptr);
    for (int i = 0; i < kCookies; ++i) {
        const std::string host = ".host" + std::to_string((i + seed) % 997) + ".example.com";
        const std::string name = "name" + std::to_string(i);
        const auto blob = vaultry::cookies::chromiumEncrypt(
            "value-" + std::to_string(i * 7919) + "-abcdefghijklmnop", "v10", "peanuts", host, true);
        sqlite3_bind_int(st, 1, i);
        sqlite3_bind_text(st, 2, host.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(st, 3, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_blob(st, 4, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT);
        sqlite3_step(st);
        sqlite3_reset(st);
    }
    sqlite3_finalize(st);
    exec(db, "COMMIT;");
    sqlite3_close(db);
}

void firefoxStore(const fs::path& path, int seed) {
    fs::create_directories(path.parent_path());
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    exec(
        db,
        "PRAGMA user_version=16;"
        "CREATE TABLE moz_cookies (id INTEGER PRIMARY KEY, originAttributes TEXT NOT NULL DEFAULT '', name "
        "TEXT, value TEXT, host TEXT, path TEXT, expiry INTEGER, lastAccessed INTEGER, creationTime INTEGER, "
        "isSecure INTEGER, isHttpOnly INTEGER, inBrowserElement INTEGER DEFAULT 0, sameSite INTEGER DEFAULT "
        "0, "
        "schemeMap INTEGER DEFAULT 0, isPartitionedAttributeSet INTEGER DEFAULT 0, CONSTRAINT moz_uniqueid "
        "UNIQUE (name, host, path, originAttributes));");
    const std::string insert =
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<" +
        std::to_string(kCookies - 1) +
        ") INSERT INTO moz_cookies(originAttributes,name,value,host,path,expiry,isSecure) SELECT "
        "CASE WHEN i%10=0 THEN '^userContextId=1' ELSE '' "
        "END,'name'||i,'value-'||(i*7919)||'-abcdefghijklmnop',"
        "'.host'||((i+" +
        std::to_string(seed) + ")%997)||'.example.com','/',1767225600000,i%2 FROM n;";
    exec(db, insert.c_str());
    sqlite3_close(db);
}

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

bool runSqlite3(const std::string& db, const std::string& query) {
    std::vector<std::string> args = {"sqlite3", "-readonly", db, query};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const bool started = posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv.data(), environ) == 0;
    int status = 0;
    if (started) waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return started && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main() {
    const fs::path home =
        fs::temp_directory_path() / ("vaultry-profiles-bench-" + std::to_string(::getpid()));
    chromeStore(home / ".config/google-chrome/Default/Network/Cookies", 0);
    chromeStore(home / ".config/google-chrome/Profile 1/Network/Cookies", 1);
    chromeStore(home / "snap/chromium/common/chromium/Default/Network/Cookies", 2);
    const fs::path ff = home / ".mozilla/firefox";
    firefoxStore(ff / "a.default-release/cookies.sqlite", 3);
    firefoxStore(ff / "b.work/cookies.sqlite", 4);
    std::ofstream(ff / "profiles.ini")
        << "[Profile0]\nName=default-release\nPath=a.default-release\nDefault=1\n"
           "[Profile1]\nName=work\nPath=b.work\n";
    const RootPaths paths(home);
    NoKeyring keyring;

    double ours = 1e9, peer = 1e9;
    std::size_t profiles = 0, cookies = 0, encrypted = 0;
    for (int r = 0; r < kRounds; ++r) {
        const auto t0 = Clock::now();
        const auto found = vaultry::cookies::findProfiles(paths);
        std::size_t count = 0, locked = 0;
        for (const auto& p : found) {
            auto decryptor = vaultry::cookies::decryptorFor(keyring, p.browser);
            for (const auto& node : vaultry::cookies::readStore(p.store, p.layout, decryptor)) {
                ++count;
                locked += node->fileValue() == std::optional<std::string>(vaultry::cookies::kEncryptedValue);
            }
        }
        ours = std::min(ours, seconds(t0, Clock::now()));
        profiles = found.size();
        cookies = count;
        encrypted = locked;

        const auto t1 = Clock::now();
        for (const auto& p : found)
            if (!runSqlite3(p.store, p.layout == vaultry::cookies::Layout::Firefox
                                         ? "select host,name,path,expiry,isSecure,value,originAttributes "
                                           "from moz_cookies"
                                         : "select host_key,name,path,expires_utc,is_secure,has_expires,"
                                           "hex(encrypted_value) from cookies")) {
                std::fprintf(stderr, "sqlite3 could not be run\n");
                return 1;
            }
        peer = std::min(peer, seconds(t1, Clock::now()));
    }
    std::printf("every profile: %zu profiles, %zu cookies (%zu left encrypted) in %.3f s: %.0f cookies/s\n",
                profiles, cookies, encrypted, ours, cookies / ours);
    std::printf("sqlite3 tool, same rows (values not decrypted): %.3f s; ratio ours/sqlite3 = %.2f\n", peer,
                ours / peer);
    fs::remove_all(home);
}
