// Sequences the soak test found, written down: each failed before its fault was mended.
#include <gtest/gtest.h>

#include "soak/SoakCommands.h"

namespace vaultry::soak {
namespace {

template <class C, class... Args>
CmdPtr step(Args&&... args) {
    return std::make_shared<C>(std::forward<Args>(args)...);
}

using Lines = std::vector<std::string>;

TEST(SoakRegression, DecryptingAgainAfterTheCopyWasDeletedListsTheRecordOnce) {
    for (Via again : {Via::Cli, Via::App}) {
        EXPECT_EQ(
            replay({step<MakeItem>(0, 0, 0, false, 0u, 64), step<Encrypt>(std::vector<int>{0}, Via::App),
                    step<Decrypt>(std::vector<int>{0}, Via::App), step<EditCopy>(0, Edit::Delete, 0u),
                    step<Decrypt>(std::vector<int>{0}, again), step<Lock>(std::vector<int>{0}, Via::Cli)}),
            Lines{});
    }
}

// A copy decrypted by `vault decrypt` or the Decrypt action is unknown to the vault: removing the
// untouched copy from the vault is refused as "not as it was decrypted".
TEST(SoakRegression, RemovingAnUntouchedDecryptedCopyKeepsIt) {
    for (Via decrypt : {Via::Cli, Via::App})
        for (Via remove : {Via::Cli, Via::App})
            EXPECT_EQ(
                replay({step<MakeItem>(0, 0, 0, false, 0u, 10), step<Encrypt>(std::vector<int>{0}, Via::App),
                        step<Decrypt>(std::vector<int>{0}, decrypt),
                        step<Remove>(std::vector<int>{0}, remove)}),
                Lines{});
}

// The sweep of leftovers, run by every vault command, deletes a user's files named like Vaultry's
// temporary ones beside an encrypted item ("Notes/x.part-abc123", "Notes/.vaultry-removing-xyz").
TEST(SoakRegression, TheLeftoverSweepKeepsFilesNamedLikeTemporaryOnes) {
    EXPECT_EQ(replay({step<MakeItem>(0, 2, 0, false, 1u, 10), step<Encrypt>(std::vector<int>{0}, Via::Cli),
                      step<List>(), step<Restart>()}),
              Lines{});
}

// With the storage drive away, `vault encrypt` writes the archive into a folder it makes in the
// drive's place, deletes the original and exits 0; when the drive is back the file is nowhere.
TEST(SoakRegression, EncryptingWithTheStorageDriveAwayKeepsTheOriginal) {
    for (Fault away : {Fault::StorageRenamed, Fault::StorageEmpty})
        for (Via via : {Via::Cli, Via::App})
            EXPECT_EQ(replay({step<MakeItem>(1, 0, 0, false, 0u, 0),
                              step<Encrypt>(std::vector<int>{1}, via, away)}),
                      Lines{});
}

// With the settings folder read-only (only the unprivileged account meets it: root writes into a
// read-only folder), removing from the vault window restores the item and deletes its archive but
// the list keeps the record, and nothing is said; `vault decrypt` writes the plaintext copy but
// cannot mark it, so the item counts as locked with its plaintext out; locking removes the copy
// while the list keeps it unlocked.
TEST(SoakRegression, ReadOnlySettingsLeaveTheListsTrue) {
    EXPECT_EQ(replay({step<MakeItem>(0, 3, 2, false, 0u, 10), step<Encrypt>(std::vector<int>{0}, Via::Cli),
                      step<Remove>(std::vector<int>{0}, Via::App, Fault::ReadOnlySettings)}),
              Lines{});
    EXPECT_EQ(replay({step<MakeItem>(0, 3, 3, false, 0u, 10), step<Encrypt>(std::vector<int>{0}, Via::Cli),
                      step<Decrypt>(std::vector<int>{0}, Via::Cli, Fault::ReadOnlySettings)}),
              Lines{});
    // Locking removed the copy while the list, which could not be written, still showed it unlocked.
    for (Via lock : {Via::Cli, Via::App})
        EXPECT_EQ(replay({step<MakeItem>(0, 0, 0, false, 0u, 0), step<Encrypt>(std::vector<int>{0}, Via::Cli),
                          step<Decrypt>(std::vector<int>{0}, Via::Cli),
                          step<LockAll>(lock, Fault::ReadOnlySettings)}),
                  Lines{});
}

// A vault without archives switched to a new folder while its drive was away kept the old
// folder's integrity identity: every encryption after it was refused as "the integrity record is
// missing or was replaced".
TEST(SoakRegression, ANewFolderChosenWhileTheDriveIsAwayTakesNewItems) {
    for (Fault away : {Fault::StorageRenamed, Fault::StorageEmpty})
        EXPECT_EQ(
            replay({step<Verify>(Via::Cli), step<MoveStorage>(away), step<MakeItem>(2, 0, 0, true, 0u, 64),
                    step<Encrypt>(std::vector<int>{2}, Via::Cli)}),
            Lines{});
}

// A decrypted folder moved with the storage folder is a new object there, while the copy manifest
// still named the old one: locking it was refused as "another folder took its place".
TEST(SoakRegression, ADecryptedFolderLocksAfterTheStorageFolderMoved) {
    for (Via via : {Via::Cli, Via::App})
        EXPECT_EQ(replay({step<MakeItem>(0, 0, 0, true, 0u, 0), step<Encrypt>(std::vector<int>{0}, via),
                          step<Decrypt>(std::vector<int>{0}, via), step<MoveStorage>(),
                          step<Lock>(std::vector<int>{0}, via)}),
                  Lines{});
}

// Names that looked like temporary files ("draft.part-2.txt", "old.rekey") were not carried to a
// new storage folder, nor named among what the old one still holds: the archive stayed behind and
// the edited decrypted folder was locked as if deleted.
TEST(SoakRegression, AStorageMoveCarriesItemsNamedLikeTemporaryOnes) {
    for (int name : {6, 7})
        EXPECT_EQ(replay({step<MakeItem>(0, 1, name, true, 3u, 20), step<MakeItem>(1, 2, name, false, 4u, 20),
                          step<Encrypt>(std::vector<int>{0, 1}, Via::Cli),
                          step<Decrypt>(std::vector<int>{0}, Via::Cli), step<EditCopy>(0, Edit::AddFile, 1u),
                          step<MoveStorage>(), step<LockAll>(Via::App), step<Verify>(Via::Cli)}),
                  Lines{});
}

// A password change of a vault without archives removed the integrity record before it tried to
// make the settings forget it; with the settings read-only that failed, and every encryption
// after it was refused as "the integrity record is missing or was replaced".
TEST(SoakRegression, APasswordChangeThatCannotWriteTheSettingsKeepsTheIntegrityRecord) {
    EXPECT_EQ(
        replay({step<Verify>(Via::App), step<MakeItem>(0, 0, 0, true, 0u, 64),
                step<ChangePassword>(Fault::ReadOnlySettings), step<Encrypt>(std::vector<int>{0}, Via::Cli)}),
        Lines{});
}

// With the disk full, a password change re-encrypted every archive and then could not store the
// new password: nothing was said, and until the next start the stored password opened nothing.
// Now the user is told that the new password is in use and stored at the next start.
TEST(SoakRegression, APasswordChangeThatCannotBeStoredSaysSoAndIsFinishedAtTheNextStart) {
    for (Via via : {Via::App, Via::Cli})
        for (int writes : {7, 12})
            EXPECT_EQ(
                replay({step<MakeItem>(0, 0, 0, false, 0u, 64), step<Encrypt>(std::vector<int>{0}, Via::App),
                        step<ChangePassword>(via, Fault::WriteFails, writes)}),
                Lines{});
}

// With the disk full, removing an item from the vault restored it to its place and then could not
// take its record out of the lists: the plaintext stood beside a record still shown as locked.
// Now what was restored goes again and nothing is removed.
TEST(SoakRegression, ARemovalThatCannotWriteTheListsRemovesNothing) {
    for (bool folder : {false, true})
        for (Via via : {Via::Cli, Via::App})
            for (int writes : {3, 6})
                EXPECT_EQ(replay({step<MakeItem>(1, 1, 1, folder, 0u, 64),
                                  step<Encrypt>(std::vector<int>{1}, Via::App),
                                  step<Remove>(std::vector<int>{1}, via, Fault::WriteFails, writes)}),
                          Lines{});
}

// With the disk full, an encryption whose record could not be written took its archive back but
// could not write the integrity record without it: `vault verify` then reported the archive of
// an item that was never encrypted as missing.
TEST(SoakRegression, AnEncryptionThatCannotBeRecordedLeavesVerifyClean) {
    for (int writes : {9, 11, 13})
        EXPECT_EQ(replay({step<MakeItem>(0, 0, 0, false, 0u, 64),
                          step<Encrypt>(std::vector<int>{0, 0}, Via::App, Fault::WriteFails, writes),
                          step<Verify>(Via::Cli)}),
                  Lines{});
}

// Without archives nothing waits for the next start: a password change that cannot store the new
// password on a full disk is refused, and the old one stays (the window said it was in use).
TEST(SoakRegression, APasswordChangeWithoutArchivesThatCannotBeStoredIsRefused) {
    for (Via via : {Via::App, Via::Cli})
        EXPECT_EQ(replay({step<ChangePassword>(via, Fault::WriteFails, 4)}), Lines{});
}

// With the disk full, a decrypted copy whose listing failed could not be taken back either (the
// journal of the removal could not be written): it stayed in plain beside a locked record.
TEST(SoakRegression, ADecryptionThatCannotBeListedTakesItsCopyBack) {
    for (bool folder : {false, true})
        for (int writes : {1, 2, 3})
            EXPECT_EQ(
                replay({step<MakeItem>(0, 0, 0, folder, 0u, 0), step<Encrypt>(std::vector<int>{0}, Via::App),
                        step<Decrypt>(std::vector<int>{0}, Via::Cli, Fault::WriteFails, writes)}),
                Lines{});
}

// An encryption that failed on a full disk left an integrity entry for its archive, and every
// password change after it was refused: "these archives are missing from the storage folder".
TEST(SoakRegression, APasswordChangeIsNotStoppedByAnEncryptionThatDidNotHappen) {
    EXPECT_EQ(
        replay({step<MakeItem>(0, 0, 0, false, 0u, 64), step<MakeItem>(1, 0, 1, true, 0u, 64),
                step<Encrypt>(std::vector<int>{0}, Via::App),
                step<Encrypt>(std::vector<int>{1}, Via::Cli, Fault::WriteFails, 8), step<ChangePassword>()}),
        Lines{});
}

// Items of the same name share the path of their decrypted copy: a decryption of both reported the
// one decrypted as done for the other too.
TEST(SoakRegression, DecryptingItemsOfTheSameNameReportsEachAsItWent) {
    EXPECT_EQ(
        replay({step<MakeItem>(0, 0, 4, true, 0u, 64), step<Encrypt>(std::vector<int>{0}, Via::App),
                step<MakeItem>(2, 1, 4, true, 0u, 0), step<Decrypt>(std::vector<int>{2, 2, 0}, Via::Cli)}),
        Lines{});
}

}  // namespace
}  // namespace vaultry::soak
