#pragma once
#include <chrono>
#include <cstddef>

#include "platform/Http.h"

namespace vaultry::platform {

// HTTP(S) GET on libcurl. Follows redirects (to http and https only; the body of each new response
// starts afresh), gives up after the connect or total time-out, and refuses bodies beyond the cap.
// Blocking: callers run it on a worker thread. Several threads may use one instance.
class LinuxHttp final : public Http {
public:
    struct Limits {
        std::chrono::milliseconds connectTimeout{10'000};
        std::chrono::milliseconds totalTimeout{30'000};
        std::size_t maxBody = 1024 * 1024;
        long maxRedirects = 10;
    };
    LinuxHttp();
    explicit LinuxHttp(Limits limits);
    Result<Response> get(const std::string& url) override;

private:
    Limits limits_;
};

}  // namespace vaultry::platform
