#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace vaultry {

// Kind lookups by name extension (no dot, ASCII case-insensitive). The result is the position of
// the first matching table entry, or -1 for a null argument or no match; callers test the sign.
std::int32_t GetImageType(const char* ext);
std::int32_t GetViedoType(const char* ext);
std::int32_t GetAudioType(const char* ext);
std::int32_t GetDocumentType(const char* ext);
std::int32_t GetArchiveType(const char* ext);

// The extension of a path's last component, without the dot ("gz" for "a.tar.gz"; "" for none).
std::string pathExtension(std::string_view path);

// The kind names of desktop entries.
namespace kind {
inline constexpr const char* Pictures = "Pictures";
inline constexpr const char* Documents = "Documents";
inline constexpr const char* Archives = "Archives";
inline constexpr const char* Folder = "Folder";
inline constexpr const char* Other = "Other";
}  // namespace kind

// The kind of a desktop or browser entry: a directory is "Folder" (an .rtfd bundle "Documents");
// a file goes by the image, archive and document tables, else "Other". Video and audio files are
// "Other" on the desktop.
const char* desktopKind(const std::string& path);

}  // namespace vaultry
