#pragma once
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Result.h"
#include "vault/SafeRemoval.h"

// The steps of encrypting and decrypting one vault item, shared by the GUI flows and the CLI.
namespace vaultry::vault {

struct ItemArchive {
    std::filesystem::path item;     // the item, normalised
    std::filesystem::path archive;  // storage + "/" + name + ".enc" or ".tar.gz"
    std::string record;             // the item's folder + "/" + the archive's name
    bool folder = false;
    Snapshot packed;  // what the archive holds, as writeArchive found it
};

// Where an item's archive goes; an error when the item does not exist, is a symbolic link or a
// file with other hard links (its contents would stay behind under the other name).
Result<ItemArchive> planArchive(const std::string& itemPath, const std::string& storage);

// Writes the archive (created 0600 in a 0700 storage folder) and reads it back completely with
// `pass`. The item must stay as it is while it is packed (else the archive is dropped); what it
// was is kept in `plan.packed`. On any failure no archive is left. The item itself is not touched.
Status writeArchive(ItemArchive& plan, std::string_view pass);

// Removes the item once its archive is verified and recorded, all or nothing, and only when it
// is still exactly what was packed. On an error the item is in its place, untouched.
Status removeOriginal(const ItemArchive& plan);

// Writes the plaintext copy of an encrypted record (a file where it was, a folder into the
// storage folder) and returns its path. Nothing is overwritten; a failure writes nothing.
Result<std::string> decryptRecord(const std::string& record, const std::string& storage,
                                  std::string_view pass);

}  // namespace vaultry::vault
