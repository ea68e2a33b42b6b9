#include "soak/SoakWorld.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <set>
#include <sstream>
#include <thread>

#include "settings/SettingsKeys.h"
#include "support/CliRun.h"
#include "util/TestPause.h"
#include "vault/Archive.h"
#include "vault/AutoLock.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"

extern char** environ;

namespace vaultry::soak {

using namespace std::chrono_literals;

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

namespace {

std::string describe(const Tree& t) {
    if (t.empty()) return "(nothing)";
    std::ostringstream os;
    int n = 0;
    for (const auto& [k, v] : t) {
        if (n++ == 6) {
            os << " ...";
            break;
        }
        os << " [" << (k.empty() ? "." : k) << ' ';
        if (v.starts_with("f:"))
            os << v.size() - 2 << " bytes";
        else
            os << v;
        os << ']';
    }
    return os.str();
}

std::string firstDiff(const Tree& want, const Tree& got) {
    for (const auto& [k, v] : want) {
        auto it = got.find(k);
        if (it == got.end()) return "'" + k + "' missing";
        if (it->second != v)
            return "'" + k + "' differs (" + std::to_string(v.size()) + " vs " +
                   std::to_string(it->second.size()) + " bytes)";
    }
    for (const auto& [k, v] : got)
        if (!want.count(k)) return "'" + k + "' not expected";
    return "";
}

std::string bytesOf(std::mt19937& rng, std::size_t n) {
    std::string s(n, '\0');
    for (auto& c : s) c = char(rng() & 0xff);
    return s;
}

std::string marker(int id) { return "<soak-item-" + std::to_string(id) + ">"; }

std::int64_t mtimeOf(const fs::path& p) {
    struct stat st {};
    if (::lstat(p.c_str(), &st) != 0) return -1;
    return std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
}

void backdate(const fs::path& p, std::chrono::seconds by) {
    struct timespec t[2];
    ::clock_gettime(CLOCK_REALTIME, &t[0]);
    t[0].tv_sec -= by.count();
    t[1] = t[0];
    ::utimensat(AT_FDCWD, p.c_str(), t, AT_SYMLINK_NOFOLLOW);
}

std::vector<int> unique(const std::vector<int>& ids) {
    std::vector<int> out;
    for (int id : ids)
        if (std::find(out.begin(), out.end(), id) == out.end()) out.push_back(id);
    return out;
}

bool contains(const Strings& list, const std::string& s) {
    return std::find(list.begin(), list.end(), s) != list.end();
}

// Whether the folder's ".hidden" file (the file managers' list of names not to show) names it.
bool hiddenInFolder(const fs::path& p) {
    std::istringstream lines(test::readFile(p.parent_path() / ".hidden"));
    for (std::string l; std::getline(lines, l);)
        if (l == p.filename().string()) return true;
    return false;
}

}  // namespace

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

struct World::Held {
    World& w;
    Fault f;
    pid_t holder = 0;
    fs::path away;
    // Fault::Alongside: the other vaultry-cli runs, started before the operation and awaited after.
    test::TempDir listIo, verifyIo;
    pid_t lister = 0, verifier = 0;
    Held(World& world, Fault fault, std::chrono::microseconds delay) : w(world), f(fault) {
        if (f == Fault::Alongside) {
            // Each settles what dead runs left as it starts: a live run's work is not that.
            test::writeFile(verifyIo / "in", w.pass_ + "\n");
            lister = test::startCli(w.home(), {"vault", "list"}, listIo.path());
            verifier = test::startCli(w.home(), {"vault", "verify", "--password-stdin"}, verifyIo.path());
            std::this_thread::sleep_for(std::chrono::duration_cast<std::chrono::microseconds>(delay) / 10);
        }
        if (f == Fault::WriteFails) {
            const long writes = long(std::chrono::duration_cast<std::chrono::milliseconds>(delay).count());
            w.writesBeforeFull_ = writes;
            failWritesAfter(writes);
        }
        const fs::path drive = w.storage().parent_path();
        switch (f) {
            case Fault::StorageRenamed:
            case Fault::StorageEmpty:
                away = w.scratch_ / "drive-away";
                fs::rename(drive, away);
                if (f == Fault::StorageEmpty) fs::create_directory(drive);
                break;
            case Fault::ReadOnlySettings:
                fs::permissions(w.home() / ".config", fs::perms::owner_read | fs::perms::owner_exec);
                break;
            case Fault::LockHeld: {
                const std::string lockFile = (w.storage() / ".vaultry-lock").string();
                std::vector<std::string> args{"flock", "--exclusive", lockFile, "sleep", "600"};
                std::vector<char*> argv;
                for (auto& a : args) argv.push_back(a.data());
                argv.push_back(nullptr);
                posix_spawnattr_t attr;
                posix_spawnattr_init(&attr);
                posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
                if (posix_spawnp(&holder, "flock", nullptr, &attr, argv.data(), environ) != 0) holder = 0;
                posix_spawnattr_destroy(&attr);
                // Held once this process can no longer take it.
                for (int i = 0; holder && i < 5000; ++i) {
                    const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
                    if (fd >= 0) {
                        const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
                        ::close(fd);
                        if (!free) break;
                    }
                    std::this_thread::sleep_for(1ms);
                }
                break;
            }
            default:
                break;
        }
    }
    ~Held() {
        const fs::path drive = w.storage().parent_path();
        std::error_code ec;
        switch (f) {
            case Fault::StorageRenamed:
            case Fault::StorageEmpty:
                // Whatever was written in the drive's place while it was away is not on the drive.
                if (fs::exists(fs::symlink_status(drive, ec)))
                    fs::rename(drive, w.scratch_ / ("stand-in-" + std::to_string(mtimeOf(away))), ec);
                fs::rename(away, drive, ec);
                break;
            case Fault::ReadOnlySettings:
                fs::permissions(w.home() / ".config", fs::perms::owner_all, ec);
                break;
            case Fault::WriteFails:
                w.writesBeforeFull_ = -1;
                failWritesAfter(-1);
                break;
            case Fault::Alongside: {
                int status = 0;
                if (lister > 0 && ::waitpid(lister, &status, 0) == lister &&
                    !(WIFEXITED(status) && WEXITSTATUS(status) == 0))
                    w.problems_.push_back("vault list alongside failed: " + test::readFile(listIo / "err"));
                // Verify may find an archive mid-change; it must end, and say what it found.
                if (verifier > 0 && ::waitpid(verifier, &status, 0) == verifier && WIFEXITED(status) &&
                    WEXITSTATUS(status) != 0 &&
                    (test::readFile(verifyIo / "out") + test::readFile(verifyIo / "err")).empty())
                    w.problems_.push_back("vault verify alongside failed without saying why");
                break;
            }
            case Fault::LockHeld:
                if (holder) {
                    ::kill(-holder, SIGKILL);
                    ::kill(holder, SIGKILL);
                    int status = 0;
                    ::waitpid(holder, &status, 0);
                    // flock's child (sleep) holds the descriptor too and dies a moment later.
                    const std::string lockFile = (w.storage() / ".vaultry-lock").string();
                    for (int i = 0; i < 10000; ++i) {
                        const int fd = ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC);
                        const bool free = fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) == 0;
                        if (fd >= 0) ::close(fd);
                        if (free) break;
                        std::this_thread::sleep_for(1ms);
                    }
                }
                break;
            default:
                break;
        }
    }
};

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
        s.set(key::VaultryPassword, *password::makeVerifier(pass_));
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
    if (settings_->string(key::EncyptedStorePath)) {
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

void World::makeItem(int id, int folder, int name, bool isFolder, std::uint32_t seed, int size) {
    ++stats().operations["make item"];
    Item it;
    it.id = id;
    it.folder = isFolder;
    it.place =
        home() / kFolders[std::size_t(folder) % kFolders.size()] / kNames[std::size_t(name) % kNames.size()];
    std::mt19937 rng(seed);
    const std::size_t n = std::size_t(size);
    if (!isFolder) {
        it.plain[""] = "f:" + marker(id) + bytesOf(rng, n);
    } else {
        it.plain[""] = "d";
        it.plain["one.txt"] = "f:" + marker(id) + "one" + bytesOf(rng, n / 2);
        it.plain["sub"] = "d";
        it.plain["sub/two.bin"] = "f:" + marker(id) + "two" + bytesOf(rng, n / 3);
        if (seed % 3 == 0) it.plain["empty"] = "d";
        if (seed % 2 == 0) it.plain[".dot"] = "f:" + marker(id) + "dot";
    }
    writeTree(it.place, it.plain);
    items_[id] = it;
}

void World::edit(int id, Edit e, std::uint32_t seed) {
    auto found = items_.find(id);
    if (found == items_.end() || found->second.state != Item::Unlocked || found->second.copy.empty()) return;
    ++stats().operations[std::string("edit: ") + editName(e)];
    Item& it = found->second;
    const fs::path copy = vault::plaintextCopyPath(storage().string(), it.record());
    std::mt19937 rng(seed);
    std::string target;  // the file inside the copy that is changed
    for (const auto& [k, v] : it.copy)
        if (v.starts_with("f:") && (target.empty() || rng() % 2)) target = k;
    const fs::path file = target.empty() ? copy : copy / target;
    switch (e) {
        case Edit::Write:
            if (target.empty() && it.folder) return;
            test::writeFile(file, marker(id) + "written" + bytesOf(rng, rng() % 3000));
            break;
        case Edit::Append: {
            if (target.empty() && it.folder) return;
            std::string bytes = test::readFile(file) + bytesOf(rng, 1 + rng() % 500);
            test::writeFile(file, bytes);
            break;
        }
        case Edit::Truncate: {
            if (target.empty() && it.folder) return;
            fs::resize_file(file, fs::file_size(file) / 2);
            break;
        }
        case Edit::Delete:
            fs::remove_all(copy);
            break;
        case Edit::AddFile:
            if (!it.folder) return;
            test::writeFile(copy / ("new " + std::to_string(seed % 1000) + ".txt"), marker(id) + "new");
            break;
        case Edit::RenameInside:
            if (!it.folder || target.empty()) return;
            fs::rename(file, copy / (fs::path(target).filename().string() + ".renamed"));
            break;
    }
    it.copy = readTree(copy);
    it.edited = true;
}

void World::encrypt(const std::vector<int>& given, Via via, Fault f, std::chrono::microseconds killAfter) {
    // A hidden item stays a hidden one: encrypting it is not a step of this model.
    std::vector<int> ids;
    for (int id : given)
        if (items_.at(id).state != Item::Hidden) ids.push_back(id);
    if (ids.empty()) return;
    ++stats().operations[via == Via::Cli ? "encrypt (vaultry-cli)" : "encrypt (controller)"];
    Choices choices;
    std::set<std::string> taken;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    for (int id : unique(ids)) {
        const Item before = items_.at(id);
        Item done = before;
        const bool can = before.state == Item::Plain && !archiveTaken(before.archiveName()) &&
                         !taken.count(before.archiveName());
        if (can) {
            taken.insert(before.archiveName());
            done.state = Item::Locked;
            done.archive = before.plain;
            done.plain.clear();
        }
        if (!can || storageAway || f == Fault::LockHeld)
            choices[id] = {before};
        else if (f == Fault::None)
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "encrypt", "--yes"};
        for (int id : ids) args.push_back(items_.at(id).place.string());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        std::istringstream lines(r.out);
        Strings printed;
        for (std::string l; std::getline(lines, l);) printed.push_back(l);
        for (int id : ids) reported[id] = contains(printed, items_.at(id).record());
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("encrypt failed without saying why");
        if (!killed && r.code == 0)
            for (int id : ids)
                if (!reported[id])
                    problems_.push_back("encrypt exited 0 without naming #" + std::to_string(id));
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        for (int id : ids)
            reported[id] = app().EncryptFileFolderFunction(items_.at(id).place.string()) || reported[id];
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, "encrypt");
}

