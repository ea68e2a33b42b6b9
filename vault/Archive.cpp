#include "vault/Archive.h"

#include <archive.h>
#include <archive_entry.h>
#include <fcntl.h>
#include <libdeflate.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>
#include <sched.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "util/Fd.h"
#include "vault/ArchiveCipher.h"
#include "vault/ArchivePipeline.h"
#include "vault/CopyDigest.h"
#include "vault/KeyDerivation.h"
#include "vault/Temporaries.h"

namespace vaultry::vault {

using namespace detail;

namespace {

// A new file that becomes `final` only when commit() succeeds; otherwise nothing is left. It is
// made unnamed (O_TMPFILE) and linked in whole where the file system allows; elsewhere it has a
// name beside `final`, written down in the storage folder's journal first when there is one.
class PendingFile {
public:
    Status open(const fs::path& final) {
        final_ = final;
        std::error_code ec;
        if (fs::symlink_status(final, ec).type() != fs::file_type::not_found)
            return fail(final.filename().string() + " already exists");
        const fs::path folder = final.has_parent_path() ? final.parent_path() : fs::path(".");
        if (unnamedFilesAllowed() && ::access("/proc/self/fd", X_OK) == 0) {
            const int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
            if (fd >= 0) {
                fd_.reset(fd);
                unnamed_ = true;
                return {};
            }
        }
        const fs::path journal = JournalScope::current();
        for (;;) {
            tmp_ = final.string() + ".part-" + randomSuffix();
            if (!journal.empty()) {
                auto t = Temporary::reserve(journal, TempKind::File, tmp_);
                if (!t) return t.error();
                entry_ = std::move(*t);
            }
            const int fd = ::open(tmp_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
            if (fd >= 0) {
                fd_.reset(fd);
                break;
            }
            const int err = errno;
            entry_ = Temporary();
            if (err != EEXIST) {
                tmp_.clear();
                return fail("cannot write " + final.string() + ": " + std::strerror(err));
            }
        }
        if (auto id = identityOfOpen(fd_.get())) (void)entry_.made(*id);
        return {};
    }
    int fd() const { return fd_.get(); }
    Status commit() {
        if (::fsync(fd_.get()) != 0) return fail("cannot write " + final_.string() + ": " + why());
        if (auto id = identityOfOpen(fd_.get())) notePlacing(final_, *id);
        bool placed;
        if (unnamed_) {
            const std::string self = "/proc/self/fd/" + std::to_string(fd_.get());
            placed = ::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, final_.c_str(), AT_SYMLINK_FOLLOW) == 0;
        } else {
            placed = renameNoReplace(tmp_, final_);
        }
        if (!placed) {
            const std::string e = errno == EEXIST ? final_.filename().string() + " already exists"
                                                  : "cannot write " + final_.string() + ": " + why();
            return fail(e);
        }
        fd_.reset();
        tmp_.clear();
        entry_ = Temporary();
        syncFolder(final_.has_parent_path() ? final_.parent_path() : fs::path("."));
        return {};
    }
    ~PendingFile() {
        fd_.reset();
        if (!tmp_.empty()) ::unlink(tmp_.c_str());
    }

private:
    fs::path final_;
    std::string tmp_;
    bool unnamed_ = false;
    Temporary entry_;  // declared after tmp_: goes once the file is gone
    Fd fd_;
};

// ---- tar streams --------------------------------------------------------------------------

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

// Reads the whole decrypted tar stream; when `into` is set, unpacks it there.
Status readTar(CipherReader& reader, const fs::path* into, std::vector<std::string>* topNames,
               WrittenFiles* written = nullptr) {
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

}  // namespace

bool renameNoReplace(const fs::path& from, const fs::path& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without RENAME_NOREPLACE: link() refuses an existing name too (files only).
    if (::link(from.c_str(), to.c_str()) != 0) return false;
    ::unlink(from.c_str());
    return true;
}

ArchiveKind archiveKindOf(const fs::path& archive) {
    return archive.extension() == ".gz" ? ArchiveKind::Folder : ArchiveKind::File;
}

Status encryptFile(const fs::path& source, const fs::path& archive, std::string_view pass, ArchiveKind kind,
                   Progress& progress) {
    // Never through a link: what stands at the item's place is what is packed, or nothing.
    Fd in(::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0) return fail("cannot read " + source.string() + ": " + why());
    PendingFile out;
    if (auto st = out.open(archive); !st) return st;
    CipherWriter writer;
    if (auto st = writer.begin(out.fd(), kind, pass); !st) return st;
    std::vector<unsigned char> buf(kChunk);
    for (;;) {
        const ssize_t r = readFull(in.get(), buf.data(), buf.size());
        if (r < 0) return fail("cannot read " + source.string() + ": " + why());
        if (r == 0) break;
        if (auto st = writer.write(buf.data(), static_cast<std::size_t>(r)); !st) return st;
        progress.add(static_cast<std::uint64_t>(r));
        if (progress.cancelled()) {
            OPENSSL_cleanse(buf.data(), buf.size());
            return cancelledError();
        }
    }
    OPENSSL_cleanse(buf.data(), buf.size());
    if (auto st = writer.finish(); !st) return st;
    return out.commit();
}

Status packFolder(const fs::path& folder, const fs::path& archive, std::string_view pass,
                  Progress& progress) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(folder, ec))) return fail(folder.string() + " is not a folder");
    PendingFile out;
    if (auto st = out.open(archive); !st) return st;
    CipherWriter writer;
    if (auto st = writer.begin(out.fd(), ArchiveKind::Folder, pass); !st) return st;

    ParallelGzip gzip([&writer](const unsigned char* p, std::size_t n) { return writer.write(p, n); });
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
    if (auto st = gzip.finish(); !st) return st;
    if (auto st = writer.finish(); !st) return st;
    return out.commit();
}

