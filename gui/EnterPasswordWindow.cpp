#include "gui/Builders.h"

#include <QLineEdit>
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The enter-password window `enterPDWindow`.
template <>
EnterPasswordWindow::Part(WindowContext& context) : WindowPart(context) {
    const auto [w, bv] =
        bannerWindow(outlet::enterPDWindow, localized("Enter Password"), QSize(420, 300), new PDWindowView,
                     localized("Unlock Vaultry"), localized("Enter your vault password to continue."),
                     outlet::closedPDWindowButton, QMargins(28, 22, 28, 24));
    auto* field = secureField(localized("Password"));
    reg(outlet::enterPWLab, field);
    connect(field, &QLineEdit::returnPressed, this, [this] {
        if (commands_.returnOnPasswordField) commands_.returnOnPasswordField();
    });
    bv->addWidget(field);
    auto* warn = warning(localized("Wrong password. Please try again."));
    reg(outlet::enterPDWarnLab, warn);
    bv->addWidget(warn);
    bv->addStretch(1);
    auto* enter = new PRClosedButton(nc_);
    faceButton(enter, "donenom.png", localized("Unlock"), QSize(140, 36));
    reg(outlet::enterPDButton, enter);
    bv->addWidget(enter, 0, Qt::AlignRight);
    w->setFocusProxy(field);
    QWidget::setTabOrder(field, enter);
}

}  // namespace vaultry::qt
