#include <iostream>

#include "cli/TrashCommand.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/TrashSchedule.h"

namespace vaultry::cli::trashcmd {

void runTimer(Context& ctx, const TimerOptions& o) {
    platform::LinuxSpawn spawn;
    const auto config = ctx.paths.configHome();
    if (o.state == "status") {
        const std::string status = trash::trashTimerStatus(spawn, config);
        if (ctx.json)
            printJson({{"status", status}});
        else
            std::cout << escaped(status) << '\n';
        return;
    }
    if (o.state == "on") {
        std::error_code ec;
        auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
        if (ec) self = "/usr/bin/vaultry-cli";
        if (auto st = trash::installTrashTimer(spawn, config, self); !st) {
            ctx.error(st.error().message);
            return;
        }
        ctx.info() << "The Trash schedule is checked every hour (" << trash::kTimerName << ")\n";
        return;
    }
    if (auto st = trash::removeTrashTimer(spawn, config); !st) {
        ctx.error(st.error().message);
        return;
    }
    ctx.info() << "The hourly Trash check is off\n";
}

void addTimerCommand(CLI::App& trash, Context& ctx) {
    auto o = std::make_shared<TimerOptions>();
    auto* cmd = trash.add_subcommand(
        "timer",
        "A systemd user timer that runs 'trash check --yes' every hour, also when Vaultry is not running");
    cmd->add_option("STATE", o->state, "on, off or status")
        ->required()
        ->check(CLI::IsMember({"on", "off", "status"}));
    addYesFlag(cmd, ctx);
    addJsonFlag(cmd, ctx, "{status} for status");
    cmd->callback([&ctx, o] { runTimer(ctx, *o); });
}

}  // namespace vaultry::cli::trashcmd
