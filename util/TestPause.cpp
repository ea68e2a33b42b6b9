#include "util/TestPause.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace vaultry {

void testPause([[maybe_unused]] std::string_view point) {
#ifdef VAULTRY_TEST_HOOKS
    const char* want = std::getenv("VAULTRY_TEST_PAUSE");
    if (!want || point != want) return;
    if (const char* mark = std::getenv("VAULTRY_TEST_PAUSE_MARK")) {
        const int fd = ::open(mark, O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) ::close(fd);
    }
    for (;;) ::pause();
#endif
}

#ifdef VAULTRY_TEST_HOOKS
namespace {
std::atomic<long>& writesLeft() {
    static std::atomic<long> left = [] {
        const char* n = std::getenv("VAULTRY_TEST_FAIL_WRITES_AFTER");
        return n ? std::atol(n) : -1L;
    }();
    return left;
}
}  // namespace
#endif

void failWritesAfter([[maybe_unused]] long writes) {
#ifdef VAULTRY_TEST_HOOKS
    writesLeft() = writes;
#endif
}

bool writeFails() {
#ifdef VAULTRY_TEST_HOOKS
    auto& left = writesLeft();
    long now = left.load();
    while (now > 0 && !left.compare_exchange_weak(now, now - 1)) {
    }
    return now == 0;
#else
    return false;
#endif
}

}  // namespace vaultry
