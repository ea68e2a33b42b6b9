#include "vault/Records.h"

#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <shared_mutex>
#include <sstream>
#include <unordered_map>

#include "desktop/FileKind.h"
#include "settings/Preferences.h"
#include "util/Log.h"

namespace vaultry::vault {

namespace {

// The kind an encrypted record's name gives it ("enc" a file, "gz" a folder); Hidden for any other.
RecordKind kindByName(std::string_view record) {
    const std::string ext = pathExtension(record);
    if (ext == "enc") return RecordKind::EncryptedFile;
    if (ext == "gz") return RecordKind::EncryptedFolder;
    return RecordKind::Hidden;
}

constexpr std::pair<RecordKind, std::string_view> kKindWords[] = {{RecordKind::Hidden, "hidden"},
                                                                  {RecordKind::EncryptedFile, "file"},
                                                                  {RecordKind::EncryptedFolder, "folder"}};

struct KindBook {
    std::shared_mutex mutex;
    std::unordered_map<std::string, RecordKind> kinds;
};

KindBook& book() {
    static KindBook b;
    return b;
}

std::optional<std::pair<RecordKind, std::string>> parseEntry(std::string_view entry) {
    const auto blank = entry.find(' ');
    if (blank == std::string_view::npos || blank + 1 >= entry.size()) return std::nullopt;
    const std::string_view word = entry.substr(0, blank);
    for (const auto& [kind, w] : kKindWords)
        if (w == word) return std::make_pair(kind, std::string(entry.substr(blank + 1)));
    return std::nullopt;
}

// The archive names the integrity manifest lists (unauthenticated: a hint for settling kinds).
std::set<std::string> manifestNames(std::string_view storage) {
    std::set<std::string> names;
    std::ifstream in(std::string(storage) + "/.vaultry-integrity");
    std::string line;
    while (std::getline(in, line)) {
        if (!line.starts_with("archive ")) continue;
        std::istringstream fields(line);
        std::string word, mac, derivation, rounds, hex;
        if (!(fields >> word >> mac >> derivation >> rounds >> hex) || hex.size() % 2) continue;
        std::string name;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            unsigned value = 0;
            const auto [end, ec] = std::from_chars(hex.data() + i, hex.data() + i + 2, value, 16);
            if (ec != std::errc() || end != hex.data() + i + 2) break;
            name.push_back(static_cast<char>(value));
        }
        if (name.size() * 2 == hex.size()) names.insert(std::move(name));
    }
    return names;
}

bool exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

RecordKind recordKind(std::string_view record) {
    {
        std::shared_lock lock(book().mutex);
        if (auto it = book().kinds.find(std::string(record)); it != book().kinds.end()) return it->second;
    }
    return kindByName(record);
}

std::string kindEntry(RecordKind kind, std::string_view record) {
    for (const auto& [k, word] : kKindWords)
        if (k == kind) return std::string(word) + " " + std::string(record);
    return {};
}

std::vector<std::string> kindEntriesOf(std::string_view record) {
    std::vector<std::string> all;
    for (const auto& [kind, word] : kKindWords) all.push_back(kindEntry(kind, record));
    return all;
}

void learnRecordKinds(const std::vector<std::string>& entries) {
    std::unique_lock lock(book().mutex);
    for (const auto& entry : entries)
        if (auto parsed = parseEntry(entry)) book().kinds[parsed->second] = parsed->first;
}

void learnRecordKind(std::string_view record, RecordKind kind) {
    std::unique_lock lock(book().mutex);
    book().kinds[std::string(record)] = kind;
}

std::vector<std::string> settleRecordKinds(std::string_view storage, const std::vector<std::string>& records,
                                           const std::vector<std::string>& entries) {
    std::set<std::string> kept;
    std::map<std::string, std::set<std::string>> claims;  // archive name -> encrypted records
    for (const auto& entry : entries)
        if (auto parsed = parseEntry(entry)) {
            kept.insert(parsed->second);
            if (parsed->first != RecordKind::Hidden)
                claims[lastComponent(parsed->second)].insert(parsed->second);
        }
    std::vector<std::string> open;
    for (const auto& record : records)
        if (!kept.count(record) && std::find(open.begin(), open.end(), record) == open.end())
            open.push_back(record);
    if (open.empty()) return {};

    std::vector<std::string> settled;
    std::vector<std::string> archived;  // records whose archive is known; decided once all are seen
    std::set<std::string> inManifest;
    if (!storage.empty()) inManifest = manifestNames(storage);
    for (const auto& record : open) {
        const RecordKind named = kindByName(record);
        if (named == RecordKind::Hidden || exists(record)) {
            settled.push_back(kindEntry(RecordKind::Hidden, record));
            continue;
        }
        if (storage.empty()) continue;
        const std::string name = lastComponent(record);
        if (!exists(std::string(storage) + "/" + name) && !inManifest.count(name)) continue;  // away: later
        claims[name].insert(record);
        archived.push_back(record);
    }
    for (const auto& record : archived) {
        const auto& claimants = claims[lastComponent(record)];
        if (claimants.size() > 1) {
            logLine("vault: " + record + " and another record name the same archive " +
                    lastComponent(record) + "; neither is opened until one is removed from the vault");
            continue;
        }
        settled.push_back(kindEntry(kindByName(record), record));
    }
    return settled;
}

void learnKinds(Preferences& prefs, std::string_view storage, const std::vector<std::string>& records) {
    const auto entries = prefs.recordKinds();
    learnRecordKinds(entries);
    const auto settled = settleRecordKinds(storage, records, entries);
    if (settled.empty()) return;
    learnRecordKinds(settled);
    std::vector<SettingsStore::ArrayChange> add;
    for (const auto& entry : settled) add.push_back({SettingsStore::ArrayChange::Add, entry});
    (void)prefs.changeList(Pref::RecordKinds, add);
}

std::string archiveClaimant(std::string_view record, const std::vector<std::string>& records) {
    if (!isEncrypted(record)) return {};
    const std::string name = lastComponent(record);
    for (const auto& other : records)
        if (other != record && isEncrypted(other) && lastComponent(other) == name) return other;
    return {};
}

bool isEncrypted(std::string_view record) { return recordKind(record) != RecordKind::Hidden; }

std::string lastComponent(std::string_view path) {
    std::filesystem::path p{std::string(path)};
    if (!p.has_filename()) p = p.parent_path();
    return p.filename().string();
}

std::string deletingExtension(std::string_view path) {
    const std::string ext = pathExtension(path);
    std::string out(path);
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    if (!ext.empty()) out.resize(out.size() - ext.size() - 1);
    return out;
}

static std::string join(std::string_view folder, std::string_view name) {
    std::string out(folder);
    out += '/';
    out += name;
    return out;
}

std::string archivePath(std::string_view storage, std::string_view record) {
    return join(storage, lastComponent(record));
}

std::string plaintextCopyPath(std::string_view storage, std::string_view record) {
    if (recordKind(record) == RecordKind::EncryptedFolder)
        return join(storage, deletingExtension(deletingExtension(lastComponent(record))));
    return deletingExtension(record);
}

std::vector<std::string> vaultNamesIn(const std::string& folder, const std::vector<std::string>& records,
                                      const std::vector<std::string>& decrypted) {
    const std::filesystem::path where = std::filesystem::path(folder).lexically_normal();
    std::vector<std::string> names;
    for (const auto& record : records) {
        std::filesystem::path place;
        if (recordKind(record) == RecordKind::Hidden)
            place = record;
        else if (recordKind(record) == RecordKind::EncryptedFile &&
                 std::find(decrypted.begin(), decrypted.end(), record) != decrypted.end())
            place = plaintextCopyPath("", record);
        place = place.lexically_normal();
        if (!place.empty() && place.parent_path() == where) names.push_back(place.filename().string());
    }
    return names;
}

std::string thumbnailPath(std::string_view storage, std::string_view record) {
    return join(join(storage, "libdata"), deletingExtension(deletingExtension(lastComponent(record))));
}

std::string displayName(std::string_view record) {
    const std::string name = lastComponent(record);
    switch (recordKind(record)) {
        case RecordKind::EncryptedFile:
            return deletingExtension(name);
        case RecordKind::EncryptedFolder:
            return deletingExtension(deletingExtension(name));
        case RecordKind::Hidden:
            break;
    }
    return name;
}

std::string encryptedRecordFor(std::string_view itemPath, bool isFolder) {
    std::string out(itemPath);
    while (out.size() > 1 && out.back() == '/') out.pop_back();
    return out + (isFolder ? ".tar.gz" : ".enc");
}

}  // namespace vaultry::vault
