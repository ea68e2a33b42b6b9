#pragma once
#include <filesystem>
#include <string>

namespace vaultry::platform {

// Where the user's things are. The Linux adapter reads the environment and the XDG user-dirs
// file, so a temporary HOME is all a test needs.
class Paths {
public:
    virtual ~Paths() = default;
    virtual std::filesystem::path home() const = 0;
    virtual std::string userName() const = 0;
    virtual std::filesystem::path desktop() const = 0;
    virtual std::filesystem::path documents() const = 0;
    virtual std::filesystem::path downloads() const = 0;
    virtual std::filesystem::path configHome() const = 0;  // $XDG_CONFIG_HOME or ~/.config
    virtual std::filesystem::path dataHome() const = 0;    // $XDG_DATA_HOME or ~/.local/share
    virtual std::filesystem::path trash() const = 0;       // dataHome()/Trash
    // The mount table whose volumes may hold Trash folders of their own; none by default.
    virtual std::filesystem::path mountTable() const { return {}; }
    // The folder the installation puts Vaultry's README, copyright and changelog in.
    virtual std::filesystem::path installedDocs() const = 0;
    std::filesystem::path settingsFile() const { return configHome() / "com.Quenmark.vaultry.plist"; }
};

}  // namespace vaultry::platform
