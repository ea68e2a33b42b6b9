#pragma once
#include <cstddef>
#include <string>
#include <string_view>

#include "util/Result.h"

// The vault password is never stored: "VaultryPassword" holds an Argon2id verifier of it.
namespace vaultry::password {

// An Argon2id verifier string (libsodium's crypto_pwhash_str, interactive limits).
Result<std::string> makeVerifier(std::string_view pass);
bool isVerifier(std::string_view stored);
// Exact, case-sensitive: a verifier is checked with Argon2id; any other stored value is a plain
// password from an older version and is compared byte for byte.
bool matches(std::string_view stored, std::string_view entered);

// A pass phrase held in locked memory that is wiped when it goes.
class PassPhrase {
public:
    PassPhrase() = default;
    explicit PassPhrase(std::string_view text);
    ~PassPhrase();
    PassPhrase(PassPhrase&& other) noexcept;
    PassPhrase& operator=(PassPhrase&& other) noexcept;
    PassPhrase(const PassPhrase&) = delete;
    PassPhrase& operator=(const PassPhrase&) = delete;
    std::string_view view() const { return {data_ ? data_ : "", size_}; }

private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
};

// Overwrites a string's bytes before it is dropped.
void wipe(std::string& s);
// The same for bytes another library holds (a toolkit's copy of a field's text).
void wipe(char* bytes, std::size_t size);

}  // namespace vaultry::password