namespace {

Result<std::vector<Derivation>> derivationsToTry(int fd, ArchiveKind kind, std::string_view pass,
                                                 const Opening& how) {
    // A recorded derivation with a MAC needs no quick look: the full read is checked anyway, and
    // a damaged end is then reported for what it is.
    if (how.derivation && !how.macs.empty()) return std::vector<Derivation>{*how.derivation};
    return candidateDerivations(fd, kind, pass, how.derivation);
}

}  // namespace

Result<std::vector<Derivation>> derivationsThatOpen(const fs::path& archive, ArchiveKind kind,
                                                    std::string_view pass) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    return candidateDerivations(in.get(), kind, pass, std::nullopt);
}

Result<Opened> decryptFile(const fs::path& archive, const fs::path& outPath, std::string_view pass,
                           const Opening& how, Progress& progress, WrittenFiles* written) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), ArchiveKind::File, pass, how);
    if (!digests) return digests.error();
    // Each fitting derivation decrypts a file archive to the end without complaint, so when more
    // than one fits nothing says which reading is the right one: never pick one silently.
    if (digests->size() > 1) return fail(kOpensTwoWays);
    const Derivation digest = digests->front();
    PendingFile out;
    if (auto st = out.open(outPath); !st) return st.error();
    CipherReader reader;
    if (auto st = reader.begin(in.get(), ArchiveKind::File, digest, pass, how.macKey); !st) return st.error();
    reader.reportTo(progress);
    Status read;
    if (written) written->begin(outPath.filename().string());
    for (std::uint64_t at = 0;;) {
        auto piece = reader.next();
        if (!piece) {
            read = piece.error();
            break;
        }
        if (piece->second == 0) break;
        if (!writeAll(out.fd(), piece->first, piece->second))
            return fail("cannot write " + outPath.string() + ": " + why());
        if (written) written->write(at, piece->first, piece->second);
        at += piece->second;
    }
    if (written) written->end();
    auto opened = settle(reader, how, digest, read);
    if (!opened) return opened;
    if (auto st = out.commit(); !st) return st.error();
    return opened;
}

