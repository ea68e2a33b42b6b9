#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "util/Result.h"

namespace vaultry::platform {

class Http {
public:
    struct Response {
        long status = 0;
        std::vector<std::uint8_t> body;
    };
    virtual ~Http() = default;
    // Fetches url; blocking, so callers run it on a worker thread.
    virtual Result<Response> get(const std::string& url) = 0;
};

}  // namespace vaultry::platform
