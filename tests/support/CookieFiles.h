#pragma once
// Builders of cookie stores for tests: Safari binary files and browser databases in the layouts
// the browsers write.
#include <sqlite3.h>

#include <array>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cookies/ChromiumCrypto.h"

namespace vaultry::test {

struct BinaryCookie {
    std::string domain, name, path, value;
    std::uint32_t flags = 0;
    double expiry = 0;                        // seconds since 2001-01-01
    std::array<int, 4> order = {0, 1, 2, 3};  // where each text goes: domain, name, path, value
};

inline void putLE(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}
inline void appendLE(std::string& s, std::uint32_t v) {
    s.append(4, '\0');
    putLE(s, s.size() - 4, v);
}
inline void appendBE(std::string& s, std::uint32_t v) {
    for (int i = 3; i >= 0; --i) s += static_cast<char>(v >> (8 * i));
}

inline std::string binaryRecord(const BinaryCookie& c) {
    std::string r(56, '\0');
    putLE(r, 8, c.flags);
    std::uint64_t bits;
    std::memcpy(&bits, &c.expiry, 8);
    putLE(r, 40, static_cast<std::uint32_t>(bits));
    putLE(r, 44, static_cast<std::uint32_t>(bits >> 32));
    const std::string* texts[4] = {&c.domain, &c.name, &c.path, &c.value};
    for (int slot = 0; slot < 4; ++slot)
        for (int t = 0; t < 4; ++t)
            if (c.order[t] == slot) {
                putLE(r, 16 + 4 * t, static_cast<std::uint32_t>(r.size()));
                r += *texts[t];
                r += '\0';
            }
    putLE(r, 0, static_cast<std::uint32_t>(r.size()));
    return r;
}

// A page whose records follow its offset table; `gap` bytes of padding before each record.
inline std::string binaryPage(const std::vector<std::string>& records, std::size_t gap = 0) {
    std::string p;
    appendBE(p, 0x100);
    appendLE(p, static_cast<std::uint32_t>(records.size()));
    std::size_t at = 8 + 4 * records.size() + 4;
    for (const auto& r : records) {
        appendLE(p, static_cast<std::uint32_t>(at + gap));
        at += gap + r.size();
    }
    appendLE(p, 0);
    for (const auto& r : records) p += std::string(gap, '\x7f') + r;
    return p;
}

inline std::string binaryFile(const std::vector<std::string>& pages) {
    std::string f = "cook";
    appendBE(f, static_cast<std::uint32_t>(pages.size()));
    for (const auto& p : pages) appendBE(f, static_cast<std::uint32_t>(p.size()));
    for (const auto& p : pages) f += p;
    f += std::string("\0\0\0\0\x07\x17\x20\x05", 8);
    return f;
}

// Runs SQL on a database file, failing the test on error.
void sql(const std::filesystem::path& db, const std::string& statements);

// Chrome: the current layout (is_secure, top_frame_site_key, …, meta version 24) or the old one
// (secure, httponly, no encrypted_value order change).
void makeChromeDb(const std::filesystem::path& db, bool current);
// Firefox: before 2020 (baseDomain and host, expiry in seconds, user_version 9) or today's
// (host only, expiry in milliseconds, user_version 16).
void makeFirefoxDb(const std::filesystem::path& db, bool current);

// The number of a process that has ended, and this host's name: a browser's lock link made of
// them is what a killed browser leaves behind.
int endedPid();
std::string hostName();

// A keyring of the Secret Service with the given items; it notes each name it is asked for.
class FakeKeyring : public cookies::SafeStorage {
public:
    std::map<std::string, std::string> items;
    std::vector<std::string> asked;
    std::optional<std::string> password(const std::string& name) override {
        asked.push_back(name);
        const auto it = items.find(name);
        return it == items.end() ? std::nullopt : std::optional(it->second);
    }
};

// Lower-case hex of bytes, as SQL blob literals take them.
inline std::string hex(const std::vector<std::uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (auto b : bytes) out += {digits[b >> 4], digits[b & 15]};
    return out;
}

}  // namespace vaultry::test
