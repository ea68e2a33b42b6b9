#pragma once
#include <QObject>
#include <cstddef>
#include <string_view>
#include <vector>

#include "gui/ItemModels.h"

class QMenu;
class QTableView;
class QWidget;

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

// ---- The cookie page, in CookiePage.cpp ----

// The cookie page's views: the cookie table gets its model, column widths, row
// menu and reloader, the profile drop-downs their menus, the keep-list its reloader. The model (or
// nullptr when the page has no table) lives as long as the table.
CookieTableModel* bindCookiePage(QtUi& ui, AppDelegate& delegate);

// Assigns the cookie page's commands (export, the removals and the keep-list); part of wireCommands.
void wireCookieCommands(Commands& commands, QtUi& ui, AppDelegate& delegate);

// The indexes into `records` of the cookie table's selected rows. The table shows the records in
// its own sort order, so a row of the view is mapped to its record first.
std::vector<std::size_t> selectedCookieRows(const QTableView& table,
                                            const CookieTableModel::Records& records);

// The menu of the cookie table's row `row` (a row of the view): "Remove" (the selection, which the
// row joins), "Remove All of This Site" and "Keep This Site". Owned by `parent`.
QMenu* cookieRowMenu(QtUi& ui, AppDelegate& delegate, int row, QWidget* parent);

// Fills a browser button's drop-down ("chrome" or "firefox") with the profiles found for it;
// choosing one reads its store.
void fillProfileMenu(QMenu& menu, AppDelegate& delegate, std::string_view button);

}  // namespace vaultry::qt
