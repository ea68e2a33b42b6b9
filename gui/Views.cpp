#include "gui/Views.h"

#include <algorithm>

#include <QCoreApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QListView>
#include <QMainWindow>
#include <QTableView>

#include "app/AppDelegate.h"
#include "app/PPopoverviewConterller.h"
#include "app/PRUpdateController.h"
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

}  // namespace

BoundViews bindViews(QtUi& ui, AppWindows& windows, AppDelegate& delegate) {
    BoundViews bound;
    QObject* owner = windows.mainWindow();
    bound.icons = new IconLoader(owner);

    bound.cookies = bindCookiePage(ui, delegate);

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
    wireCookieCommands(c, ui, d);
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
