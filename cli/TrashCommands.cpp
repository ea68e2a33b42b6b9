#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/ProgressLine.h"
#include "cli/Prompt.h"
#include "desktop/SizeText.h"
#include "platform/linux/LinuxLoginItems.h"
#include "platform/linux/LinuxSpawn.h"
#include "settings/SettingsKeys.h"
#include "trash/SecureErase.h"
#include "trash/Trash.h"
#include "trash/TrashItems.h"
#include "trash/TrashSchedule.h"
#include "util/NoLinkPath.h"

namespace vaultry::cli {
namespace {

constexpr const char* kEmptyQuestion = "Are you sure you want to remove all items in the Trash ?";

Status flush(Context& ctx) { return ctx.settings().flush(); }

void printJson(const nlohmann::json& out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

// The home Trash and every volume's Trash of this user.
std::vector<trash::TrashFolder> trashFolders(Context& ctx) {
    return trash::allTrashFolders(ctx.paths.trash(), ctx.paths.mountTable(), ::getuid());
}

std::uint64_t measure(Context& ctx) {
    platform::LinuxSpawn spawn;
    return trash::totalSize(spawn, trashFolders(ctx));
}

std::string itemsText(std::size_t n) { return std::to_string(n) + (n == 1 ? " item" : " items"); }

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

// What removing only some items would take (the engine's dry run), by their original paths.
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

// A partial emptying's outcome; false when something chosen stayed.
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

// Records the emptying and empties; false (with the error printed) when something stayed.
bool recordAndEmpty(Context& ctx, std::uint64_t size, trash::Unlock unlock, nlohmann::json& out) {
    auto& settings = ctx.settings();
    settings.set(key::LastCleanDate, std::chrono::system_clock::now());
    settings.set(key::LastsCleanTrashData, sizeText(size, 2));
    if (auto st = flush(ctx); !st) ctx.error(st.error().message);
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

// The last emptying as the settings keep it, for the end of `trash check`.
void lastEmptied(Context& ctx, nlohmann::json& out) {
    auto& settings = ctx.settings();
    const auto last = settings.date(key::LastCleanDate);
    if (!last) return;
    const std::string size = settings.string(key::LastsCleanTrashData).value_or("");
    if (ctx.json) {
        out["lastEmptied"] = trash::lastCleanDateText(*last);
        out["lastEmptiedSize"] = size;
        return;
    }
    ctx.info() << "Last emptied: " << size << ' ' << trash::lastCleanDateText(*last) << '\n';
}

}  // namespace

void addTrashCommands(CLI::App& app, Context& ctx) {
    auto* trashCmd = app.add_subcommand("trash", "Measure, empty and check the Trash")->require_subcommand(1);

    auto* sizeCmd = trashCmd->add_subcommand(
        "size", "Print the size of the Trash of every volume together (as du counts each)");
    auto bytes = std::make_shared<bool>(false);
    auto byVolume = std::make_shared<bool>(false);
    sizeCmd->add_flag("--bytes", *bytes, "Print the byte count instead of the size text");
    sizeCmd->add_flag("--by-volume", *byVolume, "One line per Trash folder: <size>\\t<Trash folder>");
    addJsonFlag(sizeCmd, ctx, "{bytes, sizeText, volumes: [{trash, mountPoint, bytes, sizeText}]}");
    sizeCmd->callback([&ctx, bytes, byVolume] {
        platform::LinuxSpawn spawn;
        const auto show = [&](std::uint64_t size) {
            if (*bytes)
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
            if (!*byVolume || ctx.json) continue;
            show(size);
            std::cout << '\t' << escaped(folder.path.string()) << '\n';
        }
        if (ctx.json) {
            printJson({{"bytes", total}, {"sizeText", sizeText(total, 2)}, {"volumes", volumes}});
            return;
        }
        if (*byVolume) return;
        show(total);
        std::cout << '\n';
    });

    auto* emptyCmd = trashCmd->add_subcommand(
        "empty", "Empty the Trash of every volume, read-only folders in it included; or only old items");
    auto olderThan = std::make_shared<std::string>();
    auto keepUnder = std::make_shared<std::string>();
    emptyCmd->add_option("--older-than", *olderThan,
                         "Remove only the items deleted more than DAYS days ago (by their .trashinfo)");
    emptyCmd->add_option("--keep-under", *keepUnder,
                         "Remove the oldest items until the Trash is below SIZE (500MB, 2GiB, bytes)");
    addYesFlag(emptyCmd, ctx);
    addDryRunFlag(emptyCmd, ctx);
    addJsonFlag(emptyCmd, ctx,
                "{emptied, bytes, sizeText, removed, failed} (only some items: {removed, failed, unreadable, "
                "bytes, sizeText}; with --dry-run: wouldRemove, volumes: [{trash, wouldRemove}])");
    emptyCmd->callback([&ctx, olderThan, keepUnder] {
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
        nlohmann::json out = nlohmann::json::object();
        const auto folders = trashFolders(ctx);
        if (!days && !limit) {
            platform::LinuxSpawn spawn;
            if (ctx.dryRun) {
                out["dryRun"] = true;
                describeEmptying(ctx, folders, trash::totalSize(spawn, folders), out);
            } else {
                prompt::confirm(ctx, kEmptyQuestion, "trash empty");
                recordAndEmpty(ctx, trash::totalSize(spawn, folders), trash::Unlock::Yes, out);
            }
            if (ctx.json) printJson(out);
            return;
        }
        if (!ctx.dryRun) {
            std::string question = "Remove from the Trash";
            if (days) question += " the items deleted more than " + std::to_string(*days) + " day(s) ago";
            if (days && limit) question += ", then";
            if (limit) question += " the oldest items until it is below " + sizeText(*limit, 2);
            prompt::confirm(ctx, question + " ?", "trash empty");
        }
        trash::PartialReport total;
        if (days) {
            const auto cutoff = std::chrono::system_clock::now() - std::chrono::days(*days);
            for (const auto& f : folders)
                total += trash::emptyOlderThan(f.path, cutoff, trash::Unlock::Yes, ctx.dryRun);
        }
        if (limit) {
            auto r = trash::emptyDownTo(trash::pathsOf(folders), *limit, trash::Unlock::Yes, ctx.dryRun);
            if (days) r.unreadable = 0;  // already counted
            if (ctx.dryRun && days) {
                // Nothing went by age in a dry run: leave out what the age rule already chose.
                for (std::size_t i = r.chosen.size(); i-- > 0;) {
                    bool seen = false;
                    for (std::size_t j = 0; j < total.chosen.size() && !seen; ++j)
                        seen = total.chosen[j] == r.chosen[i] && total.chosenFrom[j] == r.chosenFrom[i];
                    if (seen) {
                        r.chosen.erase(r.chosen.begin() + static_cast<std::ptrdiff_t>(i));
                        r.chosenFrom.erase(r.chosenFrom.begin() + static_cast<std::ptrdiff_t>(i));
                    }
                }
            }
            total += r;
        }
        if (ctx.dryRun) {
            out["dryRun"] = true;
            describePartial(ctx, total, out);
        } else {
            reportPartial(ctx, total, out);
        }
        if (ctx.json) printJson(out);
    });

    auto* checkCmd = trashCmd->add_subcommand(
        "check",
        "Apply the Trash schedule once: without options the rules kept by Vaultry (as its hourly check "
        "does), else by time since the last emptying and/or by size");
    auto every = std::make_shared<std::string>();
    auto above = std::make_shared<std::string>();
    checkCmd->add_option("--every", *every,
                         "Daily, \"Every Week\", \"Two Weeks\", \"Every Month\" or \"Two Months\"");
    checkCmd->add_option("--above", *above, "Size limit in bytes");
    addYesFlag(checkCmd, ctx);
    addDryRunFlag(checkCmd, ctx);
    addJsonFlag(checkCmd, ctx,
                "{due, emptied, bytes, sizeText, lastEmptied, lastEmptiedSize} (the kept rules: also action, "
                "removed, failed, unreadable; with --dry-run: wouldRemove, volumes)");
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
        auto& settings = ctx.settings();
        nlohmann::json out = {{"due", false}, {"emptied", false}};
        if (ctx.dryRun) out["dryRun"] = true;
        const auto folders = trashFolders(ctx);
        if (!interval && !limit) {
            platform::LinuxSpawn spawn;
            const auto rules = trash::rulesFromSettings(settings);
            if (!rules.byTime && !rules.bySize) {
                if (ctx.json) {
                    out["action"] = "none";
                    printJson(out);
                } else {
                    ctx.info() << "No Trash schedule is set\n";
                }
                return;
            }
            const auto result = trash::applySchedule(
                spawn, settings, folders, std::chrono::system_clock::now(),
                [&] {
                    prompt::confirm(ctx, kEmptyQuestion, "trash check");
                    return true;
                },
                ctx.dryRun);
            out["bytes"] = result.sizeBefore;
            out["sizeText"] = sizeText(result.sizeBefore, 2);
            switch (result.action) {
                case trash::ScheduleAction::None:
                    out["action"] = "none";
                    if (!ctx.json) ctx.info() << "Trash not due for emptying\n";
                    break;
                case trash::ScheduleAction::EmptyAll:
                    out["action"] = "empty";
                    out["due"] = true;
                    if (ctx.dryRun) {
                        describeEmptying(ctx, folders, result.sizeBefore, out);
                    } else if (!result.emptied.ok()) {
                        ctx.error(std::to_string(result.emptied.failed) +
                                  " item(s) in the Trash could not be removed");
                    } else {
                        out["emptied"] = true;
                        out["removed"] = result.emptied.removed;
                        if (!ctx.json)
                            ctx.info() << "Trash emptied (" << sizeText(result.sizeBefore, 2) << ")\n";
                    }
                    break;
                case trash::ScheduleAction::RemoveOlder:
                case trash::ScheduleAction::RemoveOldest:
                    out["action"] = result.action == trash::ScheduleAction::RemoveOlder ? "older" : "oldest";
                    out["due"] = true;
                    if (ctx.dryRun)
                        describePartial(ctx, result.partial, out);
                    else
                        reportPartial(ctx, result.partial, out);
                    break;
            }
            lastEmptied(ctx, out);
            if (ctx.json) printJson(out);
            return;
        }
        bool due = false;
        const auto emptyWhenDue = [&](std::uint64_t size) {
            due = true;
            out["due"] = true;
            if (ctx.dryRun) {
                describeEmptying(ctx, folders, size, out);
                return;
            }
            prompt::confirm(ctx, kEmptyQuestion, "trash check");
            recordAndEmpty(ctx, size, trash::Unlock::No, out);
        };
        if (limit) {
            const auto size = measure(ctx);
            if (size >= *limit) emptyWhenDue(size);
        }
        if (!due && interval &&
            trash::secondsSince(settings.date(key::LastCleanDate), std::chrono::system_clock::now()) >=
                *interval)
            emptyWhenDue(measure(ctx));
        if (!due && !ctx.json) ctx.info() << "Trash not due for emptying\n";
        lastEmptied(ctx, out);
        if (ctx.json) printJson(out);
    });

