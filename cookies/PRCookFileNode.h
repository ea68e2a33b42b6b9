#pragma once
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "util/LockedFields.h"

namespace vaultry {

// One cookie as a reader found it. Records are built on a worker thread and read on the main
// thread, so every property is read and written under the record's own lock. Texts are optional:
// a property that holds no text (std::nullopt) is distinct from the empty text.
class PRCookFileNode : private LockedFields {
public:
    using Text = std::optional<std::string>;
    using Buffer = std::shared_ptr<const std::vector<std::uint8_t>>;

    Text fileURL() const { return get(fileURL_); }
    void setFileURL(Text t) { put(fileURL_, std::move(t)); }
    Text fileName() const { return get(fileName_); }
    void setFileName(Text t) { put(fileName_, std::move(t)); }
    Text filePath() const { return get(filePath_); }
    void setFilePath(Text t) { put(filePath_, std::move(t)); }
    Text fileValue() const { return get(fileValue_); }
    void setFileValue(Text t) { put(fileValue_, std::move(t)); }
    Text fileHost() const { return get(fileHost_); }
    void setFileHost(Text t) { put(fileHost_, std::move(t)); }
    Text expiredDate() const { return get(expiredDate_); }
    void setExpiredDate(Text t) { put(expiredDate_, std::move(t)); }
    std::string secureValue() const { return get(secureValue_); }
    void setSecureValue(std::string t) { put(secureValue_, std::move(t)); }
    // Shared, not copied.
    Buffer dataValue() const { return get(dataValue_); }
    void setDataValue(Buffer b) { put(dataValue_, std::move(b)); }
    std::uint64_t cookieStartOffSet() const { return get(cookieStartOffSet_); }
    void setCookieStartOffSet(std::uint64_t v) { put(cookieStartOffSet_, v); }
    std::int32_t cookieLength() const { return get(cookieLength_); }
    void setCookieLength(std::int32_t v) { put(cookieLength_, v); }
    bool hasExpired() const { return get(hasExpired_); }
    void setHasExpired(bool v) { put(hasExpired_, v); }
    // The binary file's flag word as stored, unknown bits included (0 for the databases).
    std::uint32_t cookieFlags() const { return get(cookieFlags_); }
    void setCookieFlags(std::uint32_t v) { put(cookieFlags_, v); }

    // Firefox: the row's originAttributes as stored ("^userContextId=2") and the name of the
    // container it places the cookie in; none elsewhere and for the default container.
    Text originAttributes() const { return get(originAttributes_); }
    void setOriginAttributes(Text t) { put(originAttributes_, std::move(t)); }
    Text container() const { return get(container_); }
    void setContainer(Text t) { put(container_, std::move(t)); }

    // The four texts a reader finds, under one lock.
    void setTexts(Text host, Text name, Text path, Text value) {
        std::lock_guard lock(mutex_);
        fileHost_ = std::move(host);
        fileName_ = std::move(name);
        filePath_ = std::move(path);
        fileValue_ = std::move(value);
    }

private:
    Text fileURL_, fileName_, filePath_, fileValue_, fileHost_, expiredDate_, originAttributes_, container_;
    std::string secureValue_ = "NO";
    Buffer dataValue_;
    std::uint64_t cookieStartOffSet_ = 0;
    std::int32_t cookieLength_ = 1;
    bool hasExpired_ = false;
    std::uint32_t cookieFlags_ = 0;
};

using CookNodes = std::vector<std::shared_ptr<PRCookFileNode>>;

}  // namespace vaultry
