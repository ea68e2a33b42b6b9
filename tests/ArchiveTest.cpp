#include "vault/Archive.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <random>

#include "support/CliRun.h"
#include "support/FakePorts.h"

namespace vaultry::vault {
namespace {

using test::readFile;
using test::TempDir;
using test::writeFile;

// The pass phrase reaches openssl through a 0600 file, never through its command line.
struct PassFile {
    explicit PassFile(const TempDir& dir, const std::string& pass) : path(dir / "pass") {
        writeFile(path, pass + "\n");
        std::filesystem::permissions(
            path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    std::string arg() const { return "file:" + path.string(); }
    // `openssl enc` with this pass phrase and the options as openssl spells them; its exit status.
    int openssl(std::vector<std::string> args, const std::filesystem::path& in,
                const std::filesystem::path& out) const {
        args.insert(args.begin(), {"openssl", "enc"});
        args.insert(args.end(), {"-pass", arg(), "-in", in.string(), "-out", out.string()});
        return test::runProgram(args);
    }
    // Opens a folder archive of ours as the README says: openssl enc -d -aes256 with our derivation.
    int openFolder(const std::filesystem::path& in, const std::filesystem::path& out) const {
        return openssl({"-d", "-aes256", "-pbkdf2", "-iter", "600000", "-md", "sha256"}, in, out);
    }
    std::filesystem::path path;
};

std::string randomBytes(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    std::string s(n, '\0');
    for (auto& c : s) c = static_cast<char>(gen());
    return s;
}

// A folder with blanks, quotes, $, back quotes, a new line and non-ASCII in its names.
void makeTree(const std::filesystem::path& root) {
    writeFile(root / "plain.txt", "hello\n");
    writeFile(root / "sub dir/it's \"$HOME\" `x`.bin", randomBytes(700000, 1));
    writeFile(root / "sub dir/line\nbreak", "");
    writeFile(root / "Über/naïve.txt", std::string(200000, 'a'));
    std::filesystem::create_directories(root / "empty");
    std::filesystem::create_symlink("plain.txt", root / "link");
}

void expectSameTree(const std::filesystem::path& a, const std::filesystem::path& b) {
    std::size_t count = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(a);
         it != std::filesystem::recursive_directory_iterator(); ++it) {
        const auto rel = it->path().lexically_relative(a);
        const auto other = b / rel;
        ++count;
        if (it->is_symlink()) {
            ASSERT_TRUE(std::filesystem::is_symlink(other)) << rel;
            EXPECT_EQ(std::filesystem::read_symlink(other), std::filesystem::read_symlink(it->path()));
        } else if (it->is_directory()) {
            EXPECT_TRUE(std::filesystem::is_directory(other)) << rel;
        } else {
            ASSERT_TRUE(std::filesystem::is_regular_file(other)) << rel;
            EXPECT_EQ(readFile(other), readFile(it->path())) << rel;
        }
    }
    EXPECT_GT(count, 0u);
}

TEST(Archive, FileOpensWithOpensslAndOpensslFilesOpenWithUs) {
    TempDir dir;
    PassFile pass(dir, "pa ss\"$`word`Ü");
    const std::string pw = "pa ss\"$`word`Ü";
    for (const std::size_t size : {0u, 1u, 15u, 16u, 17u, 200000u}) {
        SCOPED_TRACE(size);
        const std::string content = randomBytes(size, static_cast<unsigned>(size));
        writeFile(dir / "plan.txt", content);
        std::filesystem::remove(dir / "plan.txt.enc");
        ASSERT_TRUE(encryptFile(dir / "plan.txt", dir / "plan.txt.enc", pw));
        EXPECT_EQ(std::filesystem::status(dir / "plan.txt.enc").permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        std::filesystem::remove(dir / "out");
        ASSERT_EQ(pass.openssl({"-d", "-aes-128-cbc", "-pbkdf2", "-iter", "600000", "-md", "sha256"},
                               (dir / "plan.txt.enc").string(), (dir / "out").string()),
                  0);
        EXPECT_EQ(readFile(dir / "out"), content);

        for (const char* md : {"sha256", "md5"}) {
            SCOPED_TRACE(md);
            // About once in 128 salts another derivation fits the padding too; such an archive
            // is refused as uncertain (tested below), so a salt is drawn again.
            for (int attempt = 0; attempt < 8; ++attempt) {
                std::filesystem::remove(dir / "theirs.enc");
                std::filesystem::remove(dir / "mine");
                ASSERT_EQ(pass.openssl({"-aes-128-cbc", "-md", md}, (dir / "plan.txt").string(),
                                       (dir / "theirs.enc").string()),
                          0);
                auto fits = derivationsThatOpen(dir / "theirs.enc", ArchiveKind::File, pw);
                ASSERT_TRUE(fits);
                if (fits->size() > 1) {
                    EXPECT_EQ(decryptFile(dir / "theirs.enc", dir / "mine", pw).error().message,
                              kOpensTwoWays);
                    EXPECT_FALSE(std::filesystem::exists(dir / "mine"));
                    continue;
                }
                auto opened = decryptFile(dir / "theirs.enc", dir / "mine", pw);
                ASSERT_TRUE(opened) << opened.error().message;
                EXPECT_EQ(opened->derivation.kdf,
                          std::string(md) == "md5" ? KeyDerivation::Md5 : KeyDerivation::Sha256);
                EXPECT_EQ(readFile(dir / "mine"), content);
                break;
            }
        }
    }
}

TEST(Archive, FolderOpensWithOpensslAndTarAndTheirsOpenWithUs) {
    TempDir dir;
    const std::string pw = "s3cret pass";
    PassFile pass(dir, pw);
    makeTree(dir / "src/Work");
    ASSERT_TRUE(packFolder(dir / "src/Work", dir / "Work.tar.gz", pw));

    // The classic pipeline, run as two steps: openssl enc -d -aes256 | tar xz.
    std::filesystem::create_directories(dir / "theirs");
    ASSERT_EQ(pass.openFolder((dir / "Work.tar.gz").string(), (dir / "plain.tgz").string()), 0);
    ASSERT_EQ(test::runProgram({"tar", "xzf", (dir / "plain.tgz").string(), "-C", (dir / "theirs").string()}),
              0);
    expectSameTree(dir / "src/Work", dir / "theirs/Work");
    EXPECT_EQ(test::runProgram({"gzip", "-t", (dir / "plain.tgz").string()}), 0);

    for (const char* md : {"sha256", "md5"}) {
        SCOPED_TRACE(md);
        const auto tgz = dir / (std::string("t-") + md + ".tgz");
        const auto enc = dir / (std::string("Work-") + md + ".tar.gz");
        ASSERT_EQ(test::runProgram({"tar", "-czf", tgz.string(), "-C", (dir / "src").string(), "Work"}), 0);
        ASSERT_EQ(pass.openssl({"-e", "-aes256", "-md", md}, tgz.string(), enc.string()), 0);
        const auto target = dir / (std::string("ours-") + md);
        std::filesystem::create_directories(target);
        auto top = unpackFolder(enc, target, pw);
        ASSERT_TRUE(top) << top.error().message;
        EXPECT_EQ(*top, std::vector<std::string>{"Work"});
        expectSameTree(dir / "src/Work", target / "Work");
        EXPECT_TRUE(verifyArchive(enc, ArchiveKind::Folder, pw));
    }
}

// Text that deflate shrinks well, in lines of words.
std::string wordText(std::size_t n, unsigned seed) {
    std::mt19937 gen(seed);
    const char* words[] = {"vault ", "archive ", "tidy ", "cookie ", "trash ", "record ", "folder\n"};
    std::string s;
    while (s.size() < n) s += words[gen() % 7];
    s.resize(n);
    return s;
}

// A folder of several MiB: text, random bytes, and files that mix both within one stretch of
// the stream, so that an archive holds many compressed and stored pieces.
void makeMixedTree(const std::filesystem::path& root) {
    writeFile(root / "text.txt", wordText(3 << 20, 1));
    writeFile(root / "noise.bin", randomBytes(3 << 20, 2));
    writeFile(root / "mixed/half.dat", wordText(100000, 3) + randomBytes(300000, 4) + wordText(200000, 5));
    for (int i = 0; i < 40; ++i) writeFile(root / "mixed/small" / std::to_string(i), wordText(i * 997, i));
    writeFile(root / "empty.txt", "");
}

std::uint32_t le32(const std::string& s, std::size_t at) {
    return std::uint32_t(static_cast<unsigned char>(s[at])) |
           std::uint32_t(static_cast<unsigned char>(s[at + 1])) << 8 |
           std::uint32_t(static_cast<unsigned char>(s[at + 2])) << 16 |
           std::uint32_t(static_cast<unsigned char>(s[at + 3])) << 24;
}

TEST(Archive, LargeMixedFoldersPassGzipTarAndUsBothWays) {
    TempDir dir;
    const std::string pw = "mixed pass";
    PassFile pass(dir, pw);
    makeMixedTree(dir / "src/Work");
    ASSERT_TRUE(packFolder(dir / "src/Work", dir / "Work.tar.gz", pw));
    ASSERT_EQ(pass.openFolder((dir / "Work.tar.gz").string(), (dir / "plain.tgz").string()), 0);
    EXPECT_EQ(test::runProgram({"gzip", "-t", (dir / "plain.tgz").string()}), 0);
    std::filesystem::create_directories(dir / "theirs");
    ASSERT_EQ(test::runProgram({"tar", "xzf", (dir / "plain.tgz").string(), "-C", (dir / "theirs").string()}),
              0);
    expectSameTree(dir / "src/Work", dir / "theirs/Work");

    // Random bytes are kept as they are, not grown; text shrinks as gzip shrinks it.
    const auto archived = std::filesystem::file_size(dir / "Work.tar.gz");
    EXPECT_LT(archived, (3u << 20) + 300000 + (1u << 20));

    std::filesystem::create_directories(dir / "ours");
    auto top = unpackFolder(dir / "Work.tar.gz", dir / "ours", pw);
    ASSERT_TRUE(top) << top.error().message;
    expectSameTree(dir / "src/Work", dir / "ours/Work");

    // gzip's own stream of the same tar, and our members followed by one of gzip's: both open.
    ASSERT_EQ(test::runProgram({"gzip", "-d", "-k", (dir / "plain.tgz").string()}), 0);
    ASSERT_EQ(test::runProgram({"gzip", "-6", "-k", "-S", ".6.gz", (dir / "plain.tar").string()}), 0);
    const std::string ours = readFile(dir / "plain.tgz");
    writeFile(dir / "extra.txt", "after the tar\n");
    ASSERT_EQ(test::runProgram({"gzip", "-k", (dir / "extra.txt").string()}), 0);
    writeFile(dir / "joined.tgz", ours + readFile(dir / "extra.txt.gz"));
    for (const char* name : {"plain.tar.6.gz", "joined.tgz"}) {
        SCOPED_TRACE(name);
        const auto enc = dir / (std::string(name) + ".enc.tar.gz");
        ASSERT_EQ(pass.openssl({"-aes256"}, (dir / name).string(), enc.string()), 0);
        const auto target = dir / (std::string("t-") + name);
        std::filesystem::create_directories(target);
        auto placed = unpackFolder(enc, target, pw);
        ASSERT_TRUE(placed) << placed.error().message;
        expectSameTree(dir / "src/Work", target / "Work");
    }
}

// What of a file the page cache holds, and how much of that still waits to be written
// (cachestat, Linux 6.5 and later); nothing where the kernel cannot tell.
struct CacheState {
    std::uint64_t cached, dirty, writeback, evicted, recentlyEvicted;
};
std::optional<CacheState> cacheState(const std::filesystem::path& file) {
    constexpr long kCachestat = 451;  // the same number on every architecture
    struct {
        std::uint64_t offset, length;
    } whole{0, 0};
    CacheState state{};
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    const long r = ::syscall(kCachestat, fd, &whole, &state, 0);
    ::close(fd);
    if (r != 0) return std::nullopt;
    return state;
}

// The archive a folder came from may be deleted once it is unpacked, so nothing of what was
// unpacked may still be waiting in memory to be written when unpackFolder returns.
TEST(Archive, AnUnpackedFolderIsOnTheDiskWhenItIsPlaced) {
    TempDir dir;
    writeFile(dir / "probe", std::string(1 << 20, 'p'));
    const auto probe = cacheState(dir / "probe");
    if (!probe) GTEST_SKIP() << "the kernel does not tell what waits to be written (cachestat, Linux 6.5)";
    if (probe->dirty == 0) GTEST_SKIP() << "this file system keeps nothing waiting to be written";

    makeMixedTree(dir / "src/Work");
    writeFile(dir / "src/Work/large.bin", randomBytes(20 << 20, 6));  // over a writeback step
    ASSERT_TRUE(packFolder(dir / "src/Work", dir / "Work.tar.gz", "pw"));
    std::filesystem::create_directories(dir / "out");
    auto placed = unpackFolder(dir / "Work.tar.gz", dir / "out", "pw");
    ASSERT_TRUE(placed) << placed.error().message;
    std::size_t files = 0;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir / "out/Work")) {
        if (!entry.is_regular_file()) continue;
        ++files;
        const auto state = cacheState(entry.path());
        ASSERT_TRUE(state) << entry.path();
        EXPECT_EQ(state->dirty + state->writeback, 0u) << entry.path().lexically_relative(dir / "out");
    }
    EXPECT_EQ(files, 45u);
    expectSameTree(dir / "src/Work", dir / "out/Work");
}

TEST(Archive, DamagedMembersAreRefusedAndWriteNothing) {
    TempDir dir;
    const std::string pw = "member pass";
    PassFile pass(dir, pw);
    makeMixedTree(dir / "Work");
    ASSERT_TRUE(packFolder(dir / "Work", dir / "Work.tar.gz", pw));
    ASSERT_EQ(pass.openFolder((dir / "Work.tar.gz").string(), (dir / "plain.tgz").string()), 0);
    const std::string plain = readFile(dir / "plain.tgz");
    // The members, each starting with its length in the header's extra field.
    std::vector<std::size_t> starts;
    for (std::size_t at = 0; at + 20 <= plain.size(); at += le32(plain, at + 16)) {
        ASSERT_EQ(plain.compare(at, 4, "\x1f\x8b\x08\x04", 4), 0) << at;
        starts.push_back(at);
    }
    ASSERT_GT(starts.size(), 4u);
    const std::size_t second = starts[1], third = starts[2];

    std::vector<std::pair<std::string, std::string>> cases;
    auto changed = [&](std::size_t at, unsigned char x) {
        std::string s = plain;
        s[at] = static_cast<char>(s[at] ^ x);
        return s;
    };
    cases.emplace_back("length one byte longer", changed(second + 16, 0x01));
    cases.emplace_back("length far too long", changed(second + 19, 0x40));
    cases.emplace_back("length too short", [&] {
        std::string s = plain;
        s.replace(second + 16, 4, std::string("\x05\0\0\0", 4));
        return s;
    }());
    cases.emplace_back("inflated size", changed(third - 1, 0x10));
    cases.emplace_back("checksum", changed(third - 6, 0x01));
    cases.emplace_back("deflate data", changed(second + 40, 0x20));
    cases.emplace_back("cut inside a member", plain.substr(0, third - 3));
    cases.emplace_back("junk after the last member", plain + std::string("\x1f\x8b\x08\x04junk", 8));
    for (const auto& [what, bytes] : cases) {
        SCOPED_TRACE(what);
        writeFile(dir / "bad.tgz", bytes);
        std::filesystem::remove(dir / "bad.tar.gz");
        ASSERT_EQ(pass.openssl({"-aes256"}, (dir / "bad.tgz").string(), (dir / "bad.tar.gz").string()), 0);
        std::filesystem::create_directories(dir / "out");
        EXPECT_FALSE(unpackFolder(dir / "bad.tar.gz", dir / "out", pw));
        EXPECT_FALSE(verifyArchive(dir / "bad.tar.gz", ArchiveKind::Folder, pw));
        EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
    }
}

TEST(Archive, AWriteFailureWhilePackingLeavesNoPartialArchive) {
    TempDir dir;
    makeMixedTree(dir / "Work");
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {
            1 << 20, 1 << 20
        };
        setrlimit(RLIMIT_FSIZE, &lim);
        const bool failed = !packFolder(dir / "Work", dir / "Work.tar.gz", "pw");
        if (!failed) _exit(2);  // the write failure went unnoticed
        _exit(std::distance(std::filesystem::directory_iterator(dir.path()), {}) == 1 ? 0
                                                                                      : 3);  // 3: a leftover
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "the packing process ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "2: packing reported success, 3: something was left beside the folder";
}

TEST(Archive, WrongPasswordDamageAndTakenNamesWriteNothing) {
    TempDir dir;
    writeFile(dir / "a.txt", randomBytes(5000, 7));
    makeTree(dir / "Work");
    // Without its manifest entry the format has no check value: a wrong pass phrase fits a file
    // archive's padding about once in 128 salts (the manifest's MAC tells them apart, see
    // ArchiveManifest). Draw a salt where "wrong" and "Right" do not fit, to see that a failed
    // decryption writes nothing.
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::filesystem::remove(dir / "a.txt.enc");
        ASSERT_TRUE(encryptFile(dir / "a.txt", dir / "a.txt.enc", "right"));
        if (!verifyArchive(dir / "a.txt.enc", ArchiveKind::File, "wrong") &&
            !verifyArchive(dir / "a.txt.enc", ArchiveKind::File, "Right") &&
            derivationsThatOpen(dir / "a.txt.enc", ArchiveKind::File, "right")->size() == 1)
            break;
    }
    ASSERT_TRUE(packFolder(dir / "Work", dir / "Work.tar.gz", "right"));

