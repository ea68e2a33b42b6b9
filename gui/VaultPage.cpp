#include "gui/VaultPage.h"

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
#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"
#include "gui/VaultTable.h"
#include "platform/Version.h"

namespace vaultry::qt {

VaultPage::VaultPage(WindowContext& context) : WindowPart(context) {
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
    page_ = page;
}

}  // namespace vaultry::qt
