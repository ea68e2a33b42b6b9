#include "platform/qt/Windows.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/NotificationCenter.h"
#include "app/Notifications.h"
#include "desktop/PPopoverviewConterller.h"
#include "platform/Version.h"
#include "platform/qt/QtUi.h"
#include "platform/qt/SkinWidgets.h"
#include "platform/qt/VaultTable.h"

namespace vaultry::qt {
namespace {

QString localized(const char* s) { return QCoreApplication::translate("Vaultry", s); }

QIcon named(const char* name) { return iconFor(platform::ImageRef::named(name)); }

QLabel* heading(const QString& text, const char* role = "title") {
    auto* l = new QLabel(text);
    l->setProperty("role", role);
    l->setWordWrap(true);
    return l;
}

QLabel* warning(const QString& text) {
    auto* l = new QLabel(text);
    l->setProperty("role", "warning");
    l->setWordWrap(true);
    return l;
}

QLineEdit* secureField(const QString& placeholder) {
    auto* e = new QLineEdit;
    e->setEchoMode(QLineEdit::Password);
    e->setPlaceholderText(placeholder);
    e->setMinimumHeight(34);
    return e;
}

// A banner across the top of a skinned window with its title and the window's close button.
QWidget* banner(ImageView* view, const QString& title, const QString& subtitle, PRClosedButton* close) {
    view->setFixedHeight(76);
    view->setTitle(title, subtitle);
    auto* row = new QHBoxLayout(view);
    row->setContentsMargins(0, 10, 12, 0);
    row->addStretch(1);
    if (close) {
        close->setIcon(named("Close_Nom.png"));
        close->setIconSize(QSize(22, 22));
        close->setFixedSize(26, 26);
        close->setToolTip(localized("Close"));
        close->setProperty("closeButton", true);
        row->addWidget(close, 0, Qt::AlignTop);
    }
    return view;
}

void faceButton(SkinButton* b, const char* image, const QString& title, QSize size,
                QColor titleColour = Qt::white) {
    b->setIcon(named(image));
    b->setText(title);
    b->setFace(true, titleColour);
    b->setFixedSize(size);
}

// Tables and browsers say what will appear in them while they are empty.
template <typename View>
class WithEmptyHint final : public View {
public:
    explicit WithEmptyHint(QString hint) : hint_(std::move(hint)) {}

protected:
    void paintEvent(QPaintEvent* event) override {
        View::paintEvent(event);
        if (this->model() && this->model()->rowCount() > 0) return;
        QPainter p(this->viewport());
        p.setPen(QColor("#94a3b8"));
        p.drawText(this->viewport()->rect().adjusted(24, 0, -24, 0), Qt::AlignCenter | Qt::TextWordWrap,
                   hint_);
    }

private:
    QString hint_;
};

// Hands a widget's key presses to a function first; it returns true for those it took.
class KeyHandler final : public QObject {
public:
    KeyHandler(QObject* parent, std::function<bool(QKeyEvent*)> handle)
        : QObject(parent), handle_(std::move(handle)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        return event->type() == QEvent::KeyPress && handle_(static_cast<QKeyEvent*>(event));
    }

private:
    std::function<bool(QKeyEvent*)> handle_;
};

QFrame* card() {
    auto* f = new QFrame;
    f->setProperty("role", "card");
    return f;
}

}  // namespace

Windows::Windows(QtUi& ui, NotificationCenter& nc, Commands& commands)
    : ui_(ui), nc_(nc), commands_(commands) {
    buildMain();
    buildVaultWindow();
    buildConnectWindow();
    popoverContent_ = buildPopoverContent();
    buildAutoTrashWindow();
    buildPreferences();
    buildCreatePassword();
    buildEnterPassword();
    buildAbout();
    buildUpdateWindows();
}

Windows::~Windows() {
    nc_.removeObserver(filterObserver_);
    for (auto& [name, w] : topLevels_)
        if (w) delete w.data();
}

void Windows::run(Commands::Fn Commands::*command) {
    if (const auto& fn = commands_.*command) fn();
}

void Windows::reg(const std::string& name, QObject* object) {
    object->setObjectName(QString::fromStdString(name));
    ui_.registerOutlet(name, object);
    if (auto* w = qobject_cast<QWidget*>(object); w && w->isWindow()) topLevels_[name] = w;
}

QAbstractButton* Windows::commandButton(const QString& title, const QString& image,
                                        Commands::Fn Commands::*command, bool primary) {
    auto* b = new QPushButton(title);
    if (!image.isEmpty() && !primary) {  // the glyphs are drawn for light grounds
        b->setIcon(named(image.toUtf8().constData()));
        b->setIconSize(QSize(18, 18));
    }
    b->setProperty("primary", primary);
    b->setCursor(Qt::PointingHandCursor);
    b->setMinimumHeight(34);
    connect(b, &QPushButton::clicked, this, [this, command] {
        if (const auto& fn = commands_.*command) fn();
    });
    return b;
}

// ---- Main window ------------------------------------------------------------------------------

void Windows::buildMain() {
    main_ = new QMainWindow;
    main_->setWindowTitle("Vaultry");
    main_->setWindowIcon(named("appicon"));
    main_->resize(920, 600);
    reg("window", main_);

    auto* central = new QWidget;
    auto* row = new QHBoxLayout(central);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* side = new QFrame;
    side->setProperty("role", "sidebar");
    side->setFixedWidth(210);
    auto* sideLayout = new QVBoxLayout(side);
    sideLayout->setContentsMargins(14, 18, 14, 14);
    sideLayout->setSpacing(4);
    auto* brand = new QHBoxLayout;
    auto* logo = new QLabel;
    logo->setPixmap(named("appicon").pixmap(QSize(34, 34), side->devicePixelRatioF()));
    brand->addWidget(logo);
    auto* name = heading("Vaultry", "brand");
    brand->addWidget(name, 1);
    sideLayout->addLayout(brand);
    sideLayout->addSpacing(18);

    auto* group = new QButtonGroup(this);
    const std::pair<const char*, const char*> items[] = {
        {"Vault", "navvault"}, {"Desktop", "navdesktop"}, {"Trash", "navtrash"}, {"Cookies", "navcookie"}};
    int index = 0;
    for (const auto& [title, image] : items) {
        auto* b = new QToolButton;
        b->setText(localized(title));
        b->setIcon(named(image));
        b->setIconSize(QSize(20, 20));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setCheckable(true);
        b->setProperty("role", "nav");
        b->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        b->setMinimumHeight(40);
        b->setCursor(Qt::PointingHandCursor);
        group->addButton(b, index);
        sideLayout->addWidget(b);
        nav_.push_back(b);
        ++index;
    }
    sideLayout->addStretch(1);
    trayBar_ = new QWidget;
    auto* trayLayout = new QVBoxLayout(trayBar_);
    trayLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(trayBar_);
    trayBar_->hide();
    auto* version = new QLabel(localized("Version %1").arg(kVersion));
    version->setProperty("role", "faint");
    sideLayout->addWidget(version);
    row->addWidget(side);

    pages_ = new QStackedWidget;
    pages_->addWidget(buildVaultPage());
    pages_->addWidget(buildDesktopPage());
    pages_->addWidget(buildTrashPage());
    pages_->addWidget(buildCookiePage());
    row->addWidget(pages_, 1);
    connect(group, &QButtonGroup::idClicked, this, [this](int id) { showPage(static_cast<Page>(id)); });
    main_->setCentralWidget(central);
    showPage(Page::Vault);
}

void Windows::showPage(Page page) {
    const int i = static_cast<int>(page);
    pages_->setCurrentIndex(i);
    for (size_t n = 0; n < nav_.size(); ++n) {
        nav_[n]->setChecked(static_cast<int>(n) == i);
        static const char* icons[] = {"navvault", "navdesktop", "navtrash", "navcookie"};
        nav_[n]->setIcon(named((std::string(icons[n]) + (static_cast<int>(n) == i ? "_on" : "")).c_str()));
    }
    if (page == Page::Trash) run(&Commands::trashPageShown);
}

Windows::Page Windows::currentPage() const { return static_cast<Page>(pages_->currentIndex()); }

void Windows::offerTrayCommands(QMenu* menu, std::function<void(QWidget*)> openPopover) {
    auto* layout = static_cast<QVBoxLayout*>(trayBar_->layout());
    auto* panel = new QPushButton(localized("Quick Panel"));
    panel->setIcon(named("bannerIcon"));
    panel->setMinimumHeight(34);
    connect(panel, &QPushButton::clicked, this, [panel, openPopover] { openPopover(panel); });
    auto* more = new QPushButton(localized("Commands"));
    more->setIcon(named("NSActionTemplate"));
    more->setMinimumHeight(34);
    more->setMenu(menu);
    layout->addWidget(panel);
    layout->addWidget(more);
    trayBar_->show();
}

QWidget* Windows::buildVaultPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(36, 32, 36, 28);
    v->setSpacing(14);
    v->addWidget(heading(localized("Your private vault")));
    v->addWidget(
        heading(localized("Hide files in place or lock them into encrypted archives. One password opens "
                          "the vault and the preferences."),
                "subtitle"));
    v->addSpacing(8);

