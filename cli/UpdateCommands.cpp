#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "platform/Version.h"
#include "platform/linux/LinuxHttp.h"
#include "update/VersionCheck.h"

namespace vaultry::cli {

void addUpdateCommands(CLI::App& app, Context& ctx) {
    auto* update = app.add_subcommand("update", "The maker's version list");
    update->require_subcommand(1);
    auto* check = update->add_subcommand(
        "check",
        "Compare this version with the newest one the maker publishes (exit 1 when the list "
        "cannot be fetched or read, or when this build has no update check)");
    auto url = std::make_shared<std::string>();
    check->add_option("--url", *url,
                      "Address of the version list (default: VAULTRY_UPDATE_URL or the built-in one; "
                      "without either there is no update check)");
    addJsonFlag(check, ctx, "{current, latest, updateAvailable, notes}; exit 0 either way");
    check->callback([&ctx, url] {
        const std::string address = url->empty() ? versionListUrl() : *url;
        if (address.empty()) {
            ctx.error(std::string("the update check is off in this build: ") +
                      "the system's package manager (for example apt) updates Vaultry");
            return;
        }
        platform::LinuxHttp http;
        auto list = fetchVersionList(http, address);
        if (!list) {
            ctx.error("cannot check for updates at " + address + ": " + list.error().message);
            return;
        }
        const bool newer = CompareOneString(list->lastestVersion, kVersion);
        if (ctx.json) {
            const nlohmann::json out = {{"current", kVersion},
                                        {"latest", list->lastestVersion},
                                        {"updateAvailable", newer},
                                        {"notes", releaseNotesText(list->whatsNew)}};
            std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
            return;
        }
        if (newer) {
            std::cout << "Vaultry " << escaped(list->lastestVersion) << " is available.\n";
            if (const auto notes = escapedLines(releaseNotesText(list->whatsNew)); !notes.empty())
                std::cout << notes << (notes.back() == '\n' ? "" : "\n");
        } else {
            std::cout << "Vaultry is up to date.\n";
        }
    });
}

}  // namespace vaultry::cli
