#include "desktop/FBFileNode.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <system_error>

#include "desktop/FileKind.h"
#include "desktop/SizeText.h"
#include "util/TimeText.h"

namespace vaultry {
namespace {

FBFileNode::Date fromStatx(const struct statx_timestamp& ts) {
    using namespace std::chrono;
    return FBFileNode::Date(
        duration_cast<system_clock::duration>(seconds(ts.tv_sec) + nanoseconds(ts.tv_nsec)));
}

}  // namespace

std::string dateDescription(FBFileNode::Date date) { return timeText(date, "%Y-%m-%d %H:%M:%S +0000"); }

std::shared_ptr<FBFileNode> makeFileNode(const std::string& path) {
    auto node = std::make_shared<FBFileNode>();
    node->setFileName(std::filesystem::path(path).filename().string());
    node->setFullFilePath(path);
    node->setFileIcon(platform::ImageRef::iconOf(path, 64));

    struct statx st {};
    if (statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_SIZE | STATX_MTIME | STATX_BTIME, &st) ==
        0) {
        char buffer[100] = {};
        node->setFileSize(size_to_unit(st.stx_size, buffer));
        node->setFilesizenumber(st.stx_size);
        const auto modified = fromStatx(st.stx_mtime);
        // File systems without a birth time report none; the modification date stands in.
        const auto created = (st.stx_mask & STATX_BTIME) ? fromStatx(st.stx_btime) : modified;
        node->setThefileModifyDate(modified);
        node->setFileModifyDate(dateDescription(modified));
        node->setFileCreateDate(dateDescription(created));
    }

    const char* kind = desktopKind(path);
    node->setFileKindType(kind);
    if (kind == std::string_view(kind::Pictures)) {
        auto icon = platform::ImageRef::file(path);
        icon.size = 64;
        node->setFileIcon(icon);
    }
    return node;
}

std::pair<int, int> pictureIconSize(int width, int height) {
    if (width <= 0 || height <= 0) return {0, 0};
    const auto w = static_cast<long long>(width), h = static_cast<long long>(height);
    if (w > h) return {64, static_cast<int>(std::max(1LL, h * 64 / w))};
    return {static_cast<int>(std::max(1LL, w * 54 / h)), 54};
}

bool check_value(const std::shared_ptr<FBFileNode>& a, const std::shared_ptr<FBFileNode>& b) {
    return a->thefileModifyDate() > b->thefileModifyDate();
}

void sortNewestFirst(FileNodes& nodes) { std::stable_sort(nodes.begin(), nodes.end(), check_value); }

FileNodes scanFolder(const std::string& folder) {
    FileNodes nodes;
    std::error_code ec;
    std::filesystem::directory_iterator it(folder, ec), end;
    for (; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.') continue;
        nodes.push_back(makeFileNode((std::filesystem::path(folder) / name).string()));
    }
    return nodes;
}

}  // namespace vaultry
