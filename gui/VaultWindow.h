#pragma once
#include <cstdint>

#include "gui/Builders.h"

namespace vaultry::qt {

// The vault window `thefileManageWindow`: filters, the vault table and its commands.
class VaultWindow final : public WindowPart {
public:
    explicit VaultWindow(WindowContext& context);
    ~VaultWindow() override;

private:
    std::uint64_t filterObserver_ = 0;
};

}  // namespace vaultry::qt
