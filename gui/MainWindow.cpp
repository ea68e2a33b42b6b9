#include "gui/MainWindow.h"

#include <QAction>
#include <QButtonGroup>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>
#include "platform/Version.h"

namespace vaultry::qt {

MainWindow::MainWindow(WindowContext& context) : WindowPart(context) {
    main_ = new QMainWindow;
    main_->setWindowTitle("Vaultry");
    main_->setWindowIcon(named("appicon"));
    main_->resize(920, 600);
    reg(outlet::window, main_);

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
    vaultPage_ = std::make_unique<VaultPage>(context);
    desktopPage_ = std::make_unique<DesktopPage>(context);
    trashPage_ = std::make_unique<TrashPage>(context);
    cookiePage_ = std::make_unique<CookiePage>(context);
    for (QWidget* p :
         {vaultPage_->widget(), desktopPage_->widget(), trashPage_->widget(), cookiePage_->widget()})
        pages_->addWidget(p);
    row->addWidget(pages_, 1);
    connect(group, &QButtonGroup::idClicked, this, [this](int id) { showPage(static_cast<Page>(id)); });
    main_->setCentralWidget(central);
    // The window may be all there is of Vaultry on the screen: the usual key ends it.
    auto* quit = new QAction(localized("Quit Vaultry"), main_);
    quit->setShortcut(QKeySequence::Quit);
    quit->setShortcutContext(Qt::WindowShortcut);
    connect(quit, &QAction::triggered, this, [this] { run(&Commands::quit); });
    main_->addAction(quit);
    showPage(Page::Vault);
}

void MainWindow::showPage(Page page) {
    const int i = static_cast<int>(page);
    pages_->setCurrentIndex(i);
    for (size_t n = 0; n < nav_.size(); ++n) {
        nav_[n]->setChecked(static_cast<int>(n) == i);
        static const char* icons[] = {"navvault", "navdesktop", "navtrash", "navcookie"};
        nav_[n]->setIcon(named((std::string(icons[n]) + (static_cast<int>(n) == i ? "_on" : "")).c_str()));
    }
    if (page == Page::Trash) run(&Commands::trashPageShown);
}

MainWindow::Page MainWindow::currentPage() const { return static_cast<Page>(pages_->currentIndex()); }

void MainWindow::offerTrayCommands(QMenu* menu, std::function<void(QWidget*)> openPopover) {
    auto* layout = static_cast<QVBoxLayout*>(trayBar_->layout());
    if (layout->count() > 0) {  // built before the tray came
        trayBar_->show();
        return;
    }
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
    auto* note =
        new QLabel(localized("Closing this window leaves Vaultry running; Quit Vaultry is under "
                             "Commands."));
    note->setWordWrap(true);
    note->setProperty("role", "faint");
    layout->addWidget(note);
    trayBar_->show();
}

void MainWindow::withdrawTrayCommands() { trayBar_->hide(); }

MainWindow::~MainWindow() = default;

}  // namespace vaultry::qt
