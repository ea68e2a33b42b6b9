#pragma once
#include <chrono>

namespace vaultry::platform {

using TimePoint = std::chrono::system_clock::time_point;

class Clock {
public:
    virtual ~Clock() = default;
    virtual TimePoint now() const = 0;
};

}  // namespace vaultry::platform
