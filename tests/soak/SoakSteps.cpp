// The operations of a soak sequence: the user's actions and the vault's, each with the outcomes
// it allows for every item it touches.
#include <algorithm>
#include <random>
#include <set>
#include <sstream>

#include "settings/Preferences.h"
#include "soak/SoakFaults.h"
#include "soak/SoakWorld.h"
#include "soak/SoakWorldDetail.h"
#include "support/CliRun.h"
#include "vault/AutoLock.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"

namespace vaultry::soak {

using detail::contains;
using detail::marker;

namespace {

std::string bytesOf(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = char(rng() & 0xff);
    return s;
}

std::vector<int> unique(const std::vector<int>& ids) {
    std::vector<int> out;
    for (int id : ids)
        if (std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
    return out;
}

}  // namespace

void World::makeItem(int id, int folder, int name, bool isFolder, std::uint32_t seed, int size) {
    ++stats().operations["make item"];
    Item it;
    it.id = id;
    it.folder = isFolder;
    it.place =
        home() / kFolders[std::size_t(folder) % kFolders.size()] / kNames[std::size_t(name) % kNames.size()];
    std::mt19937 rng(seed);
    const std::size_t n = std::size_t(size);
    if (!isFolder) {
        it.plain[""] = "f:" + marker(id) + bytesOf(rng, n);
    } else {
        it.plain[""] = "d";
        it.plain["one.txt"] = "f:" + marker(id) + "one" + bytesOf(rng, n / 2);
        it.plain["sub"] = "d";
        it.plain["sub/two.bin"] = "f:" + marker(id) + "two" + bytesOf(rng, n / 3);
        if (seed % 3 == 0) it.plain["empty"] = "d";
        if (seed % 2 == 0) it.plain[".dot"] = "f:" + marker(id) + "dot";
    }
    writeTree(it.place, it.plain);
    items_[id] = it;
}

void World::edit(int id, Edit e, std::uint32_t seed) {
    auto found = items_.find(id);
    if (found == items_.end() || found->second.state != Item::Unlocked || found->second.copy.empty()) return;
    ++stats().operations[std::string("edit: ") + editName(e)];
    Item& it = found->second;
    const fs::path copy = vault::plaintextCopyPath(storage().string(), it.record());
    std::mt19937 rng(seed);
    std::string target;  // the file inside the copy that is changed
    for (const auto& [k, v] : it.copy)
        if (v.starts_with("f:") && (target.empty() || rng() % 2)) target = k;
    const fs::path file = target.empty() ? copy : copy / target;
    switch (e) {
        case Edit::Write:
            if (target.empty() && it.folder) return;
            test::writeFile(file, marker(id) + "written" + bytesOf(rng, rng() % 3000));
            break;
        case Edit::Append: {
            if (target.empty() && it.folder) return;
            std::string bytes = test::readFile(file) + bytesOf(rng, 1 + rng() % 500);
            test::writeFile(file, bytes);
            break;
        }
        case Edit::Truncate: {
            if (target.empty() && it.folder) return;
            fs::resize_file(file, fs::file_size(file) / 2);
            break;
        }
        case Edit::Delete:
            fs::remove_all(copy);
            break;
        case Edit::AddFile:
            if (!it.folder) return;
            test::writeFile(copy / ("new " + std::to_string(seed % 1000) + ".txt"), marker(id) + "new");
            break;
        case Edit::RenameInside:
            if (!it.folder || target.empty()) return;
            fs::rename(file, copy / (fs::path(target).filename().string() + ".renamed"));
            break;
    }
    it.copy = readTree(copy);
    it.edited = true;
}

void World::encrypt(const std::vector<int>& given, Via via, Fault f, std::chrono::microseconds killAfter) {
    // A hidden item stays a hidden one: encrypting it is not a step of this model.
    std::vector<int> ids;
    for (int id : given)
        if (items_.at(id).state != Item::Hidden) ids.push_back(id);
    if (ids.empty()) return;
    ++stats().operations[via == Via::Cli ? "encrypt (vaultry-cli)" : "encrypt (controller)"];
    Choices choices;
    std::set<std::string> taken;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    for (int id : unique(ids)) {
        const Item before = items_.at(id);
        Item done = before;
        const bool can = before.state == Item::Plain && !archiveTaken(before.archiveName()) &&
                         !taken.count(before.archiveName());
        if (can) {
            taken.insert(before.archiveName());
            done.state = Item::Locked;
            done.archive = before.plain;
            done.plain.clear();
        }
        if (!can || storageAway || f == Fault::LockHeld)
            choices[id] = {before};
        else if (f == Fault::None)
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "encrypt", "--yes"};
        for (int id : ids) args.push_back(items_.at(id).place.string());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        std::istringstream lines(r.out);
        Strings printed;
        for (std::string l; std::getline(lines, l);) printed.push_back(l);
        for (int id : ids) reported[id] = contains(printed, items_.at(id).record());
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("encrypt failed without saying why");
        if (!killed && r.code == 0)
            for (int id : ids)
                if (!reported[id])
                    problems_.push_back("encrypt exited 0 without naming #" + std::to_string(id));
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        for (int id : ids)
            reported[id] = app().EncryptFileFolderFunction(items_.at(id).place.string()) || reported[id];
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, "encrypt");
}

void World::decrypt(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations[via == Via::Cli ? "decrypt (vaultry-cli)" : "decrypt (controller)"];
    Choices choices;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    std::vector<int> asked;
    for (int id : unique(ids)) {
        const Item before = items_.at(id);
        if (via == Via::App && !before.encrypted()) continue;  // the list shows only vault items
        asked.push_back(id);
        Item done = before;
        const fs::path copy = vault::plaintextCopyPath(storage().string(), before.record());
        std::error_code ec;
        // An unlocked item whose copy the user deleted may be decrypted afresh.
        const bool can =
            (before.state == Item::Locked || (before.state == Item::Unlocked && before.copy.empty())) &&
            !fs::exists(fs::symlink_status(copy, ec));
        if (can) {
            done.state = Item::Unlocked;
            done.copy = before.archive;
            done.edited = false;
        }
        if (!can || storageAway)
            choices[id] = {before};
        else if (before.state == Item::Unlocked)
            choices[id] = {done, before};
        else if (f == Fault::None || f == Fault::LockHeld)  // reading needs no lock
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    if (asked.empty()) return;
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "decrypt"};
        for (int id : asked) args.push_back(items_.at(id).record());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        // Items of the same name share their copy's path: a path printed is the first one's that
        // could be decrypted (the others find the copy there).
        std::set<std::string> claimed;
        for (int id : asked) {
            const std::string copy = vault::plaintextCopyPath(storage().string(), items_.at(id).record());
            const bool could = choices[id].size() > 1 || choices[id].front().state != items_.at(id).state;
            reported[id] = could && !claimed.count(copy) && r.out.find(copy + "\n") != std::string::npos;
            if (could) claimed.insert(copy);
        }
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("decrypt failed without saying why");
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        for (int id : asked)
            reported[id] = app().DecryptFileFolderFunction(items_.at(id).record()) || reported[id];
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, "decrypt");
}

