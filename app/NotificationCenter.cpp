#include "app/NotificationCenter.h"

#include <algorithm>

namespace vaultry {

NotificationCenter::Token NotificationCenter::addObserver(std::string name, Handler handler) {
    std::lock_guard lock(mutex_);
    entries_.push_back({next_, std::move(name), std::move(handler)});
    return next_++;
}

void NotificationCenter::removeObserver(Token token) {
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [token](const Entry& e) { return e.token == token; });
}

void NotificationCenter::post(std::string_view name, const void* object) {
    // Handlers may post or register in turn, so they run on a copy taken outside the lock.
    std::vector<Handler> handlers;
    {
        std::lock_guard lock(mutex_);
        for (const auto& e : entries_)
            if (e.name == name) handlers.push_back(e.handler);
    }
    const Notification n{name, object};
    for (const auto& h : handlers) h(n);
}

}  // namespace vaultry
