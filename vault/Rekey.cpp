#include "vault/Rekey.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "vault/Archive.h"

namespace vaultry::vault {
namespace {

constexpr const char* kMagic = "vaultry-rekey 2";
constexpr const char* kCommitted = "committed";

void syncFolder(const fs::path& dir) {
    if (const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

fs::path nextOf(const fs::path& archive) { return archive.string() + ".rekey"; }

struct Journal {
    std::string newVerifier;
    bool committed = false;
};

std::optional<Journal> readJournal(const fs::path& storage) {
    std::ifstream in(storage / kRekeyJournal);
    if (!in) return std::nullopt;
    Journal j;
    std::string magic, mark;
    if (!std::getline(in, magic) || magic != kMagic || !std::getline(in, j.newVerifier)) return Journal{};
    j.committed = std::getline(in, mark) && mark == kCommitted;
    return j;
}

// Written atomically: the journal either is there whole or not at all.
Status writeJournal(const fs::path& storage, const Journal& j) {
    const std::string text = std::string(kMagic) + "\n" + j.newVerifier + "\n" +
                             (j.committed ? std::string(kCommitted) + "\n" : "");
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
    syncFolder(storage);
    return {};
}

void dropNewCopies(const fs::path& storage) {
    std::error_code ec;
    for (const auto& archive : archivesIn(storage)) fs::remove(nextOf(archive), ec);
    syncFolder(storage);
}

// Phase 2: every new copy replaces its archive.
Status replaceAll(const fs::path& storage) {
    for (const auto& archive : archivesIn(storage)) {
        const fs::path next = nextOf(archive);
        std::error_code ec;
        if (!fs::exists(next, ec)) continue;  // replaced before a crash
        if (::rename(next.c_str(), archive.c_str()) != 0)
            return fail("cannot replace " + archive.filename().string() + ": " + std::strerror(errno));
    }
    syncFolder(storage);
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
    if (readJournal(storage)) return fail("an earlier password change is not settled yet; restart Vaultry");
    const auto archives = archivesIn(storage);
    std::string unopened;
    for (const auto& archive : archives)
        if (!verifyArchive(archive, archiveKindOf(archive), oldPass))
            unopened += (unopened.empty() ? "" : ", ") + archive.filename().string();
    if (!unopened.empty()) return fail("these archives do not open with the current password: " + unopened);
    if (archives.empty()) return {};

    if (auto st = writeJournal(storage, {newVerifier, false}); !st) return st;
    for (const auto& archive : archives) {
        std::error_code ec;
        fs::remove(nextOf(archive), ec);
        if (auto st = reencryptArchive(archive, archiveKindOf(archive), oldPass, newPass, nextOf(archive));
            !st) {
            dropNewCopies(storage);
            finishRekey(storage);
            return fail(archive.filename().string() + ": " + st.error().message);
        }
    }
    if (auto st = writeJournal(storage, {newVerifier, true}); !st) {
        dropNewCopies(storage);
        finishRekey(storage);
        return st;
    }
    return replaceAll(storage);
}

std::optional<std::string> recoverRekey(const fs::path& storage) {
    auto j = readJournal(storage);
    if (!j) return std::nullopt;
    if (!j->committed || j->newVerifier.empty()) {
        dropNewCopies(storage);
        finishRekey(storage);
        return std::nullopt;
    }
    if (auto st = replaceAll(storage); !st) return std::nullopt;  // tried again at the next start
    return j->newVerifier;
}

void finishRekey(const fs::path& storage) {
    std::error_code ec;
    fs::remove(storage / kRekeyJournal, ec);
    syncFolder(storage);
}

}  // namespace vaultry::vault
