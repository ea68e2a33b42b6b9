#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/TidyCommand.h"
#include "desktop/Tidy.h"

namespace vaultry::cli::tidycmd {

void runUndo(Context& ctx) {
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
        for (const auto& f : outcome->failed) failed.push_back({{"name", f.name}, {"message", f.message}});
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
}

void addUndoCommand(CLI::App& tidy, Context& ctx) {
    auto* cmd =
        tidy.add_subcommand("undo", "Move the items of the last tidy back to the desktop (never overwrites)");
    addYesFlag(cmd, ctx);
    addJsonFlag(cmd, ctx, "{restored: [names], missing: [names], taken: [names], failed: [{name, message}]}");
    cmd->callback([&ctx] { runUndo(ctx); });
}

}  // namespace vaultry::cli::tidycmd
