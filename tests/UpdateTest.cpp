// Version comparison, the version list, the update window's flow and `vaultry-cli update check`.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <plist/plist.h>
#include <sys/wait.h>

#include <cstdlib>

#include "app/PRUpdateController.h"
#include "platform/Version.h"
#include "platform/linux/LinuxHttp.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/TestHttpServer.h"
#include "update/VersionCheck.h"

namespace vaultry {
namespace {

using namespace std::chrono_literals;

std::string versionList(const std::string& version, const std::string& notes = "") {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict>"
           "<key>lastestVersion</key><string>" +
           version + "</string><key>WhatsNew</key><string>" + notes + "</string></dict></plist>\n";
}

platform::Http::Response ok(const std::string& body) { return {200, {body.begin(), body.end()}}; }

TEST(VersionCompare, ComparesEachDottedComponentAsANumber) {
    const std::tuple<const char*, const char*, int> cases[] = {
        {"3.0", "2.9.9", 1},   {"2.2", "2.1.9", 1},
        {"1.10", "1.9", 1},    {"2.0", "2.0.0", 0},
        {"2.1.3", "2.1.2", 1}, {"2.1.2", "2.1.3", -1},
        {"", "", 0},           {"", "0.0", 0},
        {"0.1", "", 1},        {"1.x", "1.0", 0},
        {"1.-2", "1", 0},      {"01.002", "1.2", 0},
        {" 2.4\n", "2.4", 0},  {"2..1", "2.0.1", 0},
        {"1.2b", "1.2", -1},   {"99999999999999999999999.1", "99999999999999999999998.9", 1},
    };
    for (const auto& [a, b, want] : cases) {
        EXPECT_EQ(compareVersions(a, b), want) << a << " vs " << b;
        EXPECT_EQ(compareVersions(b, a), -want) << b << " vs " << a;
        EXPECT_EQ(PRUpdateController::CompareOneString(a, b), want > 0) << a << " vs " << b;
    }
}

TEST(VersionList, ReadsOnlyAnXmlListThatNamesTheNewestVersion) {
    auto list = parseVersionList("\xEF\xBB\xBF  " + versionList("2.4.1", "One.*Two."));
    ASSERT_TRUE(list) << list.error().message;
    EXPECT_EQ(list->lastestVersion, "2.4.1");
    EXPECT_EQ(releaseNotesText(list->whatsNew), "One.\nTwo.");

    auto noNotes = parseVersionList(
        "<plist version=\"1.0\"><dict><key>lastestVersion</key><string>3</string></dict></plist>");
    ASSERT_TRUE(noNotes);
    EXPECT_EQ(noNotes->whatsNew, "");

    // A NUL byte inside a text ends it; it must not end the program.
    auto nul = parseVersionList(versionList("2.5", std::string("a\0b", 3)));
    ASSERT_TRUE(nul) << nul.error().message;
    EXPECT_EQ(nul->whatsNew, "a");

    // A binary list of the same content is not what the maker publishes.
    plist_t dict = plist_new_dict();
    plist_dict_set_item(dict, "lastestVersion", plist_new_string("9.9"));
    char* bin = nullptr;
    std::uint32_t binLen = 0;
    plist_to_bin(dict, &bin, &binLen);
    const std::string binary(bin, binLen);
    plist_to_bin_free(bin);
    plist_free(dict);

    for (const std::string& bad : {
             std::string(),
             std::string(" \n"),
             std::string("<html><body>Not Found</body></html>"),
             binary,
             std::string("{\"lastestVersion\": \"9.9\"}"),
             std::string("<plist><dict><key>WhatsNew</key><string>x</string></dict></plist>"),
             std::string("<plist><dict><key>lastestVersion</key><integer>9</integer></dict></plist>"),
             std::string("<plist><array><string>9.9</string></array></plist>"),
             versionList("9.9").substr(0, 60),
         })
        EXPECT_FALSE(parseVersionList(bad)) << bad;
}

TEST(Addresses, NoBuiltInAddressNamesAPlaceholderHost) {
    for (const char* address : {kDefaultVersionListUrl, kDefaultProductPageUrl, kDefaultHelpPageUrl})
        EXPECT_EQ(std::string(address).find(".example"), std::string::npos) << address;
}

TEST(Addresses, TheEnvironmentOverridesEachAndSetToNothingTurnsItOff) {
    {
        test::Env env("VAULTRY_UPDATE_URL", "http://updates.test/v.plist");
        EXPECT_EQ(versionListUrl(), "http://updates.test/v.plist");
        EXPECT_TRUE(updateCheckOffered());
    }
    {
        test::Env env("VAULTRY_UPDATE_URL", "");
        EXPECT_EQ(versionListUrl(), "");
        EXPECT_FALSE(updateCheckOffered());
    }
    test::Env product("VAULTRY_PRODUCT_URL", "https://get.test/");
    test::Env help("VAULTRY_HELP_URL", "https://help.test/");
    EXPECT_EQ(productPageUrl(), "https://get.test/");
    EXPECT_EQ(helpPageUrl(), "https://help.test/");
}

TEST(Addresses, AFileUrlEscapesEverythingButPlainNameCharacters) {
    EXPECT_EQ(fileUrl("/usr/share/doc/vaultry/README.md"), "file:///usr/share/doc/vaultry/README.md");
    EXPECT_EQ(fileUrl("/opt/x y/a#%\xC3\xA9?.md"), "file:///opt/x%20y/a%23%25%C3%A9%3F.md");
}

TEST(Addresses, HelpIsTheHelpPageElseTheInstalledReadme) {
    test::TempDir docs;
    {
        test::Env help("VAULTRY_HELP_URL", "https://help.test/");
        EXPECT_EQ(helpAddress(docs.path()), "https://help.test/");
    }
    test::Env help("VAULTRY_HELP_URL", "");
    EXPECT_EQ(helpAddress(docs.path()), std::nullopt);
    EXPECT_EQ(helpAddress({}), std::nullopt);
    test::writeFile(docs / "README", "plain");
    EXPECT_EQ(helpAddress(docs.path()), fileUrl(docs / "README"));
    test::writeFile(docs / "README.md", "# Vaultry");
    EXPECT_EQ(helpAddress(docs.path()), fileUrl(docs / "README.md"));
}

// The controller over fake ports, with the version list at a fixed address.
struct Checker {
    static constexpr const char* kUrl = "http://updates.test/v.plist";
    test::Env env{"VAULTRY_UPDATE_URL", kUrl};
    test::World w;
    std::unique_ptr<PRUpdateController> c = std::make_unique<PRUpdateController>(w.services());
    void serve(Result<platform::Http::Response> r) { w.http.responses.insert_or_assign(kUrl, std::move(r)); }
    void check(bool byUser) {
        c->hidUpdateWindow();
        if (byUser) c->checkUpdate = true;
        c->checkServerVersion();
        ASSERT_TRUE(w.mainThread.pumpUntil([&] { return !c->isChecking(); }));
    }
    bool shown(const char* window) {
        return std::count(w.ui.events.begin(), w.ui.events.end(), std::string("show:") + window) > 0;
    }
};

TEST(UpdateController, OffersANewerVersionWithItsNotes) {
    Checker k;
    k.serve(ok(versionList("99.0", "Faster.*Safer.")));
    k.check(false);
    EXPECT_EQ(k.c->currentVersion(), kVersion);
    EXPECT_EQ(k.c->lastestVersion(), "99.0");
    EXPECT_EQ(k.c->whatsnewString(), "Faster.*Safer.");
    EXPECT_EQ(k.w.ui.text("newversionlab"), "Vaultry 99.0 is available.");
    EXPECT_EQ(k.w.ui.text("currentversionlab"),
              std::string("You are using ") + kVersion + " version. Would you like to download it now?");
    EXPECT_EQ(k.w.ui.text("whatsnewContentView"), "Faster.\nSafer.");
    EXPECT_TRUE(k.shown("UpdateWindow"));
    EXPECT_FALSE(k.shown("noUpdateWindow"));

    test::Env product("VAULTRY_PRODUCT_URL", "https://vaultry.example/get");
    k.c->ClickGoDownloadAction();
    EXPECT_EQ(k.w.workspace.urls, std::vector<std::string>{"https://vaultry.example/get"});
    k.c->ClickNotNowAction();
    EXPECT_FALSE(k.w.ui.isVisible("UpdateWindow"));
}

TEST(UpdateController, UpToDateIsShownOnlyForTheUsersOwnCheck) {
    for (const std::string& version : {std::string(kVersion), std::string("0.9"), std::string("")}) {
        Checker automatic;
        automatic.serve(ok(versionList(version)));
        automatic.check(false);
        EXPECT_TRUE(automatic.w.ui.events == std::vector<std::string>{"hide:UpdateWindow"}) << version;

        Checker manual;
        manual.serve(ok(versionList(version)));
        manual.check(true);
        EXPECT_TRUE(manual.shown("noUpdateWindow")) << version;
        EXPECT_FALSE(manual.shown("UpdateWindow")) << version;
        manual.c->ClickOkAction();
        EXPECT_FALSE(manual.w.ui.isVisible("noUpdateWindow"));
    }
}

TEST(UpdateController, AFailedCheckTheUserAskedForSaysSoTheStartCheckOnlyLogs) {
    Checker k;
    k.serve(fail("Could not connect to server"));
    k.c.reset();
    AppDelegate app(k.w.services());
    app.applicationDidFinishLaunching();  // the automatic check
    ASSERT_TRUE(k.w.mainThread.pumpUntil([&] { return !app.updateWindowController().isChecking(); }));
    EXPECT_TRUE(k.w.ui.alerts.empty());
    app.CheckforUpdateAction();  // the menu's
    ASSERT_TRUE(k.w.mainThread.pumpUntil([&] { return !app.updateWindowController().isChecking(); }));
    ASSERT_EQ(k.w.ui.alerts.size(), 1u);
    EXPECT_EQ(k.w.ui.alerts[0].message, "Could not check for updates: Could not connect to server");
    EXPECT_FALSE(k.shown("noUpdateWindow"));
    EXPECT_FALSE(k.shown("UpdateWindow"));
}

TEST(UpdateController, AFailedCheckIsLoggedAndShowsNoWindowEvenWhenAskedFor) {
    const std::string html = "<html><body>Oops</body></html>";
    const Result<platform::Http::Response> failures[] = {
        fail("Could not connect to server"),
        platform::Http::Response{404, {html.begin(), html.end()}},
        ok(html),
        ok("<plist><dict><key>WhatsNew</key><string>x</string></dict></plist>"),
    };
    for (const auto& failure : failures) {
        Checker k;
        test::LogCapture log;
        k.serve(failure);
        k.check(true);
        EXPECT_EQ(k.w.ui.events.at(0), "hide:UpdateWindow");
        EXPECT_EQ(k.w.ui.events.size(), 1u + k.w.ui.alerts.size());
        const auto lines = log.lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("Connection failed! Error - ", 0), 0u) << lines[0];
        EXPECT_EQ(lines[0].substr(lines[0].size() - std::string(Checker::kUrl).size()), Checker::kUrl);
    }
}

TEST(UpdateController, StartUpChecksOnceAndTheCommandAsksAgain) {
    Checker k;
    k.serve(ok(versionList(kVersion)));
    k.c.reset();
    AppDelegate app(k.w.services());
    app.applicationDidFinishLaunching();
    // A second request while the first runs is answered by the running one.
    app.CheckforUpdateAction();
    ASSERT_TRUE(k.w.mainThread.pumpUntil([&] { return !app.updateWindowController().isChecking(); }));
    EXPECT_EQ(k.w.http.requested, std::vector<std::string>{Checker::kUrl});
    EXPECT_EQ(app.updateWindowController().currentVersion(), kVersion);
    EXPECT_TRUE(k.shown("noUpdateWindow"));

    app.CheckforUpdateAction();
    ASSERT_TRUE(k.w.mainThread.pumpUntil([&] { return !app.updateWindowController().isChecking(); }));
    EXPECT_EQ(k.w.http.requested.size(), 2u);
}

TEST(UpdateController, WithoutAVersionListNothingIsAskedAndTheCommandSaysThePackageManagerUpdates) {
    test::Env off("VAULTRY_UPDATE_URL", "");
    test::World w;
    test::LogCapture log;
    AppDelegate app(w.services());
    app.applicationDidFinishLaunching();  // the automatic check
    EXPECT_FALSE(app.updateWindowController().isChecking());
    w.mainThread.pump();
    EXPECT_TRUE(w.http.requested.empty());
    EXPECT_FALSE(log.contains("Connection failed!"));
    EXPECT_TRUE(w.ui.alerts.empty());

    app.CheckforUpdateAction();  // the menu's
    EXPECT_FALSE(app.updateWindowController().isChecking());
    EXPECT_TRUE(w.http.requested.empty());
    ASSERT_EQ(w.ui.alerts.size(), 1u);
    EXPECT_EQ(w.ui.alerts[0].message, "This build of Vaultry does not check for updates.");
    EXPECT_NE(w.ui.alerts[0].informative.find("package manager"), std::string::npos);
    EXPECT_EQ(std::count(w.ui.events.begin(), w.ui.events.end(), "show:noUpdateWindow"), 0);
    EXPECT_EQ(std::count(w.ui.events.begin(), w.ui.events.end(), "show:UpdateWindow"), 0);
}

TEST(UpdateController, DownloadWithoutADownloadPageOpensWhatHelpOpens) {
    Checker k;
    test::Env product("VAULTRY_PRODUCT_URL", "");
    {
        test::Env help("VAULTRY_HELP_URL", "https://help.test/");
        k.c->ClickGoDownloadAction();
        EXPECT_EQ(k.w.workspace.urls, std::vector<std::string>{"https://help.test/"});
    }
    test::Env help("VAULTRY_HELP_URL", "");
    const auto readme = k.w.paths.installedDocs() / "README.md";
    test::writeFile(readme, "# Vaultry\n");
    k.c->ClickGoDownloadAction();
    EXPECT_EQ(k.w.workspace.urls, (std::vector<std::string>{"https://help.test/", fileUrl(readme)}));
}

// The whole path over the network: the controller with the libcurl adapter against a local server.
TEST(UpdateController, AgainstARealServer) {
    test::TestHttpServer server({
        {"/newer", {200, versionList("99.1", "New.")}},
        {"/equal", {200, versionList(kVersion)}},
        {"/older", {200, versionList("1.0")}},
        {"/moved", {302, "moved", {"Location: /newer"}}},
        {"/garbage", {200, std::string("\0\xff garbage", 10)}},
        {"/slow", {200, "", {}, true, true}},
    });
    platform::LinuxHttp::Limits limits;
    limits.connectTimeout = 2s;
    limits.totalTimeout = 2s;
    platform::LinuxHttp http(limits);
    const std::tuple<const char*, const char*, bool> cases[] = {
        // path, window shown for the user's check, logged failure
        {"/newer", "UpdateWindow", false},
        {"/equal", "noUpdateWindow", false},
        {"/older", "noUpdateWindow", false},
        {"/moved", "UpdateWindow", false},
        {"/missing", nullptr, true},
        {"/garbage", nullptr, true},
        {"/slow", nullptr, true},
    };
    for (const auto& [path, window, failed] : cases) {
        test::World w;
        test::LogCapture log;
        test::Env env("VAULTRY_UPDATE_URL", server.url(path));
        auto s = w.services();
        PRUpdateController c(Services{s.ui, s.settings, s.nc, s.paths, s.clock, s.mainThread, s.bookmarks,
                                      s.workspace, s.hiddenFlag, s.thumbnailer, s.spawn, http, s.notifier,
                                      s.loginItems});
        c.hidUpdateWindow();
        c.checkUpdate = true;
        c.checkServerVersion();
        ASSERT_TRUE(w.mainThread.pumpUntil([&] { return !c.isChecking(); }, 20s)) << path;
        if (window) {
            EXPECT_TRUE(w.ui.isVisible(window)) << path;
        }
        EXPECT_EQ(w.ui.events.size(), window ? 2u : 1u) << path;
        EXPECT_EQ(log.contains("Connection failed! Error - "), failed) << path;
    }
    EXPECT_FALSE(std::filesystem::exists("/tmp/version.plist"));
}

// vaultry-cli with a temporary HOME of its own.
test::CliRun runCli(const std::vector<std::string>& args) {
    test::TempDir home;
    return test::runCli(home.path(), args);
}

TEST(UpdateCli, ChecksTheListItIsGiven) {
    test::TestHttpServer server({
        {"/newer", {200, versionList("99.2", "Line one.*Line two.")}},
        {"/equal", {200, versionList(kVersion)}},
        {"/html", {200, "<html></html>"}},
    });
    auto newer = runCli({"update", "check", "--url", server.url("/newer")});
    EXPECT_EQ(newer.code, 0) << newer.err;
    EXPECT_EQ(newer.out, "Vaultry 99.2 is available.\nLine one.\nLine two.\n");

    auto equal = runCli({"update", "check", "--url", server.url("/equal")});
    EXPECT_EQ(equal.code, 0) << equal.err;
    EXPECT_EQ(equal.out, "Vaultry is up to date.\n");

    for (const std::string& url :
         {server.url("/html"), server.url("/missing"), test::TestHttpServer::refusedUrl()}) {
        auto bad = runCli({"update", "check", "--url", url});
        EXPECT_EQ(bad.code, 1) << url;
        EXPECT_EQ(bad.out, "") << url;
        EXPECT_EQ(bad.err.rfind("vaultry-cli: cannot check for updates at " + url + ": ", 0), 0u) << bad.err;
    }
    EXPECT_EQ(runCli({"update"}).code, 2);
}

TEST(UpdateCli, ABuildWithoutAVersionListSaysThePackageManagerUpdatesIt) {
    for (const bool json : {false, true}) {
        test::TempDir home, io;
        test::writeFile(io / "in", "");
        std::vector<std::string> args{"update", "check"};
        if (json) args.emplace_back("--json");
        const pid_t pid = test::startCli(home.path(), args, io.path(), {"VAULTRY_UPDATE_URL="});
        ASSERT_GT(pid, 0);
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1) << json;
        EXPECT_EQ(test::readFile(io / "out"), "") << json;
        EXPECT_EQ(test::readFile(io / "err"),
                  "vaultry-cli: the update check is off in this build: the system's package manager (for "
                  "example apt) updates Vaultry\n")
            << json;
    }
}

TEST(UpdateCli, JsonSaysWhetherAnUpdateIsAvailableAndNotesAreEscaped) {
    test::TestHttpServer server({
        {"/newer", {200, versionList("99.2", "Line\x7f one.*Line two.")}},
        {"/equal", {200, versionList(kVersion)}},
    });
    auto newer = runCli({"update", "check", "--json", "--url", server.url("/newer")});
    EXPECT_EQ(newer.code, 0) << newer.err;
    EXPECT_NE(newer.out.find("\"updateAvailable\": true"), std::string::npos) << newer.out;
    EXPECT_NE(newer.out.find("\"latest\": \"99.2\""), std::string::npos) << newer.out;
    auto equal = runCli({"update", "check", "--json", "--url", server.url("/equal")});
    EXPECT_EQ(equal.code, 0) << equal.err;
    EXPECT_NE(equal.out.find("\"updateAvailable\": false"), std::string::npos) << equal.out;

    // Release notes come from outside: a control character reaches the terminal escaped.
    newer = runCli({"update", "check", "--url", server.url("/newer")});
    EXPECT_EQ(newer.out, "Vaultry 99.2 is available.\nLine\\x7f one.\nLine two.\n");
}

}  // namespace
}  // namespace vaultry
