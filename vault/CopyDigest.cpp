// The change digest of decrypted copies: XXH3-128 over the tree, the files' bytes read in pieces
// on every core.
#define XXH_INLINE_ALL
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>
#include <vector>

#include "util/Fd.h"
#include "vault/CopyDigest.h"
#include "vault/CopyManifest.h"

namespace vaultry::vault {
namespace {

constexpr std::uint64_t kPiece = kDigestPiece;

PieceHash fromXxh(XXH128_hash_t h) { return {h.low64, h.high64}; }

struct Entry {
    char type = 'o';  // f file, d folder, l link, o anything else
    std::string rel;
    std::string target;  // of a link
    fs::path file;
    std::uint64_t size = 0;
    std::size_t firstPiece = 0, pieces = 0;
};

struct Piece {
    std::size_t entry = 0;
    std::uint64_t offset = 0;
    bool last = false;  // reads to the end, wherever that is now
    PieceHash hash{};
};

Status walk(const fs::path& path, const std::string& rel, std::vector<Entry>& out) {
    std::error_code ec;
    const auto st = fs::symlink_status(path, ec);
    if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
    Entry e;
    e.rel = rel;
    if (fs::is_symlink(st)) {
        e.type = 'l';
        e.target = fs::read_symlink(path, ec).string();
        out.push_back(std::move(e));
        return {};
    }
    if (fs::is_directory(st)) {
        e.type = 'd';
        out.push_back(std::move(e));
        std::vector<std::string> names;
        for (auto it = fs::directory_iterator(path, ec); !ec && it != fs::directory_iterator();
             it.increment(ec))
            names.push_back(it->path().filename().string());
        if (ec) return fail("cannot list " + path.string() + ": " + ec.message());
        std::sort(names.begin(), names.end());
        for (const auto& name : names)
            if (auto s = walk(path / name, rel.empty() ? name : rel + "/" + name, out); !s) return s;
        return {};
    }
    if (fs::is_regular_file(st)) {
        e.type = 'f';
        e.file = path;
        e.size = fs::file_size(path, ec);
        if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
    }
    out.push_back(std::move(e));
    return {};
}

// Hashes one piece; its last piece also proves the file still has the size it was listed with.
Status hashPiece(const Entry& e, Piece& p, std::vector<char>& buf) {
    Fd fd(::open(e.file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!fd.valid()) return fail("cannot read " + e.file.string() + ": " + std::strerror(errno));
    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    std::uint64_t at = p.offset;
    const std::uint64_t end = p.last ? UINT64_MAX : p.offset + kPiece;
    while (at < end) {
        const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(buf.size(), end - at));
        const ssize_t got = ::pread(fd.get(), buf.data(), want, static_cast<off_t>(at));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) return fail("cannot read " + e.file.string() + ": " + std::strerror(errno));
        if (got == 0) break;
        XXH3_128bits_update(&state, buf.data(), static_cast<std::size_t>(got));
        at += static_cast<std::uint64_t>(got);
    }
    if ((p.last && at != e.size) || (!p.last && at != end))
        return fail(e.file.string() + " changed while it was read");
    p.hash = fromXxh(XXH3_128bits_digest(&state));
    return {};
}

void add(XXH3_state_t& state, std::string_view bytes) {
    // The length first, so that no two sequences of fields hash alike.
    const std::uint64_t n = bytes.size();
    XXH3_128bits_update(&state, &n, sizeof n);
    XXH3_128bits_update(&state, bytes.data(), bytes.size());
}

}  // namespace

struct WrittenFiles::Hashing {
    XXH3_state_t state;
    std::uint64_t size = 0;  // of the file so far
    std::uint64_t inPiece = 0;
    bool broken = false;
    std::vector<PieceHash> pieces;
};

WrittenFiles::WrittenFiles() = default;
WrittenFiles::~WrittenFiles() = default;

void WrittenFiles::begin(const std::string& name) {
    files_.erase(name);
    current_ = name;
    hashing_ = std::make_unique<Hashing>();
    XXH3_128bits_reset(&hashing_->state);
}

