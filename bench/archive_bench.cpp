// Vault archives against the command-line pipeline they are compatible with:
//   file:    encryptFile             vs  openssl enc -aes-128-cbc
//   folder:  packFolder              vs  tar -czf - | openssl enc -aes256 -pbkdf2 -iter 600000 -md sha256
//   open:    unpackFolder            vs  openssl enc -d -aes256 -pbkdf2 … | tar xz
// Usage: archive_bench [MiB] [rounds] [rows]   (defaults 1024, 3 and file,folder,open; the data is
// half compressible text, half random). With rows such as "open", only those are timed; the
// folder archives the open row needs are then packed once, untimed.
// Each round runs the peer and ours one after the other, so that a busy machine slows both
// alike; the table gives the medians. The rounds run twice: on every core the process may use,
// then on core 0 alone (as under `taskset -c 0`), which shows the gain that is not parallelism.
// Each of our runs happens in a child process so that its peak resident memory can be read.
// Ours flush their output to disk before they end (fsync, or syncfs for an unpacked folder); the
// peers do not.
#include <fcntl.h>
#include <openssl/evp.h>
#include <sched.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "vault/Archive.h"

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

struct Stage {
    std::vector<std::string> argv;
    std::string in, out;  // files for stdin and stdout; empty: inherited
};

// Runs a pipeline of programs joined by pipes, each with an argument vector.
double pipeline(const std::vector<Stage>& stages) {
    ::sync();  // every run starts with nothing waiting to be written back
    const auto t0 = Clock::now();
    std::vector<pid_t> pids;
    int prevRead = -1;
    for (std::size_t i = 0; i < stages.size(); ++i) {
        int fds[2] = {-1, -1};
        const bool last = i + 1 == stages.size();
        if (!last && pipe(fds) != 0) std::abort();
        posix_spawn_file_actions_t fa;
        posix_spawn_file_actions_init(&fa);
        if (prevRead >= 0) posix_spawn_file_actions_adddup2(&fa, prevRead, 0);
        if (!stages[i].in.empty())
            posix_spawn_file_actions_addopen(&fa, 0, stages[i].in.c_str(), O_RDONLY, 0);
        if (!last) posix_spawn_file_actions_adddup2(&fa, fds[1], 1);
        if (!stages[i].out.empty())
            posix_spawn_file_actions_addopen(&fa, 1, stages[i].out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                             0600);
        posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
        std::vector<char*> argv;
        for (const auto& a : stages[i].argv) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        pid_t pid = 0;
        if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), environ) != 0) std::abort();
        posix_spawn_file_actions_destroy(&fa);
        pids.push_back(pid);
        if (prevRead >= 0) close(prevRead);
        if (!last) close(fds[1]);
        prevRead = fds[0];
    }
    for (pid_t p : pids) waitpid(p, nullptr, 0);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Runs one of our operations in a fresh process (this program with --run), so that its peak
// resident memory is its own; its seconds and that peak in MiB. The pass phrase travels in a
// file, never on the command line.
std::pair<double, double> ours(const std::vector<std::string>& args) {
    ::sync();
    std::vector<std::string> all{"/proc/self/exe", "--run"};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (const auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const auto t0 = Clock::now();
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) std::abort();
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        std::fprintf(stderr, "our run failed: %s\n", args[0].c_str());
    return {std::chrono::duration<double>(Clock::now() - t0).count(), ru.ru_maxrss / 1024.0};
}

// --run OP PASSFILE IN OUT: one of our operations, in the process ours() starts.
int runOne(int argc, char** argv) {
    if (argc < 6) return 2;
    std::string pw;
    std::getline(std::ifstream(argv[3]), pw);
    const std::string op = argv[2];
    const fs::path in = argv[4], out = argv[5];
    if (op == "file") return vaultry::vault::encryptFile(in, out, pw) ? 0 : 1;
    if (op == "pack") return vaultry::vault::packFolder(in, out, pw) ? 0 : 1;
    if (op == "open") return vaultry::vault::unpackFolder(in, out, pw) ? 0 : 1;
    return 2;
}

