#include "util/TestPause.h"

#include <fcntl.h>
#include <unistd.h>

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

}  // namespace vaultry
