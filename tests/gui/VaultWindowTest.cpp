#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QProgressBar>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <filesystem>
#include <fstream>

#include "gui/GuiHarness.h"
#include "gui/SkinWidgets.h"
#include "gui/VaultTable.h"
#include "gui/Views.h"
#include "settings/Preferences.h"
#include "vault/AutoLock.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"

using namespace vaultry;
using namespace vaultry::qt;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

namespace {

// The real windows and the controller, wired as the application wires them.
struct VaultGui {
    test::GuiWorld world;
    std::unique_ptr<AppDelegate> app;
    QtUi& ui = world.ui;

    VaultGui() {
        app = std::make_unique<AppDelegate>(world.services());
        wireCommands(world.commands, world.ui, *app);
        app->awakeFromNib();
    }
    ~VaultGui() {
        for (const auto& [name, w] : world.windows.topLevels())
            if (w) w->hide();
    }
    // A password "pw", a storage folder and the password entered.
    void unlocked() {
        world.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
        fs::create_directories(world.dir.path() / "Safe");
        app->openPanelDidEnd8(platform::Ui::Paths{(world.dir.path() / "Safe").string()});
        ui.setText("enterPWLab", "pw");
        app->ReturnOnPasswordField();
    }
    fs::path file(const std::string& name) {
        const fs::path p = world.dir.path() / "Docs" / name;
        fs::create_directories(p.parent_path());
        std::ofstream(p) << "contents of " << name;
        return p;
    }
    QTableView* table() { return ui.widget<QTableView>("fileTableView"); }
    VaultTableModel* model() { return qobject_cast<VaultTableModel*>(table()->model()); }
    int rowOf(const std::string& record) {
        for (int r = 0; r < model()->rowCount(); ++r)
            if (model()->rowView(r)->theFilePath() == record) return r;
        return -1;
    }
    QString look(const std::string& record, int role) {
        return model()->index(rowOf(record), 0).data(role).toString();
    }
    Strings storedDecrypted() {
        return world.settings.stringArray(prefkey::DecryptedRecords).value_or(Strings{});
    }
};

// Answers the next modal alert with the button of this exact title.
void answerWith(const QString& title, QString* shown = nullptr) {
    QTimer::singleShot(0, [title, shown] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr) << "no alert";
        if (shown) *shown = box->text();
        for (QAbstractButton* b : box->buttons())
            if (b->text() == title) return b->click();
        ADD_FAILURE() << "no button titled '" << title.toStdString() << "'";
        box->reject();
    });
}

// Types "pw one" twice into the create window and presses Done; the storage folder's sheet that
// then opens on the window, or null when none does.
QFileDialog* createPasswordUntilTheSheet(qt::QtUi& ui) {
    QTest::keyClicks(ui.widget<QLineEdit>("theCreatePWLab"), "pw one");
    QTest::keyClicks(ui.widget<QLineEdit>("theConfirmPWLab"), "pw one");
    QTest::mouseClick(ui.widget<QWidget>("doneButton"), Qt::LeftButton);
    QFileDialog* sheet = nullptr;
    const bool shown = QTest::qWaitFor([&] {
        sheet = ui.widget<QWidget>("CreatePWWindow")->findChild<QFileDialog*>();
        return sheet && sheet->isVisible();
    });
    return shown ? sheet : nullptr;
}

}  // namespace

