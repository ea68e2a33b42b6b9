#include <algorithm>
#include <charconv>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/SettingsKeys.h"
#include "cli/Cli.h"
#include "cli/Prompt.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/SecureErase.h"
#include "trash/Trash.h"

namespace vaultry::cli {
namespace {

constexpr const char* kEmptyQuestion = "Are you sure you want to remove all items in the Trash ?";

Status flush(Context& ctx) { return ctx.settings().flush(); }

void printJson(const nlohmann::json& out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

// The entries emptying would remove, by their names in the Trash.
std::vector<std::string> trashedNames(Context& ctx) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(ctx.paths.trash() / "files", ec))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

// What `trash empty --dry-run` and a due `trash check --dry-run` print.
void describeEmptying(Context& ctx, std::uint64_t size, nlohmann::json& out) {
    const auto names = trashedNames(ctx);
    out["wouldRemove"] = names;
    out["bytes"] = size;
    out["sizeText"] = sizeText(size, 2);
    if (ctx.json) return;
    for (const auto& name : names) std::cout << "would remove " << escaped(name) << '\n';
    ctx.info() << "the Trash would be emptied (" << sizeText(size, 2) << ")\n";
}

// Records the emptying and empties; false (with the error printed) when something stayed.
bool recordAndEmpty(Context& ctx, std::uint64_t size, trash::Unlock unlock, nlohmann::json& out) {
    auto& settings = ctx.settings();
    settings.set(key::LastCleanDate, std::chrono::system_clock::now());
    settings.set(key::LastsCleanTrashData, sizeText(size, 2));
    if (auto st = flush(ctx); !st) ctx.error(st.error().message);
    const auto r = trash::emptyTrash(ctx.paths.trash(), unlock);
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

}  // namespace

void addTrashCommands(CLI::App& app, Context& ctx) {
    auto* trashCmd = app.add_subcommand("trash", "Measure, empty and check the Trash")->require_subcommand(1);

    auto* sizeCmd = trashCmd->add_subcommand("size", "Print the size of the Trash (as du counts it)");
    auto bytes = std::make_shared<bool>(false);
    sizeCmd->add_flag("--bytes", *bytes, "Print the byte count instead of the size text");
    addJsonFlag(sizeCmd, ctx, "{bytes, sizeText}");
    sizeCmd->callback([&ctx, bytes] {
        platform::LinuxSpawn spawn;
        const auto size = trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash());
        if (ctx.json)
            printJson({{"bytes", size}, {"sizeText", sizeText(size, 2)}});
        else if (*bytes)
            std::cout << size << '\n';
        else
            std::cout << sizeText(size, 2) << '\n';
    });

