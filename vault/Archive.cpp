#include "vault/Archive.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>

#include "util/Fd.h"
#include "vault/ArchiveCipher.h"
#include "vault/ArchivePipeline.h"
#include "vault/CopyDigest.h"
#include "vault/TarStream.h"
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
    if (auto st = writeTar(folder, gzip, progress); !st) return st;
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

using Take = std::function<Status(const unsigned char*, std::size_t)>;

// Decrypts what is left of the archive, handing each piece of plaintext to `take` when there is
// one. The read's outcome: an error of the reader's, or the first of `take`'s, which stops it.
Status readPlain(CipherReader& reader, const Take& take = {}) {
    for (;;) {
        auto piece = reader.next();
        if (!piece) return piece.error();
        if (piece->second == 0) return {};
        if (take)
            if (auto st = take(piece->first, piece->second); !st) return st;
    }
}

// Reads the archive open at `fd` under each of `digests` in turn, until a reading holds: `read`
// reads the decrypted stream through, then the archive's MAC is settled. With MACs recorded, the
// first reading is the only one. `failed` runs after a reading that did not hold, before the next
// derivation is tried.
Result<Opened> readUnderEach(int fd, ArchiveKind kind, const std::vector<Derivation>& digests,
                             std::string_view pass, const Opening& how, Progress& progress,
                             const std::function<Status(CipherReader&)>& read,
                             const std::function<void()>& failed = {}) {
    Error lastError{"the archive is damaged"};
    for (const Derivation digest : digests) {
        CipherReader reader;
        if (auto st = reader.begin(fd, kind, digest, pass, how.macKey); !st) return st.error();
        reader.reportTo(progress);
        auto opened = settle(reader, how, digest, read(reader));
        // The read stops on the reader's thread; what it says on the way out is not the reason.
        if (progress.cancelled()) return cancelledError();
        if (opened || !how.macs.empty()) return opened;  // the recorded derivation was the only one
        lastError = opened.error();
        if (failed) failed();
    }
    return lastError;
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
    if (written) written->begin(outPath.filename().string());
    // A failed write is what is reported: the rest of the archive is not read for its MAC.
    std::optional<Error> writeError;
    std::uint64_t at = 0;
    const Status read = readPlain(reader, [&](const unsigned char* p, std::size_t n) -> Status {
        if (!writeAll(out.fd(), p, n)) {
            writeError = fail("cannot write " + outPath.string() + ": " + why());
            return *writeError;
        }
        if (written) written->write(at, p, n);
        at += n;
        return {};
    });
    if (writeError) return *writeError;
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

    std::vector<std::string> top;
    auto read = readUnderEach(
        in.get(), ArchiveKind::Folder, *digests, pass, how, progress,
        [&](CipherReader& reader) {
            top.clear();
            if (written) written->clear();
            return readTar(reader, &staging, &top, written);
        },
        [&] {
            for (const auto& entry : fs::directory_iterator(staging, ec)) fs::remove_all(entry.path(), ec);
        });
    if (!read) return read.error();
    for (const auto& name : top)
        if (fs::symlink_status(realTarget / name, ec).type() != fs::file_type::not_found)
            return fail(name + " already exists in " + targetDir.string());
    // Durable before it is in place: the archive it came from may be deleted next. One flush
    // of the file system rather than one per file and folder, which cost milliseconds each.
    if (::syncfs(stagingFd.get()) != 0) return fail("cannot write in " + targetDir.string() + ": " + why());
    std::vector<std::string> moved;
    for (const auto& name : top)
        if (auto id = identityOf(staging / name)) notePlacing(realTarget / name, *id);
    for (const auto& name : top) {
        if (!renameNoReplace(staging / name, realTarget / name)) {
            const Error e = fail("cannot place " + name + " in " + targetDir.string() + ": " + why());
            for (const auto& back : moved) ::rename((realTarget / back).c_str(), (staging / back).c_str());
            return e;
        }
        moved.push_back(name);
    }
    syncFolder(realTarget);
    if (opened) *opened = *read;
    return top;
}

Result<Opened> verifyArchive(const fs::path& archive, ArchiveKind kind, std::string_view pass,
                             const Opening& how, Progress& progress) {
    auto fd = openArchive(archive);
    if (!fd) return fd.error();
    Fd in(*fd);
    auto digests = derivationsToTry(in.get(), kind, pass, how);
    if (!digests) return digests.error();
    if (kind == ArchiveKind::File && digests->size() > 1) return fail(kOpensTwoWays);
    return readUnderEach(in.get(), kind, *digests, pass, how, progress, [kind](CipherReader& reader) {
        return kind == ArchiveKind::Folder ? readTar(reader, nullptr, nullptr) : readPlain(reader);
    });
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
    const Status st =
        readPlain(reader, [&writer](const unsigned char* p, std::size_t n) { return writer.write(p, n); });
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
