#include "vault/Rekey.h"

#include <fcntl.h>
#include <sodium.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>

#include "app/PasswordVerifier.h"
#include "vault/Archive.h"

namespace vaultry::vault {
namespace {

std::string toHex(const unsigned char* p, std::size_t n) {
    std::string out(n * 2 + 1, '\0');
    sodium_bin2hex(out.data(), out.size(), p, n);
    out.pop_back();
    return out;
}

std::optional<std::vector<unsigned char>> fromHex(const std::string& hex) {
    std::vector<unsigned char> out(hex.size() / 2);
    std::size_t len = 0;
    if (sodium_hex2bin(out.data(), out.size(), hex.data(), hex.size(), nullptr, &len, nullptr) != 0)
        return std::nullopt;
    out.resize(len);
    return out;
}

// `secret` sealed under a key derived from `pass`: salt, nonce and box, in hex.
Result<std::string> seal(std::string_view secret, std::string_view pass) {
    if (sodium_init() < 0) return fail("the password library did not start");
    unsigned char salt[crypto_pwhash_SALTBYTES], nonce[crypto_secretbox_NONCEBYTES],
        key[crypto_secretbox_KEYBYTES];
    randombytes_buf(salt, sizeof salt);
    randombytes_buf(nonce, sizeof nonce);
    if (crypto_pwhash(key, sizeof key, pass.data(), pass.size(), salt, crypto_pwhash_OPSLIMIT_INTERACTIVE,
                      crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        return fail("not enough memory to protect the password");
    std::vector<unsigned char> box(secret.size() + crypto_secretbox_MACBYTES);
    crypto_secretbox_easy(box.data(), reinterpret_cast<const unsigned char*>(secret.data()), secret.size(),
                          nonce, key);
    sodium_memzero(key, sizeof key);
    return toHex(salt, sizeof salt) + " " + toHex(nonce, sizeof nonce) + " " + toHex(box.data(), box.size());
}

std::optional<std::string> unseal(const std::string& sealed, std::string_view pass) {
    if (sodium_init() < 0) return std::nullopt;
    std::istringstream in(sealed);
    std::string s, n, b;
    in >> s >> n >> b;
    auto salt = fromHex(s), nonce = fromHex(n), box = fromHex(b);
    if (!salt || !nonce || !box || salt->size() != crypto_pwhash_SALTBYTES ||
        nonce->size() != crypto_secretbox_NONCEBYTES || box->size() < crypto_secretbox_MACBYTES)
        return std::nullopt;
    unsigned char key[crypto_secretbox_KEYBYTES];
    if (crypto_pwhash(key, sizeof key, pass.data(), pass.size(), salt->data(),
                      crypto_pwhash_OPSLIMIT_INTERACTIVE, crypto_pwhash_MEMLIMIT_INTERACTIVE,
                      crypto_pwhash_ALG_ARGON2ID13) != 0)
        return std::nullopt;
    std::string out(box->size() - crypto_secretbox_MACBYTES, '\0');
    const int r = crypto_secretbox_open_easy(reinterpret_cast<unsigned char*>(out.data()), box->data(),
                                             box->size(), nonce->data(), key);
    sodium_memzero(key, sizeof key);
    if (r != 0) return std::nullopt;
    return out;
}

struct Journal {
    std::string newVerifier, newUnderOld, oldUnderNew;
};

std::optional<Journal> readJournal(const fs::path& storage) {
    std::ifstream in(storage / kRekeyJournal);
    if (!in) return std::nullopt;
    std::string magic;
    Journal j;
    if (!std::getline(in, magic) || magic != "vaultry-rekey 1" || !std::getline(in, j.newVerifier) ||
        !std::getline(in, j.newUnderOld) || !std::getline(in, j.oldUnderNew))
        return std::nullopt;
    return j;
}

Status writeJournal(const fs::path& storage, const Journal& j) {
    const std::string text =
        "vaultry-rekey 1\n" + j.newVerifier + "\n" + j.newUnderOld + "\n" + j.oldUnderNew + "\n";
    std::string tmp = (storage / (std::string(kRekeyJournal) + ".XXXXXX")).string();
    const int fd = ::mkostemp(tmp.data(), O_CLOEXEC);
    if (fd < 0) return fail("cannot write in " + storage.string() + ": " + std::strerror(errno));
    ::fchmod(fd, 0600);
    const bool ok =
        ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size()) && ::fsync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(tmp.c_str(), (storage / kRekeyJournal).c_str()) != 0) {
        ::unlink(tmp.c_str());
        return fail("cannot write in " + storage.string());
    }
    return {};
}

void syncFolder(const fs::path& dir) {
    if (const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Brings every archive to `to`: one that already opens with it is left alone.
Status moveAll(const fs::path& storage, std::string_view from, std::string_view to) {
    for (const auto& archive : archivesIn(storage)) {
        const ArchiveKind kind = archiveKindOf(archive);
        if (verifyArchive(archive, kind, to)) continue;
        const fs::path next = archive.string() + ".rekey";
        std::error_code ec;
        fs::remove(next, ec);  // left by a crash
        if (auto st = reencryptArchive(archive, kind, from, to, next); !st)
            return fail(archive.filename().string() + ": " + st.error().message);
        if (::rename(next.c_str(), archive.c_str()) != 0) {
            fs::remove(next, ec);
            return fail("cannot replace " + archive.filename().string() + ": " + std::strerror(errno));
        }
        syncFolder(storage);
    }
    return {};
}

}  // namespace

std::vector<fs::path> archivesIn(const fs::path& storage) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(storage, ec)) {
        const auto ext = e.path().extension();
        if ((ext == ".enc" || ext == ".gz") && e.is_regular_file(ec)) out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

Status changeArchivesPassword(const fs::path& storage, std::string_view oldPass, std::string_view newPass,
                              const std::string& newVerifier) {
    if (readJournal(storage)) return fail("an earlier password change is not finished yet");
    std::string unopened;
    for (const auto& archive : archivesIn(storage))
        if (!verifyArchive(archive, archiveKindOf(archive), oldPass))
            unopened += (unopened.empty() ? "" : ", ") + archive.filename().string();
    if (!unopened.empty()) return fail("these archives do not open with the current password: " + unopened);
    if (archivesIn(storage).empty()) return {};

    auto newUnderOld = seal(newPass, oldPass);
    if (!newUnderOld) return newUnderOld.error();
    auto oldUnderNew = seal(oldPass, newPass);
    if (!oldUnderNew) return oldUnderNew.error();
    if (auto st = writeJournal(storage, {newVerifier, *newUnderOld, *oldUnderNew}); !st) return st;

    if (auto st = moveAll(storage, oldPass, newPass); !st) {
        if (moveAll(storage, newPass, oldPass)) finishRekey(storage);
        return st;
    }
    return {};
}

std::optional<PendingRekey> pendingRekey(const fs::path& storage) {
    auto j = readJournal(storage);
    if (!j) return std::nullopt;
    return PendingRekey{j->newVerifier};
}

Result<std::string> resumeRekey(const fs::path& storage, std::string_view entered) {
    auto j = readJournal(storage);
    if (!j) return fail("no password change to finish");
    std::string oldPass, newPass;
    if (password::matches(j->newVerifier, entered)) {
        auto old = unseal(j->oldUnderNew, entered);
        if (!old) return fail("the password change journal is damaged");
        oldPass = std::move(*old);
        newPass = std::string(entered);
    } else if (auto next = unseal(j->newUnderOld, entered)) {
        oldPass = std::string(entered);
        newPass = std::move(*next);
    } else {
        return fail("the password does not fit the unfinished password change");
    }
    auto st = moveAll(storage, oldPass, newPass);
    password::wipe(oldPass);
    if (!st) {
        password::wipe(newPass);
        return st.error();
    }
    return newPass;
}

void finishRekey(const fs::path& storage) {
    std::error_code ec;
    fs::remove(storage / kRekeyJournal, ec);
    syncFolder(storage);
}

}  // namespace vaultry::vault
