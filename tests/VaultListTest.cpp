#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "app/PSTableCellView.h"
#include "settings/Preferences.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "support/VaultWorld.h"
#include "vault/Archive.h"
#include "vault/CopyDigest.h"
#include "vault/CopyManifest.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"
#include "vault/VaultList.h"

namespace vaultry {
namespace {

namespace fs = std::filesystem;
using platform::AlertAnswer;
using platform::ImageRef;
using test::readFile;
using test::writeFile;
using Strings = std::vector<std::string>;

// The shared vault; each encryption here is saved at once.
struct ListWorld : test::VaultWorld {
    std::string encrypt(const fs::path& item) {
        const std::string record = VaultWorld::encrypt(item);
        app->saveRecords();
        return record;
    }
};

TEST(VaultFilters, KeepKindsInOrderAndHiddenItemsOnlyUnderAll) {
    const Strings all = {"/u/a.jpg.enc", "/u/Work.tar.gz", "/u/hidden.txt", "/u/b.pdf.enc", "/u/c.mov.enc",
                         "/u/d.mp3.enc", "/u/e.xyz.enc",   "/u/noext.enc",  "/u/f.PNG.enc", "/u/old.gz"};
    EXPECT_EQ(vault::innerExtension("/u/plan.txt.enc"), "txt");
    EXPECT_EQ(vault::filterRecords(all, vault::VaultFilter::All), all);
    EXPECT_EQ(vault::filterRecords(all, vault::VaultFilter::Images),
              (Strings{"/u/a.jpg.enc", "/u/f.PNG.enc"}));
    EXPECT_EQ(vault::filterRecords(all, vault::VaultFilter::Docs), Strings{"/u/b.pdf.enc"});
    EXPECT_EQ(vault::filterRecords(all, vault::VaultFilter::Medias), Strings{"/u/c.mov.enc"});
    // A hidden item named *.gz counts as an encrypted folder.
    EXPECT_EQ(vault::filterRecords(all, vault::VaultFilter::Folders),
              (Strings{"/u/Work.tar.gz", "/u/old.gz"}));
    // Audio belongs to none of the three kinds, so it is Other.
    EXPECT_EQ(vault::filterRecords(all, vault::VaultFilter::Other),
              (Strings{"/u/d.mp3.enc", "/u/e.xyz.enc", "/u/noext.enc"}));
    EXPECT_EQ(vault::filterNamed("medias"), vault::VaultFilter::Medias);
    EXPECT_FALSE(vault::filterNamed("Images"));
}

TEST(VaultFilters, SplittingARecordAgreesWithTheRecordRules) {
    for (const char* r :
         {"/u/plan.txt.enc", "/u/Work.tar.gz", "/u/a.b/c", "/u/.enc", "/u/x.", "/u/Work/", "/u/noext.enc",
          "/u/old.gz", "/", "rel.tar.gz", "/u/a..enc", "/u/a.b.c.d.gz", "/u/.hidden.enc"}) {
        const auto parts = vault::splitRecord(r);
        EXPECT_EQ(parts.kind, vault::recordKind(r)) << r;
        EXPECT_EQ(parts.name, vault::lastComponent(r)) << r;
        EXPECT_EQ(parts.displayName, vault::displayName(r)) << r;
        if (parts.kind == vault::RecordKind::EncryptedFile) {
            EXPECT_EQ(parts.innerExtension, pathExtension(vault::deletingExtension(r))) << r;
        }
    }
}

TEST(VaultFilters, NeverShrinkTheStoredListAndCloseResetsToAll) {
    ListWorld s;
    writeFile(s.notes / "a.jpg", "j");
    writeFile(s.notes / "b.txt", "t");
    const std::string a = s.encrypt(s.notes / "a.jpg");
    const std::string b = s.encrypt(s.notes / "b.txt");
    s.app->SelectEncryptedImagesAction();
    EXPECT_EQ(s.app->shownRecords(), Strings{a});
    EXPECT_EQ(s.app->tableViewViewsForAllRows("name").size(), 1u);  // the rows the table shows
    writeFile(s.notes / "c.txt", "c");
    const std::string c = s.encrypt(s.notes / "c.txt");
    EXPECT_EQ(s.storedRecords(), (Strings{a, b, c}));
    s.app->SelectEncryptedFoldersAction();
    EXPECT_TRUE(s.app->shownRecords().empty());
    EXPECT_EQ(s.storedRecords(), (Strings{a, b, c}));
    EXPECT_TRUE(s.app->windowShouldClose());
    EXPECT_EQ(s.app->shownRecords(), (Strings{a, b, c}));
    EXPECT_TRUE(s.w.ui.alerts.empty());  // nothing decrypted: no offer
}

TEST(VaultRows, FillFromRecordsAndTheStoredDecryptedList) {
    test::World w;
    AppDelegate app(w.services());
    const fs::path storage = w.dir / "store";
    w.settings.set(prefkey::StorePath, storage.string());
    writeFile(storage / "libdata/plan", "II*");
    for (const char* record : {"/u/plan.txt.enc", "/u/bare.txt.enc", "/u/Work.tar.gz", "/u/Notes/secret.txt"})
        app.addVaultRecord(record, vaultry::vault::recordKind(record));
    app.markDecrypted("/u/bare.txt.enc");  // in memory only: the rows go by the store
    w.settings.set(prefkey::DecryptedRecords, Strings{"/u/Work.tar.gz"});

    EXPECT_EQ(app.tableViewViewForTableColumnRow("name", -1), nullptr);
    auto beyond = app.tableViewViewForTableColumnRow("name", 4);
    ASSERT_NE(beyond, nullptr);
    EXPECT_FALSE(beyond->filled);
    EXPECT_EQ(beyond->theFilePath(), "");

    auto plan = app.tableViewViewForTableColumnRow("name", 0);
    EXPECT_EQ(plan->fileNamelab, "plan.txt");
    EXPECT_TRUE(plan->bHidenEncypt);
    // A thumbnail an earlier version left is never shown: the row shows its item's kind.
    EXPECT_EQ(plan->imageView, ImageRef::iconOf("/u/plan.txt"));
    EXPECT_EQ(plan->switchBtn.image, ImageRef::named("switchdown.png"));
    EXPECT_EQ(plan->showBtn.image, ImageRef::named("finddown.png"));
    EXPECT_FALSE(plan->showBtn.enabled);
    EXPECT_EQ(plan->lockImageView, ImageRef::named("locktag.png"));

    auto bare = app.tableViewViewForTableColumnRow("name", 1);
    EXPECT_EQ(bare->imageView, ImageRef::iconOf("/u/bare.txt"));
    EXPECT_TRUE(bare->showsLocked());

    auto work = app.tableViewViewForTableColumnRow("name", 2);
    EXPECT_EQ(work->fileNamelab, "Work");
    EXPECT_EQ(work->imageView, ImageRef::named("floderimage"));
    EXPECT_EQ(work->switchBtn.image, ImageRef::named("turnoffbtn.png"));
    EXPECT_EQ(work->showBtn.image, ImageRef::named("find.png"));
    EXPECT_TRUE(work->showBtn.enabled);
    EXPECT_EQ(work->lockImageView, ImageRef::named("viewtag.png"));

    auto hidden = app.tableViewViewForTableColumnRow("name", 3);
    EXPECT_FALSE(hidden->bHidenEncypt);
    EXPECT_EQ(hidden->fileNamelab, "secret.txt");
    EXPECT_EQ(hidden->imageView, ImageRef::iconOf("/u/Notes/secret.txt"));

    // Filling every row at once gives the same rows.
    const auto rows = app.tableViewViewsForAllRows("name");
    ASSERT_EQ(rows.size(), 4u);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        auto one = app.tableViewViewForTableColumnRow("name", std::int64_t(r));
        EXPECT_EQ(rows[r]->theFilePath(), one->theFilePath());
        EXPECT_EQ(rows[r]->fileNamelab, one->fileNamelab);
        EXPECT_EQ(rows[r]->imageView, one->imageView);
        EXPECT_EQ(rows[r]->switchBtn.image, one->switchBtn.image);
    }
}

TEST(VaultRows, ActionsPostWithTheRowAsObject) {
    NotificationCenter nc;
    std::vector<std::pair<std::string, const void*>> got;
    for (const char* name : {notify::ClickSwtichOnNotification, notify::ClickSwtichOffNotification,
                             notify::ClickShowInFinderNotification, notify::ClickRemoveItemNotification})
        nc.addObserver(name,
                       [&got](const Notification& n) { got.emplace_back(std::string(n.name), n.object); });
    PSTableCellView row(&nc);
    row.setLockedLook();
    row.ClickSwtichAction();
    row.ClickShowInFinderAction();  // locked: nothing to show
    row.setUnlockedLook();
    row.ClickSwtichAction();
    row.ClickShowInFinderAction();
    row.EncryptedItemAction();
    row.DecryptedItemAction();
    row.RemoveItemAction();
    const std::vector<std::pair<std::string, const void*>> want = {
        {"ClickSwtichOnNotification", &row},     {"ClickSwtichOffNotification", &row},
        {"ClickShowInFinderNotification", &row}, {"ClickSwtichOnNotification", &row},
        {"ClickSwtichOffNotification", &row},    {"ClickRemoveItemNotification", &row}};
    EXPECT_EQ(got, want);
}

TEST(VaultSwitch, AnEditedCopyIsSavedIntoItsArchiveBeforeLocking) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "v1");
    fs::create_directories(s.w.dir / "Work/sub");
    writeFile(s.w.dir / "Work/sub/a.txt", "a1");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    const std::string work = s.encrypt(s.w.dir / "Work");

    auto row = s.row(plan);
    row->ClickSwtichAction();  // switch on
    EXPECT_FALSE(row->showsLocked());
    EXPECT_TRUE(row->showBtn.enabled);
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "v1");
    writeFile(s.notes / "plan.txt", "v2 edited");

    auto workRow = s.row(work);
    workRow->ClickSwtichAction();
    ASSERT_TRUE(fs::exists(s.storage / "Work/sub/a.txt"));
    EXPECT_EQ(s.storedDecrypted(), (Strings{plan, work}));
    const std::string workArchiveBefore = readFile(s.storage / "Work.tar.gz");

    // Reveal shows the copy while it is there.
    row->ClickShowInFinderAction();
    EXPECT_EQ(s.w.workspace.revealed.back(), (s.notes / "plan.txt").string());

    // A restart between decryption and locking still knows which copy changed.
    s.start();
    s.unlock();
    s.w.ui.alerts.clear();
    row = s.row(plan);
    row->ClickSwtichAction();  // switch off
    ASSERT_EQ(s.w.ui.alerts.size(), 1u);
    EXPECT_EQ(s.w.ui.alerts[0].message, "Are you sure you want to Encrypt and hide the selected items ?");
    EXPECT_EQ(s.w.ui.alerts[0].informative,
              "Make sure the item is not being modified, or it will cause a conflict.");
    EXPECT_EQ(s.w.ui.alerts[0].defaultTitle, " Encrypt ");
    EXPECT_TRUE(row->showsLocked());
    EXPECT_FALSE(fs::exists(s.notes / "plan.txt"));
    EXPECT_EQ(s.storedDecrypted(), Strings{work});
    // The unchanged folder copy is removed without touching its archive.
    s.row(work)->ClickSwtichAction();
    EXPECT_FALSE(fs::exists(s.storage / "Work"));
    EXPECT_EQ(readFile(s.storage / "Work.tar.gz"), workArchiveBefore);
    EXPECT_TRUE(s.storedDecrypted().empty());
    EXPECT_EQ(s.app->shownRecords(), (Strings{plan, work}));  // the records stay

    // Decrypting again brings the edit back.
    s.row(plan)->ClickSwtichAction();
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "v2 edited");
    EXPECT_EQ(fs::status(s.storage / vault::CopyManifest::kFileName).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

TEST(VaultSwitch, AnEditedFolderCopyIsSavedToo) {
    ListWorld s;
    writeFile(s.w.dir / "Work/a.txt", "a1");
    const std::string work = s.encrypt(s.w.dir / "Work");
    s.row(work)->ClickSwtichAction();
    writeFile(s.storage / "Work/new.txt", "added");
    s.row(work)->ClickSwtichAction();
    EXPECT_FALSE(fs::exists(s.storage / "Work"));
    s.row(work)->ClickSwtichAction();
    EXPECT_EQ(readFile(s.storage / "Work/new.txt"), "added");
    EXPECT_EQ(readFile(s.storage / "Work/a.txt"), "a1");
}

TEST(VaultSwitch, AChangedCopyIsKeptWhenItCannotBeSaved) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "v1");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    s.row(plan)->ClickSwtichAction();
    writeFile(s.notes / "plan.txt", "v2");
    // A new run where the password has not been entered yet.
    s.start();
    s.w.ui.alerts.clear();
    auto row = s.row(plan);
    row->ClickSwtichAction();
    ASSERT_EQ(s.w.ui.alerts.size(), 2u);
    EXPECT_EQ(s.w.ui.alerts[1].message, "The item could not be hidden again");
    EXPECT_FALSE(row->showsLocked());
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "v2");
    EXPECT_EQ(s.storedDecrypted(), Strings{plan});
    // " Hide and Quit" keeps it too, and says so.
    s.w.ui.alerts.clear();
    EXPECT_EQ(s.app->visibleItemsOffer(), AlertAnswer::Default);
    ASSERT_EQ(s.w.ui.alerts.size(), 2u);
    EXPECT_EQ(s.w.ui.alerts[1].message, "Some items could not be hidden again");
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "v2");
    EXPECT_EQ(s.storedDecrypted(), Strings{plan});

    // Cancel changes nothing; a copy removed by hand just leaves the list.
    s.w.ui.alertAnswers = {AlertAnswer::Alternate};
    row->ClickSwtichAction();
    EXPECT_EQ(s.storedDecrypted(), Strings{plan});
    fs::remove(s.notes / "plan.txt");
    row->ClickSwtichAction();
    EXPECT_TRUE(row->showsLocked());
    EXPECT_TRUE(s.storedDecrypted().empty());
}

