#pragma once
#include <filesystem>
#include <string>

#include "platform/LoginItems.h"
#include "platform/Paths.h"

namespace vaultry::platform {

// Start at login through the XDG autostart folder: the entry autostart/vaultry.desktop under the
// configuration home starts `program`. Enabling writes the entry atomically; disabling removes every
// entry of that folder that starts the same program.
class LinuxLoginItems final : public LoginItems {
public:
    LinuxLoginItems(const Paths& paths, std::string program);
    bool isEnabled() override;
    bool setEnabled(bool enabled) override;

    std::filesystem::path entryPath() const;
    // The Exec value that starts program, quoted and escaped for a desktop entry.
    static std::string execValue(const std::string& program);
    // The program an Exec value starts (its first argument, unquoted); empty when there is none.
    static std::string programOfExec(const std::string& exec);
    // The GUI program of this installation: this process itself when it is `vaultry`, else the
    // `vaultry` beside it, else "vaultry" for the session to find on its PATH.
    static std::string guiProgram();

private:
    bool startsProgram(const std::filesystem::path& entry) const;
    const Paths& paths_;
    std::string program_;
};

}  // namespace vaultry::platform
