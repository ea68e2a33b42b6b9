// The decrypted-copies manifest is read from the storage folder, which the user may edit or a
// crash may cut short: any bytes must parse without harm, and what parses must survive a
// write and a second read unchanged.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "vault/CopyManifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto m =
        vaultry::vault::CopyManifest::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    const std::string once = m.serialize();
    const auto again = vaultry::vault::CopyManifest::parse(once);
    if (again.serialize() != once || again.size() != m.size()) __builtin_trap();
    return 0;
}
