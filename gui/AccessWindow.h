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

// The access window `connectWindow`: where tidied items go (and the Trash's access view).
class AccessWindow final : public WindowPart {
public:
    explicit AccessWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