    auto* hero = card();
    auto* h = new QHBoxLayout(hero);
    h->setContentsMargins(22, 22, 22, 22);
    h->setSpacing(18);
    auto* pic = new QLabel;
    pic->setPixmap(named("foldericns.png").pixmap(QSize(84, 84), page->devicePixelRatioF()));
    h->addWidget(pic);
    auto* text = new QVBoxLayout;
    text->addWidget(heading(localized("Vault"), "cardtitle"));
    text->addWidget(heading(
        localized("See every protected item, unlock it for a while, reveal it or lock it again."), "body"));
    text->addStretch(1);
    h->addLayout(text, 1);
    h->addWidget(commandButton(localized("Open Vault"), "navunlock", &Commands::openVault, true), 0,
                 Qt::AlignVCenter);
    v->addWidget(hero);

    auto* grid = new QHBoxLayout;
    grid->setSpacing(14);
    const struct {
        const char* title;
        const char* body;
        const char* icon;
        Commands::Fn Commands::*command;
        const char* button;
    } tiles[] = {
        {"Hide", "Hidden items stay where they are, out of sight in file browsers.", "navlock",
         &Commands::hideFiles, "Hide Items…"},
        {"Encrypt", "Files and folders are packed into archives only your password opens.", "navvault",
         &Commands::encryptFiles, "Encrypt Items…"},
        {"Unhide", "Bring hidden items back into view.", "navunlock", &Commands::unhideFiles,
         "Unhide Items…"},
    };
    for (const auto& t : tiles) {
        auto* c = card();
        auto* cv = new QVBoxLayout(c);
        cv->setContentsMargins(18, 18, 18, 18);
        auto* icon = new QLabel;
        icon->setPixmap(named(t.icon).pixmap(QSize(26, 26), page->devicePixelRatioF()));
        cv->addWidget(icon);
        cv->addWidget(heading(localized(t.title), "cardtitle"));
        cv->addWidget(heading(localized(t.body), "body"));
        cv->addStretch(1);
        cv->addWidget(commandButton(localized(t.button), {}, t.command));
        grid->addWidget(c, 1);
    }
    v->addLayout(grid, 1);
    auto* foot = new QHBoxLayout;
    foot->addStretch(1);
    foot->addWidget(commandButton(localized("Preferences…"), "NSActionTemplate", &Commands::preferences));
    v->addLayout(foot);
    return page;
}

