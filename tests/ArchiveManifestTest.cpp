#include "vault/ArchiveManifest.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include "support/FakePorts.h"
#include "vault/Archive.h"
#include "vault/Rekey.h"
#include "vault/StorageLock.h"
#include "vault/VaultItems.h"

namespace vaultry::vault {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

struct Storage {
    TempDir dir;
    fs::path storage = dir / "vaultry.data";
    fs::path out = dir / "out";
    Storage() {
        fs::create_directories(storage);
        fs::create_directories(out);
        writeFile(dir / "plan.txt", std::string(70000, 'p') + "end");
        writeFile(dir / "Work/a.txt", "alpha");
        writeFile(dir / "Work/sub/b.bin", std::string(300000, 'b'));
    }
    fs::path make(const std::string& item, const std::string& pass = "pw") {
        auto plan = planArchive((dir / item).string(), storage.string());
        EXPECT_TRUE(plan);
        EXPECT_TRUE(writeArchive(*plan, pass));
        return plan->archive;
    }
};

// A file archive as an old `openssl enc -md <md>` wrote it: one round of EVP_BytesToKey.
std::string legacyArchive(const std::string& plain, const std::string& pass, const EVP_MD* md,
                          unsigned char salt[8]) {
    unsigned char key[16], iv[16];
    EVP_BytesToKey(EVP_aes_128_cbc(), md, salt, reinterpret_cast<const unsigned char*>(pass.data()),
                   static_cast<int>(pass.size()), 1, key, iv);
    std::string out = "Salted__" + std::string(reinterpret_cast<char*>(salt), 8);
    std::string body(plain.size() + 16, '\0');
    int a = 0, b = 0;
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_EncryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key, iv);
    EVP_EncryptUpdate(ctx, reinterpret_cast<unsigned char*>(body.data()), &a,
                      reinterpret_cast<const unsigned char*>(plain.data()), static_cast<int>(plain.size()));
    EVP_EncryptFinal_ex(ctx, reinterpret_cast<unsigned char*>(body.data()) + a, &b);
    EVP_CIPHER_CTX_free(ctx);
    return out + body.substr(0, static_cast<std::size_t>(a + b));
}

// Whether the last block of a legacy archive also carries valid padding under another digest.
bool paddingFits(const std::string& archive, const std::string& pass, const EVP_MD* md) {
    unsigned char key[16], iv[16], plain[32];
    EVP_BytesToKey(EVP_aes_128_cbc(), md, reinterpret_cast<const unsigned char*>(archive.data()) + 8,
                   reinterpret_cast<const unsigned char*>(pass.data()), static_cast<int>(pass.size()), 1, key,
                   iv);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    EVP_DecryptInit_ex(ctx, EVP_aes_128_cbc(), nullptr, key,
                       reinterpret_cast<const unsigned char*>(archive.data()) + archive.size() - 32);
    EVP_CIPHER_CTX_set_padding(ctx, 0);
    int len = 0;
    EVP_DecryptUpdate(ctx, plain, &len,
                      reinterpret_cast<const unsigned char*>(archive.data()) + archive.size() - 16, 16);
    EVP_CIPHER_CTX_free(ctx);
    const unsigned pad = plain[15];
    if (pad < 1 || pad > 16) return false;
    for (unsigned i = 0; i < pad; ++i)
        if (plain[15 - i] != pad) return false;
    return true;
}

