#include <algorithm>
#include <iostream>

#include "cli/ProgressLine.h"
#include "cli/Prompt.h"
#include "cli/TrashCommand.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/SecureErase.h"
#include "util/NoLinkPath.h"

namespace vaultry::cli::trashcmd {

void runErase(Context& ctx, const EraseOptions& o) {
    std::vector<std::string> present, missing, refused;
    for (const auto& p : o.paths) {
        // A path whose meaning depends on a link is refused before anything is asked.
        const auto resolved = pathWithoutLinks(p);
        if (!resolved) {
            ctx.error(escaped(resolved.error().message));
            refused.push_back(p);
            continue;
        }
        std::error_code ec;
        (std::filesystem::exists(std::filesystem::symlink_status(*resolved, ec)) ? present : missing)
            .push_back(p);
    }
    for (const auto& p : missing) ctx.error("no such file or folder: " + escaped(p));
    nlohmann::json out = {{"missing", missing}, {"refused", refused}};
    if (ctx.dryRun) {
        out["dryRun"] = true;
        out["wouldErase"] = present;
        if (ctx.json)
            printJson(out);
        else
            for (const auto& p : present) std::cout << "would erase " << escaped(p) << '\n';
        return;
    }
    if (!present.empty()) {
        std::string list;
        for (const auto& p : present) list += " \n " + escaped(p);
        prompt::confirm(ctx, "Are you sure you want to permanently erase the selected items ?" + list + "\n",
                        "erase");
    }
    platform::LinuxSpawn spawn;
    const unsigned chosen = o.passes ? o.passes : static_cast<unsigned>(ctx.prefs().erasePasses());
    const auto tool = trash::eraseToolForPasses(chosen);
    // Said once per run: where overwriting in place may not reach the old blocks.
    for (const auto& p : present) {
        if (const auto why = trash::overwriteCaveat(p); !why.empty()) {
            std::cerr << "vaultry-cli: note: overwriting " << escaped(p)
                      << " may not reach the blocks that held its data: " << why << '\n';
            break;
        }
    }
    trash::EraseRun run;
    {
        ProgressLine line(ctx);
        run = trash::eraseItems(spawn, tool, present, line.progress());
    }
    const trash::EraseReport& total = run.report;
    for (const auto& why : total.refusals) ctx.error(escaped(why));
    const auto listed = [](const std::vector<std::string>& items) {
        std::string text;
        for (const auto& item : items) text += (text.empty() ? "" : ", ") + escaped(item);
        return text;
    };
    if (total.cancelled) {
        // Overwritten files cannot come back: say exactly what went and what is still there.
        std::string message = "cancelled; erased " + std::to_string(total.erased) + " file(s)";
        if (!run.gone.empty()) message += "; gone: " + listed(run.gone);
        if (!run.partial.empty()) message += "; partly erased: " + listed(run.partial);
        std::vector<std::string> untouched;
        for (const auto& item : run.left)
            if (std::find(run.partial.begin(), run.partial.end(), item) == run.partial.end())
                untouched.push_back(item);
        if (!untouched.empty()) message += "; left as they were: " + listed(untouched);
        ctx.error(message, kDeclined);
    }
    for (const auto& p : total.otherFileSystems)
        ctx.error("left alone, another file system is mounted at " + escaped(p));
    for (const auto& p : run.failing) ctx.error("could not erase everything in " + escaped(p));
    if (ctx.json) {
        out["erased"] = total.erased;
        out["removed"] = total.removed;
        out["failed"] = total.failed;
        out["otherFileSystems"] = total.otherFileSystems;
        out["gone"] = run.gone;
        out["left"] = run.left;
        out["partial"] = run.partial;
        out["cancelled"] = total.cancelled;
        printJson(out);
        return;
    }
    if (!total.cancelled) {
        ctx.info() << "erased " << total.erased << " file(s), removed " << total.removed
                   << " other item(s)\n";
        if (total.failed) ctx.info() << total.failed << " item(s) not erased\n";
    }
}

void addEraseCommand(CLI::App& app, Context& ctx) {
    auto o = std::make_shared<EraseOptions>();
    auto* cmd = app.add_subcommand(
        "erase",
        "Overwrite and delete files and folders (srm, else shred); Ctrl-C stops before the next file and "
        "says what was erased and what was left");
    cmd->add_option("PATH", o->paths, "Files and folders to erase")->required();
    cmd->add_option("--passes", o->passes,
                    "1: one random pass (srm -ll, else shred -n 1 -z), seconds per GiB instead of minutes; "
                    "many passes buy nothing on today's drives. Default: the Preferences choice, else "
                    "the tool's own")
        ->check(CLI::IsMember({1u}));
    addYesFlag(cmd, ctx);
    addDryRunFlag(cmd, ctx);
    addJsonFlag(cmd, ctx,
                "{erased, removed, failed, missing: [paths], refused: [paths], otherFileSystems: [paths], "
                "gone: [paths], left: [paths], partial: [paths], cancelled} (with --dry-run: wouldErase)");
    cmd->callback([&ctx, o] { runErase(ctx, *o); });
}

}  // namespace vaultry::cli::trashcmd
