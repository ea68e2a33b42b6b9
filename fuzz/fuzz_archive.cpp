// Decrypting and unpacking arbitrary bytes must never write outside the target folder.
// The first byte chooses: odd, the rest is taken as an archive as it stands; even, the rest is
// first encrypted with the pass phrase, so that the gzip and tar readers see the fuzzed bytes.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "vault/Archive.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    static const fs::path base = [] {
        std::string t = (fs::temp_directory_path() / "vaultry-fuzz-XXXXXX").string();
        if (!::mkdtemp(t.data())) abort();
        return fs::path(t);
    }();
    const fs::path outer = base / "outer";
    const fs::path target = outer / "target";
    std::error_code ec;
    fs::remove_all(outer, ec);
    fs::create_directories(target);
    const fs::path plain = base / "plain", archive = base / "in.tar.gz";
    fs::remove(archive, ec);
    if (data[0] & 1) {
        std::ofstream(archive, std::ios::binary)
            .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
    } else {
        std::ofstream(plain, std::ios::binary)
            .write(reinterpret_cast<const char*>(data + 1), static_cast<std::streamsize>(size - 1));
        if (!vaultry::vault::encryptFile(plain, archive, "pw", vaultry::vault::ArchiveKind::Folder)) abort();
    }
    (void)vaultry::vault::unpackFolder(archive, target, "pw");
    (void)vaultry::vault::verifyArchive(archive, vaultry::vault::ArchiveKind::Folder, "pw");
    // The same bytes as a file archive: the plaintext goes only where it is asked to.
    (void)vaultry::vault::decryptFile(archive, target / "plain", "pw");
    for (const auto& e : fs::directory_iterator(outer))
        if (e.path() != target) abort();  // something was written beside the target
    for (const auto& e : fs::directory_iterator(target))
        if (e.path().filename().string().rfind(".vaultry-unpack", 0) == 0 ||
            e.path().filename().string().find(".part-") != std::string::npos)
            abort();  // a temporary left behind
    return 0;
}