QWidget* Windows::buildDesktopPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(36, 32, 36, 28);
    v->setSpacing(12);
    auto* top = new QHBoxLayout;
    auto* titles = new QVBoxLayout;
    titles->addWidget(heading(localized("Desktop")));
    titles->addWidget(heading(localized("Everything tidied off your desktop, sorted by kind."), "subtitle"));
    top->addLayout(titles, 1);
    top->addWidget(commandButton(localized("Tidy Desktop Now"), "navcheck", &Commands::tidyDesktop, true), 0,
                   Qt::AlignVCenter);
    v->addLayout(top);

    auto* kinds = new QHBoxLayout;
    kinds->setSpacing(10);
    auto* back = new QToolButton;
    back->setText("‹");
    back->setToolTip(localized("Back"));
    back->setProperty("role", "round");
    back->setFixedSize(36, 36);
    connect(back, &QToolButton::clicked, this, [this] {
        if (commands_.browserBack) commands_.browserBack();
    });
    kinds->addWidget(back);
    kinds->addSpacing(8);
    const std::tuple<const char*, const char*, const char*> buttons[] = {
        {"currentDesktopBtn", "currentBigDesktopdown.png", "All items"},
        {"pictureBtn", "picbignom.png", "Pictures"},
        {"documentBtn", "docbignom.png", "Documents"},
        {"archiveBtn", "archbignom.png", "Archives"},
        {"folerBtn", "folderbignom.png", "Folders"},
        {"otherBtn", "otherbignom.png", "Others"}};
    for (const auto& [outlet, image, tip] : buttons) {
        auto* b = new FBLeftButton(nc_);
        b->setIcon(named(image));
        b->setIconSize(QSize(44, 44));
        b->setFixedSize(48, 48);
        b->setToolTip(localized(tip));
        reg(outlet, b);
        ui_.setImage(outlet, image);
        kinds->addWidget(b);
    }
    kinds->addStretch(1);
    v->addLayout(kinds);

    auto* browser = new WithEmptyHint<QListView>(
        localized("Nothing here yet. Tidy your desktop and its items appear here, sorted by kind."));
    browser->setViewMode(QListView::IconMode);
    browser->setIconSize(QSize(64, 64));
    browser->setGridSize(QSize(85 + 30, 85 + 30));
    browser->setSpacing(0);
    browser->setResizeMode(QListView::Adjust);
    browser->setMovement(QListView::Static);
    browser->setSelectionMode(QAbstractItemView::ExtendedSelection);
    browser->setUniformItemSizes(false);  // names wrap onto a second line as they need
    browser->setWordWrap(true);
    browser->setProperty("role", "well");
    reg("theBroswerView", browser);
    auto* row = new QHBoxLayout;
    row->setSpacing(14);
    row->addWidget(browser, 1);
    auto* panel = card();
    panel->setFixedWidth(200);
    auto* pv = new QVBoxLayout(panel);
    pv->setContentsMargins(14, 14, 14, 14);
    pv->addWidget(heading(localized("Details"), "cardtitle"));
    auto* details = new QLabel;
    details->setWordWrap(true);
    details->setTextFormat(Qt::RichText);
    details->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    details->setTextInteractionFlags(Qt::TextSelectableByMouse);
    reg("browserDetailsLab", details);
    pv->addWidget(details);
    pv->addStretch(1);
    row->addWidget(panel);
    v->addLayout(row, 1);
    return page;
}

QWidget* Windows::buildTrashPage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(36, 32, 36, 28);
    v->setSpacing(14);
    v->addWidget(heading(localized("Trash")));
    v->addWidget(
        heading(localized("Empty the Trash now, on a schedule or once it grows too large, and erase files so "
                          "they cannot be recovered."),
                "subtitle"));
    v->addSpacing(8);
    const struct {
        const char* title;
        const char* body;
        const char* icon;
        Commands::Fn Commands::*command;
        const char* button;
        bool primary;
    } tiles[] = {
        {"Empty Trash", "Remove everything in the Trash for good.", "navtrash", &Commands::emptyTrash,
         "Empty Trash…", true},
        {"Secure Erase", "Overwrite chosen files and folders before deleting them.", "navtarget",
         &Commands::secureErase, "Erase Items…", false},
        {"Automatic Emptying", "Empty the Trash after a while or above a size you choose.", "navdisk",
         &Commands::automaticTrash, "Schedule…", false},
    };
    auto* grid = new QHBoxLayout;
    grid->setSpacing(14);
    for (const auto& t : tiles) {
        auto* c = card();
        auto* cv = new QVBoxLayout(c);
        cv->setContentsMargins(18, 18, 18, 18);
        auto* icon = new QLabel;
        icon->setPixmap(named(t.icon).pixmap(QSize(26, 26), page->devicePixelRatioF()));
        cv->addWidget(icon);
        cv->addWidget(heading(localized(t.title), "cardtitle"));
        cv->addWidget(heading(localized(t.body), "body"));
        cv->addStretch(1);
        cv->addWidget(commandButton(localized(t.button), {}, t.command, t.primary));
        grid->addWidget(c, 1);
    }
    v->addLayout(grid);

    auto* status = card();
    auto* sv = new QHBoxLayout(status);
    sv->setContentsMargins(18, 16, 18, 16);
    sv->setSpacing(14);
    auto* bin = new QLabel;
    bin->setPixmap(named("navtrash_on").pixmap(QSize(40, 40), page->devicePixelRatioF()));
    sv->addWidget(bin, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* size = heading("—", "cardtitle");
    reg("trashSizelab", size);
    texts->addWidget(heading(localized("In the Trash now"), "subtitle"));
    texts->addWidget(size);
    auto* last = heading({}, "body");
    reg("trashLastCleanlab", last);
    texts->addWidget(last);
    auto* erase = heading({}, "body");
    reg("eraseProgresslab", erase);
    erase->hide();
    texts->addWidget(erase);
    sv->addLayout(texts, 1);
    v->addWidget(status);
    v->addStretch(1);
    return page;
}

