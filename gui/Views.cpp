#include "gui/Views.h"

#include <algorithm>

#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QTableView>
#include <QToolButton>

#include "app/AppDelegate.h"
#include "app/PPopoverviewConterller.h"
#include "app/PRUpdateController.h"
#include "cookies/PRCookFileNode.h"
#include "cookies/Profiles.h"
#include "desktop/FBFileNode.h"
#include "desktop/SizeText.h"
#include "gui/AppWindows.h"
#include "gui/Commands.h"
#include "gui/QtUi.h"
#include "platform/Outlets.h"
#include "trash/Trash.h"

namespace vaultry::qt {
namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
QString tr(const char* s) { return QCoreApplication::translate("Vaultry", s); }

// The details panel of the desktop browser: the one selected item, or how many are selected.
void showDetails(QLabel* details, BrowserModel* model, QListView* view) {
    if (!details) return;
    const auto rows = view->selectionModel() ? view->selectionModel()->selectedIndexes() : QModelIndexList{};
    if (rows.isEmpty()) {
        details->setText(
            QString("<span style='color:#94a3b8'>%1</span>").arg(tr("Select an item to see its details.")));
        return;
    }
    if (rows.size() > 1) {
        details->setText(
            QString("<b>%1</b>")
                .arg(QCoreApplication::translate("Vaultry", "%n items selected", nullptr, int(rows.size()))));
        return;
    }
    const auto item = model->itemAt(rows.first().row());
    if (!item) return;
    const QString kind = q(item->fileKindType());
    QString html = QString("<b>%1</b><br>").arg(q(item->fileName()).toHtmlEscaped());
    const auto row = [&](const char* title, const QString& value) {
        if (!value.isEmpty())
            html +=
                QString("<span style='color:#64748b'>%1</span> %2<br>").arg(tr(title), value.toHtmlEscaped());
    };
    row("Kind:", kind.isEmpty() ? QString() : kind.left(1).toUpper() + kind.mid(1));
    row("Size:", q(item->fileSize()));
    row("Created:", q(item->fileCreateDate()).left(16));  // date, hours and minutes
    row("Modified:", q(item->fileModifyDate()).left(16));
    details->setText(html);
}

// The Desktop page's selected items with their rows, top to bottom.
std::vector<std::pair<std::size_t, std::shared_ptr<FBFileNode>>> selectedBrowserItems(QtUi& ui) {
    std::vector<std::pair<std::size_t, std::shared_ptr<FBFileNode>>> out;
    auto* view = ui.widget<QListView>(outlet::theBroswerView);
    auto* model = view ? qobject_cast<BrowserModel*>(view->model()) : nullptr;
    if (!model || !view->selectionModel()) return out;
    auto rows = view->selectionModel()->selectedIndexes();
    std::sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.row() < b.row(); });
    for (const auto& index : rows)
        if (auto item = model->itemAt(index.row())) out.emplace_back(std::size_t(index.row()), item);
    return out;
}

FileNodes itemsOf(const std::vector<std::pair<std::size_t, std::shared_ptr<FBFileNode>>>& chosen) {
    FileNodes out;
    for (const auto& [at, item] : chosen) out.push_back(item);
    return out;
}

// The cookie table's record at a row of the view.
std::shared_ptr<PRCookFileNode> cookieAt(const QTableView& table, int row) {
    const auto* model = qobject_cast<const CookieTableModel*>(table.model());
    return model ? model->recordAt(row) : nullptr;
}

// How a profile reads in its drop-down: "Chrome — Profile 1 (Snap)".
QString profileTitle(const cookies::Profile& p) {
    const auto* info = cookies::browserInfo(p.browser);
    QString title = info ? tr(info->title) : q(p.browser);
    if (!p.name.empty()) title += QString::fromUtf8(" — ") + q(p.name);
    if (p.packaging == "snap") title += " (Snap)";
    if (p.packaging == "flatpak") title += " (Flatpak)";
    return title;
}

void reloadKeepList(QListWidget* list, const AppDelegate& d) {
    list->clear();
    for (const auto& domain : d.cookieKeepList()) list->addItem(q(domain));
}

}  // namespace

std::vector<std::size_t> selectedCookieRows(const QTableView& table,
                                            const CookieTableModel::Records& records) {
    std::vector<std::size_t> out;
    if (!table.selectionModel()) return out;
    for (const auto& index : table.selectionModel()->selectedRows()) {
        const auto record = cookieAt(table, index.row());
        const auto at = std::find(records.begin(), records.end(), record);
        if (record && at != records.end()) out.push_back(static_cast<std::size_t>(at - records.begin()));
    }
    std::sort(out.begin(), out.end());
    return out;
}

