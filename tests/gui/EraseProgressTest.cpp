// The erase command behind the real progress window: the window shows, its bar moves as files are
// erased, and its Cancel button stops the erasing before the next file.
#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <mutex>

#include "gui/GuiHarness.h"
#include "platform/Outlets.h"

using namespace vaultry;

namespace {

namespace fs = std::filesystem;

TEST(EraseProgress, TheWindowShowsTheBarMovesAndCancelStopsBeforeTheNextFile) {
    test::GuiWorld world;
    const fs::path folder = world.dir / "chosen";
    for (const char* name : {"f1", "f2", "f3", "f4"}) test::writeFile(folder / name, name);

    // The erase tool: it erases the first file at once and holds the second until the test has
    // pressed Cancel, so that the bar is seen part way.
    std::mutex m;
    std::condition_variable cv;
    bool pressed = false;
    std::atomic<int> calls{0};
    world.spawn.answer = [&](const test::FakeSpawn::Call& c) {
        if (c.program != "/usr/bin/du") {
            if (++calls == 2) {
                std::unique_lock lock(m);
                cv.wait_for(lock, std::chrono::seconds(30), [&] { return pressed; });
            }
            fs::remove(c.args.back());
        }
        return platform::Spawn::Output{0, "4\t.\n", ""};
    };
    AppDelegate app(world.services());

    auto* window = world.ui.widget<QWidget>(outlet::progressWindow);
    auto* bar = world.ui.widget<QProgressBar>(outlet::progressBar);
    auto* cancel = world.ui.widget<QPushButton>(outlet::progressCancelBtn);
    ASSERT_TRUE(window && bar && cancel);

    // A user at the screen: picks the folder, confirms, watches the bar and presses Cancel; then
    // reads the alert that says what happened.
    bool sawWindow = false, sawBarMove = false, wasBusy = false;
    std::string told, details;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (!w->isVisible()) continue;
            if (auto* dialog = qobject_cast<QFileDialog*>(w)) {
                dialog->setProperty("vaultryChosen", QStringList{QString::fromStdString(folder.string())});
                QTimer::singleShot(0, dialog,
                                   [dialog] { static_cast<QDialog*>(dialog)->done(QDialog::Accepted); });
                return;
            }
            if (auto* box = qobject_cast<QMessageBox*>(w)) {
                if (box->text() == "Erasing was cancelled.") {
                    told = box->text().toStdString();
                    details = box->informativeText().toStdString();
                }
                if (auto* b = box->defaultButton()) QTimer::singleShot(0, b, [b] { b->click(); });
                return;
            }
        }
        if (window->isVisible()) {
            sawWindow = true;
            wasBusy = wasBusy || app.isBusy();
            if (!pressed && bar->maximum() > 0 && bar->value() > 0) {
                sawBarMove = true;
                QTest::mouseClick(cancel, Qt::LeftButton);
                {
                    std::lock_guard lock(m);
                    pressed = true;
                }
                cv.notify_all();
            }
        }
    });
    user.start(10);
    app.StartSafeDeleteFileAction();
    user.stop();

    EXPECT_TRUE(sawWindow);
    EXPECT_TRUE(wasBusy);
    EXPECT_TRUE(sawBarMove);
    EXPECT_TRUE(pressed);
    EXPECT_FALSE(window->isVisible());
    EXPECT_FALSE(app.isBusy());
    // Two files went (the one being erased when Cancel came was finished); two are as they were.
    EXPECT_EQ(calls.load(), 2);
    int left = 0;
    for (const char* name : {"f1", "f2", "f3", "f4"})
        if (fs::exists(folder / name)) {
            EXPECT_EQ(test::readFile(folder / name), name);
            ++left;
        }
    EXPECT_EQ(left, 2);
    EXPECT_EQ(told, "Erasing was cancelled.");
    EXPECT_EQ(details, "2 files were erased.\nPartly erased (the files not reached yet are still in it): " +
                           folder.string() + ".");
}

}  // namespace