QWidget* Windows::buildCookiePage() {
    auto* page = new QWidget;
    auto* v = new QVBoxLayout(page);
    v->setContentsMargins(36, 32, 36, 28);
    v->setSpacing(12);
    v->addWidget(heading(localized("Cookies")));
    v->addWidget(
        heading(localized("Read what your browsers keep about you, export it or clear it."), "subtitle"));

    auto* body = new QHBoxLayout;
    body->setSpacing(16);
    auto* left = new QFrame;
    left->setProperty("role", "card");
    left->setFixedWidth(150);
    reg("leftView", left);
    auto* lv = new QVBoxLayout(left);
    lv->setContentsMargins(10, 12, 10, 12);
    lv->setSpacing(6);
    const std::tuple<const char*, const char*, const char*> sources[] = {
        {"safariCookieBtn", "Safaricookienom.png", "Safari"},
        {"chromeCookieBtn", "chromecookienom.png", "Chrome"},
        {"firefoxCookieBtn", "firefoxcookienom.png", "Firefox"},
        {"openCookieBtn", "opencookienom.png", "Open File…"},
        {"newCookieBtn", "newcookienom.png", "Last File"}};
    for (const auto& [outlet, image, title] : sources) {
        auto* b = new PRLeftTipButton(nc_);
        b->setText(localized(title));
        b->setIconSize(QSize(30, 30));
        b->setMinimumHeight(42);
        b->setProperty("role", "source");
        reg(outlet, b);
        ui_.setImage(outlet, image);
        lv->addWidget(b);
    }
    lv->addStretch(1);
    body->addWidget(left);

    auto* right = new QFrame;
    right->setProperty("role", "card");
    reg("rightView", right);
    auto* rv = new QVBoxLayout(right);
    rv->setContentsMargins(0, 0, 0, 0);
    auto* open = new QWidget;
    reg("openView", open);
    auto* ov = new QVBoxLayout(open);
    ov->addStretch(1);
    auto* pic = new QLabel;
    pic->setPixmap(named("navcookie_on").pixmap(QSize(72, 72), page->devicePixelRatioF()));
    pic->setAlignment(Qt::AlignCenter);
    ov->addWidget(pic);
    auto* hint = heading(localized("Choose a browser on the left to read its cookies."), "body");
    hint->setAlignment(Qt::AlignCenter);
    ov->addWidget(hint);
    ov->addStretch(1);
    rv->addWidget(open);

    auto* content = new QWidget;
    reg("theConentView", content);
    auto* cv = new QVBoxLayout(content);
    cv->setContentsMargins(12, 12, 12, 12);
    auto* table = new WithEmptyHint<QTableView>(localized("No cookies in this store."));
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->verticalHeader()->hide();
    table->horizontalHeader()->setStretchLastSection(true);
    table->setAlternatingRowColors(true);
    table->setShowGrid(false);
    reg("dataTableView", table);
    cv->addWidget(table, 1);
    auto* actions = new QHBoxLayout;
    auto* progress = new QProgressBar;
    progress->setRange(0, 0);
    progress->setMaximumWidth(160);
    progress->setTextVisible(false);
    reg("theProgressor", progress);
    actions->addWidget(progress);
    actions->addStretch(1);
    actions->addWidget(commandButton(localized("Export…"), {}, &Commands::exportCookies));
    actions->addWidget(commandButton(localized("Remove All"), {}, &Commands::removeCookies, true));
    cv->addLayout(actions);
    rv->addWidget(content);
    content->hide();
    body->addWidget(right, 1);
    v->addLayout(body, 1);
    return page;
}

// ---- Vault window -----------------------------------------------------------------------------