TEST(VaultSwitch, AFailedDecryptionLeavesTheRowLocked) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "v1");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    fs::remove(s.storage / "plan.txt.enc");
    auto row = s.row(plan);
    row->ClickSwtichAction();
    EXPECT_TRUE(row->showsLocked());
    EXPECT_TRUE(s.storedDecrypted().empty());

    // Asking an unlocked item to unlock again fails but leaves it looking unlocked.
    writeFile(s.notes / "more.txt", "m");
    const std::string more = s.encrypt(s.notes / "more.txt");
    row = s.row(more);
    row->ClickSwtichAction();
    row->EncryptedItemAction();
    EXPECT_FALSE(row->showsLocked());
    EXPECT_EQ(s.storedDecrypted(), Strings{more});
}

TEST(VaultReveal, WithoutAFileManagerThePathIsOfferedToCopyAndNothingElseOpens) {
    ListWorld s;
    fs::create_directories(s.w.dir / "Work");
    writeFile(s.w.dir / "Work/a.txt", "a1");
    const std::string work = s.encrypt(s.w.dir / "Work");
    s.w.workspace.fileManager = false;
    s.w.ui.alerts.clear();
    // Decrypting shows the copy; no file manager can, so its path is offered instead.
    s.w.ui.alertAnswers = {AlertAnswer::Alternate};
    auto row = s.row(work);
    row->ClickSwtichAction();
    const std::string copy = (s.storage / "Work").string();
    ASSERT_TRUE(fs::exists(copy));
    ASSERT_EQ(s.w.ui.alerts.size(), 1u);
    EXPECT_EQ(s.w.ui.alerts[0].message, "No file manager can show this item.");
    EXPECT_EQ(s.w.ui.alerts[0].informative.rfind(copy + "\n", 0), 0u) << s.w.ui.alerts[0].informative;
    EXPECT_EQ(s.w.ui.alerts[0].defaultTitle, " Copy ");
    EXPECT_EQ(s.w.ui.alerts[0].alternateTitle, " Close ");
    EXPECT_TRUE(s.w.workspace.copiedTexts.empty());
    // "Show in Folder", answered with Copy: the path is on the clipboard, as text only.
    row->ClickShowInFinderAction();
    ASSERT_EQ(s.w.ui.alerts.size(), 2u);
    EXPECT_EQ(s.w.workspace.copiedTexts, Strings{copy});
    EXPECT_TRUE(s.w.workspace.copied.empty());
    EXPECT_EQ(s.w.workspace.revealed, (Strings{copy, copy}));
    // With a file manager there is nothing to ask.
    s.w.workspace.fileManager = true;
    row->ClickShowInFinderAction();
    EXPECT_EQ(s.w.ui.alerts.size(), 2u);
}

