#include "cli/TrashCommand.h"

// The Trash group and the two commands beside it; each command's work is in its own file.
namespace vaultry::cli {

void addTrashCommands(CLI::App& app, Context& ctx) {
    auto* trash = app.add_subcommand("trash", "Measure, empty and check the Trash")->require_subcommand(1);
    trashcmd::addSizeCommand(*trash, ctx);
    trashcmd::addEmptyCommand(*trash, ctx);
    trashcmd::addCheckCommand(*trash, ctx);
    trashcmd::addTimerCommand(*trash, ctx);
    trashcmd::addEraseCommand(app, ctx);
    trashcmd::addLoginItemCommand(app, ctx);
}

}  // namespace vaultry::cli
