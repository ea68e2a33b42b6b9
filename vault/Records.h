#pragma once
#include <string>
#include <string_view>
#include <vector>

// A vault record is one absolute path. An encrypted file's record is its path plus ".enc", an
// encrypted folder's its path plus ".tar.gz"; a hidden item's record is its own path, whatever its
// name. So the name alone cannot tell a hidden "backup.tar.gz" from an archive: each record's kind
// is kept beside the lists ("VaultryRecordKinds", one "<kind> <record>" entry each), and records
// of lists written before that are settled from the file system and the integrity manifest.
namespace vaultry {
class Preferences;
}

namespace vaultry::vault {

enum class RecordKind { Hidden, EncryptedFile, EncryptedFolder };

// The kind kept for the record; for a record not settled yet (its archive and its item both
// away), the kind its name suggests.
RecordKind recordKind(std::string_view record);
bool isEncrypted(std::string_view record);

// The entry that keeps a record's kind, and every entry a record may have (to drop them all).
std::string kindEntry(RecordKind kind, std::string_view record);
std::vector<std::string> kindEntriesOf(std::string_view record);
// Takes in the kinds kept with the lists (entries that do not parse are skipped), and one kind
// just given to a record. Shared by the whole process, as the settings file is.
void learnRecordKinds(const std::vector<std::string>& entries);
void learnRecordKind(std::string_view record, RecordKind kind);
// For the records that have no kind entry (lists of earlier versions), the entries that settle
// them: hidden when the record names an item that exists (an archive's record never does), or
// when its name is not an archive's; encrypted when its archive is in the storage folder or in the
// integrity manifest and no other record claims that archive. A record that cannot be decided yet
// gets no entry.
std::vector<std::string> settleRecordKinds(std::string_view storage, const std::vector<std::string>& records,
                                           const std::vector<std::string>& entries);
// Takes in the kinds kept with the lists, and settles those of `records` that have none (lists of
// earlier versions): the settled entries are written, so that each is decided once. Run at every
// start and whenever the lists are read again, as another process may have added records. A
// failure to write them leaves them decided for this process only.
void learnKinds(Preferences& prefs, std::string_view storage, const std::vector<std::string>& records);
// For an encrypted record, the first other encrypted record of `records` that resolves to the
// same archive ("" when none): an archive belongs to one record only.
std::string archiveClaimant(std::string_view record, const std::vector<std::string>& records);

std::string lastComponent(std::string_view path);
// The name or path with its last extension removed ("plan.txt.enc" gives "plan.txt").
std::string deletingExtension(std::string_view path);

// Paths derived from a record; storage is the storage folder in use.
std::string archivePath(std::string_view storage, std::string_view record);
// Encrypted folder: storage + last component less two extensions. Encrypted file: the record
// less its last extension, where the file was before encryption.
std::string plaintextCopyPath(std::string_view storage, std::string_view record);
// The names in `folder` the vault works with where they stand: hidden items, and the decrypted
// copies of unlocked files (which are written in their item's place).
std::vector<std::string> vaultNamesIn(const std::string& folder, const std::vector<std::string>& records,
                                      const std::vector<std::string>& decrypted);
std::string thumbnailPath(std::string_view storage, std::string_view record);
std::string displayName(std::string_view record);

// The records an encryption adds: folder.tar.gz or file.enc beside the item.
std::string encryptedRecordFor(std::string_view itemPath, bool isFolder);

}  // namespace vaultry::vault
