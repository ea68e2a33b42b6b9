#pragma once
#include "platform/Paths.h"

namespace vaultry::platform {

// Reads HOME (else the password database), the XDG base variables and the XDG user-dirs file,
// each time it is asked.
class LinuxPaths final : public Paths {
public:
    std::filesystem::path home() const override;
    std::string userName() const override;
    std::filesystem::path desktop() const override;
    std::filesystem::path documents() const override;
    std::filesystem::path downloads() const override;
    std::filesystem::path configHome() const override;
    std::filesystem::path dataHome() const override;
    std::filesystem::path trash() const override { return dataHome() / "Trash"; }
    // /proc/self/mountinfo, or the file named by VAULTRY_MOUNTINFO (tests and containers).
    std::filesystem::path mountTable() const override;
    // As the build was configured: <prefix>/share/doc/vaultry.
    std::filesystem::path installedDocs() const override;

private:
    std::filesystem::path userDir(const char* name, const char* fallback) const;
};

}  // namespace vaultry::platform