QMenu* cookieRowMenu(QtUi& ui, AppDelegate& d, int row, QWidget* parent) {
    auto* table = ui.widget<QTableView>(outlet::dataTableView);
    const auto record = table ? cookieAt(*table, row) : nullptr;
    if (!record) return nullptr;
    // A row outside the selection becomes the selection, as in a file manager.
    if (!table->selectionModel()->isRowSelected(row, {})) table->selectRow(row);
    const std::string host = record->fileHost().value_or("");
    auto* menu = new QMenu(parent);
    QObject::connect(menu->addAction(tr("Remove")), &QAction::triggered, menu, [&d, table] {
        d.ActRemoveSelectedCookies(selectedCookieRows(*table, d.cookieRecords()));
    });
    menu->addSeparator();
    auto* site = menu->addAction(tr("Remove All of This Site"));
    auto* keep = menu->addAction(tr("Keep This Site"));
    site->setEnabled(!host.empty());
    keep->setEnabled(!host.empty());
    QObject::connect(site, &QAction::triggered, menu, [&d, host] { d.ActRemoveCookiesOfDomains({host}); });
    QObject::connect(keep, &QAction::triggered, menu, [&d, &ui, host] {
        d.AddCookieKeepDomain(host);
        ui.reload(outlet::cookieKeepList);
    });
    return menu;
}

void fillProfileMenu(QMenu& menu, AppDelegate& d, std::string_view button) {
    menu.clear();
    const auto profiles = d.cookieProfilesForButton(button);
    if (profiles.empty()) {
        menu.addAction(tr("No profiles found"))->setEnabled(false);
        return;
    }
    for (const auto& p : profiles) {
        auto* action = menu.addAction(profileTitle(p));
        action->setToolTip(q(p.store));
        if (p.isDefault) {
            auto font = action->font();
            font.setBold(true);
            action->setFont(font);
        }
        QObject::connect(action, &QAction::triggered, &menu, [&d, p] { d.ScanCookieProfile(p); });
    }
}

BoundViews bindViews(QtUi& ui, AppWindows& windows, AppDelegate& delegate) {
    BoundViews bound;
    QObject* owner = windows.mainWindow();
    bound.icons = new IconLoader(owner);

    if (auto* table = ui.widget<QTableView>(outlet::dataTableView)) {
        bound.cookies = new CookieTableModel(delegate.cookieRecords(), table);
        table->setModel(bound.cookies);
        table->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);  // the store's order
        table->setSortingEnabled(true);
        table->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
        table->horizontalHeader()->setStretchLastSection(true);
        // Fixed row heights: the view never measures a row, so a store of any size opens at once.
        table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        table->verticalHeader()->setDefaultSectionSize(26);
        table->setWordWrap(false);
        table->setTextElideMode(Qt::ElideRight);
        const int widths[] = {160, 110, 62, 76, 190, 240};  // the Container column takes the rest
        for (int c = 0; c < 6; ++c) table->setColumnWidth(c, widths[c]);
        auto* model = bound.cookies;
        ui.registerReloader(outlet::dataTableView, [model, table] {
            model->reload();
            table->clearSelection();
        });
        table->setContextMenuPolicy(Qt::CustomContextMenu);
        QObject::connect(table, &QWidget::customContextMenuRequested, table,
                         [&ui, &delegate, table](QPoint at) {
                             const int row = table->rowAt(at.y());
                             if (row < 0) return;
                             if (auto* menu = cookieRowMenu(ui, delegate, row, table)) {
                                 menu->setAttribute(Qt::WA_DeleteOnClose);
                                 menu->popup(table->viewport()->mapToGlobal(at));
                             }
                         });
    }
    for (const auto& [outlet, button] :
         {std::pair{outlet::chromeProfilesBtn, "chrome"}, {outlet::firefoxProfilesBtn, "firefox"}}) {
        auto* more = ui.widget<QToolButton>(outlet);
        if (!more || !more->menu()) continue;
        QMenu* menu = more->menu();
        QObject::connect(menu, &QMenu::aboutToShow, menu,
                         [menu, &delegate, button] { fillProfileMenu(*menu, delegate, button); });
    }
    if (auto* keep = ui.widget<QListWidget>(outlet::cookieKeepList)) {
        ui.registerReloader(outlet::cookieKeepList, [keep, &delegate] { reloadKeepList(keep, delegate); });
        reloadKeepList(keep, delegate);
    }

    if (auto* list = ui.widget<QTableView>(PPopoverviewConterller::kTidyTable)) {
        bound.tidy = new TidyListModel(delegate.popoverController(), *bound.icons, list);
        list->setModel(bound.tidy);
        list->setIconSize(QSize(28, 28));
        list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
        list->verticalHeader()->setDefaultSectionSize(36);
        list->setWordWrap(false);
        list->setTextElideMode(Qt::ElideMiddle);
        list->setDragEnabled(true);
        list->setAcceptDrops(true);
        list->setDropIndicatorShown(true);
        list->setDragDropMode(QAbstractItemView::InternalMove);
        list->setDefaultDropAction(Qt::MoveAction);
        list->setProperty("role", "tidylist");  // yellow selection
        auto* model = bound.tidy;
        ui.registerReloader(PPopoverviewConterller::kTidyTable, [model] { model->reload(); });
        model->reload();
    }

    if (auto* browser = ui.widget<QListView>(outlet::theBroswerView)) {
        bound.browser = new BrowserModel(delegate.browserItems(), *bound.icons, browser);
        browser->setModel(bound.browser);
        auto* model = bound.browser;
        auto* details = ui.widget<QLabel>(outlet::browserDetailsLab);
        ui.registerReloader(outlet::theBroswerView, [model, details, browser] {
            model->reload();
            showDetails(details, model, browser);
        });
        QObject::connect(browser, &QAbstractItemView::doubleClicked, browser,
                         [&delegate](const QModelIndex& i) {
                             if (i.isValid())
                                 delegate.imageBrowserCellWasDoubleClicked(static_cast<std::size_t>(i.row()));
                         });
        QObject::connect(browser->selectionModel(), &QItemSelectionModel::selectionChanged, browser,
                         [model, details, browser] { showDetails(details, model, browser); });
        showDetails(details, model, browser);
    }
    return bound;
}

