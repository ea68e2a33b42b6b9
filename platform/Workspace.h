#pragma once
#include <string>

namespace vaultry::platform {

// The desktop around us: the file browser, default applications, the web browser.
class Workspace {
public:
    virtual ~Workspace() = default;
    virtual bool reveal(const std::string& path) = 0;  // select the item in the file browser
    virtual bool open(const std::string& path) = 0;    // with its default application
    virtual bool openUrl(const std::string& url) = 0;
    virtual void copyText(const std::string& text) = 0;  // clipboard
    virtual void copyFile(const std::string& path) = 0;  // clipboard, as a file
};

}  // namespace vaultry::platform
