#pragma once
#include <optional>
#include <string>

namespace vaultry::platform {

// Small previews of files, written as TIFF.
class Thumbnailer {
public:
    struct Size {
        int width = 0;
        int height = 0;
    };
    virtual ~Thumbnailer() = default;
    // The pixel size of a picture file; empty when it does not load as an image.
    virtual std::optional<Size> imageSize(const std::string& path) = 0;
    // A preview of `source` fitting width × height (not the type icon), written atomically as
    // TIFF to tiffPath. False when no preview could be made.
    virtual bool writeThumbnail(const std::string& source, const std::string& tiffPath, Size size) = 0;
};

}  // namespace vaultry::platform
