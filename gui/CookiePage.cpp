#include <QAction>
#include <QBrush>
#include <QColor>
#include <QCoreApplication>
#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>
#include <optional>

#include "app/AppDelegate.h"
#include "cookies/PRCookFileNode.h"
#include "cookies/Profiles.h"
#include "gui/Builders.h"
#include "gui/ItemModels.h"
#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"
#include "gui/Views.h"

// The cookie page: its widgets, the cookie table's model and columns, how the page's views are bound
// to the controller and the commands they run.
namespace vaultry::qt {
namespace {

QString q(const std::string& s) { return QString::fromStdString(s); }
QString q(const std::optional<std::string>& s) { return s ? QString::fromStdString(*s) : QString(); }
QString tr(const char* s) { return QCoreApplication::translate("Vaultry", s); }

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

// The main window's cookie page: the browsers on the left, the cookie table on the right.
template <>
CookiePage::Part(WindowContext& context) : PagePart(context) {
    auto* v = column(12, localized("Cookies"),
                     localized("Read what your browsers keep about you, export it or clear it."));

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    auto* left = new QFrame;
    left->setProperty("role", "card");
    left->setFixedWidth(184);
    reg(outlet::leftView, left);
    auto* lv = new QVBoxLayout(left);
    lv->setContentsMargins(10, 12, 10, 12);
    lv->setSpacing(6);
    // Chrome and Firefox have a drop-down of every profile found beside them; a plain click on
    // the button reads the default one.
    const std::tuple<const char*, const char*, const char*, const char*> sources[] = {
        {outlet::safariCookieBtn, "Safaricookienom.png", "Safari", nullptr},
        {outlet::chromeCookieBtn, "chromecookienom.png", "Chrome", outlet::chromeProfilesBtn},
        {outlet::firefoxCookieBtn, "firefoxcookienom.png", "Firefox", outlet::firefoxProfilesBtn},
        {outlet::openCookieBtn, "opencookienom.png", "Open File…", nullptr},
        {outlet::newCookieBtn, "newcookienom.png", "Last File", nullptr}};
    for (const auto& [outlet, image, title, profiles] : sources) {
        auto* b = new PRLeftTipButton(nc_);
        b->setText(localized(title));
        b->setIconSize(QSize(30, 30));
        b->setMinimumHeight(42);
        b->setProperty("role", "source");
        reg(outlet, b);
        ui_.setImage(outlet, image);
        if (!profiles) {
            lv->addWidget(b);
            continue;
        }
        auto* row = new QHBoxLayout;
        row->setSpacing(2);
        row->addWidget(b, 1);
        auto* more = new QToolButton;
        more->setPopupMode(QToolButton::InstantPopup);
        more->setIcon(QIcon(":/assets/chevrondown.svg"));
        more->setIconSize(QSize(12, 12));
        more->setAutoRaise(true);
        more->setStyleSheet("QToolButton::menu-indicator { image: none; width: 0px; }");  // the arrow says it
        more->setFixedWidth(22);
        more->setMinimumHeight(42);
        const QString moreTitle = localized("%1 Profiles").arg(localized(title));
        more->setToolTip(moreTitle);
        more->setAccessibleName(moreTitle);
        more->setMenu(new QMenu(more));  // filled each time it opens
        reg(profiles, more);
        row->addWidget(more);
        lv->addLayout(row);
    }
    lv->addStretch(1);

    // The keep-list: sites whose cookies no removal takes.
    auto* keepTitle = heading(localized("Always Keep"), "body");
    keepTitle->setToolTip(localized("Cookies of these sites are never removed."));
    lv->addWidget(keepTitle);
    auto* keepList = new QListWidget;
    keepList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    keepList->setFixedHeight(110);
    keepList->setAccessibleName(localized("Always Keep"));
    reg(outlet::cookieKeepList, keepList);
    lv->addWidget(keepList);
    auto* keepField = new QLineEdit;
    keepField->setPlaceholderText("example.org");
    keepField->setAccessibleName(localized("Site to keep"));
    reg(outlet::cookieKeepField, keepField);
    connect(keepField, &QLineEdit::returnPressed, this, [this] { run(&Commands::addKeepDomain); });
    lv->addWidget(keepField);
    auto* keepButtons = new QHBoxLayout;
    keepButtons->setSpacing(4);
    keepButtons->addWidget(commandButton(localized("Add"), {}, &Commands::addKeepDomain));
    keepButtons->addWidget(commandButton(localized("Remove"), {}, &Commands::removeKeepDomain));
    lv->addLayout(keepButtons);
    body->addWidget(left);

    auto* right = new QFrame;
    right->setProperty("role", "card");
    reg(outlet::rightView, right);
    auto* rv = new QVBoxLayout(right);
    rv->setContentsMargins(0, 0, 0, 0);
    auto* open = new QWidget;
    reg(outlet::openView, open);
    auto* ov = new QVBoxLayout(open);
    ov->addStretch(1);
    auto* pic = picture("navcookie_on", 72);
    pic->setAlignment(Qt::AlignCenter);
    ov->addWidget(pic);
    auto* hint = heading(localized("Choose a browser on the left to read its cookies."), "body");
    hint->setAlignment(Qt::AlignCenter);
    ov->addWidget(hint);
    ov->addStretch(1);
    rv->addWidget(open);

    auto* content = new QWidget;
    reg(outlet::theConentView, content);
    auto* cv = new QVBoxLayout(content);
    cv->setContentsMargins(12, 12, 12, 12);
    auto* table = new WithEmptyHint<QTableView>(localized("No cookies in this store."));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    // Wide columns scroll inside the table; they never widen the window.
    table->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Expanding);
    table->setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    reg(outlet::dataTableView, table);
    cv->addWidget(table, 1);
    auto* actions = new QHBoxLayout;
    actions->addStretch(1);
    actions->addWidget(commandButton(localized("Export…"), {}, &Commands::exportCookies));
    actions->addWidget(commandButton(localized("Remove Selected"), {}, &Commands::removeSelectedCookies));
    actions->addWidget(commandButton(localized("Remove All"), {}, &Commands::removeCookies, true));
    cv->addLayout(actions);
    rv->addWidget(content);
    content->hide();
    // Outside both views: the first scan shows it while the hint is still up.
    auto* progress = new QProgressBar;
    progress->setRange(0, 0);
    progress->setMaximumWidth(160);
    progress->setTextVisible(false);
    reg(outlet::theProgressor, progress);
    rv->addWidget(progress, 0, Qt::AlignHCenter);
    rv->addSpacing(10);
    body->addWidget(right, 1);
    v->addLayout(body, 1);
}

// ---- Cookie table -----------------------------------------------------------------------------

CookieTableModel::CookieTableModel(const Records& source, QObject* parent)
    : QAbstractTableModel(parent), source_(source) {}

void CookieTableModel::reload() {
    beginResetModel();
    rows_ = source_;
    applySort();
    endResetModel();
}

std::shared_ptr<PRCookFileNode> CookieTableModel::recordAt(int row) const {
    return row >= 0 && row < static_cast<int>(rows_.size()) ? rows_[static_cast<size_t>(row)] : nullptr;
}

int CookieTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int CookieTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : 7; }

