#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "cookies/BrowserLock.h"
#include "cookies/CookieStores.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;

// Another process holding a write lock on a file, as a running Firefox holds `.parentlock`.
class LockHolder {
public:
    explicit LockHolder(const fs::path& file) {
        int ready[2], release[2];
        if (::pipe(ready) != 0 || ::pipe(release) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(release[1]);  // or the read below never sees the end
            const int fd = ::open(file.c_str(), O_RDWR);
            struct flock fl {};
            fl.l_type = F_WRLCK;
            fl.l_whence = SEEK_SET;
            const char ok = fd >= 0 && ::fcntl(fd, F_SETLK, &fl) == 0 ? 'y' : 'n';
            (void)::write(ready[1], &ok, 1);
            char c;
            (void)::read(release[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(release[0]);
        release_ = release[1];
        char ok = 'n';
        (void)::read(ready[0], &ok, 1);
        ::close(ready[0]);
        locked_ = ok == 'y';
    }
    ~LockHolder() {
        ::close(release_);
        if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
    }
    bool locked() const { return locked_; }

private:
    pid_t pid_ = -1;
    int release_ = -1;
    bool locked_ = false;
};

void relink(const fs::path& link, const std::string& target) {
    fs::remove(link);
    fs::create_symlink(target, link);
}

// What Firefox ESR leaves in its profile: `.parentlock` and the link "127.0.0.1:+<pid>", which a
// kill leaves behind. Only the lock, or a link without "+" naming a live process, means running.
TEST(BrowserLock, FirefoxRunsWhileItsProfileLockIsHeld) {
    test::TempDir dir;
    const fs::path profile = dir / "abcd.default-esr";
    fs::create_directories(profile);
    const fs::path store = profile / "cookies.sqlite";
    test::makeFirefoxDb(store, true);
    test::writeFile(profile / ".parentlock", "");
    relink(profile / "lock", "127.0.0.1:+" + std::to_string(test::endedPid()));
    EXPECT_FALSE(cookies::browserRunning(store.string()));
    EXPECT_TRUE(cookies::removeStore(store.string(), cookies::Layout::Firefox).ok());

    {
        LockHolder firefox(profile / ".parentlock");
        ASSERT_TRUE(firefox.locked());
        EXPECT_TRUE(cookies::browserRunning(store.string()));
        EXPECT_FALSE(cookies::removeStore(store.string(), cookies::Layout::Firefox).ok());
    }
    EXPECT_FALSE(cookies::browserRunning(store.string()));

    // A link without "+" is all there is: the process it names decides.
    relink(profile / "lock", "127.0.0.1:" + std::to_string(::getpid()));
    EXPECT_TRUE(cookies::browserRunning(store.string()));
    relink(profile / "lock", "127.0.0.1:" + std::to_string(test::endedPid()));
    EXPECT_FALSE(cookies::browserRunning(store.string()));
    relink(profile / "lock", "not a lock");
    EXPECT_TRUE(cookies::browserRunning(store.string()));
}

// What Chromium leaves in its user-data folder: SingletonLock -> "<host>-<pid>", kept after a kill
// and after SIGTERM. A live process on this host, or any other host, means running.
TEST(BrowserLock, ChromiumRunsWhileItsSingletonNamesALiveProcessOrAnotherHost) {
    test::TempDir dir;
    const fs::path userData = dir / "chromium";
    fs::create_directories(userData / "Default/Network");
    const fs::path store = userData / "Default/Network/Cookies";
    test::makeChromeDb(store, true);
    const fs::path link = userData / "SingletonLock";

    relink(link, test::hostName() + "-" + std::to_string(test::endedPid()));
    EXPECT_FALSE(cookies::browserRunning(store.string()));
    EXPECT_TRUE(cookies::removeStore(store.string(), cookies::Layout::Chrome).ok());
    relink(link, test::hostName() + "-" + std::to_string(::getpid()));
    EXPECT_TRUE(cookies::browserRunning(store.string()));
    EXPECT_FALSE(cookies::removeStore(store.string(), cookies::Layout::Chrome).ok());
    relink(link, "another-computer-" + std::to_string(test::endedPid()));
    EXPECT_TRUE(cookies::browserRunning(store.string()));
    relink(link, test::hostName() + "-");
    EXPECT_TRUE(cookies::browserRunning(store.string()));
    fs::remove(link);
    EXPECT_FALSE(cookies::browserRunning(store.string()));
}

}  // namespace
}  // namespace vaultry
