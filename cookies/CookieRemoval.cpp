#include "cookies/CookieRemoval.h"

#include <sqlite3.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "cookies/BinaryCookies.h"
#include "cookies/BrowserLock.h"
#include "cookies/CookieDatabase.h"
#include "util/AtomicFile.h"
#include "util/Log.h"

namespace fs = std::filesystem;

namespace vaultry::cookies {
namespace {

constexpr int kBusyTimeoutMs = 200;

bool locked(int rc) { return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED; }

std::string columnText(sqlite3_value* v) {
    const auto* t = reinterpret_cast<const char*>(sqlite3_value_text(v));
    return t ? std::string(t, static_cast<std::size_t>(sqlite3_value_bytes(v))) : std::string();
}

// doomed(host, name, path, originAttributes): the plan's verdict on one row, for DELETE … WHERE.
void doomedFunction(sqlite3_context* ctx, int, sqlite3_value** argv) {
    const auto* plan = static_cast<const RemovalPlan*>(sqlite3_user_data(ctx));
    const CookieKey key{columnText(argv[0]), columnText(argv[1]), columnText(argv[2]), columnText(argv[3])};
    sqlite3_result_int(ctx, doomed(*plan, key) ? 1 : 0);
}

std::set<std::string> columns(sqlite3* db, const char* table) {
    std::set<std::string> names;
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, (std::string("PRAGMA table_info(") + table + ")").c_str(), -1, &st, nullptr) ==
        SQLITE_OK)
        while (sqlite3_step(st) == SQLITE_ROW)
            if (const auto* n = sqlite3_column_text(st, 1)) names.insert(reinterpret_cast<const char*>(n));
    sqlite3_finalize(st);
    return names;
}

Status removeFromDatabase(const std::string& path, bool firefox, const RemovalPlan& plan) {
    if (browserRunning(path)) return fail(kBrowserRunning);
    sqlite3* db = nullptr;
    const auto close = [&] { sqlite3_close(db); };
    if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK) {
        close();
        return fail("the cookie store cannot be opened for writing");
    }
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    const auto exec = [&](const std::string& sql) {
        return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    };
    const char* table = firefox ? "moz_cookies" : "cookies";
    const auto have = columns(db, table);
    if (have.empty()) {
        close();
        return {};  // no cookie table: nothing to remove
    }
    const auto col = [&](std::initializer_list<const char*> names) -> std::string {
        for (const char* n : names)
            if (have.count(n)) return n;
        return "''";
    };
    const std::string where = "vaultry_doomed(" +
                              (firefox ? col({"baseDomain", "host"}) : col({"host_key"})) + "," +
                              col({"name"}) + "," + col({"path"}) + "," +
                              (firefox ? col({"originAttributes"}) : std::string("''")) + ")";
    // The function lives on this connection only; the store's schema does not mention it.
    sqlite3_create_function(db, "vaultry_doomed", 4, SQLITE_UTF8, const_cast<RemovalPlan*>(&plan),
                            doomedFunction, nullptr, nullptr);
    exec("PRAGMA secure_delete=ON;");
    int rc = exec("BEGIN EXCLUSIVE;");
    if (rc == SQLITE_OK) rc = exec(std::string("DELETE FROM ") + table + " WHERE " + where + ";");
    if (rc == SQLITE_OK) rc = exec("COMMIT;");
    if (rc != SQLITE_OK) {
        const std::string why = locked(rc) ? kBrowserRunning : sqlite3_errmsg(db);
        exec("ROLLBACK;");
        close();
        return fail(why);
    }
    if (exec("VACUUM;") != SQLITE_OK) logLine("Failed execute VACUUM");
    exec("PRAGMA wal_checkpoint(TRUNCATE);");
    close();
    return {};
}

void putBE(std::string& s, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
}
void putLE(std::string& s, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}

