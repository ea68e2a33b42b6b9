#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/SettingsKeys.h"
#include "settings/SettingsStore.h"

namespace vaultry {

// How a key's value is kept in the settings file. Flags are the texts "YES" and "NO", never
// booleans: files written by earlier versions and by vaultry-cli read the same.
enum class PrefType { Flag, Text, Number, Date, Data, TextList };

// Every key of the settings file, one row each: the name used in code, the key on disk, how its
// value is kept, and what an absent key reads as, in its stored form (std::nullopt: "not set").
// The accessors of Preferences below are the only readers and writers of these keys.
#define VAULTRY_PREFERENCES(X)                                                     \
    X(Records, key::VaultryDataArray, TextList, StringArray{})                     \
    X(DecryptedRecords, key::VaultryDecryptedDataArray, TextList, StringArray{})   \
    X(RecordKinds, key::VaultryRecordKinds, TextList, StringArray{})               \
    X(StorePath, key::EncyptedStorePath, Text, std::nullopt)                       \
    X(StoreParentGrant, key::EncyptedFatherStorePath, Data, std::nullopt)          \
    X(PasswordVerifier, key::VaultryPassword, Text, std::nullopt)                  \
    X(AutoLogin, key::BAutoLogin, Flag, Value("NO"))                               \
    X(AutoTidy, key::BAutoTidy, Flag, Value("YES"))                                \
    X(LastCleanDate, key::LastCleanDate, Date, std::nullopt)                       \
    X(LastCleanSize, key::LastsCleanTrashData, Text, std::nullopt)                 \
    X(TrashSizeLimit, key::TrashStorage, Number, Value(std::uint64_t{0}))          \
    X(CleanTime, key::CleanTimeF, Text, std::nullopt)                              \
    X(TrashGrant, key::AutoTrashData, Data, std::nullopt)                          \
    X(CookieFolderGrant, key::CrumbscopeData, Data, std::nullopt)                  \
    X(TrashCleanByTime, key::TrashCleanByTime, Flag, Value("NO"))                  \
    X(TrashCleanBySize, key::TrashCleanBySize, Flag, Value("NO"))                  \
    X(TrashOnlyOlderItems, key::TrashOnlyOlderItems, Flag, Value("NO"))            \
    X(TrashOnlyOldestItems, key::TrashOnlyOldestItems, Flag, Value("NO"))          \
    X(ErasePasses, key::ErasePasses, Number, Value(std::uint64_t{0}))              \
    X(TidyExclusions, key::TidyExclusions, TextList, StringArray{})                \
    X(LastAutoTidyDate, key::LastAutoTidyDate, Date, std::nullopt)                 \
    X(CookieKeepDomains, key::CookieKeepDomains, TextList, StringArray{})          \
    X(TidyLocationGrant, key::TidyLocationData, Data, std::nullopt)                \
    X(TidyLocationFromVault, key::TidyLocationFromVault, Flag, Value("NO"))        \
    X(TidyTime, key::TidyTime, Text, std::nullopt)                                 \
    X(StorageFolderId, key::StorageFolderId, Text, std::nullopt)                   \
    X(TidyFolderId, key::TidyFolderId, Text, std::nullopt)                         \
    X(IntegrityIdentity, key::IntegrityIdentity, Text, std::nullopt)               \
    X(IntegrityIdentityNext, key::IntegrityIdentityNext, Text, std::nullopt)       \
    X(AutoLockMinutes, key::VaultAutoLockMinutes, Number, Value(std::uint64_t{0})) \
    X(LockOnSessionLock, key::VaultLockOnSessionLock, Flag, Value("YES"))          \
    X(BackgroundNoticeGiven, key::BackgroundNoticeGiven, Flag, Value("NO"))

enum class Pref {
#define VAULTRY_PREF_ENUM(name, key, type, fallback) name,
    VAULTRY_PREFERENCES(VAULTRY_PREF_ENUM)
#undef VAULTRY_PREF_ENUM
};

struct PrefInfo {
    Pref pref;
    const char* key;
    PrefType type;
    std::optional<Value> fallback;
};

// The table above, in the order of Pref.
const std::vector<PrefInfo>& preferenceTable();
const PrefInfo& preferenceInfo(Pref pref);

// The typed face of the settings store. A view: it holds only the store, so any number of them
// may stand over one store (the GUI's controllers each make their own), and a store converts to
// one where a function asks for preferences.
//
// A value of the wrong type reads as the key's default (the store logs it). Setters change the
// store in memory; save() writes it, and logging a failure to write is done there, once.
class Preferences {
public:
    Preferences(SettingsStore& store) : store_(store) {}  // NOLINT: a view, converts implicitly

