#include "vault/VaultItems.h"

#include <openssl/crypto.h>

#include <set>
#include <thread>

#include "util/Log.h"
#include "util/TestPause.h"
#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"
#include "vault/CopyDigest.h"
#include "vault/CopyManifest.h"
#include "vault/Records.h"
#include "vault/Rekey.h"
#include "vault/StorageFolder.h"
#include "vault/StorageLock.h"

namespace vaultry::vault {

namespace fs = std::filesystem;

ArchiveKind archiveKindToWrite(const fs::path& item) {
    std::error_code ec;
    return fs::is_directory(fs::symlink_status(item, ec)) ? ArchiveKind::Folder : ArchiveKind::File;
}

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
    const std::string parent = plan.item.parent_path().string();
    plan.record =
        encryptedRecordFor((parent == "/" ? "" : parent) + "/" + plan.item.filename().string(), plan.folder);
    plan.archive = fs::path(storage) / lastComponent(plan.record);
    return plan;
}

namespace {

std::uint64_t bytesIn(const Snapshot& snapshot) {
    std::uint64_t total = 0;
    for (const auto& e : snapshot.entries)
        if (e.type == 'f') total += e.size;
    return total;
}

std::uint64_t sizeOf(const fs::path& file) {
    std::error_code ec;
    const auto size = fs::file_size(file, ec);
    return ec ? 0 : size;
}

}  // namespace

Status writeArchive(ItemArchive& plan, std::string_view pass, Progress& progress) {
    const fs::path storage = plan.archive.parent_path();
    if (auto st = ensurePrivateFolder(storage); !st) return st;
    JournalScope scope(storage);
    auto intent = Temporary::reserve(storage, TempKind::Archive, plan.archive, plan.record);
    if (!intent) return intent.error();
    auto manifest = ArchiveManifest::open(storage, pass);
    if (!manifest) return manifest.error();
    auto before = takeSnapshot(plan.item);
    if (!before) return before.error();
    if (!before->linkedElsewhere.empty())
        return fail(plan.item.string() + " holds " + before->linkedElsewhere.front() +
                    ", which has hard links outside it; its contents would stay under the other names");
    const std::string name = plan.item.filename().string();
    progress.begin("Encrypting " + name, bytesIn(*before));
    const Status made = plan.folder ? packFolder(plan.item, plan.archive, pass, progress)
                                    : encryptFile(plan.item, plan.archive, pass, ArchiveKind::File, progress);
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
    testPause("encrypt-check");
    Opening how;
    how.derivation = kNewDerivation;
    how.macKey = manifest->macKey();
    progress.begin("Checking " + name, sizeOf(plan.archive));
    auto opened = verifyArchive(plan.archive, plan.folder ? ArchiveKind::Folder : ArchiveKind::File, pass,
                                how, progress);
    // The last moment to stop: once recorded, the archive is the item's.
    if (opened && progress.cancelled()) opened = cancelledError();
    Status recorded;
    if (opened)
        if (auto st = intent->notePacked(plan.item, snapshotSum(*before)); !st) opened = st.error();
    if (opened) {
        manifest->set(plan.archive.filename().string(), *opened);
        recorded = manifest->save(storage);
    }
    if (!opened || !recorded) {
        std::error_code ec;
        fs::remove(plan.archive, ec);
        return opened ? recorded.error() : opened.error();
    }
    plan.packed = std::move(*before);
    plan.intent = std::make_shared<Temporary>(std::move(*intent));
    return {};
}