void World::decrypt(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations[via == Via::Cli ? "decrypt (vaultry-cli)" : "decrypt (controller)"];
    Choices choices;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    std::vector<int> asked;
    for (int id : unique(ids)) {
        const Item before = items_.at(id);
        if (via == Via::App && !before.encrypted()) continue;  // the list shows only vault items
        asked.push_back(id);
        Item done = before;
        const fs::path copy = vault::plaintextCopyPath(storage().string(), before.record());
        std::error_code ec;
        // An unlocked item whose copy the user deleted may be decrypted afresh.
        const bool can =
            (before.state == Item::Locked || (before.state == Item::Unlocked && before.copy.empty())) &&
            !fs::exists(fs::symlink_status(copy, ec));
        if (can) {
            done.state = Item::Unlocked;
            done.copy = before.archive;
            done.edited = false;
        }
        if (!can || storageAway)
            choices[id] = {before};
        else if (before.state == Item::Unlocked)
            choices[id] = {done, before};
        else if (f == Fault::None || f == Fault::LockHeld)  // reading needs no lock
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    if (asked.empty()) return;
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "decrypt"};
        for (int id : asked) args.push_back(items_.at(id).record());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        // Items of the same name share their copy's path: a path printed is the first one's that
        // could be decrypted (the others find the copy there).
        std::set<std::string> claimed;
        for (int id : asked) {
            const std::string copy = vault::plaintextCopyPath(storage().string(), items_.at(id).record());
            const bool could = choices[id].size() > 1 || choices[id].front().state != items_.at(id).state;
            reported[id] = could && !claimed.count(copy) && r.out.find(copy + "\n") != std::string::npos;
            if (could) claimed.insert(copy);
        }
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("decrypt failed without saying why");
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        for (int id : asked)
            reported[id] = app().DecryptFileFolderFunction(items_.at(id).record()) || reported[id];
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, "decrypt");
}