    // ---- Vault -----------------------------------------------------------------------------
    StringArray records() const { return textList(Pref::Records); }
    StringArray decryptedRecords() const { return textList(Pref::DecryptedRecords); }
    StringArray recordKinds() const { return textList(Pref::RecordKinds); }
    bool hasStorePath() const { return isSet(Pref::StorePath); }
    std::optional<std::string> storePath() const { return text(Pref::StorePath); }
    void setStorePath(const std::string& path) { setText(Pref::StorePath, path); }
    std::optional<Bytes> storeParentGrant() const { return data(Pref::StoreParentGrant); }
    void setStoreParentGrant(const Bytes& grant) { setData(Pref::StoreParentGrant, grant); }
    // The password's verifier (a plain password from an older version until it is upgraded).
    bool hasPassword() const { return isSet(Pref::PasswordVerifier); }
    std::optional<std::string> passwordVerifier() const { return text(Pref::PasswordVerifier); }
    void setPasswordVerifier(const std::string& verifier) { setText(Pref::PasswordVerifier, verifier); }
    // Idle minutes before decrypted copies are locked; 0 for never (vault::autoLockMinutes
    // makes a stored value safe).
    std::uint64_t autoLockMinutes() const { return number(Pref::AutoLockMinutes); }
    void setAutoLockMinutes(std::uint64_t minutes) { setNumber(Pref::AutoLockMinutes, minutes); }
    // Whether decrypted copies are locked when the screen locks, the computer sleeps or the
    // session ends; apart from the idle time.
    bool lockOnSessionLock() const { return flag(Pref::LockOnSessionLock); }
    void setLockOnSessionLock(bool on) { setFlag(Pref::LockOnSessionLock, on); }
    // The storage folder's marker id (vault/VaultIdentity.h).
    std::optional<std::string> storageFolderId() const { return text(Pref::StorageFolderId); }
    void setStorageFolderId(const std::string& id) { setText(Pref::StorageFolderId, id); }
    std::optional<std::string> tidyFolderId() const { return text(Pref::TidyFolderId); }
    void setTidyFolderId(const std::string& id) { setText(Pref::TidyFolderId, id); }
    // The integrity manifest's identity, and the next one while a write of it is in progress.
    std::optional<std::string> integrityIdentity() const { return text(Pref::IntegrityIdentity); }
    void setIntegrityIdentity(const std::string& id) { setText(Pref::IntegrityIdentity, id); }
    std::optional<std::string> integrityIdentityNext() const { return text(Pref::IntegrityIdentityNext); }
    void setIntegrityIdentityNext(const std::string& id) { setText(Pref::IntegrityIdentityNext, id); }
    // A grant of an item the vault hides or packs, kept under the item's own path.
    void setItemGrant(const std::string& path, const Bytes& grant) { store_.set(path, grant); }

    // ---- Start at login, desktop tidy ------------------------------------------------------
    bool autoLogin() const { return flag(Pref::AutoLogin); }
    void setAutoLogin(bool on) { setFlag(Pref::AutoLogin, on); }
    bool autoTidy() const { return flag(Pref::AutoTidy); }
    void setAutoTidy(bool on) { setFlag(Pref::AutoTidy, on); }
    std::optional<Date> lastAutoTidyDate() const { return date(Pref::LastAutoTidyDate); }
    void setLastAutoTidyDate(Date when) { setDate(Pref::LastAutoTidyDate, when); }
    StringArray tidyExclusions() const { return textList(Pref::TidyExclusions); }
    void setTidyExclusions(const StringArray& patterns) { setTextList(Pref::TidyExclusions, patterns); }
    bool hasTidyLocationGrant() const { return isSet(Pref::TidyLocationGrant); }
    std::optional<Bytes> tidyLocationGrant() const { return data(Pref::TidyLocationGrant); }
    void setTidyLocationGrant(const Bytes& grant) { setData(Pref::TidyLocationGrant, grant); }
    bool tidyLocationFromVault() const { return flag(Pref::TidyLocationFromVault); }
    void setTidyLocationFromVault(bool taken) { setFlag(Pref::TidyLocationFromVault, taken); }
    // The automatic tidy's time, "18:00" until the user sets one.
    std::string tidyTime() const { return text(Pref::TidyTime).value_or("18:00"); }
    bool hasTidyTime() const { return isSet(Pref::TidyTime); }
    void setTidyTime(const std::string& hourMinute) { setText(Pref::TidyTime, hourMinute); }
    // Whether the user was told that Vaultry runs on in the background without a tray icon.
    bool backgroundNoticeGiven() const { return flag(Pref::BackgroundNoticeGiven); }
    void setBackgroundNoticeGiven(bool given) { setFlag(Pref::BackgroundNoticeGiven, given); }

