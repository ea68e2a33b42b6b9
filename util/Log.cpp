#include "util/Log.h"

#include <cstdio>
#include <mutex>

namespace vaultry {
namespace {
std::mutex gMutex;
LogSink gSink;
}  // namespace

void logLine(std::string_view line) {
    std::lock_guard lock(gMutex);
    if (gSink) {
        gSink(line);
        return;
    }
    std::fprintf(stderr, "vaultry: %.*s\n", static_cast<int>(line.size()), line.data());
}

LogSink setLogSink(LogSink sink) {
    std::lock_guard lock(gMutex);
    std::swap(gSink, sink);
    return sink;
}

}  // namespace vaultry
