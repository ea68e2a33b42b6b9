#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vaultry::platform {

// The application the desktop opens folders with, found the way the freedesktop MIME
// applications rules find it (mimeapps.list files, then the entries that name the type), and
// whether it is a file manager. A folder of the vault is only ever handed to a file manager: on
// a desktop without one the default handler of folders is often a web browser, which would keep
// the folder's path in its history.

// One application entry (a .desktop file), with the keys of its [Desktop Entry] group that
// matter here. Values are unescaped; localized keys are ignored.
struct DesktopEntry {
    std::string id;  // "org.gnome.Nautilus.desktop"
    std::filesystem::path file;
    std::string type;
    std::string name;
    std::string exec;
    std::string tryExec;
    std::string icon;
    std::vector<std::string> categories;
    std::vector<std::string> mimeTypes;
    bool hidden = false;
    bool terminal = false;
};

// The XDG base folders (XDG_CONFIG_HOME and the like), from the environment with their defaults.
struct XdgDirs {
    std::filesystem::path configHome;
    std::vector<std::filesystem::path> configDirs;
    std::filesystem::path dataHome;
    std::vector<std::filesystem::path> dataDirs;
    std::vector<std::string> desktops;  // XDG_CURRENT_DESKTOP, lowercase, in order
    static XdgDirs fromEnvironment();
};

// The entry's [Desktop Entry] group; none when the file cannot be read or has no such group.
std::optional<DesktopEntry> readDesktopEntry(const std::filesystem::path& file, std::string id);

// The default application for a MIME type: the first installed entry of the [Default
// Applications] lines, by the files' order of precedence; none when no list names one.
std::optional<DesktopEntry> defaultApplication(const XdgDirs& dirs, std::string_view mimeType);
// Every installed application associated with the type, most preferred first: the [Added
// Associations] of the lists, then the entries whose MimeType names it, less the [Removed
// Associations].
std::vector<DesktopEntry> associatedApplications(const XdgDirs& dirs, std::string_view mimeType);

// A file manager by its categories ("FileManager", and not "WebBrowser") or as one of the file
// managers known by name (Nautilus, Dolphin, Nemo, Caja, Thunar, PCManFM, elementary Files,
// SpaceFM, Konqueror, …). One that needs a terminal does not count.
bool isFileManager(const DesktopEntry& entry);

// The file manager that opens folders: the default handler of inode/directory when it is a file
// manager; with no default chosen, the first file manager associated with folders. None when the
// default is something else (a web browser) or no file manager is installed.
std::optional<DesktopEntry> folderFileManager(const XdgDirs& dirs);

// The argument vector the entry's Exec key gives for opening one folder, given as a path (for
// %f and %F) and as a file URI (for %u and %U); the folder is added at the end when Exec takes
// no file. None when Exec is empty or not quoted as the rules want.
std::optional<std::vector<std::string>> execArguments(const DesktopEntry& entry, const std::string& path,
                                                      const std::string& uri);

}  // namespace vaultry::platform
