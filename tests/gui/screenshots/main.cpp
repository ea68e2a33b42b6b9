// Writes a PNG of every window and page into the folder given as the only argument:
//   xvfb-run -a build/tests/vaultry-screenshots shots/
#include <QDir>
#include <QLineEdit>
#include <QMainWindow>
#include <QStandardItemModel>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <cstdio>

#include "gui/GuiHarness.h"

using namespace vaultry;

namespace {

void save(QWidget* w, const QString& dir, const QString& name) {
    w->show();
    w->raise();
    QTest::qWait(60);
    const QPixmap shot = w->grab();
    const QString path = dir + "/" + name + ".png";
    if (!shot.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vaultry-screenshots OUTPUT-FOLDER\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(dir);
    test::GuiWorld world;
    AppDelegate delegate(world.services());
    delegate.awakeFromNib();
    auto& ui = world.ui;
    auto& windows = world.windows;
    ui.setText("StorePathlab", "/home/alex/Documents/vaultry.data");
    if (!world.banner.hasTrayHost())
        windows.offerTrayCommands(world.banner.menu(),
                                  [&](QWidget* anchor) { world.banner.ClickStateBanner(anchor); });

    for (auto [page, name] : {std::pair{qt::Windows::Page::Vault, "main-vault"},
                              {qt::Windows::Page::Desktop, "main-desktop"},
                              {qt::Windows::Page::Trash, "main-trash"},
                              {qt::Windows::Page::Cookies, "main-cookies"}}) {
        windows.showPage(page);
        save(windows.mainWindow(), dir, name);
    }
    ui.setHidden("openView", true);
    ui.setHidden("theConentView", false);
    auto* cookies = new QStandardItemModel(0, 4, windows.mainWindow());
    cookies->setHorizontalHeaderLabels({"Host", "Name", "Secure", "Value"});
    for (auto [host, name, value] : {std::tuple{"example.org", "session", "a81f…"},
                                     {"news.example.com", "consent", "yes"},
                                     {"shop.example.net", "cart", "3"}})
        cookies->appendRow({new QStandardItem(host), new QStandardItem(name), new QStandardItem("No"),
                            new QStandardItem(value)});
    ui.widget<QTableView>("dataTableView")->setModel(cookies);
    save(windows.mainWindow(), dir, "main-cookies-table");
    windows.mainWindow()->hide();

    for (const char* name : {"thefileManageWindow", "connectWindow", "autoTrashWindow", "preferWindows",
                             "CreatePWWindow", "enterPDWindow", "aboutWindow", "noUpdateWindow"}) {
        QWidget* w = windows.topLevels().at(name);
        save(w, dir, name);
        w->hide();
    }
    ui.setText("newversionlab", "Vaultry 2.4.0 is available.");
    ui.setText("currentversionlab", "You are using 2.3.0 version. Would you like to download it now?");
    ui.setText("whatsnewContentView", "Faster encryption of large folders.\rA calmer tray popover.");
    save(windows.topLevels().at("UpdateWindow"), dir, "UpdateWindow");
    windows.topLevels().at("UpdateWindow")->hide();
    ui.setHidden("connectView", true);
    ui.setHidden("startTidyView", false);
    save(windows.topLevels().at("connectWindow"), dir, "connectWindow-location");
    windows.topLevels().at("connectWindow")->hide();
    ui.setHidden("enterPDWarnLab", false);
    save(windows.topLevels().at("enterPDWindow"), dir, "enterPDWindow-wrong");
    windows.topLevels().at("enterPDWindow")->hide();
    ui.setHidden("warnlab", false);
    ui.setText("theCreatePWLab", "secret");
    save(windows.topLevels().at("CreatePWWindow"), dir, "CreatePWWindow-mismatch");
    windows.topLevels().at("CreatePWWindow")->hide();

    QTimer::singleShot(100, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            save(box, dir, "alert");
            box->close();
        }
    });
    ui.runAlert({"Some items are visible",
                 "Do you want to hide all the visible items before quitting Vaultry ?", " Hide and Quit",
                 " Cancel ", " Quit "});

    world.banner.ClickStateBanner(windows.mainWindow());
    if (QWidget* pop = world.banner.popover()) save(pop, dir, "popover");
    world.banner.detachableWindowForPopover();
    if (QWidget* w = world.banner.detachedWindow()) save(w, dir, "popAttachWindow");
    return 0;
}
