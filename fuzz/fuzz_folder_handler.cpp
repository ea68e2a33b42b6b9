// Desktop entries and mimeapps.list files are read from folders other programs write: the input
// is both, in a desktop's folders made once, and the folder handler is looked up through them.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/linux/FolderHandler.h"

namespace fs = std::filesystem;
using namespace vaultry::platform;

namespace {

fs::path root;  // outlives the handler that deletes it, registered later

const XdgDirs& dirs() {
    static const XdgDirs made = [] {
        // A folder of our own (mkdtemp makes it new), the only one the exit handler deletes.
        std::string name = (fs::temp_directory_path() / "fuzz-folder-handler-XXXXXX").string();
        if (!::mkdtemp(name.data())) std::abort();
        root = name;
        XdgDirs d;
        d.configHome = root / "config";
        d.dataHome = root / "data";
        d.desktops = {"kde", "gnome"};
        fs::create_directories(d.configHome);
        fs::create_directories(d.dataHome / "applications");
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(root, ec);
        });
        return d;
    }();
    return made;
}

void put(const fs::path& file, const std::string& text) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const XdgDirs& d = dirs();
    const fs::path entry = d.dataHome / "applications/fm.desktop";
    put(entry, text);
    put(d.configHome / "mimeapps.list", text);
    put(d.configHome / "kde-mimeapps.list", text);
    if (const auto e = readDesktopEntry(entry, "fm.desktop")) {
        (void)isFileManager(*e);
        (void)execArguments(*e, "/home/a b/%f", "file:///home/a%20b/%25f");
    }
    if (const auto fm = folderFileManager(d)) (void)execArguments(*fm, "/x", "file:///x");
    (void)associatedApplications(d, "inode/directory");
    return 0;
}
