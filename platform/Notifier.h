#pragma once
#include <functional>
#include <string>
#include <vector>

namespace vaultry::platform {

// User notifications with actions.
class Notifier {
public:
    struct Notification {
        std::string identifier;
        std::string title;
        std::string body;
        std::vector<std::string> actions;  // button titles
    };
    // The identifier and the action chosen ("" when the notification itself was clicked).
    using Response = std::function<void(const std::string& identifier, const std::string& action)>;
    virtual ~Notifier() = default;
    virtual void schedule(const Notification& n) = 0;
    virtual std::vector<std::string> delivered() = 0;
    virtual void remove(const std::string& identifier) = 0;
    virtual void setResponseHandler(Response handler) = 0;
    // True when a notification can carry action buttons: a notification service runs and offers
    // actions. Without, a question must be asked another way.
    virtual bool offersActions() { return true; }
};

}  // namespace vaultry::platform
