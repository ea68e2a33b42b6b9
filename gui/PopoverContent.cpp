#include "gui/PopoverContent.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QMenu>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QSlider>
#include <QStackedWidget>
#include <QStandardItemModel>
#include <QStyle>
#include <QTabWidget>
#include <QTableView>
#include <QTextEdit>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include "app/NotificationCenter.h"
#include "app/Notifications.h"
#include "desktop/PPopoverviewConterller.h"
#include "gui/QtUi.h"
#include "gui/SkinWidgets.h"
#include "gui/VaultTable.h"
#include "platform/Outlets.h"
#include "platform/Version.h"

namespace vaultry::qt {

PopoverContent::PopoverContent(WindowContext& context) : WindowPart(context) {
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
    const std::tuple<const char*, const char*, const char*> types[] = {
        {outlet::allBtn, "alldownbbtn", "All items"},   {outlet::imageBtn, "imagenombtn", "Pictures"},
        {outlet::docuBtn, "docnombtn", "Documents"},    {outlet::zipBtn, "zipnombtn", "Archives"},
        {outlet::folderBtn, "foldernombtn", "Folders"}, {outlet::tidyOtherBtn, "othernombbtn", "Others"}};
    for (const auto& [outlet, image, tip] : types) {
        auto* b = new FBTypeButton(nc_);
        b->setIconSize(QSize(30, 30));
        b->setFixedSize(34, 34);
        b->setToolTip(localized(tip));
        reg(outlet, b);
        ui_.setImage(outlet, image);
        kinds->addWidget(b);
    }
    kinds->addStretch(1);
    tv->addLayout(kinds);
    auto* filterRow = new QHBoxLayout;
    auto* kindMenu = new QComboBox;
    for (const char* item : {"All Content", "Folders", "Pictures", "Documents", "Videos", "Audios", "Other"})
        kindMenu->addItem(localized(item));
    reg("thepBtn", kindMenu);
    connect(kindMenu, &QComboBox::activated, this, [this] { run(&Commands::tidyKindMenu); });
    auto* search = new QLineEdit;
    search->setPlaceholderText(localized("Search"));
    search->setClearButtonEnabled(true);
    reg(PPopoverviewConterller::kSearchField, search);
    connect(search, &QLineEdit::textEdited, this, [this] { run(&Commands::tidySearch); });
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
    list->setContextMenuPolicy(Qt::ActionsContextMenu);
    for (const auto& [title, command] : {std::pair{"Open", &Commands::tidyOpen},
                                         {"Show in Folder", &Commands::tidyReveal},
                                         {"Copy", &Commands::tidyCopy},
                                         {"Restore to Desktop", &Commands::tidyRestore},
                                         {"Delete", &Commands::tidyDelete}}) {
        auto* a = new QAction(localized(title), list);
        connect(a, &QAction::triggered, this, [this, command = command] { run(command); });
        list->addAction(a);
    }
    connect(list, &QAbstractItemView::doubleClicked, this, [this] { run(&Commands::tidyOpen); });
    reg("tidyTableView", list);
    tv->addWidget(list, 1);
    auto* tidyRow = new QHBoxLayout;
    auto* refresh = new QToolButton;
    refresh->setIcon(named("NSRefreshTemplate"));
    refresh->setAutoRaise(true);
    refresh->setToolTip(localized("Refresh"));
    refresh->setAccessibleName(localized("Refresh"));
    reg("tidyRefreshBtn", refresh);
    connect(refresh, &QToolButton::clicked, this, [this] { run(&Commands::tidyRefresh); });
    auto* settings = new QToolButton;
    settings->setIcon(named("NSActionTemplate"));
    settings->setAutoRaise(true);
    settings->setToolTip(localized("Preferences"));
    settings->setAccessibleName(localized("Preferences"));
    connect(settings, &QToolButton::clicked, this, [this] {
        if (commands_.preferences) commands_.preferences();
    });
    reg("tidySettingsBtn", settings);
    auto* tidyNow = new QPushButton(localized("Tidy Now"));
    tidyNow->setProperty("primary", true);
    tidyNow->setMinimumHeight(32);
    reg("tidyNowBtn", tidyNow);
    connect(tidyNow, &QPushButton::clicked, this, [this] { run(&Commands::tidyNow); });
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
    reg("cleanTimeCheckBtn", byTime);
    connect(byTime, &QCheckBox::clicked, this, [this] { run(&Commands::trashChecksChanged); });
    auto* times = new QComboBox;
    for (const char* t : {"Daily", "Every Week", "Two Weeks", "Every Month", "Two Months"})
        times->addItem(localized(t));
    reg("theTimeBtn", times);
    connect(times, &QComboBox::activated, this, [this] { run(&Commands::trashTimeChanged); });
    auto* timeRow = new QHBoxLayout;
    timeRow->addWidget(byTime);
    timeRow->addWidget(times, 1);
    form->addLayout(timeRow);
    auto* bySize = new QCheckBox(localized("Empty the Trash when it grows beyond"));
    reg("cleanStorageCheckBtn", bySize);
    connect(bySize, &QCheckBox::clicked, this, [this] { run(&Commands::trashChecksChanged); });
    form->addWidget(bySize);
    auto* sizeRow = new QHBoxLayout;
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setRange(0, static_cast<int>(PPopoverviewConterller::kStorageSliderMaximum));
    reg("storageSlider", slider);
    connect(slider, &QSlider::sliderReleased, this, [this] { run(&Commands::trashSizeMoved); });
    connect(slider, &QSlider::actionTriggered, this, [this, slider](int action) {
        if (action != QAbstractSlider::SliderMove)
            QTimer::singleShot(0, slider, [this] { run(&Commands::trashSizeMoved); });
    });
    auto* sizeText = new QLabel("1.0GB");
    sizeText->setMinimumWidth(64);
    sizeText->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    reg("storagelab", sizeText);
    sizeRow->addWidget(slider, 1);
    sizeRow->addWidget(sizeText);
    form->addLayout(sizeRow);
    // What an emptying by the schedule removes: everything, or only some items.
    auto* onlyOlder = new QCheckBox(localized("only items older than the interval"));
    reg("trashOnlyOlderBtn", onlyOlder);
    connect(onlyOlder, &QCheckBox::clicked, this, [this] { run(&Commands::trashOnlyChanged); });
    auto* onlyOldest = new QCheckBox(localized("only the oldest items, down to the size"));
    reg("trashOnlyOldestBtn", onlyOldest);
    connect(onlyOldest, &QCheckBox::clicked, this, [this] { run(&Commands::trashOnlyChanged); });
    form->addWidget(onlyOlder);
    form->addWidget(onlyOldest);
    auto* last = card();
    auto* lv = new QFormLayout(last);
    lv->setContentsMargins(14, 12, 14, 12);
    auto* info = heading(localized("Last emptied"), "cardtitle");
    reg("lastCleanupInfolab", info);
    lv->addRow(info);
    auto* lastSize = new QLabel("—");
    reg("lastCleanupSizelab", lastSize);
    auto* lastDate = new QLabel("—");
    reg("lastCleanupDatelab", lastDate);
    lv->addRow(localized("Size:"), lastSize);
    lv->addRow(localized("Date:"), lastDate);
    form->addWidget(last);
    auto* login = new QCheckBox(localized("Start Vaultry at login"));
    reg("trashAutoLunchBtn", login);
    connect(login, &QCheckBox::clicked, this, [this] { run(&Commands::trashOnLogin); });
    form->addWidget(login);
    form->addStretch(1);
    tabs->addTab(trash, localized("Trash"));
    content_ = root;
}

}  // namespace vaultry::qt