TEST(PasswordWindows, CreateThenEnterOpensTheVaultAndAWrongEntryShakesInPlace) {
    VaultGui g;
    auto& ui = g.ui;
    const fs::path safe = g.world.dir.path() / "Safe";
    fs::create_directories(safe);
    g.world.commands.openVault();
    ASSERT_TRUE(ui.isVisible("CreatePWWindow")) << "no password yet: the create window";
    // The storage folder is chosen in a sheet on the create window.
    QFileDialog* sheet = createPasswordUntilTheSheet(ui);
    ASSERT_NE(sheet, nullptr);
    EXPECT_EQ(sheet->windowModality(), Qt::WindowModal);
    sheet->setDirectory(QString::fromStdString(g.world.dir.path().string()));
    sheet->selectFile(QString::fromStdString(safe.string()));
    static_cast<QDialog*>(sheet)->accept();  // the Choose button
    ASSERT_TRUE(QTest::qWaitFor([&] { return !ui.isVisible("CreatePWWindow"); }));
    EXPECT_EQ(ui.text("StorePathlab"), (safe / "vaultry.data").string());
    EXPECT_TRUE(g.world.settings.contains(prefkey::PasswordVerifier));

    g.world.commands.openVault();
    ASSERT_TRUE(ui.isVisible("enterPDWindow"));
    QWidget* window = ui.widget<QWidget>("enterPDWindow");
    auto* field = ui.widget<QLineEdit>("enterPWLab");
    const QPoint before = window->pos();
    QTest::keyClicks(field, "pw two");
    QTest::keyClick(field, Qt::Key_Return);
    EXPECT_FALSE(ui.isHidden("enterPDWarnLab")) << "a wrong entry shows the warning";
    EXPECT_TRUE(field->text().isEmpty());
    // The shake's path itself is checked in Shake.SwingsByFivePercentAndEndsWhereItBegan.
    ASSERT_NE(window->findChild<QPropertyAnimation*>("vaultryShake"), nullptr)
        << "a wrong entry shakes the window";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window->findChild<QPropertyAnimation*>("vaultryShake"); }));
    EXPECT_EQ(window->pos(), before) << "the shake ends where it began";
    EXPECT_TRUE(ui.isVisible("enterPDWindow"));
    EXPECT_FALSE(ui.isVisible("thefileManageWindow"));

    QTest::keyClicks(field, "pw one");
    QTest::mouseClick(ui.widget<QWidget>("enterPDButton"), Qt::LeftButton);
    EXPECT_FALSE(ui.isVisible("enterPDWindow"));
    EXPECT_TRUE(ui.isVisible("thefileManageWindow"));
    EXPECT_TRUE(ui.isHidden("enterPDWarnLab"));
}

// Under the first field of each new password, a bar and a verdict follow what is typed; an empty
// field shows neither, and the verdict fits its line.
TEST(PasswordWindows, TheStrengthMeterFollowsTheNewPasswordAsItIsTyped) {
    VaultGui g;
    auto& ui = g.ui;
    struct Meter {
        const char *window, *field, *bar, *verdict, *second;
    };
    for (const Meter m :
         {Meter{"CreatePWWindow", "theCreatePWLab", "createPWStrengthBar", "createPWStrengthLab",
                "theConfirmPWLab"},
          Meter{"preferWindows", "newPWLab", "newPWStrengthBar", "newPWStrengthLab", "confirmNewPWLab"}}) {
        SCOPED_TRACE(m.window);
        ui.showWindow(m.window);
        auto* field = ui.widget<QLineEdit>(m.field);
        auto* bar = ui.widget<QProgressBar>(m.bar);
        auto* verdict = ui.widget<QLabel>(m.verdict);
        ASSERT_TRUE(field && bar && verdict);
        EXPECT_TRUE(ui.isHidden(m.bar));
        EXPECT_TRUE(ui.isHidden(m.verdict));
        EXPECT_EQ(ui.text(m.verdict), "");

        QTest::keyClicks(field, "password");
        EXPECT_FALSE(ui.isHidden(m.bar));
        EXPECT_FALSE(ui.isHidden(m.verdict));
        EXPECT_EQ(ui.text(m.verdict), "Very weak: guessed in less than a second at 10\u2074 guesses/s");
        const int weak = bar->value();
        QTest::keyClicks(field, " of mine, kX9$mQ2!vL7@");
        EXPECT_EQ(ui.text(m.verdict).rfind("Very strong: guessed in centuries", 0), 0u) << ui.text(m.verdict);
        EXPECT_GT(bar->value(), weak);
        EXPECT_EQ(bar->value(), bar->maximum());
        // Between the two fields, and not cut off.
        QApplication::processEvents();  // the layout takes in the new text
        QWidget* second = ui.widget<QWidget>(m.second);
        EXPECT_LT(field->geometry().bottom(), bar->geometry().top());
        EXPECT_LT(verdict->geometry().bottom(), second->geometry().top());
        EXPECT_GE(verdict->height(), verdict->heightForWidth(verdict->width()));
        QWidget* window = ui.widget<QWidget>(m.window);
        EXPECT_LE(window->layout()->sizeHint().height(), window->height()) << "every row at its height";

        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
        EXPECT_TRUE(ui.isHidden(m.bar));
        EXPECT_TRUE(ui.isHidden(m.verdict));
        EXPECT_EQ(ui.text(m.verdict), "");
        QTest::keyClicks(field, "blue kettle");
        EXPECT_EQ(ui.text(m.verdict), "Weak: guessed in about 11 hours at 10\u2074 guesses/s");
        // The controller empties the field once it has read it: the verdict goes with it.
        ui.setText(m.field, "");
        EXPECT_TRUE(ui.isHidden(m.verdict));
    }
    // A weak password is taken all the same.
    ui.hideWindow("preferWindows");
    g.world.commands.openVault();
    QTest::keyClicks(ui.widget<QLineEdit>("theCreatePWLab"), "pw");
    QTest::keyClicks(ui.widget<QLineEdit>("theConfirmPWLab"), "pw");
    EXPECT_TRUE(ui.text("createPWStrengthLab").rfind("Very weak", 0) == 0);
    QTest::mouseClick(ui.widget<QWidget>("doneButton"), Qt::LeftButton);
    EXPECT_TRUE(password::matches(g.world.settings.string(prefkey::PasswordVerifier).value_or(""), "pw"));
    EXPECT_TRUE(ui.isHidden("createPWStrengthLab"));
    if (auto* sheet = ui.widget<QWidget>("CreatePWWindow")->findChild<QFileDialog*>()) sheet->reject();
}

