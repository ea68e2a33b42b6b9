#include <gtest/gtest.h>

#include <map>

#include "cookies/ChromiumCrypto.h"
#include "cookies/CookieDatabase.h"
#include "cookies/PRRtfController.h"
#include "cookies/Profiles.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::FakeKeyring;

// Values encrypted by hand with `openssl enc -aes-128-cbc -iv 2020…20` and keys from Python's
// hashlib.pbkdf2_hmac('sha1', password, b'saltysalt', 1, 16), so they do not come from our code.
const char* kV10Hello =
    "763130"
    "05f5608cad46e8079a9cf268dbb57729";  // "hello-cookie", no host digest
// SHA-256(".example.org") + "GA1.2.3456" under the fixed key.
const char* kV10Digest =
    "763130"
    "997a768d3761d0d1794ad96ed756c2d2e579b437c49fef1635f87eaa2a88d73a76beceb3e02a2cc348ca10"
    "2f5439e254";
// SHA-256(".kept.net") + "token=abc" under the key of the pass word "Zm9vYmFyc2VjcmV0".
const char* kV11Digest =
    "763131"
    "6524edf48d8d608478476cbe6f50ca0ac90846aba518dc4bcdf6daed70be342e345ee853e8b45150743c0f"
    "6b6858b3b1";

void insertChrome(const fs::path& db, bool current, const std::string& host, const std::string& name,
                  const std::string& blobHex, const std::string& value = "") {
    if (current)
        test::sql(
            db,
            "INSERT INTO cookies(creation_utc,host_key,top_frame_site_key,name,value,encrypted_value,path,"
            "expires_utc,is_secure,is_httponly,last_access_utc,has_expires,is_persistent,priority,samesite,"
            "source_scheme,source_port,last_update_utc,source_type,has_cross_site_ancestor) VALUES(" +
                std::to_string(std::hash<std::string>{}(host + name) & 0xffffff) + ",'" + host + "','','" +
                name + "','" + value + "',x'" + blobHex + "','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    else
        test::sql(db,
                  "INSERT INTO cookies(creation_utc,host_key,name,value,path,expires_utc,secure,httponly,"
                  "last_access_utc,encrypted_value) VALUES(" +
                      std::to_string(std::hash<std::string>{}(host + name) & 0xffffff) + ",'" + host + "','" +
                      name + "','" + value + "','/',0,0,0,0,x'" + blobHex + "');");
}

std::map<std::string, std::string> values(const CookNodes& nodes) {
    std::map<std::string, std::string> out;
    for (const auto& n : nodes) out[n->fileName().value_or("?")] = n->fileValue().value_or("<none>");
    return out;
}

TEST(ChromiumValues, AnOlderStoreReadsItsV10ValuesAsTheBrowserSetThem) {
    test::TempDir dir;
    const fs::path db = dir / "Cookies";
    test::makeChromeDb(db, false);
    insertChrome(db, false, ".a.com", "hello", kV10Hello);
    insertChrome(db, false, ".a.com", "plain", "", "in-the-clear");
    insertChrome(db, false, ".a.com", "noise", "0102030405");
    insertChrome(db, false, ".a.com", "cut", std::string(kV10Hello).substr(0, 20));
    CookNodes nodes;
    cookies::ReadCookDatabaseFileWithPath(db.string(), nodes);
    EXPECT_EQ(values(nodes), (std::map<std::string, std::string>{
                                 {"hello", "hello-cookie"},
                                 {"plain", "in-the-clear"},
                                 {"noise", "(encrypted)"},
                                 {"cut", "(encrypted)"},
                             }));
    EXPECT_EQ(cookies::exportText(nodes).find("Value:<"), std::string::npos);
}

TEST(ChromiumValues, Version24StoresCarryTheHostsDigestWhichIsCheckedAndStripped) {
    test::TempDir dir;
    const fs::path db = dir / "Cookies";
    test::makeChromeDb(db, true);
    insertChrome(db, true, ".example.org", "ga", kV10Digest);
    // The same bytes moved to another host fail the check.
    insertChrome(db, true, ".evil.org", "moved", kV10Digest);
    CookNodes nodes;
    cookies::ReadCookDatabaseFileWithPath(db.string(), nodes);
    EXPECT_EQ(values(nodes),
              (std::map<std::string, std::string>{{"ga", "GA1.2.3456"}, {"moved", "(encrypted)"}}));

    // Read as an older store (no digest expected), the digest would show as leading bytes.
    test::sql(db, "UPDATE meta SET value='23' WHERE key='version';");
    nodes.clear();
    cookies::ReadCookDatabaseFileWithPath(db.string(), nodes);
    EXPECT_NE(values(nodes)["ga"], "GA1.2.3456");
}

TEST(ChromiumValues, V11ValuesUseTheBrowsersKeyringItemAskedOnceElseShowAsEncrypted) {
    test::TempDir dir;
    const fs::path db = dir / "Cookies";
    test::makeChromeDb(db, true);
    insertChrome(db, true, ".kept.net", "t1", kV11Digest);
    insertChrome(db, true, ".kept.net", "t2", kV11Digest);
    insertChrome(db, true, ".example.org", "ga", kV10Digest);

    FakeKeyring keyring;
    {
        auto decryptor = cookies::decryptorFor(keyring, "brave");
        const auto nodes = cookies::readStore(db.string(), cookies::Layout::Chrome, decryptor);
        EXPECT_EQ(values(nodes), (std::map<std::string, std::string>{
                                     {"t1", "(encrypted)"}, {"t2", "(encrypted)"}, {"ga", "GA1.2.3456"}}));
        // Every name of the family asked once, the browser's own first, whatever the row count.
        EXPECT_EQ(keyring.asked, (std::vector<std::string>{"Brave", "Chrome", "Chromium"}));
    }
    keyring.items["Chrome"] = "Zm9vYmFyc2VjcmV0";
    keyring.asked.clear();
    auto decryptor = cookies::decryptorFor(keyring, "chrome");
    const auto nodes = cookies::readStore(db.string(), cookies::Layout::Chrome, decryptor);
    EXPECT_EQ(values(nodes), (std::map<std::string, std::string>{
                                 {"t1", "token=abc"}, {"t2", "token=abc"}, {"ga", "GA1.2.3456"}}));
    EXPECT_EQ(keyring.asked, (std::vector<std::string>{"Chrome"}));

    // A store of only v10 values never asks the keyring.
    keyring.asked.clear();
    test::sql(db, "DELETE FROM cookies WHERE host_key='.kept.net';");
    auto again = cookies::decryptorFor(keyring, "chrome");
    cookies::readStore(db.string(), cookies::Layout::Chrome, again);
    EXPECT_TRUE(keyring.asked.empty());
}

}  // namespace
}  // namespace vaultry