void World::lock(const std::vector<int>& ids, bool all, Via via, Fault f,
                 std::chrono::microseconds killAfter) {
    ++stats().operations[std::string(all ? "lock all" : "lock") +
                         (via == Via::Cli ? " (vaultry-cli)" : " (controller)")];
    std::vector<int> chosen;
    if (all) {
        for (const auto& [id, it] : items_)
            if (it.state == Item::Unlocked) chosen.push_back(id);
    } else {
        for (int id : ids)
            if (via == Via::Cli || items_.at(id).state == Item::Unlocked) chosen.push_back(id);
    }
    if (via == Via::App) chosen = unique(chosen);
    if (chosen.empty()) return;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    // The CLI checks every named record first and refuses the lot when one is not unlocked.
    const bool refusedWhole = via == Via::Cli && !all &&
                              std::any_of(chosen.begin(), chosen.end(),
                                          [&](int id) { return items_.at(id).state != Item::Unlocked; });
    Choices choices;
    for (int id : unique(chosen)) {
        const Item before = items_.at(id);
        Item done = before;
        const bool can = before.state == Item::Unlocked && !refusedWhole;
        if (can) {
            done.state = Item::Locked;
            if (!before.copy.empty()) done.archive = before.copy;
            done.copy.clear();
            done.edited = false;
        }
        if (!can || f == Fault::LockHeld || (storageAway && before.edited))
            choices[id] = {before};
        else if (f == Fault::None && !before.copy.empty())
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "lock", "--yes"};
        if (all)
            args.push_back("--all");
        else
            for (int id : chosen) args.push_back(items_.at(id).record());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        for (int id : chosen)
            reported[id] = r.out.find("locked\t" + items_.at(id).record() + "\n") != std::string::npos;
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("lock failed without saying why");
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        if (all) {
            app().autoLockDecrypted(vault::LockTrigger::Idle);
        } else {
            for (int id : chosen) {
                std::string why;
                reported[id] = app().lockDecryptedRecord(items_.at(id).record(), &why) || reported[id];
            }
        }
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, all ? "lock all" : "lock");
}

