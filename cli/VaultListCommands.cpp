#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/ProgressLine.h"
#include "cli/Prompt.h"
#include "vault/CopyManifest.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"
#include "vault/SafeRemoval.h"
#include "vault/StorageLock.h"
#include "vault/VaultIdentity.h"
#include "vault/VaultItems.h"
#include "vault/VaultList.h"

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

struct Options {
    Strings records;
    bool all = false;
    std::string kind = "all";
};

bool contains(const Strings& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

// The storage folder held for the whole command, so that no other process changes the password
// or the archives meanwhile. Empty, with the error given, when another process holds it.
std::optional<vault::StorageLock> holdStorage(Context& ctx) {
    auto lock = vault::StorageLock::take(ctx.prefs().storePath().value_or(""));
    if (!lock) {
        ctx.error(lock.error().message);
        return std::nullopt;
    }
    return std::move(*lock);
}

// The vault password from the source the command line chose, checked against the stored
// verifier. Never from the command line.
std::optional<password::PassPhrase> askPassPhrase(Context& ctx) {
    const auto stored = ctx.prefs().passwordVerifier();
    if (!stored) {
        ctx.error("no vault password is set");
        return std::nullopt;
    }
    auto pass = prompt::secret(ctx, "Vault password: ");
    if (password::matches(*stored, std::string(pass.view()))) {
        if (auto* keeper = vault::ArchiveManifest::keeper()) keeper->unlockedWith(*stored);
        return pass;
    }
    ctx.error("wrong password", kWrongPassword);
    return std::nullopt;
}

std::string kindName(const std::string& record) {
    switch (vault::recordKind(record)) {
        case vault::RecordKind::EncryptedFile:
            return "file";
        case vault::RecordKind::EncryptedFolder:
            return "folder";
        case vault::RecordKind::Hidden:
            break;
    }
    return "hidden";
}

void listRecords(Context& ctx, const Options& o) {
    settleRekey(ctx);
    const auto filter = vault::filterNamed(o.kind);
    if (!filter) throw UsageError("--kind must be one of all, images, docs, medias, folders, other");
    const Strings all = ctx.prefs().records();
    const Strings decrypted = ctx.prefs().decryptedRecords();
    auto json = nlohmann::json::array();
    for (const auto& record : vault::filterRecords(all, *filter)) {
        const std::string state =
            !vault::isEncrypted(record) ? "hidden" : (contains(decrypted, record) ? "unlocked" : "locked");
        if (ctx.json)
            json.push_back({{"kind", kindName(record)}, {"state", state}, {"record", record}});
        else
            std::cout << kindName(record) << '\t' << state << '\t' << escaped(record) << '\n';
    }
    if (ctx.json) std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

// Locks the chosen decrypted items again; an edited copy is saved into its archive first.
void lockRecords(Context& ctx, const Options& o) {
    settleRekey(ctx);
    const auto held = holdStorage(ctx);
    if (!held) return;
    if (o.all == !o.records.empty()) throw UsageError("give the records to lock, or --all");
    Strings decrypted = ctx.prefs().decryptedRecords();
    Strings chosen = o.all ? decrypted : o.records;
    for (const auto& record : o.records)
        if (!contains(decrypted, record)) {
            ctx.error(escaped(record) + " is not unlocked");
            return;
        }
    if (chosen.empty()) return;
    const std::string storage = ctx.prefs().storePath().value_or("");
    if (!storage.empty())
        if (auto st = vault::requireStorage(ctx.settings(), storage); !st) {
            ctx.error(st.error().message);
            return;
        }
    vault::CopyManifest manifest =
        storage.empty() ? vault::CopyManifest{} : vault::CopyManifest::load(storage);
    if (ctx.dryRun) {
        for (const auto& record : chosen) std::cout << "would lock\t" << escaped(record) << '\n';
        return;
    }
    prompt::confirm(ctx,
                    "Lock " + std::to_string(chosen.size()) + " item(s) and remove their decrypted copies?",
                    "vault lock");
    // The copies go only when the list can say so afterwards.
    if (std::string why; !ctx.prefs().save(&why)) {
        ctx.error("the settings could not be written (" + why + "); nothing was locked");
        return;
    }
    std::vector<bool> saving;
    for (const auto& record : chosen) saving.push_back(vault::copyNeedsSaving(storage, record, manifest));
    std::optional<password::PassPhrase> pass;
    if (std::find(saving.begin(), saving.end(), true) != saving.end()) {
        pass = askPassPhrase(ctx);
        if (!pass) return;
    }
    // The keys of the edited copies' new archives, on every core ahead of the copy at hand.
    vault::KeysAhead ahead;
    for (std::size_t i = 0; pass && i < chosen.size(); ++i)
        if (saving[i])
            vault::deriveAheadToWrite(ahead, i,
                                      vault::recordKind(chosen[i]) == vault::RecordKind::EncryptedFolder
                                          ? vault::ArchiveKind::Folder
                                          : vault::ArchiveKind::File,
                                      pass->view());
    ahead.start();
    bool lockedOne = false;
    SavedLists lists(ctx);
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const std::string& record = chosen[i];
        ahead.reached(i);
        const auto locked =
            flows::lockItem(record, storage, pass ? std::optional(pass->view()) : std::nullopt, manifest,
                            lists, progressLine(ctx));
        if (locked.outcome == flows::Outcome::Cancelled) {
            ctx.error(!lockedOne
                          ? "cancelled; nothing was changed"
                          : "cancelled; the items reported were locked, the rest were left as they were",
                      kDeclined);
            break;
        }
        if (locked.outcome != flows::Outcome::Done) {
            ctx.error(escaped(record) + ": " + locked.message + "; its decrypted copy was kept");
            continue;
        }
        if (locked.leftover)  // locked all the same: the copy is out of its place
            std::cerr << "vaultry-cli: " << locked.leftover->string()
                      << " could not be deleted completely; it is deleted again at the next start\n";
        lockedOne = true;
        ctx.info() << "locked\t" << escaped(record) << '\n';
    }
    if (!storage.empty())
        if (auto st = manifest.save(storage); !st) ctx.error(st.error().message);
}

// Takes records out of the vault. A locked item's plaintext is restored where it came from
// before its archive is deleted; an unlocked item keeps its copy; a hidden item stays hidden.
void removeRecords(Context& ctx, const Options& o) {
    settleRekey(ctx);
    const auto held = holdStorage(ctx);
    if (!held) return;
    Strings all = ctx.prefs().records();
    Strings decrypted = ctx.prefs().decryptedRecords();
    for (const auto& record : o.records)
        if (!contains(all, record)) {
            ctx.error(escaped(record) + " is not in the vault");
            return;
        }
    prompt::confirm(ctx, "Remove " + std::to_string(o.records.size()) + " item(s) from Vaultry?",
                    "vault remove");
    // Nothing is restored unless the lists can be written afterwards.
    if (std::string why; !ctx.prefs().save(&why)) {
        ctx.error("the settings could not be written (" + why + "); nothing was removed");
        return;
    }
    const std::string storage = ctx.prefs().storePath().value_or("");
    const bool encrypted =
        std::any_of(o.records.begin(), o.records.end(), [](const auto& r) { return vault::isEncrypted(r); });
    if (encrypted && !storage.empty())
        if (auto st = vault::requireStorage(ctx.settings(), storage); !st) {
            ctx.error(st.error().message);
            return;
        }
    std::optional<password::PassPhrase> pass;
    // An archive that goes leaves the integrity record too, which only the pass phrase can seal.
    if (std::any_of(o.records.begin(), o.records.end(), [&](const auto& r) {
            return vault::removalNeedsArchive(storage, r, contains(decrypted, r)) ||
                   (vault::isEncrypted(r) && !storage.empty() && fs::exists(vault::archivePath(storage, r)));
        })) {
        pass = askPassPhrase(ctx);
        if (!pass) return;
    }
    vault::CopyManifest manifest =
        storage.empty() ? vault::CopyManifest{} : vault::CopyManifest::load(storage);
    SavedLists lists(ctx);
    for (const auto& record : o.records) {
        if (!contains(all, record)) continue;  // named twice
        const auto removed =
            flows::removeItem(record, storage, contains(decrypted, record),
                              pass ? std::optional(pass->view()) : std::nullopt, manifest, lists);
        if (!removed.other.empty())
            ctx.error(escaped(record) + ": its archive is also named by " + escaped(removed.other) +
                      "; it was left in the storage folder");
        if (removed.outcome == flows::Outcome::Refused) {
            ctx.error(escaped(removed.message) + "; nothing was removed");
            continue;
        }
        if (removed.outcome == flows::Outcome::Failed) {
            ctx.error(escaped(record) + ": " + removed.message + "; nothing was removed");
            continue;
        }
        if (removed.outcome == flows::Outcome::NotListed) {
            // The record stays, and so does its archive; what was restored went again.
            if (!removed.problem.empty()) ctx.error(escaped(record) + ": " + removed.problem);
            ctx.error(escaped(record) + ": nothing was removed");
            continue;
        }
        if (!removed.problem.empty()) ctx.error(removed.problem);
        std::erase(all, record);
        std::erase(decrypted, record);
        ctx.info() << "removed\t" << escaped(record) << '\n';
    }
    if (!storage.empty())
        if (auto st = manifest.save(storage); !st) ctx.error(st.error().message);
}

CLI::App* subcommandNamed(CLI::App& app, const std::string& name) {
    for (auto* sub : app.get_subcommands([&name](CLI::App* a) { return a->get_name() == name; })) return sub;
    return nullptr;
}

// Records as given, made absolute the way `vault list` prints them.
Strings absoluteRecords(const Strings& given) {
    Strings out;
    for (const auto& r : given)
        out.push_back(fs::path(r).is_absolute() ? r : fs::absolute(r).lexically_normal().string());
    return out;
}

}  // namespace

