#pragma once
#include <QPointer>
#include <QWidget>
#include <memory>

#include "gui/Builders.h"

class QMainWindow;
class QStackedWidget;
class QMenu;
class QAbstractButton;

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
