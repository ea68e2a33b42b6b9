#include "app/ShowInFileManager.h"

#include <filesystem>
#include <system_error>

namespace vaultry {

namespace {

void offerPath(platform::Workspace& workspace, platform::Ui& ui, const std::string& message,
               const std::string& path) {
    if (ui.runAlert({message, path + "\n\nCopy its path to reach it in a file manager or a terminal.",
                     " Copy ", " Close ", ""}) == platform::AlertAnswer::Default)
        workspace.copyText(path);
}

}  // namespace

void showInFileManager(platform::Workspace& workspace, platform::Ui& ui, const std::string& path) {
    if (!workspace.reveal(path)) offerPath(workspace, ui, "No file manager can show this item.", path);
}

void openOrOfferPath(platform::Workspace& workspace, platform::Ui& ui, const std::string& path) {
    if (workspace.open(path)) return;
    std::error_code ec;
    offerPath(workspace, ui,
              std::filesystem::is_directory(path, ec) ? "No file manager can open this folder."
                                                      : "No application can open this item.",
              path);
}

}  // namespace vaultry
