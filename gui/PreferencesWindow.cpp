#include "gui/Builders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimeEdit>
#include <QVBoxLayout>
#include <algorithm>

#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"

namespace vaultry::qt {

// The preferences window `preferWindows`: storage folder, password, start-up.
template <>
PreferencesWindow::Part(WindowContext& context) : WindowPart(context) {
    const Panel panel = bannerWindow(outlet::preferWindows, localized("Vaultry Preferences"), QSize(520, 900),
                                     new PTopWindowView, localized("Preferences"),
                                     localized("Storage, password and start-up"),
                                     outlet::closedPrefWindowButton, QMargins(24, 18, 24, 22));
    QVBoxLayout* bv = panel.body;
    // On a screen shorter than the window (a 768-pixel laptop) the window takes the screen's
    // height and its settings scroll under the banner.
    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setStyleSheet("QScrollArea, QScrollArea > QWidget > QWidget { background: transparent; }");
    QWidget* body = bv->parentWidget();
    delete panel.window->layout()->replaceWidget(body, scroll);
    scroll->setWidget(body);
    SkinWindow* window = panel.window;
    onEvent(window, QEvent::Show, [window] {
        const QScreen* screen = window->screen();
        const int room = screen ? screen->availableGeometry().height() - 32 : 900;
        window->setFixedHeight(std::clamp(room, 360, 900));
    });

    bv->addWidget(heading(localized("Vault storage"), "section"));
    auto* store = card();
    auto* sv = new QVBoxLayout(store);
    sv->setContentsMargins(14, 12, 14, 12);
    auto* path = new QLabel(localized("No folder chosen yet"));
    path->setProperty("role", "path");
    path->setTextInteractionFlags(Qt::TextSelectableByMouse);
    path->setWordWrap(true);
    reg(outlet::StorePathlab, path);
    sv->addWidget(path);
    auto* storeRow = new QHBoxLayout;
    storeRow->addStretch(1);
    auto* select = new PRLeftTipButton(nc_);
    faceButton(select, "storagenom.png", localized("Choose…"), QSize(120, 32), QColor("#334155"));
    reg(outlet::selectStorageBtn, select);
    auto* change = new PRLeftTipButton(nc_);
    faceButton(change, "storagenom.png", localized("Move To…"), QSize(120, 32), QColor("#334155"));
    reg(outlet::changeStorageBtn, change);
    storeRow->addWidget(select);
    storeRow->addWidget(change);
    sv->addLayout(storeRow);
    bv->addWidget(store);

    bv->addSpacing(6);
    bv->addWidget(heading(localized("Change password"), "section"));
    passwordTwice(bv, outlet::newPWLab, localized("New password"),
                  {outlet::newPWStrengthBar, outlet::newPWStrengthLab}, outlet::confirmNewPWLab,
                  localized("Confirm new password"), outlet::warnnewPWlab,
                  localized("The passwords do not match."));
    auto* pwRow = new QHBoxLayout;
    pwRow->addStretch(1);
    auto* changePw = new PRLeftTipButton(nc_);
    faceButton(changePw, "donenom.png", localized("Change Password"), QSize(160, 34));
    reg(outlet::changePassWordBtn, changePw);
    pwRow->addWidget(changePw);
    bv->addLayout(pwRow);

    bv->addSpacing(6);
    bv->addWidget(heading(localized("General"), "section"));
    auto* login = new QCheckBox(localized("Start Vaultry at login"));
    wired(login, outlet::autoLunchBtn, &QCheckBox::clicked, &Commands::sortelloOnLogin);
    bv->addWidget(login);
    // The trash settings carry the same login switch; both show one state.
    if (auto* twin = ui_.widget<QCheckBox>(outlet::trashAutoLunchBtn)) {
        connect(login, &QCheckBox::toggled, twin, &QCheckBox::setChecked);
        connect(twin, &QCheckBox::toggled, login, &QCheckBox::setChecked);
    }
    auto* tidyRow = new QHBoxLayout;
    auto* autoTidy = new QCheckBox(localized("Tidy the desktop every day at"));
    wired(autoTidy, outlet::autoCleanupSelectBtn, &QCheckBox::clicked, &Commands::autoTidyDesktop);
    auto* time = new QTimeEdit(QTime(18, 0));
    time->setDisplayFormat("HH:mm");
    time->setButtonSymbols(QAbstractSpinBox::NoButtons);
    time->setAlignment(Qt::AlignCenter);
    time->setToolTip(localized("Scroll or type to change the time"));
    time->setMinimumHeight(30);
    wired(time, outlet::tidyTimePicker, &QTimeEdit::timeChanged, &Commands::tidyTimeChanged);
    tidyRow->addWidget(autoTidy);
    tidyRow->addWidget(time);
    tidyRow->addStretch(1);
    bv->addLayout(tidyRow);

    bv->addSpacing(6);
    bv->addWidget(heading(localized("Security"), "section"));
    auto* choices = new QFormLayout;
    choices->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    auto* lock = new QComboBox;
    lock->addItems(
        {localized("Off"), localized("5 minutes"), localized("15 minutes"), localized("60 minutes")});
    wired(lock, outlet::autoLockPopup, &QComboBox::activated, &Commands::autoLockChanged);
    choices->addRow(localized("Lock decrypted items automatically after"), lock);
    auto* onSession = new QCheckBox(localized("Lock when the screen locks or the computer sleeps"));
    wired(onSession, outlet::lockOnSessionLockBtn, &QCheckBox::clicked, &Commands::lockOnSessionLockChanged);
    choices->addRow(onSession);  // the whole width: its text is longer than the field column
    auto* passes = new QComboBox;
    passes->addItems({localized("The tool's default"), localized("1 pass (fast)")});
    passes->setSizeAdjustPolicy(QComboBox::AdjustToContents);
    wired(passes, outlet::erasePassesPopup, &QComboBox::activated, &Commands::erasePassesChanged);
    choices->addRow(localized("Secure erase"), passes);
    bv->addLayout(choices);
    auto* passesNote =
        new QLabel(localized("Many passes take minutes per GiB and buy nothing on modern drives; on SSDs and "
                             "copy-on-write file systems no overwrite is sure to reach the old blocks."));
    passesNote->setWordWrap(true);
    passesNote->setProperty("role", "faint");
    bv->addWidget(passesNote);

    bv->addSpacing(6);
    bv->addWidget(heading(localized("Left on the desktop by a tidy"), "section"));
    auto* exclusions =
        new WithEmptyHint<QListWidget>(localized("No exclusions: a tidy moves every item on the desktop."));
    exclusions->setMaximumHeight(84);
    exclusions->setToolTip(localized("Name patterns a tidy leaves on the desktop"));
    reg(outlet::tidyExclusionList, exclusions);
    bv->addWidget(exclusions);
    auto* exclusionRow = new QHBoxLayout;
    auto* pattern = new QLineEdit;
    pattern->setPlaceholderText(localized("Pattern, e.g. *.desktop"));
    wired(pattern, outlet::tidyExclusionField, &QLineEdit::returnPressed, &Commands::addTidyExclusion);
    exclusionRow->addWidget(pattern, 1);
    exclusionRow->addWidget(wired(new QPushButton(localized("Add")), outlet::addTidyExclusionBtn,
                                  &QPushButton::clicked, &Commands::addTidyExclusion));
    exclusionRow->addWidget(wired(new QPushButton(localized("Remove")), outlet::removeTidyExclusionBtn,
                                  &QPushButton::clicked, &Commands::removeTidyExclusion));
    bv->addLayout(exclusionRow);
    auto* suggestionRow = new QHBoxLayout;
    suggestionRow->addWidget(wired(new QPushButton(localized("Keep *.desktop launchers")),
                                   outlet::keepLaunchersBtn, &QPushButton::clicked,
                                   &Commands::keepLaunchers));
    suggestionRow->addStretch(1);
    bv->addLayout(suggestionRow);
    bv->addStretch(1);
}

}  // namespace vaultry::qt