TEST(VaultSwitch, UnhidingAHiddenItemAsksRevealsAndUnhides) {
    ListWorld s;
    const std::string secret = (s.notes / "secret.txt").string();
    writeFile(secret, "s");
    s.w.hiddenFlag.hidden.insert(secret);
    s.app->addVaultRecord(secret, vaultry::vault::recordKind(secret));
    s.app->saveRecords();
    s.w.ui.alertAnswers = {AlertAnswer::Alternate};
    s.row(secret)->ClickSwtichAction();
    EXPECT_TRUE(s.w.hiddenFlag.isHidden(secret));
    EXPECT_EQ(s.w.ui.alerts.back().message, "Are you sure you want to unhide the selected items ?");
    EXPECT_EQ(s.w.ui.alerts.back().informative, "Unhide files are no longer protected by vaultry.");
    EXPECT_EQ(s.w.ui.alerts.back().defaultTitle, " Unhide ");
    s.row(secret)->ClickSwtichAction();
    EXPECT_FALSE(s.w.hiddenFlag.isHidden(secret));
    EXPECT_EQ(s.w.workspace.revealed.back(), secret);
    EXPECT_TRUE(s.storedRecords().empty());
}

TEST(VaultRemove, ALockedItemComesBackBeforeItsArchiveGoes) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "the plan");
    writeFile(s.w.dir / "Work/a.txt", "a");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    const std::string work = s.encrypt(s.w.dir / "Work");

    s.clickRow(plan);
    s.w.ui.alertAnswers = {AlertAnswer::Alternate};
    s.app->RemoveFileFromListAction();
    EXPECT_EQ(s.w.ui.alerts.back().message,
              "Are you sure you want to remove the selected items from Vaultry?");
    EXPECT_EQ(s.w.ui.alerts.back().defaultTitle, " Remove ");
    EXPECT_EQ(s.storedRecords(), (Strings{plan, work}));

    s.app->RemoveFileFromListAction();
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "the plan");
    EXPECT_FALSE(fs::exists(s.storage / "plan.txt.enc"));
    EXPECT_EQ(s.storedRecords(), Strings{work});

    s.clickRow(work);
    s.app->RemoveFileFromListAction();
    EXPECT_EQ(readFile(s.w.dir / "Work/a.txt"), "a");
    EXPECT_FALSE(fs::exists(s.storage / "Work.tar.gz"));
    EXPECT_TRUE(s.storedRecords().empty());
    EXPECT_TRUE(s.app->shownRecords().empty());
}

