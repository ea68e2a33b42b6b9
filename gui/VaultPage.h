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

// The main window's vault page: what the vault does, and its commands.
class VaultPage final : public WindowPart {
public:
    explicit VaultPage(WindowContext& context);
    QWidget* widget() const { return page_; }

private:
    QWidget* page_ = nullptr;
};

}  // namespace vaultry::qt
