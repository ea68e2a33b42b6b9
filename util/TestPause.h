#pragma once
#include <string_view>

namespace vaultry {

// A point where tests stop a run to kill it there, as a crash at that moment would: with
// VAULTRY_TEST_PAUSE naming the point, the process makes the file VAULTRY_TEST_PAUSE_MARK names
// and waits to be killed. Only builds with tests have the points; elsewhere this does nothing.
void testPause(std::string_view point);

// A full disk, for tests: after `writes` more writes through writeAll succeed, every one fails
// with ENOSPC (a negative count: none fails). A process takes its count from
// VAULTRY_TEST_FAIL_WRITES_AFTER at its first write. Only builds with tests fail; elsewhere
// writeFails() is always false.
void failWritesAfter(long writes);
bool writeFails();

}  // namespace vaultry
