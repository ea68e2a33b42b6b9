#include "gui/StorageMoveWindow.h"

#include <QProgressBar>
#include <QVBoxLayout>

#include "platform/Outlets.h"

namespace vaultry::qt {

StorageMoveWindow::StorageMoveWindow(WindowContext& context) : WindowPart(context) {
    auto* w = new QWidget(nullptr, Qt::Window);
    w->setWindowTitle(localized("Moving the Vault"));
    w->setFixedSize(420, 140);
    w->setWindowModality(Qt::ApplicationModal);  // the vault must not change while it moves
    reg(outlet::storageMoveWindow, w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(24, 20, 24, 20);
    auto* label = heading({}, "body");
    reg(outlet::storageMoveLab, label);
    v->addWidget(label);
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);  // copying and verifying: no count is known ahead
    bar->setTextVisible(false);
    bar->setAccessibleName(localized("Moving the vault"));
    reg(outlet::storageMoveProgress, bar);
    v->addWidget(bar);
    v->addStretch(1);
}

}  // namespace vaultry::qt
