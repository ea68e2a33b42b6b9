#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace vaultry::cookies {

// What a value that cannot be decrypted shows and exports as.
inline constexpr const char* kEncryptedValue = "(encrypted)";

// Where Chromium-family browsers keep the pass word of their cookie key: the Secret Service
// item "<name> Safe Storage". Small so tests can stand in for the desktop's keyring.
class SafeStorage {
public:
    virtual ~SafeStorage() = default;
    // The stored pass word for keyring name `name` ("Chrome", "Chromium", "Brave"), or none.
    virtual std::optional<std::string> password(const std::string& name) = 0;
};

// The Secret Service of the session bus, through libsecret. Answers none when there is no
// service, no such item, or the keyring stays locked.
class SecretServiceStorage : public SafeStorage {
public:
    std::optional<std::string> password(const std::string& name) override;
};

// Decrypts Chromium's encrypted_value on Linux. "v10" values use the key derived from the fixed
// pass word "peanuts"; "v11" values the key from the pass word in the Secret Service, asked for
// once, when the first v11 value is met. Both: PBKDF2-HMAC-SHA1, salt "saltysalt", 1 round,
// 16 bytes; AES-128-CBC with an IV of 16 blanks. Stores from meta version 24 on put SHA-256 of the
// host before the value; it is checked and stripped.
class ChromiumDecryptor {
public:
    using PasswordSource = std::function<std::optional<std::string>()>;
    // v11Passwords: each called at most once, in order, until one key opens a value.
    explicit ChromiumDecryptor(std::vector<PasswordSource> v11Passwords = {});

    // The plaintext, or none when no key opens the value (or the host digest does not match).
    std::optional<std::string> decrypt(std::span<const std::uint8_t> blob, std::string_view host,
                                       bool hostDigest);

    static std::vector<std::uint8_t> deriveKey(std::string_view password);

private:
    struct Key {
        PasswordSource source;
        std::optional<std::vector<std::uint8_t>> key;  // derived on first use
        bool asked = false;
    };
    std::vector<std::uint8_t> v10_, empty_;
    std::vector<Key> v11_;
};

// For tests and fixtures: the blob Chromium stores for a value ("v10" or "v11" prefix).
std::vector<std::uint8_t> chromiumEncrypt(std::string_view plaintext, std::string_view prefix,
                                          std::string_view password, std::string_view host, bool hostDigest);

}  // namespace vaultry::cookies
