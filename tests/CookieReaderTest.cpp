#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "cookies/BinaryCookies.h"
#include "cookies/CookieDatabase.h"
#include "cookies/CookieStores.h"
#include "cookies/PRRtfController.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

using test::BinaryCookie;
using test::binaryFile;
using test::binaryPage;
using test::binaryRecord;
namespace fs = std::filesystem;

// Expiry texts are local time; the tests read them in UTC.
class Cookies : public ::testing::Test {
protected:
    void SetUp() override {
        tz_.set("TZ", "UTC");
        ::tzset();
    }
    void TearDown() override {
        tz_.restore();
        ::tzset();
    }
    CookNodes parse(const std::string& bytes) {
        CookNodes out;
        cookies::parseCookBinary({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()}, out,
                                 pages);
        return out;
    }
    std::vector<std::uint32_t> pages;
    test::TempDir dir;

private:
    test::Env tz_;
};

std::string text(const PRCookFileNode::Text& t) { return t ? *t : "<none>"; }

TEST_F(Cookies, RecordDefaults) {
    PRCookFileNode node;
    EXPECT_FALSE(node.fileName() || node.filePath() || node.fileValue() || node.fileHost() ||
                 node.fileURL() || node.expiredDate());
    EXPECT_EQ(node.secureValue(), "NO");
    EXPECT_EQ(node.cookieStartOffSet(), 0u);
    EXPECT_EQ(node.cookieLength(), 1);
    EXPECT_FALSE(node.hasExpired());
    EXPECT_EQ(node.dataValue(), nullptr);
    node.setFileName("");
    EXPECT_EQ(node.fileName(), std::optional<std::string>(""));  // the empty text is not none
}

TEST_F(Cookies, ByteHelpersGiveTheirStatedResults) {
    const fs::path file = dir / "bytes";
    test::writeFile(file, std::string("cook\x01\x02\x03\x04", 8));
    std::FILE* f = std::fopen(file.c_str(), "rb");
    ASSERT_NE(f, nullptr);
    char hex[32];
    EXPECT_STREQ(cookies::getHexString(f, 0, 4, hex), "636f6f6b");
    EXPECT_STREQ(cookies::getHexString(f, 6, 4, hex), "03040000");  // past the end reads "00"
    EXPECT_EQ(cookies::getHexString(f, 0, 0, hex), nullptr);
    EXPECT_EQ(cookies::getHexString(nullptr, 0, 4, hex), nullptr);
    std::fclose(f);

    EXPECT_EQ(cookies::GetStringFormChar("gr\xc3\xbc\xc3\x9f"), "gr\xc3\xbc\xc3\x9f");
    EXPECT_EQ(cookies::GetStringFormChar("ab\0cd"), "ab");
    EXPECT_EQ(cookies::GetStringFormChar("\xc0\xaf"), "");      // overlong
    EXPECT_EQ(cookies::GetStringFormChar("\xed\xa0\x80"), "");  // surrogate
}

TEST_F(Cookies, ExpiryText) {
    EXPECT_EQ(cookies::expiryText(946684800), "01-01-2000 00:00");
    EXPECT_EQ(cookies::expiryText(487686600), "06-15-2016 12:30");  // 1985 is shown 31 years on
    EXPECT_EQ(cookies::expiryText(68205600), "02-29-2003 10:00");   // and not normalised again
    EXPECT_EQ(cookies::GetNSStringDate(std::nullopt), "Unkown Date");
    EXPECT_EQ(cookies::expiryText(INT64_MAX), "Unkown Date");
    EXPECT_EQ(cookies::chromeTimeToUnix(13344473600000000), 1700000000);
}