void Windows::buildVaultWindow() {
    auto* w = new PRCustomeWindow;
    w->setWindowTitle(localized("Vaultry Vault"));
    w->resize(780, 540);
    w->setMinimumSize(620, 420);
    reg("thefileManageWindow", w);

    auto* v = new QVBoxLayout(w->body());
    v->setContentsMargins(0, 0, 0, 0);
    v->setSpacing(0);
    auto* close = new PRClosedButton(nc_);
    reg("closedFileWindowButton", close);
    auto* top = banner(new ImageView("filetopbanner.png"), localized("Vault"),
                       localized("Locked items need your password; unlocked ones can be revealed."), close);
    v->addWidget(top);

    auto* bar = new QWidget;
    bar->setProperty("role", "toolbar");
    auto* b = new QHBoxLayout(bar);
    b->setContentsMargins(16, 10, 16, 10);
    b->setSpacing(4);
    const std::tuple<const char*, const char*, const char*> filters[] = {
        {"selectAllBtn", "allnom", "All"},           {"selectImageBtn", "imagenom", "Images"},
        {"selectDocBtn", "docnom", "Docs"},          {"selectVideoBtn", "medianom", "Media"},
        {"selectFolderBtn", "foldernom", "Folders"}, {"selectOtherBtn", "othernom", "Other"}};
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
    table->installEventFilter(new KeyHandler(table, [this, table, model](QKeyEvent* key) {
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
    }));
    reg("fileTableView", table);
    ui_.registerReloader("fileTableView", [model] { model->reload(); });
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

// ---- Access window ----------------------------------------------------------------------------

void Windows::buildConnectWindow() {
    auto* w = new QWidget(nullptr, Qt::Window);
    w->setWindowTitle(localized("Vaultry Access"));
    w->setFixedSize(480, 340);
    reg("connectWindow", w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);

    const auto page = [&](const char* outlet, const char* image, const QString& title, const QString& body,
                          const char* buttonOutlet, const char* face, const QString& buttonTitle) {
        auto* p = new QWidget;
        reg(outlet, p);
        auto* pv = new QVBoxLayout(p);
        pv->setContentsMargins(40, 34, 40, 30);
        pv->setSpacing(10);
        auto* pic = new QLabel;
        pic->setPixmap(named(image).pixmap(QSize(56, 56), w->devicePixelRatioF()));
        pic->setAlignment(Qt::AlignCenter);
        pv->addWidget(pic);
        auto* t = heading(title);
        t->setAlignment(Qt::AlignCenter);
        pv->addWidget(t);
        auto* s = heading(body, "subtitle");
        s->setAlignment(Qt::AlignCenter);
        pv->addWidget(s);
        pv->addStretch(1);
        auto* button = new PRLeftTipButton(nc_);
        faceButton(button, face, buttonTitle, QSize(220, 40));
        reg(buttonOutlet, button);
        pv->addWidget(button, 0, Qt::AlignHCenter);
        v->addWidget(p);
        return p;
    };
    page("connectView", "navtrash_on", localized("Allow access to the Trash"),
         localized("Vaultry measures and empties your Trash folder. Choose it once to grant access."),
         "connectBtn", "connectnombtn.png", localized("Grant Access…"));
    page("startTidyView", "navdesktop_on", localized("Where should tidied items go?"),
         localized("Choose a folder that will hold everything tidied off your desktop."), "tidybutton",
         "startlocationnombtn.png", localized("Choose Location…"))
        ->hide();
}

// ---- Popover content and the automatic-trash window -------------------------------------------

QWidget* Windows::buildPopoverContent() {
    auto* root = new QWidget;
    root->setObjectName("popoverContent");
    root->setMinimumSize(360, 470);
    auto* v = new QVBoxLayout(root);
    v->setContentsMargins(12, 12, 12, 12);
    auto* tabs = new QTabWidget;
    tabs->setObjectName("popoverTabs");
    tabs->setDocumentMode(true);
    v->addWidget(tabs, 1);

    // Tidy list.
    auto* tidy = new QWidget;
    auto* tv = new QVBoxLayout(tidy);
    tv->setContentsMargins(0, 10, 0, 0);
    auto* kinds = new QHBoxLayout;
    kinds->setSpacing(6);
    const std::pair<const char*, const char*> types[] = {
        {"allBtn", "alldownbbtn"}, {"imageBtn", "imagenombtn"},   {"docuBtn", "docnombtn"},
        {"zipBtn", "zipnombtn"},   {"folderBtn", "foldernombtn"}, {"tidyOtherBtn", "othernombbtn"}};
    for (const auto& [outlet, image] : types) {
        auto* b = new FBTypeButton(nc_);
        b->setIconSize(QSize(30, 30));
        b->setFixedSize(34, 34);
        reg(outlet, b);
        ui_.setImage(outlet, image);
        kinds->addWidget(b);
    }
    kinds->addStretch(1);
    tv->addLayout(kinds);
    auto* filterRow = new QHBoxLayout;
    auto* kindMenu = new QComboBox;
    for (const char* item : {"All Content", "Folders", "Pictures", "Documents", "Videos", "Audios", "Other"})
        kindMenu->addItem(localized(item));
    reg("thepBtn", kindMenu);
    connect(kindMenu, &QComboBox::activated, this, [this] { run(&Commands::tidyKindMenu); });
    auto* search = new QLineEdit;
    search->setPlaceholderText(localized("Search"));
    search->setClearButtonEnabled(true);
    reg("tidySearchField", search);
    ui_.registerOutlet(PPopoverviewConterller::kSearchField, search);  // the name the tidy list reads
    connect(search, &QLineEdit::textEdited, this, [this] { run(&Commands::tidySearch); });
    connect(search, &QLineEdit::returnPressed, this, [this] { run(&Commands::tidySearch); });
    filterRow->addWidget(kindMenu);
    filterRow->addWidget(search, 1);
    tv->addLayout(filterRow);
    auto* list = new WithEmptyHint<QTableView>(localized("Tidied desktop items appear here."));
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(true);
    list->setShowGrid(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setDragDropMode(QAbstractItemView::InternalMove);
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (const auto& [title, command] : {std::pair{"Open", &Commands::tidyOpen},
                                         {"Show in Folder", &Commands::tidyReveal},
                                         {"Copy", &Commands::tidyCopy},
                                         {"Restore to Desktop", &Commands::tidyRestore},
                                         {"Delete", &Commands::tidyDelete}}) {
        auto* a = new QAction(localized(title), list);
        connect(a, &QAction::triggered, this, [this, command = command] { run(command); });
        list->addAction(a);
    }
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { run(&Commands::tidyOpen); });
    reg("tidyTableView", list);
    tv->addWidget(list, 1);
    auto* tidyRow = new QHBoxLayout;
    auto* refresh = new QToolButton;
    refresh->setIcon(named("NSRefreshTemplate"));
    refresh->setAutoRaise(true);
    refresh->setToolTip(localized("Refresh"));
    reg("tidyRefreshBtn", refresh);
    connect(refresh, &QToolButton::clicked, this, [this] { run(&Commands::tidyRefresh); });
    auto* settings = new QToolButton;
    settings->setIcon(named("NSActionTemplate"));
    settings->setAutoRaise(true);
    settings->setToolTip(localized("Preferences"));
    connect(settings, &QToolButton::clicked, this, [this] {
        if (commands_.preferences) commands_.preferences();
    });
    reg("tidySettingsBtn", settings);
    auto* tidyNow = new QPushButton(localized("Tidy Now"));
    tidyNow->setProperty("primary", true);
    tidyNow->setMinimumHeight(32);
    reg("tidyNowBtn", tidyNow);
    connect(tidyNow, &QPushButton::clicked, this, [this] { run(&Commands::tidyNow); });
    tidyRow->addWidget(refresh);
    tidyRow->addWidget(settings);
    tidyRow->addStretch(1);
    tidyRow->addWidget(tidyNow);
    tv->addLayout(tidyRow);
    tabs->addTab(tidy, localized("Tidy"));

    // Trash settings.
    auto* trash = new QWidget;
    auto* form = new QVBoxLayout(trash);
    form->setContentsMargins(4, 14, 4, 4);
    form->setSpacing(10);
    auto* byTime = new QCheckBox(localized("Empty the Trash every"));
    reg("cleanTimeCheckBtn", byTime);
    connect(byTime, &QCheckBox::clicked, this, [this] { run(&Commands::trashChecksChanged); });
    auto* times = new QComboBox;
    for (const char* t : {"Daily", "Every Week", "Two Weeks", "Every Month", "Two Months"})
        times->addItem(localized(t));
    reg("theTimeBtn", times);
    connect(times, &QComboBox::activated, this, [this] { run(&Commands::trashTimeChanged); });
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(byTime);
    timeRow->addWidget(times, 1);
    form->addLayout(timeRow);
    auto* bySize = new QCheckBox(localized("Empty the Trash when it grows beyond"));
    reg("cleanStorageCheckBtn", bySize);
    connect(bySize, &QCheckBox::clicked, this, [this] { run(&Commands::trashChecksChanged); });
    form->addWidget(bySize);
    auto* sizeRow = new QHBoxLayout;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, static_cast<int>(PPopoverviewConterller::kStorageSliderMaximum));
    reg("storageSlider", slider);
    connect(slider, &QSlider::sliderReleased, this, [this] { run(&Commands::trashSizeMoved); });
    connect(slider, &QSlider::actionTriggered, this, [this, slider](int action) {
        if (action != QAbstractSlider::SliderMove)
            QTimer::singleShot(0, slider, [this] { run(&Commands::trashSizeMoved); });
    });
    auto* sizeText = new QLabel("1.0GB");
    sizeText->setMinimumWidth(64);
    sizeText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    reg("storagelab", sizeText);
    sizeRow->addWidget(slider, 1);
    sizeRow->addWidget(sizeText);
    form->addLayout(sizeRow);
    auto* last = card();
    auto* lv = new QFormLayout(last);
    lv->setContentsMargins(14, 12, 14, 12);
    auto* info = heading(localized("Last emptied"), "cardtitle");
    reg("lastCleanupInfolab", info);
    lv->addRow(info);
    auto* lastSize = new QLabel("—");
    reg("lastCleanupSizelab", lastSize);
    auto* lastDate = new QLabel("—");
    reg("lastCleanupDatelab", lastDate);
    lv->addRow(localized("Size:"), lastSize);
    lv->addRow(localized("Date:"), lastDate);
    form->addWidget(last);
    auto* login = new QCheckBox(localized("Start Vaultry at login"));
    reg("trashAutoLunchBtn", login);
    connect(login, &QCheckBox::clicked, this, [this] { run(&Commands::trashOnLogin); });
    form->addWidget(login);
    form->addStretch(1);
    tabs->addTab(trash, localized("Trash"));
    return root;
}

