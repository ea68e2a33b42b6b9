// Emptying the Trash by age: 100,000 items (VAULTRY_BENCH_ITEMS), half deleted 60 days ago and
// half 5 days ago, emptied of the items older than 30 days by
//   - our engine in this process (trash::emptyOlderThan),
//   - vaultry-cli trash empty --older-than 30 --yes (when built beside this program),
//   - trash-cli's trash-empty 30,
// each on an identical fresh Trash, VAULTRY_BENCH_ROUNDS rounds (default 3) in turn; prints the
// median of each and the ratios, and checks that each left exactly the newer half. The Trash lies
// under TMPDIR: /dev/shm measures the programs, a disk adds the same deletions' I/O to each.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "trash/TrashItems.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace vaultry;
using Clock = std::chrono::steady_clock;

std::size_t envSize(const char* name, std::size_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::stoull(v) : fallback;
}

std::string stamp(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

// A fresh Trash under data/Trash with n items, every other one old.
void makeTrash(const fs::path& data, std::size_t n) {
    std::error_code ec;
    fs::remove_all(data, ec);
    const fs::path files = data / "Trash/files", info = data / "Trash/info";
    fs::create_directories(files);
    fs::create_directories(info);
    const auto now = std::chrono::system_clock::now();
    const std::string oldDate = stamp(now - std::chrono::hours(24 * 60));
    const std::string newDate = stamp(now - std::chrono::hours(24 * 5));
    for (std::size_t i = 0; i < n; ++i) {
        const std::string name = "item " + std::to_string(i) + ".txt";
        std::ofstream(files / name) << i;
        std::ofstream(info / (name + ".trashinfo"))
            << "[Trash Info]\nPath=/home/u/item%20" << i
            << ".txt\nDeletionDate=" << (i % 2 ? newDate : oldDate) << "\n";
    }
    ::sync();
}

std::size_t count(const fs::path& folder) {
    std::error_code ec;
    return static_cast<std::size_t>(
        std::distance(fs::directory_iterator(folder, ec), fs::directory_iterator()));
}

int run(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    std::vector<char*> argv, envp;
    auto a = args;
    auto e = env;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data()) != 0) return -1;
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main() {
    const std::size_t n = envSize("VAULTRY_BENCH_ITEMS", 100000);
    std::string templ = (fs::temp_directory_path() / "vaultry-age-bench-XXXXXX").string();
    if (!::mkdtemp(templ.data())) return 1;
    const fs::path root = templ;
    const fs::path data = root / "data";
    // An empty mount table for our CLI, so that only this Trash is looked at.
    std::ofstream(root / "mountinfo").close();
    const std::vector<std::string> env{"HOME=" + root.string(),
                                       "XDG_DATA_HOME=" + data.string(),
                                       "XDG_CONFIG_HOME=" + (root / "config").string(),
                                       "PATH=/usr/bin:/bin",
                                       "LANG=C.UTF-8",
                                       "VAULTRY_MOUNTINFO=" + (root / "mountinfo").string()};
    std::error_code ec;
    fs::path cli = fs::read_symlink("/proc/self/exe", ec).parent_path().parent_path() / "vaultry-cli";
    if (::access(cli.c_str(), X_OK) != 0) cli.clear();
    const bool haveTrashCli = ::access("/usr/bin/trash-empty", X_OK) == 0;

    std::vector<double> engine, ours, theirs;
    bool correct = true;
    const auto check = [&](const char* who) {
        const std::size_t left = count(data / "Trash/files"), leftInfo = count(data / "Trash/info");
        if (left != n / 2 || leftInfo != n / 2) {
            std::printf("%s left %zu files and %zu records, expected %zu\n", who, left, leftInfo, n / 2);
            correct = false;
        }
    };
    const std::size_t rounds = std::max<std::size_t>(1, envSize("VAULTRY_BENCH_ROUNDS", 3));
    for (std::size_t round = 0; round < rounds; ++round) {
        makeTrash(data, n);
        auto t0 = Clock::now();
        const auto r = trash::emptyOlderThan(data / "Trash",
                                             std::chrono::system_clock::now() - std::chrono::hours(24 * 30),
                                             trash::Unlock::No);
        engine.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
        if (r.removed != n / 2) correct = false;
        check("engine");

        if (!cli.empty()) {
            makeTrash(data, n);
            t0 = Clock::now();
            run({cli.string(), "trash", "empty", "--older-than", "30", "--yes"}, env);
            ours.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
            check("vaultry-cli");
        }
        if (haveTrashCli) {
            makeTrash(data, n);
            t0 = Clock::now();
            run({"/usr/bin/trash-empty", "30"}, env);
            theirs.push_back(std::chrono::duration<double>(Clock::now() - t0).count());
            check("trash-empty");
        }
    }
    std::printf("Emptying %zu Trash items by age (half older than 30 days) in %s, median of %zu:\n", n,
                root.parent_path().c_str(), rounds);
    std::printf("  trash::emptyOlderThan (in process)        %8.3f s\n", median(engine));
    if (!ours.empty()) std::printf("  vaultry-cli trash empty --older-than 30  %8.3f s\n", median(ours));
    if (!theirs.empty()) {
        std::printf("  trash-empty 30 (trash-cli)               %8.3f s\n", median(theirs));
        std::printf("  ratio trash-empty / engine: %.1fx\n", median(theirs) / median(engine));
        if (!ours.empty())
            std::printf("  ratio trash-empty / vaultry-cli: %.1fx\n", median(theirs) / median(ours));
    } else {
        std::printf("  trash-cli is not installed: no comparison\n");
    }
    std::printf("  results %s\n", correct ? "identical: the newer half left by each" : "DIFFER");
    fs::remove_all(root, ec);
    return correct ? 0 : 1;
}
