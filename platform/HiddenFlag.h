#pragma once
#include <string>

namespace vaultry::platform {

// The file browsers' hidden mark on an item.
class HiddenFlag {
public:
    virtual ~HiddenFlag() = default;
    virtual bool isHidden(const std::string& path) = 0;
    virtual bool setHidden(const std::string& path, bool hidden) = 0;  // false when it failed
};

}  // namespace vaultry::platform
