#include <filesystem>
#include <iostream>
#include <map>

#include "cli/Prompt.h"
#include "cli/TidyCommand.h"
#include "desktop/FileKind.h"
#include "desktop/Tidy.h"
#include "util/NoLinkPath.h"

namespace vaultry::cli::tidycmd {

namespace fs = std::filesystem;

void runList(Context& ctx, const ListOptions& o) {
    const std::string folder = requireFolder(ctx);
    if (folder.empty()) return;
    const std::map<std::string, std::string> kinds = {{"pictures", kind::Pictures},
                                                      {"documents", kind::Documents},
                                                      {"archives", kind::Archives},
                                                      {"folders", kind::Folder},
                                                      {"other", kind::Other}};
    FileNodes nodes = records(folder);
    if (o.kind != "all") {
        const std::string wanted = kinds.at(o.kind);
        std::erase_if(nodes, [&](const auto& n) { return n->fileKindType() != wanted; });
    }
    printRecords(nodes, ctx.json);
}

void runRestore(Context& ctx, const NamesOptions& o) {
    for (const auto& name : o.names)
        if (!tidy::isPlainName(name)) throw UsageError("not a name in the tidy folder: '" + name + "'");
    const std::string folder = requireFolder(ctx);
    if (folder.empty()) return;
    for (const auto& name : o.names) {
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
}

void runDelete(Context& ctx, const NamesOptions& o) {
    for (const auto& name : o.names)
        if (!tidy::isPlainName(name)) throw UsageError("not a name in the tidy folder: '" + name + "'");
    const std::string folder = requireFolder(ctx);
    if (folder.empty()) return;
    prompt::confirm(ctx, "Delete " + std::to_string(o.names.size()) + " item(s) for good?", "tidy delete");
    for (const auto& name : o.names) {
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
}

void runSearch(Context& ctx, const SearchOptions& o) {
    const std::string folder = requireFolder(ctx);
    if (folder.empty()) return;
    printRecords(tidy::filterByName(records(folder), o.text), ctx.json);
}

void addItemCommands(CLI::App& tidy, Context& ctx) {
    auto listed = std::make_shared<ListOptions>();
    auto* list = tidy.add_subcommand("list", "The tidied items, newest first: <kind>\\t<size>\\t<name>");
    list->add_option("--kind", listed->kind, "all, pictures, documents, archives, folders or other")
        ->check(CLI::IsMember({"all", "pictures", "documents", "archives", "folders", "other"}));
    addJsonFlag(list, ctx, "an array of records");
    list->callback([&ctx, listed] { runList(ctx, *listed); });

    auto restored = std::make_shared<NamesOptions>();
    auto* restore =
        tidy.add_subcommand("restore", "Move tidied items back to the desktop (never overwrites)");
    restore->add_option("NAME", restored->names, "Names in the tidy folder")->required();
    addYesFlag(restore, ctx);
    restore->callback([&ctx, restored] { runRestore(ctx, *restored); });

    auto deleted = std::make_shared<NamesOptions>();
    auto* del = tidy.add_subcommand("delete", "Delete tidied items for good (not to the Trash)");
    del->add_option("NAME", deleted->names, "Names in the tidy folder")->required();
    addYesFlag(del, ctx);
    del->callback([&ctx, deleted] { runDelete(ctx, *deleted); });

    auto searched = std::make_shared<SearchOptions>();
    auto* search = tidy.add_subcommand("search", "Tidied items whose name contains TEXT (ignoring case)");
    search->add_option("TEXT", searched->text, "Text to look for")->required();
    addJsonFlag(search, ctx, "an array of records");
    search->callback([&ctx, searched] { runSearch(ctx, *searched); });
}

}  // namespace vaultry::cli::tidycmd
