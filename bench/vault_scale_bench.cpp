// Work on many vault items, `vaultry-cli` against the same work done with `openssl enc`, one
// process after another as a shell loop would run them, in the same run:
//   encrypt N small files        vs  openssl enc -aes-128-cbc -pbkdf2 -iter 600000 -md sha256, per file
//   vault verify of N archives   vs  openssl enc -d … -out /dev/null, per archive
//   password change, N archives  vs  openssl enc -d … | openssl enc … (new pass phrase), per archive
// for N = 10, 100 and 1,000 (or the counts given as arguments), with the load average each ran
// under. The pass phrase reaches every program on its standard input, never its command line.
//
// And for a 1 GiB folder: locking its unchanged decrypted copy against opening its archive, and
// opening it against `openssl enc -d | tar xz`.
//
// Run: vault_scale_bench [N...] [gib]   (no arguments: 10 100 1000 gib; vaultry-cli is looked up
// beside this program, then on PATH)
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

const char* const kPass = "bench pass phrase";
const char* const kNewPass = "bench pass phrase 2";
const std::vector<std::string> kKdf = {"-pbkdf2", "-iter", "600000", "-md", "sha256"};

std::string loadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one;
    in >> one;
    return one;
}

// Starts `args` with `in` (or /dev/null) as standard input and `out` (or /dev/null) as output.
pid_t start(const std::vector<std::string>& args, int in, int out, const std::vector<std::string>& env) {
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    if (in >= 0)
        posix_spawn_file_actions_adddup2(&fa, in, 0);
    else
        posix_spawn_file_actions_addopen(&fa, 0, "/dev/null", O_RDONLY, 0);
    if (out >= 0)
        posix_spawn_file_actions_adddup2(&fa, out, 1);
    else
        posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv, envp;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    // The variables given take the place of the inherited ones of the same name.
    for (char** e = environ; *e; ++e) {
        const std::string_view have(*e);
        bool replaced = false;
        for (const auto& mine : env)
            replaced |= have.substr(0, have.find('=') + 1) == mine.substr(0, mine.find('=') + 1);
        if (!replaced) envp.push_back(*e);
    }
    for (const auto& e : env) envp.push_back(const_cast<char*>(e.c_str()));
    envp.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&fa);
    return pid;
}

bool waitOk(pid_t pid) {
    int status = 0;
    return pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A pipe already holding `text`, to read from.
int feeding(const std::string& text) {
    int p[2];
    if (::pipe(p) != 0) return -1;
    if (::write(p[1], text.data(), text.size()) != static_cast<ssize_t>(text.size())) return -1;
    ::close(p[1]);
    return p[0];
}

bool run(const std::vector<std::string>& args, const std::string& input,
         const std::vector<std::string>& env = {}) {
    const int in = feeding(input);
    const pid_t pid = start(args, in, -1, env);
    ::close(in);
    return waitOk(pid);
}

std::vector<std::string> openssl(bool decrypt, const std::string& in, const std::string& out) {
    std::vector<std::string> a = {"openssl", "enc", "-aes-128-cbc"};
    if (decrypt) a.push_back("-d");
    a.insert(a.end(), kKdf.begin(), kKdf.end());
    a.insert(a.end(), {"-pass", "stdin", "-in", in, "-out", out});
    return a;
}

// openssl enc -d … | openssl enc …: the first reads its pass phrase from a pipe, the second from
// a file descriptor of its own.
bool reencryptPipe(const std::string& in, const std::string& out) {
    int data[2];
    if (::pipe(data) != 0) return false;
    std::vector<std::string> dec = openssl(true, in, "/dev/stdout");
    const int oldPass = feeding(std::string(kPass) + "\n");
    const pid_t a = start(dec, oldPass, data[1], {});
    ::close(oldPass);
    ::close(data[1]);
    const int newPass = feeding(std::string(kNewPass) + "\n");
    std::vector<std::string> enc = {"openssl", "enc", "-aes-128-cbc"};
    enc.insert(enc.end(), kKdf.begin(), kKdf.end());
    // The data comes on standard input, so the pass phrase comes on descriptor 3.
    enc.insert(enc.end(), {"-pass", "fd:3", "-out", out});
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, data[0], 0);
    posix_spawn_file_actions_adddup2(&fa, newPass, 3);
    std::vector<char*> argv;
    for (const auto& s : enc) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    pid_t b = -1;
    if (posix_spawnp(&b, argv[0], &fa, nullptr, argv.data(), environ) != 0) b = -1;
    posix_spawn_file_actions_destroy(&fa);
    ::close(data[0]);
    ::close(newPass);
    return waitOk(a) & waitOk(b);
}

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

