#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "app/SettingsKeys.h"
#include "cli/Cli.h"
#include "desktop/FBFileNode.h"
#include "desktop/FileKind.h"
#include "desktop/Tidy.h"

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;

// The tidy folder under the storage location Vaultry starts with; empty when none is set.
std::string tidyFolder(Context& ctx) {
    return tidy::storageFolder(ctx.settings().string(key::EncyptedStorePath).value_or(""));
}

// Names are printed one to a line: control characters and backslashes are escaped C-style so
// that a name cannot break the line format (--json gives the names as they are).
std::string escaped(const std::string& name) {
    std::string out;
    for (unsigned char c : name) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7f) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool confirm(const std::string& question, bool yes, const std::string& command) {
    if (yes) return true;
    if (!::isatty(STDIN_FILENO)) throw UsageError(command + " changes files: add --yes to go ahead");
    std::cerr << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    return answer == "y" || answer == "Y" || answer == "yes";
}

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
        ctx.error("no storage location is set; choose one in Vaultry first");
        return {};
    }
    return folder;
}

}  // namespace

void addTidyCommands(CLI::App& app, Context& ctx) {
    auto* tidyCmd =
        app.add_subcommand("tidy", "Tidy the desktop into the storage location")->require_subcommand(1);

    auto yesRun = std::make_shared<bool>(false);
    auto dryRun = std::make_shared<bool>(false);
    auto* run = tidyCmd->add_subcommand(
        "run", "Move every desktop item (except dot files and exclusions) into the tidy folder");
    run->add_flag("--yes,-y", *yesRun, "Do not ask");
    run->add_flag("--dry-run,-n", *dryRun, "List what would move; move nothing");
    run->callback([&ctx, yesRun, dryRun] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        const std::string desktop = ctx.paths.desktop().string();
        tidy::TidyOptions options;
        options.exclusions = ctx.settings().stringArray(key::TidyExclusions).value_or(StringArray{});
        options.dryRun = *dryRun;
        if (!*dryRun &&
            !confirm("Move every item on " + desktop + " into " + folder + "?", *yesRun, "tidy run")) {
            ctx.error("nothing moved");
            return;
        }
        const auto outcome = tidy::tidyDesktop(desktop, folder, options);
        if (!outcome) {
            ctx.error(outcome.error().message);
            return;
        }
        if (*dryRun) {
            for (const auto& to : outcome->moved)
                std::cout << "would move " << escaped(fs::path(to).filename().string()) << '\n';
            for (const auto& name : outcome->excluded) std::cout << "excluded " << escaped(name) << '\n';
            for (const auto& f : outcome->failed) std::cout << "would stay: " << escaped(f.message) << '\n';
            return;
        }
        std::cout << "moved " << outcome->moved.size() << (outcome->moved.size() == 1 ? " item" : " items")
                  << " into " << folder << '\n';
        for (const auto& f : outcome->failed) ctx.error("not moved, stays on the desktop: " + f.message);
    });

    auto* undo = tidyCmd->add_subcommand(
        "undo", "Move the items of the last tidy back to the desktop (never overwrites)");
    undo->callback([&ctx] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        const auto outcome = tidy::undoLastTidy(folder);
        if (!outcome) {
            ctx.error(outcome.error().message);
            return;
        }
        for (const auto& name : outcome->restored) std::cout << "restored " << escaped(name) << '\n';
        for (const auto& name : outcome->missing)
            std::cout << "no longer in the tidy folder: " << escaped(name) << '\n';
        for (const auto& name : outcome->taken)
            ctx.error("the desktop already has an item named '" + escaped(name) + "'; it stays in " + folder);
        for (const auto& f : outcome->failed) ctx.error(f.message);
    });

    auto* exclude = tidyCmd->add_subcommand("exclude", "Name patterns a tidy leaves on the desktop")
                        ->require_subcommand(1);
    exclude->add_subcommand("list", "One pattern a line")->callback([&ctx] {
        for (const auto& p : ctx.settings().stringArray(key::TidyExclusions).value_or(StringArray{}))
            std::cout << escaped(p) << '\n';
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
    auto json = std::make_shared<bool>(false);
    auto* list = tidyCmd->add_subcommand("list", "The tidied items, newest first: <kind>\\t<size>\\t<name>");
    list->add_option("--kind", *kindName, "all, pictures, documents, archives, folders or other")
        ->check(CLI::IsMember({"all", "pictures", "documents", "archives", "folders", "other"}));
    list->add_flag("--json", *json, "A JSON array of records");
    list->callback([&ctx, kindName, json] {
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
        printRecords(nodes, *json);
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
                ctx.error(r.message);
            else
                std::cout << "restored " << escaped(name) << '\n';
        }
    });

    auto deleteNames = std::make_shared<std::vector<std::string>>();
    auto yesDelete = std::make_shared<bool>(false);
    auto* del = tidyCmd->add_subcommand("delete", "Delete tidied items for good (not to the Trash)");
    del->add_option("NAME", *deleteNames, "Names in the tidy folder")->required();
    del->add_flag("--yes,-y", *yesDelete, "Do not ask");
    del->callback([&ctx, deleteNames, yesDelete] {
        for (const auto& name : *deleteNames)
            if (!tidy::isPlainName(name)) throw UsageError("not a name in the tidy folder: '" + name + "'");
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        if (!confirm("Delete " + std::to_string(deleteNames->size()) + " item(s) for good?", *yesDelete,
                     "tidy delete")) {
            ctx.error("nothing deleted");
            return;
        }
        for (const auto& name : *deleteNames) {
            const fs::path path = fs::path(folder) / name;
            std::error_code ec;
            if (fs::symlink_status(path, ec).type() == fs::file_type::not_found) {
                ctx.error("no item named '" + escaped(name) + "' in the tidy folder");
                continue;
            }
            fs::remove_all(path, ec);
            if (ec)
                ctx.error(path.string() + ": " + ec.message());
            else
                std::cout << "deleted " << escaped(name) << '\n';
        }
    });

    auto text = std::make_shared<std::string>();
    auto* search = tidyCmd->add_subcommand("search", "Tidied items whose name contains TEXT (ignoring case)");
    search->add_option("TEXT", *text, "Text to look for")->required();
    search->callback([&ctx, text] {
        const std::string folder = requireFolder(ctx);
        if (folder.empty()) return;
        printRecords(tidy::filterByName(records(folder), *text), false);
    });
}

}  // namespace vaultry::cli
