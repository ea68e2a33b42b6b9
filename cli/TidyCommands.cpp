#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/ProgressLine.h"
#include "cli/Prompt.h"
#include "desktop/FBFileNode.h"
#include "desktop/FileKind.h"
#include "desktop/Tidy.h"
#include "desktop/TidyLocation.h"
#include "platform/linux/LinuxBookmarks.h"
#include "settings/Preferences.h"
#include "settings/SettingsKeys.h"
#include "util/NoLinkPath.h"
#include "util/TestPause.h"
#include "vault/Records.h"
#include "vault/VaultIdentity.h"

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;

// The folder chosen for tidied items, after a tidy folder that earlier versions kept in the vault's
// storage folder is moved out of it; empty when none is chosen.
std::string tidyLocation(Context& ctx) {
    Preferences prefs(ctx.settings());
    platform::LinuxBookmarks bookmarks;
    std::string tell;
    const std::string location = tidy::takeTidyFolderOutOfStorage(prefs, bookmarks, ctx.paths.trash(), tell);
    return location;  // what could not move was logged, on standard error
}

// The tidy folder in the tidy location; empty when none is chosen.
std::string tidyFolder(Context& ctx) { return tidy::storageFolder(tidyLocation(ctx)); }

void printRecords(const FileNodes& nodes, bool json) {
    if (json) {
        auto out = nlohmann::json::array();
        for (const auto& n : nodes)
            out.push_back({{"name", n->fileName()},
                           {"path", n->fullFilePath()},
                           {"kind", n->fileKindType()},
                           {"size", n->filesizenumber()},
                           {"sizeText", n->fileSize()},
                           {"modified", n->fileModifyDate()},
                           {"created", n->fileCreateDate()}});
        // Names that are not UTF-8 cannot be JSON text; their bad bytes become U+FFFD.
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    // Names are printed one to a line, escaped so that a name cannot break the line format
    // (--json gives the names as they are).
    for (const auto& n : nodes)
        std::cout << n->fileKindType() << '\t' << n->fileSize() << '\t' << escaped(n->fileName()) << '\n';
}

// The tidy folder's records, newest first.
FileNodes records(const std::string& folder) {
    FileNodes nodes = scanFolder(folder);
    sortNewestFirst(nodes);
    return nodes;
}

std::string requireFolder(Context& ctx) {
    const std::string folder = tidyFolder(ctx);
    if (folder.empty()) {
        ctx.error("no tidy location is chosen; choose one with 'vaultry-cli tidy location FOLDER'");
        return {};
    }
    return folder;
}

}  // namespace

