#pragma once
#include <QObject>

#include "platform/qt/ItemModels.h"

namespace vaultry {
class AppDelegate;
class SettingsStore;
}  // namespace vaultry

namespace vaultry::qt {

class QtUi;
class Windows;
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
BoundViews bindViews(QtUi& ui, Windows& windows, AppDelegate& delegate);

// Points the menus' and plain buttons' commands at the controller and its popover and update
// controllers. Commands another part of the application carries are left as they are.
void wireCommands(Commands& commands, QtUi& ui, AppDelegate& delegate, SettingsStore& settings);

// The trash settings as stored: the time choice, the slider and its label, the last emptying.
void showTrashSettings(QtUi& ui, AppDelegate& delegate, SettingsStore& settings);

// The trash page's texts: the Trash's size (measured off the main thread) and the last emptying.
void refreshTrashPage(QtUi& ui, AppDelegate& delegate, SettingsStore& settings);

}  // namespace vaultry::qt