// A binary cookie file of one page holding the given records, byte for byte as they were.
std::string binaryFileOf(const std::vector<std::string>& records) {
    std::string page;
    putBE(page, 0x100);
    putLE(page, static_cast<std::uint32_t>(records.size()));
    std::size_t at = 8 + 4 * records.size() + 4;
    for (const auto& r : records) {
        putLE(page, static_cast<std::uint32_t>(at));
        at += r.size();
    }
    putLE(page, 0);
    for (const auto& r : records) page += r;
    std::uint32_t checksum = 0;
    for (std::size_t i = 0; i < page.size(); i += 4) checksum += static_cast<std::uint8_t>(page[i]);
    std::string file = "cook";
    putBE(file, 1);
    putBE(file, static_cast<std::uint32_t>(page.size()));
    file += page;
    putBE(file, checksum);
    file += std::string("\x07\x17\x20\x05\0\0\0\0", 8);
    return file;
}

Status removeFromBinary(const std::string& path, const RemovalPlan& plan) {
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    CookNodes nodes;
    std::vector<std::uint32_t> pages;
    parseCookBinary({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, nodes, pages);
    std::vector<std::string> kept;
    for (const auto& n : nodes) {
        if (doomed(plan, keyOf(*n))) continue;
        const std::uint64_t at = n->cookieStartOffSet();
        const auto length = static_cast<std::uint64_t>(n->cookieLength());
        if (at + length > bytes.size()) return fail("the cookie file is damaged");
        kept.push_back(bytes.substr(at, length));
    }
    if (kept.size() == nodes.size()) return {};
    if (kept.empty()) {
        const auto empty = samplecookies();
        return writeFileAtomically(
            path, std::string_view(reinterpret_cast<const char*>(empty.data()), empty.size()));
    }
    return writeFileAtomically(path, binaryFileOf(kept));
}

}  // namespace

CookieKey keyOf(const PRCookFileNode& node) {
    return {node.fileHost().value_or(""), node.fileName().value_or(""), node.filePath().value_or(""),
            node.originAttributes().value_or("")};
}

bool domainMatches(std::string_view host, std::string_view domain) {
    if (!host.empty() && host.front() == '.') host.remove_prefix(1);
    if (domain.empty() || host.size() < domain.size()) return false;
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    const auto tail = host.substr(host.size() - domain.size());
    if (!std::equal(tail.begin(), tail.end(), domain.begin(), domain.end(),
                    [&](char a, char b) { return lower(a) == lower(b); }))
        return false;
    return host.size() == domain.size() || host[host.size() - domain.size() - 1] == '.';
}

std::string normalizedDomain(std::string_view text) {
    if (const auto scheme = text.find("://"); scheme != std::string_view::npos)
        text.remove_prefix(scheme + 3);
    if (const auto slash = text.find('/'); slash != std::string_view::npos) text = text.substr(0, slash);
    std::string out;
    for (char c : text)
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r')
            out += c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    while (!out.empty() && out.front() == '.') out.erase(0, 1);
    while (!out.empty() && out.back() == '.') out.pop_back();
    return out;
}

bool doomed(const RemovalPlan& plan, const CookieKey& key) {
    for (const auto& d : plan.keep)
        if (domainMatches(key.host, d)) return false;
    if (plan.all) return true;
    for (const auto& d : plan.domains)
        if (domainMatches(key.host, d)) return true;
    return std::find(plan.rows.begin(), plan.rows.end(), key) != plan.rows.end();
}

Status removeCookies(const std::string& path, Layout layout, const RemovalPlan& plan) {
    std::error_code ec;
    if (path.empty() || !fs::is_regular_file(path, ec)) return {};
    if (layout == Layout::Binary) {
        if (plan.all && plan.keep.empty()) return removeStore(path, layout);
        return removeFromBinary(path, plan);
    }
    if (plan.all && plan.keep.empty()) return removeDatabaseCookies(path, layout == Layout::Firefox);
    return removeFromDatabase(path, layout == Layout::Firefox, plan);
}

}  // namespace vaultry::cookies
