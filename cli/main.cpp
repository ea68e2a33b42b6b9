#include <cstdio>
#include <iostream>

#include "cli/Cli.h"
#include "flows/Upgrade.h"
#include "platform/Version.h"
#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/SecretGuard.h"
#include "vault/VaultIdentity.h"

namespace vaultry::cli {
namespace {

// Swallows what -q silences.
class NullBuffer : public std::streambuf {
protected:
    int overflow(int c) override { return traits_type::not_eof(c); }
};

}  // namespace

int Context::error(const std::string& message, int code) {
    std::cerr << "vaultry-cli: " << message << '\n';
    if (exit == kOk || code != kFailed) exit = code;
    return code;
}

std::ostream& Context::info() {
    static NullBuffer nothing;
    static std::ostream silent(&nothing);
    return quiet ? silent : std::cout;
}

namespace {

std::string escapeText(std::string_view text, bool keepLayout) {
    std::string out;
    for (unsigned char c : text) {
        if (keepLayout && (c == '\n' || c == '\t'))
            out += static_cast<char>(c);
        else if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\r')
            out += "\\r";
        else if (c < 0x20 || c == 0x7f) {
            char buf[5];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string escaped(std::string_view text) { return escapeText(text, false); }
std::string escapedLines(std::string_view text) { return escapeText(text, true); }

void addYesFlag(CLI::App* command, Context& ctx) {
    command->add_flag("-y,--yes", ctx.yes, "Answer yes to every question (needed without a terminal)");
}

void addJsonFlag(CLI::App* command, Context& ctx, const std::string& what) {
    command->add_flag("--json", ctx.json, "Print one JSON document: " + what);
}

void addDryRunFlag(CLI::App* command, Context& ctx) {
    command->add_flag("--dry-run", ctx.dryRun, "Print what would be done and change nothing");
}

void addPasswordOptions(CLI::App* command, Context& ctx) {
    auto* in = command->add_flag("--password-stdin", ctx.password.stdinLine,
                                 "Read the password as one line of standard input");
    auto* fd = command
                   ->add_option("--password-fd", ctx.password.fd,
                                "Read the password as one line of this open file descriptor")
                   ->check(CLI::NonNegativeNumber);
    auto* file = command->add_option("--password-file", ctx.password.file,
                                     "Read the password from the first line of this file");
    in->excludes(fd)->excludes(file);
    fd->excludes(file);
}

}  // namespace vaultry::cli

int main(int argc, char** argv) {
    using namespace vaultry::cli;
    vaultry::platform::guardSecrets();
    CLI::App app{"Vaultry: vault, desktop tidy, trash care, cookie viewer and update check", "vaultry-cli"};
    app.set_version_flag("--version", std::string("vaultry-cli ") + vaultry::kVersion);
    app.require_subcommand(1);
    app.footer(
        "Exit status: 0 done, 1 failed, 2 wrong command line, 3 declined, 4 wrong password.\n"
        "Run 'vaultry-cli GROUP --help' for the commands of a group.");
    Context ctx;
    // -q is taken before or after the command's name.
    app.add_flag("-q,--quiet", ctx.quiet, "Print only data and errors, no messages about what was done");
    app.fallthrough();
    addKindCommands(app, ctx);
    addSettingsCommands(app, ctx);
    addUpdateCommands(app, ctx);
    addTidyCommands(app, ctx);
    addCookieCommands(app, ctx);
    addTrashCommands(app, ctx);
    addVaultCommands(app, ctx);
    addVaultListCommands(app, ctx);
    addCompletionCommand(app, ctx);
    // The integrity manifest's identity lives in the settings the GUI shares.
    ::vaultry::vault::SettingsIntegrityKeeper keeper(
        ctx.settings(), [](const std::string& message) { std::cerr << "vaultry-cli: " << message << '\n'; });
    // What earlier versions left behind is settled once, after the command line is parsed and
    // before the command runs: CLI11 calls this before any subcommand's callback, and never when
    // the parse ended with --help, --version or an error. The completion script only prints. It
    // says nothing on success; a tidy folder that could not move is logged, on standard error.
    app.parse_complete_callback([&app, &ctx] {
        if (app.got_subcommand("completion")) return;
        ::vaultry::platform::LinuxBookmarks bookmarks;
        (void)::vaultry::flows::upgrade(ctx.prefs(), bookmarks, ctx.paths.trash());
    });
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "vaultry-cli: " << e.what() << "\n";
        std::cerr << "Run 'vaultry-cli --help' for usage.\n";
        return kUsage;
    } catch (const Stop& stop) {
        std::cerr << "vaultry-cli: " << stop.message << '\n';
        return stop.code;
    }
    return ctx.exit;
}