    auto* emptyCmd = trashCmd->add_subcommand("empty", "Empty the Trash, read-only folders in it included");
    addYesFlag(emptyCmd, ctx);
    addDryRunFlag(emptyCmd, ctx);
    addJsonFlag(emptyCmd, ctx, "{emptied, bytes, sizeText, removed, failed} (with --dry-run: wouldRemove)");
    emptyCmd->callback([&ctx] {
        platform::LinuxSpawn spawn;
        nlohmann::json out = nlohmann::json::object();
        if (ctx.dryRun) {
            out["dryRun"] = true;
            describeEmptying(ctx, trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash()), out);
        } else {
            prompt::confirm(ctx, kEmptyQuestion, "trash empty");
            recordAndEmpty(ctx, trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash()), trash::Unlock::Yes,
                           out);
        }
        if (ctx.json) printJson(out);
    });

    auto* checkCmd = trashCmd->add_subcommand(
        "check", "Empty the Trash when it is due: by time since the last emptying and/or by size");
    auto every = std::make_shared<std::string>();
    auto above = std::make_shared<std::string>();
    checkCmd->add_option("--every", *every,
                         "Daily, \"Every Week\", \"Two Weeks\", \"Every Month\" or \"Two Months\"");
    checkCmd->add_option("--above", *above, "Size limit in bytes");
    addYesFlag(checkCmd, ctx);
    addDryRunFlag(checkCmd, ctx);
    addJsonFlag(checkCmd, ctx, "{due, emptied, bytes, sizeText, lastEmptied, lastEmptiedSize}");
    checkCmd->callback([&ctx, every, above] {
        std::optional<std::uint64_t> interval, limit;
        if (!every->empty() && !(interval = trash::intervalOfTimeChoice(*every)))
            throw UsageError("unknown time choice '" + *every +
                             "' (Daily, \"Every Week\", \"Two Weeks\", \"Every Month\", \"Two Months\")");
        if (!above->empty()) {
            std::uint64_t n = 0;
            const auto [end, ec] = std::from_chars(above->data(), above->data() + above->size(), n);
            if (ec != std::errc() || end != above->data() + above->size())
                throw UsageError("not a byte count: '" + *above + "'");
            limit = n;
        }
        if (!interval && !limit) throw UsageError("give --every, --above or both");
        platform::LinuxSpawn spawn;
        auto& settings = ctx.settings();
        bool due = false;
        nlohmann::json out = {{"due", false}, {"emptied", false}};
        const auto emptyWhenDue = [&](std::uint64_t size) {
            due = true;
            out["due"] = true;
            if (ctx.dryRun) {
                out["dryRun"] = true;
                describeEmptying(ctx, size, out);
                return;
            }
            prompt::confirm(ctx, kEmptyQuestion, "trash check");
            recordAndEmpty(ctx, size, trash::Unlock::No, out);
        };
        if (limit) {
            const auto size = trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash());
            if (size >= *limit) emptyWhenDue(size);
        }
        if (!due && interval &&
            trash::secondsSince(settings.date(key::LastCleanDate), std::chrono::system_clock::now()) >=
                *interval)
            emptyWhenDue(trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash()));
        const auto last = settings.date(key::LastCleanDate);
        if (ctx.json) {
            if (last) {
                out["lastEmptied"] = trash::lastCleanDateText(*last);
                out["lastEmptiedSize"] = settings.string(key::LastsCleanTrashData).value_or("");
            }
            printJson(out);
            return;
        }
        if (!due) ctx.info() << "Trash not due for emptying\n";
        if (last)
            ctx.info() << "Last emptied: " << settings.string(key::LastsCleanTrashData).value_or("") << ' '
                       << trash::lastCleanDateText(*last) << '\n';
    });

    auto* eraseCmd = app.add_subcommand("erase", "Overwrite and delete files and folders (srm, else shred)");
    auto paths = std::make_shared<std::vector<std::string>>();
    eraseCmd->add_option("PATH", *paths, "Files and folders to erase")->required();
    addYesFlag(eraseCmd, ctx);
    addDryRunFlag(eraseCmd, ctx);
    addJsonFlag(eraseCmd, ctx, "{erased, removed, failed, missing: [paths]} (with --dry-run: wouldErase)");
    eraseCmd->callback([&ctx, paths] {
        std::vector<std::string> present, missing;
        for (const auto& p : *paths) {
            std::error_code ec;
            (std::filesystem::exists(std::filesystem::symlink_status(p, ec)) ? present : missing)
                .push_back(p);
        }
        for (const auto& p : missing) ctx.error("no such file or folder: " + escaped(p));
        nlohmann::json out = {{"missing", missing}};
        if (ctx.dryRun) {
            out["dryRun"] = true;
            out["wouldErase"] = present;
            if (ctx.json)
                printJson(out);
            else
                for (const auto& p : present) std::cout << "would erase " << escaped(p) << '\n';
            return;
        }
        if (!present.empty()) {
            std::string list;
            for (const auto& p : present) list += " \n " + escaped(p);
            prompt::confirm(ctx,
                            "Are you sure you want to permanently erase the selected items ?" + list + "\n",
                            "erase");
        }
        platform::LinuxSpawn spawn;
        const auto tool = trash::defaultEraseTool();
        trash::EraseReport total;
        for (const auto& p : present) {
            const auto r = trash::eraseItem(spawn, tool, p);
            for (const auto& why : r.refusals) ctx.error(why);
            if (!r.ok()) ctx.error("could not erase everything in " + escaped(p));
            total += r;
        }
        if (ctx.json) {
            out["erased"] = total.erased;
            out["removed"] = total.removed;
            out["failed"] = total.failed;
            printJson(out);
            return;
        }
        ctx.info() << "erased " << total.erased << " file(s), removed " << total.removed
                   << " other item(s)\n";
    });

    auto* login = app.add_subcommand("login-item", "Start Vaultry at login: on, off or status");
    auto state = std::make_shared<std::string>();
    login->add_option("STATE", *state, "on, off or status")
        ->required()
        ->check(CLI::IsMember({"on", "off", "status"}));
    addJsonFlag(login, ctx, "{enabled, entry} for status");
    login->callback([&ctx, state] {
        platform::LinuxLoginItems items(ctx.paths, platform::LinuxLoginItems::guiProgram());
        if (*state == "status") {
            if (ctx.json)
                printJson({{"enabled", items.isEnabled()}, {"entry", items.entryPath().string()}});
            else
                std::cout << (items.isEnabled() ? "on" : "off") << '\n';
            return;
        }
        const bool on = *state == "on";
        if (!items.setEnabled(on)) ctx.error("cannot change " + items.entryPath().string());
        auto& settings = ctx.settings();
        settings.set(key::BAutoLogin, items.isEnabled() ? "YES" : "NO");
        if (auto st = settings.flush(); !st) ctx.error(st.error().message);
    });
}

}  // namespace vaultry::cli
