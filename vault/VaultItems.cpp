#include "vault/VaultItems.h"

#include "vault/Archive.h"
#include "vault/Records.h"
#include "vault/StorageFolder.h"

namespace vaultry::vault {

namespace fs = std::filesystem;

Result<ItemArchive> planArchive(const std::string& itemPath, const std::string& storage) {
    ItemArchive plan;
    plan.item = fs::path(itemPath).lexically_normal();
    if (!plan.item.has_filename()) plan.item = plan.item.parent_path();
    std::error_code ec;
    const auto status = fs::symlink_status(plan.item, ec);
    if (ec || status.type() == fs::file_type::not_found) return fail(itemPath + " no longer exists");
    // Encrypting a link would pack what it points to and delete only the link, leaving the
    // plaintext where it is; so would a file that has other names.
    if (fs::is_symlink(status))
        return fail(itemPath + " is a symbolic link; encrypt the item it points to instead");
    if (fs::is_regular_file(status) && fs::hard_link_count(plan.item, ec) > 1)
        return fail(itemPath + " has other hard links; its contents would stay under the other names");
    plan.folder = fs::is_directory(status);
    if (plan.folder) {
        // Packing the storage folder, or a folder around it, would pack the archive being written.
        const fs::path item = fs::weakly_canonical(plan.item, ec);
        const fs::path store = fs::weakly_canonical(storage, ec);
        const auto rel = store.lexically_relative(item);
        if (!rel.empty() && *rel.begin() != "..")
            return fail(itemPath + " holds the storage folder and cannot be encrypted into it");
    }
    plan.archive = fs::path(storage) / (plan.item.filename().string() + (plan.folder ? ".tar.gz" : ".enc"));
    const std::string parent = plan.item.parent_path().string();
    plan.record = (parent == "/" ? "" : parent) + "/" + plan.archive.filename().string();
    return plan;
}

Status writeArchive(ItemArchive& plan, std::string_view pass) {
    if (auto st = ensurePrivateFolder(plan.archive.parent_path()); !st) return st;
    auto before = takeSnapshot(plan.item);
    if (!before) return before.error();
    if (!before->linkedElsewhere.empty())
        return fail(plan.item.string() + " holds " + before->linkedElsewhere.front() +
                    ", which has hard links outside it; its contents would stay under the other names");
    const Status made =
        plan.folder ? packFolder(plan.item, plan.archive, pass) : encryptFile(plan.item, plan.archive, pass);
    if (!made) return made;
    // Whatever changed while it was packed may be half in the archive: it is packed again later.
    auto after = takeSnapshot(plan.item);
    if (!after || *after != *before) {
        std::error_code ec;
        fs::remove(plan.archive, ec);
        return fail(plan.item.string() + " changed while it was packed (" +
                    (after ? firstDifference(*before, *after) : after.error().message) +
                    "); it was not encrypted");
    }
    if (auto st = verifyArchive(plan.archive, plan.folder ? ArchiveKind::Folder : ArchiveKind::File, pass);
        !st) {
        std::error_code ec;
        fs::remove(plan.archive, ec);
        return st;
    }
    plan.packed = std::move(*before);
    return {};
}

Status removeOriginal(const ItemArchive& plan) {
    std::optional<fs::path> leftover;
    return removeWhole(plan.item, &plan.packed, &leftover);
}

Result<std::string> decryptRecord(const std::string& record, const std::string& storage,
                                  std::string_view pass) {
    const std::string archive = archivePath(storage, record);
    std::error_code ec;
    if (!fs::exists(archive, ec)) return fail(archive + " is missing");
    const std::string copy = plaintextCopyPath(storage, record);
    if (recordKind(record) == RecordKind::EncryptedFolder) {
        auto placed = unpackFolder(archive, storage, pass);
        if (!placed) return placed.error();
    } else if (auto st = decryptFile(archive, copy, pass); !st) {
        return st.error();
    }
    return copy;
}

}  // namespace vaultry::vault