void World::lock(const std::vector<int>& ids, bool all, Via via, Fault f,
                 std::chrono::microseconds killAfter) {
    ++stats().operations[std::string(all ? "lock all" : "lock") +
                         (via == Via::Cli ? " (vaultry-cli)" : " (controller)")];
    std::vector<int> chosen;
    if (all) {
        for (const auto& [id, it] : items_)
            if (it.state == Item::Unlocked) chosen.push_back(id);
    } else {
        for (int id : ids)
            if (via == Via::Cli || items_.at(id).state == Item::Unlocked) chosen.push_back(id);
    }
    if (via == Via::App) chosen = unique(chosen);
    if (chosen.empty()) return;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    // The CLI checks every named record first and refuses the lot when one is not unlocked.
    const bool refusedWhole = via == Via::Cli && !all &&
                              std::any_of(chosen.begin(), chosen.end(),
                                          [&](int id) { return items_.at(id).state != Item::Unlocked; });
    Choices choices;
    for (int id : unique(chosen)) {
        const Item before = items_.at(id);
        Item done = before;
        const bool can = before.state == Item::Unlocked && !refusedWhole;
        if (can) {
            done.state = Item::Locked;
            if (!before.copy.empty()) done.archive = before.copy;
            done.copy.clear();
            done.edited = false;
        }
        if (!can || f == Fault::LockHeld || (storageAway && before.edited))
            choices[id] = {before};
        else if (f == Fault::None && !before.copy.empty())
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "lock", "--yes"};
        if (all)
            args.push_back("--all");
        else
            for (int id : chosen) args.push_back(items_.at(id).record());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        for (int id : chosen)
            reported[id] = r.out.find("locked\t" + items_.at(id).record() + "\n") != std::string::npos;
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("lock failed without saying why");
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        if (all) {
            app().autoLockDecrypted(vault::LockTrigger::Idle);
        } else {
            for (int id : chosen) {
                std::string why;
                reported[id] = app().lockDecryptedRecord(items_.at(id).record(), &why) || reported[id];
            }
        }
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, all ? "lock all" : "lock");
}

