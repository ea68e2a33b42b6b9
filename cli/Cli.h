#pragma once
#include <CLI/CLI.hpp>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "flows/Records.h"
#include "platform/linux/LinuxPaths.h"
#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "vault/Records.h"

namespace vaultry::cli {

// Exit codes, the same in every command group: 0 done, 1 the operation failed, 2 the command
// line was wrong, 3 the user declined, 4 the vault password was wrong.
enum Exit { kOk = 0, kFailed = 1, kUsage = 2, kDeclined = 3, kWrongPassword = 4 };

// Where a pass phrase comes from: the terminal unless one of these is given.
struct PasswordSource {
    bool stdinLine = false;  // --password-stdin
    int fd = -1;             // --password-fd N
    std::string file;        // --password-file PATH
};

// What every command group shares; commands set `exit` and print their errors with error().
struct Context {
    platform::LinuxPaths paths;
    int exit = kOk;
    bool quiet = false;   // -q: no messages about what was done, only data and errors
    bool json = false;    // --json: one JSON document on standard output
    bool dryRun = false;  // --dry-run: say what would happen, change nothing
    bool yes = false;     // -y: every question answered yes
    PasswordSource password;

    SettingsStore& settings() {
        if (!settings_) settings_ = std::make_unique<SettingsStore>(paths.settingsFile());
        return *settings_;
    }
    // The settings, typed; a failure to write them is returned, not logged: commands print it.
    Preferences prefs() { return Preferences(settings(), Preferences::Failures::Returned); }
    int error(const std::string& message, int code = kFailed);
    // Messages about what was done; silent with -q.
    std::ostream& info();

private:
    std::unique_ptr<SettingsStore> settings_;
};

// A problem with the command line found after parsing; main() reports it as a usage error.
struct UsageError : CLI::ParseError {
    explicit UsageError(const std::string& what) : CLI::ParseError("UsageError", what, kUsage) {}
};

// Ends the run with a code and a message, from deep inside a command (main() prints it).
struct Stop {
    int code;
    std::string message;
};

// Text from outside (file names, cookie values, release notes) for one line of the terminal:
// control characters and backslashes escaped C-style.
std::string escaped(std::string_view text);
// The same for text of several lines: line breaks and tabs kept.
std::string escapedLines(std::string_view text);

// The flags commands share.
void addYesFlag(CLI::App* command, Context& ctx);
void addJsonFlag(CLI::App* command, Context& ctx, const std::string& what);
void addDryRunFlag(CLI::App* command, Context& ctx);
void addPasswordOptions(CLI::App* command, Context& ctx);

// The vault's lists as the settings file holds them, for the use cases: each change is applied
// to what the file holds now (another process may have changed it) and written at once; a failure
// is printed.
class SavedLists : public flows::VaultLists {
public:
    explicit SavedLists(Context& ctx) : ctx_(ctx) {}
    StringArray records() override;
    bool add(const std::string& record, vault::RecordKind kind) override;
    bool remove(const std::string& record) override;
    bool markDecrypted(const std::string& record) override;
    bool unmarkDecrypted(const std::string& record) override;

private:
    Context& ctx_;
};

// Run by every vault command before it reads the lists or opens an archive (cli/VaultCommands.cpp).
void settleRekey(Context& ctx);
// Takes in the kind kept with each vault record, settling those of lists from earlier versions.
void learnKinds(Context& ctx);
// The list changes that add a record with its kind (or, without one, remove it and its kind).
Preferences::ListChanges recordChanges(const std::string& record, std::optional<vault::RecordKind> kind);
bool saveRecordChanges(Context& ctx, const Preferences::ListChanges& lists);

// One function per command group, each in its own file.
void addKindCommands(CLI::App& app, Context& ctx);
void addSettingsCommands(CLI::App& app, Context& ctx);
void addUpdateCommands(CLI::App& app, Context& ctx);
void addTidyCommands(CLI::App& app, Context& ctx);
void addCookieCommands(CLI::App& app, Context& ctx);
void addTrashCommands(CLI::App& app, Context& ctx);
void addVaultCommands(CLI::App& app, Context& ctx);
void addVaultListCommands(CLI::App& app, Context& ctx);  // vault list, lock, remove
void addCompletionCommand(CLI::App& app, Context& ctx);

}  // namespace vaultry::cli
