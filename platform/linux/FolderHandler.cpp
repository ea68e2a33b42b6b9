#include "platform/linux/FolderHandler.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>

#include "platform/linux/LinuxSpawn.h"

namespace vaultry::platform {

namespace fs = std::filesystem;

namespace {

std::string env(const char* name) {
    const char* v = std::getenv(name);
    return v ? v : "";
}

std::vector<std::string> split(std::string_view text, char sep) {
    std::vector<std::string> out;
    std::string piece;
    for (char c : text) {
        if (c == sep) {
            if (!piece.empty()) out.push_back(piece);
            piece.clear();
        } else {
            piece += c;
        }
    }
    if (!piece.empty()) out.push_back(piece);
    return out;
}

std::vector<fs::path> absoluteFolders(const std::string& value, std::vector<fs::path> fallback) {
    std::vector<fs::path> out;
    for (const auto& folder : split(value, ':'))
        if (fs::path(folder).is_absolute()) out.emplace_back(folder);
    return out.empty() ? fallback : out;
}

std::string lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string trim(std::string_view s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string_view::npos) return {};
    const auto last = s.find_last_not_of(" \t\r");
    return std::string(s.substr(first, last - first + 1));
}

// The escapes of a string value: \s \n \t \r \\ (others are kept as they stand).
std::string unescape(std::string_view value) {
    std::string out;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        switch (value[++i]) {
            case 's':
                out += ' ';
                break;
            case 'n':
                out += '\n';
                break;
            case 't':
                out += '\t';
                break;
            case 'r':
                out += '\r';
                break;
            case '\\':
                out += '\\';
                break;
            default:
                out += '\\';
                out += value[i];
        }
    }
    return out;
}

// A list value: items separated by ';', where "\;" is a semicolon within an item.
std::vector<std::string> listValue(std::string_view value) {
    std::vector<std::string> out;
    std::string item;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size() && value[i + 1] == ';') {
            item += ';';
            ++i;
        } else if (value[i] == ';') {
            if (!item.empty()) out.push_back(unescape(item));
            item.clear();
        } else {
            item += value[i];
        }
    }
    if (!item.empty()) out.push_back(unescape(item));
    return out;
}

// The groups of a key file: group name → key → raw value. Localized keys ("Name[de]") are left
// out; the first of a repeated key counts.
using KeyFile = std::map<std::string, std::map<std::string, std::string>>;

std::optional<KeyFile> readKeyFile(const fs::path& file) {
    std::error_code ec;
    if (!fs::is_regular_file(file, ec)) return std::nullopt;
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    KeyFile groups;
    std::string group;
    for (std::string line; std::getline(in, line);) {
        const std::string t = trim(line);
        if (t.empty() || t[0] == '#') continue;
        if (t.front() == '[' && t.back() == ']') {
            group = t.substr(1, t.size() - 2);
            groups[group];
            continue;
        }
        const auto eq = t.find('=');
        if (group.empty() || eq == std::string::npos) continue;
        const std::string key = trim(std::string_view(t).substr(0, eq));
        if (key.empty() || key.find('[') != std::string::npos) continue;
        groups[group].emplace(key, trim(std::string_view(t).substr(eq + 1)));
    }
    return groups;
}

std::vector<fs::path> applicationFolders(const XdgDirs& dirs) {
    std::vector<fs::path> out{dirs.dataHome / "applications"};
    for (const auto& d : dirs.dataDirs) out.push_back(d / "applications");
    return out;
}

// The entry of a desktop file id in one applications folder: "a-b.desktop" may also be
// "a/b.desktop" there.
std::optional<fs::path> entryFileIn(const fs::path& folder, const std::string& id) {
    std::error_code ec;
    if (fs::is_regular_file(folder / id, ec)) return folder / id;
    for (std::size_t dash = id.find('-'); dash != std::string::npos; dash = id.find('-', dash + 1)) {
        const fs::path sub = folder / id.substr(0, dash);
        if (fs::is_directory(sub, ec))
            if (auto found = entryFileIn(sub, id.substr(dash + 1))) return found;
    }
    return std::nullopt;
}

bool runnable(const std::string& program) {
    if (program.empty()) return false;
    if (program.find('/') == std::string::npos) return LinuxSpawn::resolveProgram(program).has_value();
    return ::access(program.c_str(), X_OK) == 0;
}

// An entry that can be started: an application, not deleted, with a command whose TryExec, if
// any, is there.
bool usable(const DesktopEntry& e) {
    return e.type == "Application" && !e.hidden && !e.exec.empty() &&
           (e.tryExec.empty() || runnable(e.tryExec));
}

// The installed entry of an id: the one in the first applications folder that has it. An entry
// there that is deleted (Hidden) or cannot run hides the ones of the same id further down.
std::optional<DesktopEntry> installedEntry(const XdgDirs& dirs, const std::string& id) {
    for (const auto& folder : applicationFolders(dirs)) {
        const auto file = entryFileIn(folder, id);
        if (!file) continue;
        auto entry = readDesktopEntry(*file, id);
        if (entry && usable(*entry)) return entry;
        return std::nullopt;
    }
    return std::nullopt;
}