void World::remove(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations[via == Via::Cli ? "remove (vaultry-cli)" : "remove (controller)"];
    std::vector<int> chosen;
    for (int id : ids)
        if (via == Via::Cli || items_.at(id).encrypted()) chosen.push_back(id);
    if (chosen.empty()) return;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    // The CLI refuses the lot when one record is not in the vault.
    const bool refusedWhole =
        std::any_of(chosen.begin(), chosen.end(), [&](int id) { return !items_.at(id).encrypted(); });
    Choices choices;
    std::set<int> seen;
    for (int id : chosen) {
        if (!seen.insert(id).second) continue;
        const Item before = items_.at(id);
        Item done = before;
        std::error_code ec;
        bool can = !refusedWhole && before.encrypted();
        if (before.state == Item::Unlocked && before.edited && !before.copy.empty()) can = false;
        if (fs::exists(fs::symlink_status(before.place, ec)) &&
            !(before.state == Item::Unlocked && !before.folder && !before.copy.empty()))
            can = false;
        if (can) {
            done.state = Item::Plain;
            done.plain =
                (before.state == Item::Unlocked && !before.copy.empty()) ? before.copy : before.archive;
            done.archive.clear();
            done.copy.clear();
            done.edited = false;
        }
        if (!can || f == Fault::LockHeld || storageAway)
            choices[id] = {before};
        else if (f == Fault::None)
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "remove", "--yes"};
        for (int id : chosen) args.push_back(items_.at(id).record());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        for (int id : chosen)
            reported[id] = r.out.find("removed\t" + items_.at(id).record() + "\n") != std::string::npos;
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("remove failed without saying why");
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        for (int id : seen) {
            const std::string record = items_.at(id).record();
            auto& a = app();
            const auto& shown = a.shownRecords();
            const auto row = std::find(shown.begin(), shown.end(), record);
            if (row == shown.end()) {
                problems_.push_back("the vault window does not show " + record);
                continue;
            }
            ui_.at("fileTableView").clickedRow = std::int64_t(row - shown.begin());
            a.RemoveFileFromListAction();
        }
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, "remove");
}

void World::changePassword(Via via, Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations[via == Via::Cli ? "password change (vaultry-cli)" : "password change (controller)"];
    const std::string old = pass_, next = "soak pass " + std::to_string(++passChanges_) + " \xe2\x98\x83";
    auto held = inject(f, killAfter);
    Cli r;
    if (via == Via::Cli) {
        r = cliWithPass({"vault", "password", "set", "--change"}, f, killAfter, old + "\n" + next + "\n");
    } else {
        // The preferences window: the new password twice, then Change.
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        auto& a = app();
        ui_.setText("newPWLab", next);
        ui_.setText("confirmNewPWLab", next);
        a.ChangePassWordAction();
        for (const auto& alert : ui_.alerts) r.err += alert.message + " " + alert.informative + "\n";
    }
    held.reset();
    // Killed, or done but not stored: the next ordinary start settles the change.
    std::error_code ec;
    if (r.killed || fs::exists(storage_ / ".vaultry-rekey", ec)) {
        backdateStrays();
        (void)runCli({"vault", "list"}, "", std::nullopt);
    }
    SettingsStore s(paths_.settingsFile());
    const auto stored = s.string(prefkey::PasswordVerifier).value_or("");
    const bool isNew = password::matches(stored, next), isOld = password::matches(stored, old);
    if (isNew) pass_ = next;
    if (!isNew && !isOld) problems_.push_back("after a password change neither password is the vault's");
    if (!r.killed) {
        const bool must = f == Fault::None;
        const bool mustNot = f == Fault::LockHeld || f == Fault::StorageRenamed || f == Fault::StorageEmpty;
        if (must && !isNew) problems_.push_back("password change refused: " + r.err);
        if (mustNot && isNew) problems_.push_back(std::string("password changed with ") + faultName(f));
        // Refused, it says so; done but not stored, it says that the next start stores it.
        const bool saidDone = via == Via::Cli
                                  ? r.code == 0 || r.err.find("the next vault command") != std::string::npos
                                  : r.err.find("could not be changed") == std::string::npos;
        if (saidDone != isNew)
            problems_.push_back(std::string("the password change said it was ") + (saidDone ? "" : "not ") +
                                "done, but the password is " + (isNew ? "the new one" : "the old one") +
                                ": " + r.err);
    }
}