void addTidyCommands(CLI::App& app, Context& ctx) {
    auto* tidyCmd =
        app.add_subcommand("tidy", "Tidy the desktop into the tidy folder")->require_subcommand(1);

    auto* location = tidyCmd->add_subcommand(
        "location", "Print the folder tidied items go to, or choose it (the tidy folder moves along)");
    auto chosen = std::make_shared<std::string>();
    location->add_option("FOLDER", *chosen, "An existing folder outside the vault's storage folder");
    location->callback([&ctx, chosen] {
        Preferences prefs(ctx.settings());
        platform::LinuxBookmarks bookmarks;
        const std::string current = tidyLocation(ctx);
        if (chosen->empty()) {
            if (current.empty()) return (void)ctx.error("no tidy location is chosen");
            std::cout << escaped(current) << (prefs.tidyLocationFromVault() ? " (not chosen yet)" : "")
                      << '\n';
            return;
        }
        std::error_code ec;
        const fs::path folder = fs::absolute(*chosen, ec).lexically_normal();
        if (ec || !fs::is_directory(folder, ec)) return (void)ctx.error("not a folder: " + escaped(*chosen));
        if (const std::string storage = prefs.storePath().value_or("");
            tidy::insideStorage(folder.string(), storage))
            return (void)ctx.error("tidied items cannot go into the vault's storage folder " +
                                   escaped(storage));
        auto grant = bookmarks.create(folder.string());
        if (!grant) return (void)ctx.error("cannot keep a grant of " + escaped(folder.string()));
        tidy::moveTidyFolder(current, folder.string());  // what could not move is logged
        prefs.setTidyLocationGrant(*grant);
        prefs.setTidyLocationFromVault(false);
        if (std::string why; !prefs.save(&why))
            return (void)ctx.error("the settings could not be written: " + why);
        ctx.info() << "tidied items go to " << escaped(tidy::storageFolder(folder.string())) << '\n';
    });

    auto* run = tidyCmd->add_subcommand(
        "run", "Move every desktop item (except dot files and exclusions) into the tidy folder");
    addYesFlag(run, ctx);
    addDryRunFlag(run, ctx);
    addJsonFlag(
        run, ctx,
        "{folder, cancelled, moved: [paths], failed: [{name, message}], excluded: [names]} (cancelled or "
        "failed: {folder, cancelled, error}; with --dry-run: "
        "wouldMove, excluded, wouldStay: names)");
    run->callback([&ctx] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        const std::string desktop = ctx.paths.desktop().string();
        const std::string refusal =
            tidy::desktopRefusal(desktop, ctx.paths.home().string(), fs::path(folder).parent_path().string(),
                                 ctx.paths.configHome().string());
        if (!refusal.empty()) {
            ctx.error("not tidying: " + refusal);
            return;
        }
        tidy::TidyOptions options;
        options.exclusions = ctx.settings().stringArray(key::TidyExclusions).value_or(StringArray{});
        learnKinds(ctx);
        options.keep = vault::vaultNamesIn(
            desktop, ctx.settings().stringArray(key::VaultryDataArray).value_or(StringArray{}),
            ctx.settings().stringArray(key::VaultryDecryptedDataArray).value_or(StringArray{}));
        options.dryRun = ctx.dryRun;
        // Pause points for tests: "tidy-intent:N" (the N-th journal entry written, its move not
        // made) and "tidy-moved:N".
        if (std::getenv("VAULTRY_TEST_PAUSE"))
            options.onStep = [](std::string_view step, std::size_t n) {
                testPause("tidy-" + std::string(step) + ":" + std::to_string(n));
            };
        if (ctx.dryRun) {
            const auto outcome = tidy::tidyDesktop(desktop, folder, options);
            if (!outcome) {
                ctx.error(outcome.error().message);
                return;
            }
            std::vector<std::string> names, staying;
            for (const auto& to : outcome->moved) names.push_back(fs::path(to).filename().string());
            for (const auto& f : outcome->failed) staying.push_back(f.name);
            if (ctx.json) {
                const nlohmann::json out = {{"folder", folder},
                                            {"dryRun", true},
                                            {"wouldMove", names},
                                            {"excluded", outcome->excluded},
                                            {"wouldStay", staying}};
                std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
                return;
            }
            for (const auto& name : names) std::cout << "would move " << escaped(name) << '\n';
            for (const auto& name : outcome->excluded) std::cout << "excluded " << escaped(name) << '\n';
            for (const auto& f : outcome->failed) std::cout << "would stay: " << escaped(f.message) << '\n';
            ctx.info() << names.size() << (names.size() == 1 ? " item" : " items") << " would move into "
                       << escaped(folder) << '\n';
            return;
        }
        prompt::confirm(ctx, "Move every item on " + escaped(desktop) + " into " + escaped(folder) + "?",
                        "tidy run");
        if (auto st = vault::requireTidyFolder(ctx.settings(), folder); !st) {
            ctx.error(st.error().message);
            return;
        }
        Result<tidy::TidyOutcome> outcome = fail("not run");
        {
            ProgressLine line(ctx);
            outcome = tidy::tidyDesktop(desktop, folder, options, line.progress());
        }
        if (!outcome) {
            const bool cancelled = outcome.error().cancelled;
            // Cancelled, the items already moved went back: the desktop is as it was.
            ctx.error(cancelled ? "cancelled; nothing was changed, the desktop is as it was"
                                : outcome.error().message,
                      cancelled ? kDeclined : kFailed);
            if (ctx.json)
                std::cout << nlohmann::json{{"folder", folder},
                                            {"cancelled", cancelled},
                                            {"error", cancelled ? "" : outcome.error().message}}
                                 .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                          << '\n';
            return;
        }
        for (const auto& f : outcome->failed)
            ctx.error("not moved, stays on the desktop: " + escaped(f.message));
        if (ctx.json) {
            auto failed = nlohmann::json::array();
            for (const auto& f : outcome->failed)
                failed.push_back({{"name", f.name}, {"message", f.message}});
            const nlohmann::json out = {{"folder", folder},
                                        {"cancelled", false},
                                        {"moved", outcome->moved},
                                        {"failed", failed},
                                        {"excluded", outcome->excluded}};
            std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
            return;
        }
        ctx.info() << "moved " << outcome->moved.size() << (outcome->moved.size() == 1 ? " item" : " items")
                   << " into " << escaped(folder) << '\n';
    });

    auto* undo = tidyCmd->add_subcommand(
        "undo", "Move the items of the last tidy back to the desktop (never overwrites)");
    addJsonFlag(undo, ctx,
                "{restored: [names], missing: [names], taken: [names], failed: [{name, message}]}");
    undo->callback([&ctx] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        const auto outcome = tidy::undoLastTidy(folder);
        if (!outcome) {
            ctx.error(outcome.error().message);
            return;
        }
        for (const auto& name : outcome->taken)
            ctx.error("the desktop already has an item named '" + escaped(name) + "'; it stays in " +
                      escaped(folder));
        for (const auto& f : outcome->failed) ctx.error(escaped(f.message));
        if (ctx.json) {
            auto failed = nlohmann::json::array();
            for (const auto& f : outcome->failed)
                failed.push_back({{"name", f.name}, {"message", f.message}});
            const nlohmann::json out = {{"restored", outcome->restored},
                                        {"missing", outcome->missing},
                                        {"taken", outcome->taken},
                                        {"failed", failed}};
            std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
            return;
        }
        for (const auto& name : outcome->restored) ctx.info() << "restored " << escaped(name) << '\n';
        for (const auto& name : outcome->missing)
            ctx.info() << "no longer in the tidy folder: " << escaped(name) << '\n';
    });

    auto* exclude = tidyCmd->add_subcommand("exclude", "Name patterns a tidy leaves on the desktop")
                        ->require_subcommand(1);
    auto* exList = exclude->add_subcommand("list", "One pattern a line");
    addJsonFlag(exList, ctx, "[patterns]");
    exList->callback([&ctx] {
        const StringArray list = ctx.settings().stringArray(key::TidyExclusions).value_or(StringArray{});
        if (ctx.json) {
            std::cout << nlohmann::json(list).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                      << '\n';
            return;
        }
        for (const auto& p : list) std::cout << escaped(p) << '\n';
    });
    auto patterns = std::make_shared<std::vector<std::string>>();
    auto* add = exclude->add_subcommand("add", "Add shell wildcard patterns, e.g. '*.desktop'");
    add->add_option("PATTERN", *patterns, "Patterns matched against each desktop name")->required();
    add->callback([&ctx, patterns] {
        auto& settings = ctx.settings();
        StringArray list = settings.stringArray(key::TidyExclusions).value_or(StringArray{});
        for (const auto& p : *patterns) {
            if (p.empty() || p.find('/') != std::string::npos)
                throw UsageError("not a name pattern: '" + p + "'");
            if (std::find(list.begin(), list.end(), p) == list.end()) list.push_back(p);
        }
        settings.set(key::TidyExclusions, list);
        if (auto st = settings.flush(); !st) ctx.error(st.error().message);
    });
    auto removed = std::make_shared<std::vector<std::string>>();
    auto* rm = exclude->add_subcommand("remove", "Remove patterns");
    rm->add_option("PATTERN", *removed, "Patterns as listed")->required();
    rm->callback([&ctx, removed] {
        auto& settings = ctx.settings();
        StringArray list = settings.stringArray(key::TidyExclusions).value_or(StringArray{});
        for (const auto& p : *removed) {
            const auto it = std::find(list.begin(), list.end(), p);
            if (it == list.end())
                ctx.error("no such pattern: '" + escaped(p) + "'");
            else
                list.erase(it);
        }
        settings.set(key::TidyExclusions, list);
        if (auto st = settings.flush(); !st) ctx.error(st.error().message);
    });

    auto kindName = std::make_shared<std::string>("all");
    auto* list = tidyCmd->add_subcommand("list", "The tidied items, newest first: <kind>\\t<size>\\t<name>");
    list->add_option("--kind", *kindName, "all, pictures, documents, archives, folders or other")
        ->check(CLI::IsMember({"all", "pictures", "documents", "archives", "folders", "other"}));
    addJsonFlag(list, ctx, "an array of records");
    list->callback([&ctx, kindName] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        const std::map<std::string, std::string> kinds = {{"pictures", kind::Pictures},
                                                          {"documents", kind::Documents},
                                                          {"archives", kind::Archives},
                                                          {"folders", kind::Folder},
                                                          {"other", kind::Other}};
        FileNodes nodes = records(folder);
        if (*kindName != "all") {
            const std::string wanted = kinds.at(*kindName);
            std::erase_if(nodes, [&](const auto& n) { return n->fileKindType() != wanted; });
        }
        printRecords(nodes, ctx.json);
    });

    auto restoreNames = std::make_shared<std::vector<std::string>>();
    auto* restore =
        tidyCmd->add_subcommand("restore", "Move tidied items back to the desktop (never overwrites)");
    restore->add_option("NAME", *restoreNames, "Names in the tidy folder")->required();
    restore->callback([&ctx, restoreNames] {
        for (const auto& name : *restoreNames)
            if (!tidy::isPlainName(name)) throw UsageError("not a name in the tidy folder: '" + name + "'");
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        for (const auto& name : *restoreNames) {
            const auto r =
                tidy::moveItem((fs::path(folder) / name).string(), (ctx.paths.desktop() / name).string());
            if (r.error == tidy::MoveError::Vanished)
                ctx.error("no item named '" + escaped(name) + "' in the tidy folder");
            else if (r.error == tidy::MoveError::NameTaken)
                ctx.error("the desktop already has an item named '" + escaped(name) + "'; nothing restored");
            else if (!r.ok())
                ctx.error(escaped(r.message));
            else
                ctx.info() << "restored " << escaped(name) << '\n';
        }
    });

    auto deleteNames = std::make_shared<std::vector<std::string>>();
    auto* del = tidyCmd->add_subcommand("delete", "Delete tidied items for good (not to the Trash)");
    del->add_option("NAME", *deleteNames, "Names in the tidy folder")->required();
    addYesFlag(del, ctx);
    del->callback([&ctx, deleteNames] {
        for (const auto& name : *deleteNames)
            if (!tidy::isPlainName(name)) throw UsageError("not a name in the tidy folder: '" + name + "'");
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        prompt::confirm(ctx, "Delete " + std::to_string(deleteNames->size()) + " item(s) for good?",
                        "tidy delete");
        for (const auto& name : *deleteNames) {
            const fs::path path = fs::path(folder) / name;
            // What is deleted is what the name stands for: never something reached through a link.
            if (const auto plain = pathWithoutLinks(path.string()); !plain) {
                ctx.error(escaped(plain.error().message));
                continue;
            }
            std::error_code ec;
            if (fs::symlink_status(path, ec).type() == fs::file_type::not_found) {
                ctx.error("no item named '" + escaped(name) + "' in the tidy folder");
                continue;
            }
            fs::remove_all(path, ec);
            if (ec)
                ctx.error(escaped(path.string()) + ": " + ec.message());
            else
                ctx.info() << "deleted " << escaped(name) << '\n';
        }
    });

    auto text = std::make_shared<std::string>();
    auto* search = tidyCmd->add_subcommand("search", "Tidied items whose name contains TEXT (ignoring case)");
    search->add_option("TEXT", *text, "Text to look for")->required();
    addJsonFlag(search, ctx, "an array of records");
    search->callback([&ctx, text] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        printRecords(tidy::filterByName(records(folder), *text), ctx.json);
    });
}

}  // namespace vaultry::cli
