#include "cookies/ChromiumCrypto.h"

#include <libsecret/secret.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vaultry::cookies {
namespace {

constexpr std::size_t kKeyLength = 16;
constexpr std::size_t kDigestLength = SHA256_DIGEST_LENGTH;
const unsigned char kIv[16] = {' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ',
                               ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};

struct CipherCtx {
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    ~CipherCtx() { EVP_CIPHER_CTX_free(ctx); }
};

// AES-128-CBC with PKCS#7 padding; none when the padding is wrong (the wrong key, mostly).
std::optional<std::string> aes(bool encrypt, const std::vector<std::uint8_t>& key, const std::uint8_t* data,
                               std::size_t length) {
    CipherCtx c;
    if (!c.ctx || key.size() != kKeyLength ||
        EVP_CipherInit_ex(c.ctx, EVP_aes_128_cbc(), nullptr, key.data(), kIv, encrypt ? 1 : 0) != 1)
        return std::nullopt;
    std::string out(length + 16, '\0');
    int n = 0, tail = 0;
    auto* dst = reinterpret_cast<unsigned char*>(out.data());
    if (EVP_CipherUpdate(c.ctx, dst, &n, data, static_cast<int>(length)) != 1 ||
        EVP_CipherFinal_ex(c.ctx, dst + n, &tail) != 1)
        return std::nullopt;
    out.resize(static_cast<std::size_t>(n + tail));
    return out;
}

std::string sha256(std::string_view text) {
    std::string digest(kDigestLength, '\0');
    SHA256(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
           reinterpret_cast<unsigned char*>(digest.data()));
    return digest;
}

bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        const std::size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        if (n == 0 || i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return false;
        i += n;
    }
    return true;
}

// A session bus to ask: without one, GLib would try to start a bus of its own.
bool sessionBusPresent() {
    if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address) return true;
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code ec;
    return runtime && *runtime && std::filesystem::exists(std::filesystem::path(runtime) / "bus", ec);
}

}  // namespace

std::vector<std::uint8_t> ChromiumDecryptor::deriveKey(std::string_view password) {
    std::vector<std::uint8_t> key(kKeyLength);
    static const char salt[] = "saltysalt";
    PKCS5_PBKDF2_HMAC_SHA1(password.data(), static_cast<int>(password.size()),
                           reinterpret_cast<const unsigned char*>(salt), sizeof salt - 1, 1,
                           static_cast<int>(key.size()), key.data());
    return key;
}

ChromiumDecryptor::ChromiumDecryptor(std::vector<PasswordSource> v11Passwords)
    : v10_(deriveKey("peanuts")), empty_(deriveKey("")) {
    for (auto& source : v11Passwords) v11_.push_back({std::move(source), std::nullopt, false});
}

std::optional<std::string> ChromiumDecryptor::decrypt(std::span<const std::uint8_t> blob,
                                                      std::string_view host, bool hostDigest) {
    if (blob.size() < 3) return std::nullopt;
    const std::string_view prefix(reinterpret_cast<const char*>(blob.data()), 3);
    const std::uint8_t* data = blob.data() + 3;
    const std::size_t length = blob.size() - 3;
    const auto open = [&](const std::vector<std::uint8_t>& key) -> std::optional<std::string> {
        auto plain = aes(false, key, data, length);
        if (!plain) return std::nullopt;
        if (hostDigest) {
            if (plain->size() < kDigestLength || plain->compare(0, kDigestLength, sha256(host)) != 0)
                return std::nullopt;
            plain->erase(0, kDigestLength);
        }
        // A wrong key passes the padding check about once in 256; its output is no text.
        if (!validUtf8(*plain)) return std::nullopt;
        return plain;
    };
    if (prefix == "v10") {
        if (auto plain = open(v10_)) return plain;
        return open(empty_);  // browsers started with a basic store and an empty pass word
    }
    if (prefix != "v11") return std::nullopt;
    for (auto& k : v11_) {
        if (!k.asked) {
            k.asked = true;
            if (auto password = k.source ? k.source() : std::nullopt) k.key = deriveKey(*password);
        }
        if (k.key)
            if (auto plain = open(*k.key)) return plain;
    }
    return open(empty_);
}

std::vector<std::uint8_t> chromiumEncrypt(std::string_view plaintext, std::string_view prefix,
                                          std::string_view password, std::string_view host, bool hostDigest) {
    const std::string text = (hostDigest ? sha256(host) : std::string()) + std::string(plaintext);
    const auto cipher = aes(true, ChromiumDecryptor::deriveKey(password),
                            reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    std::vector<std::uint8_t> out(prefix.begin(), prefix.end());
    if (cipher) out.insert(out.end(), cipher->begin(), cipher->end());
    return out;
}

std::optional<std::string> SecretServiceStorage::password(const std::string& name) {
    if (!sessionBusPresent()) return std::nullopt;
    // libsecret shares GLib's session connection, which by default ends the process when the bus
    // goes away; a lost keyring is no reason to quit.
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (!bus) return std::nullopt;
    g_dbus_connection_set_exit_on_close(bus, FALSE);
    g_object_unref(bus);
    // Chromium stores the item with its application's name as attribute…
    static const SecretSchema schema = {
        "chrome_libsecret_os_crypt_password_v2",
        SECRET_SCHEMA_DONT_MATCH_NAME,
        {{"application", SECRET_SCHEMA_ATTRIBUTE_STRING}, {nullptr, SECRET_SCHEMA_ATTRIBUTE_STRING}},
        0,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr,
        nullptr};
    std::string application = name;
    for (auto& c : application) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    GError* error = nullptr;
    if (gchar* found = secret_password_lookup_sync(&schema, nullptr, &error, "application",
                                                   application.c_str(), nullptr)) {
        std::string out = found;
        secret_password_free(found);
        return out;
    }
    g_clear_error(&error);
    // …and labels it "<name> Safe Storage", which is what older versions and the other
    // browsers of the family can be found by.
    SecretService* service = secret_service_get_sync(SECRET_SERVICE_OPEN_SESSION, nullptr, &error);
    if (!service) {
        g_clear_error(&error);
        return std::nullopt;
    }
    GHashTable* attributes = g_hash_table_new(g_str_hash, g_str_equal);
    GList* items = secret_service_search_sync(
        service, nullptr, attributes,
        static_cast<SecretSearchFlags>(SECRET_SEARCH_ALL | SECRET_SEARCH_UNLOCK | SECRET_SEARCH_LOAD_SECRETS),
        nullptr, &error);
    g_clear_error(&error);
    std::optional<std::string> out;
    const std::string label = name + " Safe Storage";
    for (GList* l = items; l && !out; l = l->next) {
        auto* item = static_cast<SecretItem*>(l->data);
        gchar* itemLabel = secret_item_get_label(item);
        if (itemLabel && label == itemLabel)
            if (SecretValue* value = secret_item_get_secret(item)) {
                gsize length = 0;
                const gchar* bytes = secret_value_get(value, &length);
                out = std::string(bytes, length);
                secret_value_unref(value);
            }
        g_free(itemLabel);
    }
    g_list_free_full(items, g_object_unref);
    g_hash_table_unref(attributes);
    g_object_unref(service);
    return out;
}

}  // namespace vaultry::cookies
