#pragma once
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "platform/Image.h"
#include "util/LockedFields.h"

namespace vaultry {

// One item of the tidy folder (or of a folder the desktop browser shows). Workers build these
// while the main thread may read others, so every property is read and written under the
// record's own lock; texts are copied in and out.
class FBFileNode : private LockedFields {
public:
    using Date = std::chrono::system_clock::time_point;

    std::string fileName() const { return get(fileName_); }
    void setFileName(std::string v) { put(fileName_, std::move(v)); }
    std::string fileCreateDate() const { return get(fileCreateDate_); }
    void setFileCreateDate(std::string v) { put(fileCreateDate_, std::move(v)); }
    std::string fileModifyDate() const { return get(fileModifyDate_); }
    void setFileModifyDate(std::string v) { put(fileModifyDate_, std::move(v)); }
    Date thefileModifyDate() const { return get(thefileModifyDate_); }
    void setThefileModifyDate(Date v) { put(thefileModifyDate_, v); }
    std::uint64_t filesizenumber() const { return get(filesizenumber_); }
    void setFilesizenumber(std::uint64_t v) { put(filesizenumber_, v); }
    std::string fileSize() const { return get(fileSize_); }
    void setFileSize(std::string v) { put(fileSize_, std::move(v)); }
    std::string fullFilePath() const { return get(fullFilePath_); }
    void setFullFilePath(std::string v) { put(fullFilePath_, std::move(v)); }
    std::string fileKindType() const { return get(fileKindType_); }
    void setFileKindType(std::string v) { put(fileKindType_, std::move(v)); }
    // The type icon of the path at 64 by 64; for a picture the picture itself (see
    // pictureIconSize), falling back to the type icon when the picture does not load.
    platform::ImageRef fileIcon() const { return get(fileIcon_); }
    void setFileIcon(platform::ImageRef v) { put(fileIcon_, std::move(v)); }

private:
    std::string fileName_, fileCreateDate_, fileModifyDate_;
    Date thefileModifyDate_{};
    std::uint64_t filesizenumber_ = 0;
    std::string fileSize_, fullFilePath_, fileKindType_;
    platform::ImageRef fileIcon_;
};

using FileNodes = std::vector<std::shared_ptr<FBFileNode>>;

// A record of the item at path: name, attributes (of the item itself, not what a link points
// to), size text, dates, kind and icon. An item whose attributes cannot be read keeps size 0
// and empty dates. Pictures get ImageRef::file(path) with size 64: the GUI decodes them at the
// reduced size pictureIconSize gives, never at full size.
std::shared_ptr<FBFileNode> makeFileNode(const std::string& path);

// The edge of a picture's icon: 64 wide when wider than high, else 54 high, keeping the
// proportions (integer arithmetic). {0, 0} for an empty picture (show the type icon instead).
std::pair<int, int> pictureIconSize(int width, int height);

// A date as its standard description: "2026-12-08 00:20:12 +0000" (UTC).
std::string dateDescription(FBFileNode::Date date);

// Newer first; equal dates compare equal.
bool check_value(const std::shared_ptr<FBFileNode>& a, const std::shared_ptr<FBFileNode>& b);
void sortNewestFirst(FileNodes& nodes);

// Records of a folder's entries, not recursive, skipping every name that begins with ".", in the
// folder's listing order. A missing or unreadable folder gives none.
FileNodes scanFolder(const std::string& folder);

}  // namespace vaultry