TEST(VaultRemove, NothingIsRemovedWhenTheItemCannotBeRestored) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "the plan");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    writeFile(s.notes / "plan.txt", "a new file of the same name");
    s.clickRow(plan);
    s.app->RemoveFileFromListAction();
    EXPECT_EQ(s.w.ui.alerts.back().message, "The item could not be restored");
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "a new file of the same name");
    EXPECT_TRUE(fs::exists(s.storage / "plan.txt.enc"));
    EXPECT_EQ(s.storedRecords(), Strings{plan});

    // Without the pass phrase of this run, nothing can be restored either.
    fs::remove(s.notes / "plan.txt");
    s.start();
    s.clickRow(plan);
    s.app->RemoveFileFromListAction();
    EXPECT_EQ(s.w.ui.alerts.back().message, "The item could not be restored");
    EXPECT_TRUE(fs::exists(s.storage / "plan.txt.enc"));
    EXPECT_EQ(s.storedRecords(), Strings{plan});
}

TEST(VaultRemove, UnlockedHiddenAndOrphanRecords) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "the plan");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    s.row(plan)->ClickSwtichAction();
    // An unlocked item keeps its copy; its archive goes.
    s.clickRow(plan);
    s.app->RemoveFileFromListAction();
    EXPECT_EQ(readFile(s.notes / "plan.txt"), "the plan");
    EXPECT_FALSE(fs::exists(s.storage / "plan.txt.enc"));
    EXPECT_TRUE(s.storedDecrypted().empty());

    // A hidden item keeps its flag, and nothing in the storage folder is touched.
    const std::string secret = (s.w.dir / "Work").string();
    writeFile(s.w.dir / "Work/x", "x");
    writeFile(s.storage / "Work/keep", "someone's decrypted copy");
    s.w.hiddenFlag.hidden.insert(secret);
    s.app->addVaultRecord(secret, vaultry::vault::recordKind(secret));
    // A record whose archive is missing, and a hidden file whose name ends in .gz.
    s.app->addVaultRecord((s.notes / "gone.txt.enc").string(),
                          vaultry::vault::recordKind((s.notes / "gone.txt.enc").string()));
    writeFile(s.notes / "logs.gz", "gz");
    s.app->addVaultRecord((s.notes / "logs.gz").string(),
                          vaultry::vault::recordKind((s.notes / "logs.gz").string()));
    s.app->saveRecords();
    for (int i = 0; i < 3; ++i) {
        s.w.ui.at("fileTableView").clickedRow = 0;
        s.app->RemoveFileFromListAction();
    }
    EXPECT_TRUE(s.w.hiddenFlag.isHidden(secret));
    EXPECT_TRUE(fs::exists(s.storage / "Work/keep"));
    EXPECT_EQ(readFile(s.notes / "logs.gz"), "gz");
    EXPECT_TRUE(s.storedRecords().empty());

    // A row beyond the list does nothing.
    const auto alerts = s.w.ui.alerts.size();
    s.w.ui.at("fileTableView").clickedRow = 5;
    s.app->RemoveFileFromListAction();
    s.w.ui.at("fileTableView").clickedRow = -1;
    s.app->RemoveFileFromListAction();
    EXPECT_EQ(s.w.ui.alerts.size(), alerts);
}

