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

// The preferences window `preferWindows`: storage folder, password, start-up.
class PreferencesWindow final : public WindowPart {
public:
    explicit PreferencesWindow(WindowContext& context);

private:
};

}  // namespace vaultry::qt
