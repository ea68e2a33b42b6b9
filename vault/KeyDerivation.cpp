// SHA256_Init/Update/Transform are deprecated in OpenSSL 3 but kept; they are what lets a round
// be two bare block operations.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "vault/KeyDerivation.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/sha.h>

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace vaultry::vault {
namespace {

// The state words of a context as a digest, into the first 32 bytes of `block`.
void digestInto(const SHA256_CTX& c, unsigned char* block) {
    for (int i = 0; i < 8; ++i) {
        const std::uint32_t w = c.h[i];
        block[4 * i] = static_cast<unsigned char>(w >> 24);
        block[4 * i + 1] = static_cast<unsigned char>(w >> 16);
        block[4 * i + 2] = static_cast<unsigned char>(w >> 8);
        block[4 * i + 3] = static_cast<unsigned char>(w);
    }
}

bool fastPbkdf2(std::string_view pass, const unsigned char* salt, std::size_t saltLength,
                std::uint32_t iterations, unsigned char* out, std::size_t outLength) {
    if (iterations == 0) return false;
    unsigned char key[SHA256_CBLOCK] = {};
    if (pass.size() > SHA256_CBLOCK)
        SHA256(reinterpret_cast<const unsigned char*>(pass.data()), pass.size(), key);
    else
        std::memcpy(key, pass.data(), pass.size());
    unsigned char pad[SHA256_CBLOCK];
    SHA256_CTX inner, outer;
    for (std::size_t i = 0; i < sizeof pad; ++i) pad[i] = key[i] ^ 0x36;
    SHA256_Init(&inner);
    SHA256_Update(&inner, pad, sizeof pad);
    for (std::size_t i = 0; i < sizeof pad; ++i) pad[i] = key[i] ^ 0x5c;
    SHA256_Init(&outer);
    SHA256_Update(&outer, pad, sizeof pad);
    // A round hashes one 32-byte digest after a 64-byte pad: one block, the digest then SHA-256's
    // padding for 96 bytes (768 bits).
    unsigned char block[SHA256_CBLOCK] = {};
    block[32] = 0x80;
    block[62] = 0x03;
    unsigned char sum[32];
    for (std::uint32_t index = 1; outLength > 0; ++index) {
        const unsigned char be[4] = {
            static_cast<unsigned char>(index >> 24), static_cast<unsigned char>(index >> 16),
            static_cast<unsigned char>(index >> 8), static_cast<unsigned char>(index)};
        SHA256_CTX c = inner;
        SHA256_Update(&c, salt, saltLength);
        SHA256_Update(&c, be, sizeof be);
        SHA256_Final(block, &c);
        c = outer;
        SHA256_Update(&c, block, 32);
        SHA256_Final(block, &c);
        std::memcpy(sum, block, sizeof sum);
        for (std::uint32_t round = 1; round < iterations; ++round) {
            c = inner;
            SHA256_Transform(&c, block);
            digestInto(c, block);
            c = outer;
            SHA256_Transform(&c, block);
            digestInto(c, block);
            for (std::size_t j = 0; j < sizeof sum; ++j) sum[j] ^= block[j];
        }
        const std::size_t n = std::min(outLength, sizeof sum);
        std::memcpy(out, sum, n);
        out += n;
        outLength -= n;
    }
    OPENSSL_cleanse(key, sizeof key);
    OPENSSL_cleanse(pad, sizeof pad);
    OPENSSL_cleanse(block, sizeof block);
    OPENSSL_cleanse(sum, sizeof sum);
    OPENSSL_cleanse(&inner, sizeof inner);
    OPENSSL_cleanse(&outer, sizeof outer);
    return true;
}

bool opensslPbkdf2(std::string_view pass, const unsigned char* salt, std::size_t saltLength,
                   std::uint32_t iterations, unsigned char* out, std::size_t outLength) {
    return PKCS5_PBKDF2_HMAC(pass.data(), static_cast<int>(pass.size()), salt, static_cast<int>(saltLength),
                             static_cast<int>(iterations), EVP_sha256(), static_cast<int>(outLength),
                             out) == 1;
}

// Both ways on a short and a long pass phrase (hashed first as HMAC keys are), over more than
// one output block.
bool fastAgreesWithOpenssl() {
    const unsigned char salt[8] = {'s', 'a', 'l', 't', 0, 1, 2, 3};
    const std::string longPass(100, 'p');
    for (const std::string_view pass : {std::string_view("pass phrase"), std::string_view(longPass)}) {
        unsigned char a[48], b[48];
        if (!fastPbkdf2(pass, salt, sizeof salt, 3, a, sizeof a) ||
            !opensslPbkdf2(pass, salt, sizeof salt, 3, b, sizeof b) || std::memcmp(a, b, sizeof a) != 0)
            return false;
    }
    return true;
}

struct Kept {
    KeyId id{};
    KeyBytes bytes{};
};

struct Store {
    std::mutex mutex;
    std::condition_variable done;
    std::deque<Kept> kept;         // oldest first
    std::vector<KeyId> deriving;   // by some thread right now
    std::uint64_t generation = 0;  // one more at every clear: what was derived before is not kept
};

Store& store() {
    static Store s;
    return s;
}

void drop(Kept& k) { OPENSSL_cleanse(k.bytes.data(), k.bytes.size()); }

}  // namespace

bool pbkdf2Sha256(std::string_view pass, const unsigned char* salt, std::size_t saltLength,
                  std::uint32_t iterations, unsigned char* out, std::size_t outLength) {
    static const bool fast = fastAgreesWithOpenssl();
    return fast ? fastPbkdf2(pass, salt, saltLength, iterations, out, outLength)
                : opensslPbkdf2(pass, salt, saltLength, iterations, out, outLength);
}

bool obtainDerivedKey(const KeyId& id, KeyBytes& out, const std::function<bool(KeyBytes&)>& derive) {
    Store& s = store();
    std::unique_lock lock(s.mutex);
    for (;;) {
        const auto it = std::find_if(s.kept.begin(), s.kept.end(), [&](const Kept& k) { return k.id == id; });
        if (it != s.kept.end()) {
            out = it->bytes;
            // Used again: it stays longest.
            std::rotate(it, it + 1, s.kept.end());
            return true;
        }
        if (std::find(s.deriving.begin(), s.deriving.end(), id) == s.deriving.end()) break;
        s.done.wait(lock);
    }
    s.deriving.push_back(id);
    const std::uint64_t generation = s.generation;
    lock.unlock();
    KeyBytes made{};
    const bool ok = derive(made);
    lock.lock();
    std::erase(s.deriving, id);
    if (ok) out = made;
    // Forgotten meanwhile (the pass phrase was): the caller has its key, nothing is kept.
    if (ok && generation == s.generation) {
        if (s.kept.size() >= kKeptKeys) {
            drop(s.kept.front());
            s.kept.pop_front();
        }
        s.kept.push_back({id, made});
    }
    OPENSSL_cleanse(made.data(), made.size());
    s.done.notify_all();
    return ok;
}

void clearDerivedKeys() {
    Store& s = store();
    std::lock_guard lock(s.mutex);
    for (auto& k : s.kept) drop(k);
    s.kept.clear();
    ++s.generation;
}

unsigned derivationThreads() { return std::max(1u, std::thread::hardware_concurrency()); }

struct KeysAhead::State {
    std::mutex mutex;
    std::condition_variable moved;
    std::vector<std::pair<std::size_t, Job>> jobs;
    std::vector<std::function<void()>> atEnd;
    std::size_t next = 0;     // the first job not taken
    std::size_t reached = 0;  // the caller's step
    bool stopping = false;
    std::uint64_t generation = 0;  // of the kept keys when the jobs started
};

KeysAhead::KeysAhead() = default;

KeysAhead::State& KeysAhead::state() {
    if (!s_) s_ = std::make_unique<State>();
    return *s_;
}

void KeysAhead::add(std::size_t step, Job job) { state().jobs.emplace_back(step, std::move(job)); }

void KeysAhead::atEnd(std::function<void()> done) { state().atEnd.push_back(std::move(done)); }

void KeysAhead::start() {
    State& s = state();
    std::stable_sort(s.jobs.begin(), s.jobs.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    {
        std::lock_guard lock(store().mutex);
        s.generation = store().generation;
    }
    const std::size_t threads = std::min<std::size_t>(derivationThreads(), s.jobs.size());
    for (std::size_t i = 0; i < threads; ++i)
        threads_.emplace_back([&s] {
            std::unique_lock lock(s.mutex);
            for (;;) {
                // Jobs of steps the caller has passed: it derived their keys itself.
                while (s.next < s.jobs.size() && s.jobs[s.next].first < s.reached) ++s.next;
                if (s.stopping || s.next >= s.jobs.size()) return;
                if (s.jobs[s.next].first > s.reached + kStepsAhead) {
                    s.moved.wait(lock);
                    continue;
                }
                Job job = std::move(s.jobs[s.next++].second);
                lock.unlock();
                // Once the kept keys were forgotten, none is derived ahead any more.
                bool forgotten;
                {
                    std::lock_guard keys(store().mutex);
                    forgotten = store().generation != s.generation;
                }
                if (!forgotten) job();
                lock.lock();
            }
        });
}

void KeysAhead::reached(std::size_t step) {
    if (!s_) return;
    {
        std::lock_guard lock(s_->mutex);
        s_->reached = std::max(s_->reached, step);
    }
    s_->moved.notify_all();
}

KeysAhead::~KeysAhead() {
    if (!s_) return;
    {
        std::lock_guard lock(s_->mutex);
        s_->stopping = true;
    }
    s_->moved.notify_all();
    for (auto& t : threads_) t.join();
    for (auto& done : s_->atEnd) done();
}

}  // namespace vaultry::vault