void World::remove(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations[via == Via::Cli ? "remove (vaultry-cli)" : "remove (controller)"];
    std::vector<int> chosen;
    for (int id : ids)
        if (via == Via::Cli || items_.at(id).encrypted()) chosen.push_back(id);
    if (chosen.empty()) return;
    const bool storageAway = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    // The CLI refuses the lot when one record is not in the vault.
    const bool refusedWhole =
        std::any_of(chosen.begin(), chosen.end(), [&](int id) { return !items_.at(id).encrypted(); });
    Choices choices;
    std::set<int> seen;
    for (int id : chosen) {
        if (!seen.insert(id).second) continue;
        const Item before = items_.at(id);
        Item done = before;
        std::error_code ec;
        bool can = !refusedWhole && before.encrypted();
        if (before.state == Item::Unlocked && before.edited && !before.copy.empty()) can = false;
        if (fs::exists(fs::symlink_status(before.place, ec)) &&
            !(before.state == Item::Unlocked && !before.folder && !before.copy.empty()))
            can = false;
        if (can) {
            done.state = Item::Plain;
            done.plain =
                (before.state == Item::Unlocked && !before.copy.empty()) ? before.copy : before.archive;
            done.archive.clear();
            done.copy.clear();
            done.edited = false;
        }
        if (!can || f == Fault::LockHeld || storageAway)
            choices[id] = {before};
        else if (f == Fault::None)
            choices[id] = {done};
        else
            choices[id] = {done, before};
    }
    std::map<int, bool> reported;
    bool killed = false;
    auto held = inject(f, killAfter);
    if (via == Via::Cli) {
        Strings args{"vault", "remove", "--yes"};
        for (int id : chosen) args.push_back(items_.at(id).record());
        const Cli r = cliWithPass(args, f, killAfter);
        killed = r.killed;
        for (int id : chosen)
            reported[id] = r.out.find("removed\t" + items_.at(id).record() + "\n") != std::string::npos;
        if (!killed && r.code != 0 && r.err.empty()) problems_.push_back("remove failed without saying why");
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        for (int id : seen) {
            const std::string record = items_.at(id).record();
            auto& a = app();
            const auto& shown = a.shownRecords();
            const auto row = std::find(shown.begin(), shown.end(), record);
            if (row == shown.end()) {
                problems_.push_back("the vault window does not show " + record);
                continue;
            }
            ui_.at("fileTableView").clickedRow = std::int64_t(row - shown.begin());
            a.RemoveFileFromListAction();
        }
    }
    held.reset();
    // Work a full disk cut short is finished by the next ordinary start, as a kill's is.
    killed = killed || f == Fault::WriteFails;
    settle(choices, reported, killed, "remove");
}

void World::changePassword(Via via, Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations[via == Via::Cli ? "password change (vaultry-cli)" : "password change (controller)"];
    const std::string old = pass_, next = "soak pass " + std::to_string(++passChanges_) + " \xe2\x98\x83";
    auto held = inject(f, killAfter);
    Cli r;
    if (via == Via::Cli) {
        r = cliWithPass({"vault", "password", "set", "--change"}, f, killAfter, old + "\n" + next + "\n");
    } else {
        // The preferences window: the new password twice, then Change.
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        auto& a = app();
        ui_.setText("newPWLab", next);
        ui_.setText("confirmNewPWLab", next);
        a.ChangePassWordAction();
        for (const auto& alert : ui_.alerts) r.err += alert.message + " " + alert.informative + "\n";
    }
    held.reset();
    // Killed, or done but not stored: the next ordinary start settles the change.
    std::error_code ec;
    if (r.killed || fs::exists(storage_ / ".vaultry-rekey", ec)) {
        backdateStrays();
        (void)runCli({"vault", "list"}, "", std::nullopt);
    }
    SettingsStore s(paths_.settingsFile());
    const auto stored = s.string(key::VaultryPassword).value_or("");
    const bool isNew = password::matches(stored, next), isOld = password::matches(stored, old);
    if (isNew) pass_ = next;
    if (!isNew && !isOld) problems_.push_back("after a password change neither password is the vault's");
    if (!r.killed) {
        const bool must = f == Fault::None;
        const bool mustNot = f == Fault::LockHeld || f == Fault::StorageRenamed || f == Fault::StorageEmpty;
        if (must && !isNew) problems_.push_back("password change refused: " + r.err);
        if (mustNot && isNew) problems_.push_back(std::string("password changed with ") + faultName(f));
        // Refused, it says so; done but not stored, it says that the next start stores it.
        const bool saidDone = via == Via::Cli
                                  ? r.code == 0 || r.err.find("the next vault command") != std::string::npos
                                  : r.err.find("could not be changed") == std::string::npos;
        if (saidDone != isNew)
            problems_.push_back(std::string("the password change said it was ") + (saidDone ? "" : "not ") +
                                "done, but the password is " + (isNew ? "the new one" : "the old one") +
                                ": " + r.err);
    }
}

