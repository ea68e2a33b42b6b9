// The world itself: its names, its start, how it runs vaultry-cli and the controllers, and how it
// settles an operation's outcome (a kill's included) against the model. The faults are in
// SoakFaults.h, the operations in SoakSteps.cpp, the comparison with the model in SoakChecks.cpp.
#include "soak/SoakWorld.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <thread>

#include "settings/Preferences.h"
#include "soak/SoakFaults.h"
#include "soak/SoakWorldDetail.h"
#include "support/CliRun.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"

namespace vaultry::soak {

using namespace std::chrono_literals;
using detail::backdate;
using detail::mtimeOf;

const std::vector<std::string> kFolders{"Desktop", "Documents", "Notes", "My Work", "Deep/in ner"};
const std::vector<std::string> kNames{"plan.txt", "photo.jpg",        "report",    "a b.txt", "résumé.odt",
                                      "data",     "draft.part-2.txt", "old.rekey", ".profile"};

const char* faultName(Fault f) {
    switch (f) {
        case Fault::None:
            return "none";
        case Fault::Kill:
            return "kill -9";
        case Fault::StorageRenamed:
            return "storage drive away";
        case Fault::StorageEmpty:
            return "storage drive away, empty folder in its place";
        case Fault::ReadOnlySettings:
            return "settings folder read-only";
        case Fault::LockHeld:
            return "storage lock held by another process";
        case Fault::WriteFails:
            return "writes fail (disk full)";
        case Fault::Alongside:
            return "vault list and verify run alongside";
    }
    return "?";
}

const char* editName(Edit e) {
    switch (e) {
        case Edit::Write:
            return "write";
        case Edit::Append:
            return "append";
        case Edit::Truncate:
            return "truncate";
        case Edit::Delete:
            return "delete";
        case Edit::AddFile:
            return "add a file";
        case Edit::RenameInside:
            return "rename inside";
    }
    return "?";
}

const char* stateName(Item::State s) {
    switch (s) {
        case Item::Plain:
            return "plain";
        case Item::Locked:
            return "locked";
        case Item::Unlocked:
            return "unlocked";
        case Item::Hidden:
            return "hidden";
        case Item::Trashed:
            return "in the Trash";
        case Item::Gone:
            return "gone";
    }
    return "?";
}

std::string Item::record() const { return vault::encryptedRecordFor(place.string(), folder); }
std::string Item::archiveName() const {
    return fs::path(vault::archivePath("/", record())).filename().string();
}

Stats& stats() {
    static Stats s;
    return s;
}

void Stats::write(std::ostream& os) const {
    os << "sequences\t" << sequences << "\nsteps\t" << steps << "\nvaultry-cli runs\t" << cliRuns
       << "\ncontroller runs\t" << appRuns << "\ninvariant checks\t" << checks
       << "\narchives opened by Vaultry's reader\t" << archivesOpened
       << "\narchives opened by openssl and tar\t" << opensslChecks << "\nfailures\t" << failures << '\n';
    for (const auto& [k, n] : operations) os << "operation " << k << '\t' << n << '\n';
    for (const auto& [k, n] : faults) os << "fault " << k << '\t' << n << '\n';
}

Tree readTree(const fs::path& p) {
    Tree t;
    std::error_code ec;
    const auto st = fs::symlink_status(p, ec);
    if (ec || !fs::exists(st)) return t;
    auto one = [](const fs::path& q, const fs::file_status& s) -> std::string {
        if (fs::is_symlink(s)) return "l:" + fs::read_symlink(q).string();
        if (fs::is_directory(s)) return "d";
        if (fs::is_regular_file(s)) return "f:" + test::readFile(q);
        return "o";
    };
    t[""] = one(p, st);
    if (!fs::is_directory(st)) return t;
    for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec))
        t[it->path().lexically_relative(p).string()] = one(it->path(), it->symlink_status());
    return t;
}

void writeTree(const fs::path& p, const Tree& t) {
    for (const auto& [k, v] : t) {
        const fs::path q = k.empty() ? p : p / k;
        if (v == "d")
            fs::create_directories(q);
        else if (v.starts_with("f:"))
            test::writeFile(q, v.substr(2));
        else if (v.starts_with("l:"))
            fs::create_symlink(v.substr(2), q);
    }
}

