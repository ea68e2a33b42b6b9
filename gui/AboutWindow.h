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

// The about window `aboutWindow`.
class AboutWindow final : public WindowPart {
public:
    explicit AboutWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