    auto* timerCmd = trashCmd->add_subcommand(
        "timer",
        "A systemd user timer that runs 'trash check --yes' every hour, also when Vaultry is not running");
    auto timerState = std::make_shared<std::string>();
    timerCmd->add_option("STATE", *timerState, "on, off or status")
        ->required()
        ->check(CLI::IsMember({"on", "off", "status"}));
    addJsonFlag(timerCmd, ctx, "{status} for status");
    timerCmd->callback([&ctx, timerState] {
        platform::LinuxSpawn spawn;
        const auto config = ctx.paths.configHome();
        if (*timerState == "status") {
            const std::string status = trash::trashTimerStatus(spawn, config);
            if (ctx.json)
                printJson({{"status", status}});
            else
                std::cout << escaped(status) << '\n';
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
            ctx.info() << "The Trash schedule is checked every hour (" << trash::kTimerName << ")\n";
            return;
        }
        if (auto st = trash::removeTrashTimer(spawn, config); !st) {
            ctx.error(st.error().message);
            return;
        }
        ctx.info() << "The hourly Trash check is off\n";
    });

    auto* eraseCmd = app.add_subcommand(
        "erase",
        "Overwrite and delete files and folders (srm, else shred); Ctrl-C stops before the next file and "
        "says what was erased and what was left");
    auto paths = std::make_shared<std::vector<std::string>>();
    auto passes = std::make_shared<unsigned>(0);
    eraseCmd->add_option("PATH", *paths, "Files and folders to erase")->required();
    eraseCmd
        ->add_option("--passes", *passes,
                     "1: one random pass (srm -ll, else shred -n 1 -z), seconds per GiB instead of minutes; "
                     "many passes buy nothing on today's drives. Default: the Preferences choice, else "
                     "the tool's own")
        ->check(CLI::IsMember({1u}));
    addYesFlag(eraseCmd, ctx);
    addDryRunFlag(eraseCmd, ctx);
    addJsonFlag(eraseCmd, ctx,
                "{erased, removed, failed, missing: [paths], refused: [paths], otherFileSystems: [paths], "
                "gone: [paths], left: [paths], partial: [paths], cancelled} (with --dry-run: wouldErase)");
    eraseCmd->callback([&ctx, paths, passes] {
        std::vector<std::string> present, missing, refused;
        for (const auto& p : *paths) {
            // A path whose meaning depends on a link is refused before anything is asked.
            const auto resolved = pathWithoutLinks(p);
            if (!resolved) {
                ctx.error(escaped(resolved.error().message));
                refused.push_back(p);
                continue;
            }
            std::error_code ec;
            (std::filesystem::exists(std::filesystem::symlink_status(*resolved, ec)) ? present : missing)
                .push_back(p);
        }
        for (const auto& p : missing) ctx.error("no such file or folder: " + escaped(p));
        nlohmann::json out = {{"missing", missing}, {"refused", refused}};
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
        const unsigned chosen =
            *passes ? *passes : static_cast<unsigned>(ctx.settings().number(key::ErasePasses).value_or(0));
        const auto tool = trash::eraseToolForPasses(chosen);
        // Said once per run: where overwriting in place may not reach the old blocks.
        for (const auto& p : present) {
            if (const auto why = trash::overwriteCaveat(p); !why.empty()) {
                std::cerr << "vaultry-cli: note: overwriting " << escaped(p)
                          << " may not reach the blocks that held its data: " << why << '\n';
                break;
            }
        }
        trash::EraseRun run;
        {
            ProgressLine line(ctx);
            run = trash::eraseItems(spawn, tool, present, line.progress());
        }
        const trash::EraseReport& total = run.report;
        for (const auto& why : total.refusals) ctx.error(escaped(why));
        const auto listed = [](const std::vector<std::string>& items) {
            std::string text;
            for (const auto& item : items) text += (text.empty() ? "" : ", ") + escaped(item);
            return text;
        };
        if (total.cancelled) {
            // Overwritten files cannot come back: say exactly what went and what is still there.
            std::string message = "cancelled; erased " + std::to_string(total.erased) + " file(s)";
            if (!run.gone.empty()) message += "; gone: " + listed(run.gone);
            if (!run.partial.empty()) message += "; partly erased: " + listed(run.partial);
            std::vector<std::string> untouched;
            for (const auto& item : run.left)
                if (std::find(run.partial.begin(), run.partial.end(), item) == run.partial.end())
                    untouched.push_back(item);
            if (!untouched.empty()) message += "; left as they were: " + listed(untouched);
            ctx.error(message, kDeclined);
        }
        for (const auto& p : total.otherFileSystems)
            ctx.error("left alone, another file system is mounted at " + escaped(p));
        for (const auto& p : run.failing) ctx.error("could not erase everything in " + escaped(p));
        if (ctx.json) {
            out["erased"] = total.erased;
            out["removed"] = total.removed;
            out["failed"] = total.failed;
            out["otherFileSystems"] = total.otherFileSystems;
            out["gone"] = run.gone;
            out["left"] = run.left;
            out["partial"] = run.partial;
            out["cancelled"] = total.cancelled;
            printJson(out);
            return;
        }
        if (!total.cancelled) {
            ctx.info() << "erased " << total.erased << " file(s), removed " << total.removed
                       << " other item(s)\n";
            if (total.failed) ctx.info() << total.failed << " item(s) not erased\n";
        }
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