World::World() {
    storage_ = home() / "Drive/vaultry.data";
    std::random_device rd;
    pass_ = "soak pass " + std::to_string(rd() % 100000);
    for (const auto& f : kFolders) fs::create_directories(home() / f);
    fs::create_directories(home() / "Drive");
    // Bystanders: files Vaultry has no business with, some named like its own temporary files.
    const std::map<std::string, std::string> files{
        {"Notes/x.part-abc123", "a user's file that looks like a temporary one"},
        {"Notes/.vaultry-removing-xyz/inner.txt", "a user's folder named like Vaultry's"},
        {"Desktop/.hidden note", "dot file"},
        {"Documents/report final.odt", std::string("\0\1binary\xff", 9)},
        {"My Work/linked.txt", "has another hard link"},
        {"Documents/read-only/keep.txt", "in a read-only folder"},
        {"Drive/other-backup.bin", "beside the storage folder"},
        {"Deep/in ner/plan.txt.part-Zq19aB", "another look-alike"},
    };
    for (const auto& [rel, content] : files) test::writeFile(home() / rel, content);
    fs::create_hard_link(home() / "My Work/linked.txt", home() / "Documents/linked-elsewhere.txt");
    fs::create_symlink("../Notes/plan.txt", home() / "Desktop/plan link");
    fs::create_symlink("../My Work", home() / "Desktop/work link");
    Strings rels{"Notes/x.part-abc123",
                 "Notes/.vaultry-removing-xyz",
                 "Desktop/.hidden note",
                 "Documents/report final.odt",
                 "My Work/linked.txt",
                 "Documents/linked-elsewhere.txt",
                 "Documents/read-only",
                 "Drive/other-backup.bin",
                 "Desktop/plan link",
                 "Desktop/work link",
                 "Deep/in ner/plan.txt.part-Zq19aB"};
    std::erase_if(rels, [this](const std::string& rel) { return !test::present(home() / rel); });
    // Old, as a user's files are: a sweep of leftovers by age alone would take them.
    for (const auto& rel : rels) {
        for (const auto& [k, v] : readTree(home() / rel))
            backdate(k.empty() ? home() / rel : home() / rel / k, 86400s);
    }
    fs::permissions(home() / "Documents/read-only", fs::perms::owner_read | fs::perms::owner_exec);
    for (const auto& rel : rels) {
        bystanders_[rel] = readTree(home() / rel);
        struct stat st {};
        ::lstat((home() / rel).c_str(), &st);
        bystanderMeta_[rel] = {unsigned(st.st_mode), mtimeOf(home() / rel)};
    }

    // The vault: a password and the storage folder, as the first run sets them.
    {
        SettingsStore s(paths_.settingsFile());
        s.set(prefkey::PasswordVerifier, *password::makeVerifier(pass_));
        (void)s.flush();
    }
    startApp();
    app_->openPanelDidEnd8(platform::Ui::Paths{(home() / "Drive").string()});
    app_.reset();
}

World::~World() {
    app_.reset();
    std::error_code ec;
    fs::permissions(home() / "Documents/read-only", fs::perms::owner_all, ec);
    fs::permissions(home() / ".config", fs::perms::owner_all, ec);
}

void World::startApp() {
    app_.reset();
    settings_ = std::make_unique<SettingsStore>(paths_.settingsFile());
    Services services{ui_,        *settings_,  nc_,          paths_, clock_, mainThread_, bookmarks_,
                      workspace_, hiddenFlag_, thumbnailer_, spawn_, http_,  notifier_,   loginItems_};
    app_ = std::make_unique<AppDelegate>(services);
    app_->applicationDidFinishLaunching();
    if (settings_->string(prefkey::StorePath)) {
        ui_.setText("enterPWLab", pass_);
        app_->ReturnOnPasswordField();
    }
    ui_.alerts.clear();
}

AppDelegate& World::app() {
    if (!app_) startApp();
    return *app_;
}

void World::restart() {
    ++stats().operations["controller start"];
    startApp();
}

