#include "cli/CookieCommand.h"

// The cookies group; each command's work is in its own file.
namespace vaultry::cli {

void addCookieCommands(CLI::App& app, Context& ctx) {
    auto* group =
        app.add_subcommand("cookies", "Read, export and remove browser cookies")->require_subcommand(1);
    cookiecmd::addReadCommands(*group, ctx);
    cookiecmd::addExportCommand(*group, ctx);
    cookiecmd::addRemoveCommand(*group, ctx);
    cookiecmd::addKeepCommands(*group, ctx);
}

}  // namespace vaultry::cli
