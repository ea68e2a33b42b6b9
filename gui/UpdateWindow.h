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

// The update window `UpdateWindow`: a newer version and what is new in it.
class UpdateWindow final : public WindowPart {
public:
    explicit UpdateWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