QString CookieTableModel::cell(const PRCookFileNode& r, int column) const {
    switch (column) {
        case 0:
            return q(r.fileHost());
        case 1:
            return q(r.fileName());
        case 2:
            return q(r.secureValue());
        case 3:
            return q(r.filePath());
        case 4:
            return q(r.expiredDate());
        case 5:
            return q(r.fileValue());
        case 6:
            return q(r.container());  // Firefox containers
        default:
            return {};
    }
}

QVariant CookieTableModel::data(const QModelIndex& index, int role) const {
    const auto record = recordAt(index.row());
    if (!record) return {};
    if (role == Qt::DisplayRole) return cell(*record, index.column());
    // Rows whose expiry has passed are greyed, and say why.
    if (role == Qt::ToolTipRole)
        return record->hasExpired() ? QCoreApplication::translate("Vaultry", "Expired")
                                    : cell(*record, index.column());
    if (role == Qt::ForegroundRole && record->hasExpired()) return QBrush(QColor("#94a3b8"));
    return {};
}

QVariant CookieTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
    static const char* titles[] = {"Website", "Name", "Secure", "Path", "Expires", "Value", "Container"};
    return section >= 0 && section < 7 ? QCoreApplication::translate("Vaultry", titles[section]) : QVariant();
}

void CookieTableModel::sort(int column, Qt::SortOrder order) {
    if (column >= 7) return;
    if (column < 0) {  // no sort indicator: the records' own order
        beginResetModel();
        sortColumn_ = -1;
        rows_ = source_;
        endResetModel();
        return;
    }
    emit layoutAboutToBeChanged();
    sortColumn_ = column;
    order_ = order;
    applySort();
    emit layoutChanged();
}

void CookieTableModel::applySort() {
    if (sortColumn_ < 0 || rows_.size() < 2) return;
    // Each key is read once; the comparisons then touch no record.
    std::vector<QString> keys(rows_.size());
    for (size_t i = 0; i < rows_.size(); ++i) keys[i] = cell(*rows_[i], sortColumn_);
    std::vector<size_t> order(rows_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    const bool up = order_ == Qt::AscendingOrder;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const int c = QString::compare(keys[a], keys[b], Qt::CaseInsensitive);
        return up ? c < 0 : c > 0;
    });
    Records sorted;
    sorted.reserve(rows_.size());
    for (size_t i : order) sorted.push_back(std::move(rows_[i]));
    rows_ = std::move(sorted);
}

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

CookieTableModel* bindCookiePage(QtUi& ui, AppDelegate& delegate) {
    CookieTableModel* model = nullptr;
    if (auto* table = ui.widget<QTableView>(outlet::dataTableView)) {
        model = new CookieTableModel(delegate.cookieRecords(), table);
        table->setModel(model);
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
    return model;
}

void wireCookieCommands(Commands& c, QtUi& ui, AppDelegate& d) {
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
}

}  // namespace vaultry::qt
