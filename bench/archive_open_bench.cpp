// Opening one file archive, ours against `openssl enc -d -aes-128-cbc -pbkdf2 -iter N -md sha256`
// on the same archive, for a 1 KB and a 100 MB file; and the time to derive one key, with OpenSSL's
// PBKDF2 and with ours.
// Ours is the whole vault path: the manifest's key (PBKDF2), the archive key (PBKDF2), the
// decryption and the MAC over the archive, checked before the copy is put in place, flushed.
// Usage: archive_open_bench [runs]   (default 3; the best run of each is printed)
#include <fcntl.h>
#include <openssl/evp.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
#include "vault/ArchiveManifest.h"
#include "vault/KeyDerivation.h"
#include "vault/VaultItems.h"

extern char** environ;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

// Best of `runs`, each in a fresh child so that no derived key is kept between runs.
double best(int runs, const std::function<bool()>& fn) {
    double b = 1e9;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        const pid_t pid = fork();
        if (pid == 0) {
            vaultry::vault::ArchiveManifest::forgetKeys();
            _exit(fn() ? 0 : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) std::fprintf(stderr, "a run failed\n");
        b = std::min(b, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return b;
}

bool spawnWait(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return false;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string tmpl = (fs::temp_directory_path() / "vaultry-open-bench-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) return 1;
    const fs::path dir = tmpl, storage = dir / "vaultry.data";
    fs::create_directories(storage);
    { std::ofstream(dir / "pass") << "bench pass\n"; }
    const std::string pw = "bench pass", pass = "file:" + (dir / "pass").string();
    const std::string iter = std::to_string(vaultry::vault::kPbkdf2Iterations);

    // A folder archive's key and IV: 48 bytes, two PBKDF2 blocks.
    unsigned char salt[8] = {1, 2, 3, 4, 5, 6, 7, 8}, key[48];
    const double theirs = best(runs, [&] {
        return PKCS5_PBKDF2_HMAC(pw.data(), static_cast<int>(pw.size()), salt, 8,
                                 static_cast<int>(vaultry::vault::kPbkdf2Iterations), EVP_sha256(), 48,
                                 key) == 1;
    });
    const double ours = best(runs, [&] {
        return vaultry::vault::pbkdf2Sha256(pw, salt, 8, vaultry::vault::kPbkdf2Iterations, key, 48);
    });
    std::printf("one key and IV, PBKDF2-HMAC-SHA256 x %s: OpenSSL's %.3f s, ours %.3f s (%.2fx)\n",
                iter.c_str(), theirs, ours, theirs / ours);
    std::printf("%-8s %10s %10s %8s\n", "archive", "openssl s", "ours s", "ratio");

    std::mt19937_64 gen(7);
    for (const std::size_t size : {std::size_t{1024}, std::size_t{100} << 20}) {
        const std::string name = size == 1024 ? "small" : "large";
        {
            std::ofstream out(dir / name, std::ios::binary);
            std::string buf(size, '\0');
            for (auto& c : buf) c = static_cast<char>(gen());
            out << buf;
        }
        auto plan = vaultry::vault::planArchive((dir / name).string(), storage.string());
        if (!plan || !vaultry::vault::writeArchive(*plan, pw)) return 1;
        const fs::path archive = plan->archive;
        const double peer = best(runs, [&] {
            fs::remove(dir / "peer-out");
            return spawnWait({"openssl", "enc", "-d", "-aes-128-cbc", "-pbkdf2", "-iter", iter, "-md",
                              "sha256", "-pass", pass, "-in", archive.string(), "-out",
                              (dir / "peer-out").string()});
        });
        const double our = best(runs, [&] {
            std::error_code ec;
            fs::remove(dir / "our-out", ec);
            return bool(vaultry::vault::openArchiveInto(storage, archive, dir / "our-out", pw));
        });
        std::printf("%-8s %10.3f %10.3f %7.2fx\n", size == 1024 ? "1 KB" : "100 MB", peer, our, peer / our);
    }
    std::error_code ec;
    fs::remove_all(dir, ec);
    return 0;
}
