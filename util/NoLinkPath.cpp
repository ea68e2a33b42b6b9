#include "util/NoLinkPath.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

namespace vaultry {

std::string withoutTrailingSlashes(std::string s) {
    for (;;) {
        if (s.size() > 1 && s.back() == '/')
            s.pop_back();
        else if (s.size() > 2 && s.ends_with("/."))
            s.resize(s.size() - 2);
        else
            break;
    }
    return s;
}

Result<std::filesystem::path> pathWithoutLinks(const std::string& given) {
    const std::string s = withoutTrailingSlashes(given);
    if (s.empty()) return fail(given + ": refused: an empty path");
    std::vector<std::string> parts;  // the components as written
    for (std::size_t i = 0; i <= s.size();) {
        const std::size_t end = std::min(s.find('/', i), s.size());
        if (end > i) parts.push_back(s.substr(i, end - i));
        i = end + 1;
    }
    // The folders proved real so far, from the root. The working folder as the kernel reports it
    // holds no links.
    std::vector<std::string> stack;
    if (s.front() != '/') {
        std::error_code ec;
        const std::filesystem::path cwd = std::filesystem::current_path(ec);
        if (ec) return fail(given + ": refused: the working folder cannot be read: " + ec.message());
        for (const auto& p : cwd.relative_path()) stack.push_back(p.string());
    }
    const auto joined = [&] {
        std::string path = "/";
        for (const auto& p : stack) path += (path.size() > 1 ? "/" : "") + p;
        return path;
    };
    std::string written = s.front() == '/' ? "/" : "";  // the prefix as the user wrote it
    bool missing = false;                               // a folder on the way does not exist
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::string& part = parts[i];
        written += (written.empty() || written == "/" ? "" : "/") + part;
        const bool last = i + 1 == parts.size();
        if (part == ".") continue;
        if (part == "..") {
            // A folder that does not exist has no parent to go back to.
            if (missing) return fail(given + ": refused: a folder before " + written + " does not exist");
            if (!stack.empty()) stack.pop_back();
            continue;
        }
        stack.push_back(part);
        if (last || missing) continue;
        struct stat st {};
        if (::lstat(joined().c_str(), &st) != 0) {
            if (errno != ENOENT) return fail(given + ": refused: " + written + " cannot be looked at");
            missing = true;
            continue;
        }
        if (S_ISLNK(st.st_mode)) return fail(given + ": refused: " + written + " is a symbolic link");
        if (!S_ISDIR(st.st_mode)) return fail(given + ": refused: " + written + " is not a folder");
    }
    return std::filesystem::path(joined());
}

}  // namespace vaultry
