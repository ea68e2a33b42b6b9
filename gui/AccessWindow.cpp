#include "gui/Builders.h"

#include <QVBoxLayout>
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The access window `connectWindow`: where tidied items go.
template <>
AccessWindow::Part(WindowContext& context) : WindowPart(context) {
    auto* v = plainWindow(outlet::connectWindow, localized("Vaultry Access"), QSize(480, 340),
                          QMargins(0, 0, 0, 0));

    auto* p = new QWidget;
    reg(outlet::startTidyView, p);
    auto* pv = new QVBoxLayout(p);
    pv->setContentsMargins(40, 34, 40, 30);
    pv->setSpacing(10);
    auto* pic = picture("navdesktop_on", 56);
    pic->setAlignment(Qt::AlignCenter);
    pv->addWidget(pic);
    auto* t = heading(localized("Where should tidied items go?"));
    t->setAlignment(Qt::AlignCenter);
    pv->addWidget(t);
    auto* s =
        heading(localized("Choose a folder that will hold everything tidied off your desktop."), "subtitle");
    s->setAlignment(Qt::AlignCenter);
    pv->addWidget(s);
    pv->addStretch(1);
    auto* button = new PRLeftTipButton(nc_);
    faceButton(button, "startlocationnombtn.png", localized("Choose Location…"), QSize(220, 40));
    reg(outlet::tidybutton, button);
    pv->addWidget(button, 0, Qt::AlignHCenter);
    v->addWidget(p);
}

}  // namespace vaultry::qt
