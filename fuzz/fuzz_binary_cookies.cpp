// The Safari binary cookie reader on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "cookies/BinaryCookies.h"
#include "platform/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (vaultry::setLogSink([](std::string_view) {}), true);
    (void)quiet;
    vaultry::CookNodes out;
    std::vector<std::uint32_t> pages;
    vaultry::cookies::parseCookBinary({data, size}, out, pages);
    for (const auto& node : out) (void)node->fileValue();
    return 0;
}
