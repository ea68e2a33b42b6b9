#include <filesystem>
#include <iostream>

#include "cli/CookieCommand.h"
#include "cookies/PRRtfController.h"
#include "util/AtomicFile.h"

namespace vaultry::cli::cookiecmd {

namespace fs = std::filesystem;

void runExport(Context& ctx, const ExportOptions& o) {
    const auto store = resolveStore(ctx, o.store, o.profile);
    if (!store || !storePresent(ctx, *store)) return;
    const auto text = cookies::exportText(readStore(*store));
    const fs::path folder = cookies::exportFolder(ctx.paths);
    std::error_code ec;
    fs::create_directories(folder, ec);
    const fs::path file = folder / cookies::kExportFileName;
    if (const auto written = writeFileAtomically(file, text); !written) {
        ctx.error(written.error().message);
        return;
    }
    std::cout << file.string() << '\n';
}

void addExportCommand(CLI::App& group, Context& ctx) {
    auto o = std::make_shared<ExportOptions>();
    auto* cmd = group.add_subcommand("export", "Write a store's cookies to the export file; prints its path");
    cmd->add_option("STORE", o->store, "A browser (its default profile unless --profile) or a store file")
        ->required();
    cmd->add_option("--profile", o->profile, "The profile's name or folder (see cookies profiles)");
    addYesFlag(cmd, ctx);
    cmd->callback([&ctx, o] { runExport(ctx, *o); });
}

}  // namespace vaultry::cli::cookiecmd