// Preferences asked for before any password exists: the create window comes first, and the
// preferences open once the password is made (here with the storage choice cancelled).
TEST(PasswordWindows, PreferencesInAFreshHomeCreateThePasswordThenOpen) {
    VaultGui g;
    auto& ui = g.ui;
    g.world.commands.preferences();
    ASSERT_TRUE(ui.isVisible("CreatePWWindow"));
    EXPECT_FALSE(ui.isVisible("enterPDWindow"));
    QFileDialog* sheet = createPasswordUntilTheSheet(ui);
    ASSERT_NE(sheet, nullptr);
    sheet->reject();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ui.isVisible("preferWindows"); }));
    EXPECT_FALSE(ui.isVisible("CreatePWWindow"));
    EXPECT_TRUE(password::matches(g.world.settings.string(prefkey::PasswordVerifier).value_or(""), "pw one"));
}

TEST(VaultTable, RowsShowLockedUnlockedAndHiddenItemsAndTheirButtonsAct) {
    VaultGui g;
    g.unlocked();
    ASSERT_TRUE(g.ui.isVisible("thefileManageWindow"));
    const std::string locked = vault::encryptedRecordFor(g.file("plan.txt").string(), false);
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(g.file("plan.txt").string()));
    const std::string opened = vault::encryptedRecordFor(g.file("photo.png").string(), false);
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(g.file("photo.png").string()));
    const std::string hidden = g.file("diary.md").string();
    ASSERT_TRUE(g.app->HiddenFileFolderFunction(hidden));
    g.app->addVaultRecord(hidden, vaultry::vault::recordKind(hidden));
    g.app->saveRecords();
    g.ui.reload("fileTableView");
    ASSERT_EQ(g.model()->rowCount(), 3);

    // The switch of a locked row unlocks it in place.
    auto* table = g.table();
    table->resize(700, 400);
    const QRect row = table->visualRect(g.model()->index(g.rowOf(opened), 0));
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, VaultRowDelegate::switchRect(row).center());
    EXPECT_EQ(g.storedDecrypted(), Strings{opened});

    using R = VaultTableModel;
    EXPECT_EQ(g.look(locked, R::LockRole), "locktag.png");
    EXPECT_EQ(g.look(locked, R::SwitchRole), "switchdown.png");
    EXPECT_EQ(g.look(locked, R::ShowRole), "finddown.png");
    EXPECT_FALSE(g.model()->index(g.rowOf(locked), 0).data(R::ShowEnabledRole).toBool());
    EXPECT_EQ(g.look(locked, Qt::DisplayRole), "plan.txt");
    EXPECT_EQ(g.look(opened, R::LockRole), "viewtag.png");
    EXPECT_EQ(g.look(opened, R::SwitchRole), "turnoffbtn.png");
    EXPECT_EQ(g.look(opened, R::ShowRole), "find.png");
    EXPECT_TRUE(g.model()->index(g.rowOf(opened), 0).data(R::ShowEnabledRole).toBool());
    EXPECT_EQ(g.look(hidden, R::LockRole), "locktag.png");
    EXPECT_EQ(g.look(hidden, R::SwitchRole), "switchdown.png");
    EXPECT_EQ(g.look(hidden, R::KindRole), "Hidden in place");
    EXPECT_EQ(g.look(hidden, Qt::DisplayRole), "diary.md");
    for (const auto& record : {locked, opened, hidden})
        EXPECT_FALSE(g.model()->index(g.rowOf(record), 0).data(R::PictureRole).value<QIcon>().isNull())
            << record;
    EXPECT_FALSE(table->viewport()->grab().isNull());

    // The show button reveals only an unlocked row's copy.
    auto& revealed = g.world.workspace.revealed;
    revealed.clear();
    QTest::mouseClick(
        table->viewport(), Qt::LeftButton, {},
        VaultRowDelegate::showRect(table->visualRect(g.model()->index(g.rowOf(locked), 0))).center());
    EXPECT_TRUE(revealed.empty());
    QTest::mouseClick(
        table->viewport(), Qt::LeftButton, {},
        VaultRowDelegate::showRect(table->visualRect(g.model()->index(g.rowOf(opened), 0))).center());
    EXPECT_EQ(revealed, Strings{vault::deletingExtension(opened)});

    // Filters: hidden items appear only under All; the pressed filter is marked.
    QTest::mouseClick(g.ui.widget<QWidget>("selectDocBtn"), Qt::LeftButton);
    EXPECT_EQ(g.model()->rowCount(), 1);
    EXPECT_EQ(g.ui.image("selectDocBtn").value, "docnom");
    EXPECT_TRUE(g.ui.widget<QWidget>("selectDocBtn")->property("current").toBool());
    EXPECT_FALSE(g.ui.widget<QWidget>("selectAllBtn")->property("current").toBool());
    QTest::mouseClick(g.ui.widget<QWidget>("selectAllBtn"), Qt::LeftButton);
    EXPECT_EQ(g.model()->rowCount(), 3);

    // Unhide and Remove follow the current row.
    const auto button = [&](const QString& title) {
        for (auto* b : g.ui.widget<QWidget>("thefileManageWindow")->findChildren<QPushButton*>())
            if (b->text() == title) return b;
        return static_cast<QPushButton*>(nullptr);
    };
    ASSERT_NE(button("Unhide…"), nullptr);
    EXPECT_FALSE(button("Remove…")->isEnabled()) << "no row chosen yet";
    g.table()->setCurrentIndex(g.model()->index(g.rowOf(locked), 0));
    EXPECT_TRUE(button("Remove…")->isEnabled());
    EXPECT_FALSE(button("Unhide…")->isEnabled());
    g.table()->setCurrentIndex(g.model()->index(g.rowOf(hidden), 0));
    EXPECT_TRUE(button("Unhide…")->isEnabled());

    // Remove from the clicked row's menu command, answered with Cancel: nothing changes.
    answerWith(" Cancel ");
    g.world.commands.removeFromList();
    EXPECT_EQ(g.model()->rowCount(), 3);
    answerWith(" Remove ");
    g.world.commands.removeFromList();
    EXPECT_EQ(g.model()->rowCount(), 2);
    EXPECT_EQ(g.rowOf(hidden), -1);
}

