#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "flows/LongWork.h"
#include "platform/Bookmarks.h"
#include "settings/Preferences.h"
#include "vault/CopyManifest.h"
#include "vault/Records.h"

// Encrypting an item into the vault, decrypting a record, locking its copy again and taking it
// out of the vault: the same for the GUI and vaultry-cli. The caller has checked that the storage
// folder is the vault's and is there, and holds it (vault::StorageLock) for the whole run.
namespace vaultry::flows {

// The vault's lists as the caller keeps them. Each change is written at once; false when the
// settings could not be written, and then the lists are as they were (the caller has told why).
class VaultLists {
public:
    virtual ~VaultLists() = default;
    virtual StringArray records() = 0;
    // The record and its kind.
    virtual bool add(const std::string& record, vault::RecordKind kind) = 0;
    // The record out of the records, their kinds and the decrypted list, in one write.
    virtual bool remove(const std::string& record) = 0;
    // Listed as decrypted, once however often it is decrypted.
    virtual bool markDecrypted(const std::string& record) = 0;
    virtual bool unmarkDecrypted(const std::string& record) = 0;
};

enum class Outcome {
    Done,
    Refused,    // nothing was changed: the item or record cannot be taken (message says why)
    Taken,      // nothing was changed: the archive's name is taken (by `other`'s, when it is named)
    Cancelled,  // nothing was changed
    Failed,     // nothing was changed: the work failed (message says why)
    NotListed,  // the lists could not be written: what was written goes again (`problem`, if it cannot)
    Kept,       // the original could not go (message): it stays and its archive is withdrawn
    KeptBoth,   // as Kept, but the lists could not be written: the archive stays listed too
};

struct Encrypted {
    Outcome outcome = Outcome::Done;
    std::string message;
    std::string record;   // Done: the new record; Taken: the archive
    std::string other;    // Taken: the record whose archive has that name, if one does
    std::string problem;  // an archive that should have gone and did not, and why
};

// Encrypts the item at `path` into the storage folder: the archive is written under a
// temporary name, read back completely, recorded in the lists, and only then does the original
// go. A path whose meaning depends on a link is refused, since the original is deleted. An
// archive's name already in the folder, or named by another record, is never written over.
Encrypted encryptItem(const std::string& path, const std::string& storage, std::string_view pass,
                      VaultLists& lists, Preferences prefs, platform::Bookmarks& bookmarks,
                      const RunLongWork& run);

struct Decrypted {
    Outcome outcome = Outcome::Done;  // Done, Cancelled, Failed or NotListed
    std::string message;
    std::string copy;     // Done: the plaintext copy written
    std::string problem;  // Done: the copy could not be remembered; NotListed: it could not go again
};

// Writes the plaintext copy of the encrypted record and lists it as decrypted. A copy that cannot
// be listed goes again, so that no plaintext lies about while the vault shows the item locked.
Decrypted decryptItem(const std::string& record, const std::string& storage, std::string_view pass,
                      VaultLists& lists, const RunLongWork& run);

struct Locked {
    Outcome outcome = Outcome::Done;  // Done, Cancelled or Failed (the copy stays, whole)
    std::string message;
    // Done: part of the copy that left its place but could not be deleted (swept at next start).
    std::optional<std::filesystem::path> leftover;
};

// Locks the decrypted record again: an edited copy is saved into its archive first, then the
// copy goes and the record leaves the decrypted list. `pass` is needed only for an edited copy
// (vault::copyNeedsSaving); the caller saves `manifest` afterwards. When the list cannot be
// written, the next start unlists the record.
Locked lockItem(const std::string& record, const std::string& storage, std::optional<std::string_view> pass,
                vault::CopyManifest& manifest, VaultLists& lists, const RunLongWork& run);

struct Removed {
    Outcome outcome = Outcome::Done;  // Done, Refused, Failed or NotListed; nothing changed but Done
    std::string message;
    std::string other;      // the record that names the same archive: it stays for that one
    std::string problem;    // Done: the archive could not be deleted; NotListed: the restored copy stayed
    bool restored = false;  // Done: the plaintext was put back from the archive or the copy
};

// Takes the record out of the vault. A locked item's plaintext is put back where it came from
// (an unlocked one's copy stays, a folder's moved beside its record) before its archive goes; a
// hidden item stays hidden. `decrypted`: the record is unlocked. `pass` is needed when the
// archive is opened (vault::removalNeedsArchive) or goes; the caller saves `manifest` afterwards.
Removed removeItem(const std::string& record, const std::string& storage, bool decrypted,
                   std::optional<std::string_view> pass, vault::CopyManifest& manifest, VaultLists& lists);

}  // namespace vaultry::flows