void wireCommands(Commands& c, QtUi& ui, AppDelegate& d) {
    PPopoverviewConterller& pop = d.popoverController();
    PRUpdateController& update = d.updateWindowController();
    const auto row = [&ui] { return static_cast<long>(ui.number(PPopoverviewConterller::kTidyTable)); };

    // Vault and preferences: menu commands, the vault window and its table.
    c.openVault = [&d] { d.OPenFileManageWindow(); };
    c.preferences = [&d] { d.ClickShowPereferenceWindow(); };
    c.hideFiles = [&d] { d.HideFileAction(); };
    c.unhideFiles = [&d] { d.UnHideFileAction(); };
    c.encryptFiles = [&d] { d.EncryptFileAction(); };
    c.returnOnPasswordField = [&d] { d.ReturnOnPasswordField(); };
    c.vaultWindowShouldClose = [&d] { return d.windowShouldClose(); };
    c.removeFromList = [&d] { d.RemoveFileFromListAction(); };
    c.verifyArchives = [&d] { d.VerifyArchivesAction(); };
    c.autoTidyDesktop = [&d] { d.ClickAutoTidyDesktop(); };
    c.tidyTimeChanged = [&d] { d.ChangeTidyTime(); };
    c.help = [&d] { d.ClickHelp(); };
    c.about = [&d] { d.ActAboutAction(); };
    c.quit = [&d] { d.QuiteVaultryAction(); };
    c.vaultRows = [&d] { return d.tableViewViewsForAllRows("fileColumn"); };
    // Desktop.
    c.tidyDesktop = [&d] { d.ClickTidyAction(); };
    c.undoTidy = [&d] { d.UndoLastTidy(); };
    c.browserBack = [&d] { d.ClickBackAction(); };
    // Trash.
    c.emptyTrash = [&d] { d.StrongEmptyTrash(); };
    c.secureErase = [&d] { d.StartSafeDeleteFileAction(); };
    c.automaticTrash = [&d] { d.ShowAutoTrash(); };
    c.sortelloOnLogin = [&d] { d.ClickSortelloOnLogin(); };
    // Preferences: auto-lock, erase passes, tidy exclusions.
    c.autoLockChanged = [&d] { d.ChangeAutoLockAction(); };
    c.lockOnSessionLockChanged = [&d] { d.ChangeLockOnSessionLockAction(); };
    c.erasePassesChanged = [&d] { d.ChangeErasePassesAction(); };
    c.addTidyExclusion = [&d] { d.AddTidyExclusionAction(); };
    c.removeTidyExclusion = [&d] { d.RemoveTidyExclusionAction(); };
    c.keepLaunchers = [&d] { d.KeepLaunchersAction(); };
    // Cookies.
    c.exportCookies = [&d] { d.ActExportCookieData(); };
    c.removeCookies = [&d] { d.ActRemoveCookieData(); };
    c.removeSelectedCookies = [&d, &ui] {
        if (auto* table = ui.widget<QTableView>(outlet::dataTableView))
            d.ActRemoveSelectedCookies(selectedCookieRows(*table, d.cookieRecords()));
    };
    c.addKeepDomain = [&d, &ui] {
        auto* field = ui.widget<QLineEdit>(outlet::cookieKeepField);
        if (!field || field->text().trimmed().isEmpty()) return;
        if (d.AddCookieKeepDomain(field->text().trimmed().toStdString())) field->clear();
        ui.reload(outlet::cookieKeepList);
    };
    c.removeKeepDomain = [&d, &ui] {
        auto* list = ui.widget<QListWidget>(outlet::cookieKeepList);
        if (!list) return;
        for (const auto* item : list->selectedItems()) d.RemoveCookieKeepDomain(item->text().toStdString());
        ui.reload(outlet::cookieKeepList);
    };
    // The popover: tidy list.
    c.tidyNow = [&pop] { pop.ClickTidyNowAct(); };
    c.tidyRefresh = [&pop] { pop.ClickRefreshAct(); };
    c.tidyKindMenu = [&pop] { pop.SelectItemAction(); };
    c.tidySearch = [&pop] { pop.controlTextDidChange(); };
    c.tidyOpen = [&pop, row] { pop.ClickOpenFileAct(row()); };
    c.tidyDoubleClick = [&pop, row] { pop.doubleclickAction(row()); };
    c.tidyReveal = [&pop, row] { pop.ClickShowInFinderAct(row()); };
    c.tidyCopy = [&pop, row] { pop.ClickCopyFileAct(row()); };
    c.tidyCopyKey = [&pop, row] { pop.CopyAction(row()); };
    c.tidyRestore = [&pop, row] { pop.ClickRestoreFileAct(row()); };
    c.tidyDelete = [&pop, row] { pop.ClickDeleteFileAct(row()); };
    // The Desktop page: its selected items, through the tidy list's item commands.
    const auto selected = [&ui] { return selectedBrowserItems(ui); };
    c.desktopOpen = [&d, &pop, selected] {
        const auto chosen = selected();
        if (chosen.size() == 1) return d.imageBrowserCellWasDoubleClicked(chosen.front().first);
        for (const auto& [at, item] : chosen) pop.openItem(item);
    };
    c.desktopReveal = [&pop, selected] {
        // They share a folder: showing the first shows it.
        if (const auto chosen = selected(); !chosen.empty()) pop.revealItem(chosen.front().second);
    };
    c.desktopCopy = [&pop, selected] { pop.copyItems(itemsOf(selected())); };
    c.desktopRestore = [&pop, selected] { pop.restoreItems(itemsOf(selected())); };
    c.desktopDelete = [&pop, selected] { pop.deleteItems(itemsOf(selected())); };
    // The popover: trash settings.
    c.trashTimeChanged = [&pop] { pop.ChangeTheTrashTime(); };
    c.trashSizeMoved = [&pop] { pop.TragTheStorageAction(); };
    c.trashSizeDragged = [&pop] { pop.ShowStorageThreshold(); };
    c.trashChecksChanged = [&pop] { pop.ClickTrashChecks(); };
    c.trashOnLogin = [&pop] { pop.ClickAutoTrashOnLogin(); };
    c.trashOnlyChanged = [&pop] { pop.ClickTrashOnlyChecks(); };
    // Version check.
    c.checkForUpdate = [&d] { d.CheckforUpdateAction(); };
    c.updateNotNow = [&update] { update.ClickNotNowAction(); };
    c.updateDownload = [&update] { update.ClickGoDownloadAction(); };
    c.updateOk = [&update] { update.ClickOkAction(); };
    c.trashPageShown = [&d] {
        d.ShowTrashSize();
        d.showLastEmptying();
    };
}

}  // namespace vaultry::qt