TEST(VaultTable, ClosingWithVisibleItemsOffersToHideThemWithEachAnswer) {
    VaultGui g;
    g.unlocked();
    const fs::path plain = g.file("plan.txt");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(plain.string()));
    const std::string record = vault::encryptedRecordFor(plain.string(), false);
    g.ui.reload("fileTableView");
    auto* table = g.table();
    table->resize(700, 400);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      VaultRowDelegate::switchRect(table->visualRect(g.model()->index(0, 0))).center());
    ASSERT_EQ(g.storedDecrypted(), Strings{record});
    auto* window = g.ui.widget<QWidget>("thefileManageWindow");

    QTest::mouseClick(g.ui.widget<QWidget>("selectDocBtn"), Qt::LeftButton);
    QString shown;
    answerWith(" Cancel ", &shown);
    window->close();
    EXPECT_EQ(shown, "Some items are visible");
    EXPECT_TRUE(g.ui.widget<QWidget>("selectAllBtn")->property("current").toBool())
        << "the system's close shows every item again, and says so";
    EXPECT_TRUE(window->isVisible()) << "Cancel keeps the window";
    EXPECT_EQ(g.storedDecrypted(), Strings{record});

    answerWith(" Quit ");
    QTest::mouseClick(g.ui.widget<QWidget>("closedFileWindowButton"), Qt::LeftButton);
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(g.storedDecrypted(), Strings{record}) << "Quit leaves the items visible";
    EXPECT_TRUE(fs::exists(vault::deletingExtension(record)));

    g.ui.showWindow("thefileManageWindow");
    answerWith(" Hide and Quit");
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(g.storedDecrypted().empty()) << "Hide and Quit locks them again";
    EXPECT_FALSE(fs::exists(vault::deletingExtension(record)));
    EXPECT_EQ(g.look(record, VaultTableModel::SwitchRole), "switchdown.png");

    // The same through the window's own close button: the rows show what the lists say.
    g.ui.showWindow("thefileManageWindow");
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {},
                      VaultRowDelegate::switchRect(table->visualRect(g.model()->index(0, 0))).center());
    ASSERT_EQ(g.storedDecrypted(), Strings{record});
    const QString unlockedLook = g.look(record, VaultTableModel::SwitchRole);
    answerWith(" Hide and Quit");
    QTest::mouseClick(g.ui.widget<QWidget>("closedFileWindowButton"), Qt::LeftButton);
    EXPECT_TRUE(g.storedDecrypted().empty());
    EXPECT_EQ(g.look(record, VaultTableModel::SwitchRole), "switchdown.png");
    EXPECT_NE(unlockedLook, "switchdown.png");
}

