#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cookies/Profiles.h"
#include "support/CliRun.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using cookies::Layout;
using cookies::Profile;

void chromeStore(const fs::path& store, int rows) {
    fs::create_directories(store.parent_path());
    test::makeChromeDb(store, true);
    for (int i = 0; i < rows; ++i)
        test::sql(store, "INSERT INTO cookies VALUES(" + std::to_string(i) + ",'.c" + std::to_string(i) +
                             ".com','','n','v','','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
}

void firefoxStore(const fs::path& store, int rows) {
    fs::create_directories(store.parent_path());
    test::makeFirefoxDb(store, true);
    for (int i = 0; i < rows; ++i)
        test::sql(store, "INSERT INTO moz_cookies(name,value,host,path,expiry,isSecure) VALUES('n','v','.f" +
                             std::to_string(i) + ".org','/',0,0);");
}

// A home with every layout the browsers write on Linux.
struct ProfileHome : ::testing::Test {
    test::TempDir dir;
    fs::path home = dir.path();
    test::FakePaths paths{home};

    void SetUp() override {
        // Firefox, native: two profiles in profiles.ini; installs.ini names the second as default.
        const fs::path ff = home / ".mozilla/firefox";
        test::writeFile(ff / "profiles.ini",
                        "[Profile1]\nName=default\nIsRelative=1\nPath=abcd.default\nDefault=1\n\n"
                        "[Profile0]\nName=default-release\nIsRelative=1\nPath=efgh.default-release\n\n"
                        "[General]\nStartWithLastProfile=1\nVersion=2\n");
        test::writeFile(ff / "installs.ini", "[4F96D1932A9F858E]\nDefault=efgh.default-release\nLocked=1\n");
        firefoxStore(ff / "abcd.default/cookies.sqlite", 1);
        firefoxStore(ff / "efgh.default-release/cookies.sqlite", 2);
        // A profile listed but never started has no store and is left out.
        test::writeFile(ff / "profiles.ini", test::readFile(ff / "profiles.ini") +
                                                 "[Profile2]\nName=empty\nIsRelative=1\nPath=zz.empty\n");
        // Snap: an absolute path in profiles.ini.
        const fs::path snap = home / "snap/firefox/common/.mozilla/firefox";
        test::writeFile(snap / "profiles.ini", "[Profile0]\nName=snappy\nIsRelative=0\nPath=" +
                                                   (snap / "snap1.default").string() + "\nDefault=1\n");
        firefoxStore(snap / "snap1.default/cookies.sqlite", 3);
        // Flatpak: the default named by an Install section in profiles.ini itself.
        const fs::path flat = home / ".var/app/org.mozilla.firefox/.mozilla/firefox";
        test::writeFile(flat / "profiles.ini",
                        "[Install1234]\nDefault=p2.work\n[Profile0]\nName=play\nPath=p1.play\n[Profile1]\n"
                        "Name=work\nPath=p2.work\n");
        firefoxStore(flat / "p1.play/cookies.sqlite", 1);
        firefoxStore(flat / "p2.work/cookies.sqlite", 1);

        // Chromium family: Default and numbered profiles, current and older store places.
        chromeStore(home / ".config/google-chrome/Default/Network/Cookies", 2);
        chromeStore(home / ".config/google-chrome/Profile 10/Network/Cookies", 1);
        chromeStore(home / ".config/google-chrome/Profile 2/Cookies", 1);
        test::writeFile(home / ".config/google-chrome/System Profile/Network/Cookies", "");
        chromeStore(home / ".config/chromium/Default/Cookies", 1);
        chromeStore(home / "snap/chromium/common/chromium/Default/Network/Cookies", 4);
        chromeStore(home / ".var/app/org.chromium.Chromium/config/chromium/Profile 1/Network/Cookies", 5);
        chromeStore(home / ".config/BraveSoftware/Brave-Browser/Default/Network/Cookies", 1);
        chromeStore(home / ".config/vivaldi/Default/Network/Cookies", 1);
        chromeStore(home / ".config/microsoft-edge/Default/Network/Cookies", 1);
        chromeStore(home / ".config/opera/Network/Cookies", 1);  // Opera: one profile, no Default/
        firefoxStore(home / ".local/share/epiphany/cookies.sqlite", 1);
    }

    std::vector<std::string> listing() {
        std::vector<std::string> out;
        for (const auto& p : cookies::findProfiles(paths))
            out.push_back(p.browser + (p.packaging.empty() ? "" : "/" + p.packaging) + " " + p.name +
                          (p.isDefault ? " *" : "") + " " + fs::relative(p.store, home).string());
        return out;
    }
};

TEST_F(ProfileHome, EveryLayoutIsFoundWithOneDefaultPerBrowser) {
    EXPECT_EQ(listing(),
              (std::vector<std::string>{
                  "firefox default .mozilla/firefox/abcd.default/cookies.sqlite",
                  "firefox default-release * .mozilla/firefox/efgh.default-release/cookies.sqlite",
                  "firefox/snap snappy snap/firefox/common/.mozilla/firefox/snap1.default/cookies.sqlite",
                  "firefox/flatpak play .var/app/org.mozilla.firefox/.mozilla/firefox/p1.play/cookies.sqlite",
                  "firefox/flatpak work .var/app/org.mozilla.firefox/.mozilla/firefox/p2.work/cookies.sqlite",
                  "chrome Default * .config/google-chrome/Default/Network/Cookies",
                  "chrome Profile 2 .config/google-chrome/Profile 2/Cookies",
                  "chrome Profile 10 .config/google-chrome/Profile 10/Network/Cookies",
                  "chromium Default * .config/chromium/Default/Cookies",
                  "chromium/snap Default snap/chromium/common/chromium/Default/Network/Cookies",
                  "chromium/flatpak Profile 1 "
                  ".var/app/org.chromium.Chromium/config/chromium/Profile 1/Network/Cookies",
                  "brave Default * .config/BraveSoftware/Brave-Browser/Default/Network/Cookies",
                  "vivaldi Default * .config/vivaldi/Default/Network/Cookies",
                  "edge Default * .config/microsoft-edge/Default/Network/Cookies",
                  "opera Default * .config/opera/Network/Cookies",
                  "gnome-web Default * .local/share/epiphany/cookies.sqlite",
              }));
}

TEST_F(ProfileHome, AProfileIsPickedByNameOrFolderElseTheDefault) {
    const auto all = cookies::findProfiles(paths);
    EXPECT_EQ(cookies::pickProfile(all, "firefox")->name, "default-release");
    EXPECT_EQ(cookies::pickProfile(all, "firefox", "snappy")->packaging, "snap");
    EXPECT_EQ(cookies::pickProfile(all, "chrome", "Profile 10")->name, "Profile 10");
    // By the profile folder (the store sits in Network/ below it) or by the store itself.
    EXPECT_EQ(cookies::pickProfile(all, "chrome", (home / ".config/google-chrome/Profile 10").string())->name,
              "Profile 10");
    EXPECT_EQ(cookies::pickProfile(all, "chromium",
                                   (home / "snap/chromium/common/chromium/Default/Network/Cookies").string())
                  ->packaging,
              "snap");
    EXPECT_EQ(cookies::pickProfile(all, "firefox", (home / ".mozilla/firefox/abcd.default").string())->name,
              "default");
    EXPECT_FALSE(cookies::pickProfile(all, "chrome", "nope"));
    EXPECT_FALSE(cookies::pickProfile(all, "chrome", (home / ".config").string()));
    EXPECT_FALSE(cookies::pickProfile(all, "safari"));
    EXPECT_EQ(
        cookies::countCookies(cookies::pickProfile(all, "chromium", "Profile 1")->store, Layout::Chrome), 5u);
}

TEST(CookieProfiles, FirefoxIniFilesWithoutADefaultMarkTakeNoneAndKeepTheirOrder) {
    const auto entries = cookies::firefoxProfiles(
        "[Profile0]\nName=a\nPath=x.a\n[Profile1]\nName=b\nPath=/abs/y.b\nIsRelative=0\n", "", "/base");
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].folder, fs::path("/base/x.a"));
    EXPECT_EQ(entries[1].folder, fs::path("/abs/y.b"));
    EXPECT_FALSE(entries[0].isDefault || entries[1].isDefault);
    // installs.ini may name a profile that profiles.ini no longer lists.
    const auto extra = cookies::firefoxProfiles("", "[ABC]\nDefault=z.lost\n", "/base");
    ASSERT_EQ(extra.size(), 1u);
    EXPECT_EQ(extra[0].name, "z.lost");
    EXPECT_TRUE(extra[0].isDefault);
}