TEST(VaultClose, TheVisibleItemsOffer) {
    ListWorld s;
    writeFile(s.notes / "plan.txt", "p");
    writeFile(s.w.dir / "Work/a.txt", "a");
    const std::string plan = s.encrypt(s.notes / "plan.txt");
    const std::string work = s.encrypt(s.w.dir / "Work");
    s.row(plan)->ClickSwtichAction();
    s.row(work)->ClickSwtichAction();
    s.w.ui.alerts.clear();
    s.app->SelectEncryptedFoldersAction();

    // Cancel, both ways: the window stays, the list too.
    s.w.ui.showWindow("thefileManageWindow");
    s.w.ui.alertAnswers = {AlertAnswer::Alternate};
    EXPECT_FALSE(s.app->windowShouldClose());
    EXPECT_EQ(s.app->shownRecords().size(), 2u);  // reset to All whatever the answer
    s.w.ui.alertAnswers = {AlertAnswer::Alternate};
    s.w.nc.post(notify::MyClosebuttonMouseDown, s.w.ui.outlet("closedFileWindowButton"));
    EXPECT_TRUE(s.w.ui.isVisible("thefileManageWindow"));
    EXPECT_EQ(s.storedDecrypted(), (Strings{plan, work}));
    ASSERT_EQ(s.w.ui.alerts.size(), 2u);
    EXPECT_EQ(s.w.ui.alerts[0].message, "Some items are visible");
    EXPECT_EQ(s.w.ui.alerts[0].informative,
              "Do you want to hide all the visible items before quitting Vaultry ?");
    EXPECT_EQ(s.w.ui.alerts[0].defaultTitle, " Hide and Quit");
    EXPECT_EQ(s.w.ui.alerts[0].alternateTitle, " Cancel ");
    EXPECT_EQ(s.w.ui.alerts[0].otherTitle, " Quit ");

    // " Quit" closes the window and leaves the copies.
    s.w.ui.alertAnswers = {AlertAnswer::Other};
    EXPECT_TRUE(s.app->windowShouldClose());
    EXPECT_FALSE(s.w.ui.isVisible("thefileManageWindow"));
    EXPECT_TRUE(fs::exists(s.notes / "plan.txt"));

    // " Hide and Quit" removes both copies and empties the list, in memory and stored.
    s.w.ui.showWindow("thefileManageWindow");
    s.w.nc.post(notify::MyClosebuttonMouseDown, s.w.ui.outlet("closedFileWindowButton"));
    EXPECT_FALSE(s.w.ui.isVisible("thefileManageWindow"));
    EXPECT_FALSE(fs::exists(s.notes / "plan.txt"));
    EXPECT_FALSE(fs::exists(s.storage / "Work"));
    EXPECT_TRUE(fs::exists(s.storage / "Work.tar.gz"));
    EXPECT_TRUE(s.app->decryptedRecords().empty());
    EXPECT_TRUE(s.storedDecrypted().empty());

    // Quitting asks nothing.
    const auto alerts = s.w.ui.alerts.size();
    s.app->QuiteVaultryAction();
    EXPECT_TRUE(s.w.ui.terminated);
    EXPECT_EQ(s.w.ui.alerts.size(), alerts);
}

