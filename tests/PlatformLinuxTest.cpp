#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <gtest/gtest.h>
#include <stdlib.h>
#include "platform/linux/SecretGuard.h"

#include "platform/linux/LinuxBookmarks.h"
#include "platform/linux/LinuxPaths.h"
#include "platform/linux/SecretGuard.h"
#include "support/FakePorts.h"

namespace vaultry::platform {
namespace {

// Sets environment variables for one test and puts the old values back.
class Env {
public:
    void set(const char* name, const char* value) {
        const char* old = std::getenv(name);
        saved_.emplace_back(name, old ? std::optional<std::string>(old) : std::nullopt);
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~Env() {
        for (auto it = saved_.rbegin(); it != saved_.rend(); ++it)
            if (it->second)
                ::setenv(it->first.c_str(), it->second->c_str(), 1);
            else
                ::unsetenv(it->first.c_str());
    }

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

TEST(LinuxPaths, FollowHomeXdgVariablesAndTheUserDirsFile) {
    test::TempDir home;
    Env env;
    env.set("HOME", home.path().c_str());
    for (const char* v :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_DESKTOP_DIR", "XDG_DOCUMENTS_DIR", "XDG_DOWNLOAD_DIR"})
        env.set(v, nullptr);
    LinuxPaths paths;
    EXPECT_EQ(paths.configHome(), home / ".config");
    EXPECT_EQ(paths.trash(), home.path() / ".local/share/Trash");
    EXPECT_EQ(paths.settingsFile(), home / ".config/com.Quenmark.vaultry.plist");
    EXPECT_EQ(paths.desktop(), home / "Desktop");

    test::writeFile(home / ".config/user-dirs.dirs",
                    "# written by xdg-user-dirs-update\n"
                    "XDG_DESKTOP_DIR=\"$HOME/Schreibtisch\"\n"
                    "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n"
                    "XDG_DOWNLOAD_DIR=\"$HOME/Downloads\n");  // unterminated: ignored
    EXPECT_EQ(paths.desktop(), home / "Schreibtisch");
    EXPECT_EQ(paths.documents(), "/srv/docs");
    EXPECT_EQ(paths.downloads(), home / "Downloads");

    env.set("XDG_DESKTOP_DIR", "/elsewhere/desk");
    env.set("XDG_CONFIG_HOME", "relative/ignored");
    env.set("XDG_DATA_HOME", "/data");
    EXPECT_EQ(paths.desktop(), "/elsewhere/desk");
    EXPECT_EQ(paths.configHome(), home / ".config");
    EXPECT_EQ(paths.trash(), "/data/Trash");
    EXPECT_FALSE(paths.userName().empty());
}

TEST(LinuxBookmarks, ResolveWhileTheSameObjectStaleOnceReplaced) {
    test::TempDir dir;
    LinuxBookmarks marks;
    std::filesystem::create_directories(dir / "chosen");
    auto data = marks.create((dir / "chosen").string());
    ASSERT_TRUE(data);
    auto r = marks.resolve(*data);
    ASSERT_TRUE(r);
    EXPECT_EQ(r->path, (dir / "chosen").string());
    EXPECT_FALSE(r->stale);
    EXPECT_TRUE(marks.startAccessing(r->path));

    std::filesystem::rename(dir / "chosen", dir / "moved");
    std::filesystem::create_directories(dir / "chosen");  // same name, another folder
    r = marks.resolve(*data);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->stale);
    std::filesystem::remove(dir / "chosen");
    EXPECT_TRUE(marks.resolve(*data)->stale);

    EXPECT_FALSE(marks.create((dir / "missing").string()));
    EXPECT_FALSE(marks.create("relative/path"));
    EXPECT_FALSE(marks.resolve({}));
    EXPECT_FALSE(marks.resolve({'V', 'B', 'M', '1'}));
    Bytes junk(40, 'x');
    EXPECT_FALSE(marks.resolve(junk));
}

}  // namespace
}  // namespace vaultry::platform

namespace vaultry {
namespace {

TEST(SecretGuard, TheProcessIsNotDumpableAndWritesNoCoreFile) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        const bool guarded = platform::guardSecrets();
        rlimit core{};
        ::getrlimit(RLIMIT_CORE, &core);
        _exit(guarded && ::prctl(PR_GET_DUMPABLE) == 0 && core.rlim_cur == 0 && core.rlim_max == 0 ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vaultry
