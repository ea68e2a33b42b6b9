#include <iostream>

#include "cli/TrashCommand.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/TrashSchedule.h"

namespace vaultry::cli::trashcmd {

void runSize(Context& ctx, const SizeOptions& o) {
    platform::LinuxSpawn spawn;
    const auto show = [&](std::uint64_t size) {
        if (o.bytes)
            std::cout << size;
        else
            std::cout << sizeText(size, 2);
    };
    std::uint64_t total = 0;
    auto volumes = nlohmann::json::array();
    for (const auto& folder : trashFolders(ctx)) {
        const auto size = trash::trashSize(spawn, folder);
        total += size;
        volumes.push_back({{"trash", folder.path.string()},
                           {"mountPoint", folder.mountPoint.string()},
                           {"bytes", size},
                           {"sizeText", sizeText(size, 2)}});
        if (!o.byVolume || ctx.json) continue;
        show(size);
        std::cout << '\t' << escaped(folder.path.string()) << '\n';
    }
    if (ctx.json) {
        printJson({{"bytes", total}, {"sizeText", sizeText(total, 2)}, {"volumes", volumes}});
        return;
    }
    if (o.byVolume) return;
    show(total);
    std::cout << '\n';
}

void addSizeCommand(CLI::App& trash, Context& ctx) {
    auto o = std::make_shared<SizeOptions>();
    auto* cmd = trash.add_subcommand(
        "size", "Print the size of the Trash of every volume together (as du counts each)");
    cmd->add_flag("--bytes", o->bytes, "Print the byte count instead of the size text");
    cmd->add_flag("--by-volume", o->byVolume, "One line per Trash folder: <size>\\t<Trash folder>");
    addJsonFlag(cmd, ctx, "{bytes, sizeText, volumes: [{trash, mountPoint, bytes, sizeText}]}");
    cmd->callback([&ctx, o] { runSize(ctx, *o); });
}

}  // namespace vaultry::cli::trashcmd