TEST(VaultClose, OtherCloseButtonsAndNoStorageFolder) {
    test::World w;
    AppDelegate app(w.services());
    w.ui.showWindow("enterPDWindow");
    w.ui.showWindow("preferWindows");
    w.nc.post(notify::MyClosebuttonMouseDown, w.ui.outlet("closedPrefWindowButton"));
    EXPECT_FALSE(w.ui.isVisible("preferWindows"));
    EXPECT_TRUE(w.ui.isVisible("enterPDWindow"));
    w.nc.post(notify::MyClosebuttonMouseDown, w.ui.outlet("closedPDWindowButton"));
    EXPECT_FALSE(w.ui.isVisible("enterPDWindow"));
    EXPECT_TRUE(w.ui.alerts.empty());

    // With no storage folder known, no copy path is formed and nothing is deleted.
    EXPECT_FALSE(vault::safePlaintextCopy("", "/home/u/Work.tar.gz"));
    EXPECT_FALSE(vault::safePlaintextCopy("/s", "/home/u/notes.txt"));
    EXPECT_FALSE(vault::safePlaintextCopy("/s", "/.enc"));
    // (stored: the vault window reads the lists again before it acts)
    app.markDecrypted("/home/u/Work.tar.gz");
    app.markDecrypted("/home/u/plain.txt");
    app.saveDecrypted();
    EXPECT_EQ(app.visibleItemsOffer(), AlertAnswer::Default);
    EXPECT_EQ(app.decryptedRecords(), Strings{"/home/u/Work.tar.gz"});
    EXPECT_EQ(w.ui.alerts.back().message, "Some items could not be hidden again");
}

