#include "cli/TidyCommand.h"

// The tidy group; each command's work is in its own file.
namespace vaultry::cli {

void addTidyCommands(CLI::App& app, Context& ctx) {
    auto* tidy = app.add_subcommand("tidy", "Tidy the desktop into the tidy folder")->require_subcommand(1);
    tidycmd::addLocationCommand(*tidy, ctx);
    tidycmd::addRunCommand(*tidy, ctx);
    tidycmd::addUndoCommand(*tidy, ctx);
    tidycmd::addExcludeCommands(*tidy, ctx);
    tidycmd::addItemCommands(*tidy, ctx);
}

}  // namespace vaultry::cli