void World::moveStorage(Fault f, std::chrono::microseconds killAfter) {
    ++stats().operations["storage move (vaultry-cli)"];
    const fs::path target = home() / ("Drive" + std::to_string(oldStorages_.size() + 2));
    fs::create_directories(target);
    const fs::path next = target / "vaultry.data";
    auto held = inject(f, killAfter);
    std::optional<std::chrono::microseconds> kill;
    if (f == Fault::Kill) kill = killAfter;
    lastKill_ = killAfter;
    const Cli r = runCli({"vault", "storage", "set", target.string()}, "", kill);
    held.reset();
    if (r.killed) {
        backdateStrays();
        (void)runCli({"vault", "list"}, "", std::nullopt);
    }
    SettingsStore s(paths_.settingsFile());
    const fs::path now = s.string(key::EncyptedStorePath).value_or("");
    const bool moved = now == next;
    if (!moved && now != storage_)
        problems_.push_back("after a storage move the storage folder is " + now.string());
    const bool away = f == Fault::StorageRenamed || f == Fault::StorageEmpty;
    // With its drive away the vault may switch to a new folder only when it holds no archive.
    bool encrypted = false;
    for (const auto& [id, it] : items_) encrypted = encrypted || it.encrypted();
    if (!r.killed) {
        if (f == Fault::None && !moved) problems_.push_back("storage move refused: " + r.err);
        if ((f == Fault::LockHeld || (away && encrypted)) && moved)
            problems_.push_back(std::string("storage moved with ") + faultName(f));
        if ((r.code == 0) != moved)
            problems_.push_back("storage move exited " + std::to_string(r.code) + " but the storage folder " +
                                (moved ? "moved" : "stayed"));
    }
    if (moved) {
        if (away) {
            // What the old folder held is not in the new one: the model follows what is there.
            for (auto& [id, it] : items_)
                if (it.encrypted())
                    problems_.push_back("#" + std::to_string(id) + " left behind on the drive that was away");
        }
        oldStorages_.push_back(storage_);
        storage_ = next;
    }
}

void World::verify(Via via) {
    ++stats().operations[via == Via::Cli ? "verify (vaultry-cli)" : "verify (controller)"];
    bool any = false;
    for (const auto& [id, it] : items_) any = any || it.encrypted();
    if (via == Via::Cli) {
        const Cli r = runCli({"vault", "verify", "--password-stdin"}, pass_ + "\n", std::nullopt);
        if (r.code != 0)
            problems_.push_back("vault verify exited " + std::to_string(r.code) + ": " + r.out + r.err);
    } else {
        ++stats().appRuns;
        ui_.alerts.clear();
        lastCli_.clear();
        ui_.alerts.clear();
        app().VerifyArchivesAction();
        if (any && (ui_.alerts.empty() || ui_.alerts.back().message != "Every archive is intact."))
            problems_.push_back("Verify Archives said: " +
                                (ui_.alerts.empty()
                                     ? std::string("nothing")
                                     : ui_.alerts.back().message + " " + ui_.alerts.back().informative));
    }
}

void World::hide(const std::vector<int>& ids, bool on) {
    const char* what = on ? "hide" : "unhide";
    std::vector<int> chosen;
    for (int id : unique(ids))
        if (items_.at(id).state == (on ? Item::Plain : Item::Hidden)) chosen.push_back(id);
    if (chosen.empty()) return;
    ++stats().operations[std::string(what) + " (vaultry-cli)"];
    Choices choices;
    std::map<int, bool> reported;
    Strings args{"vault", what};
    for (int id : chosen) {
        Item done = items_.at(id);
        done.state = on ? Item::Hidden : Item::Plain;
        choices[id] = {done};
        args.push_back(done.place.string());
    }
    const Cli r = runCli(args, "", std::nullopt);
    if (r.code != 0) problems_.push_back(std::string("vault ") + what + " exited " + std::to_string(r.code));
    settle(choices, reported, false, what);
}

void World::trashItem(int id, bool longAgo) {
    Item& it = items_.at(id);
    if (it.state != Item::Plain) return;
    ++stats().operations["put into the Trash (trash-put)"];
    const auto names = [this] {
        std::set<std::string> out;
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(trashFiles(), ec))
            out.insert(e.path().filename().string());
        return out;
    };
    const auto before = names();
    const int rc = test::runProgram({"env", "HOME=" + home().string(),
                                     "XDG_DATA_HOME=" + (home() / ".local/share").string(), "trash-put", "--",
                                     it.place.string()});
    std::string added;
    for (const auto& n : names())
        if (!before.count(n)) added = n;
    if (rc != 0 || added.empty()) {
        problems_.push_back("trash-put " + it.place.string() + " exited " + std::to_string(rc));
        return;
    }
    if (longAgo) {
        // Deleted sixty days ago, as the item's .trashinfo tells.
        const fs::path info = trashFiles().parent_path() / "info" / (added + ".trashinfo");
        std::string text = test::readFile(info);
        const auto at = text.find("DeletionDate=");
        if (at != std::string::npos) text.replace(at + 13, 19, "2020-01-02T03:04:05");
        test::writeFile(info, text);
    }
    it.state = Item::Trashed;
    it.trashName = added;
    it.trashedLongAgo = longAgo;
}

