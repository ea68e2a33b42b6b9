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
#include <filesystem>
#include <fstream>

#include "app/PasswordVerifier.h"
#include "app/SettingsKeys.h"
#include "gui/GuiHarness.h"
#include "vault/Records.h"

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

    // The vault with a locked file, an unlocked one, a locked folder and a hidden item.
    {
        namespace fs = std::filesystem;
        world.commands.vaultRows = [&] { return delegate.tableViewViewsForAllRows("fileColumn"); };
        world.settings.set(key::VaultryPassword, *password::makeVerifier("pw"));
        const fs::path home = world.dir.path();
        fs::create_directories(home / "Safe");
        delegate.openPanelDidEnd8(platform::Ui::Paths{(home / "Safe").string()});
        ui.setText("enterPWLab", "pw");
        delegate.ReturnOnPasswordField();
        const auto make = [&](const std::string& name) {
            const fs::path p = home / "Documents" / name;
            fs::create_directories(p.parent_path());
            std::ofstream(p) << "private notes about " << name;
            return p.string();
        };
        delegate.EncryptFileFolderFunction(make("Tax return 2025.pdf"));
        const std::string opened = make("Passport scan.png");
        delegate.EncryptFileFolderFunction(opened);
        delegate.EncryptFileFolderFunction(make("Contract draft.docx"));
        fs::create_directories(home / "Documents/Family photos");
        std::ofstream(home / "Documents/Family photos/beach.jpg") << "jpg";
        delegate.EncryptFileFolderFunction((home / "Documents/Family photos").string());
        const std::string hidden = make("Diary.md");
        delegate.HiddenFileFolderFunction(hidden);
        delegate.addVaultRecord(hidden);
        delegate.saveRecords();
        delegate.DecryptFileFolderFunction(vault::encryptedRecordFor(opened, false));
        delegate.saveDecrypted();
        ui.reload("fileTableView");
        ui.setNumber("fileTableView", 1);
        QWidget* w = windows.topLevels().at("thefileManageWindow");
        save(w, dir, "thefileManageWindow-rows");
        w->hide();
        ui.setText("StorePathlab", (home / "Safe/vaultry.data").string());
    }

    world.banner.ClickStateBanner(windows.mainWindow());
    if (QWidget* pop = world.banner.popover()) save(pop, dir, "popover");
    world.banner.detachableWindowForPopover();
    if (QWidget* w = world.banner.detachedWindow()) save(w, dir, "popAttachWindow");
    return 0;
}