TEST_F(Cookies, SafariFixturesReadCorrectly) {
    const fs::path fixtures = test::sharedFixtures();
    if (fixtures.empty()) GTEST_SKIP() << "shared fixtures not present";
    CookNodes kooky;
    cookies::ReadCookBinaryFileWithPath(
        (fixtures / "cookies/kooky_safari-macos-cookie-db.binarycookies").string(), kooky, pages);
    EXPECT_EQ(pages.size(), 2u);
    ASSERT_EQ(kooky.size(), 2u);
    EXPECT_EQ(text(kooky[0]->fileHost()), ".ycombinator.com");
    EXPECT_EQ(text(kooky[0]->fileName()), "__cfduid");
    EXPECT_EQ(text(kooky[0]->filePath()), "/");
    EXPECT_EQ(kooky[0]->secureValue(), "NO");  // flags 4: HttpOnly only
    EXPECT_EQ(text(kooky[0]->expiredDate()), "12-16-2018 23:22");
    EXPECT_EQ(kooky[0]->fileValue()->size(), 43u);
    EXPECT_EQ(text(kooky[1]->fileHost()), "news.ycombinator.com");
    EXPECT_EQ(text(kooky[1]->fileName()), "user");
    EXPECT_EQ(kooky[1]->secureValue(), "YES");  // flags 5: Secure and HttpOnly
    EXPECT_EQ(kooky[1]->cookieFlags(), 5u);
    EXPECT_EQ(text(kooky[1]->expiredDate()), "01-17-2038 19:14");
    EXPECT_EQ(kooky[1]->cookieStartOffSet(), 0xb0u);
    EXPECT_EQ(kooky[1]->cookieLength(), 0x7c);

    CookNodes plaso;
    cookies::ReadCookBinaryFileWithPath((fixtures / "cookies/plaso_Cookies.binarycookies").string(), plaso,
                                        pages);
    EXPECT_EQ(pages.size(), 29u);
    ASSERT_EQ(plaso.size(), 91u);
    int secure = 0;
    for (const auto& c : plaso) {
        secure += c->secureValue() == "YES";
        EXPECT_TRUE(c->fileHost() && c->fileName() && c->filePath() && c->fileValue() && c->expiredDate());
    }
    EXPECT_EQ(secure, 2);
    EXPECT_EQ(text(plaso[0]->fileHost()), "en.wikipedia.org");
    EXPECT_EQ(text(plaso[0]->fileName()), "centralnotice_bucket");
    EXPECT_EQ(text(plaso[0]->expiredDate()), "07-15-2013 17:24");
    EXPECT_EQ(plaso[0]->fileValue()->size(), 5u);  // the value is stored second, not last
    EXPECT_EQ(text(plaso[1]->fileName()), "GAPS");
    EXPECT_EQ(plaso[1]->secureValue(), "YES");
    EXPECT_EQ(text(plaso[90]->fileHost()), ".facebook.com");
    EXPECT_EQ(text(plaso[90]->fileName()), "datr");
    EXPECT_EQ(plaso[90]->secureValue(), "NO");
    EXPECT_EQ(text(plaso[90]->expiredDate()), "07-08-2015 21:14");
}

TEST_F(Cookies, BinaryPagesAndRecordsAreLocatedByTheirTables) {
    EXPECT_TRUE(parse(binaryFile({})).empty());
    EXPECT_TRUE(pages.empty());

    const auto a = binaryRecord({"a.com", "n1", "/", "v1", 1, 0});
    const auto b = binaryRecord({"b.com", "n2", "/p", "v2", 4, 0});
    const auto c = binaryRecord({"c.com", "n3", "/", "", 5, 0});
    const auto d =
        binaryRecord({"d.com", "n4", "/", "v4", 0x10, 0, {2, 3, 0, 1}});  // name, value, domain, path
    const std::string empty = binaryPage({});
    EXPECT_EQ(empty.size(), 12u);
    const auto file = binaryFile({binaryPage({a, b}), empty, binaryPage({c, d}, 7)});
    const auto out = parse(file);
    EXPECT_EQ(pages.size(), 3u);
    ASSERT_EQ(out.size(), 4u);
    EXPECT_EQ(text(out[0]->fileHost()), "a.com");
    EXPECT_EQ(out[0]->secureValue(), "YES");
    EXPECT_EQ(out[0]->cookieStartOffSet(), 8u + 12 + 20);
    EXPECT_EQ(out[0]->cookieLength(), static_cast<std::int32_t>(a.size()));
    EXPECT_EQ(out[1]->cookieStartOffSet(), 8u + 12 + 20 + a.size());
    EXPECT_EQ(out[1]->secureValue(), "NO");  // HttpOnly alone
    EXPECT_EQ(out[2]->secureValue(), "YES");
    EXPECT_EQ(out[2]->fileValue(), std::optional<std::string>(""));
    EXPECT_EQ(text(out[3]->fileHost()), "d.com");
    EXPECT_EQ(text(out[3]->fileName()), "n4");
    EXPECT_EQ(text(out[3]->filePath()), "/");
    EXPECT_EQ(text(out[3]->fileValue()), "v4");
    EXPECT_EQ(out[3]->cookieFlags(), 0x10u);  // unknown bits are kept
    EXPECT_FALSE(out[3]->expiredDate());      // no expiry stored
    const auto expiring =
        parse(binaryFile({binaryPage({binaryRecord({"e", "n", "/", "v", 0, 725760000.5})})}));
    ASSERT_EQ(expiring.size(), 1u);
    EXPECT_EQ(text(expiring[0]->expiredDate()), "01-01-2024 00:00");
}

