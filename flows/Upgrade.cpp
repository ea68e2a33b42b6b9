#include "flows/Upgrade.h"

#include <optional>

#include "desktop/Tidy.h"
#include "desktop/TidyLocation.h"
#include "vault/Records.h"
#include "vault/StorageLock.h"
#include "vault/VaultIdentity.h"

namespace vaultry::flows {

namespace fs = std::filesystem;

namespace {

struct Upgrading {
    Preferences& prefs;
    platform::Bookmarks& bookmarks;
    const fs::path& trash;
    Upgraded& upgraded;
};

// Lists written before kinds were kept beside them: each record's kind is settled from the files
// and the integrity manifest, and written. A record whose item and archive are both away (a drive
// not connected) waits for a later start.
void settleRecordKinds(Upgrading& u) {
    vault::learnKinds(u.prefs, u.prefs.storePath().value_or(""), u.prefs.records());
}

// The storage folder held, as every change of the vault holds it, when `left` (what an earlier
// version left in it) is there. A folder without it has nothing to settle and is not written to:
// it may be the empty mount point of a drive that is away. One that another process is working
// in, or that the vault was moved out of, waits for a later start.
std::optional<vault::StorageLock> holdStorageFor(const Upgrading& u, const fs::path& left) {
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(left, ec))) return std::nullopt;
    auto lock = vault::StorageLock::take(u.prefs.storePath().value_or(""));
    if (!lock) return std::nullopt;
    return std::move(*lock);
}

// Earlier versions kept a plain thumbnail of encrypted files in the storage folder's "libdata".
// Needs the kinds settled first: only an encrypted file's thumbnail is taken.
void removePlainThumbnails(Upgrading& u) {
    const auto storage = u.prefs.storePath();
    if (!storage) return;
    if (const auto held = holdStorageFor(u, fs::path(*storage) / "libdata"))
        vault::removeEarlierThumbnails(*storage, u.prefs.records(), u.prefs.storageFolderId());
}

// Earlier versions kept where tidied items go under the Trash's key: it moves to its own. The
// Trash's key itself is left to those who record the Trash's grant.
void moveTidyLocationGrant(Upgrading& u) {
    const auto older = u.prefs.trashGrant();
    if (!older || u.prefs.hasTidyLocationGrant()) return;
    const auto resolved = u.bookmarks.resolve(*older);
    if (!resolved || resolved->stale || fs::path(resolved->path) == u.trash) return;
    u.prefs.setTidyLocationGrant(*older);
    (void)u.prefs.save();
}

// Earlier versions tidied into the vault's storage folder: the tidy folder moves out of it, to the
// tidy location (tidy::takeTidyFolderOutOfStorage). One that cannot move stays, and is told.
void moveTidyFolderOutOfStorage(Upgrading& u) {
    const auto storage = u.prefs.storePath();
    const auto held = storage ? holdStorageFor(u, tidy::storageFolder(*storage)) : std::nullopt;
    if (!held) {
        u.upgraded.tidyLocation = tidy::chosenLocation(u.prefs, u.bookmarks, u.trash);
        return;
    }
    u.upgraded.tidyLocation =
        tidy::takeTidyFolderOutOfStorage(u.prefs, u.bookmarks, u.trash, u.upgraded.tell);
}

// The steps, in this order: each may rely on those before it. A step added later goes last.
constexpr void (*kSteps[])(Upgrading&) = {
    settleRecordKinds,
    removePlainThumbnails,
    moveTidyLocationGrant,
    moveTidyFolderOutOfStorage,
};

}  // namespace

Upgraded upgrade(Preferences prefs, platform::Bookmarks& bookmarks, const fs::path& trash) {
    Upgraded upgraded;
    Upgrading u{prefs, bookmarks, trash, upgraded};
    for (const auto step : kSteps) step(u);
    return upgraded;
}

}  // namespace vaultry::flows
