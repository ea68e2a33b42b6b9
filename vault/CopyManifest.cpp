#include "vault/CopyManifest.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "util/AtomicFile.h"
#include "vault/StorageLock.h"

namespace vaultry::vault {
namespace {

std::string why() { return std::strerror(errno); }

struct MdFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using Md = std::unique_ptr<EVP_MD_CTX, MdFree>;

void feed(EVP_MD_CTX* md, std::string_view bytes) {
    // The length first, so that no two sequences of fields hash alike.
    const std::uint64_t n = bytes.size();
    EVP_DigestUpdate(md, &n, sizeof n);
    EVP_DigestUpdate(md, bytes.data(), bytes.size());
}

Status feedFile(EVP_MD_CTX* md, const fs::path& file) {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return fail("cannot read " + file.string() + ": " + why());
    std::vector<char> buf(1 << 16);
    for (;;) {
        const ssize_t got = ::read(fd, buf.data(), buf.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            const std::string message = "cannot read " + file.string() + ": " + why();
            ::close(fd);
            return fail(message);
        }
        if (got == 0) break;
        EVP_DigestUpdate(md, buf.data(), static_cast<std::size_t>(got));
    }
    ::close(fd);
    return {};
}

Status feedEntry(EVP_MD_CTX* md, const fs::path& path, const std::string& rel) {
    std::error_code ec;
    const auto st = fs::symlink_status(path, ec);
    if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
    if (fs::is_symlink(st)) {
        feed(md, "l");
        feed(md, rel);
        feed(md, fs::read_symlink(path, ec).string());
        return {};
    }
    if (fs::is_directory(st)) {
        feed(md, "d");
        feed(md, rel);
        std::vector<std::string> names;
        for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            names.push_back(it->path().filename().string());
        if (ec) return fail("cannot list " + path.string() + ": " + ec.message());
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            if (auto st2 = feedEntry(md, path / name, rel.empty() ? name : rel + "/" + name); !st2)
                return st2;
        return {};
    }
    if (fs::is_regular_file(st)) {
        feed(md, "f");
        feed(md, rel);
        const std::uint64_t size = fs::file_size(path, ec);
        EVP_DigestUpdate(md, &size, sizeof size);
        return feedFile(md, path);
    }
    feed(md, "o");  // sockets, pipes, devices: their name only
    feed(md, rel);
    return {};
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char c : bytes) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

bool fromHex(std::string_view hex, std::string& out) {
    if (hex.size() % 2) return false;
    out.clear();
    out.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int hi = hexValue(hex[i]), lo = hexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) return false;
        out += static_cast<char>(hi * 16 + lo);
    }
    return true;
}

}  // namespace

Result<std::string> contentSha256(const fs::path& item) {
    Md md(EVP_MD_CTX_new());
    if (!md || EVP_DigestInit_ex(md.get(), EVP_sha256(), nullptr) != 1) return fail("cannot start a digest");
    if (auto st = feedEntry(md.get(), item, ""); !st) return st.error();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_DigestFinal_ex(md.get(), out, &len);
    return toHex(std::string_view(reinterpret_cast<const char*>(out), len));
}

CopyManifest CopyManifest::parse(std::string_view bytes) {
    CopyManifest m;
    while (!bytes.empty()) {
        const auto eol = bytes.find('\n');
        const std::string_view line = bytes.substr(0, eol);
        bytes.remove_prefix(eol == std::string_view::npos ? bytes.size() : eol + 1);
        const auto blank = line.find(' ');
        if (blank != 32 && blank != 64) continue;
        std::string_view rest = line.substr(blank + 1);
        const auto more = rest.find(' ');
        const std::string_view recordHex = rest.substr(0, more);
        std::string digest, record;
        if (!fromHex(line.substr(0, blank), digest) || !fromHex(recordHex, record) || record.empty())
            continue;
        Entry e{toHex(digest), std::nullopt};
        if (more != std::string_view::npos) e.identity = identityFromText(rest.substr(more + 1));
        m.entries_[std::move(record)] = std::move(e);
    }
    return m;
}

std::string CopyManifest::serialize() const {
    std::string out;
    for (const auto& [record, e] : entries_) {
        out += e.digest + ' ' + toHex(record);
        if (e.identity) out += ' ' + identityText(*e.identity);
        out += '\n';
    }
    return out;
}

CopyManifest CopyManifest::load(const fs::path& storage) {
    const int fd = ::open((storage / kFileName).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0) return {};
    std::string bytes;
    char buf[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    CopyManifest m = parse(bytes);
    m.loaded_ = m.entries_;
    return m;
}

const std::string* CopyManifest::find(const std::string& record) const {
    auto it = entries_.find(record);
    return it == entries_.end() || it->second.digest.empty() ? nullptr : &it->second.digest;
}

std::vector<std::string> CopyManifest::records() const {
    std::vector<std::string> out;
    for (const auto& [record, e] : entries_) out.push_back(record);
    return out;
}

const Identity* CopyManifest::identity(const std::string& record) const {
    auto it = entries_.find(record);
    return it == entries_.end() || !it->second.identity ? nullptr : &*it->second.identity;
}

Status CopyManifest::save(const fs::path& storage) const {
    const FolderLock lock(storage);
    if (!lock.locked()) return fail("cannot write " + (storage / kFileName).string() + ": " + why());
    if (const std::string moved = movedAwayFrom(storage); !moved.empty()) return fail(moved);
    CopyManifest now = load(storage);
    for (const auto& [record, e] : loaded_)
        if (!entries_.count(record)) now.entries_.erase(record);
    for (const auto& [record, e] : entries_) {
        const auto before = loaded_.find(record);
        if (e.digest.empty()) continue;  // an object noted without a digest is not a copy's entry
        if (before == loaded_.end() || !(before->second == e)) now.entries_[record] = e;
    }
    auto st = writeFileAtomically(storage / kFileName, now.serialize(), 0600);
    if (st) loaded_ = entries_;
    return st;
}

}  // namespace vaultry::vault
