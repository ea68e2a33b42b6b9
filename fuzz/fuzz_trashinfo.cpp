// .trashinfo files, directorysizes names and the tidy's move log are read as bytes other programs
// (or other users of the same volume) may have written; the mount table is read the same way.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "desktop/Tidy.h"
#include "trash/TrashItems.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    using namespace vaultry;
    if (const auto info = trash::parseTrashInfo(text))
        if (info->path.size() > text.size()) __builtin_trap();  // decoding never grows a path
    if (trash::percentDecode(trash::percentEncode(text)) != text) __builtin_trap();
    for (const auto& p : trash::parseMountInfo(text))
        if (p.string().size() > text.size()) __builtin_trap();
    (void)trash::parseDeletionDate(text);
    (void)trash::parseSize(text);
    if (const auto log = tidy::parseMoveLog(text))
        for (const auto& name : log->names)
            if (!tidy::isPlainName(name)) __builtin_trap();  // never a path out of the tidy folder
    return 0;
}