struct Row {
    std::string work;
    double ours = 0, peer = 0;
    std::string load;
    bool ok = true;
};

void print(std::size_t n, const Row& r, double goal) {
    std::printf("| %zu | %s | %.1f s | %.1f s | %.2f× | ≤ %.2f× | %s |%s\n", n, r.work.c_str(), r.ours,
                r.peer, r.ours / r.peer, goal, r.load.c_str(), r.ok ? "" : " (a run failed)");
    std::fflush(stdout);
}

std::string cliPath(const char* self) {
    const fs::path beside = fs::path(self).parent_path() / "vaultry-cli";
    if (fs::exists(beside)) return beside.string();
    const fs::path up = fs::path(self).parent_path().parent_path() / "vaultry-cli";
    if (fs::exists(up)) return up.string();
    return "vaultry-cli";
}

void measure(std::size_t n, const std::string& cli) {
    std::string templ = (fs::temp_directory_path() / "vaultry-scale-XXXXXX").string();
    if (!::mkdtemp(templ.data())) return;
    const fs::path dir = templ, home = dir / "home", items = dir / "items", peer = dir / "peer";
    fs::create_directories(home / "safe");
    fs::create_directories(items);
    fs::create_directories(peer);
    std::vector<std::string> files;
    for (std::size_t i = 0; i < n; ++i) {
        const std::string name = "note" + std::to_string(i) + ".txt";
        std::ofstream(items / name) << "a small note, number " << i << "\n";
        std::ofstream(peer / name) << "a small note, number " << i << "\n";
        files.push_back((items / name).string());
    }
    // The CLI's own home: its settings and storage folder, nothing of the user's.
    const std::vector<std::string> env = {
        "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
        "XDG_DATA_HOME=" + (home / ".local/share").string(), "XDG_CACHE_HOME=" + (home / ".cache").string()};
    const std::string pw = std::string(kPass) + "\n";
    bool ready = run({cli, "vault", "storage", "set", (home / "safe").string()}, "", env) &&
                 run({cli, "vault", "password", "set", "--yes", "--password-stdin"}, pw, env);
    if (!ready) {
        std::fprintf(stderr, "vaultry-cli could not set up its vault in %s\n", home.c_str());
        return;
    }

    Row enc{"encrypt N small files in one command", 0, 0, loadAverage()};
    auto t = Clock::now();
    std::vector<std::string> args = {cli, "vault", "encrypt", "--yes", "--password-stdin"};
    args.insert(args.end(), files.begin(), files.end());
    enc.ok = run(args, pw, env);
    enc.ours = seconds(t);
    t = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string f = (peer / ("note" + std::to_string(i) + ".txt")).string();
        enc.ok &= run(openssl(false, f, f + ".enc"), pw);
    }
    enc.peer = seconds(t);
    print(n, enc, 0.55);

    Row ver{"`vault verify` of those N archives", 0, 0, loadAverage()};
    t = Clock::now();
    ver.ok = run({cli, "vault", "verify", "--password-stdin"}, pw, env);
    ver.ours = seconds(t);
    t = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string f = (peer / ("note" + std::to_string(i) + ".txt.enc")).string();
        ver.ok &= run(openssl(true, f, "/dev/null"), pw);
    }
    ver.peer = seconds(t);
    print(n, ver, 0.55);

    Row change{"password change with N archives", 0, 0, loadAverage()};
    t = Clock::now();
    change.ok = run({cli, "vault", "password", "set", "--change", "--yes", "--password-stdin"},
                    pw + kNewPass + "\n", env);
    change.ours = seconds(t);
    t = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string f = (peer / ("note" + std::to_string(i) + ".txt.enc")).string();
        change.ok &= reencryptPipe(f, f + ".new");
    }
    change.peer = seconds(t);
    print(n, change, 0.5);

    std::error_code ec;
    fs::remove_all(dir, ec);
}

