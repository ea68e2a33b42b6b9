// du's output is read as bytes from another program.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "trash/Trash.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const std::uint64_t bytes = vaultry::trash::parseDuOutput(text);
    if (bytes % 1024 != 0 && bytes != UINT64_MAX) __builtin_trap();
    return 0;
}
