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
#include "trash/TrashItems.h"
#include "trash/TrashSchedule.h"

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

// The home Trash and every volume's Trash of this user.
std::vector<trash::TrashFolder> trashFolders(Context& ctx) {
    return trash::allTrashFolders(ctx.paths.trash(), ctx.paths.mountTable(), ::getuid());
}

std::uint64_t measure(Context& ctx) {
    platform::LinuxSpawn spawn;
    return trash::totalSize(spawn, trashFolders(ctx));
}

std::string itemsText(std::size_t n) { return std::to_string(n) + (n == 1 ? " item" : " items"); }

// A partial emptying's outcome; false when something chosen stayed.
bool reportPartial(Context& ctx, const trash::PartialReport& r) {
    std::cout << "removed " << itemsText(r.removed) << " from the Trash";
    if (r.freed) std::cout << " (" << sizeText(r.freed, 2) << ")";
    std::cout << '\n';
    if (r.unreadable)
        std::cout << itemsText(r.unreadable) << " without a readable .trashinfo left in place\n";
    if (!r.ok()) {
        ctx.error(itemsText(r.failed) + " in the Trash could not be removed");
        return false;
    }
    return true;
}

// Records the emptying and empties; false (with the error printed) when something stayed.
bool recordAndEmpty(Context& ctx, std::uint64_t size, trash::Unlock unlock) {
    auto& settings = ctx.settings();
    settings.set(key::LastCleanDate, std::chrono::system_clock::now());
    settings.set(key::LastsCleanTrashData, sizeText(size, 2));
    if (auto st = flush(ctx); !st) ctx.error(st.error().message);
    const auto r = trash::emptyAll(trashFolders(ctx), unlock);
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
    auto byVolume = std::make_shared<bool>(false);
    sizeCmd->add_flag("--bytes", *bytes, "Print the byte count instead of the size text");
    sizeCmd->add_flag("--by-volume", *byVolume, "One line per Trash folder: <size>\\t<Trash folder>");
    sizeCmd->callback([&ctx, bytes, byVolume] {
        platform::LinuxSpawn spawn;
        const auto show = [&](std::uint64_t size) {
            if (*bytes)
                std::cout << size;
            else
                std::cout << sizeText(size, 2);
        };
        std::uint64_t total = 0;
        for (const auto& folder : trashFolders(ctx)) {
            const auto size = trash::fastFolderSizeAtFilePath(spawn, folder.path);
            total += size;
            if (!*byVolume) continue;
            show(size);
            std::cout << '\t' << folder.path.string() << '\n';
        }
        if (*byVolume) return;
        show(total);
        std::cout << '\n';
    });

    auto* emptyCmd = trashCmd->add_subcommand("empty", "Empty the Trash, read-only folders in it included");
    auto emptyYes = std::make_shared<bool>(false);
    auto olderThan = std::make_shared<std::string>();
    auto keepUnder = std::make_shared<std::string>();
    emptyCmd->add_flag("--yes,-y", *emptyYes, "Do not ask");
    emptyCmd->add_option("--older-than", *olderThan,
                         "Remove only the items deleted more than DAYS days ago (by their .trashinfo)");
    emptyCmd->add_option("--keep-under", *keepUnder,
                         "Remove the oldest items until the Trash is below SIZE (500MB, 2GiB, bytes)");
    emptyCmd->callback([&ctx, emptyYes, olderThan, keepUnder] {
        std::optional<std::uint64_t> days, limit;
        if (!olderThan->empty()) {
            std::uint64_t n = 0;
            const auto [end, ec] =
                std::from_chars(olderThan->data(), olderThan->data() + olderThan->size(), n);
            if (ec != std::errc() || end != olderThan->data() + olderThan->size() || n > 100000)
                throw UsageError("not a number of days: '" + *olderThan + "'");
            days = n;
        }
        if (!keepUnder->empty() && !(limit = trash::parseSize(*keepUnder)))
            throw UsageError("not a size: '" + *keepUnder + "' (for example 500MB, 2GiB or a byte count)");
        if (!days && !limit) {
            if (!confirm(kEmptyQuestion, "", *emptyYes)) {
                ctx.error("not confirmed; nothing removed (add --yes to confirm)");
                return;
            }
            recordAndEmpty(ctx, measure(ctx), trash::Unlock::Yes);
            return;
        }
        std::string question = "Remove from the Trash";
        if (days) question += " the items deleted more than " + std::to_string(*days) + " day(s) ago";
        if (days && limit) question += ", then";
        if (limit) question += " the oldest items until it is below " + sizeText(*limit, 2);
        if (!confirm(question + " ?", "", *emptyYes)) {
            ctx.error("not confirmed; nothing removed (add --yes to confirm)");
            return;
        }
        const auto folders = trashFolders(ctx);
        trash::PartialReport total;
        if (days) {
            const auto cutoff = std::chrono::system_clock::now() - std::chrono::days(*days);
            for (const auto& f : folders) total += trash::emptyOlderThan(f.path, cutoff, trash::Unlock::Yes);
        }
        if (limit) {
            auto r = trash::emptyDownTo(trash::pathsOf(folders), *limit, trash::Unlock::Yes);
            if (days) r.unreadable = 0;  // already counted
            total += r;
        }
        reportPartial(ctx, total);
    });

    auto* checkCmd = trashCmd->add_subcommand(
        "check",
        "Apply the Trash schedule once: without options the rules kept by Vaultry (as its hourly check "
        "does), else by time since the last emptying and/or by size");
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
        auto& settings = ctx.settings();
        const auto printLast = [&] {
            if (const auto last = settings.date(key::LastCleanDate))
                std::cout << "Last emptied: " << settings.string(key::LastsCleanTrashData).value_or("") << ' '
                          << trash::lastCleanDateText(*last) << '\n';
        };
        if (!interval && !limit) {
            platform::LinuxSpawn spawn;
            const auto rules = trash::rulesFromSettings(settings);
            if (!rules.byTime && !rules.bySize) {
                std::cout << "No Trash schedule is set\n";
                return;
            }
            const auto out =
                trash::applySchedule(spawn, settings, trashFolders(ctx), std::chrono::system_clock::now(),
                                     [&] { return confirm(kEmptyQuestion, "", *checkYes); });
            switch (out.action) {
                case trash::ScheduleAction::None:
                    std::cout << "Trash not due for emptying\n";
                    break;
                case trash::ScheduleAction::EmptyAll:
                    if (!out.confirmed)
                        ctx.error("not confirmed; nothing removed (add --yes to confirm)");
                    else if (!out.emptied.ok())
                        ctx.error(std::to_string(out.emptied.failed) +
                                  " item(s) in the Trash could not be removed");
                    else
                        std::cout << "Trash emptied (" << sizeText(out.sizeBefore, 2) << ")\n";
                    break;
                case trash::ScheduleAction::RemoveOlder:
                case trash::ScheduleAction::RemoveOldest:
                    reportPartial(ctx, out.partial);
                    break;
            }
            printLast();
            return;
        }
        bool due = false;
        if (limit) {
            const auto size = measure(ctx);
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
                recordAndEmpty(ctx, measure(ctx), trash::Unlock::No);
            else
                ctx.error("not confirmed; nothing removed (add --yes to confirm)");
        }
        if (!due) std::cout << "Trash not due for emptying\n";
        printLast();
    });

    auto* timerCmd = trashCmd->add_subcommand(
        "timer",
        "A systemd user timer that runs 'trash check --yes' every hour, also when Vaultry is not running");
    auto timerState = std::make_shared<std::string>();
    timerCmd->add_option("STATE", *timerState, "on, off or status")
        ->required()
        ->check(CLI::IsMember({"on", "off", "status"}));
    timerCmd->callback([&ctx, timerState] {
        platform::LinuxSpawn spawn;
        const auto config = ctx.paths.configHome();
        if (*timerState == "status") {
            std::cout << trash::trashTimerStatus(spawn, config) << '\n';
            return;
        }
        if (*timerState == "on") {
            std::error_code ec;
            auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
            if (ec) self = "/usr/bin/vaultry-cli";
            if (auto st = trash::installTrashTimer(spawn, config, self); !st) {
                ctx.error(st.error().message);
                return;
            }
            std::cout << "The Trash schedule is checked every hour (" << trash::kTimerName << ")\n";
            return;
        }
        if (auto st = trash::removeTrashTimer(spawn, config); !st) {
            ctx.error(st.error().message);
            return;
        }
        std::cout << "The hourly Trash check is off\n";
    });

    auto* eraseCmd = app.add_subcommand("erase", "Overwrite and delete files and folders (srm, else shred)");
    auto paths = std::make_shared<std::vector<std::string>>();
    auto eraseYes = std::make_shared<bool>(false);
    auto passes = std::make_shared<unsigned>(0);
    eraseCmd->add_option("PATH", *paths, "Files and folders to erase")->required();
    eraseCmd->add_flag("--yes,-y", *eraseYes, "Do not ask");
    eraseCmd
        ->add_option("--passes", *passes,
                     "1: one random pass (srm -ll, else shred -n 1 -z), seconds per GiB instead of minutes; "
                     "many passes buy nothing on today's drives. Default: the Preferences choice, else "
                     "the tool's own")
        ->check(CLI::IsMember({1u}));
    eraseCmd->callback([&ctx, paths, eraseYes, passes] {
        std::string list;
        for (const auto& p : *paths) list = list + " \n " + p;
        if (!confirm("Are you sure you want to permanently erase the selected items ?", list, *eraseYes)) {
            ctx.error("not confirmed; nothing erased (add --yes to confirm)");
            return;
        }
        platform::LinuxSpawn spawn;
        const unsigned chosen =
            *passes ? *passes : static_cast<unsigned>(ctx.settings().number(key::ErasePasses).value_or(0));
        const auto tool = trash::eraseToolForPasses(chosen);
        // Said once per run: where overwriting in place may not reach the old blocks.
        for (const auto& p : *paths) {
            if (const auto why = trash::overwriteCaveat(p); !why.empty()) {
                std::cerr << "vaultry-cli: note: overwriting " << p
                          << " may not reach the blocks that held its data: " << why << '\n';
                break;
            }
        }
        trash::EraseReport total;
        for (const auto& p : *paths) {
            std::error_code ec;
            if (!std::filesystem::exists(std::filesystem::symlink_status(p, ec))) {
                ctx.error("no such file or folder: " + p);
                continue;
            }
            const auto r = trash::eraseItem(spawn, tool, p);
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
