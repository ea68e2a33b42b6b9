#include "cli/ProgressLine.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>

#include "desktop/SizeText.h"

namespace vaultry::cli {
namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile sig_atomic_t gStop = 0;

void onSignal(int sig) {
    if (gStop) {  // asked twice: end now
        ::signal(sig, SIG_DFL);
        ::raise(sig);
        return;
    }
    gStop = 1;
}

std::string amount(std::uint64_t n, Progress::Unit unit) {
    return unit == Progress::Unit::bytes ? sizeText(n, 1) : std::to_string(n);
}

}  // namespace

ProgressLine::ProgressLine(const Context& ctx) : visible_(!ctx.quiet && ::isatty(STDERR_FILENO) == 1) {
    gStop = 0;
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
    progress_.watch([this](Progress& p) {
        if (gStop) p.cancel();
        show(p);
    });
}

ProgressLine::~ProgressLine() {
    for (std::size_t i = 0; i < std::size(kSignals); ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
    if (drawn_) std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
}

void ProgressLine::show(Progress& progress) {
    if (!visible_) return;
    const auto now = std::chrono::steady_clock::now();
    if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
    last_ = now;
    const Progress::State s = progress.state();
    std::string line = escaped(s.step);
    if (s.total > 0) {
        const auto percent = std::min<std::uint64_t>(100, s.done * 100 / s.total);
        line += "  " + std::to_string(percent) + "% (" + amount(s.done, s.unit) + " of " +
                amount(s.total, s.unit) + ")";
    } else if (s.done > 0) {
        line += "  " + amount(s.done, s.unit);
    }
    if (progress.cancelled()) line += "  cancelling…";
    // \r and erase-to-end: the line rewrites itself in place.
    std::fprintf(stderr, "\r\033[K%s", line.c_str());
    std::fflush(stderr);
    drawn_ = true;
}

flows::RunLongWork progressLine(const Context& ctx) {
    return [&ctx](const std::string&, const std::function<void(Progress&)>& work) {
        ProgressLine line(ctx);
        work(line.progress());
    };
}

}  // namespace vaultry::cli
