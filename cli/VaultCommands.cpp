#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/ProgressLine.h"
#include "cli/Prompt.h"
#include "flows/Password.h"
#include "flows/Storage.h"
#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxSpawn.h"
#include "vault/ArchiveManifest.h"
#include "vault/PasswordStrength.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"
#include "vault/Rekey.h"
#include "vault/StorageFolder.h"
#include "vault/StorageLock.h"
#include "vault/VaultIdentity.h"
#include "vault/VaultItems.h"

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;

struct Options {
    bool change = false;
    bool reseal = false;
    std::vector<std::string> items;
    std::string folder;
};

// One pass phrase from the source the command line chose.
std::optional<std::string> readSecret(Context& ctx, const std::string& prompt) {
    const auto pass = prompt::secret(ctx, prompt);
    return std::string(pass.view());
}

std::vector<std::string> records(Context& ctx) { return ctx.prefs().records(); }

// Applies the changes to the list as the settings file holds it now (another process may have
// changed it meanwhile), and writes the settings.
bool saveChanges(Context& ctx, Pref list, const std::vector<SettingsStore::ArrayChange>& changes) {
    if (auto st = ctx.prefs().changeList(list, changes); !st) {
        ctx.error(st.error().message);
        return false;
    }
    return true;
}

std::string absolute(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// The pass phrase, checked against the stored verifier.
std::optional<std::string> unlock(Context& ctx) {
    settleRekey(ctx);
    const auto stored = ctx.prefs().passwordVerifier();
    if (!stored) {
        ctx.error("no vault password is set (vaultry-cli vault password set)");
        return std::nullopt;
    }
    auto entered = readSecret(ctx, "Vault password: ");
    if (!entered) {
        ctx.error("no password given (use --password-stdin or a terminal)", kUsage);
        return std::nullopt;
    }
    const auto verifier = flows::checkPassword(ctx.prefs(), *entered);
    if (!verifier) {
        password::wipe(*entered);
        ctx.error("wrong password", kWrongPassword);
        return std::nullopt;
    }
    if (auto* keeper = vault::ArchiveManifest::keeper()) keeper->unlockedWith(*verifier);
    return entered;
}

// A weak new password is told with its verdict and questioned: -y or a "y" at the terminal keeps
// it; without a terminal it is declined rather than waited for.
bool keepIfWeak(Context& ctx, std::string_view next) {
    const auto verdict = password::rate(next);
    if (!password::isWeak(verdict.level)) return true;
    std::cerr << "vaultry-cli: " << verdict.text << '\n';
    if (prompt::ask(ctx, "Use it anyway?")) return true;
    ctx.error("the new password is weak; nothing changed (--yes uses it anyway)", kDeclined);
    return false;
}

void passwordSet(Context& ctx, const Options& o) {
    const auto stored = ctx.prefs().passwordVerifier();
    if (stored && !o.change) throw UsageError("a vault password is set already; change it with --change");
    std::string old;
    if (o.change) {
        auto current = unlock(ctx);
        if (!current) return;
        old = std::move(*current);
    }
    auto next = readSecret(ctx, "New vault password: ");
    if (!next) {
        ctx.error("no password given (use --password-stdin or a terminal)", kUsage);
        return;
    }
    if (next->empty()) {
        password::wipe(*next);
        ctx.error("an empty password is refused");
        return;
    }
    if (!keepIfWeak(ctx, *next)) {
        password::wipe(*next);
        password::wipe(old);
        return;
    }
    if (prompt::fromTerminal(ctx)) {
        auto again = readSecret(ctx, "Repeat the new password: ");
        if (!again || *again != *next) {
            ctx.error("the two entries differ");
            return;
        }
    }
    const std::string storage = ctx.prefs().storePath().value_or("");
    if (o.change && !storage.empty())
        // Its archives cannot be encrypted again; a new password stored now would open none of them.
        if (auto st = vault::requireStorage(ctx.settings(), storage); !st) {
            ctx.error(st.error().message);
            return;
        }
    auto changed =
        flows::changePassword(ctx.prefs(), o.change ? std::optional<std::string_view>(old) : std::nullopt,
                              *next, records(ctx), progressLine(ctx));
    password::wipe(old);
    password::wipe(*next);
    if (!changed && changed.error().cancelled)
        ctx.error("cancelled; nothing was changed", kDeclined);
    else if (!changed)
        ctx.error("the password could not be changed: " + changed.error().message);
    else if (!changed->notSavedBecause.empty())
        // The archives are under the new password already; the committed change is finished,
        // and the password stored, by the next vault command or the next start of Vaultry.
        ctx.error("the archives now open with the new password, but it could not be stored (" +
                  changed->notSavedBecause + "); the next vault command or start of Vaultry stores it");
}

void storageSet(Context& ctx, const Options& o) {
    settleRekey(ctx);
    const std::string folder = absolute(o.folder);
    if (folder.find(' ') != std::string::npos) {
        ctx.error("Do not include spaces or other invalid characters in the selected storage path.");
        return;
    }
    const std::string current = ctx.prefs().storePath().value_or("");
    if (flows::storageMoves(ctx.prefs(), folder))
        if (auto st = vault::requireStorage(ctx.settings(), current); !st) {
            ctx.error(st.error().message);
            return;
        }
    platform::LinuxBookmarks bookmarks;
    platform::LinuxSpawn spawn;
    auto switched = flows::switchStorage(ctx.prefs(), bookmarks, spawn, folder, progressLine(ctx));
    if (!switched && switched.error().cancelled) {
        ctx.error("cancelled; nothing was changed", kDeclined);
        return;
    }
    if (!switched) {
        ctx.error("the storage folder was not changed: " + switched.error().message);
        return;
    }
    if (!switched->iconProblem.empty())
        std::cerr << "vaultry-cli: warning: " << switched->iconProblem << '\n';
    std::cout << switched->storage << '\n';
    if (const auto& left = switched->leftInOld; left && !left->empty()) {
        std::cerr << "vaultry-cli: the old storage folder " << current << " was kept and still holds:";
        for (const auto& name : *left) std::cerr << ' ' << name;
        std::cerr << "\nvaultry-cli: remove it when you no longer need it\n";
    }
}

void hide(Context& ctx, const Options& o, bool on) {
    settleRekey(ctx);
    if (on && !ctx.prefs().hasPassword()) {
        ctx.error("no vault password is set (vaultry-cli vault password set)");
        return;
    }
    learnKinds(ctx);
    platform::DotHiddenFlag flag;
    platform::LinuxBookmarks bookmarks;
    Preferences::ListChanges changes{{Pref::Records, {}}, {Pref::RecordKinds, {}}};
    const auto change = [&changes](const std::string& path, std::optional<vault::RecordKind> kind) {
        for (auto& [pref, list] : recordChanges(path, kind))
            for (auto& l : changes)
                if (l.first == pref) l.second.insert(l.second.end(), list.begin(), list.end());
    };
    for (const auto& raw : o.items) {
        const std::string path = absolute(raw);
        std::error_code ec;
        const bool there = fs::symlink_status(path, ec).type() != fs::file_type::not_found;
        if (on) {
            if (!there || !flag.setHidden(path, true)) {
                ctx.error("cannot hide " + path);
                continue;
            }
            vault::learnRecordKind(path, vault::RecordKind::Hidden);
            change(path, vault::RecordKind::Hidden);
            if (auto grant = bookmarks.create(path)) ctx.prefs().setItemGrant(path, *grant);
        } else {
            if (there && !flag.setHidden(path, false)) {
                ctx.error("cannot show " + path + " again");
                continue;
            }
            change(path, std::nullopt);
        }
    }
    saveRecordChanges(ctx, changes);
}

std::optional<std::string> storageOrError(Context& ctx) {
    auto storage = ctx.prefs().storePath();
    if (!storage) ctx.error("no storage folder is set (vaultry-cli vault storage set FOLDER)");
    return storage;
}

// The storage folder, when it is set and is the vault's own (see vault/VaultIdentity.h).
std::optional<std::string> availableStorage(Context& ctx) {
    auto storage = storageOrError(ctx);
    if (!storage) return std::nullopt;
    if (auto st = vault::requireStorage(ctx.settings(), *storage); !st) {
        ctx.error(st.error().message);
        return std::nullopt;
    }
    return storage;
}

void encrypt(Context& ctx, const Options& o) {
    const auto storage = availableStorage(ctx);
    if (!storage) return;
    auto pass = unlock(ctx);
    if (!pass) return;
    try {
        prompt::confirm(ctx, "Encrypt " + std::to_string(o.items.size()) + " item(s)?", "vault encrypt");
    } catch (...) {
        password::wipe(*pass);
        throw;
    }
    auto lock = vault::StorageLock::take(*storage);
    if (!lock) {
        ctx.error(lock.error().message);
        return;
    }
    platform::LinuxBookmarks bookmarks;
    bool encryptedOne = false;
    vault::KeysAhead ahead;  // the keys of the items to come, on every core
    for (std::size_t i = 0; i < o.items.size(); ++i)
        vault::deriveAheadToWrite(ahead, i, vault::archiveKindToWrite(absolute(o.items[i])), *pass);
    ahead.start();
    SavedLists lists(ctx);
    for (std::size_t i = 0; i < o.items.size(); ++i) {
        ahead.reached(i);
        // As given: a path whose meaning depends on a link is refused.
        const std::string& path = o.items[i];
        const auto done =
            flows::encryptItem(path, *storage, *pass, lists, ctx.prefs(), bookmarks, progressLine(ctx));
        if (!done.problem.empty()) ctx.error(done.problem);
        switch (done.outcome) {
            case flows::Outcome::Done:
                encryptedOne = true;
                std::cout << escaped(done.record) << '\n';
                continue;
            case flows::Outcome::Refused:
                ctx.error(done.message);
                continue;
            case flows::Outcome::Taken:
                ctx.error(done.other.empty()
                              ? done.record + " is taken by another archive"
                              : done.record + " belongs to " + escaped(done.other) + " of the vault");
                continue;
            case flows::Outcome::Cancelled:
                ctx.error(encryptedOne
                              ? "cancelled; the items printed were encrypted, the rest were left as they were"
                              : "cancelled; nothing was changed",
                          kDeclined);
                break;
            case flows::Outcome::Kept:
                ctx.error(done.message + "; it was kept and not encrypted");
                continue;
            case flows::Outcome::KeptBoth:
                ctx.error(done.message +
                          "; it was kept, and so was its archive, since the vault list "
                          "could not be written: the next vault command finishes the encryption");
                continue;
            case flows::Outcome::NotListed:  // the list's error is printed; the original stays
                continue;
            default:
                ctx.error(absolute(path) + ": " + done.message);
                continue;
        }
        break;
    }
    password::wipe(*pass);
}

void decrypt(Context& ctx, const Options& o) {
    const auto storage = availableStorage(ctx);
    if (!storage) return;
    auto pass = unlock(ctx);
    if (!pass) return;
    const auto list = records(ctx);
    SavedLists lists(ctx);
    bool decryptedOne = false;
    vault::KeysAhead ahead;
    std::vector<fs::path> archives;
    for (const auto& raw : o.items)
        archives.push_back(fs::path(*storage) / vault::lastComponent(absolute(raw)));
    vault::readAhead(ahead, archives, *pass);
    for (std::size_t i = 0; i < o.items.size(); ++i) {
        ahead.reached(i);
        const std::string record = absolute(o.items[i]);
        if (std::find(list.begin(), list.end(), record) == list.end() || !vault::isEncrypted(record)) {
            ctx.error(escaped(record) + " is not an encrypted item of the vault");
            continue;
        }
        const auto done = flows::decryptItem(record, *storage, *pass, lists, progressLine(ctx));
        if (done.outcome == flows::Outcome::Cancelled) {
            ctx.error(decryptedOne ? "cancelled; the copies printed were written, the rest were not"
                                   : "cancelled; nothing was changed",
                      kDeclined);
            break;
        }
        if (done.outcome == flows::Outcome::NotListed) {
            ctx.error(escaped(record) + ": " +
                      (done.problem.empty() ? "the decrypted copy was removed again" : done.problem));
            continue;
        }
        if (done.outcome != flows::Outcome::Done) {
            ctx.error(record + ": " + done.message);
            continue;
        }
        if (!done.problem.empty()) std::cerr << "vaultry-cli: warning: " << done.problem << '\n';
        decryptedOne = true;
        std::cout << escaped(done.copy) << '\n';
    }
    password::wipe(*pass);
}

// A new integrity record, deliberately: after a manifest was lost or replaced, once every archive
// is shown to open with the pass phrase.
void reseal(Context& ctx, const std::string& storage) {
    auto pass = unlock(ctx);
    if (!pass) return;
    try {
        prompt::confirm(
            ctx,
            "Check every archive and write a new integrity record of those that open? Do this only "
            "if you know why the old one is missing or was replaced",
            "vault verify --reseal");
    } catch (...) {
        password::wipe(*pass);
        throw;
    }
    auto bad = vault::resealArchives(storage, *pass);
    if (bad && bad->empty()) bad = vault::checkVault(storage, records(ctx), *pass);
    password::wipe(*pass);
    if (!bad) {
        ctx.error(bad.error().message);
        return;
    }
    for (const auto& line : *bad) std::cout << escaped(line) << '\n';
    if (!bad->empty()) {
        ctx.exit = kFailed;
        return;
    }
    ctx.info() << "the integrity record was written anew\n";
}

// Every archive (or those of the named records) against the manifest and by a full decryption
// to nowhere: a line per archive that does not hold, a missing one included, and exit 1 when
// there is one. With --reseal, a new manifest is written once every archive opens.
void verify(Context& ctx, const Options& o) {
    const auto storage = availableStorage(ctx);
    if (!storage) return;
    learnKinds(ctx);
    if (o.reseal) {
        if (!o.items.empty()) throw UsageError("--reseal checks every archive; give no records");
        return reseal(ctx, *storage);
    }
    std::vector<fs::path> archives;
    if (o.items.empty()) {
        // Every record and every manifest entry (checkVault).
    } else {
        const auto list = records(ctx);
        for (const auto& raw : o.items) {
            const std::string record = absolute(raw);
            if (std::find(list.begin(), list.end(), record) == list.end() || !vault::isEncrypted(record)) {
                ctx.error(escaped(record) + " is not an encrypted item of the vault");
                continue;
            }
            archives.push_back(vault::archivePath(*storage, record));
        }
        if (archives.empty()) return;
    }
    auto pass = unlock(ctx);
    if (!pass) return;
    auto bad = o.items.empty() ? vault::checkVault(*storage, records(ctx), *pass)
                               : vault::checkArchives(*storage, archives, *pass);
    password::wipe(*pass);
    if (!bad) {
        ctx.error(bad.error().message);
        return;
    }
    for (const auto& line : *bad) std::cout << escaped(line) << '\n';
    if (!bad->empty()) ctx.exit = kFailed;
}

void list(Context& ctx) {
    settleRekey(ctx);
    const auto decrypted = ctx.prefs().decryptedRecords();
    auto json = nlohmann::json::array();
    for (const auto& record : records(ctx)) {
        const auto kind = vault::recordKind(record);
        const char* kindName = kind == vault::RecordKind::Hidden          ? "hidden"
                               : kind == vault::RecordKind::EncryptedFile ? "file"
                                                                          : "folder";
        const char* state = kind == vault::RecordKind::Hidden ? "hidden"
                            : std::find(decrypted.begin(), decrypted.end(), record) != decrypted.end()
                                ? "unlocked"
                                : "locked";
        if (ctx.json)
            json.push_back({{"kind", kindName}, {"state", state}, {"record", record}});
        else
            std::cout << kindName << '\t' << state << '\t' << escaped(record) << '\n';
    }
    if (ctx.json) std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

}  // namespace

void learnKinds(Context& ctx) {
    Preferences prefs = ctx.prefs();
    vault::learnKinds(prefs, prefs.storePath().value_or(""), prefs.records());
}

Preferences::ListChanges recordChanges(const std::string& record, std::optional<vault::RecordKind> kind) {
    std::vector<SettingsStore::ArrayChange> kinds;
    for (const auto& entry : vault::kindEntriesOf(record))
        kinds.push_back({SettingsStore::ArrayChange::Remove, entry});
    if (kind) kinds.push_back({SettingsStore::ArrayChange::Add, vault::kindEntry(*kind, record)});
    return {{Pref::Records,
             {{kind ? SettingsStore::ArrayChange::Add : SettingsStore::ArrayChange::Remove, record}}},
            {Pref::RecordKinds, std::move(kinds)}};
}

bool saveRecordChanges(Context& ctx, const Preferences::ListChanges& lists) {
    if (auto st = ctx.prefs().changeLists(lists); !st) {
        ctx.error(st.error().message);
        return false;
    }
    return true;
}

StringArray SavedLists::records() { return ctx_.prefs().records(); }

bool SavedLists::add(const std::string& record, vault::RecordKind kind) {
    return saveRecordChanges(ctx_, recordChanges(record, kind));
}

bool SavedLists::remove(const std::string& record) {
    auto changes = recordChanges(record, std::nullopt);
    changes.push_back({Pref::DecryptedRecords, {{SettingsStore::ArrayChange::Remove, record}}});
    return saveRecordChanges(ctx_, changes);
}

bool SavedLists::markDecrypted(const std::string& record) {
    const auto listed = ctx_.prefs().decryptedRecords();
    if (std::find(listed.begin(), listed.end(), record) != listed.end()) return true;
    return saveChanges(ctx_, Pref::DecryptedRecords, {{SettingsStore::ArrayChange::Add, record}});
}

bool SavedLists::unmarkDecrypted(const std::string& record) {
    return saveChanges(ctx_, Pref::DecryptedRecords, {{SettingsStore::ArrayChange::Remove, record}});
}

// Before a vault command reads the lists or opens an archive: what a killed run left behind, as
// the storage folder's journal names it (temporary files, unpack folders, items set aside,
// archives never recorded, copies never listed), is cleared or listed, and a password change or a
// storage move cut short is settled. A change still running in another process holds the storage
// folder and is left alone.
void settleRekey(Context& ctx) {
    const auto storage = ctx.prefs().storePath();
    learnKinds(ctx);
    if (!storage) return;
    vault::sweepLeftovers(*storage);
    const auto decrypted = ctx.prefs().decryptedRecords();
    const auto addDecrypted = [&ctx](const std::string& record) {
        return static_cast<bool>(
            ctx.prefs().changeList(Pref::DecryptedRecords, {{SettingsStore::ArrayChange::Add, record}}));
    };
    const auto removeDecrypted = [&ctx](const std::string& record) {
        return static_cast<bool>(
            ctx.prefs().changeList(Pref::DecryptedRecords, {{SettingsStore::ArrayChange::Remove, record}}));
    };
    const auto withdraw = [&ctx](const std::string& record) {
        return saveRecordChanges(ctx, recordChanges(record, std::nullopt));
    };
    for (const auto& report :
         vault::settleIntents(*storage, records(ctx), decrypted, addDecrypted, removeDecrypted, withdraw))
        std::cerr << "vaultry-cli: warning: " << report << '\n';
    vault::settleInterruptedChanges(*storage, [&ctx](const std::string& verifier) {
        Preferences prefs = ctx.prefs();
        prefs.setPasswordVerifier(verifier);
        return prefs.save();
    });
}

void addVaultCommands(CLI::App& app, Context& ctx) {
    auto o = std::make_shared<Options>();
    auto* vault =
        app.add_subcommand("vault", "The vault: password, storage folder, hide, encrypt, decrypt, list")
            ->require_subcommand(1);
    const auto passFlag = [&ctx](CLI::App* c) { addPasswordOptions(c, ctx); };

    auto* password = vault->add_subcommand("password", "The vault password")->require_subcommand(1);
    auto* set = password->add_subcommand("set", "Set the first password, or change it with --change");
    set->add_flag("--change", o->change,
                  "Change the password: asks for the current one first (stdin, fd, file: two lines)");
    addYesFlag(set, ctx);
    passFlag(set);
    set->callback([&ctx, o] { passwordSet(ctx, *o); });

    auto* storage = vault->add_subcommand("storage", "The storage folder")->require_subcommand(1);
    auto* storageSetCmd = storage->add_subcommand("set", "Keep the archives in FOLDER/vaultry.data");
    storageSetCmd->add_option("FOLDER", o->folder, "An existing folder")->required();
    addYesFlag(storageSetCmd, ctx);
    storageSetCmd->callback([&ctx, o] { storageSet(ctx, *o); });

    auto* hideCmd = vault->add_subcommand("hide", "Hide items in place and keep them in the vault list");
    hideCmd->add_option("PATH", o->items, "Files or folders")->required();
    addYesFlag(hideCmd, ctx);
    hideCmd->callback([&ctx, o] { hide(ctx, *o, true); });
    auto* unhideCmd = vault->add_subcommand("unhide", "Show hidden items again and drop them from the list");
    unhideCmd->add_option("PATH", o->items, "Files or folders")->required();
    addYesFlag(unhideCmd, ctx);
    unhideCmd->callback([&ctx, o] { hide(ctx, *o, false); });

    auto* encryptCmd =
        vault->add_subcommand("encrypt", "Encrypt items into the storage folder and remove them");
    encryptCmd->add_option("PATH", o->items, "Files or folders")->required();
    addYesFlag(encryptCmd, ctx);
    passFlag(encryptCmd);
    encryptCmd->callback([&ctx, o] { encrypt(ctx, *o); });

    auto* decryptCmd = vault->add_subcommand("decrypt", "Write the plaintext copy of encrypted items");
    decryptCmd->add_option("RECORD", o->items, "Records as `vault list` prints them")->required();
    addYesFlag(decryptCmd, ctx);
    passFlag(decryptCmd);
    decryptCmd->callback([&ctx, o] { decrypt(ctx, *o); });

    auto* listCmd = vault->add_subcommand("list", "One record per line: kind, state and record");
    addJsonFlag(listCmd, ctx, "an array of {kind, state, record}");
    listCmd->callback([&ctx] { list(ctx); });

    auto* verifyCmd = vault->add_subcommand(
        "verify", "Check every archive (or those of RECORD) against the manifest and by decrypting it");
    verifyCmd->add_option("RECORD", o->items, "Records as `vault list` prints them");
    verifyCmd->add_flag(
        "--reseal", o->reseal,
        "Write a new integrity record once every archive opens with the password (asks first)");
    addYesFlag(verifyCmd, ctx);
    passFlag(verifyCmd);
    verifyCmd->callback([&ctx, o] { verify(ctx, *o); });
}

}  // namespace vaultry::cli
