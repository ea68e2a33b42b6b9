#include "gui/Builders.h"

#include <QVBoxLayout>
#include "platform/Version.h"

namespace vaultry::qt {

// The up-to-date window `noUpdateWindow`.
template <>
NoUpdateWindow::Part(WindowContext& context) : WindowPart(context) {
    auto* nv = plainWindow(outlet::noUpdateWindow, localized("Software Update"), QSize(380, 170),
                           QMargins(26, 22, 26, 20));
    auto* row = new QHBoxLayout;
    row->addWidget(picture("appicon", 48), 0, Qt::AlignTop);
    auto* words = new QVBoxLayout;
    words->addWidget(heading(localized("You're up to date!"), "cardtitle"));
    words->addWidget(heading(localized("Vaultry %1 is the newest version available.").arg(kVersion), "body"));
    row->addLayout(words, 1);
    nv->addLayout(row);
    nv->addStretch(1);
    auto* ok = new QHBoxLayout;
    ok->addStretch(1);
    ok->addWidget(commandButton(localized(" Ok "), {}, &Commands::updateOk, true));
    nv->addLayout(ok);
}

}  // namespace vaultry::qt
