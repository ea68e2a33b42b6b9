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

// The main window's trash page: emptying, secure erase, the schedule, the size and last emptying.
class TrashPage final : public WindowPart {
public:
    explicit TrashPage(WindowContext& context);
    QWidget* widget() const { return page_; }

private:
    QWidget* page_ = nullptr;
};

}  // namespace vaultry::qt
