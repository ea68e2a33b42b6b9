#include "vault/StorageFolder.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <fstream>

#include "vault/Archive.h"
#include "vault/ArchiveManifest.h"

namespace vaultry::vault {

namespace fs = std::filesystem;

Status ensurePrivateFolder(const fs::path& folder) {
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec || !fs::is_directory(folder, ec)) return fail("cannot create " + folder.string());
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, ec);
    return {};
}

void giveFolderIcon(const fs::path& folder, platform::Spawn& spawn) {
    const fs::path entry = folder / ".directory";
    std::error_code ec;
    if (!fs::exists(entry, ec)) {
        const fs::path tmp = folder / ".directory.tmp";
        {
            std::ofstream out(tmp, std::ios::trunc);
            out << "[Desktop Entry]\nIcon=vaultry-foldericns\n";
        }
        if (!fs::exists(entry, ec)) fs::rename(tmp, entry, ec);
        fs::remove(tmp, ec);
    }
    (void)spawn.run("gio", {"set", folder.string(), "metadata::custom-icon-name", "vaultry-foldericns"});
}

std::vector<std::string> copyStorageFolder(const fs::path& from, const fs::path& to) {
    std::vector<std::string> notCopied;
    std::error_code ec;
    if (fs::equivalent(from, to, ec)) return notCopied;
    for (const auto& e : fs::directory_iterator(from, ec)) {
        const std::string name = e.path().filename().string();
        // The integrity manifest travels with its archives; other working files stay.
        const bool working = name.rfind(".vaultry-", 0) == 0 && name != ArchiveManifest::kFileName;
        if (name == ".directory" || working || name.find(".part-") != std::string::npos ||
            e.path().extension() == ".rekey")
            continue;
        const fs::path target = to / name;
        if (fs::symlink_status(target, ec).type() != fs::file_type::not_found) {
            if (name == "libdata" && fs::is_directory(target, ec) && e.is_directory(ec)) {
                for (auto& n : copyStorageFolder(e.path(), target)) notCopied.push_back("libdata/" + n);
            } else {
                notCopied.push_back(name + " (already there)");
            }
            continue;
        }
        // Copied under a temporary name and moved into place only when complete.
        std::string tmp = (to / (".vaultry-copy-XXXXXX")).string();
        if (!::mkdtemp(tmp.data())) {
            notCopied.push_back(name + " (cannot write)");
            continue;
        }
        const fs::path staged = fs::path(tmp) / name;
        std::error_code cec;
        fs::copy(e.path(), staged, fs::copy_options::recursive | fs::copy_options::copy_symlinks, cec);
        if (cec || !renameNoReplace(staged, target))
            notCopied.push_back(name + " (" + (cec ? cec.message() : std::string("cannot move into place")) +
                                ")");
        fs::remove_all(tmp, ec);
    }
    return notCopied;
}

}  // namespace vaultry::vault