void World::moveStorage(Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations["storage move (vaultry-cli)"];
    const fs::path target = home() / ("Drive" + std::to_string(oldStorages_.size() + 2));
    fs::create_directories(target);
    const fs::path next = target / "vaultry.data";
    auto held = inject(f, killAfter);
    std::optional<std::chrono::microseconds> kill;
    if (f == Fault::Kill) kill = killAfter;
    lastKill_ = killAfter;
    const Cli r = runCli({"vault", "storage", "set", target.string()}, "", kill);
    held.reset();
    if (r.killed) {
        backdateStrays();
        (void)runCli({"vault", "list"}, "", std::nullopt);
    }
    SettingsStore s(paths_.settingsFile());
    const fs::path now = s.string(prefkey::StorePath).value_or("");
    const bool moved = now == next;
    if (!moved && now != storage_)
        problems_.push_back("after a storage move the storage folder is " + now.string());
    const bool away = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    // With its drive away the vault may switch to a new folder only when it holds no archive.
    bool encrypted = false;
    for (const auto& [id, it] : items_) encrypted = encrypted || it.encrypted();
    if (!r.killed) {
        if (f == Fault::None && !moved) problems_.push_back("storage move refused: " + r.err);
        if ((f == Fault::LockHeld || (away && encrypted)) && moved)
            problems_.push_back(std::string("storage moved with ") + faultName(f));
        if ((r.code == 0) != moved)
            problems_.push_back("storage move exited " + std::to_string(r.code) + " but the storage folder " +
                                (moved ? "moved" : "stayed"));
    }
    if (moved) {
        if (away) {
            // What the old folder held is not in the new one: the model follows what is there.
            for (auto& [id, it] : items_)
                if (it.encrypted())
                    problems_.push_back("#" + std::to_string(id) + " left behind on the drive that was away");
        }
        oldStorages_.push_back(storage_);
        storage_ = next;
    }
}

void World::verify(Via via) {
    ++stats().operations[via == Via::Cli ? "verify (vaultry-cli)" : "verify (controller)"];
    bool any = false;
    for (const auto& [id, it] : items_) any = any || it.encrypted();
    if (via == Via::Cli) {
        const Cli r = runCli({"vault", "verify", "--password-stdin"}, pass_ + "\n", std::nullopt);
        if (r.code != 0)
            problems_.push_back("vault verify exited " + std::to_string(r.code) + ": " + r.out + r.err);
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        ui_.alerts.clear();
        app().VerifyArchivesAction();
        if (any && (ui_.alerts.empty() || ui_.alerts.back().message != "Every archive is intact."))
            problems_.push_back("Verify Archives said: " +
                                (ui_.alerts.empty()
                                     ? std::string("nothing")
                                     : ui_.alerts.back().message + " " + ui_.alerts.back().informative));
    }
}

void World::hide(const std::vector<int>& ids, bool on) {
    const char* what = on ? "hide" : "unhide";
    std::vector<int> chosen;
    for (int id : unique(ids))
        if (items_.at(id).state == (on ? Item::Plain : Item::Hidden)) chosen.push_back(id);
    if (chosen.empty()) return;
    ++stats().operations[std::string(what) + " (vaultry-cli)"];
    Choices choices;
    std::map<int, bool> reported;
    Strings args{"vault", what};
    for (int id : chosen) {
        Item done = items_.at(id);
        done.state = on ? Item::Hidden : Item::Plain;
        choices[id] = {done};
        args.push_back(done.place.string());
    }
    const Cli r = runCli(args, "", std::nullopt);
    if (r.code != 0) problems_.push_back(std::string("vault ") + what + " exited " + std::to_string(r.code));
    settle(choices, reported, false, what);
}

