#include "gui/ProgressWindow.h"

#include <QHBoxLayout>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "platform/Outlets.h"

namespace vaultry::qt {

ProgressWindow::ProgressWindow(WindowContext& context) : WindowPart(context) {
    auto* w = new QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    w->setWindowTitle(localized("Vaultry"));
    w->setFixedSize(440, 150);
    w->setWindowModality(Qt::ApplicationModal);
    reg(outlet::progressWindow, w);
    auto* v = new QVBoxLayout(w);
    v->setContentsMargins(24, 20, 24, 16);
    auto* label = heading({}, "body");
    label->setTextFormat(Qt::PlainText);  // the text may hold file names
    label->setWordWrap(true);
    reg(outlet::progressLab, label);
    v->addWidget(label);
    auto* bar = new QProgressBar;
    bar->setRange(0, 0);
    bar->setTextVisible(false);
    bar->setAccessibleName(localized("Progress"));
    reg(outlet::progressBar, bar);
    v->addWidget(bar);
    v->addStretch(1);
    auto* row = new QHBoxLayout;
    row->addStretch(1);
    auto* cancel = new QPushButton(localized(" Cancel "));
    cancel->setAutoDefault(false);
    reg(outlet::progressCancelBtn, cancel);
    row->addWidget(cancel);
    v->addLayout(row);
}

}  // namespace vaultry::qt
