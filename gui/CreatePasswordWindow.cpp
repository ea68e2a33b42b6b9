#include "gui/Builders.h"

#include <QLineEdit>
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The create-password window `CreatePWWindow`.
template <>
CreatePasswordWindow::Part(WindowContext& context) : WindowPart(context) {
    auto* bv = bannerWindow(outlet::CreatePWWindow, localized("Create Password"), QSize(420, 380),
                            new PWindowView, localized("Create your vault password"),
                            localized("It opens the vault and locks your archives."), outlet::closedButton,
                            QMargins(28, 22, 28, 24))
                   .body;
    const auto [first, second] =
        passwordTwice(bv, outlet::theCreatePWLab, localized("Password"),
                      {outlet::createPWStrengthBar, outlet::createPWStrengthLab}, outlet::theConfirmPWLab,
                      localized("Confirm password"), outlet::warnlab,
                      localized("The passwords do not match. Please type them again."));
    bv->addWidget(heading(
        localized("There is no way to recover a forgotten password. Keep it somewhere safe."), "faint"));
    bv->addStretch(1);
    auto* done = new PRClosedButton(nc_);
    faceButton(done, "donenom.png", localized("Create Password"), QSize(180, 36));
    reg(outlet::doneButton, done);
    bv->addWidget(done, 0, Qt::AlignRight);
    // From the keyboard: Return in the first field goes on to the second, in the second creates.
    connect(first, &QLineEdit::returnPressed, second, [second] { second->setFocus(); });
    connect(second, &QLineEdit::returnPressed, done, [done] { done->post(); });
    QWidget::setTabOrder(first, second);
    QWidget::setTabOrder(second, done);
    bv->parentWidget()->window()->setFocusProxy(first);
}

}  // namespace vaultry::qt
