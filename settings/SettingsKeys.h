#pragma once

// The keys of the settings store.
namespace vaultry::key {
inline constexpr const char* VaultryDataArray = "VaultryDataArray";
inline constexpr const char* VaultryDecryptedDataArray = "VaultryDecryptedDataArray";
// The kind of each vault record, "<kind> <record>" (hidden, file or folder): a hidden item's name
// may end as an archive's does. Lists of earlier versions have none until they are settled.
inline constexpr const char* VaultryRecordKinds = "VaultryRecordKinds";
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
// The Trash schedule's boxes ("YES"/"NO"), and its two options for removing only some items.
inline constexpr const char* TrashCleanByTime = "TrashCleanByTime";
inline constexpr const char* TrashCleanBySize = "TrashCleanBySize";
inline constexpr const char* TrashOnlyOlderItems = "TrashOnlyOlderItems";
inline constexpr const char* TrashOnlyOldestItems = "TrashOnlyOldestItems";
// Overwriting passes of secure erase: absent or 0 the tool's own default, 1 a single fast pass.
inline constexpr const char* ErasePasses = "ErasePasses";
// Name patterns (shell wildcards) a tidy leaves on the desktop.
inline constexpr const char* TidyExclusions = "TidyExclusions";
// When the automatic tidy last ran (or was first armed).
inline constexpr const char* LastAutoTidyDate = "LastAutoTidyDate";
// Domains whose cookies removal leaves alone.
inline constexpr const char* CookieKeepDomains = "CookieKeepDomains";
// Where tidied items go: a grant of the folder chosen for them.
inline constexpr const char* TidyLocationData = "TidyLocationData";
// "YES" while that folder was not chosen but taken over from where the vault is (items tidied by
// earlier versions were moved there): the automatic tidy waits for a folder the user chose.
inline constexpr const char* TidyLocationFromVault = "TidyLocationFromVault";
// The time of day of the automatic tidy, "HH:mm"; absent until the user set the box or the time.
inline constexpr const char* TidyTime = "TidyTime";
// Idle minutes before decrypted copies are locked: 0 for never, 5, 15 or 60.
inline constexpr const char* VaultAutoLockMinutes = "VaultAutoLockMinutes";
inline constexpr const char* VaultLockOnSessionLock = "VaultLockOnSessionLock";
// The id in the storage folder's marker file: a folder without it is not the vault's (an
// unplugged drive's empty mount point).
inline constexpr const char* StorageFolderId = "StorageFolderId";
// The tidy folder's marker id and the folder it was made in ("<id> <folder>").
inline constexpr const char* TidyFolderId = "TidyFolderId";
// The identity of the storage folder's integrity manifest ("<salt hex> <digest hex>"), and the
// one a save or password change in progress announced before writing it.
inline constexpr const char* IntegrityIdentity = "IntegrityIdentity";
inline constexpr const char* IntegrityIdentityNext = "IntegrityIdentityNext";
// "YES" once the user was told that Vaultry goes on running without a window and without a tray
// icon: told once per installation.
inline constexpr const char* BackgroundNoticeGiven = "BackgroundNoticeGiven";
}  // namespace vaultry::key
