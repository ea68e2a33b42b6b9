#include <charconv>

#include "cli/Prompt.h"
#include "cli/TrashCommand.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/TrashSchedule.h"

namespace vaultry::cli::trashcmd {

void runEmpty(Context& ctx, const EmptyOptions& o) {
    std::optional<std::uint64_t> days, limit;
    if (!o.olderThan.empty()) {
        std::uint64_t n = 0;
        const auto [end, ec] =
            std::from_chars(o.olderThan.data(), o.olderThan.data() + o.olderThan.size(), n);
        if (ec != std::errc() || end != o.olderThan.data() + o.olderThan.size() || n > 100000)
            throw UsageError("not a number of days: '" + o.olderThan + "'");
        days = n;
    }
    if (!o.keepUnder.empty() && !(limit = trash::parseSize(o.keepUnder)))
        throw UsageError("not a size: '" + o.keepUnder + "' (for example 500MB, 2GiB or a byte count)");
    nlohmann::json out = nlohmann::json::object();
    const auto folders = trashFolders(ctx);
    if (!days && !limit) {
        platform::LinuxSpawn spawn;
        if (ctx.dryRun) {
            out["dryRun"] = true;
            describeEmptying(ctx, folders, trash::totalSize(spawn, folders), out);
        } else {
            prompt::confirm(ctx, kEmptyQuestion, "trash empty");
            recordAndEmpty(ctx, trash::totalSize(spawn, folders), trash::Unlock::Yes, out);
        }
        if (ctx.json) printJson(out);
        return;
    }
    if (!ctx.dryRun) {
        std::string question = "Remove from the Trash";
        if (days) question += " the items deleted more than " + std::to_string(*days) + " day(s) ago";
        if (days && limit) question += ", then";
        if (limit) question += " the oldest items until it is below " + sizeText(*limit, 2);
        prompt::confirm(ctx, question + " ?", "trash empty");
    }
    std::optional<trash::TimePoint> cutoff;
    if (days) cutoff = std::chrono::system_clock::now() - std::chrono::days(*days);
    const auto total = trash::emptyByAgeAndSize(folders, cutoff, limit, trash::Unlock::Yes, ctx.dryRun);
    if (ctx.dryRun) {
        out["dryRun"] = true;
        describePartial(ctx, total, out);
    } else {
        reportPartial(ctx, total, out);
    }
    if (ctx.json) printJson(out);
}

void addEmptyCommand(CLI::App& trash, Context& ctx) {
    auto o = std::make_shared<EmptyOptions>();
    auto* cmd = trash.add_subcommand(
        "empty", "Empty the Trash of every volume, read-only folders in it included; or only old items");
    cmd->add_option("--older-than", o->olderThan,
                    "Remove only the items deleted more than DAYS days ago (by their .trashinfo)");
    cmd->add_option("--keep-under", o->keepUnder,
                    "Remove the oldest items until the Trash is below SIZE (500MB, 2GiB, bytes)");
    addYesFlag(cmd, ctx);
    addDryRunFlag(cmd, ctx);
    addJsonFlag(cmd, ctx,
                "{emptied, bytes, sizeText, removed, failed} (only some items: {removed, failed, unreadable, "
                "bytes, sizeText}; with --dry-run: wouldRemove, volumes: [{trash, wouldRemove}])");
    cmd->callback([&ctx, o] { runEmpty(ctx, *o); });
}

}  // namespace vaultry::cli::trashcmd
