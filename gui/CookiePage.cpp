#include "gui/Builders.h"

#include <QHeaderView>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QProgressBar>
#include <QTableView>
#include <QToolButton>
#include <QVBoxLayout>
#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

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

}  // namespace vaultry::qt