namespace {

// "plan.txt" read with md5 -> "plan (reading with md5).txt"
fs::path readingPath(const fs::path& target, const Derivation& d) {
    return target.parent_path() / (target.stem().string() + " (reading with " +
                                   std::string(derivationName(d.kdf)) + ")" + target.extension().string());
}

Error twoReadings(const fs::path& archive, const fs::path& target, const std::vector<Derivation>& readings,
                  std::string_view pass) {
    std::string written;
    for (const auto& d : readings) {
        Opening how;
        how.derivation = d;
        const fs::path path = readingPath(target, d);
        if (decryptFile(archive, path, pass, how))
            written += (written.empty() ? "" : ", ") + path.filename().string() +
                       (d.kdf == KeyDerivation::Md5      ? " (older openssl)"
                        : d.kdf == KeyDerivation::Sha256 ? " (openssl 1.1 and later)"
                                                         : " (Vaultry's current form)");
    }
    std::string message = archive.filename().string() +
                          " opens in more than one way and nothing shows which is right, so it was left "
                          "as it is";
    if (!written.empty())
        message += "; the readings were written beside " + target.filename().string() + ": " + written +
                   ". Keep the one that opens correctly";
    return fail(message);
}

}  // namespace

Status openArchiveInto(const fs::path& storage, const fs::path& archive, const fs::path& target,
                       std::string_view pass, Progress& progress, WrittenFiles* written) {
    JournalScope scope(storage);
    // The archive's key and the manifest's key are two independent PBKDF2 runs: side by side.
    std::thread early([&archive, &pass] { prepareKey(archive, pass); });
    auto manifest = ArchiveManifest::open(storage, pass);
    early.join();
    if (!manifest) return manifest.error();
    const std::string name = archive.filename().string();
    Opening how = manifest->openingFor(name);
    const bool known = !how.macs.empty();
    if (!known && !manifest->adoptsUnknown()) return fail(unverifiedArchive(name));
    Opened opened;
    progress.begin("Decrypting " + name, sizeOf(archive));
    if (archiveKindOf(archive) == ArchiveKind::Folder) {
        auto placed = unpackFolder(archive, target, pass, how, &opened, progress, written);
        if (!placed) return placed.error();
    } else {
        if (!known) {
            auto fits = derivationsThatOpen(archive, ArchiveKind::File, pass);
            if (!fits) return fits.error();
            if (fits->size() > 1) return twoReadings(archive, target, *fits, pass);
            how.derivation = fits->front();
        }
        auto r = decryptFile(archive, target, pass, how, progress, written);
        if (!r) return r.error();
        opened = *r;
    }
    if (!known) {
        // Recorded once it is known, so that the question is never asked again; the copy is
        // written either way.
        manifest->set(name, opened);
        (void)manifest->save(storage);
    }
    return {};
}

namespace {

Status checkOne(ArchiveManifest& manifest, const fs::path& archive, std::string_view pass, bool& learned,
                Progress& progress = Progress::none()) {
    const std::string name = archive.filename().string();
    Opening how = manifest.openingFor(name);
    const bool known = !how.macs.empty();
    if (!known && !manifest.adoptsUnknown()) return fail(unverifiedArchive(name));
    auto opened = verifyArchive(archive, archiveKindOf(archive), pass, how, progress);
    if (!opened) return opened.error();
    if (!known) {
        manifest.set(name, *opened);
        learned = true;
    }
    return {};
}

}  // namespace

Status checkArchive(const fs::path& storage, const fs::path& archive, std::string_view pass,
                    Progress& progress) {
    auto manifest = ArchiveManifest::open(storage, pass);
    if (!manifest) return manifest.error();
    bool learned = false;
    progress.begin("Checking " + archive.filename().string(), sizeOf(archive));
    if (auto st = checkOne(*manifest, archive, pass, learned, progress); !st) return st;
    if (learned) (void)manifest->save(storage);
    return {};
}

Status confirmArchive(const fs::path& storage, const fs::path& archive, std::string_view pass,
                      Progress& progress) {
    auto manifest = ArchiveManifest::open(storage, pass);
    if (!manifest) return manifest.error();
    const Opening how = manifest->openingFor(archive.filename().string());
    if (how.macs.empty()) return checkArchive(storage, archive, pass, progress);
    progress.begin("Checking " + archive.filename().string(), sizeOf(archive));
    auto mac = archiveMac(archive, *how.macKey, progress);
    if (!mac) return mac.error();
    for (const Mac& known : how.macs)
        if (CRYPTO_memcmp(known.data(), mac->data(), known.size()) == 0) return {};
    return fail(kChangedOrDamaged);
}