World::Cli World::runCli(Strings args, const std::string& input,
                         std::optional<std::chrono::microseconds> killAfter) {
    ++stats().cliRuns;
    app_.reset();  // the controllers read the lists again after another process changed them
    ui_.alerts.clear();
    test::TempDir io;
    test::writeFile(io / "in", input);
    Cli run;
    Strings env;
    if (writesBeforeFull_ >= 0)
        env.push_back("VAULTRY_TEST_FAIL_WRITES_AFTER=" + std::to_string(writesBeforeFull_));
    const pid_t pid = test::startCli(home(), std::move(args), io.path(), env);
    if (pid < 0) {
        problems_.push_back("vaultry-cli did not start");
        return run;
    }
    int status = 0;
    if (killAfter) {
        const auto until = std::chrono::steady_clock::now() + *killAfter;
        pid_t done = 0;
        while ((done = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(200us);
        if (done == 0) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
        }
    } else {
        ::waitpid(pid, &status, 0);
    }
    if (WIFEXITED(status)) run.code = WEXITSTATUS(status);
    run.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    if (run.killed) ++stats().faults[faultName(Fault::Kill)];
    run.out = test::readFile(io / "out");
    run.err = test::readFile(io / "err");
    lastCli_ =
        "exit " + std::to_string(run.code) + (run.killed ? " (killed)" : "") + ", " + run.out + run.err;
    return run;
}

World::Cli World::cliWithPass(Strings args, Fault f, std::chrono::microseconds killAfter,
                              const std::string& input) {
    args.push_back("--password-stdin");
    std::optional<std::chrono::microseconds> kill;
    if (f == Fault::Kill) kill = killAfter;
    lastKill_ = killAfter;
    return runCli(std::move(args), input.empty() ? pass_ + "\n" : input, kill);
}

std::unique_ptr<World::Held> World::inject(Fault f, std::chrono::microseconds delay) {
    if (f == Fault::None || f == Fault::Kill) return nullptr;
    ++stats().faults[faultName(f)];
    app();  // the controllers started before the fault, as a running application would be
    return std::make_unique<Held>(*this, f, delay);
}

bool World::archiveTaken(const std::string& name) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(storage() / name, ec));
}

void World::settle(const Choices& choices, const std::map<int, bool>& reportedDone, bool killed,
                   const std::string& what) {
    if (killed) {
        // Time passes before the next start, long enough for every leftover to count as old.
        backdateStrays();
        // The next start is a vaultry-cli command or the application's, as the kill's delay has it.
        if (lastKill_.count() / 1000 % 2)
            (void)runCli({"vault", "list"}, "", std::nullopt);
        else
            startApp();
    }
    for (const auto& [id, allowed] : choices) {
        const Item before = items_.at(id);
        std::vector<std::string> why;
        const Item* chosen = nullptr;
        for (const auto& candidate : allowed) {
            const auto diffs = checkItem(candidate);
            if (diffs.empty()) {
                chosen = &candidate;
                break;
            }
            why.push_back(std::string("as ") + stateName(candidate.state) + ": " + diffs.front());
        }
        if (!chosen) {
            std::string msg =
                what + ": #" + std::to_string(id) + " (" + before.record() + ") is in no allowed state";
            for (const auto& w : why) msg += "\n    " + w;
            for (const auto& a : ui_.alerts)
                msg += "\n    the application said: " + a.message + " " + a.informative;
            if (!lastCli_.empty()) msg += "\n    vaultry-cli said: " + lastCli_;
            problems_.push_back(msg);
            items_[id] = allowed.front();
            continue;
        }
        items_[id] = *chosen;
        const bool changed = !(*chosen == before);
        if (!killed) {
            auto rep = reportedDone.find(id);
            if (rep != reportedDone.end() && rep->second != changed)
                problems_.push_back(what + ": #" + std::to_string(id) + " was " + (changed ? "" : "not ") +
                                    "done but was reported " + (rep->second ? "done" : "not done") +
                                    (lastCli_.empty() ? "" : "; vaultry-cli said: " + lastCli_));
        }
    }
}

void World::backdateStrays() {
    std::set<fs::path> known;
    for (const auto& [id, it] : items_) {
        known.insert(it.place);
        known.insert(vault::plaintextCopyPath(storage().string(), it.record()));
    }
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path p = it->path();
        const std::string rel = p.lexically_relative(home()).string();
        if (known.count(p) || bystanders_.count(rel) || rel == ".config") {
            it.disable_recursion_pending();
            continue;
        }
        backdate(p, 7200s);
    }
}

}  // namespace vaultry::soak
