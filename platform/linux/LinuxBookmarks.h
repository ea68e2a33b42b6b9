#pragma once
#include "platform/Bookmarks.h"

namespace vaultry::platform {

// A bookmark is the path with the device and inode it named when made: it resolves while the
// path still names that object and is stale once the object was replaced, moved or removed.
class LinuxBookmarks final : public Bookmarks {
public:
    std::optional<Bytes> create(const std::string& path) override;
    std::optional<Resolved> resolve(const Bytes& data) override;
    bool startAccessing(const std::string& path) override;
};

}  // namespace vaultry::platform
