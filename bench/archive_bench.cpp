// Vault archives against the command-line pipeline they are compatible with:
//   file:    encryptFile             vs  openssl enc -aes-128-cbc -pbkdf2 -iter N -md sha256
//   folder:  packFolder              vs  tar -czf - | openssl enc -aes256 -pbkdf2 ...  (gzip level 6)
//   open:    unpackFolder            vs  openssl enc -d -aes256 -pbkdf2 ... | tar xz
// Usage: vaultry-bench-archive [MiB]   (default 1024: half compressible text, half random)
// Each of our runs happens in a child process so that its peak memory can be read. Ours flush
// their output to disk before they end (fsync); the peers do not.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <string>
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

// Runs fn in a child; its seconds and peak resident memory in MiB.
std::pair<double, double> ours(const std::function<bool()>& fn) {
    ::sync();
    const auto t0 = Clock::now();
    const pid_t pid = fork();
    if (pid == 0) _exit(fn() ? 0 : 1);
    int status = 0;
    struct rusage ru {};
    wait4(pid, &status, 0, &ru);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "our run failed\n");
    return {std::chrono::duration<double>(Clock::now() - t0).count(), ru.ru_maxrss / 1024.0};
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

}  // namespace

int main(int argc, char** argv) {
    const std::size_t mib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
    std::string tmpl = (fs::temp_directory_path() / "vaultry-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    const fs::path dir = tmpl;
    const fs::path data = dir / "Data";
    makeData(data, mib);
    { std::ofstream(dir / "pass") << "bench pass\n"; }
    const std::string pass = "file:" + (dir / "pass").string();
    const std::string pw = "bench pass";

    // One file of the whole size: the text and random parts one after another.
    {
        std::ofstream all(dir / "one", std::ios::binary);
        for (const auto& e : fs::directory_iterator(data))
            all << std::ifstream(e.path(), std::ios::binary).rdbuf();
    }
    const std::string iter = std::to_string(vaultry::vault::kPbkdf2Iterations);
    const double peerFile =
        pipeline({{{"openssl", "enc", "-aes-128-cbc", "-pbkdf2", "-iter", iter, "-md", "sha256", "-pass",
                    pass, "-in", (dir / "one").string(), "-out", (dir / "peer.enc").string()},
                   "",
                   ""}});
    const auto [ourFile, ourFileMem] =
        ours([&] { return bool(vaultry::vault::encryptFile(dir / "one", dir / "our.enc", pw)); });

    const double peerPack = pipeline(
        {{{"tar", "-czf", "-", "-C", dir.string(), "Data"}, "", ""},
         {{"openssl", "enc", "-e", "-aes256", "-pbkdf2", "-iter", iter, "-md", "sha256", "-pass", pass},
          "",
          (dir / "peer.tar.gz").string()}});
    const auto [ourPack, ourPackMem] =
        ours([&] { return bool(vaultry::vault::packFolder(data, dir / "our.tar.gz", pw)); });

    fs::create_directories(dir / "peer-out");
    fs::create_directories(dir / "our-out");
    const double peerOpen = pipeline({{{"openssl", "enc", "-d", "-aes256", "-pbkdf2", "-iter", iter, "-md",
                                        "sha256", "-pass", pass, "-in", (dir / "our.tar.gz").string()},
                                       "",
                                       ""},
                                      {{"tar", "xzf", "-", "-C", (dir / "peer-out").string()}, "", ""}});
    const auto [ourOpen, ourOpenMem] =
        ours([&] { return bool(vaultry::vault::unpackFolder(dir / "our.tar.gz", dir / "our-out", pw)); });

    std::printf("data: %zu MiB (half text, half random)\n", mib);
    std::printf("%-8s %10s %10s %8s %12s\n", "", "peer s", "ours s", "ratio", "our peak MiB");
    std::printf("%-8s %10.2f %10.2f %7.2fx %12.1f\n", "file", peerFile, ourFile, peerFile / ourFile,
                ourFileMem);
    std::printf("%-8s %10.2f %10.2f %7.2fx %12.1f\n", "folder", peerPack, ourPack, peerPack / ourPack,
                ourPackMem);
    std::printf("%-8s %10.2f %10.2f %7.2fx %12.1f\n", "open", peerOpen, ourOpen, peerOpen / ourOpen,
                ourOpenMem);
    std::printf("sizes: peer %.1f MiB, ours %.1f MiB\n", fs::file_size(dir / "peer.tar.gz") / 1048576.0,
                fs::file_size(dir / "our.tar.gz") / 1048576.0);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
