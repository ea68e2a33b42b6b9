#include "trash/TrashSchedule.h"

#include <unistd.h>

#include "desktop/SizeText.h"
#include "util/AtomicFile.h"

namespace vaultry::trash {
namespace fs = std::filesystem;

namespace {

std::string systemctlProgram() {
    for (const char* p : {"/usr/bin/systemctl", "/bin/systemctl"})
        if (::access(p, X_OK) == 0) return p;
    return {};
}

Status systemctl(platform::Spawn& spawn, std::vector<std::string> args) {
    const std::string program = systemctlProgram();
    if (program.empty()) return fail("systemctl is not installed");
    args.insert(args.begin(), "--user");
    auto r = spawn.run(program, args);
    if (!r) return fail(r.error().message);
    if (r->exitCode != 0) {
        std::string why = r->err.empty() ? r->out : r->err;
        while (!why.empty() && (why.back() == '\n' || why.back() == ' ')) why.pop_back();
        return fail("systemctl --user " + args[1] + ": " + (why.empty() ? "failed" : why));
    }
    return {};
}

}  // namespace

ScheduleRules rulesFromSettings(const Preferences& prefs) {
    ScheduleRules rules;
    rules.byTime = prefs.trashCleanByTime();
    rules.bySize = prefs.trashCleanBySize();
    rules.interval = intervalOfTimeChoice(prefs.cleanTime().value_or(""));
    rules.sizeLimit = prefs.trashSizeLimit();
    rules.onlyOlder = prefs.trashOnlyOlderItems();
    rules.onlyOldest = prefs.trashOnlyOldestItems();
    return rules;
}

std::vector<fs::path> pathsOf(const std::vector<TrashFolder>& folders) {
    std::vector<fs::path> out;
    for (const auto& f : folders) out.push_back(f.path);
    return out;
}

std::uint64_t trashSize(platform::Spawn& spawn, const TrashFolder& folder) {
    return contentSize(spawn, folder.path / "files");
}

std::uint64_t totalSize(platform::Spawn& spawn, const std::vector<TrashFolder>& folders) {
    std::uint64_t total = 0;
    for (const auto& f : folders) total += trashSize(spawn, f);
    return total;
}

RemoveReport emptyAll(const std::vector<TrashFolder>& folders, Unlock unlock) {
    RemoveReport total;
    for (const auto& f : folders) {
        const auto r = emptyTrash(f.path, unlock);
        total.removed += r.removed;
        total.failed += r.failed;
    }
    return total;
}

ScheduleCheck removeSomeItems(const ScheduleRules& rules, const std::vector<TrashFolder>& folders,
                              TimePoint now, bool dryRun) {
    ScheduleCheck out;
    if (rules.bySize && rules.onlyOldest) {
        out.removedOldest = true;
        out.oldest = emptyDownTo(pathsOf(folders), rules.sizeLimit, Unlock::No, dryRun);
    }
    if (rules.byTime && rules.interval && rules.onlyOlder) {
        out.removedOlder = true;
        for (const auto& f : folders)
            out.older +=
                emptyOlderThan(f.path, now - std::chrono::seconds(*rules.interval), Unlock::No, dryRun);
    }
    return out;
}

bool emptyAllIsDue(const ScheduleRules& rules, std::uint64_t elapsed,
                   const std::function<std::uint64_t()>& measure) {
    if (rules.bySize && !rules.onlyOldest && measure() >= rules.sizeLimit) return true;
    return rules.byTime && !rules.onlyOlder && rules.interval && elapsed >= *rules.interval;
}

// The headline of a check: emptying everything when it is due, else the removal of only some
// items that finds something to do (the oldest only once the Trash is at its limit).
ScheduleAction scheduleAction(const ScheduleRules& rules, std::uint64_t totalSize, std::uint64_t elapsed) {
    if (emptyAllIsDue(rules, elapsed, [&] { return totalSize; })) return ScheduleAction::EmptyAll;
    if (rules.bySize && rules.onlyOldest && totalSize >= rules.sizeLimit) return ScheduleAction::RemoveOldest;
    if (rules.byTime && rules.interval && rules.onlyOlder) return ScheduleAction::RemoveOlder;
    return ScheduleAction::None;
}

ScheduleCheck checkSchedule(const ScheduleRules& rules, const std::vector<TrashFolder>& folders,
                            TimePoint now, std::uint64_t elapsed,
                            const std::function<std::uint64_t()>& measure, bool dryRun) {
    ScheduleCheck out = removeSomeItems(rules, folders, now, dryRun);
    out.emptyAllDue = emptyAllIsDue(rules, elapsed, measure);
    return out;
}

ScheduleOutcome applySchedule(platform::Spawn& spawn, Preferences prefs,
                              const std::vector<TrashFolder>& folders, Date now,
                              const std::function<bool()>& confirm, bool dryRun) {
    ScheduleOutcome out;
    const ScheduleRules rules = rulesFromSettings(prefs);
    if (!rules.byTime && !rules.bySize) return out;
    out.sizeBefore = totalSize(spawn, folders);
    const std::uint64_t elapsed = secondsSince(prefs.lastCleanDate(), now);
    // Whether the Trash is full is decided after the quiet removals, as the hourly check does: a
    // Trash they took under its limit is not emptied. A dry run removed nothing.
    std::uint64_t sizeNow = out.sizeBefore;
    const ScheduleCheck check = checkSchedule(
        rules, folders, now, elapsed,
        [&] { return dryRun ? sizeNow : (sizeNow = totalSize(spawn, folders)); }, dryRun);
    // The action names what the run was about (the oldest also when they went below the measured
    // limit, as their own count may differ from du's).
    const auto touched = [](const PartialReport& r) { return r.removed || r.failed || !r.chosen.empty(); };
    out.action = scheduleAction(rules, out.sizeBefore, elapsed);
    if (check.emptyAllDue)
        out.action = ScheduleAction::EmptyAll;
    else if (out.action == ScheduleAction::EmptyAll)
        out.action = rules.byTime && rules.interval && rules.onlyOlder ? ScheduleAction::RemoveOlder
                                                                       : ScheduleAction::None;
    if (out.action == ScheduleAction::None && check.removedOldest && touched(check.oldest))
        out.action = ScheduleAction::RemoveOldest;
    if (out.action == ScheduleAction::RemoveOlder) {
        out.confirmed = true;
        out.partial = check.older;
    } else if (out.action != ScheduleAction::None) {
        out.confirmed = out.action != ScheduleAction::EmptyAll;
        out.partial = check.oldest;
        out.partial += check.older;
    }
    if (out.action != ScheduleAction::EmptyAll || dryRun || !(out.confirmed = confirm())) return out;
    prefs.setLastCleanDate(now);
    prefs.setLastCleanSize(sizeText(sizeNow, 2));
    prefs.save();
    out.emptied = emptyAll(folders, Unlock::No);
    return out;
}

PartialReport emptyByAgeAndSize(const std::vector<TrashFolder>& folders, std::optional<TimePoint> cutoff,
                                std::optional<std::uint64_t> limit, Unlock unlock, bool dryRun) {
    PartialReport total;
    if (cutoff)
        for (const auto& f : folders) total += emptyOlderThan(f.path, *cutoff, unlock, dryRun);
    if (!limit) return total;
    auto r = emptyDownTo(pathsOf(folders), *limit, unlock, dryRun);
    if (cutoff) r.unreadable = 0;  // already counted
    if (dryRun && cutoff) {
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
    return total;
}

// ---- systemd user timer --------------------------------------------------------------------

std::string systemdQuoted(const std::string& word) {
    std::string out = "\"";
    for (const char c : word) {
        if (c == '\\' || c == '"')
            out += '\\', out += c;
        else if (c == '%')
            out += "%%";
        else if (c == '$')
            out += "$$";
        else
            out += c;
    }
    return out + "\"";
}

std::string trashCheckService(const fs::path& cli) {
    return "[Unit]\n"
           "Description=Vaultry: empty the Trash when its schedule says so\n"
           "\n"
           "[Service]\n"
           "Type=oneshot\n"
           "ExecStart=" +
           systemdQuoted(cli.string()) +
           " trash check --yes\n"
           "Nice=10\n"
           "IOSchedulingClass=idle\n";
}

std::string trashCheckTimer() {
    return "[Unit]\n"
           "Description=Vaultry: check the Trash schedule every hour\n"
           "\n"
           "[Timer]\n"
           "OnCalendar=hourly\n"
           "Persistent=true\n"
           "RandomizedDelaySec=5min\n"
           "\n"
           "[Install]\n"
           "WantedBy=timers.target\n";
}

fs::path userUnitFolder(const fs::path& configHome) { return configHome / "systemd" / "user"; }

Status installTrashTimer(platform::Spawn& spawn, const fs::path& configHome, const fs::path& cli) {
    const fs::path folder = userUnitFolder(configHome);
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return fail("cannot create " + folder.string() + ": " + ec.message());
    if (auto st = writeFileAtomically(folder / kServiceName, trashCheckService(cli), 0644); !st) return st;
    if (auto st = writeFileAtomically(folder / kTimerName, trashCheckTimer(), 0644); !st) return st;
    if (auto st = systemctl(spawn, {"daemon-reload"}); !st)
        return fail("the timer is written to " + folder.string() + " but " + st.error().message);
    if (auto st = systemctl(spawn, {"enable", "--now", kTimerName}); !st)
        return fail("the timer is written to " + folder.string() + " but " + st.error().message);
    return {};
}

Status removeTrashTimer(platform::Spawn& spawn, const fs::path& configHome) {
    const fs::path folder = userUnitFolder(configHome);
    std::error_code ec;
    const bool had = fs::exists(folder / kTimerName, ec);
    const Status stopped = had ? systemctl(spawn, {"disable", "--now", kTimerName}) : Status{};
    fs::remove(folder / kTimerName, ec);
    if (ec) return fail("cannot remove " + (folder / kTimerName).string() + ": " + ec.message());
    fs::remove(folder / kServiceName, ec);
    if (ec) return fail("cannot remove " + (folder / kServiceName).string() + ": " + ec.message());
    if (had) (void)systemctl(spawn, {"daemon-reload"});
    if (!stopped) return fail("the timer files are removed but " + stopped.error().message);
    return {};
}

std::string trashTimerStatus(platform::Spawn& spawn, const fs::path& configHome) {
    std::error_code ec;
    if (!fs::exists(userUnitFolder(configHome) / kTimerName, ec)) return "off";
    const std::string program = systemctlProgram();
    if (program.empty()) return "on (installed; systemctl is not available to run it)";
    auto r = spawn.run(program, {"--user", "is-active", kTimerName});
    std::string state = r ? r->out : std::string();
    while (!state.empty() && (state.back() == '\n' || state.back() == ' ')) state.pop_back();
    if (r && r->exitCode == 0) return "on (" + state + ")";
    return "on (installed; the user's service manager says: " + (state.empty() ? "unreachable" : state) + ")";
}

}  // namespace vaultry::trash
