#pragma once
#include "gui/Builders.h"

namespace vaultry::qt {

// The progress window `storageMoveWindow` shown while the vault moves to another folder.
class StorageMoveWindow final : public WindowPart {
public:
    explicit StorageMoveWindow(WindowContext& context);
};

}  // namespace vaultry::qt
