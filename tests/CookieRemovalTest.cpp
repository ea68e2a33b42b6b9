#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cookies/Containers.h"
#include "cookies/CookieDatabase.h"
#include "cookies/CookieRemoval.h"
#include "cookies/PRRtfController.h"
#include "support/CliRun.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using cookies::Layout;
using cookies::RemovalPlan;

std::vector<std::string> hosts(const CookNodes& nodes) {
    std::vector<std::string> out;
    for (const auto& n : nodes)
        out.push_back(n->fileHost().value_or("?") + "/" + n->fileName().value_or("?"));
    std::sort(out.begin(), out.end());
    return out;
}

std::string single(const fs::path& db, const std::string& query) {
    sqlite3* h = nullptr;
    sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt* st = nullptr;
    std::string out;
    if (sqlite3_prepare_v2(h, query.c_str(), -1, &st, nullptr) == SQLITE_OK && sqlite3_step(st) == SQLITE_ROW)
        if (const auto* t = sqlite3_column_text(st, 0)) out = reinterpret_cast<const char*>(t);
    sqlite3_finalize(st);
    sqlite3_close(h);
    return out;
}

void chromeRows(const fs::path& db, const std::vector<std::string>& hostsToAdd) {
    int id = 1;
    for (const auto& h : hostsToAdd)
        test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(id++) + ",'" + h +
                          "','','sid','secret-of-" + h + "',x'','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
}

TEST(CookieRemoval, DomainsMatchThemselvesAndTheirSubdomainsOnly) {
    EXPECT_TRUE(cookies::domainMatches("example.org", "example.org"));
    EXPECT_TRUE(cookies::domainMatches(".example.org", "example.org"));
    EXPECT_TRUE(cookies::domainMatches("www.Example.ORG", "example.org"));
    EXPECT_FALSE(cookies::domainMatches("badexample.org", "example.org"));
    EXPECT_FALSE(cookies::domainMatches("example.org.evil.com", "example.org"));
    EXPECT_FALSE(cookies::domainMatches("org", "example.org"));
    EXPECT_EQ(cookies::normalizedDomain(" https://WWW.Example.org/path "), "www.example.org");
    EXPECT_EQ(cookies::normalizedDomain(".example.org"), "example.org");
    EXPECT_EQ(cookies::normalizedDomain(" . "), "");
}

TEST(CookieRemoval, ChromeStoreLosesTheNamedDomainsOnlyAndStaysValidForTheBrowser) {
    test::TempDir dir;
    const fs::path db = dir / "Default/Network/Cookies";
    fs::create_directories(db.parent_path());
    test::makeChromeDb(db, true);
    test::sql(db, "PRAGMA journal_mode=WAL;");
    chromeRows(db, {".a.com", "www.a.com", "ba.com", ".b.org", "kept.a.com", ".c.net"});

    RemovalPlan plan;
    plan.domains = {"a.com", "c.net"};
    plan.keep = {"kept.a.com"};
    ASSERT_TRUE(cookies::removeCookies(db.string(), Layout::Chrome, plan));
    EXPECT_EQ(hosts(cookies::readStore(db.string(), Layout::Chrome)),
              (std::vector<std::string>{".b.org/sid", "ba.com/sid", "kept.a.com/sid"}));
    // The browser's schema and index are untouched; no function of ours is left in it.
    EXPECT_EQ(single(db, "select count(*) from sqlite_master where name='cookies_unique_index'"), "1");
    EXPECT_EQ(single(db, "select count(*) from sqlite_master where sql like '%vaultry%'"), "0");
    EXPECT_EQ(single(db, "PRAGMA integrity_check"), "ok");
    // Deleted values are gone from the bytes on disk, and the log is folded in.
    const std::string bytes = test::readFile(db);
    EXPECT_EQ(bytes.find("secret-of-.a.com"), std::string::npos);
    EXPECT_EQ(bytes.find("secret-of-www.a.com"), std::string::npos);
    EXPECT_NE(bytes.find("secret-of-ba.com"), std::string::npos);
    std::error_code ec;
    EXPECT_EQ(fs::file_size(db.string() + "-wal", ec) * !ec, 0u);

    // Everything else, the keep-list still honoured.
    ASSERT_TRUE(cookies::removeCookies(db.string(), Layout::Chrome, {true, {}, {}, {"a.com"}}));
    EXPECT_EQ(hosts(cookies::readStore(db.string(), Layout::Chrome)),
              (std::vector<std::string>{"kept.a.com/sid"}));

    // Refused while the browser runs: nothing deleted.
    fs::create_symlink("host-1234", dir / "SingletonLock");
    const auto refused = cookies::removeCookies(db.string(), Layout::Chrome, {true, {}, {}, {}});
    ASSERT_FALSE(refused);
    EXPECT_EQ(refused.error().message, cookies::kBrowserRunning);
    EXPECT_EQ(cookies::readStore(db.string(), Layout::Chrome).size(), 1u);
}

