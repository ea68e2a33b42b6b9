// End to end: the vault window and its storage folder, the preferences, and the cookie page.
// The fixture and main() are in EndToEnd.h and EndToEndTest.cpp.
#include <gtest/gtest.h>
#include <QComboBox>
#include <QCoreApplication>
#include <QIcon>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QToolButton>
#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "e2e/EndToEnd.h"
#include "gui/VaultTable.h"
#include "platform/Outlets.h"
#include "settings/Preferences.h"
#include "support/CookieFiles.h"
#include "support/FakePorts.h"
#include "vault/AutoLock.h"
#include "vault/StorageLock.h"

namespace fs = std::filesystem;
using namespace vaultry;
using vaultry::test::TempDir;
using vaultry::test::writeFile;
using namespace vaultry::e2e;

// ---- Flows 7, 8, 9: the vault --------------------------------------------------------------------

namespace {
// Creates the password and the storage folder through their windows.
void createVault(AppRun& run, const fs::path& storageParent, Answers& answers) {
    run.clickText(run.main(), "Open Vault");
    ASSERT_TRUE(run.window(outlet::CreatePWWindow)->isVisible());
    QTest::keyClicks(run.widget<QLineEdit>(outlet::theCreatePWLab), "secret");
    QTest::keyClicks(run.widget<QLineEdit>(outlet::theConfirmPWLab), "secret");
    answers.choose(storageParent.string());
    run.click(outlet::doneButton);
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
    ASSERT_TRUE(run.app.settings.string(prefkey::StorePath).has_value());
}

void encrypt(AppRun& run, const fs::path& item, Answers& answers) {
    answers.choose(item.string());
    answers.button("Encrypt");
    run.clickText(run.main(), "Encrypt Items…");
    ASSERT_TRUE(waitFor([&] { return answers.done(); }));
}
}  // namespace

TEST(EndToEnd, VaultRowsOfNonPicturesShowTheirTypeIcon) {
    Home home;
    const fs::path vaults = home.dir / "Vaults";
    fs::create_directories(vaults);
    writeFile(home.dir / "Documents/notes.txt", "my notes");
    AppRun run;
    Answers answers;
    createVault(run, vaults, answers);
    encrypt(run, home.dir / "Documents/notes.txt", answers);
    EXPECT_FALSE(fs::exists(home.dir / "Documents/notes.txt"));
    auto* table = run.widget<QTableView>(outlet::fileTableView);
    ASSERT_EQ(table->model()->rowCount(), 1);
    const QIcon icon = table->model()->index(0, 0).data(qt::VaultTableModel::PictureRole).value<QIcon>();
    EXPECT_FALSE(icon.isNull());
    EXPECT_FALSE(icon.pixmap(QSize(32, 32)).isNull());
}

TEST(EndToEnd, CancellingThePasswordPromptForgetsWhyItWasOpened) {
    Home home;
    const fs::path vaults = home.dir / "Vaults";
    fs::create_directories(vaults);
    {
        AppRun run;
        Answers answers;
        createVault(run, vaults, answers);
    }
    AppRun run;
    run.clickText(run.main(), "Preferences…");
    ASSERT_TRUE(run.window(outlet::enterPDWindow)->isVisible());
    run.click(outlet::closedPDWindowButton);
    EXPECT_FALSE(run.window(outlet::enterPDWindow)->isVisible());
    run.clickText(run.main(), "Open Vault");
    ASSERT_TRUE(run.window(outlet::enterPDWindow)->isVisible());
    QTest::keyClicks(run.widget<QLineEdit>(outlet::enterPWLab), "secret");
    QTest::keyClick(run.widget<QLineEdit>(outlet::enterPWLab), Qt::Key_Return);
    EXPECT_TRUE(run.window(outlet::thefileManageWindow)->isVisible());
    EXPECT_FALSE(run.window(outlet::preferWindows)->isVisible());
}

