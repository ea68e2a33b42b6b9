#include "vault/PasswordVerifier.h"

#include <sodium.h>

#include <cstring>
#include <utility>

namespace vaultry::password {
namespace {
bool ready() {
    static const bool ok = sodium_init() >= 0;
    return ok;
}
}  // namespace

Result<std::string> makeVerifier(std::string_view pass) {
    if (!ready()) return fail("the password library did not start");
    char out[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str(out, pass.data(), pass.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                          crypto_pwhash_MEMLIMIT_INTERACTIVE) != 0)
        return fail("not enough memory to protect the password");
    return std::string(out);
}

bool isVerifier(std::string_view stored) { return stored.rfind("$argon2id$", 0) == 0; }

bool matches(std::string_view stored, std::string_view entered) {
    if (!isVerifier(stored)) return stored == entered;
    if (!ready() || stored.size() >= crypto_pwhash_STRBYTES) return false;
    char str[crypto_pwhash_STRBYTES] = {};
    std::memcpy(str, stored.data(), stored.size());
    return crypto_pwhash_str_verify(str, entered.data(), entered.size()) == 0;
}

PassPhrase::PassPhrase(std::string_view text) {
    if (!ready()) return;
    // sodium_malloc locks the pages and guards them; sodium_free wipes them.
    data_ = static_cast<char*>(sodium_malloc(text.size() + 1));
    if (!data_) return;
    std::memcpy(data_, text.data(), text.size());
    data_[text.size()] = '\0';
    size_ = text.size();
}

PassPhrase::~PassPhrase() {
    if (data_) sodium_free(data_);
}

PassPhrase::PassPhrase(PassPhrase&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PassPhrase& PassPhrase::operator=(PassPhrase&& other) noexcept {
    if (this != &other) {
        if (data_) sodium_free(data_);
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void wipe(std::string& s) {
    if (!s.empty()) sodium_memzero(s.data(), s.size());
    s.clear();
}

void wipe(char* bytes, std::size_t size) {
    if (size > 0) sodium_memzero(bytes, size);
}

}  // namespace vaultry::password