Result<std::vector<std::string>> unpackFolder(const fs::path& archive, const fs::path& targetDir,
                                              std::string_view pass, const Opening& how, Opened* opened,
                                              Progress& progress, WrittenFiles* written) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), ArchiveKind::Folder, pass, how);
    if (!digests) return digests.error();

    // A private folder, with no links in its path, so that libarchive's link checks judge only
    // what the archive itself brings.
    std::error_code ec;
    const fs::path realTarget = fs::canonical(targetDir, ec);
    if (ec) return fail("cannot use " + targetDir.string() + ": " + ec.message());
    // Written down in the storage folder's journal before it is made, when there is one, so that
    // a run killed mid-way leaves nothing a later start cannot prove to be ours.
    const fs::path journal = JournalScope::current();
    Temporary entry;
    fs::path staging;
    for (;;) {
        staging = realTarget / (std::string(".vaultry-unpack-") + randomSuffix());
        if (!journal.empty()) {
            auto t = Temporary::reserve(journal, TempKind::Folder, staging);
            if (!t) return t.error();
            entry = std::move(*t);
        }
        if (::mkdir(staging.c_str(), 0700) == 0) break;
        const int err = errno;
        entry = Temporary();
        if (err != EEXIST) return fail("cannot write in " + targetDir.string() + ": " + std::strerror(err));
    }
    if (auto id = identityOf(staging)) (void)entry.made(*id);
    struct Cleanup {
        fs::path p;
        Temporary& entry;
        ~Cleanup() {
            std::error_code e;
            fs::remove_all(p, e);
            if (e) entry.keepForSweep();  // swept at the next start
        }
    } cleanup{staging, entry};
    // Opened before anything is written, so that the flush at the end reports every write that
    // failed on its way to the disk.
    Fd stagingFd(::open(staging.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (stagingFd.get() < 0) return fail("cannot write in " + targetDir.string() + ": " + why());

    Error lastError{"the archive is damaged"};
    for (const Derivation digest : *digests) {
        std::vector<std::string> top;
        CipherReader reader;
        if (auto st = reader.begin(in.get(), ArchiveKind::Folder, digest, pass, how.macKey); !st)
            return st.error();
        reader.reportTo(progress);
        if (written) written->clear();
        auto read = settle(reader, how, digest, readTar(reader, &staging, &top, written));
        // The read stops on the reader's thread; what it says on the way out is not the reason.
        if (progress.cancelled()) return cancelledError();
        if (!read) {
            if (!how.macs.empty()) return read.error();  // the recorded derivation was the only one
            lastError = read.error();
            for (const auto& entry : fs::directory_iterator(staging, ec)) fs::remove_all(entry.path(), ec);
            continue;
        }
        for (const auto& name : top)
            if (fs::symlink_status(realTarget / name, ec).type() != fs::file_type::not_found)
                return fail(name + " already exists in " + targetDir.string());
        // Durable before it is in place: the archive it came from may be deleted next. One flush
        // of the file system rather than one per file and folder, which cost milliseconds each.
        if (::syncfs(stagingFd.get()) != 0)
            return fail("cannot write in " + targetDir.string() + ": " + why());
        std::vector<std::string> moved;
        for (const auto& name : top)
            if (auto id = identityOf(staging / name)) notePlacing(realTarget / name, *id);
        for (const auto& name : top) {
            if (!renameNoReplace(staging / name, realTarget / name)) {
                const Error e = fail("cannot place " + name + " in " + targetDir.string() + ": " + why());
                for (const auto& back : moved)
                    ::rename((realTarget / back).c_str(), (staging / back).c_str());
                return e;
            }
            moved.push_back(name);
        }
        syncFolder(realTarget);
        if (opened) *opened = *read;
        return top;
    }
    return lastError;
}

Result<Opened> verifyArchive(const fs::path& archive, ArchiveKind kind, std::string_view pass,
                             const Opening& how, Progress& progress) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), kind, pass, how);
    if (!digests) return digests.error();
    if (kind == ArchiveKind::File && digests->size() > 1) return fail(kOpensTwoWays);
    Error lastError{"the archive is damaged"};
    for (const Derivation digest : *digests) {
        CipherReader reader;
        if (auto st = reader.begin(in.get(), kind, digest, pass, how.macKey); !st) return st.error();
        reader.reportTo(progress);
        Status st;
        if (kind == ArchiveKind::Folder) {
            st = readTar(reader, nullptr, nullptr);
        } else {
            for (;;) {
                auto piece = reader.next();
                if (!piece) {
                    st = piece.error();
                    break;
                }
                if (piece->second == 0) break;
            }
        }
        auto opened = settle(reader, how, digest, st);
        if (progress.cancelled()) return cancelledError();
        if (opened || !how.macs.empty()) return opened;
        lastError = opened.error();
    }
    return lastError;
}

Result<Opened> reencryptArchive(const fs::path& archive, ArchiveKind kind, std::string_view oldPass,
                                std::string_view newPass, const fs::path& outPath, const Opening& how,
                                const std::optional<MacKey>& newKey, Progress& progress) {
    auto old = verifyArchive(archive, kind, oldPass, how, progress);
    if (!old) return old.error();
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    // Read again under the derivation that held, checked against the MAC just taken, so that a
    // change in between is not carried into the new archive. For a folder the gzip bytes are
    // carried over as they are.
    Opening again = how;
    again.derivation = old->derivation;
    if (how.macKey && old->mac) again.macs = {*old->mac};
    PendingFile out;
    if (auto st = out.open(outPath); !st) return st.error();
    CipherReader reader;
    CipherWriter writer;
    if (auto st = reader.begin(in.get(), kind, old->derivation, oldPass, again.macKey); !st)
        return st.error();
    if (auto st = writer.begin(out.fd(), kind, newPass); !st) return st.error();
    reader.reportTo(progress);
    Status st;
    for (;;) {
        auto piece = reader.next();
        if (!piece) {
            st = piece.error();
            break;
        }
        if (piece->second == 0) break;
        if (st = writer.write(piece->first, piece->second); !st) break;
    }
    if (auto read = settle(reader, again, old->derivation, st); !read) return read.error();
    if (auto done = writer.finish(); !done) return done.error();
    if (auto done = out.commit(); !done) return done.error();
    Opening written;
    written.derivation = kNewDerivation;
    written.macKey = newKey;
    auto made = verifyArchive(outPath, kind, newPass, written, progress);
    if (!made) {
        std::error_code ec;
        fs::remove(outPath, ec);
    }
    return made;
}

}  // namespace vaultry::vault
