#pragma once
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Progress.h"
#include "util/Result.h"
#include "vault/Archive.h"
#include "vault/SafeRemoval.h"
#include "vault/Temporaries.h"

// The steps of encrypting and decrypting one vault item, shared by the GUI flows and the CLI.
namespace vaultry::vault {

struct ItemArchive {
    std::filesystem::path item;     // the item, normalised
    std::filesystem::path archive;  // storage + "/" + name + ".enc" or ".tar.gz"
    std::string record;             // the item's folder + "/" + the archive's name
    bool folder = false;
    Snapshot packed;  // what the archive holds, as writeArchive found it
    // The archive's entry in the journal, from before it is written until the item is recorded
    // (or the archive is gone): held while this plan lives, so that a run killed before the
    // record was saved leaves an archive the next start removes.
    std::shared_ptr<Temporary> intent;
};

// Where an item's archive goes; an error when the item does not exist, is a symbolic link or a
// file with other hard links (its contents would stay behind under the other name).
Result<ItemArchive> planArchive(const std::string& itemPath, const std::string& storage);

// The kind of archive `item` becomes: a folder's for a folder (not through a link), else a file's.
ArchiveKind archiveKindToWrite(const std::filesystem::path& item);

// Writes the archive (created 0600 in a 0700 storage folder), reads it back completely with
// `pass` and records its MAC in the storage folder's manifest. The item must stay as it is while
// it is packed (else the archive is dropped); what it was is kept in `plan.packed`. On any failure
// no archive is left. The item itself is not touched. Two steps go to `progress`: "Encrypting
// <name>" (bytes of the item) and "Checking <name>" (bytes of the archive); cancelled, it leaves no
// archive and the manifest as it was.
Status writeArchive(ItemArchive& plan, std::string_view pass, Progress& progress = Progress::none());
// Decrypts an archive of the storage folder into `target`: for a file archive the file to write,
// for a folder archive the folder to unpack into. The manifest is checked first: a changed
// archive is refused (kChangedOrDamaged) and nothing is written. An archive the manifest does not
// know yet is opened as before and then recorded. A file archive that opens under more than one
// derivation is left as it is: each reading is written beside `target`, and the error names them.
// The step "Decrypting <name>" counts the bytes of the archive read; cancelled, nothing is written.
// With `written`, what is written is hashed on its way (CopyDigest.h).
Status openArchiveInto(const std::filesystem::path& storage, const std::filesystem::path& archive,
                       const std::filesystem::path& target, std::string_view pass,
                       Progress& progress = Progress::none(), WrittenFiles* written = nullptr);

// Checks an archive against the manifest and by decrypting it completely, writing nothing; an
// archive the manifest does not know yet is recorded once it opens.
Status checkArchive(const std::filesystem::path& storage, const std::filesystem::path& archive,
                    std::string_view pass, Progress& progress = Progress::none());

// Confirms that an archive the manifest knows is still the one that was verified when it was
// written: its MAC is compared, nothing is decrypted. One the manifest does not know is checked
// as checkArchive does.
Status confirmArchive(const std::filesystem::path& storage, const std::filesystem::path& archive,
                      std::string_view pass, Progress& progress = Progress::none());

// Checks every archive of the storage folder (or those named) and returns one line per archive
// that does not hold: "name: reason". An error only when the check cannot begin.
Result<std::vector<std::string>> checkArchives(const std::filesystem::path& storage,
                                               const std::vector<std::filesystem::path>& archives,
                                               std::string_view pass);

// Checks every archive the vault knows of: those of the encrypted records, those the manifest
// records and those in the storage folder. One line per archive that does not hold, a missing
// one included ("name: missing"). An entry of the manifest whose archive is gone and that no
// record names leaves the manifest unreported. An error only when the check cannot begin.
Result<std::vector<std::string>> checkVault(const std::filesystem::path& storage,
                                            const std::vector<std::string>& records, std::string_view pass);

// Deletes an archive Vaultry made and no longer needs, and takes its entry out of the manifest
// (the only way an entry leaves it). Without the pass phrase the manifest cannot be sealed again:
// the archive goes and the error says that its entry stayed.
Status discardArchive(const std::filesystem::path& storage, const std::filesystem::path& archive,
                      std::optional<std::string_view> pass);

// Re-seals the storage folder: once every archive in it opens completely with `pass`, a fresh
// manifest of them is written and its identity recorded. Lines for the archives that do not open
// (nothing is written then); an error when it cannot begin.
Result<std::vector<std::string>> resealArchives(const std::filesystem::path& storage, std::string_view pass);

// Puts a new archive, written and verified at `next`, in place of `archive`, keeping the manifest
// in step: while the rename happens the manifest accepts both. Cancelled while `next` is checked,
// nothing is replaced.
Status replaceArchive(const std::filesystem::path& storage, const std::filesystem::path& archive,
                      const std::filesystem::path& next, std::string_view pass,
                      Progress& progress = Progress::none());

// Removes the item once its archive is verified and recorded, all or nothing, and only when it
// is still exactly what was packed. On an error the item is in its place, untouched.
Status removeOriginal(const ItemArchive& plan);

// A plaintext copy just written, and its entry in the journal (held while this lives).
struct DecryptedCopy {
    std::string path;
    Snapshot written;                  // as it was unpacked
    std::optional<Identity> identity;  // its top object
    std::string digest;                // copyDigest as it was unpacked
    std::shared_ptr<Temporary> intent;
    const std::string& operator*() const { return path; }
};

// Writes the plaintext copy of an encrypted record (a file where it was, a folder into the
// storage folder) and returns it. Nothing is overwritten; a failure writes nothing. The copy is
// written down in the journal before it appears: until the caller has listed it as decrypted and
// called keepCopy (or takeBackCopy), a run killed meanwhile leaves a copy the next start lists or
// reports, never one nobody knows of.
Result<DecryptedCopy> decryptRecord(const std::string& record, const std::string& storage,
                                    std::string_view pass, Progress& progress = Progress::none());
// The record is listed as decrypted: the copy manifest learns the copy (its digest and object),
// and the journal entry goes.
Status keepCopy(const std::string& storage, const std::string& record, DecryptedCopy& copy);
// The record could not be listed: the copy goes again, while it is still as it was written. When
// it cannot, its entry stays, so that the next start reports it.
Status takeBackCopy(const std::string& storage, DecryptedCopy& copy);

}  // namespace vaultry::vault
