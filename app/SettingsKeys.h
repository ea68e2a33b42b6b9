#pragma once

// The keys of the settings store.
namespace vaultry::key {
inline constexpr const char* VaultryDataArray = "VaultryDataArray";
inline constexpr const char* VaultryDecryptedDataArray = "VaultryDecryptedDataArray";
inline constexpr const char* EncyptedStorePath = "EncyptedStorePath";
inline constexpr const char* EncyptedFatherStorePath = "EncyptedFatherStorePath";
inline constexpr const char* VaultryPassword = "VaultryPassword";
inline constexpr const char* BAutoLogin = "BAutoLogin";
inline constexpr const char* BAutoTidy = "BAutoTidy";
inline constexpr const char* LastCleanDate = "LastCleanDate";
inline constexpr const char* LastsCleanTrashData = "LastsCleanTrashData";
inline constexpr const char* TrashStorage = "TrashStorage";
inline constexpr const char* CleanTimeF = "CleanTimeF";
inline constexpr const char* AutoTrashData = "AutoTrashData";
inline constexpr const char* CrumbscopeData = "CrumbscopeData";
// Where tidied items go when no vault storage folder is set: a grant of the chosen folder.
inline constexpr const char* TidyLocationData = "TidyLocationData";
// The two boxes of the Trash schedule, "YES" or "NO".
inline constexpr const char* CleanTimeCheck = "CleanTimeCheck";
inline constexpr const char* CleanStorageCheck = "CleanStorageCheck";
}  // namespace vaultry::key
