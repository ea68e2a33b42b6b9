#include "gui/AppWindows.h"

#include <QMainWindow>

#include "gui/AboutWindow.h"
#include "gui/AccessWindow.h"
#include "gui/AutoTrashWindow.h"
#include "gui/CreatePasswordWindow.h"
#include "gui/EnterPasswordWindow.h"
#include "gui/NoUpdateWindow.h"
#include "gui/PopoverContent.h"
#include "gui/PreferencesWindow.h"
#include "gui/ProgressWindow.h"
#include "gui/UpdateWindow.h"
#include "gui/VaultWindow.h"

namespace vaultry::qt {

AppWindows::AppWindows(QtUi& ui, NotificationCenter& nc, Commands& commands)
    : context_{ui, nc, commands, [this](const std::string& name, QWidget* w) { topLevels_[name] = w; }} {
    main_ = std::make_unique<MainWindow>(context_);
    vault_ = std::make_unique<VaultWindow>(context_);
    access_ = std::make_unique<AccessWindow>(context_);
    popover_ = std::make_unique<PopoverContent>(context_);
    autoTrash_ = std::make_unique<AutoTrashWindow>(context_, popover_->widget());
    preferences_ = std::make_unique<PreferencesWindow>(context_);
    createPassword_ = std::make_unique<CreatePasswordWindow>(context_);
    enterPassword_ = std::make_unique<EnterPasswordWindow>(context_);
    about_ = std::make_unique<AboutWindow>(context_);
    update_ = std::make_unique<UpdateWindow>(context_);
    noUpdate_ = std::make_unique<NoUpdateWindow>(context_);
    progress_ = std::make_unique<ProgressWindow>(context_);
}

AppWindows::~AppWindows() {
    for (auto& [name, w] : topLevels_)
        if (w) delete w.data();
}

QWidget* AppWindows::popoverContent() const { return popover_->widget(); }

void AppWindows::returnPopoverContent() { autoTrash_->returnPopoverContent(); }

}  // namespace vaultry::qt
