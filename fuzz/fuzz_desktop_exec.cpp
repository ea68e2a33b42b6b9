// Exec lines of autostart entries are read from files anyone may have written.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/linux/LinuxLoginItems.h"

using vaultry::platform::LinuxLoginItems;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    (void)LinuxLoginItems::programOfExec(text);
    // Any program written into an entry reads back as itself.
    if (text.find('\0') == std::string::npos &&
        LinuxLoginItems::programOfExec(LinuxLoginItems::execValue(text)) != text)
        __builtin_trap();
    return 0;
}
