#include "gui/Builders.h"

#include <QLabel>
#include <QListView>
#include <QToolButton>
#include <QVBoxLayout>
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The main window's desktop page: the tidied items by kind, in a browser with a details panel.
template <>
DesktopPage::Part(WindowContext& context) : PagePart(context) {
    auto* v = column(12);
    auto* top = new QHBoxLayout;
    auto* words = new QVBoxLayout;
    titles(words, localized("Desktop"), localized("Everything tidied off your desktop, sorted by kind."));
    top->addLayout(words, 1);
    top->addWidget(commandButton(localized("Tidy Desktop Now"), "navcheck", &Commands::tidyDesktop, true), 0,
                   Qt::AlignVCenter);
    v->addLayout(top);

    auto* kinds = new QHBoxLayout;
    kinds->setSpacing(10);
    auto* back = new QToolButton;
    back->setText("‹");
    back->setToolTip(localized("Back"));
    back->setAccessibleName(localized("Back"));
    back->setProperty("role", "round");
    back->setFixedSize(36, 36);
    connect(back, &QToolButton::clicked, this, [this] {
        if (commands_.browserBack) commands_.browserBack();
    });
    kinds->addWidget(back);
    kinds->addSpacing(8);
    kindButtons(
        kinds,
        {outlet::currentDesktopBtn, outlet::pictureBtn, outlet::documentBtn, outlet::archiveBtn,
         outlet::folerBtn, outlet::otherBtn},
        {"currentBigDesktopdown.png", "picbignom.png", "docbignom.png", "archbignom.png", "folderbignom.png",
         "otherbignom.png"},
        [this] { return new FBLeftButton(nc_); }, 44, 48);
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
    itemCommands(browser, {&Commands::desktopOpen, &Commands::desktopReveal, &Commands::desktopCopy,
                           &Commands::desktopRestore, &Commands::desktopDelete});
    reg(outlet::theBroswerView, browser);
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
    reg(outlet::browserDetailsLab, details);
    pv->addWidget(details);
    pv->addStretch(1);
    row->addWidget(panel);
    v->addLayout(row, 1);
}

}  // namespace vaultry::qt
