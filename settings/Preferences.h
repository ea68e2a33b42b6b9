#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "settings/SettingsStore.h"

namespace vaultry {

// How a key's value is kept in the settings file. Flags are the texts "YES" and "NO", never
// booleans: files written by earlier versions and by vaultry-cli read the same.
enum class PrefType { Flag, Text, Number, Date, Data, TextList };

// The idle minutes offered for locking decrypted copies (0: never).
inline constexpr int kAutoLockChoices[] = {0, 5, 15, 60};

// The checks of the table's values beyond their type: true when the value may be stored.
namespace prefcheck {
bool autoLockChoice(const Value& value);
}  // namespace prefcheck

// Every key of the settings file, one row each: the name used in code, the key on disk, how its
// value is kept, what an absent key reads as, in its stored form (std::nullopt: "not set"), and
// the check a value must pass to be stored (nullptr: any value of the type).
// The accessors of Preferences below are the only readers and writers of these keys. The keys on
// disk keep the names (and misspellings) of files written by earlier versions.
#define VAULTRY_PREFERENCES(X)                                                                             \
    X(Records, "VaultryDataArray", TextList, StringArray{}, nullptr)                                       \
    X(DecryptedRecords, "VaultryDecryptedDataArray", TextList, StringArray{}, nullptr)                     \
    X(RecordKinds, "VaultryRecordKinds", TextList, StringArray{}, nullptr)                                 \
    X(StorePath, "EncyptedStorePath", Text, std::nullopt, nullptr)                                         \
    X(StoreParentGrant, "EncyptedFatherStorePath", Data, std::nullopt, nullptr)                            \
    X(PasswordVerifier, "VaultryPassword", Text, std::nullopt, nullptr)                                    \
    X(AutoLogin, "BAutoLogin", Flag, Value("NO"), nullptr)                                                 \
    X(AutoTidy, "BAutoTidy", Flag, Value("YES"), nullptr)                                                  \
    X(LastCleanDate, "LastCleanDate", Date, std::nullopt, nullptr)                                         \
    X(LastCleanSize, "LastsCleanTrashData", Text, std::nullopt, nullptr)                                   \
    X(TrashSizeLimit, "TrashStorage", Number, Value(std::uint64_t{0}), nullptr)                            \
    X(CleanTime, "CleanTimeF", Text, std::nullopt, nullptr)                                                \
    X(TrashGrant, "AutoTrashData", Data, std::nullopt, nullptr)                                            \
    X(CookieFolderGrant, "CrumbscopeData", Data, std::nullopt, nullptr)                                    \
    X(TrashCleanByTime, "TrashCleanByTime", Flag, Value("NO"), nullptr)                                    \
    X(TrashCleanBySize, "TrashCleanBySize", Flag, Value("NO"), nullptr)                                    \
    X(TrashOnlyOlderItems, "TrashOnlyOlderItems", Flag, Value("NO"), nullptr)                              \
    X(TrashOnlyOldestItems, "TrashOnlyOldestItems", Flag, Value("NO"), nullptr)                            \
    X(ErasePasses, "ErasePasses", Number, Value(std::uint64_t{0}), nullptr)                                \
    X(TidyExclusions, "TidyExclusions", TextList, StringArray{}, nullptr)                                  \
    X(LastAutoTidyDate, "LastAutoTidyDate", Date, std::nullopt, nullptr)                                   \
    X(CookieKeepDomains, "CookieKeepDomains", TextList, StringArray{}, nullptr)                            \
    X(TidyLocationGrant, "TidyLocationData", Data, std::nullopt, nullptr)                                  \
    X(TidyLocationFromVault, "TidyLocationFromVault", Flag, Value("NO"), nullptr)                          \
    X(TidyTime, "TidyTime", Text, std::nullopt, nullptr)                                                   \
    X(StorageFolderId, "StorageFolderId", Text, std::nullopt, nullptr)                                     \
    X(TidyFolderId, "TidyFolderId", Text, std::nullopt, nullptr)                                           \
    X(IntegrityIdentity, "IntegrityIdentity", Text, std::nullopt, nullptr)                                 \
    X(IntegrityIdentityNext, "IntegrityIdentityNext", Text, std::nullopt, nullptr)                         \
    X(AutoLockMinutes, "VaultAutoLockMinutes", Number, Value(std::uint64_t{0}), prefcheck::autoLockChoice) \
    X(LockOnSessionLock, "VaultLockOnSessionLock", Flag, Value("YES"), nullptr)                            \
    X(BackgroundNoticeGiven, "BackgroundNoticeGiven", Flag, Value("NO"), nullptr)

// The key on disk of each row, by its name in code, for what must name a key itself: the raw view
// of `vaultry-cli settings`, and tests that write a settings file by hand.
namespace prefkey {
#define VAULTRY_PREF_KEY(name, key, type, fallback, check) inline constexpr const char* name = key;
VAULTRY_PREFERENCES(VAULTRY_PREF_KEY)
#undef VAULTRY_PREF_KEY
}  // namespace prefkey

enum class Pref {
#define VAULTRY_PREF_ENUM(name, key, type, fallback, check) name,
    VAULTRY_PREFERENCES(VAULTRY_PREF_ENUM)
#undef VAULTRY_PREF_ENUM
};

struct PrefInfo {
    Pref pref;
    const char* key;
    PrefType type;
    std::optional<Value> fallback;
    bool (*check)(const Value&);
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
    // What save(), changeList() and changeLists() do with a failure besides returning it: log it,
    // or leave it to the caller alone (vaultry-cli prints its own message).
    enum class Failures { Logged, Returned };

