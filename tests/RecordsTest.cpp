#include "vault/Records.h"

#include <gtest/gtest.h>

namespace vaultry::vault {
namespace {

TEST(Records, KindGoesByTheLastExtensionOnly) {
    EXPECT_EQ(recordKind("/u/Notes/plan.txt.enc"), RecordKind::EncryptedFile);
    EXPECT_EQ(recordKind("/u/Work.tar.gz"), RecordKind::EncryptedFolder);
    EXPECT_EQ(recordKind("/u/backup.gz"), RecordKind::EncryptedFolder);  // hidden, yet counts as encrypted
    EXPECT_EQ(recordKind("/u/Notes/plan.txt"), RecordKind::Hidden);
    EXPECT_EQ(recordKind("/u/Notes/plan.ENC"), RecordKind::Hidden);
    EXPECT_EQ(recordKind("/u/Folder"), RecordKind::Hidden);
}

TEST(Records, DerivedPaths) {
    const std::string storage = "/s/vaultry.data";
    EXPECT_EQ(archivePath(storage, "/u/Notes/plan.txt.enc"), "/s/vaultry.data/plan.txt.enc");
    EXPECT_EQ(archivePath(storage, "/u/Work.tar.gz"), "/s/vaultry.data/Work.tar.gz");
    EXPECT_EQ(plaintextCopyPath(storage, "/u/Work.tar.gz"), "/s/vaultry.data/Work");
    EXPECT_EQ(plaintextCopyPath(storage, "/u/Notes/plan.txt.enc"), "/u/Notes/plan.txt");
    EXPECT_EQ(thumbnailPath(storage, "/u/Notes/plan.txt.enc"), "/s/vaultry.data/libdata/plan");
    EXPECT_EQ(thumbnailPath(storage, "/u/Work.tar.gz"), "/s/vaultry.data/libdata/Work");
    EXPECT_EQ(thumbnailPath(storage, "/u/README.enc"), "/s/vaultry.data/libdata/README");
    EXPECT_EQ(displayName("/u/Notes/plan.txt.enc"), "plan.txt");
    EXPECT_EQ(displayName("/u/Work.tar.gz"), "Work");
    EXPECT_EQ(displayName("/u/Notes/plan.txt"), "plan.txt");
    EXPECT_EQ(displayName("/u/My Folder"), "My Folder");
    EXPECT_EQ(encryptedRecordFor("/u/Work/", true), "/u/Work.tar.gz");
    EXPECT_EQ(encryptedRecordFor("/u/plan.txt", false), "/u/plan.txt.enc");
    EXPECT_EQ(plaintextCopyPath("", "/u/Work.tar.gz"), "/Work");  // no storage: nothing sensible to find
}

}  // namespace
}  // namespace vaultry::vault
