#include "gui/Builders.h"

#include <QVBoxLayout>

namespace vaultry::qt {

// The main window's vault page: what the vault does, and its commands.
template <>
VaultPage::Part(WindowContext& context) : PagePart(context) {
    auto* v = column(14, localized("Your private vault"),
                     localized("Hide files in place or lock them into encrypted archives. One password opens "
                               "the vault and the preferences."));
    v->addSpacing(8);

    auto* hero = card();
    auto* h = new QHBoxLayout(hero);
    h->setContentsMargins(22, 22, 22, 22);
    h->setSpacing(18);
    h->addWidget(picture("foldericns.png", 84));
    auto* text = new QVBoxLayout;
    text->addWidget(heading(localized("Vault"), "cardtitle"));
    text->addWidget(heading(
        localized("See every protected item, unlock it for a while, reveal it or lock it again."), "body"));
    text->addStretch(1);
    h->addLayout(text, 1);
    h->addWidget(commandButton(localized("Open Vault"), "navunlock", &Commands::openVault, true), 0,
                 Qt::AlignVCenter);
    v->addWidget(hero);

    v->addLayout(tiles({
                     {"Hide", "Hidden items stay where they are, out of sight in file browsers.", "navlock",
                      &Commands::hideFiles, "Hide Items…", false},
                     {"Encrypt", "Files and folders are packed into archives only your password opens.",
                      "navvault", &Commands::encryptFiles, "Encrypt Items…", false},
                     {"Unhide", "Bring hidden items back into view.", "navunlock", &Commands::unhideFiles,
                      "Unhide Items…", false},
                 }),
                 1);
    auto* foot = new QHBoxLayout;
    foot->addStretch(1);
    foot->addWidget(commandButton(localized("Preferences…"), "NSActionTemplate", &Commands::preferences));
    v->addLayout(foot);
}

}  // namespace vaultry::qt
