#include "settings/SettingsStore.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "support/FakePorts.h"

namespace vaultry {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// The file keeps dates to the second, as XML property lists do.
Date someDate() { return std::chrono::system_clock::from_time_t(1'765'000'123); }

TEST(SettingsStore, EveryTypeRoundTripsThroughTheFile) {
    TempDir dir;
    const auto file = dir / "com.Quenmark.vaultry.plist";
    Dictionary nested{{"inner", Value("x")}, {"n", Value(std::uint64_t{7})}};
    {
        SettingsStore store(file);
        store.set("s", "tëxt <&> \"quoted\"");
        store.set("empty", "");
        store.set("n", std::uint64_t{18446744073709551615ULL});
        store.set("d", someDate());
        store.set("b", Bytes{0, 1, 2, 255});
        store.set("a", StringArray{"/a/b.enc", "", "/c d/e.tar.gz"});
        store.set("dict", nested);
        EXPECT_EQ(store.string("s"), "tëxt <&> \"quoted\"");  // visible before any flush
        ASSERT_TRUE(store.flush());
    }
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    SettingsStore again(file);
    EXPECT_EQ(again.string("s"), "tëxt <&> \"quoted\"");
    EXPECT_EQ(again.string("empty"), "");
    EXPECT_EQ(again.number("n"), 18446744073709551615ULL);
    EXPECT_EQ(again.date("d"), someDate());
    EXPECT_EQ(again.data("b"), (Bytes{0, 1, 2, 255}));
    EXPECT_EQ(again.stringArray("a"), (StringArray{"/a/b.enc", "", "/c d/e.tar.gz"}));
    ASSERT_TRUE(again.get("dict"));
    EXPECT_EQ(*again.get("dict")->as<Dictionary>(), nested);
}

TEST(SettingsStore, AbsentAndWronglyTypedKeysGiveNothingAndAreLogged) {
    TempDir dir;
    const auto file = dir / "s.plist";
    writeFile(file, R"(<?xml version="1.0" encoding="UTF-8"?>
<plist version="1.0"><dict>
<key>VaultryDataArray</key><string>not a list</string>
<key>Mixed</key><array><string>a</string><integer>3</integer></array>
<key>Flag</key><true/>
<key>BAutoTidy</key><string>NO</string>
</dict></plist>)");
    test::LogCapture log;
    SettingsStore store(file);
    EXPECT_FALSE(store.stringArray("VaultryDataArray"));
    EXPECT_TRUE(log.contains("\"VaultryDataArray\" is not an array of texts"));
    EXPECT_FALSE(store.get("Mixed"));
    EXPECT_FALSE(store.get("Flag"));
    EXPECT_FALSE(store.get("NeverSet"));
    EXPECT_EQ(store.string("BAutoTidy"), "NO");
    EXPECT_TRUE(std::filesystem::exists(file));  // a readable file with odd keys is not corrupt
}

TEST(SettingsStore, CorruptFilesAreMovedAsideNotLost) {
    const std::string bodies[] = {
        std::string("\x00\x01\x02garbage\xff", 11),
        R"(<?xml version="1.0"?><plist version="1.0"><dict><key>a</key><string>cut)",
        R"(<?xml version="1.0"?><plist version="1.0"><array><string>x</string></array></plist>)",
        "",
    };
    for (const auto& body : bodies) {
        TempDir dir;
        const auto file = dir / "s.plist";
        writeFile(file, body);
        test::LogCapture log;
        SettingsStore store(file);
        EXPECT_TRUE(store.snapshot().empty());
        EXPECT_FALSE(std::filesystem::exists(file));
        int aside = 0;
        for (const auto& e : std::filesystem::directory_iterator(dir.path()))
            if (e.path().filename().string().rfind("s.plist.corrupt-", 0) == 0) {
                ++aside;
                EXPECT_EQ(readFile(e.path()), body);
            }
        EXPECT_EQ(aside, 1);
        EXPECT_TRUE(log.contains("moved aside"));
        store.set("k", "v");
        ASSERT_TRUE(store.flush());
        EXPECT_EQ(SettingsStore(file).string("k"), "v");
    }
}

TEST(SettingsStore, TwoProcessesWritingDifferentKeysKeepBoth) {
    TempDir dir;
    const auto file = dir / "s.plist";
    SettingsStore gui(file);
    SettingsStore cli(file);
    gui.set("fromGui", "1");
    cli.set("fromCli", "2");
    ASSERT_TRUE(gui.flush());
    ASSERT_TRUE(cli.flush());
    EXPECT_EQ(cli.string("fromGui"), "1");  // flushing takes in what the other wrote
    gui.remove("fromGui");
    ASSERT_TRUE(gui.flush());
    SettingsStore reader(file);
    EXPECT_FALSE(reader.get("fromGui"));
    EXPECT_EQ(reader.string("fromCli"), "2");

    // Real processes, many rounds each, interleaved.
    constexpr int kRounds = 40;
    pid_t kids[2];
    for (int k = 0; k < 2; ++k) {
        kids[k] = ::fork();
        ASSERT_GE(kids[k], 0);
        if (kids[k] == 0) {
            SettingsStore mine(file);
            for (int i = 0; i < kRounds; ++i) {
                mine.set("writer" + std::to_string(k), std::uint64_t(i));
                if (!mine.flush()) ::_exit(3);
            }
            ::_exit(0);
        }
    }
    for (pid_t kid : kids) {
        int status = 0;
        ASSERT_EQ(::waitpid(kid, &status, 0), kid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    SettingsStore after(file);
    EXPECT_EQ(after.number("writer0"), std::uint64_t(kRounds - 1));
    EXPECT_EQ(after.number("writer1"), std::uint64_t(kRounds - 1));
    EXPECT_EQ(after.string("fromCli"), "2");
}

TEST(SettingsStore, AWriterKilledAtAnyMomentLeavesTheOldOrTheNewFile) {
    TempDir dir;
    const auto file = dir / "s.plist";
    const std::string big(20000, 'x');  // a file large enough to be caught half-written
    {
        SettingsStore store(file);
        store.set("generation", std::uint64_t{0});
        store.set("padding", big);
        ASSERT_TRUE(store.flush());
    }
    std::mt19937 rng(42);
    std::uint64_t lastSeen = 0;
    for (int round = 0; round < 60; ++round) {
        const pid_t kid = ::fork();
        ASSERT_GE(kid, 0);
        if (kid == 0) {
            SettingsStore store(file);
            for (std::uint64_t g = 1;; ++g) {
                store.set("generation", *store.number("generation") + 1);
                store.set("padding", big + std::to_string(g));
                (void)store.flush();
            }
        }
        ::usleep(std::uniform_int_distribution<int>(0, 3000)(rng));
        ::kill(kid, SIGKILL);
        ::waitpid(kid, nullptr, 0);
        test::LogCapture log;
        SettingsStore check(file);
        ASSERT_FALSE(log.contains("moved aside")) << "round " << round;
        const auto gen = check.number("generation");
        ASSERT_TRUE(gen) << "round " << round;
        EXPECT_GE(*gen, lastSeen);
        lastSeen = *gen;
        ASSERT_TRUE(check.string("padding"));
    }
}

TEST(Plist, ParsesXmlListsAndRefusesBinaryListsAndOtherRoots) {
    Dictionary d{{"k", Value("v")}, {"n", Value(std::uint64_t{5})}};
    const std::string xml = toXmlPlist(d);
    auto parsed = parsePlist(xml);
    ASSERT_TRUE(parsed);
    EXPECT_EQ(*parsed, d);
    EXPECT_FALSE(parsePlist(""));
    EXPECT_FALSE(parsePlist("bplist00"));
    EXPECT_FALSE(
        parsePlist(std::string("bplist00\xd1\x01\x02\x10\x01\x10\x02\x08\x0b\x00\x00\x00\x00\x00\x00\x01\x01"
                               "\x00\x00\x00\x00\x00\x00\x00\x03\x00\x00\x00\x00\x00\x00\x00\x00\x00\x00"
                               "\x00\x00\x00\x00\x00\x0d",
                               46)));  // a dictionary keyed by a number
    EXPECT_FALSE(parsePlist("<plist><string>x</string></plist>"));
}

}  // namespace
}  // namespace vaultry
