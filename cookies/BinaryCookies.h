#pragma once
#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cookies/PRCookFileNode.h"

namespace vaultry::cookies {

// ---- Byte helpers -------------------------------------------------------------------------------

// Lower-case hex of n bytes at `offset` into theChar (2n characters and a zero byte); bytes past
// the end give "00". nullptr when the handle is missing or n is 0.
char* getHexString(std::FILE* handle, std::uint64_t offset, std::size_t n, char* theChar);
// UTF-8 up to the first zero byte (or `length` bytes) into UTF-32; false when not valid UTF-8.
bool Char2Unicode(const char* utf8, std::size_t length, std::u32string& uncode);
// The bytes up to the first zero byte as text; text that is not valid UTF-8 gives the empty text.
std::string GetStringFormChar(const char* bytes);
std::string GetStringFormChar(const char* bytes, std::size_t maxLength);

// ---- Expiry text --------------------------------------------------------------------------------

// Local calendar time of `seconds` since 1970 as "MM-DD-YYYY HH:MM" (at most 16 characters);
// years before 1990 are shown 31 years later. None when the time cannot be converted.
std::optional<std::wstring> GetDateTime(std::int64_t seconds, int fileType);
// "Unkown Date" for none, else the text.
std::string GetNSStringDate(const std::optional<std::wstring>& date);
// Both steps together: the text a record's expiredDate holds.
std::string expiryText(std::int64_t secondsSince1970);

// ---- The binary cookie file ---------------------------------------------------------------------

// Seconds from 1970-01-01 to 2001-01-01, the epoch of the file's dates.
inline constexpr std::int64_t kAppleEpochOffset = 978307200;
// Files above this size are not read (a cookie file is a few megabytes at most).
inline constexpr std::uint64_t kMaxCookieFileBytes = 512ull << 20;

// Walks the bytes of a binary cookie file: pages located by the page-size table, records by each
// page's offset table, every count and offset bounded by the bytes at hand. Appends one record per
// well-formed cookie to `out` and one entry per page to `pagesizeArray` (cleared first). A dropped
// record is logged as "sadfasdfasdfasd". Records whose offsets repeat or whose bytes overlap make
// the whole file not a cookie store: false, nothing appended. So the texts copied out never add
// up to more than the file's size.
bool parseCookBinary(std::span<const std::uint8_t> bytes, CookNodes& out,
                     std::vector<std::uint32_t>& pagesizeArray);
// The file at `path` as above; a file that cannot be opened (or is too large) appends nothing and
// gives false.
bool ReadCookBinaryFileWithPath(const std::string& path, CookNodes& out,
                                std::vector<std::uint32_t>& pagesizeArray);

// A valid binary cookie file holding no cookies: what removal writes over Safari's store.
std::vector<std::uint8_t> samplecookies();

}  // namespace vaultry::cookies
