#include "vault/TarStream.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>

#include "util/Fd.h"
#include "vault/ArchiveCipher.h"
#include "vault/ArchivePipeline.h"
#include "vault/CopyDigest.h"

namespace vaultry::vault::detail {
namespace {

struct WriteCtx {
    ParallelGzip* gzip;
    std::string error;
};

la_ssize_t writeCallback(struct archive*, void* data, const void* buffer, size_t length) {
    auto* ctx = static_cast<WriteCtx*>(data);
    if (auto st = ctx->gzip->write(buffer, length); !st) {
        ctx->error = st.error().message;
        return -1;
    }
    return static_cast<la_ssize_t>(length);
}

// One piece of the opened stream, in order: plaintext, or the error that ends the stream.
struct ReadCtx {
    Inflater* inflater;
    std::string error;
};

la_ssize_t readCallback(struct archive*, void* data, const void** buffer) {
    auto* ctx = static_cast<ReadCtx*>(data);
    auto piece = ctx->inflater->next();
    if (!piece) {
        ctx->error = piece.error().message;
        return -1;
    }
    *buffer = piece->first;
    return static_cast<la_ssize_t>(piece->second);
}

using ArchivePtr = std::unique_ptr<struct archive, int (*)(struct archive*)>;
using EntryPtr = std::unique_ptr<struct archive_entry, decltype(&archive_entry_free)>;

std::string archiveError(struct archive* a, const std::string& fallback) {
    const char* e = archive_error_string(a);
    return e ? std::string(e) : fallback;
}

Status addTree(struct archive* a, const fs::path& root, const std::string& rootName, std::vector<char>& buf,
               Progress& progress) {
    std::error_code ec;
    std::vector<std::pair<fs::path, std::string>> pending{{root, rootName}};
    EntryPtr entry(archive_entry_new(), &archive_entry_free);
    while (!pending.empty()) {
        auto [path, name] = std::move(pending.back());
        pending.pop_back();
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0) return fail("cannot read " + path.string() + ": " + why());
        if (S_ISSOCK(st.st_mode)) continue;  // sockets carry no data; tar skips them too
        archive_entry_clear(entry.get());
        archive_entry_copy_stat(entry.get(), &st);
        archive_entry_set_pathname(entry.get(), name.c_str());
        archive_entry_set_uname(entry.get(), nullptr);
        archive_entry_set_gname(entry.get(), nullptr);
        Fd file;
        if (S_ISLNK(st.st_mode)) {
            std::error_code lec;
            const fs::path target = fs::read_symlink(path, lec);
            if (lec) return fail("cannot read " + path.string() + ": " + lec.message());
            archive_entry_set_symlink(entry.get(), target.c_str());
            archive_entry_set_size(entry.get(), 0);
        } else if (S_ISREG(st.st_mode)) {
            file.reset(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
            if (file.get() < 0) return fail("cannot read " + path.string() + ": " + why());
        } else {
            archive_entry_set_size(entry.get(), 0);
        }
        if (archive_write_header(a, entry.get()) != ARCHIVE_OK)
            return fail(archiveError(a, "cannot write the archive"));
        if (file.get() >= 0) {
            std::int64_t left = st.st_size;
            while (left > 0) {
                const ssize_t r =
                    readFull(file.get(), reinterpret_cast<unsigned char*>(buf.data()), buf.size());
                if (r < 0) return fail("cannot read " + path.string() + ": " + why());
                if (r == 0) return fail(path.string() + " changed while it was packed");
                const auto n = std::min<std::int64_t>(r, left);
                if (archive_write_data(a, buf.data(), static_cast<size_t>(n)) != n)
                    return fail(archiveError(a, "cannot write the archive"));
                left -= n;
                progress.add(static_cast<std::uint64_t>(n));
                if (progress.cancelled()) return cancelledError();
            }
        }
        if (S_ISDIR(st.st_mode)) {
            fs::directory_iterator it(path, ec), end;
            if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
            std::vector<std::pair<fs::path, std::string>> children;
            for (; it != end; it.increment(ec)) {
                if (ec) return fail("cannot read " + path.string() + ": " + ec.message());
                children.emplace_back(it->path(), name + "/" + it->path().filename().string());
            }
            pending.insert(pending.end(), children.rbegin(), children.rend());
        }
    }
    return {};
}

// The entry name made safe to join to the unpack folder, or empty when it must be refused.
std::optional<std::string> safeName(const char* raw) {
    if (!raw) return std::nullopt;
    std::string name = raw;
    if (name.empty() || name.front() == '/') return std::nullopt;
    std::string out;
    std::size_t pos = 0;
    while (pos <= name.size()) {
        const std::size_t slash = std::min(name.find('/', pos), name.size());
        const std::string part = name.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        if (part == "..") return std::nullopt;
        if (!out.empty()) out += '/';
        out += part;
    }
    return out;  // empty: the archive's own "." entry
}

// A symbolic link stays inside when its target, read from the link's folder, never climbs out.
bool linkStaysInside(const std::string& entryName, const char* target) {
    if (!target || !*target || target[0] == '/') return false;
    int depth = 0;
    for (char c : entryName)
        if (c == '/') ++depth;  // the link's folder is as deep as its name has slashes
    std::string t = target;
    std::size_t pos = 0;
    while (pos <= t.size()) {
        const std::size_t slash = std::min(t.find('/', pos), t.size());
        const std::string part = t.substr(pos, slash - pos);
        pos = slash + 1;
        if (part.empty() || part == ".") continue;
        depth += part == ".." ? -1 : 1;
        if (depth < 0) return false;
    }
    return true;
}

// "._name": how macOS tar carries a file's resource fork and attributes (AppleDouble). Only a
// candidate: a user's own file may be called that too.
bool looksLikeMacMetadata(const std::string& name) {
    const auto slash = name.rfind('/');
    const std::string last = slash == std::string::npos ? name : name.substr(slash + 1);
    return last.size() > 2 && last.rfind("._", 0) == 0;
}

// Drops the real AppleDouble members among `candidates` (unpacked below `root`): those that begin
// with the AppleDouble magic number and sit beside the file they describe. Returns the dropped.
std::vector<std::string> dropMacMetadata(const fs::path& root, const std::vector<std::string>& candidates) {
    static constexpr unsigned char kAppleDouble[4] = {0x00, 0x05, 0x16, 0x07};
    std::vector<std::string> dropped;
    for (const auto& name : candidates) {
        const fs::path file = root / name;
        const fs::path sibling = file.parent_path() / file.filename().string().substr(2);
        struct stat st {};
        if (::lstat(sibling.c_str(), &st) != 0) continue;
        Fd fd(::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
        unsigned char head[4] = {};
        if (fd.get() < 0 || readFull(fd.get(), head, sizeof head) != 4 ||
            std::memcmp(head, kAppleDouble, 4) != 0)
            continue;
        if (::unlink(file.c_str()) == 0) dropped.push_back(name);
    }
    return dropped;
}

// Every symbolic link below `root`, followed through the links it meets (as the system would),
// must end inside `root`: `d/l -> ..` beside `esc -> d/l/../..` climbs out although each link
// alone looks harmless. Links that lead nowhere (missing, loops) cannot lead out.
Status linkChainsStayInside(const fs::path& root) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (!it->is_symlink(ec)) continue;
        std::error_code rec;
        const fs::path resolved = fs::weakly_canonical(it->path(), rec);
        if (rec) continue;
        const fs::path rel = resolved.lexically_relative(root);
        if (rel.empty() || *rel.begin() == "..")
            return fail("refused a link that leads outside the folder: " +
                        it->path().lexically_relative(root).string());
    }
    if (ec) return fail("cannot check the unpacked folder: " + ec.message());
    return {};
}

// Starts writing a large unpacked file's data to disk while the unpacking goes on, as
// CipherWriter does for archives, so that the flush at the end has little left to wait for. The
// file is opened beside libarchive's descriptor once it has a step's worth of data; small files
// are left to that flush, which writes them out together.
class EarlyWriteback {
public:
    // The file that is being written; empty for an entry that is not a file of its own.
    void begin(fs::path file) {
        path_ = std::move(file);
        fd_.reset();
        started_ = written_ = 0;
    }
    void wrote(std::int64_t end) {
        written_ = std::max(written_, end);
        if (written_ - started_ >= static_cast<std::int64_t>(kWritebackStep)) start();
    }
    void end() {
        if (fd_.get() >= 0) start();
        fd_.reset();
    }

private:
    void start() {
        if (fd_.get() < 0 && !path_.empty())
            fd_.reset(::open(path_.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
        if (fd_.get() >= 0 && written_ > started_)
            ::sync_file_range(fd_.get(), started_, written_ - started_, SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }
    fs::path path_;
    Fd fd_;
    std::int64_t started_ = 0, written_ = 0;
};

}  // namespace

Status writeTar(const fs::path& folder, ParallelGzip& gzip, Progress& progress) {
    // Declared before the archive, so that it outlives it: freeing an archive that was not closed
    // (an error while adding the tree) flushes what is left through writeCallback, into wctx.
    WriteCtx wctx{&gzip, {}};
    ArchivePtr a(archive_write_new(), &archive_write_free);
    // The GNU format, as `tar -czf` writes it: names are kept as the bytes they are, whatever
    // the locale, and long names need no extension GNU tar would not know. The tar stream is
    // padded to whole 10 KiB records as tar pads it; compression follows in ParallelGzip.
    archive_write_set_format_gnutar(a.get());
    archive_write_add_filter_none(a.get());
    if (archive_write_open(a.get(), &wctx, nullptr, writeCallback, nullptr) != ARCHIVE_OK)
        return fail(archiveError(a.get(), "cannot write the archive"));
    std::vector<char> buf(kChunk);
    fs::path clean = folder;
    if (!clean.has_filename()) clean = clean.parent_path();
    if (auto st = addTree(a.get(), clean, clean.filename().string(), buf, progress); !st) return st;
    if (archive_write_close(a.get()) != ARCHIVE_OK)
        return fail(wctx.error.empty() ? archiveError(a.get(), "cannot write the archive") : wctx.error);
    return {};
}

Status readTar(CipherReader& reader, const fs::path* into, std::vector<std::string>* topNames,
               WrittenFiles* written) {
    Inflater inflater(reader);
    ArchivePtr in(archive_read_new(), &archive_read_free);
    archive_read_support_format_tar(in.get());
    ReadCtx rctx{&inflater, {}};
    if (archive_read_open(in.get(), &rctx, nullptr, readCallback, nullptr) != ARCHIVE_OK)
        return fail(rctx.error.empty() ? archiveError(in.get(), "not a gzip tar stream") : rctx.error);

    ArchivePtr out(nullptr, &archive_write_free);
    if (into) {
        out.reset(archive_write_disk_new());
        archive_write_disk_set_options(out.get(), ARCHIVE_EXTRACT_TIME | ARCHIVE_EXTRACT_SECURE_SYMLINKS |
                                                      ARCHIVE_EXTRACT_SECURE_NODOTDOT);
    }
    EarlyWriteback writeback;
    std::vector<std::string> macCandidates;
    struct archive_entry* entry = nullptr;
    for (;;) {
        const int r = archive_read_next_header(in.get(), &entry);
        if (r == ARCHIVE_EOF) break;
        if (r != ARCHIVE_OK && r != ARCHIVE_WARN)
            return fail(rctx.error.empty() ? archiveError(in.get(), "the archive is damaged") : rctx.error);
        const auto name = safeName(archive_entry_pathname(entry));
        if (!name)
            return fail(std::string("refused an entry outside the folder: ") + archive_entry_pathname(entry));
        const auto type = archive_entry_filetype(entry);
        const char* hardlink = archive_entry_hardlink(entry);
        std::optional<std::string> linkName;
        if (hardlink) {
            linkName = safeName(hardlink);
            if (!linkName || linkName->empty())
                return fail(std::string("refused a link outside the folder: ") + hardlink);
        }
        if (type == AE_IFLNK && !linkStaysInside(*name, archive_entry_symlink(entry)))
            return fail("refused a link that leads outside the folder: " + *name);
        const bool wanted =
            !name->empty() && (hardlink || type == AE_IFREG || type == AE_IFDIR || type == AE_IFLNK);
        // Vaultry writes GNU tar, which never carries resource forks: every member of its own
        // archives is kept. Those of macOS tar are looked at once the whole folder is out.
        if (into && wanted && type == AE_IFREG && !hardlink &&
            archive_format(in.get()) != ARCHIVE_FORMAT_TAR_GNUTAR && looksLikeMacMetadata(*name))
            macCandidates.push_back(*name);
        if (!into || !wanted) {
            // Reading the data through checks the gzip stream and its checksum.
            if (archive_read_data_skip(in.get()) != ARCHIVE_OK)
                return fail(rctx.error.empty() ? archiveError(in.get(), "the archive is damaged")
                                               : rctx.error);
            continue;
        }
        const std::string top = name->substr(0, name->find('/'));
        if (topNames && std::find(topNames->begin(), topNames->end(), top) == topNames->end())
            topNames->push_back(top);
        archive_entry_set_pathname(entry, (*into / *name).c_str());
        if (linkName) archive_entry_set_hardlink(entry, (*into / *linkName).c_str());
        archive_entry_set_perm(entry, archive_entry_perm(entry) & 0777);
        if (archive_write_header(out.get(), entry) != ARCHIVE_OK)
            return fail(archiveError(out.get(), "cannot unpack " + *name));
        writeback.begin(type == AE_IFREG && !hardlink ? *into / *name : fs::path());
        const bool hashed = written && type == AE_IFREG && !hardlink;
        if (hashed) written->begin(*name);
        if (written && !hashed) written->forget(*name);
        if (written && hardlink) written->distrust();
        for (;;) {
            const void* block = nullptr;
            size_t size = 0;
            la_int64_t offset = 0;
            const int d = archive_read_data_block(in.get(), &block, &size, &offset);
            if (d == ARCHIVE_EOF) break;
            if (d != ARCHIVE_OK && d != ARCHIVE_WARN)
                return fail(rctx.error.empty() ? archiveError(in.get(), "the archive is damaged")
                                               : rctx.error);
            if (archive_write_data_block(out.get(), block, size, offset) != ARCHIVE_OK)
                return fail(archiveError(out.get(), "cannot unpack " + *name));
            if (hashed) written->write(static_cast<std::uint64_t>(offset), block, size);
            writeback.wrote(offset + static_cast<la_int64_t>(size));
        }
        if (archive_write_finish_entry(out.get()) != ARCHIVE_OK)
            return fail(archiveError(out.get(), "cannot unpack " + *name));
        if (hashed) written->end();
        writeback.end();
    }
    if (out && archive_write_close(out.get()) != ARCHIVE_OK)
        return fail(archiveError(out.get(), "cannot unpack"));
    if (auto st = inflater.drain(); !st) return st;
    if (!into) return {};
    if (auto st = linkChainsStayInside(*into); !st) return st;
    for (const auto& dropped : dropMacMetadata(*into, macCandidates))
        if (topNames && dropped.find('/') == std::string::npos) std::erase(*topNames, dropped);
    return {};
}

}  // namespace vaultry::vault::detail
