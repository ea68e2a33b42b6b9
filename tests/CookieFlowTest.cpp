#include <gtest/gtest.h>

#include <algorithm>

#include "app/AppDelegate.h"
#include "cookies/BinaryCookies.h"
#include "cookies/CookieDatabase.h"
#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "settings/Preferences.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::binaryFile;
using test::binaryPage;
using test::binaryRecord;

struct CookiePage : ::testing::Test {
    test::World w;
    std::unique_ptr<AppDelegate> app;
    fs::path home = w.dir.path();
    fs::path safari = home / "Library/Cookies/Cookies.binarycookies";
    fs::path chrome = home / ".config/google-chrome/Default/Network/Cookies";

    void SetUp() override {
        app = std::make_unique<AppDelegate>(w.services());
        app->awakeFromNib();
        app->applicationDidFinishLaunching();
    }
    void grant() { w.settings.set(prefkey::CookieFolderGrant, *w.bookmarks.create(home.string())); }
    void finish() {
        ASSERT_TRUE(w.mainThread.pumpUntil([&] { return !app->cookieWorkerRunning(); }));
    }
    void writeSafari(int records) {
        std::vector<std::string> recs;
        for (int i = 0; i < records; ++i)
            recs.push_back(binaryRecord({"h" + std::to_string(i) + ".com", "n", "/", "v", 0, 0}));
        fs::create_directories(safari.parent_path());
        test::writeFile(safari, binaryFile({binaryPage(recs)}));
    }
    void writeChrome(int rows) {
        fs::create_directories(chrome.parent_path());
        test::makeChromeDb(chrome, true);
        for (int i = 0; i < rows; ++i)
            test::sql(chrome, "INSERT INTO cookies VALUES(" + std::to_string(i) + ",'c" + std::to_string(i) +
                                  ".com','','n','',x'0102','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    }
    std::vector<std::string> hosts(const CookNodes& nodes) {
        std::vector<std::string> out;
        for (const auto& n : nodes) out.push_back(n->fileHost().value_or("<none>"));
        return out;
    }
    bool shown(const std::string& window) {
        return std::count(w.ui.events.begin(), w.ui.events.end(), "show:" + window) > 0;
    }
};

TEST_F(CookiePage, BrowserButtonsScanWithoutAskingForAccess) {
    writeSafari(3);
    app->ActClickSafariAction();
    EXPECT_FALSE(shown("connectWindow"));
    EXPECT_TRUE(app->cookieWorkerRunning());
    finish();
    EXPECT_EQ(app->cookieRecords().size(), 3u);
}

// Earlier versions granted a folder to the cookie viewer on an access window.
TEST_F(CookiePage, AGrantStoredByAnEarlierVersionIsStillHonoured) {
    writeSafari(3);
    const auto grant = w.bookmarks.create(home.string());
    ASSERT_TRUE(grant);
    w.settings.set(prefkey::CookieFolderGrant, *grant);

    app->ActClickSafariAction();
    EXPECT_FALSE(shown("connectWindow"));
    EXPECT_FALSE(w.ui.isHidden("theProgressor"));
    app->ActClickChromeAction();  // ignored: a scan is running
    finish();
    EXPECT_EQ(app->cookieRecords().size(), 3u);
    EXPECT_EQ(app->cookieFolder(), home.string());
    EXPECT_TRUE(app->binaryCookie());
    EXPECT_FALSE(app->showsFirefoxCookies());
    EXPECT_EQ(app->currentScanFilePath(), safari.string());
    EXPECT_FALSE(w.ui.isHidden("theConentView"));
    EXPECT_TRUE(w.ui.isHidden("openView"));
    EXPECT_TRUE(w.ui.isHidden("theProgressor"));
    EXPECT_EQ(w.ui.at("dataTableView").reloads, 1);
    EXPECT_EQ(app->cookiePageSizes().size(), 1u);
}

TEST_F(CookiePage, ChromeAndFirefoxScans) {
    grant();
    app->ActClickChromeAction();  // no store yet
    finish();
    EXPECT_TRUE(app->cookieRecords().empty());
    EXPECT_FALSE(app->binaryCookie());
    EXPECT_FALSE(app->showsFirefoxCookies());
    EXPECT_EQ(app->currentScanFilePath(), chrome.string());

    writeChrome(2);
    app->ActClickChromeAction();
    finish();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{"c0.com", "c1.com"}));

