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

// The main window's cookie page: the browsers on the left, the cookie table on the right.
class CookiePage final : public WindowPart {
public:
    explicit CookiePage(WindowContext& context);
    QWidget* widget() const { return page_; }

private:
    QWidget* page_ = nullptr;
};

}  // namespace vaultry::qt
