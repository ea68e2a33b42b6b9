#pragma once
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Result.h"
#include "vault/Temporaries.h"

// What each decrypted plaintext copy looked like when it was written, so that locking can tell an
// edited copy (which must go back into its archive) from an untouched one (which is just removed).
// The manifest lives in the storage folder as ".vaultry-copies" (0600), one line per record:
// the copy's digest in hex, a blank, the record's bytes in hex and, since copies are tied to the
// object that was unpacked, a blank and that object's device, inode and type ("<dev> <ino> <t>").
// Lines without the object still read. It survives restarts of the GUI and is shared with the
// command-line tool.
namespace vaultry::vault {

namespace fs = std::filesystem;

// A SHA-256 digest (hex) over a file's bytes, or over a folder's tree: every entry's relative
// name and type, each file's bytes and each link's target, in name order. What guards archives
// and the storage folder's journals.
Result<std::string> contentSha256(const fs::path& item);

// The same tree as contentSha256 covers, under XXH3-128 (32 hex digits), the files' bytes read on
// every core: what tells an edited decrypted copy from an untouched one. It guards against
// nothing made on purpose (a changed copy only ever makes locking pack it again). Copies recorded
// by earlier versions with a SHA-256 digest count as changed, and are packed again once.
// With `written`, the files the copy holds as they were unpacked are taken from it, not read.
class WrittenFiles;
Result<std::string> copyDigest(const fs::path& copy, const WrittenFiles* written = nullptr);

class CopyManifest {
public:
    static constexpr const char* kFileName = ".vaultry-copies";

    // Reads the manifest of a storage folder; a missing or unreadable file is an empty manifest.
    static CopyManifest load(const fs::path& storage);
    // Lines that are not "<digest> <hex>" are skipped; a digest is 32 or 64 hex digits.
    static CopyManifest parse(std::string_view bytes);
    std::string serialize() const;

    const std::string* find(const std::string& record) const;
    void set(const std::string& record, std::string digest) { entries_[record].digest = std::move(digest); }
    // The object the copy was when it was unpacked; nothing for entries written before it was kept.
    const Identity* identity(const std::string& record) const;
    void setIdentity(const std::string& record, const Identity& id) { entries_[record].identity = id; }
    void erase(const std::string& record) { entries_.erase(record); }
    std::vector<std::string> records() const;
    std::size_t size() const { return entries_.size(); }

    // Writes atomically into the storage folder (temp, fsync, rename), 0600, under the folder's
    // lock. Only this manifest's changes since load() are written over what the file holds then,
    // so two processes saving at once keep each other's records.
    Status save(const fs::path& storage) const;

private:
    struct Entry {
        std::string digest;
        std::optional<Identity> identity;
        bool operator==(const Entry&) const = default;
    };
    std::map<std::string, Entry> entries_;         // by record
    mutable std::map<std::string, Entry> loaded_;  // as load() found them, or as last saved
};

}  // namespace vaultry::vault