TEST_F(Cookies, MalformedRecordsAreDroppedAndTheWalkGoesOn) {
    test::LogCapture log;
    auto same = binaryRecord({"x.com", "n", "/", "v", 0, 0});
    test::putLE(same, 20, 56);  // the name offset equals the domain offset
    auto outside = binaryRecord({"y.com", "n", "/", "v", 0, 0});
    test::putLE(outside, 28, 4000);  // the value lies beyond the record
    auto bad = binaryRecord({"\xff\xfe", "n", "/", "v", 0, 0});
    auto noZero = binaryRecord({"z.com", "n", "/", "tail", 0, 0});
    noZero.pop_back();  // the last text runs to the end of the record
    test::putLE(noZero, 0, static_cast<std::uint32_t>(noZero.size()));
    const auto good = binaryRecord({"ok.com", "n", "/", "v", 0, 0});
    const auto out = parse(binaryFile({binaryPage({same, good, outside, bad, noZero})}));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_TRUE(log.contains("sadfasdfasdfasd"));
    EXPECT_EQ(text(out[0]->fileHost()), "ok.com");
    EXPECT_EQ(out[1]->fileHost(), std::optional<std::string>(""));  // not UTF-8: the empty text
    EXPECT_EQ(text(out[2]->fileValue()), "tail");
}

TEST_F(Cookies, HostileBinaryFilesStayBounded) {
    test::LogCapture quiet;
    const auto good = binaryRecord({"ok.com", "n", "/", "v", 0, 0});
    std::string hugePages = binaryFile({binaryPage({good})});
    hugePages[4] = '\x7f';                   // 2 billion pages claimed
    EXPECT_LE(parse(hugePages).size(), 1u);  // the table cannot be trusted: bounded, not read
    EXPECT_LE(pages.size(), hugePages.size() / 4);

    std::string hugeRecords = binaryFile({binaryPage({good})});
    test::putLE(hugeRecords, 12 + 4, 0x7fffffff);  // the page claims 2 billion records
    EXPECT_LE(parse(hugeRecords).size(), 1u);

    std::string farOffsets = binaryFile({binaryPage({good})});
    test::putLE(farOffsets, 12 + 8, 0xfffffff0);
    EXPECT_TRUE(parse(farOffsets).empty());

    const std::string full = binaryFile({binaryPage({good, good}), binaryPage({good})});
    for (std::size_t cut = 0; cut <= full.size(); ++cut) parse(full.substr(0, cut));  // no crash, no hang
    EXPECT_EQ(parse(full).size(), 3u);
    EXPECT_EQ(parse(full.substr(0, full.size() - 8 - 10)).size(), 2u);

    CookNodes none;
    cookies::ReadCookBinaryFileWithPath((dir / "missing").string(), none, pages);
    EXPECT_TRUE(none.empty());
}

