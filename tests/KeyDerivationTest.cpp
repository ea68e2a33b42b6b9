#include "vault/KeyDerivation.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/FakePorts.h"
#include "vault/Archive.h"

namespace vaultry::vault {
namespace {

std::vector<unsigned char> byOpenssl(const std::string& pass, const std::string& salt, int rounds,
                                     int length) {
    std::vector<unsigned char> out(static_cast<std::size_t>(length));
    EXPECT_EQ(PKCS5_PBKDF2_HMAC(pass.data(), static_cast<int>(pass.size()),
                                reinterpret_cast<const unsigned char*>(salt.data()),
                                static_cast<int>(salt.size()), rounds, EVP_sha256(), length, out.data()),
              1);
    return out;
}

// Our PBKDF2 gives OpenSSL's bytes: pass phrases shorter than, as long as and longer than a
// SHA-256 block (those are hashed first), any salt, one round or many, one output block or more.
TEST(KeyDerivation, Pbkdf2GivesOpensslsBytes) {
    for (const std::string& pass : {std::string(), std::string("passwd"), std::string(64, 'k'),
                                    std::string(65, 'k'), std::string("p\0ss \xc3\xa9", 8)})
        for (const std::string& salt : {std::string("saltsalt"), std::string("NaCl"), std::string(20, '\0')})
            for (const int rounds : {1, 2, 1000})
                for (const int length : {1, 32, 48, 80}) {
                    SCOPED_TRACE(pass.size());
                    SCOPED_TRACE(rounds);
                    std::vector<unsigned char> ours(static_cast<std::size_t>(length));
                    ASSERT_TRUE(pbkdf2Sha256(pass, reinterpret_cast<const unsigned char*>(salt.data()),
                                             salt.size(), static_cast<std::uint32_t>(rounds), ours.data(),
                                             ours.size()));
                    EXPECT_EQ(ours, byOpenssl(pass, salt, rounds, length));
                }
}

// Threads asking at once for a key none has yet: one derives it, the others wait for it. A
// derivation that fails keeps nothing, and the next ask derives again.
TEST(KeyDerivation, AKeyAskedForByManyThreadsIsDerivedOnce) {
    clearDerivedKeys();
    KeyId id{};
    id[0] = 7;
    std::atomic<int> derivations{0};
    const auto derive = [&](KeyBytes& made) {
        ++derivations;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        made.fill(0x5a);
        return true;
    };
    std::vector<std::thread> threads;
    std::atomic<int> right{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            KeyBytes out{};
            if (obtainDerivedKey(id, out, derive) && out[63] == 0x5a) ++right;
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(derivations.load(), 1);
    EXPECT_EQ(right.load(), 8);

    KeyId other{};
    other[0] = 8;
    KeyBytes out{};
    EXPECT_FALSE(obtainDerivedKey(other, out, [](KeyBytes&) { return false; }));
    EXPECT_TRUE(obtainDerivedKey(other, out, derive));
    EXPECT_EQ(derivations.load(), 2);
    clearDerivedKeys();
    EXPECT_TRUE(obtainDerivedKey(id, out, derive));
    EXPECT_EQ(derivations.load(), 3);

    // Forgotten while it was derived (the pass phrase was): its caller has it, nobody else.
    clearDerivedKeys();
    EXPECT_TRUE(obtainDerivedKey(id, out, [&](KeyBytes& made) {
        clearDerivedKeys();
        return derive(made);
    }));
    EXPECT_EQ(out[0], 0x5a);
    EXPECT_TRUE(obtainDerivedKey(id, out, derive));
    EXPECT_EQ(derivations.load(), 5);
    clearDerivedKeys();
}

// Jobs run in the order of their steps, whatever order they were added in: a job for a step far
// ahead does not hold up those of the steps at hand. Once the kept keys are forgotten, no job runs.
TEST(KeyDerivation, JobsAheadRunByStepNotByTheOrderTheyWereAdded) {
    std::mutex mutex;
    std::condition_variable ran;
    std::vector<std::size_t> steps;
    std::optional<KeysAhead> ahead;
    ahead.emplace();
    const auto job = [&](std::size_t step) {
        return [&, step] {
            std::lock_guard lock(mutex);
            steps.push_back(step);
            ran.notify_all();
        };
    };
    ahead->add(100, job(100));
    for (std::size_t step = 0; step < 4; ++step) ahead->add(step, job(step));
    ahead->start();
    {
        std::unique_lock lock(mutex);
        // Not a measure of speed: only a bound on waiting should the jobs never run.
        EXPECT_TRUE(ran.wait_for(lock, std::chrono::seconds(60), [&] { return steps.size() == 4; }));
        std::sort(steps.begin(), steps.end());
        EXPECT_EQ(steps, (std::vector<std::size_t>{0, 1, 2, 3}));
    }
    // Once the kept keys are forgotten, nothing more is derived ahead.
    clearDerivedKeys();
    ahead->reached(100);
    ahead.reset();  // waits for its threads
    EXPECT_EQ(steps.size(), 4u);
}

// Keys derived ahead for archives to write and to read: each archive written takes a salt of its
// own, and every archive opens with the pass phrase, in Vaultry's reader and as the salt says.
TEST(KeyDerivation, ArchivesWrittenAndReadWithKeysDerivedAheadOpen) {
    test::TempDir dir;
    test::writeFile(dir / "a.txt", "alpha");
    test::writeFile(dir / "W/x", "x");
    std::vector<fs::path> archives;
    {
        KeysAhead ahead;
        for (std::size_t i = 0; i < 4; ++i)
            deriveAheadToWrite(ahead, i, i % 2 ? ArchiveKind::Folder : ArchiveKind::File, "pw");
        ahead.start();
        for (std::size_t i = 0; i < 4; ++i) {
            ahead.reached(i);
            const fs::path archive = dir / (std::to_string(i) + (i % 2 ? ".tar.gz" : ".enc"));
            ASSERT_TRUE(i % 2 ? packFolder(dir / "W", archive, "pw")
                              : encryptFile(dir / "a.txt", archive, "pw"));
            archives.push_back(archive);
        }
    }
    std::vector<std::string> salts;
    for (const auto& a : archives) salts.push_back(test::readFile(a).substr(8, 8));
    std::sort(salts.begin(), salts.end());
    EXPECT_EQ(std::unique(salts.begin(), salts.end()), salts.end());

    clearDerivedKeys();
    KeysAhead ahead;
    for (std::size_t i = 0; i < archives.size(); ++i) deriveAheadToRead(ahead, i, archives[i], "pw");
    ahead.start();
    for (std::size_t i = 0; i < archives.size(); ++i) {
        ahead.reached(i);
        EXPECT_TRUE(verifyArchive(archives[i], archiveKindOf(archives[i]), "pw", {kNewDerivation, {}, {}}));
    }
}

}  // namespace
}  // namespace vaultry::vault
