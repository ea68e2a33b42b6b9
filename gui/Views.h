#pragma once
#include <QObject>

#include "gui/ItemModels.h"

namespace vaultry {
class AppDelegate;
class SettingsStore;
}  // namespace vaultry

namespace vaultry::qt {

class QtUi;
class AppWindows;
struct Commands;

// The models behind the cookie table, the tidy list and the desktop browser, set on their views
// and reloaded through the Ui port.
struct BoundViews {
    IconLoader* icons = nullptr;
    CookieTableModel* cookies = nullptr;
    TidyListModel* tidy = nullptr;
    BrowserModel* browser = nullptr;
};

// Gives the views of the windows their models, once the controller exists. The models live as
// long as the main window.
BoundViews bindViews(QtUi& ui, AppWindows& windows, AppDelegate& delegate);

// Assigns every command the windows' controls run to the controller and its popover and update
// controllers: the one place where the GUI meets the controllers.
void wireCommands(Commands& commands, QtUi& ui, AppDelegate& delegate);

}  // namespace vaultry::qt
