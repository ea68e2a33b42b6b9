// The vault window with 10,000 rows: how long a fill takes and how long each scrolled frame
// takes to paint. Run on a display (xvfb-run -a build/bench/gui_bench) or offscreen.
#include <QAbstractButton>
#include <QElapsedTimer>
#include <QScrollBar>
#include <QTableView>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <numeric>

#include "gui/GuiHarness.h"
#include "settings/Preferences.h"

using namespace vaultry;

int main(int argc, char** argv) {
    const int rows = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10000;
    test::GuiWorld world;
    AppDelegate delegate(world.services());
    world.commands.vaultRows = [&] { return delegate.tableViewViewsForAllRows("fileColumn"); };
    delegate.awakeFromNib();

    const char* kinds[] = {".pdf.enc", ".png.enc", ".docx.enc", ".mov.enc", ".tar.gz", ".txt"};
    std::vector<std::string> records, decrypted;
    records.reserve(static_cast<std::size_t>(rows));
    for (int i = 0; i < rows; ++i) {
        records.push_back("/home/alex/Documents/Project " + std::to_string(i / 100) + "/item " +
                          std::to_string(i) + kinds[i % 6]);
        if (i % 10 == 1) decrypted.push_back(records.back());
    }
    for (const auto& record : records) delegate.addVaultRecord(record, vaultry::vault::recordKind(record));
    world.settings.set(prefkey::DecryptedRecords, decrypted);

    QWidget* window = world.windows.topLevels().at("thefileManageWindow");
    window->show();
    QTest::qWait(50);
    auto* table = world.ui.widget<QTableView>("fileTableView");

    QElapsedTimer clock;
    clock.start();
    world.ui.reload("fileTableView");
    const double fillMs = clock.nsecsElapsed() / 1e6;
    clock.restart();
    table->viewport()->repaint();
    const double firstPaintMs = clock.nsecsElapsed() / 1e6;

    // Scroll from top to bottom a few rows at a time, painting every step as a frame would.
    QScrollBar* bar = table->verticalScrollBar();
    std::vector<double> frames;
    const int step = 3 * 58;
    for (int value = 0; value <= bar->maximum(); value += step) {
        clock.restart();
        bar->setValue(value);
        table->viewport()->repaint();
        frames.push_back(clock.nsecsElapsed() / 1e6);
    }
    // And a jump to the middle and back, as a drag of the scroll bar does.
    for (int value : {bar->maximum() / 2, 0, bar->maximum()}) {
        clock.restart();
        bar->setValue(value);
        table->viewport()->repaint();
        frames.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(frames.begin(), frames.end());
    const double mean =
        std::accumulate(frames.begin(), frames.end(), 0.0) / static_cast<double>(frames.size());
    const double p95 = frames[frames.size() * 95 / 100];
    std::printf(
        "rows %d: fill %.1f ms, first paint %.1f ms; %zu scrolled frames: mean %.2f ms, "
        "p95 %.2f ms, max %.2f ms (a 60 Hz frame is 16.7 ms)\n",
        table->model()->rowCount(), fillMs, firstPaintMs, frames.size(), mean, p95, frames.back());
    return 0;
}