TEST(EndToEnd, ChoosingAnotherStorageFolderMovesTheVault) {
    Home home;
    const fs::path first = home.dir / "First", second = home.dir / "Second";
    fs::create_directories(first);
    fs::create_directories(second);
    writeFile(home.dir / "Documents/plan.txt", "the plan");
    AppRun run;
    Answers answers;
    createVault(run, first, answers);
    encrypt(run, home.dir / "Documents/plan.txt", answers);
    const auto oldStorage = first / "vaultry.data";
    std::vector<std::string> archives;
    // Everything the vault keeps there; the folder's lock file belongs to the folder, not the vault.
    for (const auto& e : fs::directory_iterator(oldStorage))
        if (e.is_regular_file() && e.path().filename() != vault::StorageLock::kFileName)
            archives.push_back(e.path().filename().string());
    ASSERT_FALSE(archives.empty());

    run.window(outlet::thefileManageWindow)->hide();
    run.clickText(run.main(), "Preferences…");
    QTest::keyClicks(run.widget<QLineEdit>(outlet::enterPWLab), "secret");
    QTest::keyClick(run.widget<QLineEdit>(outlet::enterPWLab), Qt::Key_Return);
    ASSERT_TRUE(run.window(outlet::preferWindows)->isVisible());
    answers.choose(second.string());
    run.click(outlet::selectStorageBtn);
    ASSERT_TRUE(waitFor([&] { return answers.done() && !run.delegate().isMovingStorage(); }));
    const auto newStorage = second / "vaultry.data";
    EXPECT_EQ(run.app.settings.string(prefkey::StorePath), newStorage.string());
    for (const auto& name : archives) EXPECT_TRUE(fs::exists(newStorage / name)) << name;
    EXPECT_EQ(run.app.ui.text(outlet::StorePathlab), newStorage.string());
    // The old folder is left as it was, and the user is told so.
    for (const auto& name : archives) EXPECT_TRUE(fs::exists(oldStorage / name)) << name;
    EXPECT_EQ(std::count(answers.alerts.begin(), answers.alerts.end(), "The old storage folder was kept."),
              1);
    EXPECT_FALSE(fs::exists(oldStorage / ".vaultry-move"));
    // Every item still reads as present: it decrypts from the new folder.
    auto* table = run.widget<QTableView>(outlet::fileTableView);
    ASSERT_EQ(table->model()->rowCount(), 1);
    const std::string record = run.delegate().shownRecords().at(0);
    EXPECT_TRUE(run.delegate().DecryptFileFolderFunction(record));
}

// ---- Preferences -------------------------------------------------------------------------------

TEST(EndToEnd, PreferencesKeepAutoLockErasePassesAndTidyExclusionsAcrossRestarts) {
    Home home;
    {
        AppRun run;
        auto* lock = run.widget<QComboBox>(outlet::autoLockPopup);
        auto* passes = run.widget<QComboBox>(outlet::erasePassesPopup);
        ASSERT_NE(lock, nullptr);
        ASSERT_NE(passes, nullptr);
        EXPECT_EQ(plain(lock->currentText()), "Off");
        lock->setCurrentIndex(3);
        emit lock->activated(3);
        passes->setCurrentIndex(1);
        emit passes->activated(1);
        EXPECT_EQ(run.app.settings.number(vault::kAutoLockMinutesKey), 60u);
        EXPECT_EQ(run.app.settings.number(prefkey::ErasePasses), 1u);

        auto* list = run.widget<QListWidget>(outlet::tidyExclusionList);
        ASSERT_NE(list, nullptr);
        run.widget<QLineEdit>(outlet::tidyExclusionField)->setText("notes-*.txt");
        run.widget<QPushButton>(outlet::addTidyExclusionBtn)->click();
        run.widget<QPushButton>(outlet::keepLaunchersBtn)->click();
        ASSERT_EQ(list->count(), 2);
        EXPECT_EQ(list->item(1)->text(), "*.desktop");
        list->setCurrentRow(0);
        run.widget<QPushButton>(outlet::removeTidyExclusionBtn)->click();
        EXPECT_EQ(run.app.settings.stringArray(prefkey::TidyExclusions),
                  std::vector<std::string>{"*.desktop"});
    }
    AppRun run;
    EXPECT_EQ(plain(run.widget<QComboBox>(outlet::autoLockPopup)->currentText()), "60 minutes");
    EXPECT_EQ(plain(run.widget<QComboBox>(outlet::erasePassesPopup)->currentText()), "1 pass (fast)");
    auto* list = run.widget<QListWidget>(outlet::tidyExclusionList);
    ASSERT_EQ(list->count(), 1);
    EXPECT_EQ(list->item(0)->text(), "*.desktop");
    // A tidy leaves the launchers the list keeps on the desktop.
    writeFile(home.desktop() / "editor.desktop", "[Desktop Entry]\n");
    writeFile(home.desktop() / "report.pdf", "%PDF");
    fs::create_directories(home.dir / "Tidied");
    Answers answers;
    tidyWithLocation(run, home.dir / "Tidied", answers);
    EXPECT_TRUE(fs::exists(home.desktop() / "editor.desktop"));
    EXPECT_FALSE(fs::exists(home.desktop() / "report.pdf"));
}

