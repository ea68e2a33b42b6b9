#pragma once
// The faults a soak operation runs under, each held in force from the Held's making until it is
// destroyed: the storage drive away, a read-only settings folder, the storage lock held by
// another process, a disk that fills, and other vaultry-cli runs alongside.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "soak/SoakWorld.h"
#include "soak/SoakWorldDetail.h"
#include "support/CliRun.h"
#include "util/TestPause.h"

extern char** environ;

namespace vaultry::soak {

using namespace std::chrono_literals;

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
                    fs::rename(drive, w.scratch_ / ("stand-in-" + std::to_string(detail::mtimeOf(away))), ec);
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

}  // namespace vaultry::soak
