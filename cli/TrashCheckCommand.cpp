#include <charconv>

#include "cli/Prompt.h"
#include "cli/TrashCommand.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/TrashSchedule.h"

namespace vaultry::cli::trashcmd {
namespace {

// The rules kept by Vaultry, applied once as its hourly check does.
void checkKeptRules(Context& ctx, const std::vector<trash::TrashFolder>& folders, nlohmann::json& out) {
    auto& settings = ctx.settings();
    platform::LinuxSpawn spawn;
    const auto rules = trash::rulesFromSettings(settings);
    if (!rules.byTime && !rules.bySize) {
        if (ctx.json) {
            out["action"] = "none";
            printJson(out);
        } else {
            ctx.info() << "No Trash schedule is set\n";
        }
        return;
    }
    const auto result = trash::applySchedule(
        spawn, settings, folders, std::chrono::system_clock::now(),
        [&] {
            prompt::confirm(ctx, kEmptyQuestion, "trash check");
            return true;
        },
        ctx.dryRun);
    out["bytes"] = result.sizeBefore;
    out["sizeText"] = sizeText(result.sizeBefore, 2);
    switch (result.action) {
        case trash::ScheduleAction::None:
            out["action"] = "none";
            if (!ctx.json) ctx.info() << "Trash not due for emptying\n";
            break;
        case trash::ScheduleAction::EmptyAll:
            out["action"] = "empty";
            out["due"] = true;
            if (ctx.dryRun) {
                describeEmptying(ctx, folders, result.sizeBefore, out);
            } else if (!result.emptied.ok()) {
                ctx.error(std::to_string(result.emptied.failed) +
                          " item(s) in the Trash could not be removed");
            } else {
                out["emptied"] = true;
                out["removed"] = result.emptied.removed;
                if (!ctx.json) ctx.info() << "Trash emptied (" << sizeText(result.sizeBefore, 2) << ")\n";
            }
            break;
        case trash::ScheduleAction::RemoveOlder:
        case trash::ScheduleAction::RemoveOldest:
            out["action"] = result.action == trash::ScheduleAction::RemoveOlder ? "older" : "oldest";
            out["due"] = true;
            if (ctx.dryRun)
                describePartial(ctx, result.partial, out);
            else
                reportPartial(ctx, result.partial, out);
            break;
    }
    lastEmptied(ctx, out);
    if (ctx.json) printJson(out);
}

}  // namespace

void runCheck(Context& ctx, const CheckOptions& o) {
    std::optional<std::uint64_t> interval, limit;
    if (!o.every.empty() && !(interval = trash::intervalOfTimeChoice(o.every)))
        throw UsageError("unknown time choice '" + o.every +
                         "' (Daily, \"Every Week\", \"Two Weeks\", \"Every Month\", \"Two Months\")");
    if (!o.above.empty()) {
        std::uint64_t n = 0;
        const auto [end, ec] = std::from_chars(o.above.data(), o.above.data() + o.above.size(), n);
        if (ec != std::errc() || end != o.above.data() + o.above.size())
            throw UsageError("not a byte count: '" + o.above + "'");
        limit = n;
    }
    nlohmann::json out = {{"due", false}, {"emptied", false}};
    if (ctx.dryRun) out["dryRun"] = true;
    const auto folders = trashFolders(ctx);
    if (!interval && !limit) {
        checkKeptRules(ctx, folders, out);
        return;
    }
    bool due = false;
    const auto emptyWhenDue = [&](std::uint64_t size) {
        due = true;
        out["due"] = true;
        if (ctx.dryRun) {
            describeEmptying(ctx, folders, size, out);
            return;
        }
        prompt::confirm(ctx, kEmptyQuestion, "trash check");
        recordAndEmpty(ctx, size, trash::Unlock::No, out);
    };
    if (limit) {
        const auto size = measure(ctx);
        if (size >= *limit) emptyWhenDue(size);
    }
    if (!due && interval &&
        trash::secondsSince(ctx.prefs().lastCleanDate(), std::chrono::system_clock::now()) >= *interval)
        emptyWhenDue(measure(ctx));
    if (!due && !ctx.json) ctx.info() << "Trash not due for emptying\n";
    lastEmptied(ctx, out);
    if (ctx.json) printJson(out);
}

void addCheckCommand(CLI::App& trash, Context& ctx) {
    auto o = std::make_shared<CheckOptions>();
    auto* cmd = trash.add_subcommand(
        "check",
        "Apply the Trash schedule once: without options the rules kept by Vaultry (as its hourly check "
        "does), else by time since the last emptying and/or by size");
    cmd->add_option("--every", o->every,
                    "Daily, \"Every Week\", \"Two Weeks\", \"Every Month\" or \"Two Months\"");
    cmd->add_option("--above", o->above, "Size limit in bytes");
    addYesFlag(cmd, ctx);
    addDryRunFlag(cmd, ctx);
    addJsonFlag(cmd, ctx,
                "{due, emptied, bytes, sizeText, lastEmptied, lastEmptiedSize} (the kept rules: also action, "
                "removed, failed, unreadable; with --dry-run: wouldRemove, volumes)");
    cmd->callback([&ctx, o] { runCheck(ctx, *o); });
}

}  // namespace vaultry::cli::trashcmd
