#include "vault/Rekey.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"

namespace vaultry::vault {
namespace {

constexpr const char* kMagic = "vaultry-rekey 2";
constexpr const char* kCommitted = "committed";

void syncFolder(const fs::path& dir) {
    if (const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

fs::path nextOf(const fs::path& archive) { return archive.string() + ".rekey"; }
fs::path nextManifest(const fs::path& storage) { return nextOf(storage / ArchiveManifest::kFileName); }

struct Journal {
    std::string newVerifier;
    bool committed = false;
};

std::optional<Journal> readJournal(const fs::path& storage) {
    std::ifstream in(storage / kRekeyJournal);
    if (!in) return std::nullopt;
    Journal j;
    std::string magic, mark;
    if (!std::getline(in, magic) || magic != kMagic || !std::getline(in, j.newVerifier)) return Journal{};
    j.committed = std::getline(in, mark) && mark == kCommitted;
    return j;
}

// Written atomically: the journal either is there whole or not at all.
Status writeJournal(const fs::path& storage, const Journal& j) {
    const std::string text = std::string(kMagic) + "\n" + j.newVerifier + "\n" +
                             (j.committed ? std::string(kCommitted) + "\n" : "");
    std::string tmp = (storage / (std::string(kRekeyJournal) + ".XXXXXX")).string();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return fail("cannot write in " + storage.string() + ": " + std::strerror(errno));
    ::fchmod(fd, 0600);
    const bool ok =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), (storage / kRekeyJournal).c_str()) != 0) {
        ::unlink(tmp.c_str());
        return fail("cannot write in " + storage.string());
    }
    syncFolder(storage);
    return {};
}

void dropNewCopies(const fs::path& storage) {
    std::error_code ec;
    for (const auto& archive : archivesIn(storage)) fs::remove(nextOf(archive), ec);
    fs::remove(nextManifest(storage), ec);
    syncFolder(storage);
}

// Phase 2: every new copy replaces its archive.
Status replaceAll(const fs::path& storage) {
    for (const auto& archive : archivesIn(storage)) {
        const fs::path next = nextOf(archive);
        std::error_code ec;
        if (!fs::exists(next, ec)) continue;  // replaced before a crash
        if (::rename(next.c_str(), archive.c_str()) != 0)
            return fail("cannot replace " + archive.filename().string() + ": " + std::strerror(errno));
    }
    // The manifest of the new password comes with its archives.
    std::error_code ec;
    if (fs::exists(nextManifest(storage), ec) &&
        ::rename(nextManifest(storage).c_str(), (storage / ArchiveManifest::kFileName).c_str()) != 0)
        return fail(std::string("cannot replace the archive manifest: ") + std::strerror(errno));
    syncFolder(storage);
    return {};
}

}  // namespace

std::vector<fs::path> archivesIn(const fs::path& storage) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(storage, ec)) {
        const auto ext = e.path().extension();
        if ((ext == ".enc" || ext == ".gz") && e.is_regular_file(ec)) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

Status changeArchivesPassword(const fs::path& storage, std::string_view oldPass, std::string_view newPass,
                              const std::string& newVerifier) {
    if (readJournal(storage)) return fail("an earlier password change is not settled yet; restart Vaultry");
    const auto archives = archivesIn(storage);
    auto oldManifest = ArchiveManifest::open(storage, oldPass);
    if (!oldManifest) return oldManifest.error();
    // Every archive is checked against the manifest (or, not recorded yet, must open in exactly
    // one way) before anything is written: a changed archive, or one whose derivation is
    // uncertain, is never re-encrypted, and the change is refused naming it.
    std::vector<Opening> ways;
    std::string unopened, changed, uncertain;
    for (const auto& archive : archives) {
        const std::string name = archive.filename().string();
        Opening how = oldManifest->openingFor(name);
        auto opened = verifyArchive(archive, archiveKindOf(archive), oldPass, how);
        if (!opened) {
            const std::string& why = opened.error().message;
            std::string& list = why == kChangedOrDamaged ? changed
                                : why == kOpensTwoWays   ? uncertain
                                                         : unopened;
            list += (list.empty() ? "" : ", ") + name;
        } else {
            how.derivation = opened->derivation;
            if (how.macs.empty() && opened->mac) how.macs.push_back(*opened->mac);
        }
        ways.push_back(how);
    }
    if (!changed.empty())
        return fail("these archives were changed or damaged and were left as they are: " + changed);
    if (!uncertain.empty())
        return fail(
            "these archives open in more than one way, so they were left under the current "
            "password; decrypt them and keep the right reading first: " +
            uncertain);
    if (!unopened.empty()) return fail("these archives do not open with the current password: " + unopened);
    if (archives.empty()) {
        // Nothing is recorded that matters; the next archive starts a manifest for the new password.
        std::error_code ec;
        fs::remove(storage / ArchiveManifest::kFileName, ec);
        return {};
    }

    auto newManifest = ArchiveManifest::fresh(newPass);
    if (!newManifest) return newManifest.error();
    if (auto st = writeJournal(storage, {newVerifier, false}); !st) return st;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const auto& archive = archives[i];
        std::error_code ec;
        fs::remove(nextOf(archive), ec);
        auto made = reencryptArchive(archive, archiveKindOf(archive), oldPass, newPass, nextOf(archive),
                                     ways[i], newManifest->macKey());
        if (!made) {
            dropNewCopies(storage);
            finishRekey(storage);
            return fail(archive.filename().string() + ": " + made.error().message);
        }
        newManifest->set(archive.filename().string(), *made);
    }
    if (auto st = newManifest->saveAs(nextManifest(storage)); !st) {
        dropNewCopies(storage);
        finishRekey(storage);
        return st;
    }
    if (auto st = writeJournal(storage, {newVerifier, true}); !st) {
        dropNewCopies(storage);
        finishRekey(storage);
        return st;
    }
    return replaceAll(storage);
}

std::optional<std::string> recoverRekey(const fs::path& storage) {
    auto j = readJournal(storage);
    if (!j) return std::nullopt;
    if (!j->committed || j->newVerifier.empty()) {
        dropNewCopies(storage);
        finishRekey(storage);
        return std::nullopt;
    }
    if (auto st = replaceAll(storage); !st) return std::nullopt;  // tried again at the next start
    return j->newVerifier;
}

void finishRekey(const fs::path& storage) {
    std::error_code ec;
    fs::remove(storage / kRekeyJournal, ec);
    syncFolder(storage);
}

}  // namespace vaultry::vault