    const fs::path profile = home / ".mozilla/firefox/ab12.default-release";
    fs::create_directories(profile);
    fs::create_directories(home / ".mozilla/firefox/.hidden");
    test::writeFile(home / ".mozilla/firefox/profiles.ini",
                    "[Install4F96D1932A9F858E]\nDefault=ab12.default-release\nLocked=1\n");
    test::makeFirefoxDb(profile / "cookies.sqlite", true);
    test::sql(
        profile / "cookies.sqlite",
        "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure) VALUES('id','v','.f.org','/',0,1);");
    app->ActClickFireFoxAction();
    finish();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{".f.org"}));
    EXPECT_TRUE(app->showsFirefoxCookies());
    EXPECT_EQ(app->currentScanFilePath(), (profile / "cookies.sqlite").string());
}

// A scan reads the browser's store without changing a byte of it or adding a log beside it, and
// still sees what its log or an unfinished transaction's journal says.
TEST_F(CookiePage, AScanLeavesTheStoreAsItWas) {
    grant();
    writeChrome(2);
    test::sql(chrome, "PRAGMA journal_mode=DELETE;");
    const std::string before = test::readFile(chrome);
    app->ActClickChromeAction();
    finish();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{"c0.com", "c1.com"}));
    EXPECT_EQ(test::readFile(chrome), before);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        EXPECT_FALSE(fs::exists(chrome.string() + suffix)) << suffix;

    // A store in WAL mode whose newest row is only in its log: the log is read, not emptied.
    const fs::path profile = home / ".mozilla/firefox/ab12.default-release";
    const fs::path store = profile / "cookies.sqlite";
    fs::create_directories(profile);
    test::writeFile(home / ".mozilla/firefox/profiles.ini",
                    "[Install4F96D1932A9F858E]\nDefault=ab12.default-release\n");
    test::makeFirefoxDb(store, true);
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(store.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure) "
                           "VALUES('id','v','.wal.org','/',0,1);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    const std::string main = test::readFile(store), log = test::readFile(store.string() + "-wal");
    ASSERT_FALSE(log.empty());
    app->ActClickFireFoxAction();
    finish();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{".wal.org"}));
    EXPECT_EQ(test::readFile(store), main);
    EXPECT_EQ(test::readFile(store.string() + "-wal"), log);
    sqlite3_close(db);
}

TEST_F(CookiePage, FilesOpenedByHand) {
    const fs::path bin = home / "Documents/mine.binarycookies";
    fs::create_directories(bin.parent_path());
    test::writeFile(bin, binaryFile({binaryPage({binaryRecord({"o.com", "n", "/", "v", 0, 0})})}));
    w.ui.panelAnswers.push_back(platform::Ui::Paths{bin.string()});
    test::LogCapture log;
    app->ActClickOpenCookiesAction();
    finish();
    EXPECT_TRUE(log.contains("headString===636f6f6b=="));
    EXPECT_EQ(w.ui.openPanels.back().directory, w.paths.documents().string());
    EXPECT_FALSE(w.ui.isHidden("newCookieBtn"));
    EXPECT_EQ(hosts(app->openedCookieRecords()), (std::vector<std::string>{"o.com"}));
    EXPECT_EQ(app->currentScanFilePath(), bin.string());
    EXPECT_TRUE(app->binaryCookie());

    // A later scan replaces the table; the new-cookie button shows the opened file again.
    grant();
    writeChrome(1);
    app->ActClickChromeAction();
    finish();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{"c0.com"}));
    app->ShowNewCookieRecords();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{"o.com"}));

    // A text file starts nothing; the next scan's records land in newCookieArray too.
    test::writeFile(home / "Documents/notes.txt", "hello");
    w.ui.panelAnswers.push_back(platform::Ui::Paths{(home / "Documents/notes.txt").string()});
    app->ActClickOpenCookiesAction();
    EXPECT_FALSE(app->cookieWorkerRunning());
    EXPECT_TRUE(app->showsOpenedCookieFile());
    EXPECT_TRUE(app->openedCookieRecords().empty());
    app->ActClickChromeAction();
    finish();
    EXPECT_EQ(hosts(app->openedCookieRecords()), (std::vector<std::string>{"c0.com"}));

    // Cancelling changes nothing.
    app->ActClickOpenCookiesAction();
    EXPECT_EQ(hosts(app->openedCookieRecords()), (std::vector<std::string>{"c0.com"}));

    // A Firefox store opened by hand is read, and emptied, in its own layout.
    const fs::path ff = home / "Documents/cookies.sqlite";
    test::makeFirefoxDb(ff, false);
    test::sql(ff,
              "INSERT INTO moz_cookies(baseDomain,name,value,host,path,expiry,isSecure) "
              "VALUES('x.org','id','v','.x.org','/',0,0);");
    w.ui.panelAnswers.push_back(platform::Ui::Paths{ff.string()});
    app->ActClickOpenCookiesAction();
    finish();
    EXPECT_EQ(hosts(app->cookieRecords()), (std::vector<std::string>{"x.org"}));
    EXPECT_TRUE(app->showsFirefoxCookies());
    app->ActRemoveCookieData();
    finish();
    EXPECT_TRUE(app->cookieRecords().empty());
    EXPECT_TRUE(cookies::readStore(ff.string(), cookies::Layout::Firefox).empty());
}

