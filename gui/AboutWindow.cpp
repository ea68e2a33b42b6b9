#include "gui/Builders.h"

#include "platform/Version.h"

namespace vaultry::qt {

// The about window `aboutWindow`.
template <>
AboutWindow::Part(WindowContext& context) : WindowPart(context) {
    auto* v = plainWindow(outlet::aboutWindow, localized("About Vaultry"), QSize(360, 300),
                          QMargins(30, 30, 30, 26), 6);
    auto* pic = picture("appicon", 88);
    pic->setAlignment(Qt::AlignCenter);
    v->addWidget(pic);
    v->addSpacing(6);
    auto* name = heading("Vaultry");
    name->setAlignment(Qt::AlignCenter);
    v->addWidget(name);
    auto* version = heading(localized("Version %1").arg(kVersion), "subtitle");
    version->setAlignment(Qt::AlignCenter);
    v->addWidget(version);
    v->addSpacing(8);
    auto* blurb =
        heading(localized("A vault for your private files, a tidy desktop, a clean Trash and a close look "
                          "at your browser cookies."),
                "body");
    blurb->setAlignment(Qt::AlignCenter);
    v->addWidget(blurb);
    v->addStretch(1);
}

}  // namespace vaultry::qt
