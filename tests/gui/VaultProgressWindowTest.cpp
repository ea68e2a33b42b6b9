#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <thread>

#include "gui/GuiHarness.h"
#include "settings/Preferences.h"
#include "vault/PasswordVerifier.h"

using namespace vaultry;
using namespace vaultry::qt;
namespace fs = std::filesystem;

namespace {

// Long work runs behind the real progress window: it shows while the work runs, the bar follows
// what the work reports, and its Cancel button reaches the work, which then stops.
TEST(VaultProgressWindow, ShowsTheWorkAndItsCancelStopsIt) {
    test::GuiWorld world;
    AppDelegate app(world.services());
    app.awakeFromNib();
    QtUi& ui = world.ui;
    auto* bar = ui.widget<QProgressBar>("progressBar");
    auto* label = ui.widget<QLabel>("progressLab");
    auto* cancel = ui.widget<QAbstractButton>("progressCancelBtn");
    ASSERT_TRUE(bar && label && cancel);

    Progress progress;
    bool sawWindow = false, sawBusy = false;
    int barWhenCancelled = -1;
    QString stepShown;
    // The window is watched from the event loop that runs while the work does.
    QTimer watcher;
    QObject::connect(&watcher, &QTimer::timeout, [&] {
        if (!ui.isVisible("progressWindow") || bar->value() <= 0 || barWhenCancelled >= 0) return;
        sawWindow = true;
        sawBusy = app.isBusy();
        stepShown = label->text();
        barWhenCancelled = bar->value();
        cancel->click();
    });
    watcher.start(10);
    bool stopped = false;
    app.runLongWork("Encrypting", progress, [&] {
        progress.begin("Encrypting big.bin", 1000);
        progress.add(400);
        // Nothing more is done until Cancel is pressed.
        while (!progress.cancelled()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        stopped = true;
    });
    watcher.stop();
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(sawWindow);
    EXPECT_TRUE(sawBusy);
    EXPECT_EQ(stepShown, "Encrypting big.bin");
    EXPECT_EQ(barWhenCancelled, bar->maximum() * 4 / 10);
    EXPECT_FALSE(ui.isVisible("progressWindow"));
    EXPECT_FALSE(app.isBusy());
}

// The storage move runs behind the same window, which is gone once the vault has moved.
TEST(VaultProgressWindow, TheStorageMoveRunsBehindIt) {
    test::GuiWorld world;
    AppDelegate app(world.services());
    app.awakeFromNib();
    world.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
    const fs::path first = world.dir.path() / "Safe", second = world.dir.path() / "Second";
    fs::create_directories(first);
    fs::create_directories(second);
    app.openPanelDidEnd8(platform::Ui::Paths{first.string()});
    std::ofstream(first / "vaultry.data/a.txt.enc") << std::string(1 << 20, 'a');
    // The move ends with "The old storage folder was kept.": answered when it shows.
    QString told;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            told = box->text();
            box->accept();
        }
    });
    answer.start(10);
    app.openPanelDidEnd5(platform::Ui::Paths{second.string()});
    answer.stop();
    EXPECT_EQ(told, "The old storage folder was kept.");
    EXPECT_FALSE(world.ui.isVisible("progressWindow"));
    EXPECT_EQ(world.settings.string(prefkey::StorePath), (second / "vaultry.data").string());
    EXPECT_EQ(fs::file_size(second / "vaultry.data/a.txt.enc"), 1u << 20);
}

}  // namespace
