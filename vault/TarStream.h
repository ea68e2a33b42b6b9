#pragma once
#include <filesystem>
#include <string>
#include <vector>

#include "util/Progress.h"
#include "util/Result.h"

// The tar streams inside folder archives: written from a folder's tree, and read through (to
// verify) or unpacked with their safety checks: no absolute names, no "..", no links that lead
// outside the folder, not even through other links. Used by Archive.cpp only.
namespace vaultry::vault {

class WrittenFiles;  // CopyDigest.h

namespace detail {

class CipherReader;  // ArchiveCipher.h
class ParallelGzip;  // ArchivePipeline.h

// Writes the tar stream of `folder`, its entries beginning with the folder's name, into `gzip`.
// Bytes of the folder's files read go to `progress`, which may stop the writing.
Status writeTar(const std::filesystem::path& folder, ParallelGzip& gzip, Progress& progress);

// Reads the whole decrypted tar stream; when `into` is set, unpacks it there, adding the
// top-level names it unpacks to `topNames`. With `written`, the files' bytes are hashed as they
// are written (CopyDigest.h).
Status readTar(CipherReader& reader, const std::filesystem::path* into, std::vector<std::string>* topNames,
               WrittenFiles* written = nullptr);

}  // namespace detail
}  // namespace vaultry::vault
