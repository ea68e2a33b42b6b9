// Property lists from outside: a settings file someone else wrote, or a downloaded version list.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "settings/SettingsStore.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto parsed = vaultry::parsePlist(std::string_view(reinterpret_cast<const char*>(data), size));
    if (parsed) {
        // Whatever was read must write back and read again as the same values.
        auto again = vaultry::parsePlist(vaultry::toXmlPlist(*parsed));
        if (!again || !(*again == *parsed)) __builtin_trap();
    }
    return 0;
}
