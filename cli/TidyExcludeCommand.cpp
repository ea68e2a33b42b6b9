#include <algorithm>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/TidyCommand.h"

namespace vaultry::cli::tidycmd {

void runExcludeList(Context& ctx) {
    const StringArray list = ctx.prefs().tidyExclusions();
    if (ctx.json) {
        std::cout << nlohmann::json(list).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                  << '\n';
        return;
    }
    for (const auto& p : list) std::cout << escaped(p) << '\n';
}

void runExcludeAdd(Context& ctx, const ExcludeOptions& o) {
    Preferences prefs = ctx.prefs();
    StringArray list = prefs.tidyExclusions();
    for (const auto& p : o.patterns) {
        if (p.empty() || p.find('/') != std::string::npos)
            throw UsageError("not a name pattern: '" + p + "'");
        if (std::find(list.begin(), list.end(), p) == list.end()) list.push_back(p);
    }
    prefs.setTidyExclusions(list);
    if (std::string why; !prefs.save(&why)) ctx.error(why);
}

void runExcludeRemove(Context& ctx, const ExcludeOptions& o) {
    Preferences prefs = ctx.prefs();
    StringArray list = prefs.tidyExclusions();
    for (const auto& p : o.patterns) {
        const auto it = std::find(list.begin(), list.end(), p);
        if (it == list.end())
            ctx.error("no such pattern: '" + escaped(p) + "'");
        else
            list.erase(it);
    }
    prefs.setTidyExclusions(list);
    if (std::string why; !prefs.save(&why)) ctx.error(why);
}

void addExcludeCommands(CLI::App& tidy, Context& ctx) {
    auto* exclude =
        tidy.add_subcommand("exclude", "Name patterns a tidy leaves on the desktop")->require_subcommand(1);
    auto* list = exclude->add_subcommand("list", "One pattern a line");
    addJsonFlag(list, ctx, "[patterns]");
    list->callback([&ctx] { runExcludeList(ctx); });

    auto added = std::make_shared<ExcludeOptions>();
    auto* add = exclude->add_subcommand("add", "Add shell wildcard patterns, e.g. '*.desktop'");
    add->add_option("PATTERN", added->patterns, "Patterns matched against each desktop name")->required();
    addYesFlag(add, ctx);
    add->callback([&ctx, added] { runExcludeAdd(ctx, *added); });

    auto removed = std::make_shared<ExcludeOptions>();
    auto* remove = exclude->add_subcommand("remove", "Remove patterns");
    remove->add_option("PATTERN", removed->patterns, "Patterns as listed")->required();
    addYesFlag(remove, ctx);
    remove->callback([&ctx, removed] { runExcludeRemove(ctx, *removed); });
}

}  // namespace vaultry::cli::tidycmd