namespace {

std::vector<std::string> checkAll(const fs::path& storage, ArchiveManifest& manifest,
                                  const std::vector<fs::path>& archives, std::string_view pass) {
    std::vector<std::string> bad;
    bool learned = false;
    KeysAhead ahead;
    readAhead(ahead, archives, pass);
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const fs::path& archive = archives[i];
        ahead.reached(i);
        std::error_code ec;
        if (!fs::exists(archive, ec)) {
            bad.push_back(archive.filename().string() + ": missing");
            continue;
        }
        if (auto st = checkOne(manifest, archive, pass, learned); !st)
            bad.push_back(archive.filename().string() + ": " + st.error().message);
    }
    if (learned) (void)manifest.save(storage);
    return bad;
}

}  // namespace

Result<std::vector<std::string>> checkArchives(const fs::path& storage, const std::vector<fs::path>& archives,
                                               std::string_view pass) {
    auto manifest = ArchiveManifest::open(storage, pass);
    if (!manifest) return manifest.error();
    return checkAll(storage, *manifest, archives, pass);
}

Result<std::vector<std::string>> checkVault(const fs::path& storage, const std::vector<std::string>& records,
                                            std::string_view pass) {
    auto manifest = ArchiveManifest::open(storage, pass);
    if (!manifest) return manifest.error();
    std::set<std::string> names;
    for (const auto& record : records)
        if (isEncrypted(record)) names.insert(lastComponent(record));
    // An entry whose archive is gone and that no record names is an encryption that did not
    // happen (cut short, or its record never written on a full disk): it leaves the manifest.
    bool stale = false;
    for (const auto& name : manifest->names()) {
        std::error_code ec;
        if (!names.count(name) && fs::symlink_status(storage / name, ec).type() == fs::file_type::not_found) {
            manifest->erase(name);
            stale = true;
        }
    }
    for (const auto& name : manifest->names()) names.insert(name);
    for (const auto& archive : archivesIn(storage)) names.insert(archive.filename().string());
    std::vector<fs::path> archives;
    for (const auto& name : names) archives.push_back(storage / name);
    auto bad = checkAll(storage, *manifest, archives, pass);
    if (stale)
        if (auto st = manifest->save(storage); !st) logLine("integrity record: " + st.error().message);
    return bad;
}

Status discardArchive(const fs::path& storage, const fs::path& archive,
                      std::optional<std::string_view> pass) {
    std::error_code ec;
    fs::remove(archive, ec);  // an archive is one file: whatever else stands there stays
    if (ec) return fail("cannot delete " + archive.string() + ": " + ec.message());
    if (!pass) return ArchiveManifest::noteDiscarded(storage, archive.filename().string());
    auto manifest = ArchiveManifest::open(storage, *pass);
    if (!manifest) return manifest.error();
    if (!manifest->find(archive.filename().string())) return {};
    manifest->erase(archive.filename().string());
    return manifest->save(storage);
}

Result<std::vector<std::string>> resealArchives(const fs::path& storage, std::string_view pass) {
    auto lock = StorageLock::take(storage);
    if (!lock) return lock.error();
    auto manifest = ArchiveManifest::fresh(pass);
    if (!manifest) return manifest.error();
    std::vector<std::string> bad;
    const auto archives = archivesIn(storage);
    KeysAhead ahead;
    readAhead(ahead, archives, pass);
    for (std::size_t i = 0; i < archives.size(); ++i) {
        const fs::path& archive = archives[i];
        ahead.reached(i);
        const std::string name = archive.filename().string();
        const ArchiveKind kind = archiveKindOf(archive);
        Opening how;
        how.macKey = manifest->macKey();
        if (kind == ArchiveKind::File) {
            auto fits = derivationsThatOpen(archive, kind, pass);
            if (!fits) {
                bad.push_back(name + ": " + fits.error().message);
                continue;
            }
            if (fits->size() > 1) {
                bad.push_back(name + ": " + kOpensTwoWays);
                continue;
            }
            how.derivation = fits->front();
        }
        auto opened = verifyArchive(archive, kind, pass, how);
        if (!opened) {
            bad.push_back(name + ": " + opened.error().message);
            continue;
        }
        manifest->set(name, *opened);
    }
    if (!bad.empty()) return bad;
    if (auto st = manifest->writeSealed(storage); !st) return st.error();
    return bad;
}

