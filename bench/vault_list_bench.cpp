// Filling the vault table and applying each kind filter for a vault of 10,000 records, the way
// the controller does it: one reading of the stored decrypted list and one listing of the
// thumbnail folder, then one set lookup per row. Prints the best of several runs.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/PSTableCellView.h"
#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "vault/VaultList.h"

namespace fs = std::filesystem;
using namespace vaultry;
using Clock = std::chrono::steady_clock;

namespace {

double ms(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

template <typename F>
double best(int runs, F&& f) {
    double out = 1e300;
    for (int i = 0; i < runs; ++i) {
        const auto t0 = Clock::now();
        f();
        out = std::min(out, ms(Clock::now() - t0));
    }
    return out;
}

}  // namespace

int main() {
    std::string templ = (fs::temp_directory_path() / "vaultry-bench-XXXXXX").string();
    if (!::mkdtemp(templ.data())) return 1;
    const fs::path dir = templ;
    const fs::path storage = dir / "vaultry.data";
    fs::create_directories(storage / "libdata");

    const char* exts[] = {"jpg.enc", "pdf.enc", "mov.enc", "mp3.enc", "tar.gz", "txt"};
    std::vector<std::string> records, decrypted;
    for (int i = 0; i < 10000; ++i) {
        const std::string name = "item" + std::to_string(i);
        records.push_back("/home/u/Documents/" + name + "." + exts[i % 6]);
        if (i % 2) decrypted.push_back(records.back());
        if (i % 3 == 0) std::ofstream(storage / "libdata" / name) << "II*";
    }
    SettingsStore settings(dir / "settings.plist");
    settings.set(prefkey::Records, records);
    settings.set(prefkey::DecryptedRecords, decrypted);
    settings.set(prefkey::StorePath, storage.string());
    if (!settings.flush()) return 1;

    std::size_t sink = 0;
    const double fill = best(10, [&] {
        const auto stored =
            settings.stringArray(prefkey::DecryptedRecords).value_or(std::vector<std::string>{});
        const auto lookup = vault::RowLookup::take(storage.string(), stored);
        std::vector<std::unique_ptr<PSTableCellView>> rows;
        rows.reserve(records.size());
        for (const auto& r : records) {
            rows.push_back(std::make_unique<PSTableCellView>());
            rows.back()->fill(r, lookup);
        }
        sink += rows.size();
    });
    const double filters = best(10, [&] {
        for (auto f : {vault::VaultFilter::All, vault::VaultFilter::Images, vault::VaultFilter::Docs,
                       vault::VaultFilter::Medias, vault::VaultFilter::Folders, vault::VaultFilter::Other})
            sink += vault::filterRecords(records, f).size();
    });
    // The per-row way, for contrast: each row reads the stored list and searches it.
    const double perRow100 = best(3, [&] {
        for (int i = 0; i < 100; ++i) {
            const auto stored =
                settings.stringArray(prefkey::DecryptedRecords).value_or(std::vector<std::string>{});
            sink += std::find(stored.begin(), stored.end(), records[i]) != stored.end();
        }
    });

    std::printf("vault of %zu records (%zu decrypted, %zu thumbnails)\n", records.size(), decrypted.size(),
                records.size() / 3 + 1);
    std::printf("fill every row from one snapshot : %8.2f ms\n", fill);
    std::printf("all six filters                  : %8.2f ms\n", filters);
    std::printf("fill + six filters               : %8.2f ms (goal: well under 50 ms)\n", fill + filters);
    std::printf("per-row reading, extrapolated    : %8.2f ms (%.0fx the snapshot)\n", perRow100 * 100,
                perRow100 * 100 / fill);
    std::error_code ec;
    fs::remove_all(dir, ec);
    return sink == 0;
}
