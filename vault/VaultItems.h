#pragma once
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/Result.h"

// The steps of encrypting and decrypting one vault item, shared by the GUI flows and the CLI.
namespace vaultry::vault {

struct ItemArchive {
    std::filesystem::path item;     // the item, normalised
    std::filesystem::path archive;  // storage + "/" + name + ".enc" or ".tar.gz"
    std::string record;             // the item's folder + "/" + the archive's name
    bool folder = false;
};

// Where an item's archive goes; an error when the item does not exist.
Result<ItemArchive> planArchive(const std::string& itemPath, const std::string& storage);

// Writes the archive (created 0600 in a 0700 storage folder) and reads it back completely with
// `pass`. On any failure no archive is left. The item itself is not touched.
Status writeArchive(const ItemArchive& plan, std::string_view pass);

// Removes the item once its archive is verified and recorded.
Status removeOriginal(const ItemArchive& plan);

// Writes the plaintext copy of an encrypted record (a file where it was, a folder into the
// storage folder) and returns its path. Nothing is overwritten; a failure writes nothing.
Result<std::string> decryptRecord(const std::string& record, const std::string& storage,
                                  std::string_view pass);

}  // namespace vaultry::vault
