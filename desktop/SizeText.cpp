#include "desktop/SizeText.h"

#include <cstdio>
#include <cstring>

namespace vaultry {

std::string sizeText(std::uint64_t n, int decimals) {
    const char* unit = "bytes";
    int steps = 0;
    if (n <= 999ULL) {
    } else if (n <= 999'999ULL) {
        unit = "KB", steps = 1;
    } else if (n <= 999'999'999ULL) {
        unit = "MB", steps = 2;
    } else if (n < 1'000'000'000'000ULL) {
        unit = "GB", steps = 3;
    } else {
        unit = "TB", steps = 4;
    }
    float value = static_cast<float>(n);
    for (int i = 0; i < steps; ++i) value /= 1000.0f;
    char buf[100];
    std::snprintf(buf, sizeof buf, "%.*f%s", decimals, static_cast<double>(value), unit);
    return buf;
}

char* size_to_unit(std::uint64_t bytes, char* out_buffer) {
    const std::string text = sizeText(bytes, 2);
    std::memcpy(out_buffer, text.c_str(), text.size() + 1);
    return out_buffer;
}

}  // namespace vaultry