    Preferences(SettingsStore& store) : store_(store) {}  // NOLINT: a view, converts implicitly
    Preferences(SettingsStore& store, Failures failures) : store_(store), failures_(failures) {}

    // ---- Vault -----------------------------------------------------------------------------
    StringArray records() const { return textList(Pref::Records); }
    StringArray decryptedRecords() const { return textList(Pref::DecryptedRecords); }
    // The kind of each record, "<kind> <record>" (hidden, file or folder): a hidden item's name
    // may end as an archive's does. Lists of earlier versions have none until they are settled.
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
    // Idle minutes before decrypted copies are locked: 0 for never, 5, 15 or 60 (vault::autoLockMinutes
    // makes a stored value safe).
    std::uint64_t autoLockMinutes() const { return number(Pref::AutoLockMinutes); }
    // False, and nothing stored, for minutes that are not one of kAutoLockChoices.
    bool setAutoLockMinutes(std::uint64_t minutes) { return setNumber(Pref::AutoLockMinutes, minutes); }
    // Whether decrypted copies are locked when the screen locks, the computer sleeps or the
    // session ends; apart from the idle time.
    bool lockOnSessionLock() const { return flag(Pref::LockOnSessionLock); }
    void setLockOnSessionLock(bool on) { setFlag(Pref::LockOnSessionLock, on); }
    // The storage folder's marker id (vault/VaultIdentity.h): a folder without it is not the
    // vault's (an unplugged drive's empty mount point). The tidy folder's is "<id> <folder>".
    std::optional<std::string> storageFolderId() const { return text(Pref::StorageFolderId); }
    void setStorageFolderId(const std::string& id) { setText(Pref::StorageFolderId, id); }
    std::optional<std::string> tidyFolderId() const { return text(Pref::TidyFolderId); }
    void setTidyFolderId(const std::string& id) { setText(Pref::TidyFolderId, id); }
    // The integrity manifest's identity ("<salt hex> <digest hex>"), and the one a save or password
    // change in progress announced before writing it.
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
    // When the automatic tidy last ran (or was first armed).
    std::optional<Date> lastAutoTidyDate() const { return date(Pref::LastAutoTidyDate); }
    void setLastAutoTidyDate(Date when) { setDate(Pref::LastAutoTidyDate, when); }
    // Name patterns (shell wildcards) a tidy leaves on the desktop.
    StringArray tidyExclusions() const { return textList(Pref::TidyExclusions); }
    void setTidyExclusions(const StringArray& patterns) { setTextList(Pref::TidyExclusions, patterns); }
    // Where tidied items go: a grant of the folder chosen for them.
    bool hasTidyLocationGrant() const { return isSet(Pref::TidyLocationGrant); }
    std::optional<Bytes> tidyLocationGrant() const { return data(Pref::TidyLocationGrant); }
    void setTidyLocationGrant(const Bytes& grant) { setData(Pref::TidyLocationGrant, grant); }
    // True while that folder was not chosen but taken over from where the vault is (items tidied
    // by earlier versions were moved there): the automatic tidy waits for a folder the user chose.
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
    // The Trash schedule's boxes, and its two options for removing only some items.
    bool trashCleanByTime() const { return flag(Pref::TrashCleanByTime); }
    void setTrashCleanByTime(bool on) { setFlag(Pref::TrashCleanByTime, on); }
    bool trashCleanBySize() const { return flag(Pref::TrashCleanBySize); }
    void setTrashCleanBySize(bool on) { setFlag(Pref::TrashCleanBySize, on); }
    bool trashOnlyOlderItems() const { return flag(Pref::TrashOnlyOlderItems); }
    void setTrashOnlyOlderItems(bool on) { setFlag(Pref::TrashOnlyOlderItems, on); }
    bool trashOnlyOldestItems() const { return flag(Pref::TrashOnlyOldestItems); }
    void setTrashOnlyOldestItems(bool on) { setFlag(Pref::TrashOnlyOldestItems, on); }
    // Overwriting passes of secure erase: 0 the tool's own default, 1 a single fast pass.
    std::uint64_t erasePasses() const { return number(Pref::ErasePasses); }
    void setErasePasses(std::uint64_t passes) { setNumber(Pref::ErasePasses, passes); }
    bool hasTrashGrant() const { return isSet(Pref::TrashGrant); }
    std::optional<Bytes> trashGrant() const { return data(Pref::TrashGrant); }
    void setTrashGrant(const Bytes& grant) { setData(Pref::TrashGrant, grant); }

