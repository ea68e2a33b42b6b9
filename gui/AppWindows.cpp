#include "gui/AppWindows.h"

#include <QMainWindow>

#include "gui/AutoTrashWindow.h"
#include "gui/ProgressWindow.h"
#include "gui/VaultWindow.h"

namespace vaultry::qt {

AppWindows::AppWindows(QtUi& ui, NotificationCenter& nc, Commands& commands)
    : context_{ui, nc, commands, [this](const std::string& name, QWidget* w) { topLevels_[name] = w; }} {
    main_ = add<MainWindow>();
    add<VaultWindow>();
    add<AccessWindow>();
    popover_ = add<PopoverContent>();
    autoTrash_ = add<AutoTrashWindow>(popover_->widget());
    add<PreferencesWindow>();
    add<CreatePasswordWindow>();
    add<EnterPasswordWindow>();
    add<AboutWindow>();
    add<UpdateWindow>();
    add<NoUpdateWindow>();
    add<ProgressWindow>();
}

AppWindows::~AppWindows() {
    for (auto& [name, w] : topLevels_)
        if (w) delete w.data();
    while (!parts_.empty()) parts_.pop_back();  // the last built goes first
}

QWidget* AppWindows::popoverContent() const { return popover_->widget(); }

void AppWindows::returnPopoverContent() { autoTrash_->returnPopoverContent(); }

}  // namespace vaultry::qt
