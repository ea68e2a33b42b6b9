#pragma once
#include <chrono>
#include <string>

namespace vaultry {

enum class Zone { utc, local };

// A moment written with strftime's `format`, in UTC or the local time zone; empty when the
// moment cannot be broken down.
std::string timeText(std::chrono::system_clock::time_point moment, const char* format, Zone zone = Zone::utc);

}  // namespace vaultry
