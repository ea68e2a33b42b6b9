#pragma once
#include <string>
#include <string_view>

// A vault record is one absolute path; its last extension alone tells its kind: "enc" is an
// encrypted file, "gz" an encrypted folder, anything else an item hidden in place.
namespace vaultry::vault {

enum class RecordKind { Hidden, EncryptedFile, EncryptedFolder };

RecordKind recordKind(std::string_view record);
bool isEncrypted(std::string_view record);

std::string lastComponent(std::string_view path);
// The name or path with its last extension removed ("plan.txt.enc" gives "plan.txt").
std::string deletingExtension(std::string_view path);

// Paths derived from a record; storage is the storage folder in use.
std::string archivePath(std::string_view storage, std::string_view record);
// Encrypted folder: storage + last component less two extensions. Encrypted file: the record
// less its last extension, where the file was before encryption.
std::string plaintextCopyPath(std::string_view storage, std::string_view record);
std::string thumbnailPath(std::string_view storage, std::string_view record);
std::string displayName(std::string_view record);

// The records an encryption adds: folder.tar.gz or file.enc beside the item.
std::string encryptedRecordFor(std::string_view itemPath, bool isFolder);

}  // namespace vaultry::vault
