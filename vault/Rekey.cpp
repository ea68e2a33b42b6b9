#include "vault/Rekey.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "util/AtomicFile.h"
#include "util/Fd.h"
#include "util/Log.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/CopyManifest.h"
#include "vault/Records.h"
#include "vault/StorageFolder.h"
#include "vault/StorageLock.h"
#include "vault/Temporaries.h"

namespace vaultry::vault {
namespace {

constexpr const char* kMagic = "vaultry-rekey 2";
constexpr const char* kCommitted = "committed";

fs::path nextOf(const fs::path& archive) { return archive.string() + ".rekey"; }
fs::path nextManifest(const fs::path& storage) { return nextOf(storage / ArchiveManifest::kFileName); }

struct Journal {
    std::string newVerifier;
    bool committed = false;
    // The digest of each verified new copy, by archive name: the replace phase puts in place
    // only the bytes that were proven to open with the new password.
    std::map<std::string, std::string> sums;
};

std::optional<Journal> readJournal(const fs::path& storage) {
    std::ifstream in(storage / kRekeyJournal);
    if (!in) return std::nullopt;
    Journal j;
    std::string magic, mark;
    if (!std::getline(in, magic) || magic != kMagic || !std::getline(in, j.newVerifier)) return Journal{};
    j.committed = std::getline(in, mark) && mark == kCommitted;
    for (std::string line; std::getline(in, line);) {
        // "sum <digest> <name>"
        if (line.rfind("sum ", 0) != 0) continue;
        const auto blank = line.find(' ', 4);
        if (blank == std::string::npos) continue;
        j.sums[line.substr(blank + 1)] = line.substr(4, blank - 4);
    }
    return j;
}

// Written atomically: the journal either is there whole or not at all.
Status writeJournal(const fs::path& storage, const Journal& j) {
    std::string text = std::string(kMagic) + "\n" + j.newVerifier + "\n" +
                       (j.committed ? std::string(kCommitted) : std::string("pending")) + "\n";
    for (const auto& [name, sum] : j.sums) text += "sum " + sum + " " + name + "\n";
    return writeFileAtomically(storage / kRekeyJournal, text, 0600);
}

void dropNewCopies(const fs::path& storage) {
    std::error_code ec;
    for (const auto& archive : archivesIn(storage)) fs::remove(nextOf(archive), ec);
    fs::remove(nextManifest(storage), ec);
    syncFolder(storage);
}

// Phase 2: every new copy replaces its archive, once it is shown to be the copy that was verified
// to open with the new password; an archive without a new copy must be that copy already.
Status replaceAll(const fs::path& storage, const Journal& j) {
    const auto sumOf = [](const fs::path& file) {
        auto digest = contentSha256(file);
        return digest ? *digest : std::string();
    };
    for (const auto& archive : archivesIn(storage)) {
        const fs::path next = nextOf(archive);
        const std::string name = archive.filename().string();
        const auto expected = j.sums.find(name);
        std::error_code ec;
        if (!fs::exists(next, ec)) {
            if (expected != j.sums.end() && sumOf(archive) != expected->second)
                return fail(name + " does not open with the new password and has no new copy");
            continue;  // replaced before a crash
        }
        if (expected != j.sums.end() && sumOf(next) != expected->second)
            return fail("the new copy of " + name + " is not the one that was verified");
        if (::rename(next.c_str(), archive.c_str()) != 0)
            return fail("cannot replace " + name + ": " + std::strerror(errno));
    }
    // The manifest of the new password comes with its archives, checked the same way.
    const fs::path manifest = storage / ArchiveManifest::kFileName;
    const auto expected = j.sums.find(ArchiveManifest::kFileName);
    std::error_code ec;
    if (fs::exists(nextManifest(storage), ec)) {
        if (expected != j.sums.end() && sumOf(nextManifest(storage)) != expected->second)
            return fail("the new archive manifest is not the one that was written");
        if (::rename(nextManifest(storage).c_str(), manifest.c_str()) != 0)
            return fail(std::string("cannot replace the archive manifest: ") + std::strerror(errno));
    } else if (expected != j.sums.end() && sumOf(manifest) != expected->second) {
        return fail("the archive manifest is not the one of the new password");
    }
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
                              const std::string& newVerifier, Progress& progress,
                              const std::optional<std::vector<std::string>>& records) {
    auto lock = StorageLock::take(storage);
    if (!lock) return fail(lock.error().message);
    JournalScope scope(storage);  // the new archives' temporary files are written down
    if (readJournal(storage)) return fail("an earlier password change is not settled yet; restart Vaultry");
    const auto archives = archivesIn(storage);
    // Each old key is derived once (the check), each new one once (the new copy): on every core,
    // ahead of the archive at hand, from now on, while the manifest's key is derived too.
    KeysAhead ahead;
    for (std::size_t i = 0; i < archives.size(); ++i) {
        deriveAheadToRead(ahead, i, archives[i], oldPass);
        deriveAheadToWrite(ahead, archives.size() + i, archiveKindOf(archives[i]), newPass);
    }
    ahead.start();
    auto oldManifest = ArchiveManifest::open(storage, oldPass);
    if (!oldManifest) return oldManifest.error();
    // An archive that is away would come back under the old password, and the new manifest would
    // not know it: the change waits until it is back (or removed from the vault).
    std::string away;
    for (const auto& name : oldManifest->names()) {
        std::error_code ec;
        const bool named =
            !records || std::any_of(records->begin(), records->end(), [&](const std::string& r) {
                return isEncrypted(r) && lastComponent(r) == name;
            });
        if (named && !fs::exists(storage / name, ec)) away += (away.empty() ? "" : ", ") + name;
    }
    if (!away.empty()) return fail("these archives are missing from the storage folder: " + away);
    // Every archive is checked against the manifest (or, not recorded yet, must open in exactly
    // one way) before anything is written: a changed archive, or one whose derivation is
    // uncertain, is never re-encrypted, and the change is refused naming it.
    std::uint64_t bytes = 0;
    for (const auto& archive : archives) {
        std::error_code ec;
        const auto size = fs::file_size(archive, ec);
        if (!ec) bytes += size;
    }
    progress.begin("Checking archives", bytes);
    std::vector<Opening> ways;
    std::string unopened, changed, uncertain, unverified;
    for (const auto& archive : archives) {
        ahead.reached(ways.size());
        const std::string name = archive.filename().string();
        Opening how = oldManifest->openingFor(name);
        // Re-encrypted, an unverified archive would be recorded as the vault's own.
        if (how.macs.empty() && !oldManifest->adoptsUnknown()) {
            unverified += (unverified.empty() ? "" : ", ") + name;
            ways.push_back(how);
            continue;
        }
        auto opened = verifyArchive(archive, archiveKindOf(archive), oldPass, how, progress);
        if (progress.cancelled()) return cancelledError();  // nothing written yet
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
    if (!unverified.empty())
        return fail(
            "these archives are not in the integrity record, so they are unverified; check them "
            "with vaultry-cli vault verify --reseal first: " +
            unverified);
    if (archives.empty()) {
        // Nothing is recorded that matters; the next archive starts a manifest for the new password.
        // The settings forget the manifest first: a manifest removed while they still expect it
        // would leave every later archive refused.
        if (IntegrityKeeper* k = ArchiveManifest::keeper())
            if (auto st = k->reset(); !st) return st;
        std::error_code ec;
        fs::remove(storage / ArchiveManifest::kFileName, ec);
        return {};
    }

    auto newManifest = ArchiveManifest::fresh(newPass);
    if (!newManifest) return newManifest.error();
    Journal journal{newVerifier, false, {}};
    if (auto st = writeJournal(storage, journal); !st) return st;
    const auto undo = [&storage](Error e) {
        dropNewCopies(storage);
        finishRekey(storage);
        return e;
    };
    // Each archive is read twice and its new copy once.
    progress.begin("Re-encrypting archives", 3 * bytes);
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const auto& archive = archives[i];
        ahead.reached(archives.size() + i);
        std::error_code ec;
        fs::remove(nextOf(archive), ec);
        // Written, flushed and read back with the new password.
        auto made = reencryptArchive(archive, archiveKindOf(archive), oldPass, newPass, nextOf(archive),
                                     ways[i], newManifest->macKey(), progress);
        if (progress.cancelled()) return undo(cancelledError());
        if (!made) return undo(fail(archive.filename().string() + ": " + made.error().message));
        auto sum = contentSha256(nextOf(archive));
        if (!sum) return undo(fail(archive.filename().string() + ": " + sum.error().message));
        journal.sums[archive.filename().string()] = *sum;
        newManifest->set(archive.filename().string(), *made);
    }
    // The new manifest is held to the same proof as the archives it describes.
    if (auto st = newManifest->saveAs(nextManifest(storage)); !st) return undo(st.error());
    {
        auto sum = contentSha256(nextManifest(storage));
        if (!sum) return undo(sum.error());
        journal.sums[ArchiveManifest::kFileName] = *sum;
    }
    // The new manifest's identity is accepted before it can be put in place, so that a change
    // finished after a crash finds it expected.
    if (IntegrityKeeper* k = ArchiveManifest::keeper()) {
        std::ifstream in(nextManifest(storage), std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        if (auto st = k->announce(ArchiveManifest::identityOf(text.str())); !st) return undo(st.error());
    }
    // The last moment to stop: from the committed journal on, the change is finished.
    if (progress.cancelled()) return undo(cancelledError());
    journal.committed = true;
    if (auto st = writeJournal(storage, journal); !st) return undo(st.error());
    return replaceAll(storage, journal);
}

std::optional<std::string> recoverRekey(const fs::path& storage) {
    // A change whose process is still running is its own business: it holds the lock.
    auto lock = StorageLock::take(storage);
    if (!lock) return std::nullopt;
    auto j = readJournal(storage);
    if (!j) return std::nullopt;
    if (!j->committed || j->newVerifier.empty()) {
        dropNewCopies(storage);
        finishRekey(storage);
        return std::nullopt;
    }
    if (auto st = replaceAll(storage, *j); !st) {
        logLine("password change: " + st.error().message + "; tried again at the next start");
        return std::nullopt;
    }
    return j->newVerifier;
}

bool rekeyPending(const fs::path& storage) {
    std::error_code ec;
    return fs::exists(storage / kRekeyJournal, ec);
}

void finishRekey(const fs::path& storage) {
    std::error_code ec;
    fs::remove(storage / kRekeyJournal, ec);
    syncFolder(storage);
}

void settleInterruptedChanges(const fs::path& storage,
                              const std::function<bool(const std::string& verifier)>& storeVerifier) {
    auto lock = StorageLock::take(storage);
    if (!lock) return;
    if (auto verifier = recoverRekey(storage))
        if (storeVerifier(*verifier)) finishRekey(storage);
    rollBackStorageMove(storage);
}

}  // namespace vaultry::vault
