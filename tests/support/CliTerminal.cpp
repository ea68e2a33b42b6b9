#include "support/CliTerminal.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>

namespace vaultry::test {

CliOnTerminal::CliOnTerminal(const std::filesystem::path& home, std::vector<std::string> args,
                             bool errOnTerminal) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) return;
    char name[128];
    if (::ptsname_r(master_, name, sizeof name) != 0) return;
    // Held open here too, so the terminal stays readable between the program's opens.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    args.insert(args.begin(), VAULTRY_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"HOME=" + home.string(), "PATH=/usr/bin:/bin", "LANG=C.UTF-8", "TZ=UTC"};
    std::vector<char*> envp;
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    const int out = ::open((io_ / "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const int err = ::open((io_ / "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    pid_ = ::fork();
    if (pid_ == 0) {
        // Only async-signal-safe calls from here on.
        ::setsid();
        const int tty = ::open(name, O_RDWR);  // the first terminal a session leader opens is its own
        ::ioctl(tty, TIOCSCTTY, 0);
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(errOnTerminal ? tty : err, 2);
        ::close(tty);
        ::execve(argv[0], argv.data(), envp.data());
        ::_exit(127);
    }
    ::close(in);
    ::close(out);
    ::close(err);
}

CliOnTerminal::~CliOnTerminal() {
    if (pid_ > 0 && status_ < 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (slave_ >= 0) ::close(slave_);
    if (master_ >= 0) ::close(master_);
}

bool CliOnTerminal::waitFor(const std::string& text) {
    // Bounded, so that a program that never asks fails the test instead of hanging it.
    for (int round = 0; round < 600 && screen.find(text) == std::string::npos; ++round) {
        pollfd p{master_, POLLIN, 0};
        if (::poll(&p, 1, 100) > 0 && (p.revents & POLLIN)) {
            char buf[512];
            const ssize_t n = ::read(master_, buf, sizeof buf);
            if (n > 0) screen.append(buf, static_cast<std::size_t>(n));
        } else if (status_ < 0) {
            int st = 0;
            if (::waitpid(pid_, &st, WNOHANG) == pid_) status_ = st;
        } else {
            break;
        }
    }
    return screen.find(text) != std::string::npos;
}

void CliOnTerminal::type(const std::string& keys) { (void)!::write(master_, keys.data(), keys.size()); }

void CliOnTerminal::signal(int sig) {
    if (pid_ > 0) ::kill(pid_, sig);
}

bool CliOnTerminal::echoes() const {
    termios mode{};
    ::tcgetattr(slave_, &mode);
    return (mode.c_lflag & ECHO) != 0;
}

int CliOnTerminal::wait() {
    if (pid_ <= 0) return -1;
    if (status_ < 0) ::waitpid(pid_, &status_, 0);
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : WIFSIGNALED(status_) ? 128 + WTERMSIG(status_) : -1;
}

}  // namespace vaultry::test
