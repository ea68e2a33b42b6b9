#include "gui/VaultWindow.h"

#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include "app/NotificationCenter.h"
#include "app/Notifications.h"
#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"
#include "gui/VaultTable.h"

namespace vaultry::qt {

VaultWindow::VaultWindow(WindowContext& context) : WindowPart(context) {
    auto* w = new PRCustomeWindow;
    w->setWindowTitle(localized("Vaultry Vault"));
    w->resize(780, 540);
    w->setMinimumSize(620, 420);
    reg(outlet::thefileManageWindow, w);

    auto* v = new QVBoxLayout(w->body());
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    auto* close = new PRClosedButton(nc_);
    reg(outlet::closedFileWindowButton, close);
    auto* top = banner(new ImageView("filetopbanner.png"), localized("Vault"),
                       localized("Locked items need your password; unlocked ones can be revealed."), close);
    v->addWidget(top);

    auto* bar = new QWidget;
    bar->setProperty("role", "toolbar");
    auto* b = new QHBoxLayout(bar);
    b->setContentsMargins(16, 10, 16, 10);
    b->setSpacing(4);
    const std::tuple<const char*, const char*, const char*> filters[] = {
        {outlet::selectAllBtn, "allnom", "All"},           {outlet::selectImageBtn, "imagenom", "Images"},
        {outlet::selectDocBtn, "docnom", "Docs"},          {outlet::selectVideoBtn, "medianom", "Media"},
        {outlet::selectFolderBtn, "foldernom", "Folders"}, {outlet::selectOtherBtn, "othernom", "Other"}};
    std::vector<QPointer<QAbstractButton>> filterButtons;
    for (const auto& [outlet, image, title] : filters) {
        auto* f = new PRLeftTipButton(nc_);
        f->setText(localized(title));
        f->setIconSize(QSize(18, 18));
        f->setMinimumHeight(32);
        f->setProperty("role", "filter");
        f->setProperty("current", filterButtons.empty());
        reg(outlet, f);
        ui_.setImage(outlet, image);
        b->addWidget(f);
        filterButtons.emplace_back(f);
    }
    // The pressed filter is marked as the current one; the controller does the filtering.
    const auto markCurrent = [filterButtons](const void* pressed) {
        const bool ours = std::any_of(filterButtons.begin(), filterButtons.end(), [&](const auto& f) {
            return f && pressed == static_cast<QObject*>(f);
        });
        if (!ours) return;
        for (const auto& f : filterButtons) {
            if (!f) continue;
            f->setProperty("current", pressed == static_cast<QObject*>(f));
            f->style()->unpolish(f);
            f->style()->polish(f);
        }
    };
    filterObserver_ = nc_.addObserver(notify::PRLeftButtonMouseDown,
                                      [markCurrent](const Notification& n) { markCurrent(n.object); });
    // Closing the window by the system shows every item again.
    w->shouldClose = [this, markCurrent, all = filterButtons.front()] {
        const bool close = commands_.vaultWindowShouldClose ? commands_.vaultWindowShouldClose() : true;
        if (commands_.vaultWindowShouldClose) markCurrent(all.data());
        return close;
    };
    b->addStretch(1);
    v->addWidget(bar);

    auto* table = new WithEmptyHint<QTableView>(
        localized("Your vault is empty.\nHide or encrypt files and folders to keep them here."));
    auto* model = new VaultTableModel(table);
    model->setSource(
        [this] { return commands_.vaultRows ? commands_.vaultRows() : VaultTableModel::Rows{}; });
    table->setModel(model);
    table->setItemDelegate(new VaultRowDelegate(table));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setMouseTracking(true);
    table->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    table->verticalScrollBar()->setSingleStep(VaultRowDelegate::kRowHeight / 2);
    table->verticalHeader()->hide();
    // Every row has the same height, so the view never measures rows.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(VaultRowDelegate::kRowHeight);
    table->horizontalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setShowGrid(false);
    table->setWordWrap(false);
    table->setProperty("role", "vaulttable");
    table->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(table, &QWidget::customContextMenuRequested, this, [this, table, model](const QPoint& at) {
        const QModelIndex index = table->indexAt(at);
        if (!index.isValid()) return;
        // The row under the pointer is the one the commands act on.
        table->setCurrentIndex(index);
        PSTableCellView* row = model->rowView(index.row());
        if (!row) return;
        QMenu menu(table);
        const auto on = [model, row](void (PSTableCellView::*action)()) {
            return [model, row, action] { model->act(row, [action](PSTableCellView& r) { (r.*action)(); }); };
        };
        if (!row->bHidenEncypt) {
            menu.addAction(localized("Unhide…"), table, on(&PSTableCellView::EncryptedItemAction));
        } else if (row->showsLocked()) {
            menu.addAction(localized("Decrypt"), table, on(&PSTableCellView::EncryptedItemAction));
        } else {
            menu.addAction(localized("Encrypt and Hide…"), table, on(&PSTableCellView::DecryptedItemAction));
            menu.addAction(localized("Show in Folder"), table, on(&PSTableCellView::ClickShowInFinderAction));
        }
        menu.addSeparator();
        menu.addAction(localized("Remove from Vault…"), table, [this] { run(&Commands::removeFromList); });
        menu.addAction(localized("Verify Archives…"), table, [this] { run(&Commands::verifyArchives); });
        menu.exec(table->viewport()->mapToGlobal(at));
    });
    // From the keyboard: Space works the current row's switch, Delete removes the row.
    onKeyPress(table, [this, table, model](QKeyEvent* key) {
        PSTableCellView* row = model->rowView(table->currentIndex().row());
        if (!row || key->modifiers() != Qt::NoModifier) return false;
        if (key->key() == Qt::Key_Space) {
            model->act(row, [](PSTableCellView& r) { r.ClickSwtichAction(); });
            return true;
        }
        if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace) {
            run(&Commands::removeFromList);
            return true;
        }
        return false;
    });
    reg(outlet::fileTableView, table);
    ui_.registerReloader(outlet::fileTableView, [model] { model->reload(); });
    auto* holder = new QWidget;
    auto* hv = new QVBoxLayout(holder);
    hv->setContentsMargins(16, 12, 16, 8);
    hv->addWidget(table);
    v->addWidget(holder, 1);

