#pragma once
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace vaultry {

struct Notification {
    std::string_view name;
    const void* object = nullptr;  // the sender; observers tell senders apart by identity
};

// In-process publish/subscribe keyed by name. Delivery is synchronous: every observer of the
// name runs inside post(), in the order they registered, before post() returns. There is no
// object filter.
class NotificationCenter {
public:
    using Handler = std::function<void(const Notification&)>;
    using Token = std::uint64_t;

    Token addObserver(std::string name, Handler handler);
    void removeObserver(Token token);
    void post(std::string_view name, const void* object = nullptr);

private:
    struct Entry {
        Token token;
        std::string name;
        Handler handler;
    };
    std::mutex mutex_;
    std::vector<Entry> entries_;
    Token next_ = 1;
};

}  // namespace vaultry
