// Outside bytes of the profile and value readers: Chromium's encrypted values (with and without
// the host digest), Firefox's containers.json and originAttributes, profiles.ini and installs.ini.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "cookies/ChromiumCrypto.h"
#include "cookies/Containers.h"
#include "cookies/Profiles.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    static vaultry::cookies::ChromiumDecryptor decryptor({[] { return std::optional<std::string>("pass"); }});
    const auto host = text.substr(0, size % 17);
    (void)decryptor.decrypt({data, size}, host, true);
    (void)decryptor.decrypt({data, size}, host, false);
    const auto names = vaultry::cookies::containerNames(text);
    (void)vaultry::cookies::containerOf(text, names);
    const auto half = text.size() / 2;
    (void)vaultry::cookies::firefoxProfiles(text.substr(0, half), text.substr(half), "/base");
    return 0;
}