// Every mimeapps.list by precedence: for each folder (the configuration home and folders, then
// the data home's and data folders' applications), the desktop's own list before the common one.
std::vector<fs::path> mimeappsLists(const XdgDirs& dirs) {
    std::vector<fs::path> folders{dirs.configHome};
    folders.insert(folders.end(), dirs.configDirs.begin(), dirs.configDirs.end());
    for (const auto& folder : applicationFolders(dirs)) folders.push_back(folder);
    std::vector<fs::path> out;
    for (const auto& folder : folders) {
        for (const auto& desktop : dirs.desktops) out.push_back(folder / (desktop + "-mimeapps.list"));
        out.push_back(folder / "mimeapps.list");
    }
    return out;
}

std::vector<std::string> listed(const KeyFile& file, const char* group, std::string_view mimeType) {
    const auto g = file.find(group);
    if (g == file.end()) return {};
    const auto key = g->second.find(std::string(mimeType));
    return key == g->second.end() ? std::vector<std::string>{} : listValue(key->second);
}

// Every application entry of the applications folders, by id; an id in an earlier folder hides
// the same id further down.
std::vector<DesktopEntry> allEntries(const XdgDirs& dirs) {
    std::set<std::string> seen;
    std::vector<DesktopEntry> out;
    for (const auto& folder : applicationFolders(dirs)) {
        std::vector<std::pair<std::string, fs::path>> found;
        std::error_code ec;
        for (auto it = fs::recursive_directory_iterator(folder, ec);
             !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
            if (it->path().extension() != ".desktop" || !it->is_regular_file(ec)) continue;
            std::string id = it->path().lexically_relative(folder).string();
            std::replace(id.begin(), id.end(), '/', '-');
            found.emplace_back(id, it->path());
        }
        std::sort(found.begin(), found.end());
        for (const auto& [id, file] : found) {
            if (!seen.insert(id).second) continue;
            if (auto entry = readDesktopEntry(file, id); entry && usable(*entry))
                out.push_back(std::move(*entry));
        }
    }
    return out;
}

}  // namespace

XdgDirs XdgDirs::fromEnvironment() {
    XdgDirs d;
    const fs::path home = env("HOME");
    const std::string configHome = env("XDG_CONFIG_HOME"), dataHome = env("XDG_DATA_HOME");
    d.configHome = fs::path(configHome).is_absolute() ? fs::path(configHome) : home / ".config";
    d.dataHome = fs::path(dataHome).is_absolute() ? fs::path(dataHome) : home / ".local/share";
    d.configDirs = absoluteFolders(env("XDG_CONFIG_DIRS"), {"/etc/xdg"});
    d.dataDirs = absoluteFolders(env("XDG_DATA_DIRS"), {"/usr/local/share", "/usr/share"});
    for (const auto& desktop : split(env("XDG_CURRENT_DESKTOP"), ':')) d.desktops.push_back(lower(desktop));
    return d;
}

std::optional<DesktopEntry> readDesktopEntry(const fs::path& file, std::string id) {
    const auto groups = readKeyFile(file);
    if (!groups) return std::nullopt;
    const auto g = groups->find("Desktop Entry");
    if (g == groups->end()) return std::nullopt;
    const auto& keys = g->second;
    const auto value = [&keys](const char* key) {
        const auto it = keys.find(key);
        return it == keys.end() ? std::string() : it->second;
    };
    DesktopEntry e;
    e.id = std::move(id);
    e.file = file;
    e.type = unescape(value("Type"));
    e.name = unescape(value("Name"));
    e.exec = unescape(value("Exec"));
    e.tryExec = unescape(value("TryExec"));
    e.icon = unescape(value("Icon"));
    e.categories = listValue(value("Categories"));
    e.mimeTypes = listValue(value("MimeType"));
    e.hidden = value("Hidden") == "true";
    e.terminal = value("Terminal") == "true";
    return e;
}

std::optional<DesktopEntry> defaultApplication(const XdgDirs& dirs, std::string_view mimeType) {
    std::vector<fs::path> lists = mimeappsLists(dirs);
    // The older name of the lists in the applications folders, below all of them.
    for (const auto& folder : applicationFolders(dirs)) lists.push_back(folder / "defaults.list");
    for (const auto& list : lists) {
        const auto file = readKeyFile(list);
        if (!file) continue;
        for (const auto& id : listed(*file, "Default Applications", mimeType))
            if (auto entry = installedEntry(dirs, id)) return entry;
    }
    return std::nullopt;
}

