#include "cookies/BinaryCookies.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>

#include "util/Log.h"

namespace vaultry::cookies {
namespace {

// Reads up to `length` bytes at `offset`; the rest of `out` is zero-filled.
void readZeroFilled(std::FILE* handle, std::uint64_t offset, std::uint8_t* out, std::size_t length) {
    std::memset(out, 0, length);
    if (::fseeko(handle, static_cast<off_t>(offset), SEEK_SET) != 0) return;
    (void)std::fread(out, 1, length, handle);
}

void appendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// A read-only view of the file in memory; everything past the end reads as zero.
class FileView {
public:
    explicit FileView(std::span<const std::uint8_t> b) : b_(b) {}
    std::uint64_t size() const { return b_.size(); }
    std::uint8_t at(std::uint64_t i) const { return i < b_.size() ? b_[i] : 0; }
    std::uint32_t be32(std::uint64_t i) const {
        return std::uint32_t(at(i)) << 24 | std::uint32_t(at(i + 1)) << 16 | std::uint32_t(at(i + 2)) << 8 |
               at(i + 3);
    }
    std::uint32_t le32(std::uint64_t i) const {
        return std::uint32_t(at(i + 3)) << 24 | std::uint32_t(at(i + 2)) << 16 |
               std::uint32_t(at(i + 1)) << 8 | at(i);
    }
    std::uint64_t le64(std::uint64_t i) const { return std::uint64_t(le32(i + 4)) << 32 | le32(i); }
    const char* ptr(std::uint64_t i) const { return reinterpret_cast<const char*>(b_.data() + i); }

private:
    std::span<const std::uint8_t> b_;
};

constexpr std::uint32_t kRecordHeader = 56;

// One record at S, which must end by `limit` (its page's end, within the file). Null when the
// record is malformed.
std::shared_ptr<PRCookFileNode> readRecord(const FileView& f, std::uint64_t S, std::uint64_t limit) {
    const auto size = static_cast<std::int32_t>(f.le32(S));
    if (S >= limit || size <= 0) return nullptr;
    const std::uint64_t end = std::min<std::uint64_t>(S + static_cast<std::uint64_t>(size), limit);
    auto node = std::make_shared<PRCookFileNode>();
    node->setCookieStartOffSet(S);
    node->setCookieLength(size);
    const std::uint32_t flags = f.le32(S + 8);
    node->setCookieFlags(flags);
    if (flags & 1u) node->setSecureValue("YES");

    std::uint32_t offsets[4];  // domain, name, path, value
    std::uint64_t spanEnd[4];  // past each text's zero byte, or the record's end without one
    std::string texts[4];
    for (int i = 0; i < 4; ++i) offsets[i] = f.le32(S + 16 + 4 * static_cast<std::uint64_t>(i));
    for (int i = 0; i < 4; ++i) {
        const std::uint64_t from = S + offsets[i];
        // Every text starts past the header and inside the record, and the texts do not overlap
        // (a text without its zero byte runs to the record's end and covers every text after
        // it): together they are never longer than the record.
        if (offsets[i] < kRecordHeader || from >= end) return nullptr;
        const void* zero = std::memchr(f.ptr(from), 0, end - from);
        spanEnd[i] =
            zero ? from + static_cast<std::uint64_t>(static_cast<const char*>(zero) - f.ptr(from)) + 1 : end;
        for (int j = 0; j < i; ++j)
            if (S + offsets[j] < spanEnd[i] && from < spanEnd[j]) return nullptr;
    }
    for (int i = 0; i < 4; ++i)
        texts[i] = GetStringFormChar(f.ptr(S + offsets[i]), spanEnd[i] - (S + offsets[i]));
    node->setTexts(std::move(texts[0]), std::move(texts[1]), std::move(texts[2]), std::move(texts[3]));

    // The expiry: a double at S + 40, seconds since 2001-01-01 UTC.
    if (S + 48 <= end) {
        const double d = std::bit_cast<double>(f.le64(S + 40));
        if (d != 0) {
            if (std::isfinite(d) && std::fabs(d) < 1e13) {
                const std::int64_t seconds = static_cast<std::int64_t>(std::floor(d)) + kAppleEpochOffset;
                node->setExpiredDate(expiryText(seconds));
                node->setHasExpired(seconds < std::time(nullptr));
            } else
                node->setExpiredDate(GetNSStringDate(std::nullopt));
        }
    }
    return node;
}

}  // namespace

char* getHexString(std::FILE* handle, std::uint64_t offset, std::size_t n, char* theChar) {
    if (!handle || n == 0 || !theChar) return nullptr;
    static const char digits[] = "0123456789abcdef";
    std::vector<std::uint8_t> bytes(n);
    readZeroFilled(handle, offset, bytes.data(), n);
    for (std::size_t i = 0; i < n; ++i) {
        theChar[2 * i] = digits[bytes[i] >> 4];
        theChar[2 * i + 1] = digits[bytes[i] & 15];
    }
    theChar[2 * n] = '\0';
    return theChar;
}

bool Char2Unicode(const char* utf8, std::size_t length, std::u32string& uncode) {
    uncode.clear();
    const auto* s = reinterpret_cast<const unsigned char*>(utf8);
    std::size_t i = 0;
    while (i < length && s[i] != 0) {
        const unsigned char c = s[i];
        char32_t cp;
        int extra;
        if (c < 0x80) {
            cp = c, extra = 0;
        } else if (c >= 0xC2 && c <= 0xDF) {
            cp = c & 0x1F, extra = 1;
        } else if (c >= 0xE0 && c <= 0xEF) {
            cp = c & 0x0F, extra = 2;
        } else if (c >= 0xF0 && c <= 0xF4) {
            cp = c & 0x07, extra = 3;
        } else {
            return false;
        }
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= length || (s[i + k] & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (s[i + k] & 0x3F);
        }
        if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
            (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        uncode.push_back(cp);
        i += static_cast<std::size_t>(extra) + 1;
    }
    return true;
}

std::string GetStringFormChar(const char* bytes, std::size_t maxLength) {
    if (!bytes) return {};
    const void* zero = std::memchr(bytes, 0, maxLength);
    const std::size_t length =
        zero ? static_cast<std::size_t>(static_cast<const char*>(zero) - bytes) : maxLength;
    if (std::all_of(bytes, bytes + length, [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return std::string(bytes, length);
    std::u32string wide;
    if (!Char2Unicode(bytes, length, wide)) return {};
    std::string out;
    out.reserve(length);
    for (char32_t c : wide) appendUtf8(out, c);
    return out;
}

std::string GetStringFormChar(const char* bytes) {
    return bytes ? GetStringFormChar(bytes, std::strlen(bytes)) : std::string();
}

std::optional<std::wstring> GetDateTime(std::int64_t seconds, int /*fileType*/) {
    const auto t = static_cast<std::time_t>(seconds);
    std::tm tm{};
    if (!::localtime_r(&t, &tm)) return std::nullopt;
    int year = tm.tm_year + 1900;
    if (year < 1990) year += 31;  // only the year moves; the date is not normalised again
    char buf[64];
    std::snprintf(buf, sizeof buf, "%02d-%02d-%04d %02d:%02d", tm.tm_mon + 1, tm.tm_mday, year, tm.tm_hour,
                  tm.tm_min);
    buf[16] = '\0';
    return std::wstring(buf, buf + std::strlen(buf));
}

std::string GetNSStringDate(const std::optional<std::wstring>& date) {
    if (!date) return "Unkown Date";
    std::string out;
    for (wchar_t c : *date) appendUtf8(out, static_cast<char32_t>(c));
    return out;
}

std::string expiryText(std::int64_t secondsSince1970) {
    // The same text as GetNSStringDate(GetDateTime(s, 0)), without the wide detour: readers call
    // this once per cookie.
    const auto t = static_cast<std::time_t>(secondsSince1970);
    std::tm tm{};
    if (!::localtime_r(&t, &tm)) return GetNSStringDate(std::nullopt);
    int year = tm.tm_year + 1900;
    if (year < 1990) year += 31;
    if (year < 0 || year > 9999) return GetNSStringDate(GetDateTime(secondsSince1970, 0));
    char buf[16];
    const auto two = [](char* at, int v) {
        at[0] = static_cast<char>('0' + v / 10);
        at[1] = static_cast<char>('0' + v % 10);
    };
    two(buf, tm.tm_mon + 1);
    buf[2] = '-';
    two(buf + 3, tm.tm_mday);
    buf[5] = '-';
    two(buf + 6, year / 100);
    two(buf + 8, year % 100);
    buf[10] = ' ';
    two(buf + 11, tm.tm_hour);
    buf[13] = ':';
    two(buf + 14, tm.tm_min);
    return std::string(buf, sizeof buf);
}

bool parseCookBinary(std::span<const std::uint8_t> bytes, CookNodes& out,
                     std::vector<std::uint32_t>& pagesizeArray) {
    pagesizeArray.clear();
    const FileView f(bytes);
    const auto N = static_cast<std::int32_t>(f.be32(4));
    if (N <= 0) return true;
    const std::size_t first = out.size();
    const auto refuse = [&] {
        out.resize(first);
        pagesizeArray.clear();
        logLine("not a cookie store: repeated or overlapping records");
        return false;
    };
    // The page-size table cannot be longer than the file.
    const std::uint64_t tableRoom = f.size() > 8 ? (f.size() - 8) / 4 : 0;
    const std::uint64_t pages = std::min<std::uint64_t>(static_cast<std::uint64_t>(N), tableRoom);
    pagesizeArray.reserve(pages);
    for (std::uint64_t i = 0; i < pages; ++i) pagesizeArray.push_back(f.be32(8 + 4 * i));

    std::uint64_t P = 8 + 4 * pages;
    for (std::uint64_t i = 0; i < pagesizeArray.size() && P < f.size(); P += pagesizeArray[i], ++i) {
        const std::uint64_t pageEnd = std::min<std::uint64_t>(P + pagesizeArray[i], f.size());
        if (pageEnd < P + 8) continue;
        const auto n = static_cast<std::int32_t>(f.le32(P + 4));
        if (n <= 0) continue;
        const std::uint64_t records =
            std::min<std::uint64_t>(static_cast<std::uint64_t>(n), (pageEnd - P - 8) / 4);
        // The bytes each record covers, by start: a record is read once, and no two share bytes,
        // so the texts copied out are never more than the file holds.
        std::map<std::uint64_t, std::uint64_t> taken;
        for (std::uint64_t j = 0; j < records; ++j) {
            const std::uint32_t offset = f.le32(P + 8 + 4 * j);
            const std::uint64_t S = P + offset;
            if (offset >= 8 && S < pageEnd) {
                const auto size = static_cast<std::int32_t>(f.le32(S));
                const std::uint64_t end =
                    size > 0 ? std::min<std::uint64_t>(S + static_cast<std::uint64_t>(size), pageEnd) : S + 1;
                const auto next = taken.lower_bound(S);
                if (next != taken.end() && next->first < end) return refuse();
                if (next != taken.begin() && std::prev(next)->second > S) return refuse();
                taken.emplace(S, end);
            }
            auto node = offset >= 8 ? readRecord(f, S, pageEnd) : nullptr;
            if (node)
                out.push_back(std::move(node));
            else
                logLine("sadfasdfasdfasd");
        }
    }
    return true;
}

bool ReadCookBinaryFileWithPath(const std::string& path, CookNodes& out,
                                std::vector<std::uint32_t>& pagesizeArray) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    if (size < 0) return false;
    if (static_cast<std::uint64_t>(size) > kMaxCookieFileBytes) {
        logLine("cookie file too large: " + path);
        pagesizeArray.clear();
        return false;
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(size));
    in.seekg(0);
    if (!in.read(reinterpret_cast<char*>(bytes.data()), size)) return false;
    return parseCookBinary(bytes, out, pagesizeArray);
}

std::vector<std::uint8_t> samplecookies() {
    return {
        'c',  'o',  'o',  'k',                           // signature
        0,    0,    0,    1,                             // one page
        0,    0,    0,    12,                            // of 12 bytes
        0,    0,    1,    0,    0, 0, 0, 0, 0, 0, 0, 0,  // page header, no records, page footer
        0,    0,    0,    0,                             // checksum of the page
        0x07, 0x17, 0x20, 0x05,                          // trailer
    };
}

}  // namespace vaultry::cookies