// ---- The cookie page: profiles, removal of part of a store, the keep-list ------------------------

TEST(EndToEnd, TheCookiePageOffersProfilesRemovesFromARowsMenuAndKeepsTheKeptSite) {
    Home home;
    const fs::path db = home.dir / ".config/google-chrome/Default/Network/Cookies";
    fs::create_directories(db.parent_path());
    test::makeChromeDb(db, true);
    int id = 0;
    for (const char* host : {"a.com", "b.org", "c.net"})
        test::sql(db, "INSERT INTO cookies VALUES(" + std::to_string(++id) + ",'" + host +
                          "','','n','',x'0102','/',0,1,0,0,0,0,1,0,2,443,0,0,0);");
    const auto stored = [&] {
        std::vector<std::string> hosts;
        for (const auto& n : cookies::readStore(db.string(), cookies::Layout::Chrome))
            hosts.push_back(n->fileHost().value_or(""));
        return hosts;
    };

    AppRun run;
    run.main()->show();
    run.app.windows.showPage(qt::AppWindows::Page::Cookies);
    QMenu* profiles = run.widget<QToolButton>(outlet::chromeProfilesBtn)->menu();
    emit profiles->aboutToShow();
    ASSERT_EQ(profiles->actions().size(), 1);
    EXPECT_EQ(profiles->actions()[0]->text(), QString::fromUtf8("Google Chrome — Default"));
    profiles->actions()[0]->trigger();
    ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    auto* table = run.widget<QTableView>(outlet::dataTableView);
    ASSERT_EQ(table->model()->rowCount(), 3);
    QCoreApplication::processEvents();

    // The menu of b.org's row: keep the site.
    const auto rowMenu = [&](const char* host) -> QMenu* {
        for (int r = 0; r < table->model()->rowCount(); ++r)
            if (table->model()->index(r, 0).data().toString() == host) {
                const QPoint at = table->visualRect(table->model()->index(r, 0)).center();
                emit table->customContextMenuRequested(at);
                break;
            }
        for (auto* menu : table->findChildren<QMenu*>())
            if (menu->isVisible()) return menu;
        return nullptr;
    };
    const auto choose = [](QMenu* menu, const char* text) {
        for (auto* a : menu->actions())
            if (a->text() == text) {
                a->trigger();
                menu->close();
                return true;
            }
        return false;
    };
    QMenu* menu = rowMenu("b.org");
    ASSERT_NE(menu, nullptr);
    ASSERT_TRUE(choose(menu, "Keep This Site"));
    auto* keep = run.widget<QListWidget>(outlet::cookieKeepList);
    ASSERT_EQ(keep->count(), 1);
    EXPECT_EQ(keep->item(0)->text(), "b.org");

    // Remove Selected takes the selected row only.
    table->selectRow(0);
    const QString first = table->model()->index(0, 0).data().toString();
    run.clickText(run.main(), "Remove Selected");
    ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    const auto left = stored();
    EXPECT_EQ(left.size(), 2u);
    EXPECT_EQ(std::count(left.begin(), left.end(), first.toStdString()), 0) << first.toStdString();

    // Remove All leaves the kept site.
    run.clickText(run.main(), "Remove All");
    ASSERT_TRUE(waitFor([&] { return !run.delegate().cookieWorkerRunning(); }));
    EXPECT_EQ(stored(), std::vector<std::string>{"b.org"});
}
