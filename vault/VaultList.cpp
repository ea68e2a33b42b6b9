#include "vault/VaultList.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include <map>
#include <mutex>
#include <unordered_map>

#include "desktop/FileKind.h"
#include "util/Fd.h"
#include "vault/Archive.h"
#include "vault/CopyDigest.h"
#include "vault/Records.h"
#include "vault/SafeRemoval.h"
#include "vault/Temporaries.h"
#include "vault/VaultItems.h"

namespace vaultry::vault {

std::optional<VaultFilter> filterNamed(std::string_view name) {
    static constexpr std::pair<std::string_view, VaultFilter> kNames[] = {
        {"all", VaultFilter::All},       {"images", VaultFilter::Images},   {"docs", VaultFilter::Docs},
        {"medias", VaultFilter::Medias}, {"folders", VaultFilter::Folders}, {"other", VaultFilter::Other},
    };
    for (const auto& [n, f] : kNames)
        if (n == name) return f;
    return std::nullopt;
}

namespace {

std::string_view nameOf(std::string_view path) {
    while (path.size() > 1 && path.back() == '/') path.remove_suffix(1);
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// As std::filesystem sees it: none for ".", "..", dot files and names without a dot.
std::string_view extensionOf(std::string_view name) {
    if (name == "." || name == "..") return {};
    const auto dot = name.rfind('.');
    if (dot == std::string_view::npos || dot == 0) return {};
    return name.substr(dot + 1);
}

std::string_view lessExtension(std::string_view name) {
    const auto ext = extensionOf(name);
    return ext.empty() ? name : name.substr(0, name.size() - ext.size() - 1);
}

enum class Category { Hidden, Folder, Image, Doc, Media, Other };

Category categoryOfInner(std::string_view inner) {
    const std::string ext(inner);
    if (GetImageType(ext.c_str()) >= 0) return Category::Image;
    if (GetDocumentType(ext.c_str()) >= 0) return Category::Doc;
    if (GetViedoType(ext.c_str()) >= 0) return Category::Media;
    return Category::Other;
}

bool keeps(VaultFilter filter, Category c) {
    switch (filter) {
        case VaultFilter::All:
            return true;
        case VaultFilter::Images:
            return c == Category::Image;
        case VaultFilter::Docs:
            return c == Category::Doc;
        case VaultFilter::Medias:
            return c == Category::Media;
        case VaultFilter::Folders:
            return c == Category::Folder;
        case VaultFilter::Other:
            return c == Category::Other;
    }
    return false;
}

}  // namespace

RecordParts splitRecord(std::string_view record) {
    RecordParts parts;
    parts.name = nameOf(record);
    parts.displayName = parts.name;
    parts.kind = recordKind(record);
    if (parts.kind == RecordKind::EncryptedFile) {
        parts.displayName = lessExtension(parts.name);
        parts.innerExtension = extensionOf(parts.displayName);
    } else if (parts.kind == RecordKind::EncryptedFolder) {
        parts.displayName = lessExtension(lessExtension(parts.name));
    }
    return parts;
}

std::string innerExtension(std::string_view record) {
    return std::string(splitRecord(record).innerExtension);
}

bool keepsRecord(VaultFilter filter, std::string_view record) {
    const RecordParts parts = splitRecord(record);
    if (parts.kind == RecordKind::Hidden) return filter == VaultFilter::All;
    if (parts.kind == RecordKind::EncryptedFolder) return keeps(filter, Category::Folder);
    return keeps(filter, categoryOfInner(parts.innerExtension));
}

std::vector<std::string> filterRecords(const std::vector<std::string>& all, VaultFilter filter) {
    if (filter == VaultFilter::All) return all;
    // The kind tables are searched once per distinct extension, not once per record.
    std::unordered_map<std::string_view, Category> seen;
    std::vector<std::string> out;
    for (const auto& record : all) {
        const RecordParts parts = splitRecord(record);
        Category c = Category::Hidden;
        if (parts.kind == RecordKind::EncryptedFolder) {
            c = Category::Folder;
        } else if (parts.kind == RecordKind::EncryptedFile) {
            auto it = seen.find(parts.innerExtension);
            if (it == seen.end())
                it = seen.emplace(parts.innerExtension, categoryOfInner(parts.innerExtension)).first;
            c = it->second;
        }
        if (c != Category::Hidden && keeps(filter, c)) out.push_back(record);
    }
    return out;
}

std::optional<fs::path> safePlaintextCopy(const std::string& storage, const std::string& record) {
    const RecordKind kind = recordKind(record);
    if (kind == RecordKind::Hidden) return std::nullopt;
    if (kind == RecordKind::EncryptedFolder && storage.empty()) return std::nullopt;
    const fs::path copy = plaintextCopyPath(storage, record);
    if (!copy.is_absolute() || copy.relative_path().empty() || !copy.has_filename()) return std::nullopt;
    const std::string name = copy.filename().string();
    if (name == "." || name == "..") return std::nullopt;
    return copy;
}

namespace {

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::exists(fs::symlink_status(p, ec));
}

std::mutex restoresMutex;
std::map<std::string, Temporary>& pendingRestores() {
    static std::map<std::string, Temporary> restores;
    return restores;
}

// What a removal put in an item's place, until the record has left the lists: the object as it
// was made, or the copy's place in the storage folder it was moved from.
struct Restored {
    fs::path path;
    std::optional<Identity> id;
    std::string digest;
    fs::path movedFrom;
};
std::map<std::string, Restored>& restored() {
    static std::map<std::string, Restored> map;
    return map;
}

void noteRestored(const std::string& record, const fs::path& path, const fs::path& movedFrom = {}) {
    Restored r{path, identityOf(path), {}, movedFrom};
    if (movedFrom.empty())
        if (auto digest = copyDigest(path)) r.digest = *digest;
    std::lock_guard guard(restoresMutex);
    restored()[record] = std::move(r);
}

// Encrypts the copy into a temporary archive beside the old one, verifies it and puts it in place.
Status saveCopyIntoArchive(const fs::path& storage, const std::string& record, const fs::path& copy,
                           std::string_view pass, std::uint64_t bytes, Progress& progress) {
    const fs::path archive = archivePath(storage.string(), record);
    // A name of its own, written down in the journal first: a run cut short leaves nothing that a
    // later one would take for its own by the name.
    const fs::path tmp = storage / ("." + lastComponent(record) + ".relock-" + randomSuffix());
    auto entry = Temporary::reserve(storage, TempKind::File, tmp);
    if (!entry) return entry.error();
    std::error_code ec;
    const ArchiveKind kind =
        recordKind(record) == RecordKind::EncryptedFolder ? ArchiveKind::Folder : ArchiveKind::File;
    progress.begin("Encrypting " + copy.filename().string(), bytes);
    Status written = kind == ArchiveKind::Folder ? packFolder(copy, tmp, pass, progress)
                                                 : encryptFile(copy, tmp, pass, ArchiveKind::File, progress);
    if (written) written = replaceArchive(storage, archive, tmp, pass, progress);
    if (!written) {
        if (const auto id = identityOf(tmp); id && entry->identity() && *id == *entry->identity())
            fs::remove(tmp, ec);
        return written;
    }
    syncFolder(storage);
    return {};
}

const char* kindWord(char type) {
    switch (type) {
        case 'f':
            return "a file";
        case 'd':
            return "a folder";
        case 'l':
            return "a symbolic link";
    }
    return "a special file";
}

// Whether what stands at the copy's place is still the copy that was unpacked: never a link, of
// the record's kind, and the object the manifest noted when it was written. Anything else is not
// the vault's to pack or delete.
Status stillTheCopy(const std::string& record, const fs::path& copy, const CopyManifest& manifest,
                    const char* outcome) {
    const auto now = identityOf(copy);
    if (!now) return fail("cannot read " + copy.string());
    if (now->type == 'l') {
        std::error_code ec;
        return fail(copy.string() + " is now a symbolic link to " + fs::read_symlink(copy, ec).string() +
                    "; " + outcome);
    }
    const char expected = recordKind(record) == RecordKind::EncryptedFolder ? 'd' : 'f';
    if (now->type != expected)
        return fail(copy.string() + " is now " + kindWord(now->type) + ", not the decrypted " +
                    (expected == 'd' ? "folder" : "file") + "; " + outcome);
    if (expected == 'f') {
        // Editors save by writing a new file and renaming it over the old one: a new object, and
        // still the user's copy. A file with other names is another file linked into its place.
        struct stat st {};
        if (::lstat(copy.c_str(), &st) != 0) return fail("cannot read " + copy.string());
        if (st.st_nlink > 1)
            return fail(copy.string() +
                        " now has other hard links (another file was linked into its place); " + outcome);
        return {};
    }
    if (const Identity* was = manifest.identity(record); was && *was != *now)
        return fail(copy.string() +
                    " is no longer the copy that was decrypted (another folder took its place); " + outcome);
    return {};
}

}  // namespace

Result<Locked> lockCopy(const std::string& storage, const std::string& record,
                        std::optional<std::string_view> pass, CopyManifest& manifest, Temporary& unlisting,
                        std::optional<fs::path>* leftover, Progress& progress) {
    if (leftover) leftover->reset();
    if (!isEncrypted(record)) {  // nothing was decrypted for it, so there is nothing to remove
        manifest.erase(record);
        return Locked::NoCopy;
    }
    if (storage.empty()) return fail("the storage folder is not known");
    const auto copy = safePlaintextCopy(storage, record);
    if (!copy) return fail("no decrypted copy can be formed for " + record);
    if (!present(*copy)) {
        manifest.erase(record);
        return Locked::NoCopy;
    }
    if (auto st = stillTheCopy(record, *copy, manifest, "it was not locked"); !st) return st.error();
    JournalScope scope(storage);
    // Nothing is saved or removed unless all of the copy can go: a copy half removed would look
    // changed next time and be packed over the good archive.
    if (auto st = checkRemovable(*copy); !st) return st.error();
    auto before = takeSnapshot(*copy);
    if (!before) return before.error();
    auto digest = copyDigest(*copy);
    if (!digest) return digest.error();
    if (progress.cancelled()) return cancelledError();
    const std::string* known = manifest.find(record);
    const bool changed = !known || *known != *digest;
    if (changed) {
        if (!pass)
            return fail("the vault password has not been entered, so the changes to " + copy->string() +
                        " cannot be saved");
        std::uint64_t bytes = 0;
        for (const auto& e : before->entries)
            if (e.type == 'f') bytes += e.size;
        // Once the new archive is in place the copy goes: there is no stopping after that.
        if (auto st = saveCopyIntoArchive(storage, record, *copy, *pass, bytes, progress); !st)
            return st.error();
        manifest.set(record, *digest);  // the archive now holds the copy as it is
    } else if (pass) {
        // The copy is the only other place the data lives: it goes only when the archive is still
        // the one verified when it was written.
        auto st = confirmArchive(storage, archivePath(storage, record), *pass, progress);
        if (progress.cancelled()) return cancelledError();
        if (!st) return fail(copy->string() + " was kept: " + st.error().message);
    }
    auto note = Temporary::reserve(storage, TempKind::Locking, *copy, record);
    if (!note) return fail(copy->string() + " was kept: " + note.error().message);
    unlisting = std::move(*note);
    // The copy leaves its place whole and goes only while it is still what the archive holds.
    if (auto st = removeWhole(*copy, &*before, leftover); !st) return st.error();
    manifest.erase(record);
    return changed ? Locked::CopySavedAndRemoved : Locked::CopyRemoved;
}

bool copyNeedsSaving(const std::string& storage, const std::string& record, const CopyManifest& manifest) {
    const auto copy = safePlaintextCopy(storage, record);
    if (storage.empty() || !copy || !present(*copy)) return false;
    const auto digest = copyDigest(*copy);
    const std::string* known = manifest.find(record);
    return !digest || !known || *known != *digest;
}

Result<bool> restorePlaintext(const std::string& storage, const std::string& record,
                              std::optional<std::string_view> pass) {
    if (storage.empty()) return fail("the storage folder is not known");
    const RecordKind kind = recordKind(record);
    if (kind == RecordKind::Hidden) return false;
    const fs::path archive = archivePath(storage, record);
    if (!present(archive)) return false;
    if (!pass) return fail("the vault password has not been entered, so " + record + " cannot be restored");
    if (kind == RecordKind::EncryptedFile) {
        const fs::path target = deletingExtension(record);
        if (present(target)) return fail(target.string() + " already exists");
        // The restored file stands where the item's decrypted copy would: until the record is
        // gone from the vault it is written down as one, so that a run killed in between leaves
        // a copy the next start lists, never plaintext the vault shows as locked.
        auto intent = Temporary::reserve(storage, TempKind::Copy, target, record);
        if (!intent) return intent.error();
        WrittenFiles hashed;
        if (auto r = openArchiveInto(storage, archive, target, *pass, Progress::none(), &hashed); !r)
            return r.error();
        const auto id = identityOf(target);
        const auto digest = copyDigest(target, &hashed);
        if (id && digest) (void)intent->made(*id, *digest);
        noteRestored(record, target);
        std::lock_guard guard(restoresMutex);
        pendingRestores()[record] = std::move(*intent);
        return true;
    }
    const fs::path home = fs::path(record).parent_path();
    if (auto r = openArchiveInto(storage, archive, home, *pass); !r) return r.error();
    noteRestored(record, home / fs::path(plaintextCopyPath(storage, record)).filename());
    return true;
}

bool removalNeedsArchive(const std::string& storage, const std::string& record, bool unlocked) {
    if (!isEncrypted(record) || storage.empty() || !present(archivePath(storage, record))) return false;
    if (!unlocked) return true;
    const auto copy = safePlaintextCopy(storage, record);
    return !copy || !present(*copy);
}

Result<bool> plaintextBeforeRemoval(const std::string& storage, const std::string& record, bool unlocked,
                                    std::optional<std::string_view> pass, const CopyManifest& manifest) {
    const RecordKind kind = recordKind(record);
    if (kind == RecordKind::Hidden) return false;
    if (storage.empty()) return fail("the storage folder is not known");
    if (!present(archivePath(storage, record))) return false;
    const auto copy = safePlaintextCopy(storage, record);
    if (!unlocked || !copy || !present(*copy)) return restorePlaintext(storage, record, pass);
    if (auto st = stillTheCopy(record, *copy, manifest, "it was left as it is"); !st) return st.error();
    JournalScope scope(storage);

    const auto digest = copyDigest(*copy);
    const std::string* known = manifest.find(record);
    if (!digest || !known || *known != *digest)
        return fail(
            copy->string() +
            " is not as it was decrypted; lock the item first to save it into its archive, then remove it");
    if (kind == RecordKind::EncryptedFile) return true;  // already where the file was
    // A folder's copy lives in the private storage folder; it goes back beside its record.
    const fs::path home = fs::path(record).parent_path() / copy->filename();
    if (present(home)) return fail(home.string() + " already exists");
    // Written down until the record has left the lists: a run killed in between has the copy put
    // back by the next start.
    auto intent = Temporary::reserve(storage, TempKind::Restoring, home, record);
    if (!intent) return intent.error();
    if (const auto id = identityOf(*copy); !id || !intent->made(*id))
        return fail("cannot write in " + storage + ": the move of " + copy->string() +
                    " was not written down");
    if (renameNoReplace(*copy, home)) {
        syncFolder(home.parent_path());
        syncFolder(storage);
        noteRestored(record, home, *copy);
        std::lock_guard guard(restoresMutex);
        pendingRestores()[record] = std::move(*intent);
        return true;
    }
    if (errno != EXDEV)
        return fail("cannot move " + copy->string() + " to " + home.string() + ": " + std::strerror(errno));
    // On another file system: restored from the archive, then the copy in the storage folder goes.
    if (auto restored = restorePlaintext(storage, record, pass); !restored) return restored;
    std::optional<fs::path> leftover;
    if (auto st = removeWhole(*copy, nullptr, &leftover); !st) return st.error();
    return true;
}

void restoreSettled(const std::string& record) {
    std::lock_guard guard(restoresMutex);
    pendingRestores().erase(record);
    restored().erase(record);
}

Status takeBackRestored(const std::string& storage, const std::string& record) {
    Restored r;
    {
        std::lock_guard guard(restoresMutex);
        const auto it = restored().find(record);
        if (it == restored().end()) return {};
        r = it->second;
    }
    if (!r.movedFrom.empty()) {
        if (!renameNoReplace(r.path, r.movedFrom))
            return fail("cannot move " + r.path.string() + " back to " + r.movedFrom.string() + ": " +
                        std::strerror(errno));
        syncFolder(r.path.parent_path());
        syncFolder(r.movedFrom.parent_path());
    } else {
        // Only the object that was written, as it was written: anything else is the user's now.
        const auto digest = copyDigest(r.path);
        if (identityOf(r.path) != r.id || !digest || *digest != r.digest)
            return fail(r.path.string() + " changed after it was restored; it was left in place");
        JournalScope scope(storage);
        if (auto st = removeOwnCopy(r.path, nullptr); !st) return st;
    }
    restoreSettled(record);
    return {};
}

Status rememberCopy(const std::string& storage, const std::string& record) {
    if (storage.empty()) return fail("the storage folder is not known");
    const auto copy = safePlaintextCopy(storage, record);
    if (!copy || !present(*copy)) return fail("no decrypted copy of " + record);
    auto digest = copyDigest(*copy);
    if (!digest) return digest.error();
    CopyManifest manifest = CopyManifest::load(storage);
    manifest.set(record, *digest);
    return manifest.save(storage);
}

RowLookup RowLookup::take(std::string storage, const std::vector<std::string>& decrypted) {
    RowLookup l;
    l.storage = std::move(storage);
    l.decrypted.insert(decrypted.begin(), decrypted.end());
    return l;
}

}  // namespace vaultry::vault
