#pragma once
#include "platform/Clock.h"

namespace vaultry::platform {

class SystemClock final : public Clock {
public:
    TimePoint now() const override { return std::chrono::system_clock::now(); }
};

}  // namespace vaultry::platform
