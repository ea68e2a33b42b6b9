#include "vault/VaultIdentity.h"

#include <fcntl.h>
#include <openssl/rand.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "settings/Preferences.h"
#include "util/AtomicFile.h"
#include "util/Fd.h"
#include "vault/Archive.h"
#include "vault/Records.h"
#include "vault/StorageFolder.h"
#include "vault/Temporaries.h"

namespace vaultry::vault {

namespace fs = std::filesystem;

namespace {

constexpr const char* kMarkerMagic = "vaultry-folder 1";

std::optional<std::string> readMarker(const fs::path& folder) {
    std::ifstream in(folder / kFolderMarker);
    std::string magic, id;
    if (!in || !std::getline(in, magic) || !std::getline(in, id) || magic != kMarkerMagic || id.size() != 32)
        return std::nullopt;
    return id;
}

// A new marker (a random id, or the one given), never over one that is there (another process
// may have written it meanwhile): the marker the folder holds afterwards.
Result<std::string> writeMarker(const fs::path& folder, std::string id = {}) {
    if (id.empty()) {
        unsigned char raw[16];
        if (RAND_bytes(raw, sizeof raw) != 1) return fail("no random id available");
        static const char* digits = "0123456789abcdef";
        for (unsigned char c : raw) {
            id += digits[c >> 4];
            id += digits[c & 15];
        }
    }
    // A name of this call's own: the file removed below is the one written here.
    const fs::path tmp = folder / (std::string(kFolderMarker) + ".new-" + randomSuffix());
    if (auto st = writeFileAtomically(tmp, std::string(kMarkerMagic) + "\n" + id + "\n", 0600); !st)
        return st.error();
    const bool placed = renameNoReplace(tmp, folder / kFolderMarker);
    std::error_code ec;
    fs::remove(tmp, ec);
    syncFolder(folder);
    if (auto there = readMarker(folder)) return *there;
    if (!placed) return fail("cannot write " + (folder / kFolderMarker).string());
    return fail("cannot read " + (folder / kFolderMarker).string());
}

bool isFolder(const fs::path& p) {
    std::error_code ec;
    return fs::is_directory(p, ec);
}

bool present(const fs::path& p) {
    std::error_code ec;
    return fs::symlink_status(p, ec).type() != fs::file_type::not_found && !ec;
}

}  // namespace

std::string storageUnavailable(const std::string& storage) {
    return "The storage folder " + storage + " is not available. Is its drive connected?";
}

std::string tidyFolderUnavailable(const std::string& folder) {
    return "The tidy folder " + folder + " is not available. Is its drive connected?";
}

Result<std::string> markStorageFolder(const fs::path& storage) {
    if (auto id = readMarker(storage)) return *id;
    return writeMarker(storage);
}

Status requireStorage(SettingsStore& settings, const std::string& storage) {
    if (storage.empty()) return fail("no storage folder is set");
    settings.reload();
    Preferences prefs(settings);
    const auto wanted = prefs.storageFolderId();
    const auto marker = readMarker(storage);
    if (wanted) {
        if (marker && *marker == *wanted) return {};
        // A marker lost (a restore that left out dot files) while the folder still holds the
        // very manifest the settings record: that proves the folder, and the marker is put back.
        if (!marker)
            if (std::ifstream in(fs::path(storage) / ArchiveManifest::kFileName, std::ios::binary); in) {
                const std::string text((std::istreambuf_iterator<char>(in)),
                                       std::istreambuf_iterator<char>());
                const std::string id = ArchiveManifest::identityOf(text);
                if (id == prefs.integrityIdentity() || id == prefs.integrityIdentityNext())
                    if (auto put = writeMarker(storage, *wanted); put && *put == *wanted) return {};
            }
        return fail(storageUnavailable(storage));
    }
    // A vault of an earlier version, or a new one: the folder gets its identity now, if it is
    // the vault's.
    std::optional<std::string> id = marker;
    if (!id) {
        bool needed = false, holds = false;
        for (const auto& record : prefs.records()) {
            if (!isEncrypted(record)) continue;
            needed = true;
            holds = holds || present(archivePath(storage, record));
        }
        holds = holds || present(fs::path(storage) / ArchiveManifest::kFileName);
        if (isFolder(storage)) {
            if (needed && !holds) return fail(storageUnavailable(storage));
        } else {
            // Only the storage folder itself is made, never the folder it was chosen in: that one
            // missing is a drive that is not there.
            if (needed || !isFolder(fs::path(storage).parent_path()))
                return fail(storageUnavailable(storage));
            if (auto st = ensurePrivateFolder(storage); !st) return st;
        }
        auto made = writeMarker(storage);
        if (!made) return made.error();
        id = *made;
        // Earlier versions may have left it readable by others.
        std::error_code ec;
        fs::permissions(storage, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    // Not stored, the marker is taken in again at the next use: the folder is the vault's now.
    prefs.setStorageFolderId(*id);
    prefs.save();
    return {};
}

Status requireTidyFolder(SettingsStore& settings, const std::string& folder) {
    settings.reload();
    Preferences prefs(settings);
    const std::string stored = prefs.tidyFolderId().value_or("");
    const auto blank = stored.find(' ');
    const std::string id = blank == std::string::npos ? std::string() : stored.substr(0, blank);
    const std::string storedFolder = blank == std::string::npos ? std::string() : stored.substr(blank + 1);
    if (!isFolder(fs::path(folder).parent_path())) return fail(tidyFolderUnavailable(folder));
    if (!id.empty() && storedFolder == folder) {
        if (readMarker(folder) == id) return {};
        return fail(tidyFolderUnavailable(folder));
    }
    // A tidy folder used for the first time here (or made by an earlier version).
    if (!isFolder(folder)) {
        if (present(folder))
            return fail("cannot create the tidy folder " + folder + ": an item of that name is there");
        std::error_code ec;
        fs::create_directory(folder, ec);
        if (ec) return fail("cannot create the tidy folder " + folder + ": " + ec.message());
        fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    }
    auto made = markStorageFolder(folder);
    if (!made) return made.error();
    prefs.setTidyFolderId(*made + " " + folder);
    std::string why;
    if (!prefs.save(&why)) return fail("the settings could not be written: " + why);
    return {};
}

void removeEarlierThumbnails(const std::string& storage, const std::vector<std::string>& records,
                             const std::optional<std::string>& folderId) {
    if (storage.empty()) return;
    const fs::path libdata = fs::path(storage) / "libdata";
    std::error_code ec;
    if (!fs::is_directory(fs::symlink_status(libdata, ec))) return;
    const bool marked = folderId && readMarker(storage) == *folderId;
    for (const auto& record : records) {
        if (recordKind(record) != RecordKind::EncryptedFile) continue;
        if (!marked && !present(archivePath(storage, record))) continue;
        const fs::path thumbnail = thumbnailPath(storage, record);
        if (fs::is_regular_file(fs::symlink_status(thumbnail, ec))) fs::remove(thumbnail, ec);
    }
    fs::permissions(libdata, fs::perms::owner_all, fs::perm_options::replace, ec);
}

SettingsIntegrityKeeper::SettingsIntegrityKeeper(SettingsStore& settings,
                                                 std::function<void(const std::string&)> tell)
    : settings_(settings), tell_(std::move(tell)), before_(ArchiveManifest::useKeeper(this)) {}

SettingsIntegrityKeeper::~SettingsIntegrityKeeper() { ArchiveManifest::useKeeper(before_); }

std::vector<std::string> SettingsIntegrityKeeper::expected() {
    settings_.reload();
    Preferences prefs(settings_);
    std::vector<std::string> out;
    if (auto current = prefs.integrityIdentity()) out.push_back(*current);
    if (auto next = prefs.integrityIdentityNext()) out.push_back(*next);
    return out;
}

bool SettingsIntegrityKeeper::recorded() {
    settings_.reload();
    return Preferences(settings_).integrityIdentity().has_value();
}

namespace {

// Sets the identities and writes the settings; one that cannot be written is taken back in memory
// too, so that what this process expects is what the file says. The failure is returned, for the
// work that needed the record to tell once.
Status storeIdentities(SettingsStore& settings, const std::function<void(Preferences&)>& change) {
    Preferences prefs(settings, Preferences::Failures::Returned);
    const auto current = prefs.stored(Pref::IntegrityIdentity);
    const auto next = prefs.stored(Pref::IntegrityIdentityNext);
    change(prefs);
    std::string why;
    if (prefs.save(&why)) return {};
    prefs.restore(Pref::IntegrityIdentity, current);
    prefs.restore(Pref::IntegrityIdentityNext, next);
    return fail(why);
}

}  // namespace

Status SettingsIntegrityKeeper::stillUnlocked() {
    // Asked under the storage folder's lock, which a password change holds until its new
    // password is stored: what is read here is settled.
    if (verifier_.empty()) return {};
    settings_.reload();
    // Settings that cannot be read say nothing about the password; only another one stored does.
    const auto stored = Preferences(settings_).passwordVerifier();
    if (!stored || *stored == verifier_) return {};
    return fail(
        "the vault password was changed by another Vaultry process meanwhile; nothing was written "
        "with the old one");
}

Status SettingsIntegrityKeeper::announce(const std::string& next) {
    if (auto st = stillUnlocked(); !st) return st;
    return storeIdentities(settings_, [&](Preferences& p) { p.setIntegrityIdentityNext(next); });
}

Status SettingsIntegrityKeeper::settle(const std::string& current) {
    return storeIdentities(settings_, [&](Preferences& p) {
        p.setIntegrityIdentity(current);
        p.restore(Pref::IntegrityIdentityNext, std::nullopt);
    });
}

Status SettingsIntegrityKeeper::reset() {
    if (auto st = stillUnlocked(); !st) return st;
    return storeIdentities(settings_, [](Preferences& p) {
        p.restore(Pref::IntegrityIdentity, std::nullopt);
        p.restore(Pref::IntegrityIdentityNext, std::nullopt);
    });
}

void SettingsIntegrityKeeper::tell(const std::string& message) {
    if (tell_) tell_(message);
}

}  // namespace vaultry::vault
