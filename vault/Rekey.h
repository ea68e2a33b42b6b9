#pragma once
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "util/Progress.h"
#include "util/Result.h"

// Changing the vault password re-encrypts every archive in the storage folder. It runs in two
// phases recorded in a journal in the storage folder:
//  1. every archive is re-encrypted beside itself ("name.rekey"), flushed and verified;
//  2. the journal is marked committed, and each "name.rekey" replaces its archive by rename.
// A crash in phase 1 is undone at the next start (the new copies are dropped, the old password
// stays); a crash in phase 2 is finished (the remaining renames are done and the new verifier is
// stored). Neither needs a pass phrase: the journal holds the digest of each verified new copy, and
// only those bytes replace an archive. No archive is ever left that the stored password cannot
// open. The change holds the storage folder's lock (StorageLock) throughout, and recovery leaves a
// change alone while its process holds the lock; callers hold it too until the verifier is stored.
namespace vaultry::vault {

namespace fs = std::filesystem;

inline constexpr const char* kRekeyJournal = ".vaultry-rekey";
// Whether a password change has re-encrypted the archives and waits for its password to be
// stored (its journal is there).
bool rekeyPending(const std::filesystem::path& storage);

// The archives of a storage folder: its "*.enc" and "*.gz" files.
std::vector<fs::path> archivesIn(const fs::path& storage);

// Runs both phases. Before anything is written, every archive must open with oldPass (the
// change is refused otherwise, naming those that do not). On success the caller stores
// `newVerifier` and then calls finishRekey(); until then the committed journal stays, so that a
// crash in between is finished at the next start.
// Two steps go to `progress`, both in bytes of archives: "Checking archives" and "Re-encrypting
// archives". Cancelled before the journal is committed, the new copies and the journal go and
// cancelledError() is returned; once committed, the change is finished whatever `progress` says.
// With the vault's `records`, an integrity entry whose archive is gone and that no record names
// (an encryption that did not happen) is left behind instead of stopping the change.
Status changeArchivesPassword(const fs::path& storage, std::string_view oldPass, std::string_view newPass,
                              const std::string& newVerifier, Progress& progress = Progress::none(),
                              const std::optional<std::vector<std::string>>& records = std::nullopt);

// At start: settles a change cut short. Returns the verifier the caller must store (then call
// finishRekey()) when the change was committed; nothing when there was none or it was undone.
std::optional<std::string> recoverRekey(const fs::path& storage);
void finishRekey(const fs::path& storage);

// What every run does before it reads the vault lists or opens an archive (the GUI at start-up,
// each vault command of vaultry-cli): with the storage folder's lock held, a password change cut
// short is settled and a move to another storage folder cut short is taken back. A committed
// change hands its new verifier to `storeVerifier`, which stores it and says whether it was
// saved; only then is the journal removed (otherwise the next run hands it over again). A folder
// whose lock another process holds is left to that process.
void settleInterruptedChanges(const fs::path& storage,
                              const std::function<bool(const std::string& verifier)>& storeVerifier);

}  // namespace vaultry::vault
