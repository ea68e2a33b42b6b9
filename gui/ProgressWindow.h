#pragma once
#include "gui/Builders.h"

namespace vaultry::qt {

// The window `progressWindow` shown while long work runs: what is being done, a bar of bytes or
// items, and a Cancel button.
class ProgressWindow final : public WindowPart {
public:
    explicit ProgressWindow(WindowContext& context);
};

}  // namespace vaultry::qt
