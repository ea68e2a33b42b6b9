#include "cli/Prompt.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <iterator>
#include <optional>
#include <vector>

namespace vaultry::cli::prompt {
namespace {

// The terminal whose echo is off, for the signal handler to turn it on again.
volatile sig_atomic_t gQuietTty = -1;
termios gSavedMode{};
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

extern "C" void restoreEchoAndEnd(int sig) {
    const int tty = gQuietTty;
    if (tty >= 0) {
        ::tcsetattr(tty, TCSANOW, &gSavedMode);
        (void)!::write(tty, "\n", 1);
    }
    ::signal(sig, SIG_DFL);
    ::raise(sig);
}

class Tty {
public:
    Tty() : fd_(::open("/dev/tty", O_RDWR | O_CLOEXEC | O_NOCTTY)) {}
    ~Tty() {
        if (fd_ >= 0) ::close(fd_);
    }
    Tty(const Tty&) = delete;
    Tty& operator=(const Tty&) = delete;
    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    void write(const std::string& text) const { (void)!::write(fd_, text.data(), text.size()); }

private:
    int fd_;
};

// Echo off for the life of the object; the terminal's mode comes back when it ends, and also
// when the process is ended by Ctrl-C, Ctrl-\, a hang-up or SIGTERM in between.
class EchoOff {
public:
    explicit EchoOff(int tty) {
        if (::tcgetattr(tty, &gSavedMode) != 0) return;
        struct sigaction action {};
        action.sa_handler = restoreEchoAndEnd;
        sigemptyset(&action.sa_mask);
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &action, &previous_[i]);
        gQuietTty = tty;
        termios quiet = gSavedMode;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        active_ = ::tcsetattr(tty, TCSAFLUSH, &quiet) == 0;
        tty_ = tty;
    }
    ~EchoOff() {
        if (tty_ < 0) return;
        ::tcsetattr(tty_, TCSAFLUSH, &gSavedMode);
        gQuietTty = -1;
        for (std::size_t i = 0; i < std::size(kEndingSignals); ++i)
            ::sigaction(kEndingSignals[i], &previous_[i], nullptr);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;
    bool active() const { return active_; }

private:
    int tty_ = -1;
    bool active_ = false;
    struct sigaction previous_[std::size(kEndingSignals)]{};
};

// One line read a byte at a time, so nothing after it is taken from the descriptor; false at
// the end of input before any byte.
bool readLine(int fd, std::string& line) {
    line.clear();
    char c = 0;
    bool any = false;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        any = true;
        if (c == '\n') break;
        line += c;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return any;
}

// The lines of --password-file, read once; each pass phrase takes the next.
std::vector<std::string>& fileLines() {
    static std::vector<std::string> lines;
    return lines;
}
std::size_t gNextFileLine = 0;
bool gFileRead = false;

password::PassPhrase takeLine(std::string& line) {
    password::PassPhrase pass(line);
    password::wipe(line);
    return pass;
}

}  // namespace

bool fromTerminal(const Context& ctx) {
    const auto& p = ctx.password;
    return !p.stdinLine && p.fd < 0 && p.file.empty();
}

namespace {

// The answer typed at the terminal, or nothing when there is no terminal to ask at.
std::optional<bool> answerAtTerminal(const std::string& question) {
    Tty tty;
    if (!tty.open()) return std::nullopt;
    tty.write(question + " [y/N] ");
    std::string answer;
    if (!readLine(tty.fd(), answer)) tty.write("\n");
    return answer == "y" || answer == "Y" || answer == "yes" || answer == "YES";
}

}  // namespace

void confirm(Context& ctx, const std::string& question, const std::string& command) {
    if (ctx.yes) return;
    const auto yes = answerAtTerminal(question);
    if (!yes) throw UsageError(command + " asks first and there is no terminal to ask at: add --yes");
    if (!*yes) throw Stop{kDeclined, "declined; nothing changed"};
}

bool ask(Context& ctx, const std::string& question) {
    return ctx.yes || answerAtTerminal(question).value_or(false);
}

password::PassPhrase secret(Context& ctx, const std::string& prompt) {
    const auto& source = ctx.password;
    std::string line;
    if (source.stdinLine || source.fd >= 0) {
        const int fd = source.stdinLine ? STDIN_FILENO : source.fd;
        if (!readLine(fd, line))
            throw Stop{kUsage, source.stdinLine ? "no password on standard input"
                                                : "no password on descriptor " + std::to_string(fd)};
        return takeLine(line);
    }
    if (!source.file.empty()) {
        auto& lines = fileLines();
        if (!gFileRead) {
            gFileRead = true;
            std::ifstream in(source.file, std::ios::binary);
            if (!in) throw Stop{kUsage, "cannot read the password file " + source.file};
            std::string l;
            while (std::getline(in, l)) {
                if (!l.empty() && l.back() == '\r') l.pop_back();
                lines.push_back(std::move(l));
                password::wipe(l);
            }
        }
        if (gNextFileLine >= lines.size()) throw Stop{kUsage, "not enough lines in " + source.file};
        return takeLine(lines[gNextFileLine++]);
    }
    Tty tty;
    if (!tty.open())
        throw Stop{kUsage,
                   "the vault password is needed and there is no terminal: give it with --password-stdin, "
                   "--password-fd or --password-file"};
    EchoOff quiet(tty.fd());
    tty.write(prompt);
    const bool got = readLine(tty.fd(), line);
    if (!quiet.active()) tty.write("\n");
    if (!got) throw Stop{kUsage, "no password given"};
    return takeLine(line);
}

}  // namespace vaultry::cli::prompt
