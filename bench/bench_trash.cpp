// Trash measurement through our spawn against du run directly, and secure erase of one large file
// with srm against shred. Sizes: VAULTRY_BENCH_FILES (default 100000 files), VAULTRY_BENCH_MIB
// (default 256 MiB). Report the ratios of the mean times.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/linux/LinuxSpawn.h"
#include "trash/SecureErase.h"
#include "trash/Trash.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace vaultry;

std::size_t envSize(const char* name, std::size_t fallback) {
    const char* v = std::getenv(name);
    return v && *v ? std::stoull(v) : fallback;
}

const fs::path& benchRoot() {
    static const fs::path root = [] {
        std::string templ = (fs::temp_directory_path() / "vaultry-bench-XXXXXX").string();
        if (!::mkdtemp(templ.data())) std::abort();
        return fs::path(templ);
    }();
    return root;
}

// A Trash of many small files in folders of 1000.
const fs::path& manyFiles() {
    static const fs::path trash = [] {
        const fs::path t = benchRoot() / "Trash/files";
        const std::size_t n = envSize("VAULTRY_BENCH_FILES", 100000);
        for (std::size_t i = 0; i < n; ++i) {
            const fs::path dir = t / std::to_string(i / 1000);
            if (i % 1000 == 0) fs::create_directories(dir);
            std::ofstream(dir / std::to_string(i)) << i;
        }
        return t.parent_path();
    }();
    return trash;
}

// Runs a program the plain way: no pipes, output discarded, wait for it.
int runDirect(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    if (::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) std::abort();
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
}

void BM_TrashSizeThroughSpawn(benchmark::State& state) {
    const auto& trash = manyFiles();
    platform::LinuxSpawn spawn;
    for (auto _ : state) benchmark::DoNotOptimize(trash::fastFolderSizeAtFilePath(spawn, trash));
}

void BM_TrashSizeDuDirect(benchmark::State& state) {
    const auto& trash = manyFiles();
    for (auto _ : state)
        benchmark::DoNotOptimize(runDirect({"/usr/bin/du", "-k", "-d", "0", trash.string()}));
}

fs::path bigFile() {
    const fs::path p = benchRoot() / "big.bin";
    const std::size_t mib = envSize("VAULTRY_BENCH_MIB", 256);
    std::vector<char> block(1 << 20, 'v');
    std::ofstream out(p, std::ios::binary);
    for (std::size_t i = 0; i < mib; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
    return p;
}

void eraseWith(benchmark::State& state, const trash::EraseTool& tool) {
    platform::LinuxSpawn spawn;
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path p = bigFile();
        ::sync();
        state.ResumeTiming();
        if (!trash::eraseItem(spawn, tool, p).ok()) state.SkipWithError("erase failed");
    }
}

void BM_EraseSrm(benchmark::State& state) { eraseWith(state, {"/usr/bin/srm", {}}); }
void BM_EraseShredThroughSpawn(benchmark::State& state) {
    eraseWith(state, {"/usr/bin/shred", {"-u", "-n", "3"}});
}
void BM_EraseShredDirect(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        const fs::path p = bigFile();
        ::sync();
        state.ResumeTiming();
        runDirect({"/usr/bin/shred", "-u", "-n", "3", "--", p.string()});
    }
}

BENCHMARK(BM_TrashSizeThroughSpawn)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_TrashSizeDuDirect)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2);
BENCHMARK(BM_EraseSrm)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK(BM_EraseShredThroughSpawn)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
BENCHMARK(BM_EraseShredDirect)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    std::error_code ec;
    fs::remove_all(benchRoot(), ec);
    return 0;
}
