#pragma once
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "desktop/FBFileNode.h"

// The commands of the tidy group: for each its options, the function that does the work and the
// one that declares it to CLI11. What several of them share is in cli/TidyFolder.cpp.
namespace vaultry::cli::tidycmd {

// ---- What the commands share ---------------------------------------------------------------

// The folder chosen for tidied items; empty when none is chosen.
std::string tidyLocation(Context& ctx);
// The tidy folder in the tidy location; empty when none is chosen (with the error printed).
std::string requireFolder(Context& ctx);
// The tidy folder's records, newest first.
FileNodes records(const std::string& folder);
// One record a line, or a JSON array of them.
void printRecords(const FileNodes& nodes, bool json);

// ---- tidy location -------------------------------------------------------------------------

struct LocationOptions {
    std::string folder;  // empty: print the location
};
void runLocation(Context& ctx, const LocationOptions& o);
void addLocationCommand(CLI::App& tidy, Context& ctx);

// ---- tidy run ------------------------------------------------------------------------------

void runTidy(Context& ctx);
void addRunCommand(CLI::App& tidy, Context& ctx);

// ---- tidy undo -----------------------------------------------------------------------------

void runUndo(Context& ctx);
void addUndoCommand(CLI::App& tidy, Context& ctx);

// ---- tidy exclude list, add, remove --------------------------------------------------------

struct ExcludeOptions {
    std::vector<std::string> patterns;
};
void runExcludeList(Context& ctx);
void runExcludeAdd(Context& ctx, const ExcludeOptions& o);
void runExcludeRemove(Context& ctx, const ExcludeOptions& o);
void addExcludeCommands(CLI::App& tidy, Context& ctx);

// ---- tidy list, restore, delete, search: the items in the tidy folder -----------------------

struct ListOptions {
    std::string kind = "all";
};
struct NamesOptions {
    std::vector<std::string> names;
};
struct SearchOptions {
    std::string text;
};
void runList(Context& ctx, const ListOptions& o);
void runRestore(Context& ctx, const NamesOptions& o);
void runDelete(Context& ctx, const NamesOptions& o);
void runSearch(Context& ctx, const SearchOptions& o);
void addItemCommands(CLI::App& tidy, Context& ctx);

}  // namespace vaultry::cli::tidycmd
