#include "flows/Records.h"

#include <filesystem>
#include <optional>

#include "util/NoLinkPath.h"
#include "util/TestPause.h"
#include "vault/VaultItems.h"
#include "vault/VaultList.h"

namespace vaultry::flows {

namespace fs = std::filesystem;

namespace {

// Deletes an archive that is not to stay; why it could not, or empty.
std::string withdraw(const std::string& storage, const fs::path& archive, std::string_view pass) {
    auto gone = vault::discardArchive(storage, archive, pass);
    return gone ? std::string() : gone.error().message;
}

template <typename T>
T ended(Outcome outcome, std::string message = {}) {
    T t;
    t.outcome = outcome;
    t.message = std::move(message);
    return t;
}

// Cancelled or failed, as the error says.
template <typename T>
T stopped(const Error& error) {
    return ended<T>(error.cancelled ? Outcome::Cancelled : Outcome::Failed, error.message);
}

}  // namespace

Encrypted encryptItem(const std::string& path, const std::string& storage, std::string_view pass,
                      VaultLists& lists, Preferences prefs, platform::Bookmarks& bookmarks,
                      const RunLongWork& run) {
    const auto plain = pathWithoutLinks(path);
    if (!plain) return ended<Encrypted>(Outcome::Refused, plain.error().message);
    auto plan = vault::planArchive(plain->string(), storage);
    if (!plan) return ended<Encrypted>(Outcome::Refused, plan.error().message);
    auto done = ended<Encrypted>(Outcome::Done);
    done.record = plan->record;
    // Never written over: it holds another item's data (or will, when its drive is back).
    std::error_code ec;
    const bool present = fs::symlink_status(plan->archive, ec).type() != fs::file_type::not_found;
    if (!present) done.other = vault::archiveClaimant(plan->record, lists.records());
    if (present || !done.other.empty()) {
        done.outcome = Outcome::Taken;
        done.record = plan->archive.string();
        return done;
    }

    Status written;
    run("Encrypting", [&](Progress& progress) { written = vault::writeArchive(*plan, pass, progress); });
    if (!written) return stopped<Encrypted>(written.error());
    const fs::path& archive = plan->archive;
    for (const std::string& granted :
         {archive.string(), plan->item.string(), plan->item.parent_path().string()})
        if (auto grant = bookmarks.create(granted)) prefs.setItemGrant(granted, *grant);
    // No thumbnail is made: anything drawn from the item's content would lie unencrypted beside
    // its archive.
    const auto kind = plan->folder ? vault::RecordKind::EncryptedFolder : vault::RecordKind::EncryptedFile;
    vault::learnRecordKind(plan->record, kind);
    testPause("encrypt-record");
    // Recorded before the original goes, so that a crash leaves nothing unaccounted for. An item
    // that could not be recorded keeps its original, and its archive goes.
    if (!lists.add(plan->record, kind)) {
        done.outcome = Outcome::NotListed;
        done.problem = withdraw(storage, archive, pass);
        return done;
    }
    testPause("encrypt-recorded");
    if (plan->intent) (void)plan->intent->markRecorded();
    if (auto st = vault::removeOriginal(*plan); !st) {
        done.message = st.error().message;
        // The original stays as it is (changed since it was packed, or not removable), so the
        // archive, which may be older than it, is withdrawn rather than kept beside it.
        if (lists.remove(plan->record)) {
            done.outcome = Outcome::Kept;
            done.problem = withdraw(storage, archive, pass);
            return done;
        }
        // Listed with its archive: the next start finishes the encryption, or withdraws it when
        // the item changed meanwhile.
        if (plan->intent) plan->intent->keepForSweep();
        done.outcome = Outcome::KeptBoth;
    }
    return done;
}

Decrypted decryptItem(const std::string& record, const std::string& storage, std::string_view pass,
                      VaultLists& lists, const RunLongWork& run) {
    std::optional<Result<vault::DecryptedCopy>> decrypted;
    run("Decrypting",
        [&](Progress& progress) { decrypted = vault::decryptRecord(record, storage, pass, progress); });
    auto& copy = *decrypted;
    if (!copy) return stopped<Decrypted>(copy.error());
    auto done = ended<Decrypted>(Outcome::Done);
    done.copy = copy->path;
    testPause("decrypt-list");
    if (!lists.markDecrypted(record)) {
        // Unlisted, the copy would stay in plain while the vault shows the item locked: it goes.
        done.outcome = Outcome::NotListed;
        if (auto back = vault::takeBackCopy(storage, *copy); !back) done.problem = back.error().message;
        return done;
    }
    if (auto st = vault::keepCopy(storage, record, *copy); !st) done.problem = st.error().message;
    return done;
}

Locked lockItem(const std::string& record, const std::string& storage, std::optional<std::string_view> pass,
                vault::CopyManifest& manifest, VaultLists& lists, const RunLongWork& run) {
    auto done = ended<Locked>(Outcome::Done);
    std::optional<Result<vault::Locked>> result;
    vault::Temporary unlisting;  // held until the list no longer names the record
    run("Locking", [&](Progress& progress) {
        result = vault::lockCopy(storage, record, pass, manifest, unlisting, &done.leftover, progress);
    });
    if (!*result) return stopped<Locked>(result->error());
    if (!lists.unmarkDecrypted(record)) unlisting.keepForSweep();  // the next start unlists it
    return done;
}

Removed removeItem(const std::string& record, const std::string& storage, bool decrypted,
                   std::optional<std::string_view> pass, vault::CopyManifest& manifest, VaultLists& lists) {
    auto done = ended<Removed>(Outcome::Done);
    // An archive that another record names too is not this record's to unpack or delete.
    done.other = vault::archiveClaimant(record, lists.records());
    const bool ownsArchive = vault::isEncrypted(record) && done.other.empty();
    // Never a path formed without a storage folder.
    const bool deletesArchive = ownsArchive && !storage.empty();
    const fs::path archive = deletesArchive ? fs::path(vault::archivePath(storage, record)) : fs::path();
    // The archive is deleted below: never one whose path depends on a link.
    if (deletesArchive)
        if (const auto plain = pathWithoutLinks(archive.string()); !plain)
            return ended<Removed>(Outcome::Refused, plain.error().message);
    // The archive goes only once the plaintext is where the user expects it: restored from the
    // archive, or the unlocked copy, checked and (a folder's) moved beside its record.
    if (ownsArchive) {
        auto restored = vault::plaintextBeforeRemoval(storage, record, decrypted, pass, manifest);
        if (!restored) return ended<Removed>(Outcome::Failed, restored.error().message);
        done.restored = *restored;
    }
    testPause("remove-list");
    // The record leaves every list in one write, or stays in all of them with its archive.
    if (!lists.remove(record)) {
        done.outcome = Outcome::NotListed;
        if (auto back = vault::takeBackRestored(storage, record); !back) done.problem = back.error().message;
        return done;
    }
    vault::restoreSettled(record);
    if (deletesArchive) {
        if (auto gone = vault::discardArchive(storage, archive, pass); !gone)
            done.problem = gone.error().message;
        manifest.erase(record);
    }
    return done;
}

}  // namespace vaultry::flows
