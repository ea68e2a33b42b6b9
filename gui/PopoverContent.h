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

// The popover's content: the tidy list and the trash settings. Built once; it moves between the
// popover, its detached window and the automatic-trash window.
class PopoverContent final : public WindowPart {
public:
    explicit PopoverContent(WindowContext& context);
    QWidget* widget() const { return content_; }

private:
    QWidget* content_ = nullptr;
};

}  // namespace vaultry::qt