// A page whose offset table points many times at one record whose texts have no zero byte: each
// copy would run to the page's end. Such a file is not a cookie store, and reading it copies out
// no more than the file holds.
TEST_F(Cookies, RepeatedOrOverlappingRecordsMakeTheFileNotACookieStore) {
    test::LogCapture quiet;
    constexpr std::uint32_t kOffsets = 2000;
    std::string page;
    test::appendBE(page, 0x100);
    test::appendLE(page, kOffsets);
    const std::uint32_t record = 8 + 4 * kOffsets + 4;
    for (std::uint32_t i = 0; i < kOffsets; ++i) test::appendLE(page, record);
    test::appendLE(page, 0);
    std::string r(56, '\0');
    test::putLE(r, 0, 0x7fffffff);  // a size far past the page
    for (int t = 0; t < 4; ++t) test::putLE(r, 16 + 4 * t, 56 + t);
    page += r + std::string(30000, 'A');  // texts without a zero byte, to the page's end
    const std::string file = binaryFile({page});
    CookNodes out;
    EXPECT_FALSE(cookies::parseCookBinary({reinterpret_cast<const std::uint8_t*>(file.data()), file.size()},
                                          out, pages));
    EXPECT_TRUE(out.empty());
    EXPECT_TRUE(pages.empty());

    // Offsets that differ but land inside an earlier record are refused the same way.
    const auto a = binaryRecord({"a.com", "n", "/", "v", 0, 0});
    const auto b = binaryRecord({"b.com", "n", "/", "v", 0, 0});
    std::string overlapping = binaryFile({binaryPage({a, b})});
    test::putLE(overlapping, 12 + 12, 8 + 12 + 20 + 10);  // b's offset inside a
    EXPECT_FALSE(cookies::parseCookBinary(
        {reinterpret_cast<const std::uint8_t*>(overlapping.data()), overlapping.size()}, out, pages));
    std::string repeated = binaryFile({binaryPage({a, b})});
    test::putLE(repeated, 12 + 12, 8 + 12);  // b's offset is a's
    EXPECT_FALSE(cookies::parseCookBinary(
        {reinterpret_cast<const std::uint8_t*>(repeated.data()), repeated.size()}, out, pages));
    EXPECT_TRUE(out.empty());

    // In one record, texts without their zero byte would cover each other: the record is dropped,
    // its neighbours stay.
    std::string runOn = binaryRecord({"x.com", "n", "/", "v", 0, 0});
    for (int t = 0; t < 4; ++t) test::putLE(runOn, 16 + 4 * t, 56 + t);
    runOn.replace(56, runOn.size() - 56, std::string(runOn.size() - 56, 'B'));
    EXPECT_EQ(parse(binaryFile({binaryPage({a, runOn, b})})).size(), 2u);

    // The command line and the opened-file flow report it instead of reading it.
    const fs::path crafted = dir / "crafted.binarycookies";
    test::writeFile(crafted, file);
    EXPECT_FALSE(cookies::detectLayout(crafted.string()));
    const fs::path fine = dir / "fine.binarycookies";
    test::writeFile(fine, binaryFile({binaryPage({a, b})}));
    EXPECT_EQ(cookies::detectLayout(fine.string()), cookies::Layout::Binary);
}