std::vector<DesktopEntry> associatedApplications(const XdgDirs& dirs, std::string_view mimeType) {
    std::vector<DesktopEntry> out;
    std::set<std::string> removed, taken;
    const auto add = [&](DesktopEntry entry) {
        if (!removed.count(entry.id) && taken.insert(entry.id).second) out.push_back(std::move(entry));
    };
    for (const auto& list : mimeappsLists(dirs)) {
        const auto file = readKeyFile(list);
        if (!file) continue;
        for (const auto& id : listed(*file, "Added Associations", mimeType))
            if (!removed.count(id))
                if (auto entry = installedEntry(dirs, id)) add(std::move(*entry));
        for (const auto& id : listed(*file, "Removed Associations", mimeType)) removed.insert(id);
    }
    for (auto& entry : allEntries(dirs))
        if (std::find(entry.mimeTypes.begin(), entry.mimeTypes.end(), mimeType) != entry.mimeTypes.end())
            add(std::move(entry));
    return out;
}

bool isFileManager(const DesktopEntry& entry) {
    if (entry.terminal) return false;
    const auto has = [&entry](const char* category) {
        return std::find(entry.categories.begin(), entry.categories.end(), category) !=
               entry.categories.end();
    };
    if (has("FileManager") && !has("WebBrowser")) return true;
    // The file managers known by their entry's id, and by the program their entry runs.
    static const auto ids = split(
        "org.gnome.nautilus nautilus nautilus-folder-handler org.kde.dolphin dolphin nemo caja "
        "caja-folder-handler thunar org.xfce.thunar thunar-folder-handler pcmanfm pcmanfm-qt "
        "io.elementary.files spacefm konqueror org.kde.konqueror kfmclient_dir org.kde.krusader krusader "
        "doublecmd peony dde-file-manager xfe",
        ' ');
    static const auto programs = split(
        "nautilus dolphin nemo caja thunar pcmanfm pcmanfm-qt io.elementary.files spacefm konqueror krusader "
        "doublecmd peony dde-file-manager xfe",
        ' ');
    const auto known = [](const std::vector<std::string>& names, const std::string& name) {
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    std::string id = lower(entry.id);
    if (id.size() > 8 && id.ends_with(".desktop")) id.resize(id.size() - 8);
    if (known(ids, id)) return true;
    const auto args = execArguments(entry, "/", "file:///");
    return args && known(programs, lower(fs::path(args->front()).filename().string()));
}

std::optional<DesktopEntry> folderFileManager(const XdgDirs& dirs) {
    if (auto chosen = defaultApplication(dirs, "inode/directory"))
        return isFileManager(*chosen) ? chosen : std::nullopt;
    for (auto& entry : associatedApplications(dirs, "inode/directory"))
        if (isFileManager(entry)) return std::move(entry);
    return std::nullopt;
}

std::optional<std::vector<std::string>> execArguments(const DesktopEntry& entry, const std::string& path,
                                                      const std::string& uri) {
    // The words of the command: blanks separate them; within double quotes a backslash takes the
    // next '"', '`', '$' or '\' as it is.
    std::vector<std::string> words;
    std::string word;
    bool inWord = false, quoted = false;
    const std::string& exec = entry.exec;
    for (std::size_t i = 0; i < exec.size(); ++i) {
        const char c = exec[i];
        if (quoted) {
            if (c == '"') {
                quoted = false;
            } else if (c == '\\' && i + 1 < exec.size() &&
                       std::string_view("\"`$\\").find(exec[i + 1]) != std::string_view::npos) {
                word += exec[++i];
            } else {
                word += c;
            }
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else if (c == '"') {
            quoted = inWord = true;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (quoted) return std::nullopt;
    if (inWord) words.push_back(word);

    std::vector<std::string> args;
    bool tookFile = false;
    for (const auto& w : words) {
        if (w == "%i") {
            if (!entry.icon.empty()) args.insert(args.end(), {"--icon", entry.icon});
            continue;
        }
        std::string out;
        bool codesOnly = true;  // nothing but field codes that expand to nothing
        for (std::size_t i = 0; i < w.size(); ++i) {
            if (w[i] != '%' || i + 1 == w.size()) {
                out += w[i];
                codesOnly = false;
                continue;
            }
            switch (w[++i]) {
                case '%':
                    out += '%';
                    codesOnly = false;
                    break;
                case 'f':
                case 'F':
                    out += path;
                    tookFile = true;
                    codesOnly = false;
                    break;
                case 'u':
                case 'U':
                    out += uri;
                    tookFile = true;
                    codesOnly = false;
                    break;
                case 'c':
                    out += entry.name;
                    codesOnly = false;
                    break;
                case 'k':
                    out += entry.file.string();
                    codesOnly = false;
                    break;
                default:
                    break;  // %i within a word, and the deprecated codes: nothing
            }
        }
        if (!out.empty() || !codesOnly) args.push_back(out);
    }
    if (args.empty() || args.front().empty()) return std::nullopt;
    if (!tookFile) args.push_back(path);
    return args;
}

}  // namespace vaultry::platform
