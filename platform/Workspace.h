#pragma once
#include <string>
#include <vector>

namespace vaultry::platform {

// The desktop around us: the file browser, default applications, the web browser.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool reveal(const std::string& path) = 0;  // select the item in the file browser
    virtual bool open(const std::string& path) = 0;    // with its default application
    virtual bool openUrl(const std::string& url) = 0;
    // Onto the clipboard as files, for a file manager to paste; a text editor pastes the paths.
    virtual void copyFiles(const std::vector<std::string>& paths) = 0;
};

}  // namespace vaultry::platform
