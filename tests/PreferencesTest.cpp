#include "settings/Preferences.h"

#include <gtest/gtest.h>

#include <set>

#include "support/FakePorts.h"

namespace vaultry {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// A settings file as the previous release wrote it: its controllers were driven through password,
// storage folder, tidy location, hide, encrypt, decrypt, the preferences, the keep-list, the trash
// schedule, start at login and an emptying of the Trash. Every key it keeps is here; the four
// path keys are grants of items in the vault.
constexpr const char* kEarlierFile = R"plist(<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>/tmp/vaultry-test-pGX3SH</key>
	<data>
	VkJNMQD+AAAAAAAAhEanAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0g=
	</data>
	<key>/tmp/vaultry-test-pGX3SH/Safe/vaultry.data/p.txt.enc</key>
	<data>
	VkJNMQD+AAAAAAAAk0anAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvU2FmZS92
	YXVsdHJ5LmRhdGEvcC50eHQuZW5j
	</data>
	<key>/tmp/vaultry-test-pGX3SH/h.txt</key>
	<data>
	VkJNMQD+AAAAAAAAjEanAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvaC50eHQ=
	</data>
	<key>/tmp/vaultry-test-pGX3SH/p.txt</key>
	<data>
	VkJNMQD+AAAAAAAAkEanAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvcC50eHQ=
	</data>
	<key>AutoTrashData</key>
	<data>
	VkJNMQD+AAAAAAAAh0anAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvLmxvY2Fs
	L3NoYXJlL1RyYXNo
	</data>
	<key>BAutoLogin</key>
	<string>YES</string>
	<key>BAutoTidy</key>
	<string>NO</string>
	<key>CleanTimeF</key>
	<string>Two Weeks</string>
	<key>CookieKeepDomains</key>
	<array>
		<string>example.org</string>
		<string>ads.example.com</string>
	</array>
	<key>CrumbscopeData</key>
	<data>
	VkJNMQD+AAAAAAAAh0anAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvLmxvY2Fs
	L3NoYXJlL1RyYXNo
	</data>
	<key>EncyptedFatherStorePath</key>
	<data>
	VkJNMQD+AAAAAAAAikanAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvU2FmZQ==
	</data>
	<key>EncyptedStorePath</key>
	<string>/tmp/vaultry-test-pGX3SH/Safe/vaultry.data</string>
	<key>ErasePasses</key>
	<integer>1</integer>
	<key>LastAutoTidyDate</key>
	<date>2025-12-06T05:46:40Z</date>
	<key>LastCleanDate</key>
	<date>2025-12-07T11:46:40Z</date>
	<key>LastsCleanTrashData</key>
	<string>0.00bytes</string>
	<key>TidyExclusions</key>
	<array>
		<string>*.iso</string>
		<string>*.desktop</string>
	</array>
	<key>TidyLocationData</key>
	<data>
	VkJNMQD+AAAAAAAAjkanAAAAAAAvdG1wL3ZhdWx0cnktdGVzdC1wR1gzU0gvVGlkeQ==
	</data>
	<key>TrashCleanBySize</key>
	<string>NO</string>
	<key>TrashCleanByTime</key>
	<string>YES</string>
	<key>TrashOnlyOlderItems</key>
	<string>NO</string>
	<key>TrashOnlyOldestItems</key>
	<string>YES</string>
	<key>TrashStorage</key>
	<integer>2400000000</integer>
	<key>VaultAutoLockMinutes</key>
	<integer>15</integer>
	<key>VaultryDataArray</key>
	<array>
		<string>/tmp/vaultry-test-pGX3SH/h.txt</string>
		<string>/tmp/vaultry-test-pGX3SH/p.txt.enc</string>
	</array>
	<key>VaultryDecryptedDataArray</key>
	<array>
		<string>/tmp/vaultry-test-pGX3SH/p.txt.enc</string>
	</array>
	<key>VaultryPassword</key>
	<string>$argon2id$v=19$m=65536,t=2,p=1$o8/jOM3/K2EQgUl6X55Sew$Ea5vmfBt+Qnq4ThTPFDrjqKsQ+G76cWA4PIGxo3PSR8</string>
</dict>
</plist>
)plist";