void World::emptyTrash(Emptying how, std::uint32_t seed) {
    Strings args{"trash", "empty", "--yes"};
    Choices choices;
    for (const auto& [id, it] : items_) {
        if (it.state != Item::Trashed) continue;
        Item gone = it;
        gone.state = Item::Gone;
        gone.plain.clear();
        if (how == Emptying::All || (how == Emptying::OlderThan30Days && it.trashedLongAgo))
            choices[id] = {gone};
        else if (how == Emptying::OlderThan30Days)
            choices[id] = {it};
        else
            choices[id] = {gone, it};
    }
    switch (how) {
        case Emptying::All:
            ++stats().operations["empty the Trash (vaultry-cli)"];
            break;
        case Emptying::OlderThan30Days:
            ++stats().operations["empty the Trash of old items (vaultry-cli)"];
            args.insert(args.end(), {"--older-than", "30"});
            break;
        case Emptying::KeepUnder:
            ++stats().operations["empty the Trash down to a size (vaultry-cli)"];
            args.insert(args.end(), {"--keep-under", std::to_string(seed % 60000)});
            break;
    }
    const Cli r = runCli(args, "", std::nullopt);
    if (r.code != 0) problems_.push_back("trash empty exited " + std::to_string(r.code));
    settle(choices, {}, false, "empty the Trash");
}

void World::erase(int id, bool throughLink) {
    const Item before = items_.at(id);
    if (before.state == Item::Hidden) return;
    ++stats().operations[throughLink ? "erase through a link (vaultry-cli)" : "erase (vaultry-cli)"];
    fs::path path = before.place;
    // "Desktop/work link" leads to "My Work": a path through it is refused, whatever it names.
    const bool viaLink = throughLink && before.place.parent_path() == home() / "My Work";
    if (viaLink) path = home() / "Desktop/work link" / before.place.filename();
    Item done = before;
    if (!viaLink && before.state == Item::Plain) {
        done.state = Item::Gone;
        done.plain.clear();
    } else if (!viaLink && before.state == Item::Unlocked && !before.folder && !before.copy.empty()) {
        done.copy.clear();  // the decrypted copy, in the item's place
        done.edited = true;
    }
    const Cli r = runCli({"erase", "--yes", path.string()}, "", std::nullopt);
    const bool erased = !(done == before);
    if ((r.code == 0) != erased)
        problems_.push_back("erase " + path.string() + " exited " + std::to_string(r.code) + ": " + r.err);
    settle({{id, {done}}}, {}, false, "erase");
}