void WrittenFiles::write(std::uint64_t offset, const void* data, std::size_t size) {
    if (!hashing_ || hashing_->broken) return;
    Hashing& h = *hashing_;
    if (offset != h.size) {
        h.broken = true;
        return;
    }
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        if (h.inPiece == kPiece) {
            h.pieces.push_back(fromXxh(XXH3_128bits_digest(&h.state)));
            XXH3_128bits_reset(&h.state);
            h.inPiece = 0;
        }
        const std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(size, kPiece - h.inPiece));
        XXH3_128bits_update(&h.state, p, take);
        h.inPiece += take;
        h.size += take;
        p += take;
        size -= take;
    }
}

void WrittenFiles::end() {
    if (!hashing_) return;
    if (!hashing_->broken) {
        hashing_->pieces.push_back(fromXxh(XXH3_128bits_digest(&hashing_->state)));
        files_[current_] = File{hashing_->size, std::move(hashing_->pieces)};
    }
    hashing_.reset();
}

void WrittenFiles::forget(const std::string& name) { files_.erase(name); }

void WrittenFiles::distrust() { distrusted_ = true; }

void WrittenFiles::clear() {
    files_.clear();
    hashing_.reset();
    distrusted_ = false;
}

const WrittenFiles::File* WrittenFiles::find(const std::string& name) const {
    if (distrusted_) return nullptr;
    const auto it = files_.find(name);
    return it == files_.end() ? nullptr : &it->second;
}

Result<std::string> copyDigest(const fs::path& copy, const WrittenFiles* written) {
    std::vector<Entry> entries;
    if (auto st = walk(copy, "", entries); !st) return st.error();
    std::vector<Piece> pieces;
    std::vector<bool> known;  // by piece: taken from `written`, not read
    const std::string top = copy.filename().string();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        Entry& e = entries[i];
        if (e.type != 'f') continue;
        e.firstPiece = pieces.size();
        e.pieces = static_cast<std::size_t>(std::max<std::uint64_t>(1, (e.size + kPiece - 1) / kPiece));
        const WrittenFiles::File* as =
            written ? written->find(e.rel.empty() ? top : top + "/" + e.rel) : nullptr;
        const bool same = as && as->size == e.size && as->pieces.size() == e.pieces;
        for (std::size_t k = 0; k < e.pieces; ++k) {
            pieces.push_back({i, k * kPiece, k + 1 == e.pieces, same ? as->pieces[k] : PieceHash{}});
            known.push_back(same);
        }
    }
    std::vector<std::size_t> toRead;
    for (std::size_t k = 0; k < pieces.size(); ++k)
        if (!known[k]) toRead.push_back(k);
    std::atomic<std::size_t> next{0};
    std::vector<Status> failures(pieces.size());
    const auto work = [&] {
        std::vector<char> buf(1 << 20);
        for (std::size_t n; (n = next++) < toRead.size();) {
            Piece& p = pieces[toRead[n]];
            failures[toRead[n]] = hashPiece(entries[p.entry], p, buf);
        }
    };
    // The caller's thread reads too.
    const std::size_t helpers =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), toRead.size() + 1) - 1;
    std::vector<std::thread> threads;
    for (std::size_t i = 0; i < helpers; ++i) threads.emplace_back(work);
    work();
    for (auto& t : threads) t.join();
    for (const auto& f : failures)
        if (!f) return f.error();

    XXH3_state_t state;
    XXH3_128bits_reset(&state);
    for (const Entry& e : entries) {
        add(state, std::string_view(&e.type, 1));
        add(state, e.rel);
        if (e.type == 'l') add(state, e.target);
        if (e.type != 'f') continue;
        XXH3_128bits_update(&state, &e.size, sizeof e.size);
        for (std::size_t k = 0; k < e.pieces; ++k) {
            XXH128_canonical_t c;
            const PieceHash& h = pieces[e.firstPiece + k].hash;
            XXH128_canonicalFromHash(&c, XXH128_hash_t{h.low, h.high});
            XXH3_128bits_update(&state, c.digest, sizeof c.digest);
        }
    }
    XXH128_canonical_t sum;
    XXH128_canonicalFromHash(&sum, XXH3_128bits_digest(&state));
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const unsigned char c : sum.digest) {
        out += kDigits[c >> 4];
        out += kDigits[c & 15];
    }
    return out;
}

}  // namespace vaultry::vault
