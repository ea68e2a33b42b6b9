// The Chrome and Firefox database readers on arbitrary bytes written to a temporary file.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "cookies/CookieDatabase.h"
#include "cookies/CookieStores.h"
#include "util/Log.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool quiet = (vaultry::setLogSink([](std::string_view) {}), true);
    (void)quiet;
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("vaultry-fuzz-db-" + std::to_string(::getpid()))).string();
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    vaultry::CookNodes nodes;
    (void)vaultry::cookies::detectLayout(path);
    vaultry::cookies::ReadCookDatabaseFileWithPath(path, nodes);
    vaultry::cookies::ReadFirefoxCookDatabaseFileWithPath(path, nodes);
    for (const char* suffix : {"", "-wal", "-shm", "-journal"}) std::filesystem::remove(path + suffix);
    return 0;
}
