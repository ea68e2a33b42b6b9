// Cookie readers: a generated binary cookie file and a Chrome-layout database of 100,000 cookies
// each, read by our readers and, for the database, by the sqlite3 command-line tool selecting the
// same columns in the same run. Prints cookies per second, MB/s and the ratio to sqlite3.
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cookies/BinaryCookies.h"
#include "cookies/CookieDatabase.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kCookies = 100000;
constexpr int kRounds = 5;

void le(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

std::string record(int i) {
    const std::string texts[4] = {".host" + std::to_string(i % 997) + ".example.com",
                                  "name" + std::to_string(i), "/",
                                  "value-" + std::to_string(i * 7919) + "-abcdefghijklmnop"};
    std::string r(56, '\0');
    le(r, 8, i % 2 ? 1 : 4);
    double expiry = 725760000.0 + i;
    std::memcpy(&r[40], &expiry, 8);
    for (int t = 0; t < 4; ++t) {
        le(r, 16 + 4 * t, static_cast<std::uint32_t>(r.size()));
        r += texts[t] + '\0';
    }
    le(r, 0, static_cast<std::uint32_t>(r.size()));
    return r;
}

std::string binaryFile() {
    std::vector<std::string> pages;
    for (int first = 0; first < kCookies; first += 100) {
        std::vector<std::string> recs;
        for (int i = first; i < first + 100; ++i) recs.push_back(record(i));
        std::string p("\0\0\1\0", 4);
        p.append(4, '\0');
        le(p, 4, static_cast<std::uint32_t>(recs.size()));
        std::size_t at = 8 + 4 * recs.size() + 4;
        for (const auto& r : recs) {
            p.append(4, '\0');
            le(p, p.size() - 4, static_cast<std::uint32_t>(at));
            at += r.size();
        }
        p.append(4, '\0');
        for (const auto& r : recs) p += r;
        pages.push_back(p);
    }
    std::string f = "cook";
    auto be = [&](std::uint32_t v) {
        for (int i = 3; i >= 0; --i) f += static_cast<char>(v >> (8 * i));
    };
    be(static_cast<std::uint32_t>(pages.size()));
    for (const auto& p : pages) be(static_cast<std::uint32_t>(p.size()));
    for (const auto& p : pages) f += p;
    return f;
}

void chromeDb(const fs::path& path) {
    sqlite3* db = nullptr;
    sqlite3_open(path.c_str(), &db);
    sqlite3_exec(
        db,
        "CREATE TABLE cookies(creation_utc INTEGER NOT NULL,host_key TEXT NOT NULL,top_frame_site_key TEXT "
        "NOT NULL,name TEXT NOT NULL,value TEXT NOT NULL,encrypted_value BLOB NOT NULL,path TEXT NOT NULL,"
        "expires_utc INTEGER NOT NULL,is_secure INTEGER NOT NULL,is_httponly INTEGER NOT NULL,"
        "last_access_utc INTEGER NOT NULL,has_expires INTEGER NOT NULL,is_persistent INTEGER NOT NULL,"
        "priority INTEGER NOT NULL,samesite INTEGER NOT NULL,source_scheme INTEGER NOT NULL,source_port "
        "INTEGER NOT NULL,last_update_utc INTEGER NOT NULL,source_type INTEGER NOT NULL,"
        "has_cross_site_ancestor INTEGER NOT NULL); BEGIN;"
        "WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i+1 FROM n WHERE i<99999) "
        "INSERT INTO cookies SELECT i,'.host'||(i%997)||'.example.com','','name'||i,'',"
        "randomblob(40),'/',13344473600000000+i,i%2,0,0,1,1,1,0,2,443,0,0,0 FROM n; COMMIT;",
        nullptr, nullptr, nullptr);
    sqlite3_close(db);
}

double seconds(Clock::time_point a, Clock::time_point b) {
    return std::chrono::duration<double>(b - a).count();
}

double runSqlite3(const fs::path& db) {
    const std::string query =
        "select host_key,name,path,expires_utc,is_secure,has_expires,hex(encrypted_value) from cookies";
    std::vector<std::string> args = {"sqlite3", db.string(), query};
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, "sqlite3", &actions, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    posix_spawn_file_actions_destroy(&actions);
    return seconds(t0, Clock::now());
}

}  // namespace

int main() {
    const fs::path dir = fs::temp_directory_path() / ("vaultry-bench-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const fs::path bin = dir / "Cookies.binarycookies";
    { std::ofstream(bin, std::ios::binary) << binaryFile(); }
    const double mb = static_cast<double>(fs::file_size(bin)) / 1e6;
    double best = 1e9;
    std::size_t count = 0;
    for (int r = 0; r < kRounds; ++r) {
        vaultry::CookNodes out;
        std::vector<std::uint32_t> pages;
        const auto t0 = Clock::now();
        vaultry::cookies::ReadCookBinaryFileWithPath(bin.string(), out, pages);
        best = std::min(best, seconds(t0, Clock::now()));
        count = out.size();
    }
    std::printf("binary reader: %zu cookies, %.2f MB in %.3f s: %.0f cookies/s, %.1f MB/s\n", count, mb, best,
                count / best, mb / best);

    const fs::path db = dir / "Cookies";
    chromeDb(db);
    const double dbMb = static_cast<double>(fs::file_size(db)) / 1e6;
    double ours = 1e9, peer = 1e9;
    for (int r = 0; r < kRounds; ++r) {
        vaultry::CookNodes out;
        const auto t0 = Clock::now();
        vaultry::cookies::ReadCookDatabaseFileWithPath(db.string(), out);
        ours = std::min(ours, seconds(t0, Clock::now()));
        count = out.size();
        peer = std::min(peer, runSqlite3(db));
    }
    std::printf("chrome reader: %zu cookies, %.2f MB in %.3f s: %.0f cookies/s, %.1f MB/s\n", count, dbMb,
                ours, count / ours, dbMb / ours);
    std::printf("sqlite3 tool, same columns: %.3f s; ratio ours/sqlite3 = %.2f\n", peer, ours / peer);
    fs::remove_all(dir);
}