void Windows::buildAutoTrashWindow() {
    auto* w = new QWidget(nullptr, Qt::Window);
    w->setWindowTitle(localized("Automatic Trash"));
    w->resize(400, 520);
    reg("autoTrashWindow", w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    autoTrashHolder_ = w;
    v->addWidget(popoverContent_);
    // The automatic-trash window is about the trash settings; it opens on them.
    w->installEventFilter(this);
}

bool Windows::eventFilter(QObject* watched, QEvent* event) {
    if (watched == autoTrashHolder_ && event->type() == QEvent::Show)
        if (auto* tabs = popoverContent_->findChild<QTabWidget*>("popoverTabs"))
            if (popoverContent_->window() == autoTrashHolder_) tabs->setCurrentIndex(1);
    return QObject::eventFilter(watched, event);
}

void Windows::returnPopoverContent() {
    if (popoverContent_->parentWidget() == autoTrashHolder_) return;
    autoTrashHolder_->layout()->addWidget(popoverContent_);
    popoverContent_->show();
}

// ---- Preferences ------------------------------------------------------------------------------

Windows::Panel Windows::bannerWindow(const char* outlet, const QString& windowTitle, QSize size,
                                     ImageView* view, const QString& title, const QString& subtitle,
                                     const char* closeOutlet, QMargins margins) {
    auto* w = new SkinWindow;
    w->setWindowTitle(windowTitle);
    w->setFixedSize(size);
    reg(outlet, w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(1, 1, 1, 1);
    v->setSpacing(0);
    auto* close = new PRClosedButton(nc_);
    reg(closeOutlet, close);
    v->addWidget(banner(view, title, subtitle, close));
    auto* body = new QWidget;
    auto* bv = new QVBoxLayout(body);
    bv->setContentsMargins(margins);
    bv->setSpacing(10);
    v->addWidget(body, 1);
    return {w, bv};
}

void Windows::buildPreferences() {
    auto* bv =
        bannerWindow("preferWindows", localized("Vaultry Preferences"), QSize(500, 540), new PTopWindowView,
                     localized("Preferences"), localized("Storage, password and start-up"),
                     "closedPrefWindowButton", QMargins(24, 18, 24, 22))
            .body;

    bv->addWidget(heading(localized("Vault storage"), "section"));
    auto* store = card();
    auto* sv = new QVBoxLayout(store);
    sv->setContentsMargins(14, 12, 14, 12);
    auto* path = new QLabel(localized("No folder chosen yet"));
    path->setProperty("role", "path");
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path->setWordWrap(true);
    reg("StorePathlab", path);
    sv->addWidget(path);
    auto* storeRow = new QHBoxLayout;
    storeRow->addStretch(1);
    auto* select = new PRLeftTipButton(nc_);
    faceButton(select, "storagenom.png", localized("Choose…"), QSize(120, 32), QColor("#334155"));
    reg("selectStorageBtn", select);
    auto* change = new PRLeftTipButton(nc_);
    faceButton(change, "storagenom.png", localized("Move To…"), QSize(120, 32), QColor("#334155"));
    reg("changeStorageBtn", change);
    storeRow->addWidget(select);
    storeRow->addWidget(change);
    sv->addLayout(storeRow);
    bv->addWidget(store);

    bv->addSpacing(6);
    bv->addWidget(heading(localized("Change password"), "section"));
    auto* newPw = secureField(localized("New password"));
    reg("newPWLab", newPw);
    auto* confirm = secureField(localized("Confirm new password"));
    reg("confirmNewPWLab", confirm);
    bv->addWidget(newPw);
    bv->addWidget(confirm);
    auto* warn = warning(localized("The passwords do not match."));
    reg("warnnewPWlab", warn);
    bv->addWidget(warn);
    auto* pwRow = new QHBoxLayout;
    pwRow->addStretch(1);
    auto* changePw = new PRLeftTipButton(nc_);
    faceButton(changePw, "donenom.png", localized("Change Password"), QSize(160, 34));
    reg("changePassWordBtn", changePw);
    pwRow->addWidget(changePw);
    bv->addLayout(pwRow);

    bv->addSpacing(6);
    bv->addWidget(heading(localized("General"), "section"));
    auto* login = new QCheckBox(localized("Start Vaultry at login"));
    reg("autoLunchBtn", login);
    connect(login, &QCheckBox::clicked, this, [this] {
        if (commands_.sortelloOnLogin) commands_.sortelloOnLogin();
    });
    bv->addWidget(login);
    // The trash settings carry the same login switch; both show one state.
    if (auto* twin = ui_.widget<QCheckBox>("trashAutoLunchBtn")) {
        connect(login, &QCheckBox::toggled, twin, &QCheckBox::setChecked);
        connect(twin, &QCheckBox::toggled, login, &QCheckBox::setChecked);
    }
    auto* tidyRow = new QHBoxLayout;
    auto* autoTidy = new QCheckBox(localized("Tidy the desktop every day at"));
    reg("autoCleanupSelectBtn", autoTidy);
    connect(autoTidy, &QCheckBox::clicked, this, [this] {
        if (commands_.autoTidyDesktop) commands_.autoTidyDesktop();
    });
    auto* time = new QTimeEdit(QTime(18, 0));
    time->setDisplayFormat("HH:mm");
    time->setButtonSymbols(QAbstractSpinBox::NoButtons);
    time->setAlignment(Qt::AlignCenter);
    time->setToolTip(localized("Scroll or type to change the time"));
    time->setMinimumHeight(30);
    reg("tidyTimePicker", time);
    tidyRow->addWidget(autoTidy);
    tidyRow->addWidget(time);
    tidyRow->addStretch(1);
    bv->addLayout(tidyRow);
    bv->addStretch(1);
}

// ---- Password windows -------------------------------------------------------------------------

void Windows::buildCreatePassword() {
    auto* bv = bannerWindow("CreatePWWindow", localized("Create Password"), QSize(420, 380), new PWindowView,
                            localized("Create your vault password"),
                            localized("It opens the vault and locks your archives."), "closedButton",
                            QMargins(28, 22, 28, 24))
                   .body;
    auto* first = secureField(localized("Password"));
    reg("theCreatePWLab", first);
    auto* second = secureField(localized("Confirm password"));
    reg("theConfirmPWLab", second);
    bv->addWidget(first);
    bv->addWidget(second);
    auto* warn = warning(localized("The passwords do not match. Please type them again."));
    reg("warnlab", warn);
    bv->addWidget(warn);
    bv->addWidget(heading(
        localized("There is no way to recover a forgotten password. Keep it somewhere safe."), "faint"));
    bv->addStretch(1);
    auto* done = new PRClosedButton(nc_);
    faceButton(done, "donenom.png", localized("Create Password"), QSize(180, 36));
    reg("doneButton", done);
    bv->addWidget(done, 0, Qt::AlignRight);
}

void Windows::buildEnterPassword() {
    const auto [w, bv] =
        bannerWindow("enterPDWindow", localized("Enter Password"), QSize(420, 300), new PDWindowView,
                     localized("Unlock Vaultry"), localized("Enter your vault password to continue."),
                     "closedPDWindowButton", QMargins(28, 22, 28, 24));
    auto* field = secureField(localized("Password"));
    reg("enterPWLab", field);
    connect(field, &QLineEdit::returnPressed, this, [this] {
        if (commands_.returnOnPasswordField) commands_.returnOnPasswordField();
    });
    bv->addWidget(field);
    auto* warn = warning(localized("Wrong password. Please try again."));
    reg("enterPDWarnLab", warn);
    bv->addWidget(warn);
    bv->addStretch(1);
    auto* enter = new PRClosedButton(nc_);
    faceButton(enter, "donenom.png", localized("Unlock"), QSize(140, 36));
    reg("enterPDButton", enter);
    bv->addWidget(enter, 0, Qt::AlignRight);
    w->setFocusProxy(field);
}

void Windows::buildAbout() {
    auto* w = new QWidget(nullptr, Qt::Window);
    w->setWindowTitle(localized("About Vaultry"));
    w->setFixedSize(360, 300);
    reg("aboutWindow", w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(30, 30, 30, 26);
    v->setSpacing(6);
    auto* pic = new QLabel;
    pic->setPixmap(named("appicon").pixmap(QSize(88, 88), w->devicePixelRatioF()));
    pic->setAlignment(Qt::AlignCenter);
    v->addWidget(pic);
    v->addSpacing(6);
    auto* name = heading("Vaultry");
    name->setAlignment(Qt::AlignCenter);
    v->addWidget(name);
    auto* version = heading(localized("Version %1").arg(kVersion), "subtitle");
    version->setAlignment(Qt::AlignCenter);
    v->addWidget(version);
    v->addSpacing(8);
    auto* blurb =
        heading(localized("A vault for your private files, a tidy desktop, a clean Trash and a close look "
                          "at your browser cookies."),
                "body");
    blurb->setAlignment(Qt::AlignCenter);
    v->addWidget(blurb);
    v->addStretch(1);
}

// ---- Update windows ---------------------------------------------------------------------------

void Windows::buildUpdateWindows() {
    auto* w = new QWidget(nullptr, Qt::Window);
    w->setWindowTitle(localized("Software Update"));
    w->setFixedSize(480, 380);
    reg("UpdateWindow", w);
    auto* outer = new QVBoxLayout(w);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    auto* v = new QVBoxLayout;
    v->setContentsMargins(28, 24, 28, 16);
    v->setSpacing(8);
    outer->addLayout(v, 1);
    auto* top = new QHBoxLayout;
    auto* pic = new QLabel;
    pic->setPixmap(named("appicon").pixmap(QSize(56, 56), w->devicePixelRatioF()));
    top->addWidget(pic, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    auto* fresh = heading(localized("A new version of Vaultry is available."), "cardtitle");
    reg("newversionlab", fresh);
    auto* current = heading({}, "body");
    reg("currentversionlab", current);
    texts->addWidget(fresh);
    texts->addWidget(current);
    top->addLayout(texts, 1);
    v->addLayout(top);
    v->addWidget(heading(localized("What's new"), "section"));
    auto* notes = new QTextEdit;
    notes->setReadOnly(true);
    notes->setAcceptRichText(false);
    reg("whatsnewContentView", notes);
    v->addWidget(notes, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(commandButton(localized("Not Now"), {}, &Commands::updateNotNow));
    buttons->addWidget(commandButton(localized("Download"), {}, &Commands::updateDownload, true));
    v->addLayout(buttons);
    auto* bottom = new QLabel;
    bottom->setFixedHeight(36);
    bottom->setScaledContents(false);
    bottom->setPixmap(named("mainBottomImage.png").pixmap(QSize(480, 36), w->devicePixelRatioF()));
    reg("bottomImageView", bottom);
    outer->addWidget(bottom);

    auto* none = new QWidget(nullptr, Qt::Window);
    none->setWindowTitle(localized("Software Update"));
    none->setFixedSize(380, 170);
    reg("noUpdateWindow", none);
    auto* nv = new QVBoxLayout(none);
    nv->setContentsMargins(26, 22, 26, 20);
    auto* row = new QHBoxLayout;
    auto* icon = new QLabel;
    icon->setPixmap(named("appicon").pixmap(QSize(48, 48), none->devicePixelRatioF()));
    row->addWidget(icon, 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->addWidget(heading(localized("You're up to date!"), "cardtitle"));
    words->addWidget(heading(localized("Vaultry %1 is the newest version available.").arg(kVersion), "body"));
    row->addLayout(words, 1);
    nv->addLayout(row);
    nv->addStretch(1);
    auto* ok = new QHBoxLayout;
    ok->addStretch(1);
    ok->addWidget(commandButton(localized(" Ok "), {}, &Commands::updateOk, true));
    nv->addLayout(ok);
}

}  // namespace vaultry::qt
