// The comparison of the world with the model: every item where the model has it, its archive
// opened by Vaultry's reader and by openssl and tar, the lists, the bystanders, and nothing left
// behind.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>
#include <sstream>

#include "settings/Preferences.h"
#include "soak/SoakWorld.h"
#include "soak/SoakWorldDetail.h"
#include "support/CliRun.h"
#include "vault/Archive.h"
#include "vault/Records.h"

namespace vaultry::soak {

using detail::contains;
using detail::marker;
using detail::mtimeOf;

namespace {

std::string describe(const Tree& t) {
    if (t.empty()) return "(nothing)";
    std::ostringstream os;
    int n = 0;
    for (const auto& [k, v] : t) {
        if (n++ == 6) {
            os << " ...";
            break;
        }
        os << " [" << (k.empty() ? "." : k) << ' ';
        if (v.starts_with("f:"))
            os << v.size() - 2 << " bytes";
        else
            os << v;
        os << ']';
    }
    return os.str();
}

std::string firstDiff(const Tree& want, const Tree& got) {
    for (const auto& [k, v] : want) {
        auto it = got.find(k);
        if (it == got.end()) return "'" + k + "' missing";
        if (it->second != v)
            return "'" + k + "' differs (" + std::to_string(v.size()) + " vs " +
                   std::to_string(it->second.size()) + " bytes)";
    }
    for (const auto& [k, v] : got)
        if (!want.count(k)) return "'" + k + "' not expected";
    return "";
}

// Whether the folder's ".hidden" file (the file managers' list of names not to show) names it.
bool hiddenInFolder(const fs::path& p) {
    std::istringstream lines(test::readFile(p.parent_path() / ".hidden"));
    for (std::string l; std::getline(lines, l);)
        if (l == p.filename().string()) return true;
    return false;
}

}  // namespace

std::optional<Tree> World::opensslArchive(const fs::path& archive, bool folder, std::string& why) {
    ++stats().opensslChecks;
    const fs::path work = scratch_ / "openssl";
    std::error_code ec;
    fs::remove_all(work, ec);
    fs::create_directories(work);
    fs::permissions(work, fs::perms::owner_all);
    const fs::path passFile = work / "pass", out = work / "out", unpacked = work / "tree";
    {
        const int fd = ::open(passFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const std::string line = pass_ + "\n";
        if (fd < 0 || ::write(fd, line.data(), line.size()) != ssize_t(line.size()))
            return why = "pass file", std::nullopt;
        ::close(fd);
    }
    const int rc = test::runProgram({"openssl", "enc", "-d", folder ? "-aes256" : "-aes-128-cbc", "-pbkdf2",
                                     "-iter", "600000", "-md", "sha256", "-in", archive.string(), "-out",
                                     out.string(), "-pass", "file:" + passFile.string()});
    fs::remove(passFile, ec);
    if (rc != 0) return why = "openssl enc -d exited " + std::to_string(rc), std::nullopt;
    if (!folder) return Tree{{"", "f:" + test::readFile(out)}};
    fs::create_directories(unpacked);
    if (test::runProgram({"tar", "xzf", out.string(), "-C", unpacked.string()}) != 0)
        return why = "tar xz failed", std::nullopt;
    std::vector<fs::path> top;
    for (const auto& e : fs::directory_iterator(unpacked)) top.push_back(e.path());
    if (top.size() != 1)
        return why = "the tar holds " + std::to_string(top.size()) + " top-level entries", std::nullopt;
    Tree t = readTree(top[0]);
    fs::permissions(unpacked, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(unpacked, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    return t;
}

std::optional<Tree> World::openArchive(const Item& it, std::string& why) {
    const fs::path archive = vault::archivePath(storage().string(), it.record());
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(archive, ec)))
        return why = "no archive " + archive.string(), std::nullopt;
    const std::string key = pass_ + '\0' + test::readFile(archive);
    auto hit = opened_.find(key);
    if (hit == opened_.end()) {
        ++stats().archivesOpened;
        const fs::path work = scratch_ / "reader";
        fs::remove_all(work, ec);
        fs::create_directories(work);
        Tree t;
        if (it.folder) {
            // Vaultry writes only the new derivation; naming it keeps the one-in-128 archive that
            // would also pass the old ones' padding check from being called ambiguous.
            const vault::Opening how{vault::kNewDerivation, {}, {}};
            auto names = vault::unpackFolder(archive, work, pass_, how);
            if (!names) return why = "Vaultry's reader: " + names.error().message, std::nullopt;
            if (names->size() != 1)
                return why = "the archive holds " + std::to_string(names->size()) + " items", std::nullopt;
            t = readTree(work / names->front());
        } else {
            auto opened = vault::decryptFile(archive, work / "file", pass_, {vault::kNewDerivation, {}, {}});
            if (!opened) return why = "Vaultry's reader: " + opened.error().message, std::nullopt;
            t = readTree(work / "file");
        }
        hit = opened_.emplace(key, t).first;
    }
    auto other = opensslOpened_.find(key);
    if (other == opensslOpened_.end()) {
        auto t = opensslArchive(archive, it.folder, why);
        if (!t) return std::nullopt;
        other = opensslOpened_.emplace(key, *t).first;
    }
    if (other->second != hit->second) return why = "openssl and Vaultry's reader disagree", std::nullopt;
    return hit->second;
}

Strings World::checkItem(const Item& it) {
    Strings out;
    SettingsStore s(paths_.settingsFile());
    const Strings all = s.stringArray(prefkey::Records).value_or(Strings{});
    const Strings decrypted = s.stringArray(prefkey::DecryptedRecords).value_or(Strings{});
    const std::string record = it.record();
    const bool listed = contains(all, record), unlocked = contains(decrypted, record);
    const Tree atPlace = readTree(it.place);
    const fs::path copyPath = vault::plaintextCopyPath(storage().string(), record);
    switch (it.state) {
        case Item::Plain:
        case Item::Hidden:
            if (atPlace != it.plain)
                out.push_back(it.place.string() + " holds" + describe(atPlace) + ", not" +
                              describe(it.plain) + ": " + firstDiff(it.plain, atPlace));
            if (listed) out.push_back(record + " is still in the vault list");
            if (contains(all, it.place.string()) != (it.state == Item::Hidden))
                out.push_back(it.place.string() + (it.state == Item::Hidden ? " is not" : " is") +
                              " in the vault list as hidden");
            if (hiddenInFolder(it.place) != (it.state == Item::Hidden))
                out.push_back(it.place.filename().string() + (it.state == Item::Hidden ? " is not" : " is") +
                              " named in " + (it.place.parent_path() / ".hidden").string());
            break;
        case Item::Trashed:
        case Item::Gone: {
            if (!atPlace.empty()) out.push_back("something is at " + it.place.string());
            if (listed || contains(all, it.place.string())) out.push_back(record + " is in the vault list");
            const Tree inTrash = it.state == Item::Trashed ? readTree(trashFiles() / it.trashName) : Tree{};
            if (it.state == Item::Trashed && inTrash != it.plain)
                out.push_back("the Trash holds" + describe(inTrash) + " as " + it.trashName + ", not" +
                              describe(it.plain) + ": " + firstDiff(it.plain, inTrash));
            break;
        }
        case Item::Locked:
        case Item::Unlocked: {
            if (!listed) out.push_back(record + " is not in the vault list");
            if (unlocked != (it.state == Item::Unlocked))
                out.push_back(record + (unlocked ? " is" : " is not") + " in the decrypted list");
            std::string why;
            const auto archived = openArchive(it, why);
            if (!archived)
                out.push_back("its archive does not open: " + why);
            else if (*archived != it.archive)
                out.push_back("its archive holds" + describe(*archived) + ", not" + describe(it.archive) +
                              ": " + firstDiff(it.archive, *archived));
            if (it.state == Item::Locked) {
                if (!atPlace.empty()) out.push_back("plaintext of a locked item at " + it.place.string());
                if (it.folder && !readTree(copyPath).empty())
                    out.push_back("plaintext of a locked folder at " + copyPath.string());
            } else {
                const Tree copy = readTree(copyPath);
                if (copy != it.copy)
                    out.push_back("the decrypted copy " + copyPath.string() + " holds" + describe(copy) +
                                  ", not" + describe(it.copy) + ": " + firstDiff(it.copy, copy));
                if (it.folder && !atPlace.empty())
                    out.push_back("something at the folder's place " + it.place.string());
            }
            break;
        }
    }
    return out;
}

Strings World::check() {
    ++stats().checks;
    Strings out = takeProblems();
    for (const auto& [id, it] : items_)
        for (const auto& d : checkItem(it))
            out.push_back("#" + std::to_string(id) + " " + stateName(it.state) + " " + it.place.string() +
                          ": " + d);
    // The lists hold exactly the vault's items, each once.
    SettingsStore s(paths_.settingsFile());
    Strings all = s.stringArray(prefkey::Records).value_or(Strings{});
    Strings decrypted = s.stringArray(prefkey::DecryptedRecords).value_or(Strings{});
    std::set<std::string> wantAll, wantDecrypted;
    for (const auto& [id, it] : items_) {
        if (it.encrypted()) wantAll.insert(it.record());
        if (it.state == Item::Hidden) wantAll.insert(it.place.string());
        if (it.state == Item::Unlocked) wantDecrypted.insert(it.record());
    }
    for (const auto& r : all)
        if (!wantAll.count(r) || std::count(all.begin(), all.end(), r) > 1)
            out.push_back("the vault list holds " + r + " unexpectedly or twice");
    for (const auto& r : decrypted)
        if (!wantDecrypted.count(r) || std::count(decrypted.begin(), decrypted.end(), r) > 1)
            out.push_back("the decrypted list holds " + r + " unexpectedly or twice");
    // Bystanders are as they were.
    for (const auto& [rel, tree] : bystanders_) {
        const Tree now = readTree(home() / rel);
        struct stat st {};
        ::lstat((home() / rel).c_str(), &st);
        if (now != tree)
            out.push_back("bystander " + rel + " changed: " + (now.empty() ? "gone" : firstDiff(tree, now)));
        else if (bystanderMeta_[rel] !=
                 std::pair<unsigned, std::int64_t>{unsigned(st.st_mode), mtimeOf(home() / rel)})
            out.push_back("bystander " + rel + " changed its mode or time");
    }
    // Nothing else appeared: no leftovers, and no plaintext of a locked item anywhere.
    std::set<fs::path> known;
    std::vector<std::string> lockedMarkers;
    for (const auto& [id, it] : items_) {
        known.insert(it.place);
        known.insert(vault::plaintextCopyPath(storage().string(), it.record()));
        if (it.encrypted()) known.insert(vault::archivePath(storage().string(), it.record()));
        if (it.state == Item::Locked) lockedMarkers.push_back(marker(id));
    }
    const fs::path store = storage();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path p = it->path();
        const std::string rel = p.lexically_relative(home()).string();
        bool inOld = false;
        for (const auto& o : oldStorages_) inOld = inOld || p.string().starts_with(o.string() + "/");
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && !inOld) {
            const std::string bytes = test::readFile(p);
            for (const auto& m : lockedMarkers)
                if (bytes.find(m) != std::string::npos)
                    out.push_back("plaintext of locked item " + m + " in " + rel);
        }
        if (bystanders_.count(rel) || known.count(p)) {
            if (!known.count(p) || it->is_symlink(ec)) it.disable_recursion_pending();
            continue;
        }
        const std::string name = p.filename().string();
        bool userFolder = false;
        for (const auto& f : kFolders) userFolder = userFolder || f == rel || f.starts_with(rel + "/");
        // The settings, the Trash folder the application makes, and in the storage folder the
        // manifest, the lock, the folder's identity, the journal of temporaries, the thumbnails
        // folder of earlier versions and the folder's icon metadata.
        const bool ours =
            userFolder || rel == ".config" || rel.starts_with(".config/") || rel == ".local" ||
            rel.starts_with(".local/") || rel == "Drive" || p == store.parent_path() ||
            (rel.starts_with("Drive") && p.parent_path() == home()) || p == store ||
            p == store / ".directory" || p.parent_path() == store / "libdata" || p == store / "libdata" ||
            (p.parent_path() == store &&
             (name == ".vaultry-integrity" || name == ".vaultry-lock" || name == ".vaultry-copies" ||
              name == ".vaultry-id" || name == ".vaultry-temporaries" || name == ".vaultry-discarded")) ||
            (name == ".hidden" && std::count(kFolders.begin(), kFolders.end(),
                                             p.parent_path().lexically_relative(home()).string())) ||
            p.parent_path() == store / ".vaultry-temporaries";
        bool insideKnown = false;
        for (const auto& old : oldStorages_)
            insideKnown = insideKnown || p == old.parent_path() || p == old ||
                          p.string().starts_with(old.string() + "/");
        for (auto q = p.parent_path(); q != home() && q.has_parent_path() && q != q.parent_path();
             q = q.parent_path())
            insideKnown =
                insideKnown || known.count(q) || bystanders_.count(q.lexically_relative(home()).string());
        if (!ours && !insideKnown) out.push_back("left behind: " + rel);
    }
    return out;
}

Strings World::takeProblems() {
    Strings out;
    out.swap(problems_);
    return out;
}

}  // namespace vaultry::soak
