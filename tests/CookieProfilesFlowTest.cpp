#include <gtest/gtest.h>

#include <map>

#include "app/AppDelegate.h"
#include "cookies/ChromiumCrypto.h"
#include "cookies/PRCookFileNode.h"
#include "settings/Preferences.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::FakeKeyring;
using test::hex;

struct CookieProfilesPage : ::testing::Test {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    fs::path home = w.dir.path();
    fs::path chrome = home / ".config/google-chrome/Default/Network/Cookies";
    fs::path brave = home / ".config/BraveSoftware/Brave-Browser/Profile 3/Network/Cookies";
    std::shared_ptr<FakeKeyring> keyring = std::make_shared<FakeKeyring>();

    void SetUp() override {
        app = std::make_unique<AppDelegate>(w.services());
        app->awakeFromNib();
        app->applicationDidFinishLaunching();
        app->useSafeStorage(keyring);
        w.settings.set(prefkey::CookieFolderGrant, *w.bookmarks.create(home.string()));
        keyring->items["Chrome"] = "chrome-pass";
        store(chrome, {"a.com", "www.a.com", "b.org", "kept.net"}, "v11", "chrome-pass");
        store(brave, {"brave.example"}, "v10", "peanuts");
    }
    void store(const fs::path& db, const std::vector<std::string>& hosts, const char* prefix,
               const char* password) {
        fs::create_directories(db.parent_path());
        test::makeChromeDb(db, true);
        int id = 1;
        for (const auto& h : hosts)
            test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(id++) + ",'" + h + "','','n','',x'" +
                              hex(cookies::chromiumEncrypt("value of " + h, prefix, password, h, true)) +
                              "','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    }
    void finish() {
        ASSERT_TRUE(w.mainThread.pumpUntil([&] { return !app->cookieWorkerRunning(); }));
    }
    std::vector<std::string> shown() {
        std::vector<std::string> out;
        for (const auto& n : app->cookieRecords()) out.push_back(*n->fileHost() + "=" + *n->fileValue());
        return out;
    }
};

TEST_F(CookieProfilesPage, TheChromeButtonReadsTheDefaultProfileAndOffersTheFamilysOthers) {
    const auto offered = app->cookieProfilesForButton("chrome");
    ASSERT_EQ(offered.size(), 2u);
    EXPECT_EQ(offered[0].browser + "/" + offered[0].name, "chrome/Default");
    EXPECT_EQ(offered[1].browser + "/" + offered[1].name, "brave/Profile 3");

    app->ActClickChromeAction();
    finish();
    EXPECT_EQ(shown(), (std::vector<std::string>{"a.com=value of a.com", "www.a.com=value of www.a.com",
                                                 "b.org=value of b.org", "kept.net=value of kept.net"}));
    EXPECT_EQ(app->currentScanFilePath(), chrome.string());

    app->ScanCookieProfile(offered[1]);
    finish();
    EXPECT_EQ(shown(), (std::vector<std::string>{"brave.example=value of brave.example"}));

    // Without the keyring's item the values show as encrypted, never as bytes.
    keyring->items.clear();
    app->ScanCookieProfile(offered[0]);
    finish();
    ASSERT_EQ(app->cookieRecords().size(), 4u);
    EXPECT_EQ(*app->cookieRecords()[0]->fileValue(), "(encrypted)");
    EXPECT_TRUE(app->cookieProfilesForButton("firefox").empty());
}

TEST_F(CookieProfilesPage, SelectedRowsDomainsAndRemoveAllLeaveTheKeepListAlone) {
    EXPECT_TRUE(app->AddCookieKeepDomain("Kept.NET"));
    EXPECT_FALSE(app->AddCookieKeepDomain("kept.net"));
    EXPECT_EQ(w.settings.stringArray(prefkey::CookieKeepDomains), std::optional(StringArray{"kept.net"}));
    EXPECT_EQ(app->cookieKeepList(), (std::vector<std::string>{"kept.net"}));

    app->ActClickChromeAction();
    finish();
    app->ActRemoveSelectedCookies({2});  // b.org
    finish();
    EXPECT_EQ(shown().size(), 3u);
    EXPECT_EQ(cookies::readStore(chrome.string(), cookies::Layout::Chrome).size(), 3u);

    app->ActRemoveCookiesOfDomains({"a.com"});
    finish();
    ASSERT_EQ(app->cookieRecords().size(), 1u);
    EXPECT_EQ(*app->cookieRecords()[0]->fileHost(), "kept.net");

    app->ActRemoveCookieData();
    finish();
    ASSERT_EQ(app->cookieRecords().size(), 1u);  // kept
    app->ScanCookieProfile(app->cookieProfilesForButton("chrome")[0]);
    finish();
    ASSERT_EQ(app->cookieRecords().size(), 1u);
    EXPECT_EQ(*app->cookieRecords()[0]->fileHost(), "kept.net");

    EXPECT_TRUE(app->RemoveCookieKeepDomain("kept.net"));
    EXPECT_FALSE(app->RemoveCookieKeepDomain("kept.net"));
    app->ActRemoveCookieData();
    finish();
    EXPECT_TRUE(app->cookieRecords().empty());
    EXPECT_TRUE(cookies::readStore(chrome.string(), cookies::Layout::Chrome).empty());
    EXPECT_TRUE(w.ui.alerts.empty());
}

}  // namespace
}  // namespace vaultry
