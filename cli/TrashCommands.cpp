#include <unistd.h>

#include <charconv>
#include <iostream>

#include "app/SettingsKeys.h"
#include "cli/Cli.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxSpawn.h"
#include "trash/SecureErase.h"
#include "trash/Trash.h"

namespace vaultry::cli {
namespace {

// The alert of the GUI as a question on the terminal; --yes answers it beforehand. Without a
// terminal and without --yes nothing is confirmed.
bool confirm(const std::string& question, const std::string& details, bool yes) {
    if (yes) return true;
    if (!::isatty(STDIN_FILENO)) return false;
    std::cerr << question << details << "\n[y/N] " << std::flush;
    std::string answer;
    if (!std::getline(std::cin, answer)) return false;
    return answer == "y" || answer == "Y" || answer == "yes";
}

constexpr const char* kEmptyQuestion = "Are you sure you want to remove all items in the Trash ?";

Status flush(Context& ctx) { return ctx.settings().flush(); }

// Records the emptying and empties; false (with the error printed) when something stayed.
bool recordAndEmpty(Context& ctx, std::uint64_t size, trash::Unlock unlock) {
    auto& settings = ctx.settings();
    settings.set(key::LastCleanDate, std::chrono::system_clock::now());
    settings.set(key::LastsCleanTrashData, sizeText(size, 2));
    if (auto st = flush(ctx); !st) ctx.error(st.error().message);
    const auto r = trash::emptyTrash(ctx.paths.trash(), unlock);
    if (!r.ok()) {
        ctx.error(std::to_string(r.failed) + " item(s) in the Trash could not be removed");
        return false;
    }
    std::cout << "Trash emptied (" << sizeText(size, 2) << ")\n";
    return true;
}

}  // namespace

void addTrashCommands(CLI::App& app, Context& ctx) {
    auto* trashCmd = app.add_subcommand("trash", "Measure, empty and check the Trash")->require_subcommand(1);

    auto* sizeCmd = trashCmd->add_subcommand("size", "Print the size of the Trash (as du counts it)");
    auto bytes = std::make_shared<bool>(false);
    sizeCmd->add_flag("--bytes", *bytes, "Print the byte count instead of the size text");
    sizeCmd->callback([&ctx, bytes] {
        platform::LinuxSpawn spawn;
        const auto size = trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash());
        if (*bytes)
            std::cout << size << '\n';
        else
            std::cout << sizeText(size, 2) << '\n';
    });

    auto* emptyCmd = trashCmd->add_subcommand("empty", "Empty the Trash, read-only folders in it included");
    auto emptyYes = std::make_shared<bool>(false);
    emptyCmd->add_flag("--yes,-y", *emptyYes, "Do not ask");
    emptyCmd->callback([&ctx, emptyYes] {
        if (!confirm(kEmptyQuestion, "", *emptyYes)) {
            ctx.error("not confirmed; nothing removed (add --yes to confirm)");
            return;
        }
        platform::LinuxSpawn spawn;
        recordAndEmpty(ctx, trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash()), trash::Unlock::Yes);
    });

    auto* checkCmd = trashCmd->add_subcommand(
        "check", "Empty the Trash when it is due: by time since the last emptying and/or by size");
    auto every = std::make_shared<std::string>();
    auto above = std::make_shared<std::string>();
    auto checkYes = std::make_shared<bool>(false);
    checkCmd->add_option("--every", *every,
                         "Daily, \"Every Week\", \"Two Weeks\", \"Every Month\" or \"Two Months\"");
    checkCmd->add_option("--above", *above, "Size limit in bytes");
    checkCmd->add_flag("--yes,-y", *checkYes, "Do not ask");
    checkCmd->callback([&ctx, every, above, checkYes] {
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
        if (limit) {
            const auto size = trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash());
            if (size >= *limit) {
                due = true;
                if (confirm(kEmptyQuestion, "", *checkYes))
                    recordAndEmpty(ctx, size, trash::Unlock::No);
                else
                    ctx.error("not confirmed; nothing removed (add --yes to confirm)");
            }
        }
        if (interval && trash::secondsSince(settings.date(key::LastCleanDate),
                                            std::chrono::system_clock::now()) >= *interval) {
            due = true;
            if (confirm(kEmptyQuestion, "", *checkYes))
                recordAndEmpty(ctx, trash::fastFolderSizeAtFilePath(spawn, ctx.paths.trash()),
                               trash::Unlock::No);
            else
                ctx.error("not confirmed; nothing removed (add --yes to confirm)");
        }
        if (!due) std::cout << "Trash not due for emptying\n";
        if (const auto last = settings.date(key::LastCleanDate))
            std::cout << "Last emptied: " << settings.string(key::LastsCleanTrashData).value_or("") << ' '
                      << trash::lastCleanDateText(*last) << '\n';
    });

    auto* eraseCmd = app.add_subcommand("erase", "Overwrite and delete files and folders (srm, else shred)");
    auto paths = std::make_shared<std::vector<std::string>>();
    auto eraseYes = std::make_shared<bool>(false);
    eraseCmd->add_option("PATH", *paths, "Files and folders to erase")->required();
    eraseCmd->add_flag("--yes,-y", *eraseYes, "Do not ask");
    eraseCmd->callback([&ctx, paths, eraseYes] {
        std::string list;
        for (const auto& p : *paths) list = list + " \n " + p;
        if (!confirm("Are you sure you want to permanently erase the selected items ?", list, *eraseYes)) {
            ctx.error("not confirmed; nothing erased (add --yes to confirm)");
            return;
        }
        platform::LinuxSpawn spawn;
        const auto tool = trash::defaultEraseTool();
        trash::EraseReport total;
        for (const auto& p : *paths) {
            std::error_code ec;
            if (!std::filesystem::exists(std::filesystem::symlink_status(p, ec))) {
                ctx.error("no such file or folder: " + p);
                continue;
            }
            const auto r = trash::eraseItem(spawn, tool, p);
            for (const auto& why : r.refusals) ctx.error(why);
            if (!r.ok()) ctx.error("could not erase everything in " + p);
            total += r;
        }
        std::cout << "erased " << total.erased << " file(s), removed " << total.removed << " other item(s)\n";
    });

    auto* login = app.add_subcommand("login-item", "Start Vaultry at login: on, off or status");
    auto state = std::make_shared<std::string>();
    login->add_option("STATE", *state, "on, off or status")
        ->required()
        ->check(CLI::IsMember({"on", "off", "status"}));
    login->callback([&ctx, state] {
        platform::LinuxLoginItems items(ctx.paths, platform::LinuxLoginItems::guiProgram());
        if (*state == "status") {
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
