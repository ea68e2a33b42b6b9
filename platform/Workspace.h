#pragma once
#include <string>
#include <vector>

namespace vaultry::platform {

// The desktop around us: the file browser, default applications, the web browser.
class Workspace {
public:
    virtual ~Workspace() = default;
    // Selects the item in a file manager. False when no file manager can be asked: nothing else
    // is started then (a folder's default handler may be a web browser, which would keep the path
    // in its history), and the caller offers the path instead.
    virtual bool reveal(const std::string& path) = 0;
    // Opens the item with its default application; a folder only ever in a file manager. False
    // when nothing could open it.
    virtual bool open(const std::string& path) = 0;
    virtual bool openUrl(const std::string& url) = 0;
    // Onto the clipboard as files, for a file manager to paste; a text editor pastes the paths.
    virtual void copyFiles(const std::vector<std::string>& paths) = 0;
    // Onto the clipboard as text alone.
    virtual void copyText(const std::string& text) = 0;
};

}  // namespace vaultry::platform
