#include "platform/linux/LinuxLoginItems.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>

#include "util/AtomicFile.h"
#include "util/Log.h"

namespace vaultry::platform {
namespace {

std::string sameFile(const std::string& p) {
    std::error_code ec;
    const auto c = std::filesystem::weakly_canonical(p, ec);
    return ec ? p : c.string();
}

}  // namespace

LinuxLoginItems::LinuxLoginItems(const Paths& paths, std::string program)
    : paths_(paths), program_(std::move(program)) {}

std::filesystem::path LinuxLoginItems::entryPath() const {
    return paths_.configHome() / "autostart" / "vaultry.desktop";
}

std::string LinuxLoginItems::execValue(const std::string& program) {
    // Quoted as one argument ("\"", "`", "$" and "\\" escaped inside the quotes), then escaped
    // again as a string value; "%" is doubled so it is not read as a field code.
    std::string quoted = "\"";
    for (const char c : program) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
        if (c == '%') quoted += '%';
        quoted += c;
    }
    quoted += '"';
    std::string value;
    for (const char c : quoted) {
        if (c == '\\')
            value += "\\\\";
        else if (c == '\n')
            value += "\\n";
        else if (c == '\t')
            value += "\\t";
        else if (c == '\r')
            value += "\\r";
        else
            value += c;
    }
    return value;
}

std::string LinuxLoginItems::programOfExec(const std::string& exec) {
    std::string s;  // the string value unescaped
    for (std::size_t i = 0; i < exec.size(); ++i) {
        if (exec[i] != '\\' || i + 1 == exec.size()) {
            s += exec[i];
            continue;
        }
        const char n = exec[++i];
        s += n == 'n' ? '\n' : n == 't' ? '\t' : n == 'r' ? '\r' : n == 's' ? ' ' : n;
    }
    std::size_t i = s.find_first_not_of(" \t");
    if (i == std::string::npos) return {};
    std::string arg;
    if (s[i] == '"') {
        for (++i; i < s.size() && s[i] != '"'; ++i) {
            if (s[i] == '\\' && i + 1 < s.size()) ++i;
            arg += s[i];
        }
    } else {
        for (; i < s.size() && s[i] != ' ' && s[i] != '\t'; ++i) arg += s[i];
    }
    std::string out;
    for (std::size_t k = 0; k < arg.size(); ++k) {
        out += arg[k];
        if (arg[k] == '%' && k + 1 < arg.size() && arg[k + 1] == '%') ++k;
    }
    return out;
}

std::string LinuxLoginItems::guiProgram() {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        if (self.filename() == "vaultry") return self.string();
        const auto sibling = self.parent_path() / "vaultry";
        if (::access(sibling.c_str(), X_OK) == 0) return sibling.string();
    }
    return "vaultry";
}

bool LinuxLoginItems::startsProgram(const std::filesystem::path& entry) const {
    std::ifstream in(entry);
    bool inMain = false, hidden = false;
    std::string program;
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line[0] == '[') {
            inMain = line == "[Desktop Entry]";
            continue;
        }
        if (!inMain) continue;
        if (line.rfind("Exec=", 0) == 0) program = programOfExec(line.substr(5));
        if (line == "Hidden=true") hidden = true;
    }
    return !hidden && !program.empty() && sameFile(program) == sameFile(program_);
}

bool LinuxLoginItems::isEnabled() {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(entryPath().parent_path(), ec), end; !ec && it != end;
         it.increment(ec))
        if (it->path().extension() == ".desktop" && startsProgram(it->path())) return true;
    return false;
}

bool LinuxLoginItems::setEnabled(bool enabled) {
    if (enabled) {
        const std::string entry =
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Vaultry\n"
            "Comment=Keeps private files out of sight and the Trash in order\n"
            "Exec=" +
            execValue(program_) +
            " --hidden\n"  // at login only the tray icon; started by hand it shows its window
            "Terminal=false\n"
            "X-GNOME-Autostart-enabled=true\n";
        std::error_code ec;
        std::filesystem::create_directories(entryPath().parent_path(), ec);
        const auto written = writeFileAtomically(entryPath(), entry, 0644);
        if (!written) logLine(written.error().message);
        return written.ok();
    }
    bool ok = true;
    std::error_code ec;
    std::vector<std::filesystem::path> doomed;
    for (std::filesystem::directory_iterator it(entryPath().parent_path(), ec), end; !ec && it != end;
         it.increment(ec))
        if (it->path().extension() == ".desktop" && startsProgram(it->path())) doomed.push_back(it->path());
    for (const auto& p : doomed)
        if (::unlink(p.c_str()) != 0 && errno != ENOENT) ok = false;
    // Our own entry goes even when it names another copy of the program.
    if (::unlink(entryPath().c_str()) != 0 && errno != ENOENT) ok = false;
    return ok;
}

}  // namespace vaultry::platform