constexpr const char* kDir = "/tmp/vaultry-test-pGX3SH";

Date at(std::time_t t) { return std::chrono::system_clock::from_time_t(t); }

TEST(PreferencesTable, ReadsEveryKeyOfAFileTheEarlierVersionWrote) {
    TempDir dir;
    const auto file = dir / "com.Quenmark.vaultry.plist";
    writeFile(file, kEarlierFile);
    SettingsStore store(file);
    const Preferences prefs(store);
    const std::string d = kDir;

    EXPECT_EQ(prefs.records(), (StringArray{d + "/h.txt", d + "/p.txt.enc"}));
    EXPECT_EQ(prefs.decryptedRecords(), StringArray{d + "/p.txt.enc"});
    EXPECT_EQ(prefs.storePath(), d + "/Safe/vaultry.data");
    EXPECT_TRUE(prefs.storeParentGrant().has_value());
    EXPECT_TRUE(prefs.hasPassword());
    EXPECT_EQ(prefs.passwordVerifier().value_or("").rfind("$argon2id$", 0), 0u);
    EXPECT_TRUE(prefs.autoLogin());
    EXPECT_FALSE(prefs.autoTidy());
    EXPECT_EQ(prefs.lastCleanDate(), at(1'765'108'000));
    EXPECT_EQ(prefs.lastCleanSize(), "0.00bytes");
    EXPECT_EQ(prefs.trashSizeLimit(), 2'400'000'000u);
    EXPECT_EQ(prefs.cleanTime(), "Two Weeks");
    EXPECT_TRUE(prefs.hasTrashGrant());
    EXPECT_EQ(prefs.trashGrant(), prefs.cookieFolderGrant());
    EXPECT_TRUE(prefs.trashCleanByTime());
    EXPECT_FALSE(prefs.trashCleanBySize());
    EXPECT_FALSE(prefs.trashOnlyOlderItems());
    EXPECT_TRUE(prefs.trashOnlyOldestItems());
    EXPECT_EQ(prefs.erasePasses(), 1u);
    EXPECT_EQ(prefs.tidyExclusions(), (StringArray{"*.iso", "*.desktop"}));
    EXPECT_EQ(prefs.lastAutoTidyDate(), at(1'765'000'000));
    EXPECT_EQ(prefs.cookieKeepDomains(), (StringArray{"example.org", "ads.example.com"}));
    EXPECT_TRUE(prefs.hasTidyLocationGrant());
    EXPECT_EQ(prefs.autoLockMinutes(), 15u);
    EXPECT_TRUE(prefs.lockOnSessionLock());  // not in the file: on, as before the box existed

    // Every key of the file but the items' grants is a row of the table, and every row is in it
    // but the keys later versions added (an earlier vault gets them at its first use).
    std::set<std::string> inFile, inTable;
    for (const auto& [k, v] : store.snapshot())
        if (k.front() != '/') inFile.insert(k);
    const std::set<std::string> added = {prefkey::RecordKinds,           prefkey::StorageFolderId,
                                         prefkey::TidyFolderId,          prefkey::IntegrityIdentity,
                                         prefkey::IntegrityIdentityNext, prefkey::LockOnSessionLock,
                                         prefkey::TidyLocationFromVault, prefkey::TidyTime,
                                         prefkey::BackgroundNoticeGiven};
    for (const auto& row : preferenceTable())
        if (!added.count(row.key)) inTable.insert(row.key);
    EXPECT_EQ(inFile, inTable);
}

// What the typed setters write is byte for byte what the earlier version wrote for the same values.
TEST(PreferencesTable, WritesTheSameBytesAsTheEarlierVersion) {
    TempDir dir;
    const auto earlierFile = dir / "earlier.plist";
    writeFile(earlierFile, kEarlierFile);
    SettingsStore earlierStore(earlierFile);
    const Preferences earlier(earlierStore);

    SettingsStore store(dir / "com.Quenmark.vaultry.plist");
    Preferences prefs(store);
    ASSERT_TRUE(prefs.changeList(Pref::Records, {{SettingsStore::ArrayChange::Add, earlier.records()[0]},
                                                 {SettingsStore::ArrayChange::Add, earlier.records()[1]}}));
    ASSERT_TRUE(prefs.changeList(Pref::DecryptedRecords,
                                 {{SettingsStore::ArrayChange::Add, earlier.decryptedRecords()[0]}}));
    prefs.setStorePath(*earlier.storePath());
    prefs.setStoreParentGrant(*earlier.storeParentGrant());
    prefs.setPasswordVerifier(*earlier.passwordVerifier());
    prefs.setAutoLogin(true);
    prefs.setAutoTidy(false);
    prefs.setLastCleanDate(*earlier.lastCleanDate());
    prefs.setLastCleanSize(*earlier.lastCleanSize());
    prefs.setTrashSizeLimit(2'400'000'000u);
    prefs.setCleanTime("Two Weeks");
    prefs.setTrashGrant(*earlier.trashGrant());
    prefs.setCookieFolderGrant(*earlier.cookieFolderGrant());
    prefs.setTrashCleanByTime(true);
    prefs.setTrashCleanBySize(false);
    prefs.setTrashOnlyOlderItems(false);
    prefs.setTrashOnlyOldestItems(true);
    prefs.setErasePasses(1);
    prefs.setTidyExclusions({"*.iso", "*.desktop"});
    prefs.setLastAutoTidyDate(*earlier.lastAutoTidyDate());
    prefs.setCookieKeepDomains({"example.org", "ads.example.com"});
    prefs.setTidyLocationGrant(*earlier.tidyLocationGrant());
    prefs.setAutoLockMinutes(15);
    for (const auto& [k, v] : earlierStore.snapshot())
        if (k.front() == '/') prefs.setItemGrant(k, *earlierStore.data(k));
    ASSERT_TRUE(prefs.save());

    EXPECT_EQ(readFile(store.file()), kEarlierFile);
}

TEST(PreferencesTable, AbsentOrForeignValuesReadAsTheDefaultsTheApplicationHasAlwaysUsed) {
    TempDir dir;
    SettingsStore store(dir / "com.Quenmark.vaultry.plist");
    Preferences prefs(store);

    // A first start: the automatic tidy box on, every other box off, no limits, nothing set.
    EXPECT_FALSE(prefs.autoLogin());
    EXPECT_TRUE(prefs.autoTidy());
    EXPECT_FALSE(prefs.trashCleanByTime() || prefs.trashCleanBySize() || prefs.trashOnlyOlderItems() ||
                 prefs.trashOnlyOldestItems());
    EXPECT_EQ(prefs.trashSizeLimit() + prefs.erasePasses() + prefs.autoLockMinutes(), 0u);
    EXPECT_TRUE(prefs.records().empty() && prefs.decryptedRecords().empty() &&
                prefs.tidyExclusions().empty() && prefs.cookieKeepDomains().empty());
    EXPECT_FALSE(prefs.storePath() || prefs.passwordVerifier() || prefs.hasPassword() || prefs.cleanTime() ||
                 prefs.lastCleanSize() || prefs.lastCleanDate() || prefs.lastAutoTidyDate());
    EXPECT_FALSE(prefs.storeParentGrant() || prefs.trashGrant() || prefs.cookieFolderGrant() ||
                 prefs.tidyLocationGrant() || prefs.hasTrashGrant() || prefs.hasTidyLocationGrant());
    EXPECT_TRUE(store.snapshot().empty());  // reading wrote nothing

    // Any text but "YES" turns a box off, the tidy box included; a value of another type counts
    // as absent, so the tidy box stays on.
    store.set(prefkey::AutoTidy, "yes");
    store.set(prefkey::AutoLogin, "1");
    EXPECT_FALSE(prefs.autoTidy());
    EXPECT_FALSE(prefs.autoLogin());
    test::LogCapture quiet;  // the store logs each value of another type
    store.set(prefkey::AutoTidy, std::uint64_t{1});
    store.set(prefkey::TrashSizeLimit, "500");
    EXPECT_TRUE(prefs.autoTidy());
    EXPECT_EQ(prefs.trashSizeLimit(), 0u);
    prefs.setAutoTidy(false);
    EXPECT_EQ(store.get(prefkey::AutoTidy), Value("NO"));  // a text, never a boolean

    // Taking back a change puts the earlier value back as it was, or removes the key.
    const auto before = prefs.stored(Pref::TrashSizeLimit);
    prefs.setTrashSizeLimit(7);
    prefs.restore(Pref::TrashSizeLimit, before);
    EXPECT_EQ(store.get(prefkey::TrashSizeLimit), Value("500"));
    prefs.setCleanTime("Daily");
    prefs.restore(Pref::CleanTime, std::nullopt);
    EXPECT_FALSE(store.contains(prefkey::CleanTime));
}

TEST(PreferencesTable, EachRowHasADefaultOfItsOwnTypeAndAKeyOfItsOwn) {
    std::set<std::string> keys;
    std::size_t index = 0;
    for (const auto& row : preferenceTable()) {
        EXPECT_EQ(static_cast<std::size_t>(row.pref), index++) << row.key;
        EXPECT_TRUE(keys.insert(row.key).second) << row.key;
        switch (row.type) {
            case PrefType::Flag:
                ASSERT_TRUE(row.fallback && row.fallback->as<std::string>()) << row.key;
                EXPECT_TRUE(*row.fallback == Value("YES") || *row.fallback == Value("NO")) << row.key;
                break;
            case PrefType::Number:
                EXPECT_TRUE(row.fallback && row.fallback->as<std::uint64_t>()) << row.key;
                break;
            case PrefType::TextList:
                EXPECT_TRUE(row.fallback && row.fallback->as<StringArray>()) << row.key;
                break;
            default:
                EXPECT_FALSE(row.fallback) << row.key;
        }
    }
}

// A settings file that cannot be written: saving says so, in the log and to the caller.
TEST(PreferencesTable, SavingLogsAFailureOnce) {
    TempDir dir;
    writeFile(dir / "blocker", "a file where the settings folder should be");
    SettingsStore store(dir / "blocker" / "com.Quenmark.vaultry.plist");
    Preferences prefs(store);
    prefs.setErasePasses(1);
    test::LogCapture log;
    std::string why;
    EXPECT_FALSE(prefs.save(&why));
    EXPECT_FALSE(why.empty());
    const auto lines = log.lines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [&](const std::string& l) { return l == "settings: " + why; }),
              1);
    EXPECT_FALSE(prefs.changeList(Pref::TidyExclusions, {{SettingsStore::ArrayChange::Add, "*.iso"}}));
    EXPECT_EQ(log.lines().size(), lines.size() + 1);
}

TEST(PreferencesTable, AValueTheTableRefusesIsNotStored) {
    TempDir dir;
    SettingsStore store(dir / "com.Quenmark.vaultry.plist");
    Preferences prefs(store);

    EXPECT_TRUE(prefs.setAutoLockMinutes(15));
    EXPECT_FALSE(prefs.setAutoLockMinutes(7));
    EXPECT_EQ(prefs.autoLockMinutes(), 15u);
    for (int minutes : kAutoLockChoices)
        EXPECT_TRUE(Preferences::accepts(Pref::AutoLockMinutes, Value(static_cast<std::uint64_t>(minutes))));
    EXPECT_FALSE(Preferences::accepts(Pref::AutoLockMinutes, Value(std::uint64_t{7})));
    EXPECT_FALSE(Preferences::accepts(Pref::AutoLockMinutes, Value("15")));
    EXPECT_TRUE(Preferences::accepts(Pref::TidyExclusions, Value(StringArray{"*.iso"})));
    EXPECT_FALSE(Preferences::accepts(Pref::TidyExclusions, Value("*.iso")));
    EXPECT_EQ(std::string(preferenceInfo(Pref::Records).key), prefkey::Records);
}

}  // namespace
}  // namespace vaultry
