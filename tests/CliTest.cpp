// vaultry-cli as a whole, run as a user runs it: exit codes, questions and pass phrases on a
// terminal, the password sources, --json, --dry-run, -q, escaping and shell completion.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <nlohmann/json.hpp>

#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "support/CliRun.h"
#include "support/CliTerminal.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"
#include "vault/PasswordVerifier.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using test::readFile;
using test::writeFile;

// A home with a vault (password "pw", one encrypted and one decrypted file), a desktop with an
// item, a tidy folder, a Trash with an item and a Chrome cookie store.
struct Home : test::CliHome {
    fs::path docs = home / "docs";
    fs::path storage = home / "safe/vaultry.data";
    fs::path trashed = home / ".local/share/Trash/files/old.txt";
    fs::path cookies = home / ".config/google-chrome/Default/Network/Cookies";
    std::string locked, unlocked;

    Home() {
        fs::create_directories(home / "safe");
        writeFile(docs / "a.txt", "a");
        writeFile(docs / "b.txt", "b");
        writeFile(home / "Desktop/note.txt", "n");
        writeFile(trashed, "t");
        writeFile(home / ".local/share/Trash/info/old.txt.trashinfo", "[Trash Info]\nPath=/x/old.txt\n");
        fs::create_directories(cookies.parent_path());
        test::makeChromeDb(cookies, true);
        test::sql(cookies,
                  "INSERT INTO cookies VALUES(1,'.c.com','','sid','v','','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
        EXPECT_EQ(run({"vault", "storage", "set", (home / "safe").string()}).code, 0);
        test::chooseTidyLocation(home.path(), home / "tidied");
        EXPECT_EQ(run({"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n").code, 0);
        locked = (docs / "a.txt.enc").string();
        unlocked = (docs / "b.txt.enc").string();
        const auto r = run({"vault", "encrypt", "-y", "--password-stdin", (docs / "a.txt").string(),
                            (docs / "b.txt").string()},
                           "pw\n");
        EXPECT_EQ(r.code, 0) << r.err;
        EXPECT_EQ(run({"vault", "decrypt", "--password-stdin", unlocked}, "pw\n").code, 0);
    }
};

struct Case {
    std::vector<std::string> args;
    std::string input;
    int code;
};

TEST(CliExitCodes, TheSameInEveryGroup) {
    Home h;
    const std::string missing = (h.home / "missing").string();
    const std::vector<Case> cases = {
        // kind, size
        {{"kind", "a.jpg"}, "", 0},
        {{"kind"}, "", 2},
        {{"size", "12"}, "", 0},
        {{"size", "twelve"}, "", 2},
        // settings
        {{"settings", "list"}, "", 0},
        {{"settings", "get", "NoSuchKey"}, "", 1},
        {{"settings", "put"}, "", 2},
        // update
        {{"update", "check", "--url", "http://127.0.0.1:1/list"}, "", 1},
        {{"update", "check", "--nope"}, "", 2},
        // tidy: a question with no terminal and no --yes is a usage error
        {{"tidy", "run"}, "", 2},
        {{"tidy", "run", "--dry-run"}, "", 0},
        {{"tidy", "delete", "nothing-here", "-y"}, "", 1},
        {{"tidy", "restore", "../x"}, "", 2},
        // trash
        {{"trash", "size"}, "", 0},
        {{"trash", "empty"}, "", 2},
        {{"trash", "check"}, "", 0},  // the rules kept in the settings: none
        {{"trash", "check", "--every", "Weekly"}, "", 2},
        // erase
        {{"erase", missing, "-y"}, "", 1},
        {{"erase", (h.home / "Desktop/note.txt").string()}, "", 2},
        // cookies
        {{"cookies", "read", missing}, "", 1},
        {{"cookies", "remove", "chrome"}, "", 2},
        {{"cookies", "scan", "netscape"}, "", 2},
        {{"cookies", "scan", "opera"}, "", 1},  // a known browser without a profile here
        // login-item
        {{"login-item", "status"}, "", 0},
        {{"login-item", "maybe"}, "", 2},
        // completion
        {{"completion", "bash"}, "", 0},
        {{"completion", "tcsh"}, "", 2},
        // vault: 4 for a wrong password, 2 for no password to read
        {{"vault", "list"}, "", 0},
        {{"vault", "decrypt", "--password-stdin", h.locked}, "nope\n", 4},
        {{"vault", "decrypt", "--password-stdin", h.locked}, "", 2},
        {{"vault", "decrypt", h.locked}, "", 2},
        {{"vault", "password", "set", "--change", "--password-stdin"}, "nope\nnew\n", 4},
        {{"vault", "remove", "-y", "--password-stdin", h.locked}, "nope\n", 4},
        {{"vault", "encrypt", "--password-stdin", (h.home / "Desktop/note.txt").string()}, "pw\n", 2},
        {{"vault", "lock", "--all"}, "", 2},
        {{"vault", "lock", h.locked, "-y"}, "", 1},
        {{"vault", "decrypt", "--password-stdin", "--password-file", missing, h.locked}, "pw\n", 2},
        {{"vault", "decrypt", "--password-file", missing, h.locked}, "", 2},
        {{"vault"}, "", 2},
    };
    for (const auto& c : cases) {
        const auto r = h.run(c.args, c.input);
        std::string line;
        for (const auto& a : c.args) line += a + ' ';
        EXPECT_EQ(r.code, c.code) << line << "\n" << r.err;
        if (r.code != 0) {
            EXPECT_EQ(r.err.rfind("vaultry-cli: ", 0), 0u) << line << "\n" << r.err;
        }
    }
    // None of the refused commands changed anything.
    EXPECT_TRUE(fs::exists(h.trashed));
    EXPECT_TRUE(fs::exists(h.home / "Desktop/note.txt"));
    EXPECT_TRUE(fs::exists(h.storage / "a.txt.enc"));
    EXPECT_TRUE(fs::exists(h.docs / "b.txt"));
}

// ---- on a terminal ------------------------------------------------------------------------------

struct Asked {
    std::vector<std::string> args;
    bool password;  // the pass phrase is asked for first
};

TEST(CliOnTerminal, ANoIsDeclinedInEveryGroupAndChangesNothing) {
    Home h;
    const std::vector<Asked> cases = {
        {{"tidy", "run"}, false},
        {{"trash", "empty"}, false},
        {{"erase", (h.home / "Desktop/note.txt").string()}, false},
        {{"cookies", "remove", "chrome"}, false},
        {{"vault", "encrypt", (h.home / "Desktop/note.txt").string()}, true},
        {{"vault", "lock", "--all"}, false},
        {{"vault", "remove", h.unlocked}, false},
    };
    const std::string cookiesBefore = h.run({"cookies", "scan", "chrome"}).out;
    for (const auto& c : cases) {
        test::CliOnTerminal t(h.home.path(), c.args);
        if (c.password) {
            ASSERT_TRUE(t.waitFor("Vault password: ")) << c.args[0] << t.screen;
            t.type("pw\n");
        }
        ASSERT_TRUE(t.waitFor("[y/N] ")) << c.args[0] << ' ' << c.args[1] << t.screen;
        t.type("n\n");
        EXPECT_EQ(t.wait(), 3) << c.args[0] << ' ' << c.args[1] << t.err();
        EXPECT_EQ(t.err(), "vaultry-cli: declined; nothing changed\n");
    }
    EXPECT_TRUE(fs::exists(h.home / "Desktop/note.txt"));
    EXPECT_TRUE(fs::exists(h.trashed));
    EXPECT_EQ(h.run({"cookies", "scan", "chrome"}).out, cookiesBefore);
    EXPECT_TRUE(fs::exists(h.docs / "b.txt"));

    test::CliOnTerminal yes(h.home.path(), {"trash", "empty"});
    ASSERT_TRUE(yes.waitFor("[y/N] "));
    yes.type("y\n");
    EXPECT_EQ(yes.wait(), 0) << yes.err();
    EXPECT_FALSE(fs::exists(h.trashed));
}

TEST(CliOnTerminal, ThePassPhraseIsTypedWithoutEchoAndAWrongOneIsFour) {
    Home h;
    {
        test::CliOnTerminal t(h.home.path(), {"vault", "decrypt", h.locked});
        ASSERT_TRUE(t.waitFor("Vault password: ")) << t.screen;
        EXPECT_FALSE(t.echoes());
        t.type("secret-typed\n");
        EXPECT_EQ(t.wait(), 4) << t.err();
        EXPECT_TRUE(t.echoes());
        EXPECT_EQ(t.screen.find("secret-typed"), std::string::npos);
    }
    test::CliOnTerminal t(h.home.path(), {"vault", "decrypt", h.locked});
    ASSERT_TRUE(t.waitFor("Vault password: "));
    t.type("pw\n");
    EXPECT_EQ(t.wait(), 0) << t.err();
    EXPECT_EQ(readFile(h.docs / "a.txt"), "a");

    // A new password is typed twice; a weak one is questioned before it is typed again.
    test::CliOnTerminal change(h.home.path(), {"vault", "password", "set", "--change"});
    const std::vector<std::pair<std::string, std::string>> dialogue = {
        {"Vault password: ", "pw\n"},
        {"New vault password: ", "two\n"},
        {"Use it anyway? [y/N] ", "y\n"},
        {"Repeat the new password: ", "two\n"}};
    for (const auto& [asked, typed] : dialogue) {
        ASSERT_TRUE(change.waitFor(asked)) << change.screen;
        change.type(typed);
    }
    EXPECT_EQ(change.wait(), 0) << change.err();
    writeFile(h.docs / "a.txt", "edited");  // locking an edited copy needs the new password
    EXPECT_EQ(h.run({"vault", "lock", "-y", "--password-stdin", h.locked}, "pw\n").code, 4);
    EXPECT_EQ(h.run({"vault", "lock", "-y", "--password-stdin", h.locked}, "two\n").code, 0);
}

TEST(CliOnTerminal, EchoComesBackWhenThePromptIsEndedByCtrlCOrSigterm) {
    Home h;
    {
        test::CliOnTerminal t(h.home.path(), {"vault", "decrypt", h.locked});
        ASSERT_TRUE(t.waitFor("Vault password: "));
        EXPECT_FALSE(t.echoes());
        t.type("half");
        t.type("\x03");  // Ctrl-C
        EXPECT_EQ(t.wait(), 128 + SIGINT);
        EXPECT_TRUE(t.echoes());
    }
    test::CliOnTerminal t(h.home.path(), {"vault", "password", "set", "--change"});
    ASSERT_TRUE(t.waitFor("Vault password: "));
    EXPECT_FALSE(t.echoes());
    t.signal(SIGTERM);
    EXPECT_EQ(t.wait(), 128 + SIGTERM);
    EXPECT_TRUE(t.echoes());
}

// ---- a weak new password ----------------------------------------------------------------------

bool storedPasswordIs(const test::CliHome& c, const std::string& pass) {
    SettingsStore settings(c.home / ".config/com.Quenmark.vaultry.plist");
    const auto stored = settings.string(prefkey::PasswordVerifier);
    return stored && password::matches(*stored, pass);
}

TEST(CliWeakPassword, IsToldAndWithoutATerminalDeclinedUnlessYesKeepsIt) {
    const std::string verdict =
        "vaultry-cli: Very weak: guessed in less than a second at 10\u2074 guesses/s\n";
    const std::string declined =
        "vaultry-cli: the new password is weak; nothing changed (--yes uses it anyway)\n";
    test::CliHome fresh;
    auto r = fresh.run({"vault", "password", "set", "--password-stdin"}, "password\n");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, verdict + declined);
    EXPECT_FALSE(storedPasswordIs(fresh, "password"));
    // A strong one is taken without a word.
    r = fresh.run({"vault", "password", "set", "--password-stdin"}, "correct horse battery staple\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_TRUE(storedPasswordIs(fresh, "correct horse battery staple"));

    // A change to a weak password leaves the archives and the stored password as they were.
    Home h;
    r = h.run({"vault", "password", "set", "--change", "--password-stdin"}, "pw\nblue kettle\n");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.err, "vaultry-cli: Weak: guessed in about 11 hours at 10\u2074 guesses/s\n" + declined);
    EXPECT_TRUE(storedPasswordIs(h, "pw"));
    EXPECT_EQ(h.run({"vault", "verify", "--password-stdin"}, "pw\n").code, 0);
    // --yes keeps it, still told.
    r = h.run({"vault", "password", "set", "--change", "--yes", "--password-stdin"}, "pw\npassword\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.err, verdict);
    EXPECT_TRUE(storedPasswordIs(h, "password"));
    EXPECT_EQ(h.run({"vault", "verify", "--password-stdin"}, "password\n").code, 0);
}

TEST(CliWeakPassword, AtTheTerminalANoKeepsTheOldPassword) {
    Home h;
    test::CliOnTerminal t(h.home.path(), {"vault", "password", "set", "--change"});
    ASSERT_TRUE(t.waitFor("Vault password: ")) << t.screen;
    t.type("pw\n");
    ASSERT_TRUE(t.waitFor("New vault password: ")) << t.screen;
    t.type("password\n");
    ASSERT_TRUE(t.waitFor("Use it anyway? [y/N] ")) << t.screen;
    t.type("\n");  // no answer is no
    EXPECT_EQ(t.wait(), 3) << t.err();
    EXPECT_EQ(t.screen.find("Repeat"), std::string::npos);
    EXPECT_NE(t.err().find("Very weak: guessed in less than a second"), std::string::npos) << t.err();
    EXPECT_TRUE(storedPasswordIs(h, "pw"));
}

// ---- pass phrase sources ----------------------------------------------------------------------

TEST(CliPassword, FromADescriptorOrAFileOneLineEach) {
    Home h;
    auto r = test::runCliWithFd3(h.home.path(), {"vault", "decrypt", "--password-fd", "3", h.locked}, "pw\n");
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(readFile(h.docs / "a.txt"), "a");
    // A change reads the current and the new password as two lines.
    r = test::runCliWithFd3(
        h.home.path(), {"vault", "password", "set", "--yes", "--change", "--password-fd", "3"}, "pw\nfd\n");
    EXPECT_EQ(r.code, 0) << r.err;

    writeFile(h.home / "pass", "fd\nfile\n");
    r = h.run(
        {"vault", "password", "set", "--yes", "--change", "--password-file", (h.home / "pass").string()});
    EXPECT_EQ(r.code, 0) << r.err;
    writeFile(h.home / "pass", "file\n");
    r = h.run({"vault", "lock", "-y", "--password-file", (h.home / "pass").string(), "--all"});
    EXPECT_EQ(r.code, 0) << r.err;
    writeFile(h.home / "pass", "fd");  // no line break at the end
    r = h.run({"vault", "remove", "-y", "--password-file", (h.home / "pass").string(), h.locked});
    EXPECT_EQ(r.code, 4) << r.err;
    // A descriptor that is not open gives nothing to read.
    EXPECT_EQ(h.run({"vault", "decrypt", "--password-fd", "9", h.locked}).code, 2);
}

// ---- --json, --dry-run, -q and escaping ---------------------------------------------------------

TEST(CliJson, EveryCommandThatPrintsGivesOneDocument) {
    Home h;
    writeFile(h.home / "Desktop/z.txt", "z");
    // A name that is not UTF-8 cannot be JSON text as it is: its bad bytes become U+FFFD.
    writeFile(h.docs / "bad\xff.txt", "x");
    EXPECT_EQ(h.run({"vault", "hide", (h.docs / "bad\xff.txt").string()}).code, 0);
    const std::vector<std::vector<std::string>> commands = {
        {"vault", "list", "--json"},
        {"tidy", "run", "-y", "--json"},
        {"tidy", "list", "--json"},
        {"tidy", "search", "z", "--json"},
        {"trash", "size", "--json"},
        {"trash", "check", "--every", "Daily", "--dry-run", "--json"},
        {"trash", "empty", "-y", "--json"},
        {"cookies", "scan", "chrome", "--json"},
        {"cookies", "read", h.cookies.string(), "--json"},
        {"settings", "list", "--json"},
        {"kind", "a.jpg", "b", "--json"},
        {"size", "1", "2", "--json"},
        {"login-item", "status", "--json"},
        {"erase", "-y", "--json", (h.home / "Desktop/missing").string()},
    };
    for (const auto& args : commands) {
        const auto r = h.run(args);
        EXPECT_TRUE(nlohmann::json::accept(r.out)) << args[0] << ' ' << args[1] << ":\n" << r.out << r.err;
    }
    auto r = h.run({"tidy", "list", "--json"});
    const auto tidied = nlohmann::json::parse(r.out);
    ASSERT_EQ(tidied.size(), 2u);
    r = h.run({"trash", "size", "--json"});
    EXPECT_TRUE(nlohmann::json::parse(r.out)["bytes"].is_number());
    r = h.run({"kind", "--json", "a.jpg"});
    EXPECT_EQ(nlohmann::json::parse(r.out)[0]["kind"], "Pictures");
}

TEST(CliDryRun, SaysWhatWouldHappenAndChangesNothing) {
    Home h;
    const std::string cookiesBefore = h.run({"cookies", "scan", "chrome"}).out;
    auto r = h.run({"tidy", "run", "--dry-run"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "would move note.txt\n1 item would move into " +
                         (h.home / "tidied/com.Quenmark.sortello").string() + "\n");
    EXPECT_TRUE(fs::exists(h.home / "Desktop/note.txt"));

    r = h.run({"trash", "empty", "--dry-run"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.out.find("would remove old.txt\n"), std::string::npos) << r.out;
    EXPECT_TRUE(fs::exists(h.trashed));
    EXPECT_FALSE(
        SettingsStore(h.home / ".config/com.Quenmark.vaultry.plist").contains(prefkey::LastCleanDate));

    r = h.run({"erase", "--dry-run", (h.home / "Desktop/note.txt").string()});
    EXPECT_EQ(r.out, "would erase " + (h.home / "Desktop/note.txt").string() + "\n");
    EXPECT_TRUE(fs::exists(h.home / "Desktop/note.txt"));

    r = h.run({"cookies", "remove", "--dry-run", "chrome"});
    EXPECT_EQ(r.out, "would remove 1 cookie of " + h.cookies.string() + "\n");
    EXPECT_EQ(h.run({"cookies", "scan", "chrome"}).out, cookiesBefore);

    r = h.run({"vault", "lock", "--all", "--dry-run"});
    EXPECT_EQ(r.out, "would lock\t" + h.unlocked + "\n");
    EXPECT_TRUE(fs::exists(h.docs / "b.txt"));
    EXPECT_NE(h.run({"vault", "list"}).out.find("unlocked"), std::string::npos);
}

TEST(CliOutput, QuietLeavesOnlyDataAndOutsideTextIsEscaped) {
    Home h;
    auto r = h.run({"-q", "tidy", "run", "-y"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    r = h.run({"trash", "empty", "-y", "--quiet"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(h.run({"-q", "size", "1048576"}).out, "1.05MB\n");

    // A name that would colour the terminal and start a new line.
    const std::string evil = "a\x1b[31mred\nline.txt";
    r = h.run({"kind", evil});
    EXPECT_EQ(r.out, "Documents\ta\\x1b[31mred\\nline.txt\n");
    r = h.run({"kind", "--json", evil});
    EXPECT_EQ(nlohmann::json::parse(r.out)[0]["path"], evil);
    test::sql(h.cookies, "UPDATE cookies SET value = 'x' || char(27) || ']0;title' || char(7);");
    r = h.run({"cookies", "scan", "chrome"});
    EXPECT_NE(r.out.find("Value:x\\x1b]0;title\\x07  "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

// ---- completion -------------------------------------------------------------------------------

// What bash offers for the words typed so far, with the script `vaultry-cli completion bash` prints.
std::string bashCompletes(const std::string& script, const std::string& words) {
    test::TempDir io;
    writeFile(io / "completion.bash", script);
    const std::string program = "source " + (io / "completion.bash").string() + "; COMP_WORDS=(" + words +
                                "); COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); _vaultry_cli; "
                                "printf '%s\\n' \"${COMPREPLY[@]}\" > " +
                                (io / "out").string();
    if (test::runProgram({"/bin/bash", "--norc", "--noprofile", "-c", program}) < 0) return "(no bash)";
    return readFile(io / "out");
}

TEST(CliCompletion, BashCompletesCommandsAndOptions) {
    if (!fs::exists("/bin/bash")) GTEST_SKIP() << "bash is not installed";
    test::TempDir home;
    const auto r = test::runCli(home.path(), {"completion", "bash"});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(bashCompletes(r.out, "vaultry-cli va"), "vault\n");
    EXPECT_EQ(bashCompletes(r.out, "vaultry-cli t"), "tidy\ntrash\n");
    EXPECT_EQ(bashCompletes(r.out, "vaultry-cli -q vault lo"), "lock\n");
    EXPECT_EQ(bashCompletes(r.out, "vaultry-cli trash empty --d"), "--dry-run\n");
    EXPECT_EQ(bashCompletes(r.out, "vaultry-cli vault encrypt --password-f"),
              "--password-fd\n--password-file\n");
    for (const std::string shell : {"zsh", "fish"}) {
        const auto script = test::runCli(home.path(), {"completion", shell});
        EXPECT_EQ(script.code, 0) << shell;
        EXPECT_NE(script.out.find("vault"), std::string::npos) << shell;
    }
}

// ---- -y on every command that changes something -------------------------------------------------

// Scripts pass -y/--yes to whatever changes something, whether or not the command asks first:
// none of these is a usage error (2) because of it.
TEST(CliYes, EveryCommandThatChangesSomethingTakesIt) {
    test::CliHome h;
    const fs::path home = h.home.path();
    fs::create_directories(home / "safe");
    fs::create_directories(home / "tidied");
    fs::create_directories(home / "Desktop");
    const std::string missing = (home / "missing").string();
    const std::string missingRecord = (home / "missing.enc").string();
    struct Run {
        std::vector<std::string> args;
        std::string input;
    };
    const std::vector<Run> runs = {
        // vault
        {{"vault", "storage", "set", "-y", (home / "safe").string()}, ""},
        {{"vault", "password", "set", "--yes", "--password-stdin"}, "pw\n"},
        {{"vault", "hide", "-y", missing}, ""},
        {{"vault", "unhide", "--yes", missing}, ""},
        {{"vault", "encrypt", "-y", "--password-stdin", missing}, "pw\n"},
        {{"vault", "decrypt", "-y", "--password-stdin", missingRecord}, "pw\n"},
        {{"vault", "lock", "-y", missingRecord}, ""},
        {{"vault", "remove", "--yes", "--password-stdin", missingRecord}, "pw\n"},
        {{"vault", "verify", "-y", "--password-stdin"}, "pw\n"},
        // trash, erase, login-item
        {{"trash", "empty", "-y", "--dry-run"}, ""},
        {{"trash", "check", "--yes", "--dry-run"}, ""},
        {{"trash", "timer", "-y", "status"}, ""},
        {{"erase", "-y", missing}, ""},
        {{"login-item", "--yes", "status"}, ""},
        // tidy
        {{"tidy", "location", "-y", (home / "tidied").string()}, ""},
        {{"tidy", "run", "-y", "--dry-run"}, ""},
        {{"tidy", "undo", "--yes"}, ""},
        {{"tidy", "exclude", "add", "-y", "*.x"}, ""},
        {{"tidy", "exclude", "remove", "--yes", "*.x"}, ""},
        {{"tidy", "restore", "-y", "nothing"}, ""},
        {{"tidy", "delete", "--yes", "nothing"}, ""},
        // cookies
        {{"cookies", "export", "-y", missing}, ""},
        {{"cookies", "remove", "--yes", "--dry-run", missing}, ""},
        {{"cookies", "keep", "add", "-y", "example.com"}, ""},
        {{"cookies", "keep", "remove", "--yes", "example.com"}, ""},
    };
    for (const auto& c : runs) {
        const auto r = h.run(c.args, c.input);
        std::string line;
        for (const auto& a : c.args) line += a + ' ';
        EXPECT_NE(r.code, 2) << line << "\n" << r.err;
        EXPECT_GE(r.code, 0) << line << "\n" << r.err;
        EXPECT_EQ(r.err.find("not expected"), std::string::npos) << line << "\n" << r.err;
    }
}

}  // namespace
}  // namespace vaultry
