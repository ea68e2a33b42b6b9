#pragma once
#include <functional>
#include <string>

#include "util/Progress.h"

namespace vaultry::flows {

// Runs a long piece of work where the user can follow and cancel it, and returns when it is done:
// the GUI behind its progress window, the CLI with a progress line on the terminal. The runner
// gives the work the Progress it shows.
using RunLongWork = std::function<void(const std::string& title, const std::function<void(Progress&)>& work)>;

}  // namespace vaultry::flows
