#pragma once
#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "trash/TrashItems.h"

// The commands of the Trash group (trash size, empty, check, timer) and the two beside it
// (erase, login-item): for each its options, the function that does the work and the one that
// declares it to CLI11. What several of them print lives in cli/TrashReport.cpp.
namespace vaultry::cli::trashcmd {

inline constexpr const char* kEmptyQuestion = "Are you sure you want to remove all items in the Trash ?";

// ---- What the commands share ---------------------------------------------------------------

void printJson(const nlohmann::json& out);
// The home Trash and every volume's Trash of this user.
std::vector<trash::TrashFolder> trashFolders(Context& ctx);
// All of them together, as du counts them.
std::uint64_t measure(Context& ctx);
std::string itemsText(std::size_t n);
// What a dry run would take when everything goes: every item of every Trash folder.
void describeEmptying(Context& ctx, const std::vector<trash::TrashFolder>& folders, std::uint64_t size,
                      nlohmann::json& out);
// What removing only some items would take (the engine's dry run), by their original paths.
void describePartial(Context& ctx, const trash::PartialReport& r, nlohmann::json& out);
// A partial emptying's outcome; false when something chosen stayed.
bool reportPartial(Context& ctx, const trash::PartialReport& r, nlohmann::json& out);
// Records the emptying and empties; false (with the error printed) when something stayed.
bool recordAndEmpty(Context& ctx, std::uint64_t size, trash::Unlock unlock, nlohmann::json& out);
// The last emptying as the settings keep it, for the end of `trash check`.
void lastEmptied(Context& ctx, nlohmann::json& out);

// ---- trash size ----------------------------------------------------------------------------

struct SizeOptions {
    bool bytes = false;
    bool byVolume = false;
};
void runSize(Context& ctx, const SizeOptions& o);
void addSizeCommand(CLI::App& trash, Context& ctx);

// ---- trash empty ---------------------------------------------------------------------------

struct EmptyOptions {
    std::string olderThan;  // DAYS, as given
    std::string keepUnder;  // SIZE, as given
};
void runEmpty(Context& ctx, const EmptyOptions& o);
void addEmptyCommand(CLI::App& trash, Context& ctx);

// ---- trash check ---------------------------------------------------------------------------

struct CheckOptions {
    std::string every;  // a time choice, as given
    std::string above;  // bytes, as given
};
void runCheck(Context& ctx, const CheckOptions& o);
void addCheckCommand(CLI::App& trash, Context& ctx);

// ---- trash timer ---------------------------------------------------------------------------

struct TimerOptions {
    std::string state;  // on, off or status
};
void runTimer(Context& ctx, const TimerOptions& o);
void addTimerCommand(CLI::App& trash, Context& ctx);

// ---- erase ---------------------------------------------------------------------------------

struct EraseOptions {
    std::vector<std::string> paths;
    unsigned passes = 0;  // 0: the Preferences choice, else the tool's own
};
void runErase(Context& ctx, const EraseOptions& o);
void addEraseCommand(CLI::App& app, Context& ctx);

// ---- login-item ----------------------------------------------------------------------------

struct LoginItemOptions {
    std::string state;  // on, off or status
};
void runLoginItem(Context& ctx, const LoginItemOptions& o);
void addLoginItemCommand(CLI::App& app, Context& ctx);

}  // namespace vaultry::cli::trashcmd
