#include "util/TimeText.h"

#include <ctime>

namespace vaultry {

std::string timeText(std::chrono::system_clock::time_point moment, const char* format, Zone zone) {
    const std::time_t t = std::chrono::system_clock::to_time_t(moment);
    std::tm tm{};
    if (!(zone == Zone::utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm))) return {};
    char buf[64] = {};
    return std::strftime(buf, sizeof buf, format, &tm) ? buf : std::string();
}

}  // namespace vaultry