TEST_F(CookiePage, RemovalIsRefusedWhileTheBrowserRunsAndEmptiesTheStoreOtherwise) {
    app->ActRemoveCookieData();  // no scan yet: nothing to change, the table is emptied
    finish();
    EXPECT_TRUE(w.ui.alerts.empty());

    grant();
    writeChrome(2);
    app->ActClickChromeAction();
    finish();
    fs::create_symlink("host-1", home / ".config/google-chrome/SingletonLock");  // another computer's
    app->ActRemoveCookieData();
    finish();
    ASSERT_EQ(w.ui.alerts.size(), 1u);
    EXPECT_EQ(w.ui.alerts[0].message, "Please close the browser first");
    EXPECT_EQ(w.ui.alerts[0].defaultTitle, " Ok ");
    EXPECT_EQ(app->cookieRecords().size(), 2u);  // the table keeps its rows
    EXPECT_EQ(cookies::readStore(chrome.string(), cookies::Layout::Chrome).size(), 2u);
    EXPECT_TRUE(w.ui.isHidden("theProgressor"));

    // What a killed Chromium leaves on this host does not stand in the way.
    fs::remove(home / ".config/google-chrome/SingletonLock");
    fs::create_symlink(test::hostName() + "-" + std::to_string(test::endedPid()),
                       home / ".config/google-chrome/SingletonLock");
    app->ActRemoveCookieData();
    finish();
    EXPECT_EQ(w.ui.alerts.size(), 1u);
    EXPECT_TRUE(app->cookieRecords().empty());
    EXPECT_TRUE(app->readCookieRecords().empty());
    EXPECT_TRUE(cookies::readStore(chrome.string(), cookies::Layout::Chrome).empty());

    writeSafari(2);
    app->ActClickSafariAction();
    finish();
    EXPECT_EQ(app->cookieRecords().size(), 2u);
    app->ActRemoveCookieData();
    finish();
    app->ActClickSafariAction();
    finish();
    EXPECT_TRUE(app->cookieRecords().empty());
    const auto sample = cookies::samplecookies();
    EXPECT_EQ(test::readFile(safari), std::string(sample.begin(), sample.end()));
}

TEST_F(CookiePage, ExportWritesWhatTheTableShows) {
    grant();
    writeSafari(2);
    app->ActClickSafariAction();
    finish();
    app->ActExportCookieData();
    finish();
    const fs::path folder = home / "Downloads/com.Quenmark.Crumbscope";
    EXPECT_EQ(test::readFile(folder / "cookiedata.txt"),
              "Website:h0.com  Name:n  Secure:NO  Path:/  Value:v  \n\n"
              "Website:h1.com  Name:n  Secure:NO  Path:/  Value:v  \n\n");
    EXPECT_EQ(w.workspace.opened, std::vector<std::string>{folder.string()});
    EXPECT_TRUE(w.ui.isHidden("theProgressor"));

    app->setCookieRecordsForTest({}, app->openedCookieRecords());  // an empty table gives an empty file
    app->ActExportCookieData();
    finish();
    EXPECT_EQ(test::readFile(folder / "cookiedata.txt"), "");
}

}  // namespace
}  // namespace vaultry