// A 1 GiB folder (64 files of 16 MiB that do not compress), encrypted; then, one after another:
// `vault lock` of its unchanged decrypted copy, `vault decrypt` of it with no copy left, and
// `openssl enc -d | tar xz` of the same archive (which flushes nothing to the disk).
void measureGiB(const std::string& cli) {
    std::string templ = (fs::temp_directory_path() / "vaultry-scale-XXXXXX").string();
    if (!::mkdtemp(templ.data())) return;
    const fs::path dir = templ, home = dir / "home", items = dir / "items", out = dir / "out";
    fs::create_directories(home / "safe");
    fs::create_directories(items / "Big");
    fs::create_directories(out);
    std::uint64_t x = 88172645463325252ull;
    std::vector<std::uint64_t> block(2 << 20);  // 16 MiB
    for (int f = 0; f < 64; ++f) {
        for (auto& w : block) {
            x ^= x << 13;
            x ^= x >> 7;
            x ^= x << 17;
            w = x;
        }
        std::ofstream(items / "Big" / ("part" + std::to_string(f)), std::ios::binary)
            .write(reinterpret_cast<const char*>(block.data()),
                   static_cast<std::streamsize>(block.size() * 8));
    }
    const std::vector<std::string> env = {
        "HOME=" + home.string(), "XDG_CONFIG_HOME=" + (home / ".config").string(),
        "XDG_DATA_HOME=" + (home / ".local/share").string(), "XDG_CACHE_HOME=" + (home / ".cache").string()};
    const std::string pw = std::string(kPass) + "\n";
    const std::string record = (items / "Big.tar.gz").string();
    const fs::path archive = home / "safe/vaultry.data/Big.tar.gz";
    bool ok =
        run({cli, "vault", "storage", "set", (home / "safe").string()}, "", env) &&
        run({cli, "vault", "password", "set", "--yes", "--password-stdin"}, pw, env) &&
        run({cli, "vault", "encrypt", "--yes", "--password-stdin", (items / "Big").string()}, pw, env) &&
        run({cli, "vault", "decrypt", "--password-stdin", record}, pw, env);
    Row lock{"lock an unchanged decrypted copy of a 1 GiB folder", 0, 0, loadAverage()};
    auto t = Clock::now();
    lock.ok = ok && run({cli, "vault", "lock", "--yes", "--password-stdin", record}, pw, env);
    lock.ours = seconds(t);
    Row open{"open a 1 GiB folder archive (`vault decrypt`, no copy left)", 0, 0, loadAverage()};
    t = Clock::now();
    open.ok = ok && run({cli, "vault", "decrypt", "--password-stdin", record}, pw, env);
    open.ours = seconds(t);
    lock.peer = open.ours;
    t = Clock::now();
    {
        int data[2];
        open.ok &= ::pipe(data) == 0;
        std::vector<std::string> dec = {"openssl", "enc", "-d", "-aes-256-cbc"};
        dec.insert(dec.end(), kKdf.begin(), kKdf.end());
        dec.insert(dec.end(), {"-pass", "stdin", "-in", archive.string()});
        const int passIn = feeding(pw);
        const pid_t a = start(dec, passIn, data[1], {});
        ::close(passIn);
        ::close(data[1]);
        const pid_t b = start({"tar", "xzf", "-", "-C", out.string()}, data[0], -1, {});
        ::close(data[0]);
        open.ok &= waitOk(a) & waitOk(b);
    }
    open.peer = seconds(t);
    std::printf("| 1 GiB | %s | %.1f s | opening it: %.1f s | %.2f× | ≤ 0.75× | %s |%s\n", lock.work.c_str(),
                lock.ours, lock.peer, lock.ours / lock.peer, lock.load.c_str(),
                lock.ok ? "" : " (a run failed)");
    std::printf(
        "| 1 GiB | %s | %.1f s | openssl enc -d \\| tar xz: %.1f s | %.2f× faster | ≥ 3× faster | %s |%s\n",
        open.work.c_str(), open.ours, open.peer, open.peer / open.ours, open.load.c_str(),
        open.ok ? "" : " (a run failed)");
    std::error_code ec;
    fs::remove_all(dir, ec);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::size_t> counts;
    bool gib = argc == 1;
    for (int i = 1; i < argc; ++i) {
        if (std::string_view(argv[i]) == "gib")
            gib = true;
        else
            counts.push_back(std::stoul(argv[i]));
    }
    if (argc == 1) counts = {10, 100, 1000};
    const std::string cli = cliPath(argv[0]);
    std::printf("%s, %ld cores; load average at the start %s\n\n", cli.c_str(),
                ::sysconf(_SC_NPROCESSORS_ONLN), loadAverage().c_str());
    std::printf(
        "| N | work | Vaultry | openssl loop | ratio | goal | load average "
        "|\n|---|---|---|---|---|---|---|\n");
    for (const auto n : counts) measure(n, cli);
    if (gib) measureGiB(cli);
    return 0;
}
