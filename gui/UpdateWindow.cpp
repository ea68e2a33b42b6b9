#include "gui/UpdateWindow.h"

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

UpdateWindow::UpdateWindow(WindowContext& context) : WindowPart(context) {
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
}

}  // namespace vaultry::qt
