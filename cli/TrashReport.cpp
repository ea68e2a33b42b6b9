#include <unistd.h>

#include <algorithm>
#include <iostream>
#include <map>

#include "cli/TrashCommand.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/TrashSchedule.h"

namespace vaultry::cli::trashcmd {

void printJson(const nlohmann::json& out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::vector<trash::TrashFolder> trashFolders(Context& ctx) {
    return trash::allTrashFolders(ctx.paths.trash(), ctx.paths.mountTable(), ::getuid());
}

std::uint64_t measure(Context& ctx) {
    platform::LinuxSpawn spawn;
    return trash::totalSize(spawn, trashFolders(ctx));
}

std::string itemsText(std::size_t n) { return std::to_string(n) + (n == 1 ? " item" : " items"); }

namespace {

// What a dry run would remove, Trash folder by Trash folder: the text lists each folder that
// loses something and its items; the JSON carries the same as "volumes" and, all together,
// "wouldRemove".
void describeRemovals(Context& ctx, const std::vector<std::pair<std::filesystem::path, std::string>>& items,
                      nlohmann::json& out) {
    std::map<std::filesystem::path, std::vector<std::string>> byFolder;
    std::vector<std::filesystem::path> order;
    for (const auto& [folder, name] : items) {
        if (!byFolder.contains(folder)) order.push_back(folder);
        byFolder[folder].push_back(name);
    }
    auto all = nlohmann::json::array();
    auto volumes = nlohmann::json::array();
    for (const auto& folder : order) {
        volumes.push_back({{"trash", folder.string()}, {"wouldRemove", byFolder[folder]}});
        for (const auto& name : byFolder[folder]) all.push_back(name);
    }
    out["wouldRemove"] = all;
    out["volumes"] = volumes;
    if (ctx.json) return;
    for (const auto& folder : order) {
        std::cout << escaped(folder.string()) << ":\n";
        for (const auto& name : byFolder[folder]) std::cout << "would remove " << escaped(name) << '\n';
    }
}

}  // namespace

// What `trash empty --dry-run` and a due check's dry run print when everything would go: every
// item of every Trash folder, by its name in the folder.
void describeEmptying(Context& ctx, const std::vector<trash::TrashFolder>& folders, std::uint64_t size,
                      nlohmann::json& out) {
    std::vector<std::pair<std::filesystem::path, std::string>> items;
    for (const auto& folder : folders) {
        auto listed = trash::listItems(folder.path);
        std::sort(listed.begin(), listed.end(), [](const auto& a, const auto& b) { return a.name < b.name; });
        for (const auto& item : listed) items.emplace_back(folder.path, item.name);
    }
    out["bytes"] = size;
    out["sizeText"] = sizeText(size, 2);
    describeRemovals(ctx, items, out);
    if (!ctx.json) ctx.info() << "the Trash would be emptied (" << sizeText(size, 2) << ")\n";
}

void describePartial(Context& ctx, const trash::PartialReport& r, nlohmann::json& out) {
    std::vector<std::pair<std::filesystem::path, std::string>> items;
    for (std::size_t i = 0; i < r.chosen.size() && i < r.chosenFrom.size(); ++i)
        items.emplace_back(r.chosenFrom[i], r.chosen[i]);
    out["unreadable"] = r.unreadable;
    describeRemovals(ctx, items, out);
    if (ctx.json) return;
    ctx.info() << itemsText(r.chosen.size()) << " would be removed from the Trash";
    if (r.freed) ctx.info() << " (" << sizeText(r.freed, 2) << ")";
    ctx.info() << '\n';
    if (r.unreadable)
        ctx.info() << itemsText(r.unreadable) << " without a readable .trashinfo would be left in place\n";
}

bool reportPartial(Context& ctx, const trash::PartialReport& r, nlohmann::json& out) {
    out["removed"] = r.removed;
    out["failed"] = r.failed;
    out["unreadable"] = r.unreadable;
    out["bytes"] = r.freed;
    out["sizeText"] = sizeText(r.freed, 2);
    if (!ctx.json) {
        ctx.info() << "removed " << itemsText(r.removed) << " from the Trash";
        if (r.freed) ctx.info() << " (" << sizeText(r.freed, 2) << ")";
        ctx.info() << '\n';
        if (r.unreadable)
            ctx.info() << itemsText(r.unreadable) << " without a readable .trashinfo left in place\n";
    }
    if (!r.ok()) {
        ctx.error(itemsText(r.failed) + " in the Trash could not be removed");
        return false;
    }
    return true;
}

bool recordAndEmpty(Context& ctx, std::uint64_t size, trash::Unlock unlock, nlohmann::json& out) {
    Preferences prefs = ctx.prefs();
    prefs.setLastCleanDate(std::chrono::system_clock::now());
    prefs.setLastCleanSize(sizeText(size, 2));
    if (std::string why; !prefs.save(&why)) ctx.error(why);
    const auto r = trash::emptyAll(trashFolders(ctx), unlock);
    out["emptied"] = r.ok();
    out["bytes"] = size;
    out["sizeText"] = sizeText(size, 2);
    out["removed"] = r.removed;
    out["failed"] = r.failed;
    if (!r.ok()) {
        ctx.error(std::to_string(r.failed) + " item(s) in the Trash could not be removed");
        return false;
    }
    if (!ctx.json) ctx.info() << "Trash emptied (" << sizeText(size, 2) << ")\n";
    return true;
}

void lastEmptied(Context& ctx, nlohmann::json& out) {
    const Preferences prefs = ctx.prefs();
    const auto last = prefs.lastCleanDate();
    if (!last) return;
    const std::string size = prefs.lastCleanSize().value_or("");
    if (ctx.json) {
        out["lastEmptied"] = trash::lastCleanDateText(*last);
        out["lastEmptiedSize"] = size;
        return;
    }
    ctx.info() << "Last emptied: " << size << ' ' << trash::lastCleanDateText(*last) << '\n';
}

}  // namespace vaultry::cli::trashcmd
