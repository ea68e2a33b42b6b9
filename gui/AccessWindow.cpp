#include "gui/Builders.h"

#include <QVBoxLayout>
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The access window `connectWindow`: where tidied items go (and the Trash's access view).
template <>
AccessWindow::Part(WindowContext& context) : WindowPart(context) {
    auto* v = plainWindow(outlet::connectWindow, localized("Vaultry Access"), QSize(480, 340),
                          QMargins(0, 0, 0, 0));

    const auto page = [&](const char* outlet, const char* image, const QString& title, const QString& body,
                          const char* buttonOutlet, const char* face, const QString& buttonTitle) {
        auto* p = new QWidget;
        reg(outlet, p);
        auto* pv = new QVBoxLayout(p);
        pv->setContentsMargins(40, 34, 40, 30);
        pv->setSpacing(10);
        auto* pic = picture(image, 56);
        pic->setAlignment(Qt::AlignCenter);
        pv->addWidget(pic);
        auto* t = heading(title);
        t->setAlignment(Qt::AlignCenter);
        pv->addWidget(t);
        auto* s = heading(body, "subtitle");
        s->setAlignment(Qt::AlignCenter);
        pv->addWidget(s);
        pv->addStretch(1);
        auto* button = new PRLeftTipButton(nc_);
        faceButton(button, face, buttonTitle, QSize(220, 40));
        reg(buttonOutlet, button);
        pv->addWidget(button, 0, Qt::AlignHCenter);
        v->addWidget(p);
        return p;
    };
    page(outlet::connectView, "navtrash_on", localized("Allow access to the Trash"),
         localized("Vaultry measures and empties your Trash folder. Choose it once to grant access."),
         outlet::connectBtn, "connectnombtn.png", localized("Grant Access…"));
    page(outlet::startTidyView, "navdesktop_on", localized("Where should tidied items go?"),
         localized("Choose a folder that will hold everything tidied off your desktop."), outlet::tidybutton,
         "startlocationnombtn.png", localized("Choose Location…"))
        ->hide();
}

}  // namespace vaultry::qt