TEST(CopyManifest, ReadsWhatItWritesAndSkipsDamagedLines) {
    test::TempDir dir;
    vault::CopyManifest m;
    m.set("/u/a\nb .enc", std::string(64, 'a'));
    m.set("/u/c.tar.gz", std::string(64, 'b'));
    ASSERT_TRUE(m.save(dir.path()));
    const auto back = vault::CopyManifest::load(dir.path());
    ASSERT_EQ(back.size(), 2u);
    EXPECT_EQ(*back.find("/u/a\nb .enc"), std::string(64, 'a'));
    const auto damaged =
        vault::CopyManifest::parse(std::string(64, 'c') + " 2f75\nxyz\n" + std::string(64, 'g') + " 2f\n" +
                                   std::string(64, 'd') + " 2f7\n\n");
    EXPECT_EQ(damaged.size(), 1u);
    EXPECT_NE(damaged.find("/u"), nullptr);

    // The object a copy was when it was unpacked is kept with it; lines written before it was
    // kept still read, without one.
    vault::CopyManifest tied;
    tied.set("/u/d.txt.enc", std::string(64, 'e'));
    tied.setIdentity("/u/d.txt.enc", {2049, 77, 'f', 123456});
    ASSERT_TRUE(tied.save(dir.path()));
    const auto again = vault::CopyManifest::load(dir.path());
    ASSERT_NE(again.identity("/u/d.txt.enc"), nullptr);
    EXPECT_EQ(*again.identity("/u/d.txt.enc"), (vault::Identity{2049, 77, 'f', 123456}));
    EXPECT_EQ(again.identity("/u/c.tar.gz"), nullptr);
    EXPECT_EQ(*again.find("/u/c.tar.gz"), std::string(64, 'b'));
    const auto older = vault::CopyManifest::parse(std::string(64, 'f') + " 2f75\n");
    EXPECT_NE(older.find("/u"), nullptr);
    EXPECT_EQ(older.identity("/u"), nullptr);

    writeFile(dir / "f/x", "1");
    const auto before = vault::copyDigest(dir / "f");
    writeFile(dir / "f/x", "2");
    EXPECT_NE(*before, *vault::copyDigest(dir / "f"));
    writeFile(dir / "f/x", "1");
    EXPECT_EQ(*before, *vault::copyDigest(dir / "f"));
    writeFile(dir / "f/y", "");
    EXPECT_NE(*before, *vault::copyDigest(dir / "f"));
    EXPECT_FALSE(vault::copyDigest(dir / "missing"));
}

// The change digest of a copy covers every byte, also of a file read in several pieces on
// several cores, and every name, kind and link target; the same tree elsewhere has the same
// digest. The manifest keeps digests of both lengths: earlier copies' SHA-256 ones too.
TEST(CopyManifest, TheCopyDigestSeesEveryChangeAndReadsBothDigestLengths) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    std::string big(70 << 20, 'a');  // three pieces
    writeFile(dir / "a/big", big);
    writeFile(dir / "a/s/small", "small");
    fs::create_symlink("s/small", dir / "a/link");
    fs::copy(dir / "a", dir / "b", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
    const auto a = vault::copyDigest(dir / "a");
    ASSERT_TRUE(a);
    EXPECT_EQ(a->size(), 32u);
    EXPECT_EQ(*a, *vault::copyDigest(dir / "b"));
    const auto changed = [&](const std::function<void()>& change) {
        fs::remove_all(dir / "c");
        fs::copy(dir / "a", dir / "c", fs::copy_options::recursive | fs::copy_options::copy_symlinks);
        change();
        const auto c = vault::copyDigest(dir / "c");
        return c && *c != *a;
    };
    EXPECT_TRUE(changed([&] {
        big[(40 << 20) + 5] = 'b';  // in the middle piece, same size
        writeFile(dir / "c/big", big);
        big[(40 << 20) + 5] = 'a';
    }));
    EXPECT_TRUE(changed([&] { writeFile(dir / "c/big", big + "a"); }));
    EXPECT_TRUE(changed([&] { fs::rename(dir / "c/s/small", dir / "c/s/smalL"); }));
    EXPECT_TRUE(changed([&] {
        fs::remove(dir / "c/link");
        fs::create_symlink("s/smalL", dir / "c/link");
    }));
    EXPECT_TRUE(changed([&] {
        fs::remove(dir / "c/link");
        writeFile(dir / "c/link", "s/small");
    }));
    EXPECT_TRUE(changed([&] { fs::create_directory(dir / "c/empty"); }));
    EXPECT_FALSE(changed([] {}));

    const auto both = vault::CopyManifest::parse(std::string(32, 'a') + " 2f61\n" + std::string(64, 'b') +
                                                 " 2f62\n" + std::string(40, 'c') + " 2f63\n");
    EXPECT_EQ(*both.find("/a"), std::string(32, 'a'));
    EXPECT_EQ(*both.find("/b"), std::string(64, 'b'));
    EXPECT_EQ(both.find("/c"), nullptr);
}