    // ---- Trash -----------------------------------------------------------------------------
    std::optional<Date> lastCleanDate() const { return date(Pref::LastCleanDate); }
    void setLastCleanDate(Date when) { setDate(Pref::LastCleanDate, when); }
    std::optional<std::string> lastCleanSize() const { return text(Pref::LastCleanSize); }
    void setLastCleanSize(const std::string& sizeText) { setText(Pref::LastCleanSize, sizeText); }
    std::uint64_t trashSizeLimit() const { return number(Pref::TrashSizeLimit); }
    void setTrashSizeLimit(std::uint64_t bytes) { setNumber(Pref::TrashSizeLimit, bytes); }
    std::optional<std::string> cleanTime() const { return text(Pref::CleanTime); }
    void setCleanTime(const std::string& title) { setText(Pref::CleanTime, title); }
    bool trashCleanByTime() const { return flag(Pref::TrashCleanByTime); }
    void setTrashCleanByTime(bool on) { setFlag(Pref::TrashCleanByTime, on); }
    bool trashCleanBySize() const { return flag(Pref::TrashCleanBySize); }
    void setTrashCleanBySize(bool on) { setFlag(Pref::TrashCleanBySize, on); }
    bool trashOnlyOlderItems() const { return flag(Pref::TrashOnlyOlderItems); }
    void setTrashOnlyOlderItems(bool on) { setFlag(Pref::TrashOnlyOlderItems, on); }
    bool trashOnlyOldestItems() const { return flag(Pref::TrashOnlyOldestItems); }
    void setTrashOnlyOldestItems(bool on) { setFlag(Pref::TrashOnlyOldestItems, on); }
    std::uint64_t erasePasses() const { return number(Pref::ErasePasses); }
    void setErasePasses(std::uint64_t passes) { setNumber(Pref::ErasePasses, passes); }
    bool hasTrashGrant() const { return isSet(Pref::TrashGrant); }
    std::optional<Bytes> trashGrant() const { return data(Pref::TrashGrant); }
    void setTrashGrant(const Bytes& grant) { setData(Pref::TrashGrant, grant); }

    // ---- Cookies ---------------------------------------------------------------------------
    std::optional<Bytes> cookieFolderGrant() const { return data(Pref::CookieFolderGrant); }
    void setCookieFolderGrant(const Bytes& grant) { setData(Pref::CookieFolderGrant, grant); }
    StringArray cookieKeepDomains() const { return textList(Pref::CookieKeepDomains); }
    void setCookieKeepDomains(const StringArray& domains) { setTextList(Pref::CookieKeepDomains, domains); }

    // ---- Any key of the table --------------------------------------------------------------
    bool isSet(Pref pref) const;
    // The value as stored, of whatever type, and putting it back (or removing the key when it
    // was absent): for taking back a change that could not be saved.
    std::optional<Value> stored(Pref pref) const;
    void restore(Pref pref, const std::optional<Value>& value);

    // Writes the store; false when it could not be written. The failure is logged here; `why`,
    // when given, receives it for callers that must tell the user.
    bool save(std::string* why = nullptr);
    // Edits a list under the file lock, against what the file holds now (see
    // SettingsStore::changeArray), and writes the store; a failure is logged here.
    Result<StringArray> changeList(Pref pref, const std::vector<SettingsStore::ArrayChange>& changes);
    // Several lists in one write; returns them as written, in order.
    Result<std::vector<StringArray>> changeLists(
        const std::vector<std::pair<Pref, std::vector<SettingsStore::ArrayChange>>>& lists);
    // Takes in what other processes wrote.
    void reload() { store_.reload(); }

private:
    bool flag(Pref pref) const;
    std::optional<std::string> text(Pref pref) const;
    std::uint64_t number(Pref pref) const;
    std::optional<Date> date(Pref pref) const;
    std::optional<Bytes> data(Pref pref) const;
    StringArray textList(Pref pref) const;
    void setFlag(Pref pref, bool on);
    void setText(Pref pref, const std::string& value);
    void setNumber(Pref pref, std::uint64_t value);
    void setDate(Pref pref, Date value);
    void setData(Pref pref, const Bytes& value);
    void setTextList(Pref pref, const StringArray& value);

    SettingsStore& store_;
};

}  // namespace vaultry