namespace {

// Picks the entry with this title from the row menu that opens next.
void chooseFromMenu(const QString& title, QStringList* entries) {
    QTimer::singleShot(0, [title, entries] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(menu, nullptr) << "no row menu";
        QAction* chosen = nullptr;
        for (QAction* a : menu->actions()) {
            if (a->isSeparator()) continue;
            *entries << a->text();
            if (a->text() == title) chosen = a;
        }
        menu->close();
        if (chosen)
            chosen->trigger();
        else
            ADD_FAILURE() << "no entry " << title.toStdString();
    });
}

}  // namespace

TEST(VaultTable, TheRowMenuOffersWhatTheRowsStateAllows) {
    VaultGui g;
    g.unlocked();
    const fs::path plain = g.file("plan.txt");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(plain.string()));
    const std::string locked = vault::encryptedRecordFor(plain.string(), false);
    const std::string hidden = g.file("diary.md").string();
    ASSERT_TRUE(g.app->HiddenFileFolderFunction(hidden));
    g.app->addVaultRecord(hidden, vaultry::vault::recordKind(hidden));
    g.app->saveRecords();
    g.ui.reload("fileTableView");
    auto* table = g.table();
    table->resize(700, 400);
    const auto menuAt = [&](const std::string& record) {
        emit table->customContextMenuRequested(
            table->visualRect(g.model()->index(g.rowOf(record), 0)).center());
    };

    QStringList entries;
    chooseFromMenu("Decrypt", &entries);
    menuAt(locked);
    EXPECT_EQ(entries, (QStringList{"Decrypt", "Remove from Vault…", "Verify Archives…"}));
    EXPECT_EQ(g.storedDecrypted(), Strings{locked});
    EXPECT_EQ(g.look(locked, VaultTableModel::SwitchRole), "turnoffbtn.png");

    entries.clear();
    chooseFromMenu("Encrypt and Hide…", &entries);
    answerWith(" Encrypt ");
    menuAt(locked);
    EXPECT_EQ(entries,
              (QStringList{"Encrypt and Hide…", "Show in Folder", "Remove from Vault…", "Verify Archives…"}));
    EXPECT_TRUE(g.storedDecrypted().empty());
    EXPECT_EQ(g.look(locked, VaultTableModel::SwitchRole), "switchdown.png");

    // Space works the current row's switch.
    table->setCurrentIndex(g.model()->index(g.rowOf(locked), 0));
    QTest::keyClick(table, Qt::Key_Space);
    EXPECT_EQ(g.storedDecrypted(), Strings{locked});

    // Unhiding reloads the table while the row's action runs.
    entries.clear();
    chooseFromMenu("Unhide…", &entries);
    answerWith(" Unhide ");
    menuAt(hidden);
    EXPECT_EQ(entries, (QStringList{"Unhide…", "Remove from Vault…", "Verify Archives…"}));
    EXPECT_EQ(g.rowOf(hidden), -1);
    ASSERT_FALSE(g.world.workspace.revealed.empty());
    EXPECT_EQ(g.world.workspace.revealed.back(), hidden) << "shown in its folder first";
    EXPECT_FALSE(g.world.hiddenFlag.isHidden(hidden));
}