std::vector<std::string> namesIn(const fs::path& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ArchiveManifest, NewArchivesAreRecordedAndOpenOnlyAsRecorded) {
    Storage s;
    const fs::path file = s.make("plan.txt"), folder = s.make("Work");
    const fs::path manifestFile = s.storage / ArchiveManifest::kFileName;
    ASSERT_TRUE(fs::exists(manifestFile));
    EXPECT_EQ(fs::status(manifestFile).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    auto m = ArchiveManifest::open(s.storage, "pw");
    ASSERT_TRUE(m) << m.error().message;
    ASSERT_EQ(m->size(), 2u);
    for (const auto& a : {file, folder}) {
        const auto* e = m->find(a.filename().string());
        ASSERT_NE(e, nullptr);
        EXPECT_EQ(e->derivation, kNewDerivation);
    }
    ASSERT_TRUE(openArchiveInto(s.storage, file, s.out / "plan.txt", "pw"));
    ASSERT_TRUE(openArchiveInto(s.storage, folder, s.out, "pw"));
    EXPECT_EQ(readFile(s.out / "plan.txt"), readFile(s.dir / "plan.txt"));
    EXPECT_EQ(readFile(s.out / "Work/sub/b.bin"), readFile(s.dir / "Work/sub/b.bin"));
    auto bad = checkArchives(s.storage, archivesIn(s.storage), "pw");
    ASSERT_TRUE(bad);
    EXPECT_TRUE(bad->empty());
}

TEST(ArchiveManifest, AFlippedByteAnywhereIsReportedAsAChangeAndNothingIsWritten) {
    Storage s;
    const fs::path file = s.make("plan.txt"), folder = s.make("Work");
    const std::string fileBytes = readFile(file), folderBytes = readFile(folder);
    // The salt, the first block, the middle and the very last byte (the padding).
    for (const auto& [archive, bytes] : {std::pair{file, fileBytes}, std::pair{folder, folderBytes}}) {
        for (const std::size_t at : {std::size_t{9}, std::size_t{20}, bytes.size() / 2, bytes.size() - 1}) {
            SCOPED_TRACE(archive.filename().string() + " at " + std::to_string(at));
            std::string changed = bytes;
            changed[at] ^= 0x01;
            writeFile(archive, changed);
            const fs::path target = archive == file ? s.out / "plan.txt" : s.out;
            auto st = openArchiveInto(s.storage, archive, target, "pw");
            ASSERT_FALSE(st);
            EXPECT_EQ(st.error().message, kChangedOrDamaged);
            EXPECT_TRUE(fs::is_empty(s.out));
            auto bad = checkArchives(s.storage, archivesIn(s.storage), "pw");
            ASSERT_TRUE(bad);
            ASSERT_EQ(bad->size(), 1u);
            EXPECT_EQ((*bad)[0], archive.filename().string() + ": " + kChangedOrDamaged);
            // A password change leaves it and everything else as it is.
            EXPECT_FALSE(changeArchivesPassword(s.storage, "pw", "new", "verifier"));
            EXPECT_EQ(readFile(archive), changed);
            writeFile(archive, bytes);
        }
    }
    // An archive shortened by whole blocks, too.
    writeFile(file, fileBytes.substr(0, fileBytes.size() - 16));
    EXPECT_EQ(openArchiveInto(s.storage, file, s.out / "plan.txt", "pw").error().message, kChangedOrDamaged);
    // And a manifest entry altered by hand is caught by the manifest's seal.
    writeFile(file, fileBytes);
    std::string manifest = readFile(s.storage / ArchiveManifest::kFileName);
    manifest[manifest.find("archive ") + 9] ^= 0x01;
    writeFile(s.storage / ArchiveManifest::kFileName, manifest);
    EXPECT_EQ(openArchiveInto(s.storage, file, s.out / "plan.txt", "pw").error().message, kManifestChanged);
    EXPECT_TRUE(fs::is_empty(s.out));
}

TEST(ArchiveManifest, AWrongPasswordIsRefusedWithCertaintyOnEveryKind) {
    Storage s;
    // Without the manifest a wrong password fits about one file archive in 128.
    std::vector<fs::path> archives{s.make("Work")};
    for (int i = 0; i < 4; ++i) {
        writeFile(s.dir / ("f" + std::to_string(i)), "content " + std::to_string(i));
        archives.push_back(s.make("f" + std::to_string(i)));
    }
    for (const char* wrong : {"pW", ""}) {
        for (const auto& a : archives) {
            const fs::path target = archiveKindOf(a) == ArchiveKind::Folder ? s.out : s.out / "x";
            auto st = openArchiveInto(s.storage, a, target, wrong);
            ASSERT_FALSE(st);
            EXPECT_EQ(st.error().message, kWrongPassForManifest);
        }
        EXPECT_FALSE(checkArchives(s.storage, archives, wrong));
        EXPECT_TRUE(fs::is_empty(s.out));
    }
}

TEST(ArchiveManifest, AnAmbiguousLegacyArchiveIsNeverGuessedNorReplaced) {
    Storage s;
    const std::string plain = "ledger 2019\n" + std::string(1000, 'x');
    // An MD5 archive of the kind older openssl wrote, whose last block also has valid padding
    // under the SHA-256 derivation (one salt in 256).
    std::string bytes;
    for (int attempt = 0; attempt < 20000 && bytes.empty(); ++attempt) {
        unsigned char salt[8];
        RAND_bytes(salt, 8);
        std::string candidate = legacyArchive(plain, "pw", EVP_md5(), salt);
        if (paddingFits(candidate, "pw", EVP_sha256())) bytes = candidate;
    }
    ASSERT_FALSE(bytes.empty());
    const fs::path archive = s.storage / "ledger.txt.enc";
    writeFile(archive, bytes);

    auto st = openArchiveInto(s.storage, archive, s.out / "ledger.txt", "pw");
    ASSERT_FALSE(st);
    EXPECT_NE(st.error().message.find("more than one way"), std::string::npos) << st.error().message;
    EXPECT_NE(st.error().message.find("ledger (reading with md5).txt (older openssl)"), std::string::npos)
        << st.error().message;
    // No single copy under the real name; both readings side by side, the MD5 one right.
    EXPECT_FALSE(fs::exists(s.out / "ledger.txt"));
    EXPECT_EQ(readFile(s.out / "ledger (reading with md5).txt"), plain);
    EXPECT_TRUE(fs::exists(s.out / "ledger (reading with sha256).txt"));
    EXPECT_EQ(readFile(archive), bytes);
    auto m = ArchiveManifest::open(s.storage, "pw");
    ASSERT_TRUE(m);
    EXPECT_EQ(m->find("ledger.txt.enc"), nullptr);

    // A password change keeps it and says so.
    auto change = changeArchivesPassword(s.storage, "pw", "new", "verifier");
    ASSERT_FALSE(change);
    EXPECT_NE(change.error().message.find("ledger.txt.enc"), std::string::npos);
    EXPECT_EQ(readFile(archive), bytes);
    // Nothing beside it but the storage folder's lock file, which the change held.
    EXPECT_EQ(namesIn(s.storage), (std::vector<std::string>{StorageLock::kFileName, "ledger.txt.enc"}));
}

TEST(ArchiveManifest, AnUnambiguousLegacyArchiveIsRecordedOnceOpenedAndRekeyedToTheNewForm) {
    Storage s;
    const std::string plain = "old notes";
    std::string bytes;
    for (int attempt = 0; attempt < 100 && bytes.empty(); ++attempt) {
        unsigned char salt[8];
        RAND_bytes(salt, 8);
        std::string candidate = legacyArchive(plain, "pw", EVP_md5(), salt);
        writeFile(s.storage / "notes.txt.enc", candidate);
        auto fits = derivationsThatOpen(s.storage / "notes.txt.enc", ArchiveKind::File, "pw");
        if (fits && fits->size() == 1) bytes = candidate;
    }
    ASSERT_FALSE(bytes.empty());
    ASSERT_TRUE(openArchiveInto(s.storage, s.storage / "notes.txt.enc", s.out / "notes.txt", "pw"));
    EXPECT_EQ(readFile(s.out / "notes.txt"), plain);
    auto m = ArchiveManifest::open(s.storage, "pw");
    ASSERT_TRUE(m);
    ASSERT_NE(m->find("notes.txt.enc"), nullptr);
    EXPECT_EQ(m->find("notes.txt.enc")->derivation.kdf, KeyDerivation::Md5);

    // From now on a change to it is caught, and a password change writes it in the new form.
    ASSERT_TRUE(changeArchivesPassword(s.storage, "pw", "new", "verifier"));
    finishRekey(s.storage);
    auto after = ArchiveManifest::open(s.storage, "new");
    ASSERT_TRUE(after) << after.error().message;
    ASSERT_NE(after->find("notes.txt.enc"), nullptr);
    EXPECT_EQ(after->find("notes.txt.enc")->derivation, kNewDerivation);
    EXPECT_EQ(ArchiveManifest::open(s.storage, "pw").error().message, kWrongPassForManifest);
    ASSERT_TRUE(openArchiveInto(s.storage, s.storage / "notes.txt.enc", s.out / "again.txt", "new"));
    EXPECT_EQ(readFile(s.out / "again.txt"), plain);
}

}  // namespace
}  // namespace vaultry::vault
