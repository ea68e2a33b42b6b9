#include "gui/TrashPage.h"

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

TrashPage::TrashPage(WindowContext& context) : WindowPart(context) {
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
    page_ = page;
}

}  // namespace vaultry::qt
