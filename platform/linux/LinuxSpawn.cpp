#include "platform/linux/LinuxSpawn.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "util/Fd.h"

extern char** environ;

namespace vaultry::platform {
namespace {

std::string errnoText(const std::string& what, int err) { return what + ": " + std::strerror(err); }

constexpr const char* kDefaultPath = "/usr/local/bin:/usr/bin:/bin";

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::optional<std::string> LinuxSpawn::resolveProgram(const std::string& name,
                                                      const std::string& searchPath) {
    if (name.empty()) return std::nullopt;
    if (name.find('/') != std::string::npos) return name;
    std::string_view rest = searchPath;
    while (true) {
        const std::size_t colon = rest.find(':');
        const std::string_view dir = rest.substr(0, colon);
        if (!dir.empty() && dir.front() == '/') {
            std::string candidate(dir);
            if (candidate.back() != '/') candidate += '/';
            candidate += name;
            if (isExecutableFile(candidate)) return candidate;
        }
        if (colon == std::string_view::npos) break;
        rest.remove_prefix(colon + 1);
    }
    return std::nullopt;
}

std::optional<std::string> LinuxSpawn::resolveProgram(const std::string& name) {
    const char* path = std::getenv("PATH");
    return resolveProgram(name, path ? path : kDefaultPath);
}

Result<Spawn::Output> LinuxSpawn::run(const std::string& named, const std::vector<std::string>& args) {
    const auto resolved = resolveProgram(named);
    if (!resolved) return fail("cannot run " + named + ": not found in PATH");
    const std::string& program = *resolved;
    int outPipe[2], errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0) return fail(errnoText("cannot create a pipe", errno));
    Fd outRead{outPipe[0]}, outWrite{outPipe[1]};
    if (::pipe2(errPipe, O_CLOEXEC) != 0) return fail(errnoText("cannot create a pipe", errno));
    Fd errRead{errPipe[0]}, errWrite{errPipe[1]};

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(named.c_str()));
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outWrite.get(), 1);
    posix_spawn_file_actions_adddup2(&actions, errWrite.get(), 2);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) return fail(errnoText("cannot run " + program, rc));
    outWrite.reset();
    errWrite.reset();

    Output result;
    pollfd fds[2] = {{outRead.get(), POLLIN, 0}, {errRead.get(), POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open = 2;
    char buf[65536];
    while (open > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                fds[i].fd = -1;  // poll ignores negative descriptors
                --open;
            }
        }
    }

    int status = 0;
    while (::waitpid(pid, &status, 0) < 0)
        if (errno != EINTR) return fail(errnoText("cannot wait for " + program, errno));
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace vaultry::platform
