#pragma once
#include <cstdint>
#include <string>

namespace vaultry {

// A byte count as a short text with a unit, units stepping by 1000, computed in single precision:
// 1048576 gives "1.05MB" with two decimals, "1.0MB" with one. No blank before the unit.
std::string sizeText(std::uint64_t bytes, int decimals);

// The two-decimal form into a caller's zero-filled buffer of at least 100 bytes; returns buffer.
char* size_to_unit(std::uint64_t bytes, char* out_buffer);

}  // namespace vaultry