// A copy's digest taken from the bytes as they were unpacked is the digest a reading of the copy
// gives, for a folder (a file of several pieces, an empty one, a link) and for a file archive.
// It is what was unpacked: a file changed afterwards makes a reading differ from it.
TEST(CopyManifest, TheDigestTakenWhileUnpackingIsTheOneAReadingGives) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    writeFile(dir / "Work/big", std::string((40 << 20) + 3, 'z'));
    writeFile(dir / "Work/empty", "");
    writeFile(dir / "Work/sub/a.txt", "alpha");
    fs::create_symlink("sub/a.txt", dir / "Work/link");
    writeFile(dir / "Hard/a", "shared");
    fs::create_hard_link(dir / "Hard/a", dir / "Hard/b");
    writeFile(dir / "plan.txt", "the plan");
    ASSERT_TRUE(vault::packFolder(dir / "Work", dir / "Work.tar.gz", "pw"));
    ASSERT_TRUE(vault::encryptFile(dir / "plan.txt", dir / "plan.txt.enc", "pw"));
    // GNU tar writes the second name as a link entry; so would macOS tar.
    ASSERT_EQ(
        test::runProgram({"tar", "-czf", (dir / "hard.tgz").string(), "-C", dir.path().string(), "Hard"}), 0);
    ASSERT_TRUE(vault::encryptFile(dir / "hard.tgz", dir / "Hard.tar.gz", "pw", vault::ArchiveKind::Folder));
    fs::create_directories(dir / "out");

    vault::WrittenFiles folder, file;
    ASSERT_TRUE(vault::unpackFolder(dir / "Work.tar.gz", dir / "out", "pw", {vault::kNewDerivation, {}, {}},
                                    nullptr, Progress::none(), &folder));
    ASSERT_TRUE(vault::decryptFile(dir / "plan.txt.enc", dir / "out/plan.txt", "pw",
                                   {vault::kNewDerivation, {}, {}}, Progress::none(), &file));
    ASSERT_NE(folder.find("Work/big"), nullptr);
    EXPECT_EQ(folder.find("Work/big")->pieces.size(), 2u);
    // A later entry written through one name of a hard link changes the other: with a hard link
    // in the archive, nothing is taken from what was hashed, and the digest is read.
    vault::WrittenFiles linked;
    ASSERT_TRUE(vault::unpackFolder(dir / "Hard.tar.gz", dir / "out", "pw", {vault::kNewDerivation, {}, {}},
                                    nullptr, Progress::none(), &linked));
    EXPECT_EQ(linked.find("Hard/a"), nullptr);
    EXPECT_EQ(*vault::copyDigest(dir / "out/Hard", &linked), *vault::copyDigest(dir / "out/Hard"));
    for (const auto& [copy, written] :
         {std::pair{dir / "out/Work", &folder}, std::pair{dir / "out/plan.txt", &file}}) {
        SCOPED_TRACE(copy);
        const auto read = vault::copyDigest(copy);
        ASSERT_TRUE(read);
        EXPECT_EQ(*vault::copyDigest(copy, written), *read);
    }
    const auto unpacked = *vault::copyDigest(dir / "out/Work");
    writeFile(dir / "out/Work/sub/a.txt", "alphA");
    EXPECT_EQ(*vault::copyDigest(dir / "out/Work", &folder), unpacked);
    EXPECT_NE(*vault::copyDigest(dir / "out/Work"), unpacked);
}

// Two processes that loaded the copy manifest before either saved: both records stay, and an
// erase by one does not bring back or drop the other's.
TEST(CopyManifest, SavesMergeUnderTheLockInsteadOfOverwriting) {
    namespace fs = std::filesystem;
    test::TempDir dir;
    const std::string a(64, 'a'), b(64, 'b'), c(64, 'c');
    {
        vault::CopyManifest m = vault::CopyManifest::load(dir.path());
        m.set("/u/old", a);
        ASSERT_TRUE(m.save(dir.path()));
    }
    vault::CopyManifest gui = vault::CopyManifest::load(dir.path());
    vault::CopyManifest cli = vault::CopyManifest::load(dir.path());
    gui.set("/u/gui", b);
    cli.set("/u/cli", c);
    cli.erase("/u/old");
    ASSERT_TRUE(gui.save(dir.path()));
    ASSERT_TRUE(cli.save(dir.path()));
    auto back = vault::CopyManifest::load(dir.path());
    EXPECT_EQ(back.size(), 2u);
    ASSERT_NE(back.find("/u/gui"), nullptr);
    EXPECT_EQ(*back.find("/u/gui"), b);
    ASSERT_NE(back.find("/u/cli"), nullptr);
    EXPECT_EQ(back.find("/u/old"), nullptr);
    EXPECT_EQ(fs::status(dir / vault::CopyManifest::kFileName).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);

    // Many writers at once, each loading, adding and saving in turn.
    constexpr int kWriters = 6, kRecords = 25;
    std::vector<std::thread> writers;
    for (int w = 0; w < kWriters; ++w)
        writers.emplace_back([&, w] {
            for (int r = 0; r < kRecords; ++r) {
                vault::CopyManifest m = vault::CopyManifest::load(dir.path());
                m.set("/w" + std::to_string(w) + "/" + std::to_string(r), a);
                EXPECT_TRUE(m.save(dir.path()));
            }
        });
    for (auto& t : writers) t.join();
    back = vault::CopyManifest::load(dir.path());
    EXPECT_EQ(back.size(), 2u + kWriters * kRecords);
    for (const auto& e : fs::directory_iterator(dir.path()))
        EXPECT_EQ(e.path().filename(), vault::CopyManifest::kFileName) << e.path();
}

}  // namespace
}  // namespace vaultry
