#pragma once
#include <filesystem>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "util/Result.h"
#include "vault/Archive.h"

// The integrity manifest of a storage folder: for every archive, the key derivation it was
// written with and an HMAC-SHA256 over all of its bytes. It lives in the storage folder as
// ".vaultry-integrity" (0600, written atomically):
//
//   vaultry-integrity 1
//   key pbkdf2-sha256 <rounds> <salt hex> <check hex>
//   archive <mac hex> <derivation> <rounds> <name hex> [<pending mac hex>]
//   ...
//   seal <hex>
//
// The MAC key is not the archives' encryption key: PBKDF2-HMAC-SHA256 of the pass phrase with the
// manifest's own salt gives a master key, and HKDF-Expand (SHA-256) gives from it one key for the
// archive MACs and one for the manifest itself. "check" proves the pass phrase (so a wrong one is
// told apart from a changed archive with certainty); "seal" covers every line above it, so that
// an entry cannot be dropped or altered to make an archive pass as an older, unchecked one.
namespace vaultry::vault {

namespace fs = std::filesystem;

inline constexpr const char* kManifestChanged =
    "the archive manifest of the storage folder (.vaultry-integrity) was changed or damaged";
inline constexpr const char* kWrongPassForManifest = "the password does not open this storage folder";
inline constexpr const char* kIntegrityReplaced =
    "the integrity record is missing or was replaced, so no archive can be trusted; check them and "
    "write a new one with vaultry-cli vault verify --reseal";
// "<name> is not in the integrity record, so it is unverified ..."
std::string unverifiedArchive(const std::string& archiveName);

// Where the manifest's identity (its salt and the digest of its sealed text) is kept: the
// settings, out of reach of whoever can write only the storage folder. A manifest that is missing,
// or is not the one recorded, is not trusted: deleting or swapping it cannot switch the checks off.
class IntegrityKeeper {
public:
    virtual ~IntegrityKeeper() = default;
    // The identities the manifest may have: the one recorded, and the one a write in progress
    // announced. Empty when none is recorded yet (a vault of an earlier version).
    virtual std::vector<std::string> expected() = 0;
    // Whether an identity is recorded, not only announced: none is while the first manifest's
    // write has not settled.
    virtual bool recorded() = 0;
    // Before a new manifest is put in place: it is accepted from now on.
    virtual Status announce(const std::string& next) = 0;
    // Once it is in place: it is the one recorded.
    virtual Status settle(const std::string& current) = 0;
    // The storage folder has no manifest any more (no archives left): none is recorded.
    virtual Status reset() = 0;
    // Tells the user what an upgrade did.
    virtual void tell(const std::string& message) = 0;
    // The verifier of the pass phrase this process works with; a manifest sealed with it is
    // refused once the stored password is another (changed by another process meanwhile).
    virtual void unlockedWith(const std::string& verifier) { (void)verifier; }
    virtual Status stillUnlocked() { return {}; }
};

class ArchiveManifest {
public:
    static constexpr const char* kFileName = ".vaultry-integrity";
    // Archives deleted while no pass phrase was at hand (an encryption cut short, settled at the
    // next start), one hex name a line: their entries go when the manifest is next opened with it,
    // each only while its archive is still absent.
    static constexpr const char* kDiscardedFile = ".vaultry-discarded";
    static Status noteDiscarded(const fs::path& storage, const std::string& archiveName);

    struct Entry {
        Derivation derivation;
        Mac mac{};
        std::optional<Mac> pending;  // the next archive while it replaces this one
    };

    // Reads the manifest of `storage` and derives its keys from `pass`. A storage folder without
    // one gets an empty manifest with a fresh salt (written at the first save). An error when the
    // pass phrase is not the one the manifest was made with, or the manifest was altered.
    static Result<ArchiveManifest> open(const fs::path& storage, std::string_view pass);
    // Forgets every key derived from a pass phrase and kept for the next operation (archive keys
    // too), as when the pass phrase itself is forgotten.
    static void forgetKeys();
    // An empty manifest with a fresh salt, for a new pass phrase.
    static Result<ArchiveManifest> fresh(std::string_view pass);
    // The keeper of the manifest's identity for this process (the GUI and vaultry-cli install the
    // settings); returns the one before. Without one, nothing is checked against an identity and
    // archives the manifest does not know are taken in once they open (as before manifests).
    static IntegrityKeeper* useKeeper(IntegrityKeeper* keeper);
    static IntegrityKeeper* keeper();
    // The identity of a manifest's text: "<salt hex> <SHA-256 of the text hex>".
    static std::string identityOf(std::string_view text);

    const Entry* find(const std::string& archiveName) const;
    // How to open the named archive: its derivation and MACs when recorded, the MAC key always.
    Opening openingFor(const std::string& archiveName) const;
    const MacKey& macKey() const { return macKey_; }
    std::size_t size() const { return entries_.size(); }
    std::vector<std::string> names() const;
    // True when an archive the manifest does not know may be taken in once it opens: only without
    // a keeper. With one, such an archive is unverified until the user re-seals.
    bool adoptsUnknown() const { return !checked_; }

    void set(const std::string& archiveName, const Opened& opened);
    void setPending(const std::string& archiveName, const Mac& next);
    void erase(const std::string& archiveName);

    // Writes the manifest to `storage`, after taking in what another process recorded since it
    // was read (this one's entries win). An entry leaves only through erase(): an archive that is
    // away for a while (a copy being restored, a drive) keeps it, so that an older copy coming
    // back is checked, not trusted.
    Status save(const fs::path& storage);
    // Writes it to `storage` as it is, replacing whatever manifest is there, and records its
    // identity (announced before the write, settled after it).
    Status writeSealed(const fs::path& storage) const;
    // Writes it, as it is, to the file `path` (the manifest of a password change in progress).
    Status saveAs(const fs::path& path) const;

    std::string serialize() const;

private:
    Status parse(std::string_view text, std::map<std::string, Entry>& into, bool checkKeyLine) const;
    void adoptEarlierArchives(const fs::path& storage, std::string_view pass);
    void dropDiscarded(const fs::path& storage);

    std::string salt_;  // raw bytes
    std::uint32_t rounds_ = kPbkdf2Iterations;
    MacKey macKey_, sealKey_;
    std::map<std::string, Entry> entries_;
    std::map<std::string, bool> touched_;  // set (true) or erased (false) here since it was read
    bool checked_ = false;                 // opened under a keeper
};

}  // namespace vaultry::vault
