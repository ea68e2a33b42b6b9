// Tidying a desktop of 1,000 12-megapixel JPEG photos and 1,000 other files, against `mv` of the
// same files followed by the same record building. The photos are hard links of one real photo,
// so the run needs one photo's space; a rename does not care. With Qt, the picture icons are
// also decoded as the GUI does it: at reduced size, by the JPEG decoder's own scaling.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "desktop/FBFileNode.h"
#include "desktop/Tidy.h"

#ifdef VAULTRY_BENCH_QT
#include <QImage>
#include <QImageReader>
#include <QPainter>
#endif

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double seconds(Clock::time_point since) {
    return std::chrono::duration<double>(Clock::now() - since).count();
}

void makeDesktop(const fs::path& desktop, const fs::path& photo) {
    fs::remove_all(desktop);
    fs::create_directories(desktop);
    for (int i = 0; i < 1000; ++i)
        fs::create_hard_link(photo, desktop / ("IMG_" + std::to_string(i) + ".jpg"));
    for (int i = 0; i < 1000; ++i)
        std::ofstream(desktop / ("note" + std::to_string(i) + ".txt")) << "note " << i;
}

int runMv(const fs::path& desktop, const fs::path& folder) {
    std::vector<std::string> args = {"/bin/mv", "-n", "-t", folder.string()};
    for (const auto& name : vaultry::tidy::visibleNames(desktop.string()))
        args.push_back((desktop / name).string());
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = 0;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) return -1;
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// What the GUI does per picture record: decode straight to the icon size.
int decodeIcons(const vaultry::FileNodes& nodes) {
    int decoded = 0;
#ifdef VAULTRY_BENCH_QT
    for (const auto& n : nodes) {
        if (n->fileKindType() != "Pictures") continue;
        QImageReader reader(QString::fromStdString(n->fullFilePath()));
        const QSize full = reader.size();
        const auto [w, h] = vaultry::pictureIconSize(full.width(), full.height());
        if (w == 0) continue;
        reader.setQuality(25);  // the fast DCT and upsampling: icons need no more
        reader.setScaledSize(QSize(w, h));
        if (!reader.read().isNull()) ++decoded;
    }
#else
    (void)nodes;
#endif
    return decoded;
}

}  // namespace

int main(int argc, char** argv) {
    const fs::path root = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "vaultry-tidy-bench";
    fs::remove_all(root);
    fs::create_directories(root);
    const fs::path photo = root / "photo.jpg";
#ifdef VAULTRY_BENCH_QT
    {
        QImage image(4000, 3000, QImage::Format_RGB32);  // 12 megapixels
        QPainter p(&image);
        for (int y = 0; y < 3000; y += 100)
            for (int x = 0; x < 4000; x += 100)
                p.fillRect(x, y, 100, 100, QColor((x * 7) % 256, (y * 3) % 256, (x + y) % 256));
        p.end();
        if (!image.save(QString::fromStdString(photo.string()), "JPEG", 90))
            return std::fprintf(stderr, "cannot write a JPEG\n"), 1;
    }
#else
    std::ofstream(photo) << "not decoded without Qt";
#endif
    const fs::path desktop = root / "Desktop", folder = root / "store/com.Quenmark.sortello";

    makeDesktop(desktop, photo);
    auto t0 = Clock::now();
    const auto outcome = vaultry::tidy::tidyDesktop(desktop.string(), folder.string());
    auto nodes = vaultry::scanFolder(folder.string());
    vaultry::sortNewestFirst(nodes);
    const double tidyRecords = seconds(t0);
    t0 = Clock::now();
    const int decoded = decodeIcons(nodes);
    const double icons = seconds(t0);
    double fullPerPhoto = 0;
#ifdef VAULTRY_BENCH_QT
    t0 = Clock::now();
    for (int i = 0; i < 20; ++i) (void)QImage(QString::fromStdString(photo.string())).isNull();
    fullPerPhoto = seconds(t0) / 20;
#endif
    if (!outcome || outcome->moved.size() != 2000 || nodes.size() != 2000)
        return std::fprintf(stderr, "tidy moved %zu, listed %zu\n", outcome ? outcome->moved.size() : 0,
                            nodes.size()),
               1;

    fs::remove_all(folder);
    makeDesktop(desktop, photo);
    fs::create_directories(folder);
    t0 = Clock::now();
    if (runMv(desktop, folder) != 0) return std::fprintf(stderr, "mv failed\n"), 1;
    auto mvNodes = vaultry::scanFolder(folder.string());
    vaultry::sortNewestFirst(mvNodes);
    const double mvRecords = seconds(t0);

    std::printf("2000 items (1000 JPEG 4000x3000 + 1000 text)\n");
    std::printf("vaultry tidy + records : %.3f s\n", tidyRecords);
    std::printf("mv -n + records        : %.3f s   (ratio vaultry/mv %.2f)\n", mvRecords,
                tidyRecords / mvRecords);
    std::printf("picture icons decoded  : %d in %.3f s (reduced-size decode)\n", decoded, icons);
    std::printf("full-size decode       : %.1f ms per photo (for comparison: %.1f ms reduced)\n",
                fullPerPhoto * 1000, decoded ? icons * 1000 / decoded : 0.0);
    std::printf("tidy + records + icons : %.3f s\n", tidyRecords + icons);
    fs::remove_all(root);
    return 0;
}
