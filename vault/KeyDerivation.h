#pragma once
#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string_view>
#include <thread>
#include <vector>

// PBKDF2-HMAC-SHA256, and a small store of derived keys shared by the threads of one process.
namespace vaultry::vault {

// PBKDF2-HMAC-SHA256 (RFC 8018) of `pass` and `salt` into `out`: the same bytes as OpenSSL's
// PKCS5_PBKDF2_HMAC with SHA-256, 2.7 times as fast here (bench/archive_open_bench), because
// the HMAC's inner and outer states are computed once and each round is two SHA-256 block
// operations. Checked against OpenSSL once per process; should they ever disagree, OpenSSL's
// is used.
bool pbkdf2Sha256(std::string_view pass, const unsigned char* salt, std::size_t saltLength,
                  std::uint32_t iterations, unsigned char* out, std::size_t outLength);

// Derived keys, by a digest of everything that went into them, kept for the process's threads:
// the last kKeptKeys, wiped when they are dropped. A key asked for while another thread derives it
// is waited for, never derived twice. Once they are cleared, nothing derived before is kept, and
// no KeysAhead derives any more.
using KeyId = std::array<unsigned char, 32>;
using KeyBytes = std::array<unsigned char, 64>;
inline constexpr std::size_t kKeptKeys = 4096;
// The key of `id` into `out`: kept, or made by `derive` and then kept (false: nothing kept).
bool obtainDerivedKey(const KeyId& id, KeyBytes& out, const std::function<bool(KeyBytes&)>& derive);
void clearDerivedKeys();

// How many threads derive keys at once: one per core.
unsigned derivationThreads();

// Keys derived on every core a few steps ahead of a caller that works through numbered steps in
// order (an archive each, say) and says which step it has reached. A job derives one key into the
// kept keys; it runs only while its step is at most kStepsAhead past the caller's, so that its key
// is still kept when the caller needs it. Whatever has not run when this goes is dropped.
class KeysAhead {
public:
    using Job = std::function<void()>;
    static constexpr std::size_t kStepsAhead = 8;

    KeysAhead();
    ~KeysAhead();
    KeysAhead(const KeysAhead&) = delete;
    KeysAhead& operator=(const KeysAhead&) = delete;

    // Before start(); jobs run in the order of their steps, and of their adding within a step.
    void add(std::size_t step, Job job);
    // Runs once the jobs have stopped, also when they were not all run.
    void atEnd(std::function<void()> done);
    void start();
    void reached(std::size_t step);

private:
    struct State;
    std::unique_ptr<State> s_;
    std::vector<std::thread> threads_;
    State& state();
};

}  // namespace vaultry::vault