TEST(CookieRemoval, FirefoxContainersAreShownExportedAndRemovedOneByOne) {
    test::TempDir dir;
    const fs::path db = dir / "abcd.default/cookies.sqlite";
    fs::create_directories(db.parent_path());
    test::makeFirefoxDb(db, true);
    test::writeFile(
        dir / "abcd.default/containers.json",
        R"({"version":5,"lastUserContextId":6,"identities":[)"
        R"({"userContextId":1,"public":true,"icon":"fingerprint","l10nID":"userContextPersonal.label"},)"
        R"({"userContextId":6,"public":true,"icon":"circle","color":"red","name":"Gaming"}]})");
    test::sql(db,
              "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure,originAttributes) VALUES"
              "('s','1','.a.com','/',0,0,''),('s','2','.a.com','/',0,0,'^userContextId=1'),"
              "('s','3','.a.com','/',0,0,'^userContextId=6'),('s','4','.a.com','/',0,0,'^userContextId=9'),"
              "('s','5','.a.com','/',0,0,'^firstPartyDomain=a.com&userContextId=6');");
    CookNodes nodes;
    cookies::ReadFirefoxCookDatabaseFileWithPath(db.string(), nodes);
    ASSERT_EQ(nodes.size(), 5u);
    std::vector<std::string> shown;
    for (const auto& n : nodes) shown.push_back(n->fileValue().value() + ":" + n->container().value_or("-"));
    EXPECT_EQ(shown,
              (std::vector<std::string>{"1:-", "2:Personal", "3:Gaming", "4:Container 9", "5:Gaming"}));
    EXPECT_EQ(cookies::exportLine(*nodes[1]),
              "Website:.a.com  Name:s  Secure:NO  Path:/  Value:2  Container:Personal  ");
    EXPECT_EQ(cookies::exportLine(*nodes[0]), "Website:.a.com  Name:s  Secure:NO  Path:/  Value:1  ");

    // The selected cookie of one container goes; its namesakes in the others stay.
    RemovalPlan plan;
    plan.rows = {cookies::keyOf(*nodes[2])};
    ASSERT_TRUE(cookies::removeCookies(db.string(), Layout::Firefox, plan));
    nodes.clear();
    cookies::ReadFirefoxCookDatabaseFileWithPath(db.string(), nodes);
    shown.clear();
    for (const auto& n : nodes) shown.push_back(*n->fileValue());
    EXPECT_EQ(shown, (std::vector<std::string>{"1", "2", "4", "5"}));
}

TEST(CookieRemoval, SafarisFileKeepsTheKeptCookiesByteForByte) {
    test::TempDir dir;
    const fs::path file = dir / "Cookies.binarycookies";
    test::writeFile(
        file, test::binaryFile({test::binaryPage({test::binaryRecord({".a.com", "x", "/", "1", 4, 0}),
                                                  test::binaryRecord({"keep.org", "y", "/p", "2", 0, 0})}),
                                test::binaryPage({test::binaryRecord({"www.a.com", "z", "/", "3", 0, 0}),
                                                  test::binaryRecord({".b.net", "w", "/", "4", 1, 0})})}));
    ASSERT_TRUE(cookies::removeCookies(file.string(), Layout::Binary, {false, {"a.com"}, {}, {}}));
    auto left = cookies::readStore(file.string(), Layout::Binary);
    EXPECT_EQ(hosts(left), (std::vector<std::string>{".b.net/w", "keep.org/y"}));
    ASSERT_TRUE(cookies::removeCookies(file.string(), Layout::Binary, {true, {}, {}, {"keep.org"}}));
    left = cookies::readStore(file.string(), Layout::Binary);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(*left[0]->filePath(), "/p");
}

TEST(CookieRemoval, TheCliRemovesByDomainAndKeepsTheKeepList) {
    test::TempDir home;
    const fs::path store = home / ".config/chromium/Default/Network/Cookies";
    fs::create_directories(store.parent_path());
    test::makeChromeDb(store, true);
    chromeRows(store, {".a.com", ".b.org", ".c.net", ".d.io"});

    EXPECT_EQ(test::runCli(home.path(), {"cookies", "keep", "add", "HTTPS://D.io/"}).code, 0);
    EXPECT_EQ(test::runCli(home.path(), {"cookies", "keep", "add", "c.net"}).code, 0);
    EXPECT_EQ(test::runCli(home.path(), {"cookies", "keep", "add", "..."}).code, 2);
    EXPECT_EQ(test::runCli(home.path(), {"cookies", "keep", "list"}).out, "d.io\nc.net\n");
    EXPECT_EQ(nlohmann::json::parse(test::runCli(home.path(), {"cookies", "keep", "list", "--json"}).out),
              nlohmann::json({"d.io", "c.net"}));

    // A dry run counts what would go, the keep-list left out, and changes nothing; without -y and
    // without a terminal the question is a usage error.
    auto r = test::runCli(home.path(), {"cookies", "remove", "chromium", "--dry-run", "--json"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out)["wouldRemove"], 2);  // a.com and b.org
    EXPECT_EQ(test::runCli(home.path(), {"cookies", "remove", "chromium", "--domain", "a.com"}).code, 2);
    EXPECT_EQ(hosts(cookies::readStore(store.string(), Layout::Chrome)).size(), 4u);

    r = test::runCli(home.path(),
                     {"cookies", "remove", "chromium", "--domain", "a.com", "--domain", "c.net", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(hosts(cookies::readStore(store.string(), Layout::Chrome)),
              (std::vector<std::string>{".b.org/sid", ".c.net/sid", ".d.io/sid"}));
    r = test::runCli(home.path(), {"cookies", "remove", "chromium", "--yes"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(hosts(cookies::readStore(store.string(), Layout::Chrome)),
              (std::vector<std::string>{".c.net/sid", ".d.io/sid"}));

    EXPECT_EQ(test::runCli(home.path(), {"cookies", "keep", "remove", "c.net"}).code, 0);
    EXPECT_EQ(test::runCli(home.path(), {"cookies", "keep", "remove", "c.net"}).code, 1);
    EXPECT_EQ(test::runCli(home.path(), {"cookies", "remove", "chromium", "--yes"}).code, 0);
    EXPECT_EQ(hosts(cookies::readStore(store.string(), Layout::Chrome)),
              (std::vector<std::string>{".d.io/sid"}));
}

}  // namespace
}  // namespace vaultry