TEST_F(ProfileHome, TheCliListsAndScansProfiles) {
    const auto json = test::runCli(home, {"cookies", "profiles", "--json"});
    ASSERT_EQ(json.code, 0) << json.err;
    const auto list = nlohmann::json::parse(json.out);
    ASSERT_EQ(list.size(), 16u);
    EXPECT_EQ(list[1]["browser"], "firefox");
    EXPECT_EQ(list[1]["profile"], "default-release");
    EXPECT_EQ(list[1]["default"], true);
    EXPECT_EQ(list[1]["cookies"], 2);
    EXPECT_EQ(list[9]["packaging"], "snap");
    EXPECT_EQ(list[9]["cookies"], 4);

    const auto plain = test::runCli(home, {"cookies", "profiles"});
    EXPECT_NE(
        plain.out.find(
            "chromium (flatpak)\tProfile 1\t" +
            (home / ".var/app/org.chromium.Chromium/config/chromium/Profile 1/Network/Cookies").string() +
            "\t5\n"),
        std::string::npos)
        << plain.out;

    const auto scan = test::runCli(home, {"cookies", "scan", "firefox", "--profile", "snappy", "--json"});
    ASSERT_EQ(scan.code, 0) << scan.err;
    EXPECT_EQ(nlohmann::json::parse(scan.out).size(), 3u);
    const auto byPath = test::runCli(home, {"cookies", "scan", "chromium", "--profile",
                                            (home / "snap/chromium/common/chromium/Default").string()});
    EXPECT_EQ(byPath.code, 0) << byPath.err;
    EXPECT_NE(byPath.out.find("Website:.c3.com"), std::string::npos);
    EXPECT_EQ(test::runCli(home, {"cookies", "scan", "gnome-web"}).out.substr(0, 17), "Website:.f0.org  ");
    const auto missing = test::runCli(home, {"cookies", "scan", "brave", "--profile", "Work"});
    EXPECT_EQ(missing.code, 1);
    EXPECT_EQ(missing.err, "vaultry-cli: no Brave profile Work\n");
}

}  // namespace
}  // namespace vaultry
