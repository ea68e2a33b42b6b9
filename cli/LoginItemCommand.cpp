#include <iostream>

#include "cli/TrashCommand.h"
#include "platform/linux/LinuxLoginItems.h"

namespace vaultry::cli::trashcmd {

void runLoginItem(Context& ctx, const LoginItemOptions& o) {
    platform::LinuxLoginItems items(ctx.paths, platform::LinuxLoginItems::guiProgram());
    if (o.state == "status") {
        if (ctx.json)
            printJson({{"enabled", items.isEnabled()}, {"entry", items.entryPath().string()}});
        else
            std::cout << (items.isEnabled() ? "on" : "off") << '\n';
        return;
    }
    const bool on = o.state == "on";
    if (!items.setEnabled(on)) ctx.error("cannot change " + items.entryPath().string());
    Preferences prefs = ctx.prefs();
    prefs.setAutoLogin(items.isEnabled());
    if (std::string why; !prefs.save(&why)) ctx.error(why);
}

void addLoginItemCommand(CLI::App& app, Context& ctx) {
    auto o = std::make_shared<LoginItemOptions>();
    auto* cmd = app.add_subcommand("login-item", "Start Vaultry at login: on, off or status");
    cmd->add_option("STATE", o->state, "on, off or status")
        ->required()
        ->check(CLI::IsMember({"on", "off", "status"}));
    addYesFlag(cmd, ctx);
    addJsonFlag(cmd, ctx, "{enabled, entry} for status");
    cmd->callback([&ctx, o] { runLoginItem(ctx, *o); });
}

}  // namespace vaultry::cli::trashcmd
