#include "desktop/FileKind.h"

#include <gtest/gtest.h>

#include <limits>

#include "desktop/SizeText.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

TEST(FileKind, LookupIgnoresAsciiCaseAndReturnsTheFirstPosition) {
    EXPECT_EQ(GetImageType("heif"), 0);
    for (const char* jpg : {"jpg", "JPG", "Jpg"}) EXPECT_GE(GetImageType(jpg), 0) << jpg;
    EXPECT_EQ(GetImageType("cdr"), 15);  // stands twice; the first wins
    EXPECT_EQ(GetImageType("DCR"), 29);
    EXPECT_EQ(GetDocumentType("txt"), 11);
    EXPECT_EQ(GetDocumentType("PLIST"), GetDocumentType("Plist"));
    EXPECT_EQ(GetArchiveType("bzip"), 6);
    EXPECT_EQ(GetImageType("XPS"), 138);
    EXPECT_EQ(GetViedoType("dvr-ms"), 15);
    EXPECT_EQ(GetAudioType("ptf"), 39);
    for (auto* f : {GetImageType, GetViedoType, GetAudioType, GetDocumentType, GetArchiveType}) {
        EXPECT_EQ(f(nullptr), -1);
        EXPECT_EQ(f(""), -1);
        EXPECT_EQ(f("nope"), -1);
    }
    EXPECT_EQ(GetImageType("jpg "), -1);        // whole strings only
    EXPECT_EQ(GetImageType("\xc3\x89PS"), -1);  // non-ASCII letters are not folded
}

TEST(FileKind, DesktopKindOfEntries) {
    test::TempDir dir;
    std::filesystem::create_directories(dir / "Notes.rtfd");
    std::filesystem::create_directories(dir / "photos.jpg");
    std::filesystem::create_directories(dir / "Notes.RTFD");
    EXPECT_STREQ(desktopKind((dir / "Notes.rtfd").string()), "Documents");
    EXPECT_STREQ(desktopKind((dir / "Notes.RTFD").string()), "Folder");  // exact extension only
    EXPECT_STREQ(desktopKind((dir / "photos.jpg").string()), "Folder");
    EXPECT_STREQ(desktopKind("/nowhere/movie.mov"), "Other");
    EXPECT_STREQ(desktopKind("/nowhere/song.mp3"), "Other");
    EXPECT_STREQ(desktopKind("/nowhere/archive.tar.gz"), "Archives");
    EXPECT_STREQ(desktopKind("/nowhere/a.PNG"), "Pictures");
    EXPECT_STREQ(desktopKind("/nowhere/report.pdf"), "Documents");
    EXPECT_STREQ(desktopKind("/nowhere/README"), "Other");
    EXPECT_STREQ(desktopKind("/nowhere/.bashrc"), "Other");
    EXPECT_EQ(pathExtension("/a/b.c/d"), "");
    EXPECT_EQ(pathExtension("/a/Work.tar.gz"), "gz");
    EXPECT_EQ(pathExtension("/a/Notes.rtfd/"), "rtfd");
}

TEST(SizeText, TwoDecimalsAtTheEdges) {
    const std::pair<std::uint64_t, const char*> cases[] = {
        {0, "0.00bytes"},
        {999, "999.00bytes"},
        {1000, "1.00KB"},
        {1005, "1.00KB"},
        {1500, "1.50KB"},
        {999'999, "1000.00KB"},
        {1'000'000, "1.00MB"},
        {1'048'576, "1.05MB"},
        {999'999'999, "1000.00MB"},
        {4'294'967'296, "4.29GB"},
        {999'999'999'999, "1000.00GB"},
        {1'000'000'000'000, "1.00TB"},
        {std::numeric_limits<std::uint64_t>::max(), "18446744.00TB"},
    };
    for (const auto& [n, text] : cases) {
        EXPECT_EQ(sizeText(n, 2), text) << n;
        char buf[100] = {};
        EXPECT_STREQ(size_to_unit(n, buf), text);
    }
}

TEST(SizeText, OneDecimal) {
    EXPECT_EQ(sizeText(1'048'576, 1), "1.0MB");
    EXPECT_EQ(sizeText(4'294'967'296, 1), "4.3GB");
    EXPECT_EQ(sizeText(999'999, 1), "1000.0KB");
    EXPECT_EQ(sizeText(100'000'000, 1), "100.0MB");
}

}  // namespace
}  // namespace vaultry
