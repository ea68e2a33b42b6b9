// The keyring path of Chromium's "v11" values, against a Secret Service mocked with
// python3-dbusmock on a private session bus.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "cookies/ChromiumCrypto.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;

// The service answers the plain session only (as a keyring may) and holds Chrome's item, found by
// its attribute, and Brave's, found only by its label.
constexpr const char* kTemplate = R"PY(
import dbus
BUS_NAME = 'org.freedesktop.secrets'
MAIN_OBJ = '/org/freedesktop/secrets'
MAIN_IFACE = 'org.freedesktop.Secret.Service'
SYSTEM_BUS = False
ITEM = 'org.freedesktop.Secret.Item'
CHROME = '/org/freedesktop/secrets/collection/login/1'
BRAVE = '/org/freedesktop/secrets/collection/login/2'

def load(mock, parameters):
    mock.AddMethods(MAIN_IFACE, [
        ('OpenSession', 'sv', 'vo',
         'if args[0] != "plain":\n'
         '    raise dbus.exceptions.DBusException("only plain", name="org.freedesktop.DBus.Error.NotSupported")\n'
         'ret = (dbus.String("", variant_level=1), dbus.ObjectPath("/org/freedesktop/secrets/session/1"))'),
        ('SearchItems', 'a{ss}', 'aoao',
         'a = dict(args[0])\n'
         'c = "/org/freedesktop/secrets/collection/login/1"\n'
         'found = [c] if a == {"application": "chrome"} else ([c, c[:-1] + "2"] if not a else [])\n'
         'ret = (dbus.Array(found, signature="o"), dbus.Array([], signature="o"))'),
        ('Unlock', 'ao', 'aoo', 'ret = (args[0], dbus.ObjectPath("/"))'),
        ('GetSecrets', 'aoo', 'a{o(oayays)}',
         'c = "/org/freedesktop/secrets/collection/login/"\n'
         'values = {c + "1": b"chrome-pass", c + "2": b"brave-pass"}\n'
         'ret = dbus.Dictionary({}, signature="o(oayays)")\n'
         'for p in args[0]:\n'
         '    if p in values:\n'
         '        ret[p] = (args[1], dbus.ByteArray(b""), dbus.ByteArray(values[p]), "text/plain")'),
    ])
    for path, label in ((CHROME, 'Chrome Safe Storage'), (BRAVE, 'Brave Safe Storage')):
        mock.AddObject(path, ITEM, {'Label': label, 'Locked': False, 'Attributes': dbus.Dictionary({}, signature='ss'),
                                    'Created': dbus.UInt64(0), 'Modified': dbus.UInt64(0)}, [
            ('GetSecret', 'o', '(oayays)',
             'ret = (args[0], dbus.ByteArray(b""), dbus.ByteArray(b"brave-pass" if "2" in self.__dbus_object_path__ '
             'else b"chrome-pass"), "text/plain")'),
        ])
    mock.AddProperties(MAIN_IFACE, {'Collections': dbus.Array([], signature='o')})
)PY";

// Starts a helper with its output in `log`.
pid_t spawn(std::vector<std::string> args, const std::vector<std::string>& env, const fs::path& log) {
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envCopy = env;
    for (auto& e : envCopy) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    return rc == 0 ? pid : -1;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

TEST(SecretService, TheBrowsersPassWordIsFoundByAttributeOrByLabel) {
    if (!fs::exists("/usr/bin/dbus-daemon") || !fs::exists("/usr/lib/python3/dist-packages/dbusmock"))
        GTEST_SKIP() << "needs dbus-daemon and python3-dbusmock (scripts/deps installs them)";
    test::TempDir dir;
    const fs::path socket = dir / "bus";
    const std::string address = "unix:path=" + socket.string();
    test::writeFile(dir / "secrets_template.py", kTemplate);
    const pid_t bus =
        spawn({"/usr/bin/dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address},
              {"PATH=/usr/bin:/bin"}, dir / "bus.log");
    ASSERT_GT(bus, 0);
    for (int i = 0; i < 200 && !fs::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const pid_t mock =
        spawn({"/usr/bin/python3", "-m", "dbusmock", "--template", (dir / "secrets_template.py").string()},
              {"PATH=/usr/bin:/bin", "DBUS_SESSION_BUS_ADDRESS=" + address, "HOME=" + dir.path().string()},
              dir / "mock.log");
    ASSERT_GT(mock, 0);
    ::setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);

    cookies::SecretServiceStorage keyring;
    std::optional<std::string> chrome;
    // The mock takes a moment to own its name; until then the service is simply not there.
    for (int i = 0; i < 200 && !chrome; ++i) {
        chrome = keyring.password("Chrome");
        if (!chrome) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(chrome, std::optional<std::string>("chrome-pass"));
    EXPECT_EQ(keyring.password("Brave"), std::optional<std::string>("brave-pass"));
    EXPECT_EQ(keyring.password("Vivaldi"), std::nullopt);

    // A v11 value opens with what the service holds.
    const auto blob = cookies::chromiumEncrypt("from-the-keyring", "v11", "chrome-pass", ".a.com", true);
    cookies::ChromiumDecryptor decryptor({[&] { return keyring.password("Chrome"); }});
    EXPECT_EQ(decryptor.decrypt(blob, ".a.com", true), std::optional<std::string>("from-the-keyring"));

    stop(mock);
    stop(bus);
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

}  // namespace
}  // namespace vaultry
