#include <filesystem>
#include <iostream>

#include "cli/TidyCommand.h"
#include "desktop/Tidy.h"
#include "desktop/TidyLocation.h"
#include "platform/linux/LinuxBookmarks.h"
#include "settings/Preferences.h"

namespace vaultry::cli::tidycmd {

namespace fs = std::filesystem;

void runLocation(Context& ctx, const LocationOptions& o) {
    Preferences prefs(ctx.settings());
    platform::LinuxBookmarks bookmarks;
    const std::string current = tidyLocation(ctx);
    if (o.folder.empty()) {
        if (current.empty()) return (void)ctx.error("no tidy location is chosen");
        std::cout << escaped(current) << (prefs.tidyLocationFromVault() ? " (not chosen yet)" : "") << '\n';
        return;
    }
    std::error_code ec;
    const fs::path folder = fs::absolute(o.folder, ec).lexically_normal();
    if (ec || !fs::is_directory(folder, ec)) return (void)ctx.error("not a folder: " + escaped(o.folder));
    if (const std::string storage = prefs.storePath().value_or("");
        tidy::insideStorage(folder.string(), storage))
        return (void)ctx.error("tidied items cannot go into the vault's storage folder " + escaped(storage));
    auto grant = bookmarks.create(folder.string());
    if (!grant) return (void)ctx.error("cannot keep a grant of " + escaped(folder.string()));
    tidy::moveTidyFolder(current, folder.string());  // what could not move is logged
    prefs.setTidyLocationGrant(*grant);
    prefs.setTidyLocationFromVault(false);
    if (std::string why; !prefs.save(&why))
        return (void)ctx.error("the settings could not be written: " + why);
    ctx.info() << "tidied items go to " << escaped(tidy::storageFolder(folder.string())) << '\n';
}

void addLocationCommand(CLI::App& tidy, Context& ctx) {
    auto o = std::make_shared<LocationOptions>();
    auto* cmd = tidy.add_subcommand(
        "location", "Print the folder tidied items go to, or choose it (the tidy folder moves along)");
    cmd->add_option("FOLDER", o->folder, "An existing folder outside the vault's storage folder");
    addYesFlag(cmd, ctx);
    cmd->callback([&ctx, o] { runLocation(ctx, *o); });
}

}  // namespace vaultry::cli::tidycmd
