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

// The create-password window `CreatePWWindow`.
class CreatePasswordWindow final : public WindowPart {
public:
    explicit CreatePasswordWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
