#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "util/Bytes.h"

namespace vaultry::platform {

// Access grants: opaque data that names a file or folder the user chose.
class Bookmarks {
public:
    struct Resolved {
        std::string path;
        bool stale = false;  // the path no longer names the object the bookmark was made of
    };
    virtual ~Bookmarks() = default;
    // Empty when no bookmark can be made (the path does not exist).
    virtual std::optional<Bytes> create(const std::string& path) = 0;
    // Empty when the data is not a bookmark.
    virtual std::optional<Resolved> resolve(const Bytes& data) = 0;
    // Keeps access to a resolved path for the rest of the run.
    virtual bool startAccessing(const std::string& path) = 0;
};

}  // namespace vaultry::platform