    // The commands: remove and unhide act on the current row; hide and encrypt ask for new items.
    auto* footer = new QHBoxLayout;
    footer->setContentsMargins(16, 4, 16, 14);
    footer->setSpacing(8);
    auto* removeRow = commandButton(localized("Remove…"), {}, &Commands::removeFromList);
    removeRow->setToolTip(localized("Take the selected item out of the vault"));
    footer->addWidget(removeRow);
    footer->addStretch(1);
    auto* unhide = commandButton(localized("Unhide…"), "navunlock", &Commands::unhideFiles);
    unhide->setToolTip(localized("Unhide the selected hidden item"));
    footer->addWidget(unhide);
    footer->addWidget(commandButton(localized("Hide…"), "navlock", &Commands::hideFiles));
    footer->addWidget(commandButton(localized("Encrypt…"), "navvault", &Commands::encryptFiles, true));
    const auto follow = [removeRow, unhide, model](const QModelIndex& current) {
        const PSTableCellView* row = model->rowView(current.row());
        removeRow->setEnabled(row != nullptr);
        unhide->setEnabled(row && !row->bHidenEncypt);
    };
    follow({});
    connect(table->selectionModel(), &QItemSelectionModel::currentChanged, removeRow,
            [follow](const QModelIndex& current) { follow(current); });
    connect(model, &QAbstractItemModel::modelReset, removeRow, [follow] { follow({}); });
    v->addLayout(footer);
}

VaultWindow::~VaultWindow() { nc_.removeObserver(filterObserver_); }

}  // namespace vaultry::qt