Status replaceArchive(const fs::path& storage, const fs::path& archive, const fs::path& next,
                      std::string_view pass, Progress& progress) {
    auto manifest = ArchiveManifest::open(storage, pass);
    if (!manifest) return manifest.error();
    Opening how;
    how.derivation = kNewDerivation;
    how.macKey = manifest->macKey();
    progress.begin("Checking " + archive.filename().string(), sizeOf(next));
    auto opened = verifyArchive(next, archiveKindOf(archive), pass, how, progress);
    if (opened && progress.cancelled()) opened = cancelledError();
    if (!opened) return opened.error();
    const std::string name = archive.filename().string();
    if (manifest->find(name) && opened->mac) {
        manifest->setPending(name, *opened->mac);
        if (auto st = manifest->save(storage); !st) return st;
    }
    std::error_code ec;
    fs::rename(next, archive, ec);
    if (ec) return fail("cannot replace " + archive.string() + ": " + ec.message());
    manifest->set(name, *opened);
    return manifest->save(storage);
}

Status removeOriginal(const ItemArchive& plan) {
    JournalScope scope(plan.archive.parent_path());
    std::optional<fs::path> leftover;
    return removeWhole(plan.item, &plan.packed, &leftover);
}

Result<DecryptedCopy> decryptRecord(const std::string& record, const std::string& storage,
                                    std::string_view pass, Progress& progress) {
    const std::string archive = archivePath(storage, record);
    std::error_code ec;
    if (!fs::exists(archive, ec)) return fail(archive + " is missing");
    DecryptedCopy copy;
    copy.path = plaintextCopyPath(storage, record);
    const bool folder = recordKind(record) == RecordKind::EncryptedFolder;
    auto intent = Temporary::reserve(storage, TempKind::Copy, copy.path, record);
    if (!intent) return intent.error();
    WrittenFiles hashed;  // the copy's digest is taken as it is written, not by reading it again
    if (auto st = openArchiveInto(storage, archive, folder ? fs::path(storage) : fs::path(copy.path), pass,
                                  progress, &hashed);
        !st)
        return st.error();
    copy.identity = identityOf(copy.path);
    auto written = takeSnapshot(copy.path);
    auto digest = copyDigest(copy.path, &hashed);
    if (copy.identity && written && digest) {
        copy.written = std::move(*written);
        copy.digest = std::move(*digest);
        (void)intent->made(*copy.identity, copy.digest);
    }
    copy.intent = std::make_shared<Temporary>(std::move(*intent));
    return copy;
}

Status keepCopy(const std::string& storage, const std::string& record, DecryptedCopy& copy) {
    Status st;
    if (!copy.digest.empty() && copy.identity) {
        CopyManifest manifest = CopyManifest::load(storage);
        manifest.set(record, copy.digest);
        manifest.setIdentity(record, *copy.identity);
        st = manifest.save(storage);
    }
    copy.intent.reset();
    return st;
}

Status takeBackCopy(const std::string& storage, DecryptedCopy& copy) {
    JournalScope scope(storage);
    const auto now = identityOf(copy.path);
    Status st;
    if (!now || !copy.identity || *now != *copy.identity || copy.digest.empty())
        st = fail(copy.path + " is no longer the copy that was written; it was left in place");
    else
        st = removeOwnCopy(copy.path, &copy.written);
    if (!st && copy.intent) copy.intent->keepForSweep();
    copy.intent.reset();
    return st;
}

}  // namespace vaultry::vault
