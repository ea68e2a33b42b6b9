#include "gui/Builders.h"

#include <QLabel>
#include <QTextEdit>
#include <QVBoxLayout>
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The update window `UpdateWindow`: a newer version and what is new in it.
template <>
UpdateWindow::Part(WindowContext& context) : WindowPart(context) {
    auto* outer = plainWindow(outlet::UpdateWindow, localized("Software Update"), QSize(480, 380),
                              QMargins(0, 0, 0, 0), 0);
    auto* v = new QVBoxLayout;
    v->setContentsMargins(28, 24, 28, 16);
    v->setSpacing(8);
    outer->addLayout(v, 1);
    auto* top = new QHBoxLayout;
    top->addWidget(picture("appicon", 56), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    auto* fresh = heading(localized("A new version of Vaultry is available."), "cardtitle");
    reg(outlet::newversionlab, fresh);
    auto* current = heading({}, "body");
    reg(outlet::currentversionlab, current);
    texts->addWidget(fresh);
    texts->addWidget(current);
    top->addLayout(texts, 1);
    v->addLayout(top);
    v->addWidget(heading(localized("What's new"), "section"));
    auto* notes = new QTextEdit;
    notes->setReadOnly(true);
    notes->setAcceptRichText(false);
    reg(outlet::whatsnewContentView, notes);
    v->addWidget(notes, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(commandButton(localized("Not Now"), {}, &Commands::updateNotNow));
    buttons->addWidget(commandButton(localized("Download"), {}, &Commands::updateDownload, true));
    v->addLayout(buttons);
    auto* bottom = new QLabel;
    bottom->setFixedHeight(36);
    bottom->setScaledContents(false);
    bottom->setPixmap(named("mainBottomImage.png").pixmap(QSize(480, 36), bottom->devicePixelRatioF()));
    reg(outlet::bottomImageView, bottom);
    outer->addWidget(bottom);
}

}  // namespace vaultry::qt