void World::list() {
    ++stats().operations["list (vaultry-cli)"];
    const Cli r = runCli({"vault", "list"}, "", std::nullopt);
    std::set<std::string> want, got;
    for (const auto& [id, it] : items_)
        if (it.encrypted())
            want.insert(std::string(it.folder ? "folder" : "file") + '\t' +
                        (it.state == Item::Locked ? "locked" : "unlocked") + '\t' + it.record());
        else if (it.state == Item::Hidden)
            want.insert("hidden\thidden\t" + it.place.string());
    std::istringstream lines(r.out);
    for (std::string l; std::getline(lines, l);) got.insert(l);
    if (r.code != 0 || want != got) {
        std::string msg =
            "vault list exited " + std::to_string(r.code) + " and printed:\n" + r.out + "expected:\n";
        for (const auto& l : want) msg += l + "\n";
        problems_.push_back(msg);
    }
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

std::optional<Tree> World::opensslArchive(const fs::path& archive, bool folder, std::string& why) {
    ++stats().opensslChecks;
    const fs::path work = scratch_ / "openssl";
    std::error_code ec;
    fs::remove_all(work, ec);
    fs::create_directories(work);
    fs::permissions(work, fs::perms::owner_all);
    const fs::path passFile = work / "pass", out = work / "out", unpacked = work / "tree";
    {
        const int fd = ::open(passFile.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        const std::string line = pass_ + "\n";
        if (fd < 0 || ::write(fd, line.data(), line.size()) != ssize_t(line.size()))
            return why = "pass file", std::nullopt;
        ::close(fd);
    }
    const int rc = test::runProgram({"openssl", "enc", "-d", folder ? "-aes256" : "-aes-128-cbc", "-pbkdf2",
                                     "-iter", "600000", "-md", "sha256", "-in", archive.string(), "-out",
                                     out.string(), "-pass", "file:" + passFile.string()});
    fs::remove(passFile, ec);
    if (rc != 0) return why = "openssl enc -d exited " + std::to_string(rc), std::nullopt;
    if (!folder) return Tree{{"", "f:" + test::readFile(out)}};
    fs::create_directories(unpacked);
    if (test::runProgram({"tar", "xzf", out.string(), "-C", unpacked.string()}) != 0)
        return why = "tar xz failed", std::nullopt;
    std::vector<fs::path> top;
    for (const auto& e : fs::directory_iterator(unpacked)) top.push_back(e.path());
    if (top.size() != 1)
        return why = "the tar holds " + std::to_string(top.size()) + " top-level entries", std::nullopt;
    Tree t = readTree(top[0]);
    fs::permissions(unpacked, fs::perms::owner_all, fs::perm_options::add, ec);
    for (auto it = fs::recursive_directory_iterator(unpacked, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    return t;
}

std::optional<Tree> World::openArchive(const Item& it, std::string& why) {
    const fs::path archive = vault::archivePath(storage().string(), it.record());
    std::error_code ec;
    if (!fs::is_regular_file(fs::symlink_status(archive, ec)))
        return why = "no archive " + archive.string(), std::nullopt;
    const std::string key = pass_ + '\0' + test::readFile(archive);
    auto hit = opened_.find(key);
    if (hit == opened_.end()) {
        ++stats().archivesOpened;
        const fs::path work = scratch_ / "reader";
        fs::remove_all(work, ec);
        fs::create_directories(work);
        Tree t;
        if (it.folder) {
            // Vaultry writes only the new derivation; naming it keeps the one-in-128 archive that
            // would also pass the old ones' padding check from being called ambiguous.
            const vault::Opening how{vault::kNewDerivation, {}, {}};
            auto names = vault::unpackFolder(archive, work, pass_, how);
            if (!names) return why = "Vaultry's reader: " + names.error().message, std::nullopt;
            if (names->size() != 1)
                return why = "the archive holds " + std::to_string(names->size()) + " items", std::nullopt;
            t = readTree(work / names->front());
        } else {
            auto opened = vault::decryptFile(archive, work / "file", pass_, {vault::kNewDerivation, {}, {}});
            if (!opened) return why = "Vaultry's reader: " + opened.error().message, std::nullopt;
            t = readTree(work / "file");
        }
        hit = opened_.emplace(key, t).first;
    }
    auto other = opensslOpened_.find(key);
    if (other == opensslOpened_.end()) {
        auto t = opensslArchive(archive, it.folder, why);
        if (!t) return std::nullopt;
        other = opensslOpened_.emplace(key, *t).first;
    }
    if (other->second != hit->second) return why = "openssl and Vaultry's reader disagree", std::nullopt;
    return hit->second;
}

Strings World::checkItem(const Item& it) {
    Strings out;
    SettingsStore s(paths_.settingsFile());
    const Strings all = s.stringArray(key::VaultryDataArray).value_or(Strings{});
    const Strings decrypted = s.stringArray(key::VaultryDecryptedDataArray).value_or(Strings{});
    const std::string record = it.record();
    const bool listed = contains(all, record), unlocked = contains(decrypted, record);
    const Tree atPlace = readTree(it.place);
    const fs::path copyPath = vault::plaintextCopyPath(storage().string(), record);
    switch (it.state) {
        case Item::Plain:
        case Item::Hidden:
            if (atPlace != it.plain)
                out.push_back(it.place.string() + " holds" + describe(atPlace) + ", not" +
                              describe(it.plain) + ": " + firstDiff(it.plain, atPlace));
            if (listed) out.push_back(record + " is still in the vault list");
            if (contains(all, it.place.string()) != (it.state == Item::Hidden))
                out.push_back(it.place.string() + (it.state == Item::Hidden ? " is not" : " is") +
                              " in the vault list as hidden");
            if (hiddenInFolder(it.place) != (it.state == Item::Hidden))
                out.push_back(it.place.filename().string() + (it.state == Item::Hidden ? " is not" : " is") +
                              " named in " + (it.place.parent_path() / ".hidden").string());
            break;
        case Item::Trashed:
        case Item::Gone: {
            if (!atPlace.empty()) out.push_back("something is at " + it.place.string());
            if (listed || contains(all, it.place.string())) out.push_back(record + " is in the vault list");
            const Tree inTrash = it.state == Item::Trashed ? readTree(trashFiles() / it.trashName) : Tree{};
            if (it.state == Item::Trashed && inTrash != it.plain)
                out.push_back("the Trash holds" + describe(inTrash) + " as " + it.trashName + ", not" +
                              describe(it.plain) + ": " + firstDiff(it.plain, inTrash));
            break;
        }
        case Item::Locked:
        case Item::Unlocked: {
            if (!listed) out.push_back(record + " is not in the vault list");
            if (unlocked != (it.state == Item::Unlocked))
                out.push_back(record + (unlocked ? " is" : " is not") + " in the decrypted list");
            std::string why;
            const auto archived = openArchive(it, why);
            if (!archived)
                out.push_back("its archive does not open: " + why);
            else if (*archived != it.archive)
                out.push_back("its archive holds" + describe(*archived) + ", not" + describe(it.archive) +
                              ": " + firstDiff(it.archive, *archived));
            if (it.state == Item::Locked) {
                if (!atPlace.empty()) out.push_back("plaintext of a locked item at " + it.place.string());
                if (it.folder && !readTree(copyPath).empty())
                    out.push_back("plaintext of a locked folder at " + copyPath.string());
            } else {
                const Tree copy = readTree(copyPath);
                if (copy != it.copy)
                    out.push_back("the decrypted copy " + copyPath.string() + " holds" + describe(copy) +
                                  ", not" + describe(it.copy) + ": " + firstDiff(it.copy, copy));
                if (it.folder && !atPlace.empty())
                    out.push_back("something at the folder's place " + it.place.string());
            }
            break;
        }
    }
    return out;
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

Strings World::check() {
    ++stats().checks;
    Strings out = takeProblems();
    for (const auto& [id, it] : items_)
        for (const auto& d : checkItem(it))
            out.push_back("#" + std::to_string(id) + " " + stateName(it.state) + " " + it.place.string() +
                          ": " + d);
    // The lists hold exactly the vault's items, each once.
    SettingsStore s(paths_.settingsFile());
    Strings all = s.stringArray(key::VaultryDataArray).value_or(Strings{});
    Strings decrypted = s.stringArray(key::VaultryDecryptedDataArray).value_or(Strings{});
    std::set<std::string> wantAll, wantDecrypted;
    for (const auto& [id, it] : items_) {
        if (it.encrypted()) wantAll.insert(it.record());
        if (it.state == Item::Hidden) wantAll.insert(it.place.string());
        if (it.state == Item::Unlocked) wantDecrypted.insert(it.record());
    }
    for (const auto& r : all)
        if (!wantAll.count(r) || std::count(all.begin(), all.end(), r) > 1)
            out.push_back("the vault list holds " + r + " unexpectedly or twice");
    for (const auto& r : decrypted)
        if (!wantDecrypted.count(r) || std::count(decrypted.begin(), decrypted.end(), r) > 1)
            out.push_back("the decrypted list holds " + r + " unexpectedly or twice");
    // Bystanders are as they were.
    for (const auto& [rel, tree] : bystanders_) {
        const Tree now = readTree(home() / rel);
        struct stat st {};
        ::lstat((home() / rel).c_str(), &st);
        if (now != tree)
            out.push_back("bystander " + rel + " changed: " + (now.empty() ? "gone" : firstDiff(tree, now)));
        else if (bystanderMeta_[rel] !=
                 std::pair<unsigned, std::int64_t>{unsigned(st.st_mode), mtimeOf(home() / rel)})
            out.push_back("bystander " + rel + " changed its mode or time");
    }
    // Nothing else appeared: no leftovers, and no plaintext of a locked item anywhere.
    std::set<fs::path> known;
    std::vector<std::string> lockedMarkers;
    for (const auto& [id, it] : items_) {
        known.insert(it.place);
        known.insert(vault::plaintextCopyPath(storage().string(), it.record()));
        if (it.encrypted()) known.insert(vault::archivePath(storage().string(), it.record()));
        if (it.state == Item::Locked) lockedMarkers.push_back(marker(id));
    }
    const fs::path store = storage();
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(home(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path p = it->path();
        const std::string rel = p.lexically_relative(home()).string();
        bool inOld = false;
        for (const auto& o : oldStorages_) inOld = inOld || p.string().starts_with(o.string() + "/");
        if (it->is_regular_file(ec) && !it->is_symlink(ec) && !inOld) {
            const std::string bytes = test::readFile(p);
            for (const auto& m : lockedMarkers)
                if (bytes.find(m) != std::string::npos)
                    out.push_back("plaintext of locked item " + m + " in " + rel);
        }
        if (bystanders_.count(rel) || known.count(p)) {
            if (!known.count(p) || it->is_symlink(ec)) it.disable_recursion_pending();
            continue;
        }
        const std::string name = p.filename().string();
        bool userFolder = false;
        for (const auto& f : kFolders) userFolder = userFolder || f == rel || f.starts_with(rel + "/");
        // The settings, the Trash folder the application makes, and in the storage folder the
        // manifest, the lock, the folder's identity, the journal of temporaries, the thumbnails
        // folder of earlier versions and the folder's icon metadata.
        const bool ours =
            userFolder || rel == ".config" || rel.starts_with(".config/") || rel == ".local" ||
            rel.starts_with(".local/") || rel == "Drive" || p == store.parent_path() ||
            (rel.starts_with("Drive") && p.parent_path() == home()) || p == store ||
            p == store / ".directory" || p.parent_path() == store / "libdata" || p == store / "libdata" ||
            (p.parent_path() == store &&
             (name == ".vaultry-integrity" || name == ".vaultry-lock" || name == ".vaultry-copies" ||
              name == ".vaultry-id" || name == ".vaultry-temporaries" || name == ".vaultry-discarded")) ||
            (name == ".hidden" && std::count(kFolders.begin(), kFolders.end(),
                                             p.parent_path().lexically_relative(home()).string())) ||
            p.parent_path() == store / ".vaultry-temporaries";
        bool insideKnown = false;
        for (const auto& old : oldStorages_)
            insideKnown = insideKnown || p == old.parent_path() || p == old ||
                          p.string().starts_with(old.string() + "/");
        for (auto q = p.parent_path(); q != home() && q.has_parent_path() && q != q.parent_path();
             q = q.parent_path())
            insideKnown =
                insideKnown || known.count(q) || bystanders_.count(q.lexically_relative(home()).string());
        if (!ours && !insideKnown) out.push_back("left behind: " + rel);
    }
    return out;
}

Strings World::takeProblems() {
    Strings out;
    out.swap(problems_);
    return out;
}

}  // namespace vaultry::soak
