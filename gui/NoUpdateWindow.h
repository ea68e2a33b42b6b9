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

// The up-to-date window `noUpdateWindow`.
class NoUpdateWindow final : public WindowPart {
public:
    explicit NoUpdateWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
