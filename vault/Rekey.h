#pragma once
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Result.h"

// Changing the vault password re-encrypts every archive in the storage folder, one at a time,
// each replaced atomically. A journal in the storage folder makes the change resumable after a
// crash: it holds the new password's verifier and each pass phrase sealed under the other, so
// whichever of the two the user enters next time, the change can be finished.
namespace vaultry::vault {

namespace fs = std::filesystem;

inline constexpr const char* kRekeyJournal = ".vaultry-rekey";

// The archives of a storage folder: its "*.enc" and "*.gz" files.
std::vector<fs::path> archivesIn(const fs::path& storage);

// Re-encrypts every archive from oldPass to newPass. First checks that every archive opens with
// oldPass (a change is refused otherwise, naming the archives that do not open). On a failure
// mid-way the archives already changed are changed back and the journal is removed; when even
// that fails the journal stays so the change can be finished later. `newVerifier` is the
// verifier the caller stores once this succeeds.
Status changeArchivesPassword(const fs::path& storage, std::string_view oldPass, std::string_view newPass,
                              const std::string& newVerifier);

// A change that was cut short.
struct PendingRekey {
    std::string newVerifier;
};
std::optional<PendingRekey> pendingRekey(const fs::path& storage);

// Finishes a pending change with `entered`, which is either the old pass phrase (the one the
// settings still verify) or the new one. Returns the new pass phrase; the caller stores the new
// verifier and then calls finishRekey() to drop the journal.
Result<std::string> resumeRekey(const fs::path& storage, std::string_view entered);
void finishRekey(const fs::path& storage);

}  // namespace vaultry::vault
