#include "support/TreeState.h"

#include <sys/stat.h>

#include "support/FakePorts.h"

namespace vaultry::test {

std::map<std::string, std::string> treeState(const std::filesystem::path& root, bool dotNames) {
    namespace fs = std::filesystem;
    std::map<std::string, std::string> out;
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(root, ec))) return out;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path p = it->path();
        if (!dotNames && p.filename().string().starts_with(".")) {
            if (it->is_directory()) it.disable_recursion_pending();
            continue;
        }
        struct stat st {};
        ::lstat(p.c_str(), &st);
        std::string d = std::to_string(st.st_mode) + ":" + std::to_string(st.st_mtim.tv_sec) + ":";
        if (S_ISLNK(st.st_mode))
            d += "link " + fs::read_symlink(p).string();
        else if (S_ISREG(st.st_mode))
            d += readFile(p);
        out[p.lexically_relative(root).string()] = d;  // the entry itself, never what a link names
    }
    return out;
}

}  // namespace vaultry::test
