#pragma once
#include <string>

#include "platform/Ui.h"
#include "platform/Workspace.h"

namespace vaultry {

// Shows the item selected in a file manager. Where none can be asked, nothing else is started:
// the user is told and offered the path to copy.
void showInFileManager(platform::Workspace& workspace, platform::Ui& ui, const std::string& path);

// Opens the item with its default application (a folder in a file manager); where nothing can,
// the user is told and offered the path to copy.
void openOrOfferPath(platform::Workspace& workspace, platform::Ui& ui, const std::string& path);

}  // namespace vaultry
