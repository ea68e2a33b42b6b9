#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "cookies/CookieStores.h"
#include "cookies/PRRtfController.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;

struct Run {
    int exit = -1;
    std::string out, err;
};

// Runs vaultry-cli as a user would, with HOME set to `home` and stdin from /dev/null.
Run cli(const fs::path& home, std::vector<std::string> args) {
    args.insert(args.begin(), VAULTRY_CLI_PATH);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::string homeVar = "HOME=" + home.string(), pathVar = "PATH=/usr/bin:/bin", tz = "TZ=UTC";
    char* envp[] = {homeVar.data(), pathVar.data(), tz.data(), nullptr};
    int outPipe[2], errPipe[2];
    if (::pipe(outPipe) != 0 || ::pipe(errPipe) != 0) return {};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, outPipe[0]);
    posix_spawn_file_actions_addclose(&actions, errPipe[0]);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp);
    posix_spawn_file_actions_destroy(&actions);
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    Run run;
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&run.out, &run.err};
    for (int open = 2; rc == 0 && open > 0;) {
        if (::poll(fds, 2, -1) < 0) break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !fds[i].revents) continue;
            char buf[4096];
            const ssize_t n = ::read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                sinks[i]->append(buf, static_cast<std::size_t>(n));
            } else {
                ::close(fds[i].fd);
                fds[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    if (rc == 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) run.exit = WEXITSTATUS(status);
    return run;
}

TEST(CookieCli, ReadPrintsTheExportFormatOrJson) {
    test::TempDir home;
    const fs::path file = home / "c.binarycookies";
    test::writeFile(
        file, test::binaryFile({test::binaryPage({test::binaryRecord({"a.com", "n", "/", "v", 1, 725760000}),
                                                  test::binaryRecord({"b.com", "m", "/x", "w", 0, 0})})}));
    const auto plain = cli(home.path(), {"cookies", "read", file.string()});
    EXPECT_EQ(plain.exit, 0) << plain.err;
    EXPECT_EQ(plain.out, cookies::exportText(cookies::readStore(file.string(), cookies::Layout::Binary)));
    EXPECT_EQ(plain.out.substr(0, 50), "Website:a.com  Name:n  Secure:YES  Path:/  Value:v");

    const auto json = cli(home.path(), {"cookies", "read", "--json", "--layout", "binary", file.string()});
    ASSERT_EQ(json.exit, 0) << json.err;
    const auto parsed = nlohmann::json::parse(json.out);
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[0]["secure"], true);
    EXPECT_EQ(parsed[0]["expires"], "01-01-2024 00:00");
    EXPECT_EQ(parsed[1]["secure"], false);
    EXPECT_TRUE(parsed[1]["expires"].is_null());
    EXPECT_EQ(parsed[1]["path"], "/x");

    test::writeFile(home / "notes.txt", "hello");
    const auto bad = cli(home.path(), {"cookies", "read", (home / "notes.txt").string()});
    EXPECT_EQ(bad.exit, 1);
    EXPECT_EQ(bad.err, "vaultry-cli: not a cookie store: " + (home / "notes.txt").string() + "\n");
    EXPECT_EQ(cli(home.path(), {"cookies", "read", "--layout", "nope", file.string()}).exit, 2);
}

TEST(CookieCli, ScanExportAndRemoveTheUsersChromeStore) {
    test::TempDir home;
    const fs::path store = home / ".config/google-chrome/Default/Network/Cookies";
    fs::create_directories(store.parent_path());
    test::makeChromeDb(store, true);
    test::sql(
        store,
        "INSERT INTO cookies VALUES(1,'.c.com','','sid','',x'0102030405','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    const std::string expected = "Website:.c.com  Name:sid  Secure:YES  Path:/  Value:<01020304 05>  \n\n";

    const auto scan = cli(home.path(), {"cookies", "scan", "chrome"});
    EXPECT_EQ(scan.exit, 0) << scan.err;
    EXPECT_EQ(scan.out, expected);

    const auto exported = cli(home.path(), {"cookies", "export", "chrome"});
    ASSERT_EQ(exported.exit, 0) << exported.err;
    const fs::path file = home / "Downloads/com.Quenmark.Crumbscope/cookiedata.txt";
    EXPECT_EQ(exported.out, file.string() + "\n");
    EXPECT_EQ(test::readFile(file), expected);

    EXPECT_EQ(cli(home.path(), {"cookies", "remove", "chrome"}).exit, 1);  // not confirmed
    EXPECT_EQ(cli(home.path(), {"cookies", "scan", "chrome"}).out, expected);
    const auto removed = cli(home.path(), {"cookies", "remove", "chrome", "--yes"});
    EXPECT_EQ(removed.exit, 0) << removed.err;
    EXPECT_EQ(cli(home.path(), {"cookies", "scan", "chrome"}).out, "");

    const auto noFirefox = cli(home.path(), {"cookies", "scan", "firefox"});
    EXPECT_EQ(noFirefox.exit, 1);
    EXPECT_EQ(noFirefox.err.rfind("vaultry-cli: ", 0), 0u);
}

}  // namespace
}  // namespace vaultry
