#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cookies/CookieStores.h"
#include "cookies/PRRtfController.h"
#include "support/CliRun.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;

using test::runCli;

TEST(CookieCli, ReadPrintsTheExportFormatOrJson) {
    test::TempDir home;
    const fs::path file = home / "c.binarycookies";
    test::writeFile(
        file, test::binaryFile({test::binaryPage({test::binaryRecord({"a.com", "n", "/", "v", 1, 725760000}),
                                                  test::binaryRecord({"b.com", "m", "/x", "w", 0, 0})})}));
    const auto plain = runCli(home.path(), {"cookies", "read", file.string()});
    EXPECT_EQ(plain.code, 0) << plain.err;
    EXPECT_EQ(plain.out, cookies::exportText(cookies::readStore(file.string(), cookies::Layout::Binary)));
    EXPECT_EQ(plain.out.substr(0, 50), "Website:a.com  Name:n  Secure:YES  Path:/  Value:v");

    const auto json = runCli(home.path(), {"cookies", "read", "--json", "--layout", "binary", file.string()});
    ASSERT_EQ(json.code, 0) << json.err;
    const auto parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["secure"], true);
    EXPECT_EQ(parsed[0]["expires"], "01-01-2024 00:00");
    EXPECT_EQ(parsed[1]["secure"], false);
    EXPECT_TRUE(parsed[1]["expires"].is_null());
    EXPECT_EQ(parsed[1]["path"], "/x");

    test::writeFile(home / "notes.txt", "hello");
    const auto bad = runCli(home.path(), {"cookies", "read", (home / "notes.txt").string()});
    EXPECT_EQ(bad.code, 1);
    EXPECT_EQ(bad.err, "vaultry-cli: not a cookie store: " + (home / "notes.txt").string() + "\n");
    EXPECT_EQ(runCli(home.path(), {"cookies", "read", "--layout", "nope", file.string()}).code, 2);

    // One record read thousands of times over, its texts without a zero byte: refused, not read.
    std::string page;
    test::appendBE(page, 0x100);
    test::appendLE(page, 4000);
    for (int i = 0; i < 4000; ++i) test::appendLE(page, 8 + 4 * 4000 + 4);
    test::appendLE(page, 0);
    std::string record(56, 'A');
    test::putLE(record, 0, 0x7fffffff);
    for (int t = 0; t < 4; ++t) test::putLE(record, 16 + 4 * t, 56 + t);
    const fs::path crafted = home / "crafted.binarycookies";
    test::writeFile(crafted, test::binaryFile({page + record + std::string(60000, 'A')}));
    const auto refused = runCli(home.path(), {"cookies", "read", crafted.string()});
    EXPECT_EQ(refused.code, 1);
    EXPECT_NE(refused.err.find("vaultry-cli: not a cookie store: " + crafted.string() + "\n"),
              std::string::npos)
        << refused.err;
    EXPECT_TRUE(refused.out.empty());
}

TEST(CookieCli, ScanExportAndRemoveTheUsersChromeStore) {
    test::TempDir home;
    const fs::path store = home / ".config/google-chrome/Default/Network/Cookies";
    fs::create_directories(store.parent_path());
    test::makeChromeDb(store, true);
    test::sql(
        store,
        "INSERT INTO cookies VALUES(1,'.c.com','','sid','',x'0102030405','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    const std::string expected = "Website:.c.com  Name:sid  Secure:YES  Path:/  Value:(encrypted)  \n\n";

    const auto scan = runCli(home.path(), {"cookies", "scan", "chrome"});
    EXPECT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(scan.out, expected);

    const auto exported = runCli(home.path(), {"cookies", "export", "chrome"});
    ASSERT_EQ(exported.code, 0) << exported.err;
    const fs::path file = home / "Downloads/com.Quenmark.Crumbscope/cookiedata.txt";
    EXPECT_EQ(exported.out, file.string() + "\n");
    EXPECT_EQ(test::readFile(file), expected);

    EXPECT_EQ(runCli(home.path(), {"cookies", "remove", "chrome"}).code, 2);  // no terminal to ask at
    EXPECT_EQ(runCli(home.path(), {"cookies", "scan", "chrome"}).out, expected);
    const auto removed = runCli(home.path(), {"cookies", "remove", "chrome", "--yes"});
    EXPECT_EQ(removed.code, 0) << removed.err;
    EXPECT_EQ(runCli(home.path(), {"cookies", "scan", "chrome"}).out, "");

    // Reading a store in rollback-journal mode leaves its bytes as they were and adds no log.
    test::sql(store,
              "PRAGMA journal_mode=DELETE;INSERT INTO cookies "
              "VALUES(2,'.d.com','','k','v','','/',0,0,0,0,0,0,1,0,2,443,0,0,0);");
    const std::string before = test::readFile(store);
    EXPECT_EQ(runCli(home.path(), {"cookies", "scan", "chrome"}).code, 0);
    const auto read = runCli(home.path(), {"cookies", "read", store.string()});
    EXPECT_EQ(read.code, 0) << read.err;
    EXPECT_NE(read.out.find(".d.com"), std::string::npos) << read.out;
    EXPECT_EQ(test::readFile(store), before);
    for (const char* suffix : {"-wal", "-shm", "-journal"})
        EXPECT_FALSE(fs::exists(store.string() + suffix)) << suffix;

    const auto noFirefox = runCli(home.path(), {"cookies", "scan", "firefox"});
    EXPECT_EQ(noFirefox.code, 1);
    EXPECT_EQ(noFirefox.err.rfind("vaultry-cli: ", 0), 0u);
}

}  // namespace
}  // namespace vaultry
