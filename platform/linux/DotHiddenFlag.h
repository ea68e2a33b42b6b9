#pragma once
#include "platform/HiddenFlag.h"

namespace vaultry::platform {

// The hidden mark of GNOME Files, Dolphin, Nemo and Caja: the item's name on a line of the
// ".hidden" file in its folder. Other lines are kept; the file is rewritten atomically and
// removed once it is empty.
class DotHiddenFlag final : public HiddenFlag {
public:
    bool isHidden(const std::string& path) override;
    bool setHidden(const std::string& path, bool hidden) override;
};

}  // namespace vaultry::platform