    // An archive name that is taken is refused and the existing file stays as it was.
    EXPECT_FALSE(encryptFile(dir / "a.txt", dir / "a.txt.enc", "other"));
    EXPECT_FALSE(packFolder(dir / "Work", dir / "Work.tar.gz", "other"));
    EXPECT_TRUE(verifyArchive(dir / "a.txt.enc", ArchiveKind::File, "right"));
    EXPECT_TRUE(verifyArchive(dir / "Work.tar.gz", ArchiveKind::Folder, "right"));

    std::filesystem::create_directories(dir / "out");
    EXPECT_FALSE(decryptFile(dir / "a.txt.enc", dir / "out/a.txt", "wrong"));
    EXPECT_FALSE(unpackFolder(dir / "Work.tar.gz", dir / "out", "wrong"));
    EXPECT_FALSE(verifyArchive(dir / "a.txt.enc", ArchiveKind::File, "Right"));

    // Truncated and damaged archives.
    const std::string whole = readFile(dir / "Work.tar.gz");
    writeFile(dir / "cut.tar.gz", whole.substr(0, whole.size() / 2 / 16 * 16));
    EXPECT_FALSE(unpackFolder(dir / "cut.tar.gz", dir / "out", "right"));
    std::string flipped = whole;
    flipped[whole.size() / 2] ^= 0x40;
    writeFile(dir / "flip.tar.gz", flipped);
    EXPECT_FALSE(unpackFolder(dir / "flip.tar.gz", dir / "out", "right"));
    EXPECT_FALSE(verifyArchive(dir / "flip.tar.gz", ArchiveKind::Folder, "right"));
    writeFile(dir / "junk.enc", "Salted__");
    EXPECT_FALSE(decryptFile(dir / "junk.enc", dir / "out/junk", "right"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));

