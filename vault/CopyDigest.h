#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

// The change digest of decrypted copies (copyDigest in CopyManifest.h) hashes each file's bytes
// in pieces. WrittenFiles takes those pieces' hashes from the bytes as they are written while an
// archive is unpacked, so that the copy's digest needs no second reading of it.
namespace vaultry::vault {

// A file's bytes are hashed in pieces of this size, each on its own, so that one big file keeps
// every core busy too.
inline constexpr std::uint64_t kDigestPiece = 32 << 20;

struct PieceHash {
    std::uint64_t low = 0, high = 0;
    bool operator==(const PieceHash&) const = default;
};

class WrittenFiles {
public:
    WrittenFiles();
    ~WrittenFiles();
    WrittenFiles(const WrittenFiles&) = delete;
    WrittenFiles& operator=(const WrittenFiles&) = delete;

    // A file of the tree, by its name in it ("Work/notes/a.txt"), is written from its start.
    void begin(const std::string& name);
    // Its next bytes, at `offset`: anything but the bytes right after the last leaves it unknown
    // (a sparse file's holes, say), and it is read again. A file begun again replaces the one
    // hashed before under its name.
    void write(std::uint64_t offset, const void* data, std::size_t size);
    void end();
    // An entry at `name` that is not hashed (a folder, a link) takes the place of a file there.
    void forget(const std::string& name);
    // A hard link: a later entry written through one name changes the file under the other, so
    // nothing is taken from what was hashed.
    void distrust();
    void clear();  // a reading begun again

    struct File {
        std::uint64_t size = 0;
        std::vector<PieceHash> pieces;
    };
    // The file `name` as it was written, or nothing.
    const File* find(const std::string& name) const;

private:
    struct Hashing;
    std::map<std::string, File> files_;
    std::string current_;
    std::unique_ptr<Hashing> hashing_;
    bool distrusted_ = false;
};

}  // namespace vaultry::vault
