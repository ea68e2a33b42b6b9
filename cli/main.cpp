#include <cstdio>
#include <iostream>

#include "cli/Cli.h"
#include "platform/Version.h"
#include "platform/linux/SecretGuard.h"

namespace vaultry::cli {

int Context::error(const std::string& message, int code) {
    std::cerr << "vaultry-cli: " << message << '\n';
    exit = code;
    return code;
}

}  // namespace vaultry::cli

int main(int argc, char** argv) {
    using namespace vaultry::cli;
    vaultry::platform::guardSecrets();
    CLI::App app{"Vaultry: vault, desktop tidy, trash care, cookie viewer and update check", "vaultry-cli"};
    app.set_version_flag("--version", std::string("vaultry-cli ") + vaultry::kVersion);
    app.require_subcommand(1);
    Context ctx;
    addKindCommands(app, ctx);
    addSettingsCommands(app, ctx);
    addUpdateCommands(app, ctx);
    addTidyCommands(app, ctx);
    addCookieCommands(app, ctx);
    addTrashCommands(app, ctx);
    addVaultCommands(app, ctx);
    addVaultListCommands(app, ctx);
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vaultry-cli: " << e.what() << "\n";
        std::cerr << "Run 'vaultry-cli --help' for usage.\n";
        return kUsage;
    }
    return ctx.exit;
}