void makeData(const fs::path& dir, std::size_t mib) {
    fs::create_directories(dir);
    std::mt19937_64 gen(1);
    const std::string words[] = {"vault ", "archive ", "tidy ", "cookie ", "trash ", "record ", "folder\n"};
    const std::size_t fileBytes = 8 << 20;
    for (std::size_t done = 0, i = 0; done < (mib << 20); done += fileBytes, ++i) {
        std::ofstream out(dir / ("part" + std::to_string(i) + (i % 2 ? ".bin" : ".txt")), std::ios::binary);
        std::string buf;
        buf.reserve(fileBytes);
        if (i % 2) {
            for (std::size_t k = 0; k < fileBytes; k += 8) {
                const std::uint64_t v = gen();
                buf.append(reinterpret_cast<const char*>(&v), 8);
            }
        } else {
            while (buf.size() < fileBytes) buf += words[gen() % 7];
            buf.resize(fileBytes);
        }
        out << buf;
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

// The seconds one 600000-round PBKDF2-SHA256 derivation takes, as the peer does it per run.
double derivationSeconds() {
    unsigned char out[48];
    const auto t0 = Clock::now();
    PKCS5_PBKDF2_HMAC("bench pass", 10, reinterpret_cast<const unsigned char*>("saltsalt"), 8, 600000,
                      EVP_sha256(), sizeof out, out);
    return std::chrono::duration<double>(Clock::now() - t0).count();
}

// The machine's load averages (1, 5, 15 minutes), to say how busy it was while the rounds ran.
std::string loadAverages() {
    std::string one, five, fifteen;
    std::ifstream("/proc/loadavg") >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

unsigned usableCores() {
    cpu_set_t set;
    CPU_ZERO(&set);
    sched_getaffinity(0, sizeof set, &set);
    return static_cast<unsigned>(CPU_COUNT(&set));
}

struct Figures {
    std::map<std::string, std::vector<double>> peer, ours, mem;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--run") return runOne(argc, argv);
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    const int rounds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    const std::string rows = argc > 3 ? argv[3] : "file,folder,open";
    auto wanted = [&rows](const std::string& row) { return rows.find(row) != std::string::npos; };
    std::string tmpl = (fs::temp_directory_path() / "vaultry-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    const fs::path dir = tmpl;
    const fs::path data = dir / "Data";
    makeData(data, mib);
    // The text half alone, as links to the same files, for the compressed sizes.
    fs::create_directories(dir / "Text");
    for (const auto& e : fs::directory_iterator(data))
        if (e.path().extension() == ".txt")
            fs::create_hard_link(e.path(), dir / "Text" / e.path().filename());
    { std::ofstream(dir / "pass") << "bench pass\n"; }
    const std::string pass = "file:" + (dir / "pass").string();
    const std::string passFile = (dir / "pass").string();
    const std::vector<std::string> kdf = {"-pbkdf2", "-iter", "600000", "-md", "sha256"};
    auto openssl = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "openssl");
        args.insert(args.end(), kdf.begin(), kdf.end());
        args.insert(args.end(), {"-pass", pass});
        return args;
    };

    // One file of the whole size: the text and random parts one after another.
    if (wanted("file")) {
        std::ofstream all(dir / "one", std::ios::binary);
        for (const auto& e : fs::directory_iterator(data))
            all << std::ifstream(e.path(), std::ios::binary).rdbuf();
    }

    auto runRound = [&](Figures& f) {
        std::error_code ec;
        for (const char* n : {"peer.enc", "our.enc", "peer-out", "our-out"}) fs::remove_all(dir / n, ec);
        if (wanted("file")) {
            f.peer["file"].push_back(pipeline({{openssl({"enc", "-aes-128-cbc", "-in", (dir / "one").string(),
                                                         "-out", (dir / "peer.enc").string()}),
                                                "", ""}}));
            auto [t, m] = ours({"file", passFile, (dir / "one").string(), (dir / "our.enc").string()});
            f.ours["file"].push_back(t);
            f.mem["file"].push_back(m);
        }

        if (wanted("folder") || !fs::exists(dir / "our.tar.gz")) {
            for (const char* n : {"peer.tar.gz", "our.tar.gz"}) fs::remove_all(dir / n, ec);
            const double p =
                pipeline({{{"tar", "-czf", "-", "-C", dir.string(), "Data"}, "", ""},
                          {openssl({"enc", "-e", "-aes256"}), "", (dir / "peer.tar.gz").string()}});
            auto [t, m] = ours({"pack", passFile, data.string(), (dir / "our.tar.gz").string()});
            if (wanted("folder")) {
                f.peer["folder"].push_back(p);
                f.ours["folder"].push_back(t);
                f.mem["folder"].push_back(m);
            }
        }

        if (wanted("open")) {
            fs::create_directories(dir / "peer-out");
            fs::create_directories(dir / "our-out");
            f.peer["open"].push_back(
                pipeline({{openssl({"enc", "-d", "-aes256", "-in", (dir / "peer.tar.gz").string()}), "", ""},
                          {{"tar", "xzf", "-", "-C", (dir / "peer-out").string()}, "", ""}}));
            auto [t, m] = ours({"open", passFile, (dir / "our.tar.gz").string(), (dir / "our-out").string()});
            f.ours["open"].push_back(t);
            f.mem["open"].push_back(m);
        }
    };

    const double kdfSeconds = derivationSeconds();
    auto report = [&](const char* title, const Figures& f, unsigned cores) {
        std::printf("\n%s: %u core(s), %d round(s), medians\n", title, cores, rounds);
        std::printf("%-8s %9s %9s %8s %12s %14s\n", "", "peer s", "ours s", "ratio", "our peak MiB",
                    "ratio +1 KDF");
        for (const char* row : {"file", "folder", "open"}) {
            if (!f.peer.count(row)) continue;
            const double p = median(f.peer.at(row)), o = median(f.ours.at(row));
            const double peak = *std::max_element(f.mem.at(row).begin(), f.mem.at(row).end());
            std::printf("%-8s %9.2f %9.2f %7.2fx %12.1f %13.2fx\n", row, p, o, p / o, peak,
                        p / (o + kdfSeconds));
        }
    };

    Figures all, one;
    const unsigned allCores = usableCores();
    const std::string loadBefore = loadAverages();
    for (int r = 0; r < rounds; ++r) runRound(all);
    const auto sizes = std::make_pair(fs::file_size(dir / "peer.tar.gz"), fs::file_size(dir / "our.tar.gz"));
    cpu_set_t saved, core0;
    sched_getaffinity(0, sizeof saved, &saved);
    CPU_ZERO(&core0);
    CPU_SET(0, &core0);
    const bool pinned = sched_setaffinity(0, sizeof core0, &core0) == 0;
    if (pinned) {
        for (int r = 0; r < rounds; ++r) runRound(one);
        sched_setaffinity(0, sizeof saved, &saved);
    }

    // The text half: gzip -6 against ours (our archive less its 16-byte header and padding).
    pipeline({{{"tar", "-cf", "-", "-C", dir.string(), "Text"}, "", ""},
              {{"gzip", "-6"}, "", (dir / "text.tgz").string()}});
    std::error_code ec;
    fs::remove(dir / "text.tar.gz", ec);
    ours({"pack", passFile, (dir / "Text").string(), (dir / "text.tar.gz").string()});
    const double gzipText = static_cast<double>(fs::file_size(dir / "text.tgz"));
    const double ourText = static_cast<double>(fs::file_size(dir / "text.tar.gz")) - 24;

    std::printf("data: %zu MiB (half text, half random); %u cores on this machine\n", mib,
                std::thread::hardware_concurrency());
    std::printf("load average before the rounds: %s; after: %s\n", loadBefore.c_str(),
                loadAverages().c_str());
    std::printf(
        "peer key derivation (PBKDF2-SHA256, 600000 rounds): %.2f s, in every peer run;\n"
        "\"ratio +1 KDF\" charges ours one such derivation too\n",
        kdfSeconds);
    report("all cores", all, allCores);
    if (pinned) report("core 0 only (taskset -c 0)", one, 1);
    std::printf("\nsizes: peer %.1f MiB, ours %.1f MiB\n", sizes.first / 1048576.0, sizes.second / 1048576.0);
    std::printf("text half: gzip -6 %.2f MiB, ours %.2f MiB (%+.2f %%)\n", gzipText / 1048576.0,
                ourText / 1048576.0, 100.0 * (ourText - gzipText) / gzipText);
    fs::remove_all(dir, ec);
    return 0;
}
