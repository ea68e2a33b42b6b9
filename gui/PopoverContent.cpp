#include "gui/Builders.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QTabWidget>
#include <QTableView>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include "app/PPopoverviewConterller.h"
#include "gui/SkinWidgets.h"
#include "platform/Outlets.h"

namespace vaultry::qt {

// The popover's content: the tidy list and the trash settings. Built once; it moves between the
// popover, its detached window and the automatic-trash window.
template <>
PopoverContent::Part(WindowContext& context) : PagePart(context) {
    auto* root = new QWidget;
    root->setObjectName("popoverContent");
    root->setMinimumSize(360, 470);
    auto* v = new QVBoxLayout(root);
    v->setContentsMargins(12, 12, 12, 12);
    auto* tabs = new QTabWidget;
    tabs->setObjectName("popoverTabs");
    tabs->setDocumentMode(true);
    v->addWidget(tabs, 1);

    // Tidy list.
    auto* tidy = new QWidget;
    auto* tv = new QVBoxLayout(tidy);
    tv->setContentsMargins(0, 10, 0, 0);
    auto* kinds = new QHBoxLayout;
    kinds->setSpacing(6);
    kindButtons(
        kinds,
        {outlet::allBtn, outlet::imageBtn, outlet::docuBtn, outlet::zipBtn, outlet::folderBtn,
         outlet::tidyOtherBtn},
        {"alldownbbtn", "imagenombtn", "docnombtn", "zipnombtn", "foldernombtn", "othernombbtn"},
        [this] { return new FBTypeButton(nc_); }, 30, 34);
    kinds->addStretch(1);
    tv->addLayout(kinds);
    auto* filterRow = new QHBoxLayout;
    auto* kindMenu = new QComboBox;
    for (const char* item : {"All Content", "Folders", "Pictures", "Documents", "Videos", "Audios", "Other"})
        kindMenu->addItem(localized(item));
    wired(kindMenu, outlet::thepBtn, &QComboBox::activated, &Commands::tidyKindMenu);
    auto* search = new QLineEdit;
    search->setPlaceholderText(localized("Search"));
    search->setClearButtonEnabled(true);
    wired(search, outlet::searchField, &QLineEdit::textEdited, &Commands::tidySearch);
    connect(search, &QLineEdit::returnPressed, this, [this] { run(&Commands::tidySearch); });
    filterRow->addWidget(kindMenu);
    filterRow->addWidget(search, 1);
    tv->addLayout(filterRow);
    auto* list = new WithEmptyHint<QTableView>(localized("Tidied desktop items appear here."));
    list->verticalHeader()->hide();
    list->horizontalHeader()->setStretchLastSection(true);
    list->setShowGrid(false);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->setDragDropMode(QAbstractItemView::InternalMove);
    itemCommands(list, {&Commands::tidyOpen, &Commands::tidyReveal, &Commands::tidyCopy,
                        &Commands::tidyRestore, &Commands::tidyDelete, &Commands::tidyCopyKey});
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { run(&Commands::tidyDoubleClick); });
    reg(outlet::tidyTableView, list);
    tv->addWidget(list, 1);
    auto* tidyRow = new QHBoxLayout;
    const auto iconButton = [](const char* icon, const QString& tip) {
        auto* b = new QToolButton;
        b->setIcon(named(icon));
        b->setAutoRaise(true);
        b->setToolTip(tip);
        b->setAccessibleName(tip);
        return b;
    };
    auto* refresh = wired(iconButton("NSRefreshTemplate", localized("Refresh")), outlet::tidyRefreshBtn,
                          &QToolButton::clicked, &Commands::tidyRefresh);
    auto* settings = wired(iconButton("NSActionTemplate", localized("Preferences")), outlet::tidySettingsBtn,
                           &QToolButton::clicked, &Commands::preferences);
    auto* tidyNow = new QPushButton(localized("Tidy Now"));
    tidyNow->setProperty("primary", true);
    tidyNow->setMinimumHeight(32);
    wired(tidyNow, outlet::tidyNowBtn, &QPushButton::clicked, &Commands::tidyNow);
    tidyRow->addWidget(refresh);
    tidyRow->addWidget(settings);
    tidyRow->addStretch(1);
    tidyRow->addWidget(tidyNow);
    tv->addLayout(tidyRow);
    tabs->addTab(tidy, localized("Tidy"));

