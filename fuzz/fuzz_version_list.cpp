// The maker's version list arrives from the network: read it, then compare what it names.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "update/VersionCheck.h"
#include "util/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (vaultry::setLogSink([](std::string_view) {}), true);
    (void)quiet;
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    if (auto list = vaultry::parseVersionList(bytes)) {
        const int a = vaultry::compareVersions(list->lastestVersion, "2.3.0");
        const int b = vaultry::compareVersions("2.3.0", list->lastestVersion);
        if (a != -b) __builtin_trap();
        (void)vaultry::releaseNotesText(list->whatsNew);
    }
    // The raw bytes as two versions: the comparison must be antisymmetric.
    const auto half = bytes.size() / 2;
    if (vaultry::compareVersions(bytes.substr(0, half), bytes.substr(half)) !=
        -vaultry::compareVersions(bytes.substr(half), bytes.substr(0, half)))
        __builtin_trap();
    return 0;
}
