#pragma once
#include <string>

namespace vaultry::platform {

// Small previews of files, written as TIFF.
class Thumbnailer {
public:
    virtual ~Thumbnailer() = default;
    virtual bool writeThumbnail(const std::string& source, const std::string& tiffPath, int edge) = 0;
};

}  // namespace vaultry::platform
