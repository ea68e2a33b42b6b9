#pragma once
#include <functional>
#include <string>
#include <string_view>

namespace vaultry {

// The system log of the application. Lines go to standard error with a "vaultry: " prefix unless
// a sink is installed (tests capture lines this way).
void logLine(std::string_view line);

using LogSink = std::function<void(std::string_view)>;
// Installs a sink and returns the previous one; an empty sink restores standard error.
LogSink setLogSink(LogSink sink);

}  // namespace vaultry