TEST_F(Cookies, ChromeDatabasesOldAndCurrent) {
    const std::int64_t expires = 13344473600000000;  // 2023-11-14 22:13 UTC in Chrome's time
    for (bool current : {false, true}) {
        const fs::path db = dir / (current ? "current" : "old");
        test::makeChromeDb(db, current);
        if (current)
            test::sql(db,
                      "INSERT INTO cookies VALUES(1,'.example.com','','sid','',x'76313001020304',"
                      "'/',13344473600000000,1,1,0,1,1,1,0,2,443,0,0,0);"
                      "INSERT INTO cookies "
                      "VALUES(2,'plain.org','','','legacy',x'','/p',0,0,0,0,0,0,1,0,2,443,0,0,0);");
        else
            test::sql(
                db,
                "INSERT INTO cookies VALUES(1,'.example.com','sid','','/',13344473600000000,1,1,0,1,1,1,"
                "x'76313001020304',0);"
                "INSERT INTO cookies VALUES(2,'plain.org','','legacy','/p',0,0,0,0,0,0,1,x'',0);");
        CookNodes out;
        cookies::ReadCookDatabaseFileWithPath(db.string(), out);
        ASSERT_EQ(out.size(), 2u) << current;
        EXPECT_EQ(text(out[0]->fileHost()), ".example.com");
        EXPECT_EQ(text(out[0]->fileName()), "sid");
        EXPECT_EQ(out[0]->secureValue(), "YES");
        EXPECT_TRUE(out[0]->hasExpired());
        EXPECT_EQ(text(out[0]->fileValue()), "(encrypted)");
        EXPECT_EQ(text(out[0]->expiredDate()), cookies::expiryText(cookies::chromeTimeToUnix(expires)));
        EXPECT_EQ(text(out[0]->expiredDate()), "11-14-2023 22:13");
        EXPECT_FALSE(out[1]->fileName());  // empty text: none
        EXPECT_EQ(out[1]->secureValue(), "NO");
        EXPECT_FALSE(out[1]->hasExpired());
        EXPECT_FALSE(out[1]->expiredDate());
        EXPECT_EQ(text(out[1]->fileValue()), "legacy");  // no encrypted value: the plain one
        // A read leaves the browser's journal mode: still a rollback journal (header bytes 18
        // and 19 are 1), no log beside it.
        const std::string head = test::readFile(db).substr(18, 2);
        EXPECT_EQ(head, std::string("\x01\x01", 2));
        EXPECT_FALSE(fs::exists(db.string() + "-wal"));
        // A Firefox reader finds nothing here.
        CookNodes other;
        cookies::ReadFirefoxCookDatabaseFileWithPath(db.string(), other);
        EXPECT_TRUE(other.empty());
    }
}

TEST_F(Cookies, FirefoxDatabasesInSecondsAndMilliseconds) {
    const fs::path old = dir / "old.sqlite", current = dir / "current.sqlite";
    test::makeFirefoxDb(old, false);
    test::sql(old,
              "INSERT INTO moz_cookies(baseDomain,name,value,host,path,expiry,isSecure) VALUES"
              "('example.com','id','v1','.www.example.com','/',1700000000,1),"
              "('example.org','','v2','example.org','/',0,0);");
    test::makeFirefoxDb(current, true);
    test::sql(current,
              "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure) VALUES"
              "('id','v1','.www.example.com','/',1700000000000,1);");
    CookNodes a, b;
    cookies::ReadFirefoxCookDatabaseFileWithPath(old.string(), a);
    cookies::ReadFirefoxCookDatabaseFileWithPath(current.string(), b);
    ASSERT_EQ(a.size(), 2u);
    ASSERT_EQ(b.size(), 1u);
    EXPECT_EQ(text(a[0]->fileHost()), "example.com");  // baseDomain where it exists
    EXPECT_EQ(text(b[0]->fileHost()), ".www.example.com");
    EXPECT_EQ(text(a[0]->expiredDate()), "11-14-2023 22:13");
    EXPECT_EQ(text(b[0]->expiredDate()), "11-14-2023 22:13");
    EXPECT_EQ(a[0]->secureValue(), "YES");
    EXPECT_EQ(text(a[0]->fileValue()), "v1");
    EXPECT_FALSE(a[1]->fileName());
    EXPECT_EQ(a[1]->secureValue(), "NO");
    EXPECT_FALSE(a[1]->expiredDate());
    // Expired once the time has passed; a session cookie never is.
    EXPECT_TRUE(a[0]->hasExpired());
    EXPECT_TRUE(b[0]->hasExpired());
    EXPECT_FALSE(a[1]->hasExpired());
    CookNodes chrome;
    cookies::ReadCookDatabaseFileWithPath(current.string(), chrome);
    EXPECT_TRUE(chrome.empty());
    EXPECT_EQ(cookies::detectLayout(current.string()), cookies::Layout::Firefox);
}

