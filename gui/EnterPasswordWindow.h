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

// The enter-password window `enterPDWindow`.
class EnterPasswordWindow final : public WindowPart {
public:
    explicit EnterPasswordWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