void addVaultListCommands(CLI::App& app, Context& ctx) {
    auto o = std::make_shared<Options>();
    CLI::App* vault = subcommandNamed(app, "vault");
    if (!vault)
        vault = app.add_subcommand("vault", "The vault: hidden and encrypted items")->require_subcommand(1);
    // This list prints the same lines and adds the kind filters, so it takes the place of a
    // plain one registered before it.
    if (auto* plain = subcommandNamed(*vault, "list")) vault->remove_subcommand(plain);

    auto* list = vault->add_subcommand(
        "list", "One record per line: kind, state (locked, unlocked or hidden) and record");
    list->add_option("--kind", o->kind, "all, images, docs, medias, folders or other")->capture_default_str();
    addJsonFlag(list, ctx, "an array of {kind, state, record}");
    list->callback([&ctx, o] { listRecords(ctx, *o); });

    auto* lock =
        vault->add_subcommand("lock", "Lock decrypted items again, saving edited copies into their archives");
    lock->add_option("RECORD", o->records, "Records of decrypted items");
    lock->add_flag("--all", o->all, "Every decrypted item");
    addYesFlag(lock, ctx);
    addDryRunFlag(lock, ctx);
    addPasswordOptions(lock, ctx);
    lock->callback([&ctx, o] {
        o->records = absoluteRecords(o->records);
        lockRecords(ctx, *o);
    });

    auto* remove =
        vault->add_subcommand("remove", "Take items out of the vault, restoring locked ones first");
    remove->add_option("RECORD", o->records, "Records to remove")->required();
    addYesFlag(remove, ctx);
    addPasswordOptions(remove, ctx);
    remove->callback([&ctx, o] {
        o->records = absoluteRecords(o->records);
        removeRecords(ctx, *o);
    });
}

}  // namespace vaultry::cli
