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

// The main window's desktop page: the tidied items by kind, in a browser with a details panel.
class DesktopPage final : public WindowPart {
public:
    explicit DesktopPage(WindowContext& context);
    QWidget* widget() const { return page_; }

private:
    QWidget* page_ = nullptr;
};

}  // namespace vaultry::qt
