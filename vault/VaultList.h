#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "util/Progress.h"
#include "util/Result.h"
#include "vault/CopyManifest.h"
#include "vault/Records.h"
#include "vault/Temporaries.h"

// The vault list's work on records and files: kind filters, locking a decrypted item again and
// restoring a locked item's plaintext. No windows here; the controller and the command-line tool
// both call these.
namespace vaultry::vault {

enum class VaultFilter { All, Images, Docs, Medias, Folders, Other };

// A record taken apart without allocating, for lists of many thousands: its kind, its last
// component and the display name (last component less ".enc", or less both extensions of a
// folder archive). The same results as recordKind, lastComponent and displayName.
struct RecordParts {
    RecordKind kind = RecordKind::Hidden;
    std::string_view name;
    std::string_view displayName;
    std::string_view innerExtension;  // of an "enc" record: plan.txt.enc gives "txt"
};
RecordParts splitRecord(std::string_view record);

// "all", "images", "docs", "medias", "folders", "other".
std::optional<VaultFilter> filterNamed(std::string_view name);

// The extension inside an "enc" record: plan.txt.enc gives "txt".
std::string innerExtension(std::string_view record);
bool keepsRecord(VaultFilter filter, std::string_view record);
// The records of `all` the filter keeps, in their order. Hidden items appear only under All.
std::vector<std::string> filterRecords(const std::vector<std::string>& all, VaultFilter filter);

// The plaintext copy of an encrypted record, or nothing when it cannot be formed safely: not an
// encrypted record, a folder record with no storage folder known, or a path at the root.
std::optional<fs::path> safePlaintextCopy(const std::string& storage, const std::string& record);

enum class Locked { CopyRemoved, CopySavedAndRemoved, NoCopy };

// Locks a decrypted item again. A copy whose digest matches the manifest is removed; a copy that
// was changed (or that the manifest does not know) is first encrypted into a new archive, which
// is verified and then put in place of the old one, and only then removed. The removal is all or
// nothing: on failure the copy stays where it is, whole. The manifest entry is dropped on success;
// the caller saves the manifest. `pass` is needed only for a changed copy. When the copy left its
// place but part of it could not be deleted, `leftover` names what stayed (swept at next start).
// Saving a changed copy reports "Encrypting <name>" and "Checking <name>" to `progress`, checking
// the archive of an unchanged one "Checking <name>"; cancelled before the archive was replaced or
// the copy began to go, everything stays as it was and cancelledError() is returned.
// Before the copy goes, `unlisting` receives the journal's note of it: the caller holds it until
// its decrypted list no longer names the record, so that a run killed in between has the record
// unlisted by the next start (or lets it go with keepForSweep when the list cannot be saved).
Result<Locked> lockCopy(const std::string& storage, const std::string& record,
                        std::optional<std::string_view> pass, CopyManifest& manifest, Temporary& unlisting,
                        std::optional<fs::path>* leftover = nullptr, Progress& progress = Progress::none());

// True when locking would have to save the copy into its archive: it exists and the manifest
// does not know it as it is now.
bool copyNeedsSaving(const std::string& storage, const std::string& record, const CopyManifest& manifest);

// Writes the plaintext of a locked item back where it came from: a file to its record without
// ".enc", a folder beside its record. Nothing is overwritten. False when there is no archive to
// restore from. `pass` is needed only when there is an archive.
Result<bool> restorePlaintext(const std::string& storage, const std::string& record,
                              std::optional<std::string_view> pass);

// Before an encrypted item leaves the vault and its archive is deleted, its plaintext is put where
// the user expects it: a file at its record less ".enc", a folder beside its record. A locked item,
// or an unlocked one whose copy is gone, is restored from its archive; an unlocked folder's copy is
// moved out of the storage folder. An unlocked copy that is no longer what was decrypted (the
// manifest does not know it as it is) is refused: it may be damaged, and its archive is what could
// bring it back. False when there is no archive (nothing is lost with it). `pass` is needed only
// when the archive must be opened.
Result<bool> plaintextBeforeRemoval(const std::string& storage, const std::string& record, bool unlocked,
                                    std::optional<std::string_view> pass, const CopyManifest& manifest);
// A file restored by plaintextBeforeRemoval stays written down in the journal as the record's
// copy until its record has left the vault's lists; this says it has (or will stay).
void restoreSettled(const std::string& record);
// The record could not leave the lists: what plaintextBeforeRemoval put in the item's place goes
// again (a copy moved out of the storage folder goes back there), so that the item is as it was.
Status takeBackRestored(const std::string& storage, const std::string& record);
// Whether plaintextBeforeRemoval would open the archive (and so needs the pass phrase).
bool removalNeedsArchive(const std::string& storage, const std::string& record, bool unlocked);

// Takes the digest of a freshly decrypted copy into the manifest of the storage folder.
Status rememberCopy(const std::string& storage, const std::string& record);

// What filling many rows needs, read once: the decrypted records as a set (from the settings
// store).
struct RowLookup {
    std::string storage;
    std::unordered_set<std::string> decrypted;

    static RowLookup take(std::string storage, const std::vector<std::string>& decrypted);
    bool isDecrypted(const std::string& record) const { return decrypted.count(record) > 0; }
};

}  // namespace vaultry::vault
