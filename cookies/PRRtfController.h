#pragma once
#include <string>

#include "cookies/PRCookFileNode.h"
#include "util/Result.h"

namespace vaultry {

// Gathers the export document and writes it in one piece. Despite the name, the file holds plain
// UTF-8 text without markup.
class PRRtfController {
public:
    PRRtfController() { setRtfHeader(); }
    void setRtfHeader() { strRtfContent.clear(); }
    // Appends the text and an empty line.
    void addRtfContent(const std::string& text) { strRtfContent += text + "\n\n"; }
    void setRtfEnder() {}
    // Writes the text to folder + "/cookiedata.txt", atomically; the type is not used.
    Status writeRtfInPath(const std::string& folder, const std::string& fileType);

    std::string strRtfContent;
};

namespace cookies {
// One record's export line, without its line breaks: "Website:%@  Name:%@  Secure:%@  Path:%@
// Value:%@  ", a missing text written as "(null)"; a cookie of a Firefox container adds
// "Container:%@  ".
std::string exportLine(const PRCookFileNode& node);
// The whole export file for these records.
std::string exportText(const CookNodes& nodes);
}  // namespace cookies

}  // namespace vaultry