TEST_F(Cookies, LogIsCheckpointedAndLockedStoresAreReadFromASnapshot) {
    // Firefox keeps its store in WAL mode under an exclusive lock while it runs.
    const fs::path db = dir / "cookies.sqlite";
    test::makeFirefoxDb(db, true);
    sqlite3* browser = nullptr;
    ASSERT_EQ(sqlite3_open(db.c_str(), &browser), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(browser,
                           "PRAGMA journal_mode=WAL; PRAGMA wal_autocheckpoint=0;"
                           "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure) VALUES"
                           "('a','1','h','/',0,0),('b','2','h','/',0,0);",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    // Rows in the log only: the read sees them.
    CookNodes out;
    cookies::ReadFirefoxCookDatabaseFileWithPath(db.string(), out);
    EXPECT_EQ(out.size(), 2u);

    ASSERT_EQ(sqlite3_exec(
                  browser,
                  "PRAGMA locking_mode=EXCLUSIVE; BEGIN EXCLUSIVE;"
                  "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure) VALUES('c','3','h','/',0,0);"
                  "COMMIT;",
                  nullptr, nullptr, nullptr),
              SQLITE_OK);
    {
        // A temporary folder of this test's own, so that other tests' files do not count.
        test::TempDir privateTmp;
        test::Env tmp("TMPDIR", privateTmp.path());
        out.clear();
        cookies::ReadFirefoxCookDatabaseFileWithPath(db.string(), out);
        EXPECT_EQ(out.size(), 3u);                     // read from the copy, the committed row included
        EXPECT_TRUE(fs::is_empty(privateTmp.path()));  // the snapshot folder is gone
    }

    // While the browser holds the store, removal is refused and nothing is deleted.
    const auto refused = cookies::removeDatabaseCookies(db.string(), true);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().message, cookies::kBrowserRunning);
    sqlite3_close(browser);
    out.clear();
    cookies::ReadFirefoxCookDatabaseFileWithPath(db.string(), out);
    EXPECT_EQ(out.size(), 3u);
}

TEST_F(Cookies, RemovalEmptiesTheStoreAndLeavesNoTrace) {
    const fs::path profile = dir / "profile";
    fs::create_directories(profile);
    const fs::path db = profile / "Cookies";
    test::makeChromeDb(db, true);
    test::sql(db,
              "INSERT INTO cookies VALUES(1,'h','','n','',x'5345435245545f56414c55455f3432',"
              "'/',0,0,0,0,0,0,1,0,2,443,0,0,0);");
    ASSERT_NE(test::readFile(db).find("SECRET_VALUE_42"), std::string::npos);

    fs::create_symlink("host-1234", dir / "SingletonLock");  // in use on another computer
    EXPECT_FALSE(cookies::removeStore(db.string(), cookies::Layout::Chrome).ok());
    CookNodes out;
    cookies::ReadCookDatabaseFileWithPath(db.string(), out);
    EXPECT_EQ(out.size(), 1u);

    fs::remove(dir / "SingletonLock");
    ASSERT_TRUE(cookies::removeStore(db.string(), cookies::Layout::Chrome).ok());
    out.clear();
    cookies::ReadCookDatabaseFileWithPath(db.string(), out);
    EXPECT_TRUE(out.empty());
    for (const char* suffix : {"", "-wal", "-journal"})
        if (fs::exists(db.string() + suffix)) {
            EXPECT_EQ(test::readFile(db.string() + suffix).find("SECRET_VALUE_42"), std::string::npos)
                << suffix;
        }

    // A Firefox profile whose lock link names a live process is refused too.
    const fs::path ff = dir / "ff.sqlite";
    test::makeFirefoxDb(ff, true);
    fs::create_symlink("127.0.0.1:" + std::to_string(::getpid()), dir / "lock");
    EXPECT_FALSE(cookies::removeStore(ff.string(), cookies::Layout::Firefox).ok());
    fs::remove(dir / "lock");
    EXPECT_TRUE(cookies::removeStore(ff.string(), cookies::Layout::Firefox).ok());

    // A binary store is replaced by a valid file without cookies.
    const fs::path bin = dir / "Cookies.binarycookies";
    test::writeFile(bin, binaryFile({binaryPage({binaryRecord({"a", "b", "/", "c", 0, 0})})}));
    ASSERT_TRUE(cookies::removeStore(bin.string(), cookies::Layout::Binary).ok());
    const auto sample = cookies::samplecookies();
    EXPECT_EQ(test::readFile(bin), std::string(sample.begin(), sample.end()));
    CookNodes fromSample;
    cookies::ReadCookBinaryFileWithPath(bin.string(), fromSample, pages);
    EXPECT_TRUE(fromSample.empty());
    EXPECT_EQ(pages.size(), 1u);
    EXPECT_EQ(cookies::detectLayout(bin.string()), cookies::Layout::Binary);
}

TEST_F(Cookies, DamagedAndForeignDatabasesYieldNothing) {
    const fs::path junk = dir / "junk.sqlite";
    std::string bytes = "SQLite format 3";
    bytes += '\0';
    bytes += std::string(4000, '\x5a');
    test::writeFile(junk, bytes);
    const fs::path other = dir / "other.sqlite";
    test::sql(other, "CREATE TABLE t(x); INSERT INTO t VALUES(1);");
    for (const auto& p : {junk, other, dir / "absent"}) {
        CookNodes out;
        cookies::ReadCookDatabaseFileWithPath(p.string(), out);
        cookies::ReadFirefoxCookDatabaseFileWithPath(p.string(), out);
        EXPECT_TRUE(out.empty()) << p;
    }
    EXPECT_FALSE(fs::exists(dir / "absent"));  // reading never creates a store
    EXPECT_EQ(cookies::detectLayout(other.string()), cookies::Layout::Chrome);
    test::writeFile(dir / "text", "hello");
    EXPECT_EQ(cookies::detectLayout((dir / "text").string()), std::nullopt);
}

TEST_F(Cookies, ExportIsByteExact) {
    auto a = std::make_shared<PRCookFileNode>();
    a->setFileHost(".example.com");
    a->setFileName("sid");
    a->setFilePath("/");
    a->setFileValue("<0a0b0c0d 0e>");
    a->setSecureValue("YES");
    auto b = std::make_shared<PRCookFileNode>();
    b->setFileHost("b.org");
    EXPECT_EQ(cookies::exportText({a, b}),
              "Website:.example.com  Name:sid  Secure:YES  Path:/  Value:<0a0b0c0d 0e>  \n\n"
              "Website:b.org  Name:(null)  Secure:NO  Path:(null)  Value:(null)  \n\n");
    EXPECT_EQ(cookies::exportText({}), "");

    PRRtfController writer;
    writer.addRtfContent("one");
    ASSERT_TRUE(writer.writeRtfInPath(dir.path().string(), "Note").ok());
    writer.setRtfHeader();
    writer.addRtfContent("two");
    ASSERT_TRUE(writer.writeRtfInPath(dir.path().string(), "Note").ok());  // replaces the first
    EXPECT_EQ(test::readFile(dir / "cookiedata.txt"), "two\n\n");
    EXPECT_FALSE(writer.writeRtfInPath((dir / "no/such").string(), "Note").ok());
}

// The Chrome store the page reads without a profile: the first that exists, else Chrome's own.
TEST_F(Cookies, TheChromeStoreIsTheFirstThatExists) {
    test::FakePaths paths(dir.path());
    EXPECT_EQ(cookies::chromeCookiePath(paths),
              (dir / ".config/google-chrome/Default/Network/Cookies").string());
    fs::create_directories(dir / ".config/chromium/Default");
    test::writeFile(dir / ".config/chromium/Default/Cookies", "");
    EXPECT_EQ(cookies::chromeCookiePath(paths), (dir / ".config/chromium/Default/Cookies").string());
}

}  // namespace
}  // namespace vaultry