    // ---- Cookies ---------------------------------------------------------------------------
    std::optional<Bytes> cookieFolderGrant() const { return data(Pref::CookieFolderGrant); }
    void setCookieFolderGrant(const Bytes& grant) { setData(Pref::CookieFolderGrant, grant); }
    // Domains whose cookies removal leaves alone.
    StringArray cookieKeepDomains() const { return textList(Pref::CookieKeepDomains); }
    void setCookieKeepDomains(const StringArray& domains) { setTextList(Pref::CookieKeepDomains, domains); }

    // ---- Any key of the table --------------------------------------------------------------
    bool isSet(Pref pref) const;
    // Whether the table lets the value be stored under the key: of the key's type, and passing
    // its check.
    static bool accepts(Pref pref, const Value& value);
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
    using ListChanges = std::vector<std::pair<Pref, std::vector<SettingsStore::ArrayChange>>>;
    Result<std::vector<StringArray>> changeLists(const ListChanges& lists);
    // Takes in what other processes wrote.
    void reload() { store_.reload(); }
    // The store this is a view of.
    SettingsStore& store() const { return store_; }

private:
    bool flag(Pref pref) const;
    std::optional<std::string> text(Pref pref) const;
    std::uint64_t number(Pref pref) const;
    std::optional<Date> date(Pref pref) const;
    std::optional<Bytes> data(Pref pref) const;
    StringArray textList(Pref pref) const;
    void setFlag(Pref pref, bool on);
    void setText(Pref pref, const std::string& value);
    bool setNumber(Pref pref, std::uint64_t value);
    void setDate(Pref pref, Date value);
    void setData(Pref pref, const Bytes& value);
    void setTextList(Pref pref, const StringArray& value);

    SettingsStore& store_;
    Failures failures_ = Failures::Logged;
};

}  // namespace vaultry
