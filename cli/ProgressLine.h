#pragma once
#include <signal.h>

#include <chrono>

#include "cli/Cli.h"
#include "flows/LongWork.h"
#include "util/Progress.h"

namespace vaultry::cli {

// The progress of one long command. On a terminal (and without -q) it is one line on standard
// error that rewrites itself; piped, nothing is printed. While it lives, Ctrl-C, SIGTERM and
// SIGHUP ask the work to cancel, so that it stops at a safe point and puts everything back; a
// second signal ends the program at once.
class ProgressLine {
public:
    explicit ProgressLine(const Context& ctx);
    ~ProgressLine();  // clears the line and restores the signal handlers
    ProgressLine(const ProgressLine&) = delete;
    ProgressLine& operator=(const ProgressLine&) = delete;

    Progress& progress() { return progress_; }

private:
    void show(Progress& progress);

    Progress progress_;
    bool visible_ = false;  // printing at all
    bool drawn_ = false;    // a line is on the screen
    std::chrono::steady_clock::time_point last_{};
    struct sigaction previous_[3]{};
};

// Long work of a use case, run with a progress line of its own (cleared before anything else is
// printed).
flows::RunLongWork progressLine(const Context& ctx);

}  // namespace vaultry::cli
