#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/TidyCommand.h"
#include "desktop/Tidy.h"
#include "desktop/TidyLocation.h"
#include "platform/linux/LinuxBookmarks.h"

namespace vaultry::cli::tidycmd {

std::string tidyLocation(Context& ctx) {
    // A tidy folder an earlier version kept in the storage folder was moved out at the start.
    platform::LinuxBookmarks bookmarks;
    return tidy::chosenLocation(ctx.prefs(), bookmarks, ctx.paths.trash());
}

namespace {

// The tidy folder in the tidy location; empty when none is chosen.
std::string tidyFolder(Context& ctx) { return tidy::storageFolder(tidyLocation(ctx)); }

}  // namespace

void printRecords(const FileNodes& nodes, bool json) {
    if (json) {
        auto out = nlohmann::json::array();
        for (const auto& n : nodes)
            out.push_back({{"name", n->fileName()},
                           {"path", n->fullFilePath()},
                           {"kind", n->fileKindType()},
                           {"size", n->filesizenumber()},
                           {"sizeText", n->fileSize()},
                           {"modified", n->fileModifyDate()},
                           {"created", n->fileCreateDate()}});
        // Names that are not UTF-8 cannot be JSON text; their bad bytes become U+FFFD.
        std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    // Names are printed one to a line, escaped so that a name cannot break the line format
    // (--json gives the names as they are).
    for (const auto& n : nodes)
        std::cout << n->fileKindType() << '\t' << n->fileSize() << '\t' << escaped(n->fileName()) << '\n';
}

FileNodes records(const std::string& folder) {
    FileNodes nodes = scanFolder(folder);
    sortNewestFirst(nodes);
    return nodes;
}

std::string requireFolder(Context& ctx) {
    const std::string folder = tidyFolder(ctx);
    if (folder.empty()) {
        ctx.error("no tidy location is chosen; choose one with 'vaultry-cli tidy location FOLDER'");
        return {};
    }
    return folder;
}

}  // namespace vaultry::cli::tidycmd
