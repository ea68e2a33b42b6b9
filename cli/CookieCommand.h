#pragma once
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"

// The commands of the cookies group: for each its options, the function that does the work and
// the one that declares it to CLI11. What several of them share is in cli/CookieStore.cpp.
namespace vaultry::cli::cookiecmd {

// ---- What the commands share ---------------------------------------------------------------

struct Store {
    std::string path;
    cookies::Layout layout;
    std::string browser;  // empty for a file named on the command line
};

void printJson(const nlohmann::json& out);
// A browser's store (its default profile, or the one `profile` names), or a file read as the
// opened-file flow reads it.
std::optional<Store> resolveStore(Context& ctx, const std::string& target, const std::string& profile = {});
// The store's cookies, Chromium values decrypted with the browser's key where the keyring has it.
CookNodes readStore(const Store& store);
bool storePresent(Context& ctx, const Store& store);
// The export file's lines, each cookie's escaped so that a value cannot reach the terminal as
// control characters or break the format; or a JSON array.
void print(const CookNodes& nodes, bool json);

// ---- cookies read, scan, profiles ----------------------------------------------------------

struct ReadOptions {
    std::string file;
    std::string layout = "auto";
};
struct ScanOptions {
    std::string browser;
    std::string profile;
};
void runRead(Context& ctx, const ReadOptions& o);
void runScan(Context& ctx, const ScanOptions& o);
void runProfiles(Context& ctx);
void addReadCommands(CLI::App& cookies, Context& ctx);

// ---- cookies export ------------------------------------------------------------------------

struct ExportOptions {
    std::string store;  // a browser or a store file
    std::string profile;
};
void runExport(Context& ctx, const ExportOptions& o);
void addExportCommand(CLI::App& cookies, Context& ctx);

// ---- cookies remove ------------------------------------------------------------------------

struct RemoveOptions {
    std::string store;  // a browser or a store file
    std::string profile;
    std::vector<std::string> domains;  // empty: all but the keep-list's
};
void runRemove(Context& ctx, const RemoveOptions& o);
void addRemoveCommand(CLI::App& cookies, Context& ctx);

// ---- cookies keep add, remove, list --------------------------------------------------------

struct KeepOptions {
    std::string domain;
};
void runKeepAdd(Context& ctx, const KeepOptions& o);
void runKeepRemove(Context& ctx, const KeepOptions& o);
void runKeepList(Context& ctx);
void addKeepCommands(CLI::App& cookies, Context& ctx);

}  // namespace vaultry::cli::cookiecmd
