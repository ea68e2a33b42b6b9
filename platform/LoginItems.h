#pragma once

namespace vaultry::platform {

// Starting the application when the user logs in.
class LoginItems {
public:
    virtual ~LoginItems() = default;
    virtual bool isEnabled() = 0;
    virtual bool setEnabled(bool enabled) = 0;
};

}  // namespace vaultry::platform