void World::trashItem(int id, bool longAgo) {
    Item& it = items_.at(id);
    if (it.state != Item::Plain) return;
    ++stats().operations["put into the Trash (trash-put)"];
    const auto names = [this] {
        std::set<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(trashFiles(), ec))
            out.insert(e.path().filename().string());
        return out;
    };
    const auto before = names();
    const int rc = test::runProgram({"env", "HOME=" + home().string(),
                                     "XDG_DATA_HOME=" + (home() / ".local/share").string(), "trash-put", "--",
                                     it.place.string()});
    std::string added;
    for (const auto& n : names())
        if (!before.count(n)) added = n;
    if (rc != 0 || added.empty()) {
        problems_.push_back("trash-put " + it.place.string() + " exited " + std::to_string(rc));
        return;
    }
    if (longAgo) {
        // Deleted sixty days ago, as the item's .trashinfo tells.
        const fs::path info = trashFiles().parent_path() / "info" / (added + ".trashinfo");
        std::string text = test::readFile(info);
        const auto at = text.find("DeletionDate=");
        if (at != std::string::npos) text.replace(at + 13, 19, "2020-01-02T03:04:05");
        test::writeFile(info, text);
    }
    it.state = Item::Trashed;
    it.trashName = added;
    it.trashedLongAgo = longAgo;
}

void World::emptyTrash(Emptying how, std::uint32_t seed) {
    Strings args{"trash", "empty", "--yes"};
    Choices choices;
    for (const auto& [id, it] : items_) {
        if (it.state != Item::Trashed) continue;
        Item gone = it;
        gone.state = Item::Gone;
        gone.plain.clear();
        if (how == Emptying::All || (how == Emptying::OlderThan30Days && it.trashedLongAgo))
            choices[id] = {gone};
        else if (how == Emptying::OlderThan30Days)
            choices[id] = {it};
        else
            choices[id] = {gone, it};
    }
    switch (how) {
        case Emptying::All:
            ++stats().operations["empty the Trash (vaultry-cli)"];
            break;
        case Emptying::OlderThan30Days:
            ++stats().operations["empty the Trash of old items (vaultry-cli)"];
            args.insert(args.end(), {"--older-than", "30"});
            break;
        case Emptying::KeepUnder:
            ++stats().operations["empty the Trash down to a size (vaultry-cli)"];
            args.insert(args.end(), {"--keep-under", std::to_string(seed % 60000)});
            break;
    }
    const Cli r = runCli(args, "", std::nullopt);
    if (r.code != 0) problems_.push_back("trash empty exited " + std::to_string(r.code));
    settle(choices, {}, false, "empty the Trash");
}

void World::erase(int id, bool throughLink) {
    const Item before = items_.at(id);
    if (before.state == Item::Hidden) return;
    ++stats().operations[throughLink ? "erase through a link (vaultry-cli)" : "erase (vaultry-cli)"];
    fs::path path = before.place;
    // "Desktop/work link" leads to "My Work": a path through it is refused, whatever it names.
    const bool viaLink = throughLink && before.place.parent_path() == home() / "My Work";
    if (viaLink) path = home() / "Desktop/work link" / before.place.filename();
    Item done = before;
    if (!viaLink && before.state == Item::Plain) {
        done.state = Item::Gone;
        done.plain.clear();
    } else if (!viaLink && before.state == Item::Unlocked && !before.folder && !before.copy.empty()) {
        done.copy.clear();  // the decrypted copy, in the item's place
        done.edited = true;
    }
    const Cli r = runCli({"erase", "--yes", path.string()}, "", std::nullopt);
    const bool erased = !(done == before);
    if ((r.code == 0) != erased)
        problems_.push_back("erase " + path.string() + " exited " + std::to_string(r.code) + ": " + r.err);
    settle({{id, {done}}}, {}, false, "erase");
}

void World::list() {
    ++stats().operations["list (vaultry-cli)"];
    const Cli r = runCli({"vault", "list"}, "", std::nullopt);
    std::set<std::string> want, got;
    for (const auto& [id, it] : items_)
        if (it.encrypted())
            want.insert(std::string(it.folder ? "folder" : "file") + '\t' +
                        (it.state == Item::Locked ? "locked" : "unlocked") + '\t' + it.record());
        else if (it.state == Item::Hidden)
            want.insert("hidden\thidden\t" + it.place.string());
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);) got.insert(l);
    if (r.code != 0 || want != got) {
        std::string msg =
            "vault list exited " + std::to_string(r.code) + " and printed:\n" + r.out + "expected:\n";
        for (const auto& l : want) msg += l + "\n";
        problems_.push_back(msg);
    }
}

}  // namespace vaultry::soak
