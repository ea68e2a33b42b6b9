#pragma once
// Trash items as trash-put and the file managers write them.
#include <chrono>
#include <filesystem>
#include <string>

namespace vaultry::test {

enum class Zone { Local, Utc };

// A DeletionDate value for a moment: local time as the Trash writes it, or UTC for a CLI that
// runs with TZ=UTC.
std::string trashStamp(std::chrono::system_clock::time_point t, Zone zone = Zone::Local);

// The item's file (or a folder holding `bytes` bytes, with its line in directorysizes) and its
// .trashinfo naming `original`.
void trashItem(const std::filesystem::path& trash, const std::string& name, const std::string& original,
               std::chrono::system_clock::time_point deleted, std::size_t bytes = 10, bool folder = false,
               Zone zone = Zone::Local);

}  // namespace vaultry::test
