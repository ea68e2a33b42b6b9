#include "vault/Records.h"

#include <filesystem>

#include "desktop/FileKind.h"

namespace vaultry::vault {

RecordKind recordKind(std::string_view record) {
    const std::string ext = pathExtension(record);
    if (ext == "enc") return RecordKind::EncryptedFile;
    if (ext == "gz") return RecordKind::EncryptedFolder;
    return RecordKind::Hidden;
}

bool isEncrypted(std::string_view record) { return recordKind(record) != RecordKind::Hidden; }

std::string lastComponent(std::string_view path) {
    std::filesystem::path p{std::string(path)};
    if (!p.has_filename()) p = p.parent_path();
    return p.filename().string();
}

std::string deletingExtension(std::string_view path) {
    const std::string ext = pathExtension(path);
    std::string out(path);
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    if (!ext.empty()) out.resize(out.size() - ext.size() - 1);
    return out;
}

static std::string join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    out += '/';
    out += name;
    return out;
}

std::string archivePath(std::string_view storage, std::string_view record) {
    return join(storage, lastComponent(record));
}

std::string plaintextCopyPath(std::string_view storage, std::string_view record) {
    if (recordKind(record) == RecordKind::EncryptedFolder)
        return join(storage, deletingExtension(deletingExtension(lastComponent(record))));
    return deletingExtension(record);
}

std::string thumbnailPath(std::string_view storage, std::string_view record) {
    return join(join(storage, "libdata"), deletingExtension(deletingExtension(lastComponent(record))));
}

std::string displayName(std::string_view record) {
    const std::string name = lastComponent(record);
    switch (recordKind(record)) {
        case RecordKind::EncryptedFile:
            return deletingExtension(name);
        case RecordKind::EncryptedFolder:
            return deletingExtension(deletingExtension(name));
        case RecordKind::Hidden:
            break;
    }
    return name;
}

std::string encryptedRecordFor(std::string_view itemPath, bool isFolder) {
    std::string out(itemPath);
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out + (isFolder ? ".tar.gz" : ".enc");
}

}  // namespace vaultry::vault
