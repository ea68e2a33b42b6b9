#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/ProgressLine.h"
#include "cli/Prompt.h"
#include "cli/TidyCommand.h"
#include "desktop/Tidy.h"
#include "flows/Tidy.h"
#include "util/TestPause.h"
#include "vault/Records.h"
#include "vault/VaultIdentity.h"

namespace vaultry::cli::tidycmd {

namespace fs = std::filesystem;

void runTidy(Context& ctx) {
    const std::string folder = requireFolder(ctx);
    if (folder.empty()) return;
    const std::string desktop = ctx.paths.desktop().string();
    if (const std::string refusal = flows::tidyRefusal(ctx.paths, fs::path(folder).parent_path().string());
        !refusal.empty()) {
        ctx.error("not tidying: " + refusal);
        return;
    }
    learnKinds(ctx);
    auto options =
        flows::tidyOptions(ctx.prefs(), desktop, ctx.prefs().records(), ctx.prefs().decryptedRecords());
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
    Result<tidy::TidyOutcome> outcome = fail("not run");
    {
        // Held from before the folder's marker is written: a Ctrl-C meanwhile cancels the tidy
        // before its first move, and never leaves the marker half written.
        ProgressLine line(ctx);
        if (auto st = vault::requireTidyFolder(ctx.settings(), folder); !st)
            outcome = st.error();
        else
            outcome = tidy::tidyDesktop(desktop, folder, options, line.progress());
    }
    if (!outcome) {
        const bool cancelled = outcome.error().cancelled;
        // Cancelled, the items already moved went back: the desktop is as it was.
        ctx.error(
            cancelled ? "cancelled; nothing was changed, the desktop is as it was" : outcome.error().message,
            cancelled ? kDeclined : kFailed);
        if (ctx.json)
            std::cout << nlohmann::json{{"folder", folder},
                                        {"cancelled", cancelled},
                                        {"error", cancelled ? "" : outcome.error().message}}
                             .dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                      << '\n';
        return;
    }
    for (const auto& f : outcome->failed) ctx.error("not moved, stays on the desktop: " + escaped(f.message));
    if (ctx.json) {
        auto failed = nlohmann::json::array();
        for (const auto& f : outcome->failed) failed.push_back({{"name", f.name}, {"message", f.message}});
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
}

void addRunCommand(CLI::App& tidy, Context& ctx) {
    auto* cmd = tidy.add_subcommand(
        "run", "Move every desktop item (except dot files and exclusions) into the tidy folder");
    addYesFlag(cmd, ctx);
    addDryRunFlag(cmd, ctx);
    addJsonFlag(
        cmd, ctx,
        "{folder, cancelled, moved: [paths], failed: [{name, message}], excluded: [names]} (cancelled or "
        "failed: {folder, cancelled, error}; with --dry-run: "
        "wouldMove, excluded, wouldStay: names)");
    cmd->callback([&ctx] { runTidy(ctx); });
}

}  // namespace vaultry::cli::tidycmd