    // Trash settings.
    auto* trash = new QWidget;
    auto* form = new QVBoxLayout(trash);
    form->setContentsMargins(4, 14, 4, 4);
    form->setSpacing(10);
    auto* byTime = new QCheckBox(localized("Empty the Trash every"));
    wired(byTime, outlet::cleanTimeCheckBtn, &QCheckBox::clicked, &Commands::trashChecksChanged);
    auto* times = new QComboBox;
    for (const char* t : {"Daily", "Every Week", "Two Weeks", "Every Month", "Two Months"})
        times->addItem(localized(t));
    wired(times, outlet::theTimeBtn, &QComboBox::activated, &Commands::trashTimeChanged);
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(byTime);
    timeRow->addWidget(times, 1);
    form->addLayout(timeRow);
    auto* bySize = new QCheckBox(localized("Empty the Trash when it grows beyond"));
    wired(bySize, outlet::cleanStorageCheckBtn, &QCheckBox::clicked, &Commands::trashChecksChanged);
    form->addWidget(bySize);
    auto* sizeRow = new QHBoxLayout;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, static_cast<int>(PPopoverviewConterller::kStorageSliderMaximum));
    wired(slider, outlet::storageSlider, &QSlider::sliderReleased, &Commands::trashSizeMoved);
    // The label follows a drag; the value is stored when the slider is let go.
    connect(slider, &QSlider::valueChanged, this, [this, slider] {
        if (slider->isSliderDown()) run(&Commands::trashSizeDragged);
    });
    connect(slider, &QSlider::actionTriggered, this, [this, slider](int action) {
        if (action != QAbstractSlider::SliderMove)
            QTimer::singleShot(0, slider, [this] { run(&Commands::trashSizeMoved); });
    });
    auto* sizeText = new QLabel("1.0GB");
    sizeText->setMinimumWidth(64);
    sizeText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    reg(outlet::storagelab, sizeText);
    sizeRow->addWidget(slider, 1);
    sizeRow->addWidget(sizeText);
    form->addLayout(sizeRow);
    // What an emptying by the schedule removes: everything, or only some items.
    auto* onlyOlder = new QCheckBox(localized("only items older than the interval"));
    wired(onlyOlder, outlet::trashOnlyOlderBtn, &QCheckBox::clicked, &Commands::trashOnlyChanged);
    auto* onlyOldest = new QCheckBox(localized("only the oldest items, down to the size"));
    wired(onlyOldest, outlet::trashOnlyOldestBtn, &QCheckBox::clicked, &Commands::trashOnlyChanged);
    form->addWidget(onlyOlder);
    form->addWidget(onlyOldest);
    auto* last = card();
    auto* lv = new QFormLayout(last);
    lv->setContentsMargins(14, 12, 14, 12);
    auto* info = heading(localized("Last emptied"), "cardtitle");
    reg(outlet::lastCleanupInfolab, info);
    lv->addRow(info);
    auto* lastSize = new QLabel("—");
    reg(outlet::lastCleanupSizelab, lastSize);
    auto* lastDate = new QLabel("—");
    reg(outlet::lastCleanupDatelab, lastDate);
    lv->addRow(localized("Size:"), lastSize);
    lv->addRow(localized("Date:"), lastDate);
    form->addWidget(last);
    auto* login = new QCheckBox(localized("Start Vaultry at login"));
    wired(login, outlet::trashAutoLunchBtn, &QCheckBox::clicked, &Commands::trashOnLogin);
    form->addWidget(login);
    form->addStretch(1);
    tabs->addTab(trash, localized("Trash"));
    page_ = root;
}

}  // namespace vaultry::qt
