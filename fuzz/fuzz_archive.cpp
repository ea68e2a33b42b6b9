// Decrypting and unpacking arbitrary bytes must never write outside the target folder.
// The first byte chooses: odd, the rest is taken as an archive as it stands; even, the rest is
// first encrypted with the pass phrase, so that the gzip and tar readers see the fuzzed bytes.
// The digest of what was unpacked, taken while it was written, must be the one a reading gives.
#include <stdlib.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "vault/Archive.h"
#include "vault/CopyDigest.h"
#include "vault/CopyManifest.h"

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
    // What is unpacked is hashed on its way: the digest taken so is the one a reading gives.
    vaultry::vault::WrittenFiles written;
    const auto placed =
        vaultry::vault::unpackFolder(archive, target, "pw", {}, nullptr, vaultry::Progress::none(), &written);
    for (const auto& name : placed ? *placed : std::vector<std::string>{}) {
        const auto read = vaultry::vault::copyDigest(target / name);
        const auto taken = vaultry::vault::copyDigest(target / name, &written);
        if (read && taken && *read != *taken) abort();
    }
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
