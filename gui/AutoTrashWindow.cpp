#include "gui/AutoTrashWindow.h"

#include <QTabWidget>
#include <QVBoxLayout>

namespace vaultry::qt {

AutoTrashWindow::AutoTrashWindow(WindowContext& context, QWidget* popoverContent)
    : WindowPart(context), popoverContent_(popoverContent) {
    auto* w = new QWidget(nullptr, Qt::Window);
    w->setWindowTitle(localized("Automatic Trash"));
    w->resize(400, 520);
    reg(outlet::autoTrashWindow, w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(0, 0, 0, 0);
    autoTrashHolder_ = w;
    v->addWidget(popoverContent_);
    // The automatic-trash window is about the trash settings; it opens on them.
    w->installEventFilter(this);
}

bool AutoTrashWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == autoTrashHolder_ && event->type() == QEvent::Show)
        if (auto* tabs = popoverContent_->findChild<QTabWidget*>("popoverTabs"))
            if (popoverContent_->window() == autoTrashHolder_) tabs->setCurrentIndex(1);
    return QObject::eventFilter(watched, event);
}

void AutoTrashWindow::returnPopoverContent() {
    if (popoverContent_->parentWidget() == autoTrashHolder_) return;
    autoTrashHolder_->layout()->addWidget(popoverContent_);
    popoverContent_->show();
}

}  // namespace vaultry::qt
