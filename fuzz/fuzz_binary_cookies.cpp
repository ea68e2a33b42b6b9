// The Safari binary cookie reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "cookies/BinaryCookies.h"
#include "util/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (vaultry::setLogSink([](std::string_view) {}), true);
    (void)quiet;
    vaultry::CookNodes out;
    std::vector<std::uint32_t> pages;
    vaultry::cookies::parseCookBinary({data, size}, out, pages);
    // The texts copied out never add up to more than the bytes read.
    std::size_t copied = 0;
    for (const auto& node : out)
        for (const auto& t : {node->fileHost(), node->fileName(), node->filePath(), node->fileValue()})
            copied += t ? t->size() : 0;
    if (copied > size) __builtin_trap();
    return 0;
}
