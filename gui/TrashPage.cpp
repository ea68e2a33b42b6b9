#include "gui/Builders.h"

#include <QVBoxLayout>

namespace vaultry::qt {

// The main window's trash page: emptying, secure erase, the schedule, the size and last emptying.
template <>
TrashPage::Part(WindowContext& context) : PagePart(context) {
    auto* v =
        column(14, localized("Trash"),
               localized("Empty the Trash now, on a schedule or once it grows too large, and erase files so "
                         "they cannot be recovered."));
    v->addSpacing(8);
    v->addLayout(tiles({
        {"Empty Trash", "Remove everything in the Trash for good.", "navtrash", &Commands::emptyTrash,
         "Empty Trash…", true},
        {"Secure Erase", "Overwrite chosen files and folders before deleting them.", "navtarget",
         &Commands::secureErase, "Erase Items…", false},
        {"Automatic Emptying", "Empty the Trash after a while or above a size you choose.", "navdisk",
         &Commands::automaticTrash, "Schedule…", false},
    }));

    auto* status = card();
    auto* sv = new QHBoxLayout(status);
    sv->setContentsMargins(18, 16, 18, 16);
    sv->setSpacing(14);
    sv->addWidget(picture("navtrash_on", 40), 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(4);
    auto* size = heading("—", "cardtitle");
    reg(outlet::trashSizelab, size);
    texts->addWidget(heading(localized("In the Trash now"), "subtitle"));
    texts->addWidget(size);
    auto* last = heading({}, "body");
    reg(outlet::trashLastCleanlab, last);
    texts->addWidget(last);
    auto* erase = heading({}, "body");
    reg(outlet::eraseProgresslab, erase);
    erase->hide();
    texts->addWidget(erase);
    sv->addLayout(texts, 1);
    v->addWidget(status);
    v->addStretch(1);
}

}  // namespace vaultry::qt
