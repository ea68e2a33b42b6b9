#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "util/Result.h"

// What Vaultry makes for a while, beside the user's items and in the storage folder (temporary
// files, unpack folders, items set aside, archives not yet recorded, decrypted copies not yet
// listed), is written down before it appears, in the storage folder's journal
// ".vaultry-temporaries": one entry per object, naming its path, its kind and, once made, its
// device and inode. The maker holds an advisory lock on its entry while it works, so a held entry
// means a living owner and a free one an owner that died. Only what an entry names is ever taken
// away, and only while it is still the object that was made: a name alone proves nothing.
namespace vaultry::vault {

namespace fs = std::filesystem;

inline constexpr const char* kTemporariesFolder = ".vaultry-temporaries";

enum class TempKind {
    File,       // a temporary file: deleted
    Folder,     // an unpack folder: deleted
    Aside,      // a folder holding an item set aside: put back, or deleted once it was to go
    Archive,    // an archive not yet recorded: deleted unless its record is in the vault
    Copy,       // a decrypted copy not yet listed: listed when it is the object placed, else reported
    Locking,    // a decrypted copy a lock removes: once it is gone, its record is unlisted
    Restoring,  // a folder's copy a removal moves home: back into the storage folder while listed
};

// The object at a path as the system knows it: its device, inode, type (f, d, l, o) and, for
// files and folders, the inode's generation, which a new object on a reused inode does not share.
struct Identity {
    std::uint64_t dev = 0;
    std::uint64_t ino = 0;
    char type = 'o';
    std::uint64_t generation = 0;  // 0 where the file system does not tell
    bool operator==(const Identity&) const = default;
};
std::optional<Identity> identityOf(const fs::path& path);  // of the path itself, links not followed
std::optional<Identity> identityOfOpen(int fd);            // of an open file
// "<dev> <ino> <type> <generation>", and back (the generation may be missing).
std::string identityText(const Identity& id);
std::optional<Identity> identityFromText(std::string_view text);

// Six random letters and digits, for names of our own.
std::string randomSuffix();

class Temporary {
public:
    // Writes and flushes an entry for `path` (held until this object goes) before the object is
    // made. `record` ties an archive or a copy to its vault record.
    static Result<Temporary> reserve(const fs::path& storage, TempKind kind, const fs::path& path,
                                     const std::string& record = {});

    Temporary();
    Temporary(Temporary&&) noexcept;
    Temporary& operator=(Temporary&&) noexcept;
    ~Temporary();  // the object is gone or in its place: the entry goes

    // Records the made object (and for a copy, the digest of what was unpacked).
    Status made(const Identity& id, const std::string& digest = {});
    // An archive is whole and checked, made of `original` as it was then (`packedSum`, a
    // snapshotSum): once its record is listed, a later start finishes removing the original when
    // it is still that, or withdraws the record when it is not.
    Status notePacked(const fs::path& original, const std::string& packedSum);
    // The vault now knows the object (an archive's record was saved): a later start keeps it
    // whatever the lists it reads say.
    Status markRecorded();
    // The object stays where it is for the next sweep: the entry stays and is let go.
    void keepForSweep();
    bool active() const;
    const fs::path& path() const;
    std::optional<Identity> identity() const;

    struct State;  // held in a registry the archive writer looks reservations up in

private:
    std::unique_ptr<State> s_;
};

// The storage folder whose journal takes what this thread makes, while the scope lives.
class JournalScope {
public:
    explicit JournalScope(const fs::path& storage);
    ~JournalScope();
    JournalScope(const JournalScope&) = delete;
    JournalScope& operator=(const JournalScope&) = delete;
    static fs::path current();

private:
    fs::path previous_;
};

// An object about to appear at `path` under this identity: a reservation for that path records
// it first, so that it never stands there unaccounted for.
void notePlacing(const fs::path& path, const Identity& id);

// Temporary files are made unnamed (O_TMPFILE) and linked in only when complete, where the file
// system allows; tests turn this off to reach the named fallback.
void allowUnnamedFiles(bool allow);
bool unnamedFilesAllowed();

// What the start of a run settles from the journal, after the sweep: an encryption cut short is
// finished or undone (an archive never recorded goes; a recorded one whose original is still
// there has the original removed when it is what was packed, or is withdrawn when it changed),
// decrypted copies never listed are listed, a lock cut short after its copy went is finished (its
// record is unlisted), and a removal cut short after it moved a folder's copy home is undone (the
// copy goes back into the storage folder). `addDecrypted` lists a record as decrypted, `removeDecrypted`
// unlists it and `withdraw` takes a record out of the vault lists (each true when stored). Returns sentences
// for the user about what was found.
std::vector<std::string> settleIntents(const fs::path& storage, const std::vector<std::string>& records,
                                       const std::vector<std::string>& decrypted,
                                       const std::function<bool(const std::string&)>& addDecrypted,
                                       const std::function<bool(const std::string&)>& removeDecrypted,
                                       const std::function<bool(const std::string&)>& withdraw);

// The temporary files and folders the journal of `storage` names, its owners alive or not.
std::vector<fs::path> journaledTemporaries(const fs::path& storage);

namespace detail {
// A free entry of a dead owner, as the sweep reads it.
struct Entry {
    fs::path file;
    TempKind kind = TempKind::File;
    fs::path path;
    std::string record;
    std::optional<Identity> made;
    std::string digest;
    bool recorded = false;
    fs::path original;   // archives: the item packed into it, once the archive was whole
    std::string packed;  // ... and the snapshotSum of it as it was packed
};
// Calls `settle` on each entry of the journal whose owner is gone (the entry held meanwhile); the
// entry goes when it returns true. Entries cut short before they were complete go unasked.
void forEachLeftEntry(const fs::path& storage, const std::function<bool(const Entry&)>& settle);
}  // namespace detail

}  // namespace vaultry::vault