// Change in the preferences while the pass phrase is not known (the vault locked itself): the
// prompt asks for the current password, and its entry finishes the change with the new one.
// A prompt closed instead changes nothing.
TEST(PasswordWindows, AChangeAsksForTheCurrentPasswordAndIsFinishedByIt) {
    VaultGui g;
    g.unlocked();
    auto& ui = g.ui;
    const auto change = [&](const char* next) {
        g.app->forgetPassPhrase();
        ui.showWindow("preferWindows");
        QTest::keyClicks(ui.widget<QLineEdit>("newPWLab"), next);
        QTest::keyClicks(ui.widget<QLineEdit>("confirmNewPWLab"), next);
        QTest::mouseClick(ui.widget<QWidget>("changePassWordBtn"), Qt::LeftButton);
        EXPECT_TRUE(ui.isVisible("enterPDWindow")) << "the current password is asked for";
    };
    const auto stored = [&] { return g.world.settings.string(prefkey::PasswordVerifier).value_or(""); };

    change("cancelled one");
    QTest::mouseClick(ui.widget<QWidget>("closedPDWindowButton"), Qt::LeftButton);
    EXPECT_FALSE(ui.isVisible("enterPDWindow"));
    g.world.commands.openVault();
    QTest::keyClicks(ui.widget<QLineEdit>("enterPWLab"), "pw");
    QTest::keyClick(ui.widget<QLineEdit>("enterPWLab"), Qt::Key_Return);
    EXPECT_TRUE(ui.isVisible("thefileManageWindow"));
    EXPECT_TRUE(password::matches(stored(), "pw"));

    change("pw two");
    QTest::keyClicks(ui.widget<QLineEdit>("enterPWLab"), "pw");
    QTest::keyClick(ui.widget<QLineEdit>("enterPWLab"), Qt::Key_Return);
    EXPECT_FALSE(ui.isVisible("enterPDWindow"));
    EXPECT_TRUE(password::matches(stored(), "pw two")) << "the new password is stored";
    EXPECT_EQ(g.app->passPhrase(), "pw two");
}

// "Verify Archives…" before any storage folder says there is nothing to verify, and opens no
// other window.
TEST(VaultMenu, VerifyWithoutAStorageFolderSaysThereIsNothingToVerify) {
    VaultGui g;
    g.world.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
    QString shown;
    answerWith(" Ok ", &shown);
    g.world.commands.verifyArchives();
    EXPECT_EQ(shown, "There is no storage folder.");
    EXPECT_FALSE(g.ui.isVisible("connectWindow"));
    EXPECT_FALSE(g.ui.isVisible("enterPDWindow"));
}

// "Off" for the idle time leaves the locking on a screen lock, sleep or logout to its own box,
// on by default: unticked, a screen lock leaves decrypted copies open; the idle time still locks.
TEST(VaultPreferences, TheSessionLockBoxDecidesAloneWhetherAScreenLockLocks) {
    VaultGui g;
    g.unlocked();
    auto* box = g.ui.widget<QCheckBox>("lockOnSessionLockBtn");
    ASSERT_TRUE(box->isChecked()) << "on by default";
    const fs::path plain = g.file("plan.txt");
    ASSERT_TRUE(g.app->EncryptFileFolderFunction(plain.string()));
    const std::string record = vault::encryptedRecordFor(plain.string(), false);
    ASSERT_TRUE(g.app->DecryptFileFolderFunction(record));

    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(g.world.settings.string(prefkey::LockOnSessionLock), "NO");
    for (auto trigger :
         {vault::LockTrigger::SessionLocked, vault::LockTrigger::BeforeSleep, vault::LockTrigger::Logout})
        g.app->autoLockDecrypted(trigger);
    EXPECT_EQ(g.storedDecrypted(), Strings{record}) << "the copy stays open";
    g.app->autoLockDecrypted(vault::LockTrigger::Idle);
    EXPECT_TRUE(g.storedDecrypted().empty()) << "the idle time still locks";

    ASSERT_TRUE(g.app->DecryptFileFolderFunction(record));
    QTest::mouseClick(box, Qt::LeftButton);
    EXPECT_EQ(g.world.settings.string(prefkey::LockOnSessionLock), "YES");
    g.app->autoLockDecrypted(vault::LockTrigger::SessionLocked);
    EXPECT_TRUE(g.storedDecrypted().empty());
}