    // The plaintext target exists already: refused, not overwritten.
    writeFile(dir / "out/a.txt", "keep");
    EXPECT_FALSE(decryptFile(dir / "a.txt.enc", dir / "out/a.txt", "right"));
    EXPECT_EQ(readFile(dir / "out/a.txt"), "keep");
    std::filesystem::create_directories(dir / "out/Work");
    EXPECT_FALSE(unpackFolder(dir / "Work.tar.gz", dir / "out", "right"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out/Work"));
    for (const auto& e : std::filesystem::directory_iterator(dir / "out"))
        EXPECT_EQ(e.path().filename().string().find(".vaultry-unpack"), std::string::npos);
}

// Builds a gzip tar with the given entries by hand (libarchive), encrypted with our cipher.
std::filesystem::path craftArchive(const TempDir& dir, const std::string& name,
                                   const std::vector<std::pair<std::string, std::string>>& symlinks,
                                   const std::vector<std::string>& files) {
    const auto src = dir / ("craft-" + name);
    std::filesystem::create_directories(src);
    for (const auto& f : files) writeFile(src / "x" / f, "data");
    std::vector<std::string> args{"tar", "-czf",       (dir / (name + ".tgz")).string(),
                                  "-C",  src.string(), "--absolute-names"};
    for (const auto& [link, target] : symlinks) {
        std::filesystem::create_directories((src / link).parent_path());
        std::filesystem::create_symlink(target, src / link);
        args.push_back(link);
    }
    for (const auto& f : files) args.push_back("x/" + f);
    EXPECT_EQ(test::runProgram(args), 0);
    const auto enc = dir / (name + ".tar.gz");
    PassFile pass(dir, "pw");
    EXPECT_EQ(pass.openssl({"-aes256"}, (dir / (name + ".tgz")).string(), enc.string()), 0);
    return enc;
}

TEST(Archive, ExtractionStaysInsideTheTarget) {
    TempDir dir;
    const auto target = dir / "target";
    std::filesystem::create_directories(target);
    EXPECT_FALSE(unpackFolder(craftArchive(dir, "abs", {{"Work/abs", "/etc/passwd"}}, {}), target, "pw"));
    EXPECT_FALSE(unpackFolder(craftArchive(dir, "up", {{"Work/up", "../../outside"}}, {}), target, "pw"));
    EXPECT_TRUE(std::filesystem::is_empty(target));

    // Links inside the folder are fine; a "._" file of a GNU tar is an ordinary member.
    auto ok =
        unpackFolder(craftArchive(dir, "fine", {{"x/in", "a.txt"}}, {"a.txt", "._a.txt"}), target, "pw");
    ASSERT_TRUE(ok) << ok.error().message;
    EXPECT_TRUE(std::filesystem::exists(target / "x/a.txt"));
    EXPECT_TRUE(std::filesystem::is_symlink(target / "x/in"));
    EXPECT_TRUE(std::filesystem::exists(target / "x/._a.txt"));

    // Names with "..": written by tar with -P so the entry keeps them.
    const auto src = dir / "dots";
    writeFile(src / "f", "x");
    ASSERT_EQ(test::runProgram({"tar", "-czPf", (dir / "dots.tgz").string(), "--transform",
                                "s,^.*f$,Work/../../escaped,", (src / "f").string()}),
              0);
    PassFile pass(dir, "pw");
    ASSERT_EQ(pass.openssl({"-aes256"}, (dir / "dots.tgz").string(), (dir / "dots.tar.gz").string()), 0);
    EXPECT_FALSE(unpackFolder(dir / "dots.tar.gz", target, "pw"));
    EXPECT_FALSE(std::filesystem::exists(dir / "escaped"));
}

TEST(Archive, ReencryptionOpensOnlyWithTheNewPassword) {
    TempDir dir;
    PassFile pass(dir, "old");
    writeFile(dir / "f.txt", randomBytes(40000, 3));
    // An MD5 archive that another derivation fits too (one salt in 128) is uncertain and never
    // re-encrypted; draw such a salt again.
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::filesystem::remove(dir / "f.txt.enc");
        ASSERT_EQ(pass.openssl({"-aes-128-cbc", "-md", "md5"}, (dir / "f.txt").string(),
                               (dir / "f.txt.enc").string()),
                  0);
        if (derivationsThatOpen(dir / "f.txt.enc", ArchiveKind::File, "old")->size() == 1) break;
    }
    makeTree(dir / "Work");
    ASSERT_TRUE(packFolder(dir / "Work", dir / "Work.tar.gz", "old"));
    ASSERT_TRUE(reencryptArchive(dir / "f.txt.enc", ArchiveKind::File, "old", "new", dir / "f2.enc"));
    ASSERT_TRUE(reencryptArchive(dir / "Work.tar.gz", ArchiveKind::Folder, "old", "new", dir / "W2.tar.gz"));
    EXPECT_FALSE(reencryptArchive(dir / "Work.tar.gz", ArchiveKind::Folder, "bad", "new", dir / "W3.tar.gz"));
    EXPECT_FALSE(std::filesystem::exists(dir / "W3.tar.gz"));
    EXPECT_FALSE(verifyArchive(dir / "W2.tar.gz", ArchiveKind::Folder, "old"));
    auto d = decryptFile(dir / "f2.enc", dir / "f2.txt", "new", {kNewDerivation, {}, {}});
    ASSERT_TRUE(d);
    EXPECT_EQ(d->derivation, kNewDerivation);
    EXPECT_EQ(readFile(dir / "f2.txt"), readFile(dir / "f.txt"));
    std::filesystem::create_directories(dir / "t");
    ASSERT_TRUE(unpackFolder(dir / "W2.tar.gz", dir / "t", "new"));
    expectSameTree(dir / "Work", dir / "t/Work");
}

TEST(Archive, AFullDiskLeavesNoPartialArchive) {
    TempDir dir;
    writeFile(dir / "big", randomBytes(300000, 9));
    // A child process with a small file-size limit: the write fails mid-way.
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {
            100000, 100000
        };
        setrlimit(RLIMIT_FSIZE, &lim);
        const bool failed = !encryptFile(dir / "big", dir / "big.enc", "pw");
        _exit(failed && !std::filesystem::exists(dir / "big.enc") &&
                      std::filesystem::is_empty(dir / "big") == false &&
                      std::distance(std::filesystem::directory_iterator(dir.path()), {}) == 1
                  ? 0
                  : 1);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace vaultry::vault
