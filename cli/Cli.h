#pragma once
#include <CLI/CLI.hpp>
#include <memory>
#include <string>

#include "app/SettingsStore.h"
#include "platform/linux/LinuxPaths.h"

namespace vaultry::cli {

// Exit codes: 0 done, 1 the operation failed, 2 the command line was wrong.
enum Exit { kOk = 0, kFailed = 1, kUsage = 2 };

// What every command group shares; commands set `exit` and print their errors with error().
struct Context {
    platform::LinuxPaths paths;
    int exit = kOk;
    SettingsStore& settings() {
        if (!settings_) settings_ = std::make_unique<SettingsStore>(paths.settingsFile());
        return *settings_;
    }
    int error(const std::string& message, int code = kFailed);

private:
    std::unique_ptr<SettingsStore> settings_;
};

// A problem with the command line found after parsing; main() reports it as a usage error.
struct UsageError : CLI::ParseError {
    explicit UsageError(const std::string& what) : CLI::ParseError("UsageError", what, kUsage) {}
};

// One function per command group, each in its own file.
void addKindCommands(CLI::App& app, Context& ctx);
void addSettingsCommands(CLI::App& app, Context& ctx);
void addUpdateCommands(CLI::App& app, Context& ctx);
void addTidyCommands(CLI::App& app, Context& ctx);
void addCookieCommands(CLI::App& app, Context& ctx);
void addTrashCommands(CLI::App& app, Context& ctx);
void addVaultCommands(CLI::App& app, Context& ctx);
void addVaultListCommands(CLI::App& app, Context& ctx);  // vault list, lock, remove

}  // namespace vaultry::cli
