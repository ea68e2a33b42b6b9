#pragma once
#include <string>

namespace vaultry::platform {

// An image as the core names it; the GUI adapter turns it into pixels.
struct ImageRef {
    enum class Kind { None, Named, File, IconOfPath };
    Kind kind = Kind::None;
    std::string value;  // image name ("switchdown.png"), file path, or the path whose icon to show
    int size = 0;       // edge in pixels for icons; 0 = natural size

    static ImageRef named(std::string name) { return {Kind::Named, std::move(name), 0}; }
    static ImageRef file(std::string path) { return {Kind::File, std::move(path), 0}; }
    static ImageRef iconOf(std::string path, int size = 0) {
        return {Kind::IconOfPath, std::move(path), size};
    }
    bool operator==(const ImageRef&) const = default;
};

}  // namespace vaultry::platform
