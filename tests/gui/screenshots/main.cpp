// Writes a PNG of every window and page into the folder given as the only argument:
//   xvfb-run -a build/tests/vaultry-screenshots shots/
// With --measure it times instead the two interactions that must stay quick: a 100,000-cookie
// store from the scan button to a filled, scrolled table, and a keystroke in the search field of
// a 10,000-item tidy list to its redraw:
//   xvfb-run -a build/tests/vaultry-screenshots --measure
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QListView>
#include <QMainWindow>
#include <QPainter>
#include <QPointer>
#include <QProcess>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "app/Notifications.h"
#include "app/PPopoverviewConterller.h"
#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "desktop/FBFileNode.h"
#include "desktop/FileKind.h"
#include "gui/GuiHarness.h"
#include "gui/Style.h"
#include "gui/Views.h"
#include "settings/Preferences.h"
#include "support/CookieFiles.h"
#include "vault/PasswordVerifier.h"
#include "vault/Records.h"

using namespace vaultry;

namespace {

void save(QWidget* widget, const QString& dir, const QString& name) {
    // A popup may close and be deleted while events are processed (a focus change reaching it
    // late); then there is nothing to draw.
    const QPointer<QWidget> w(widget);
    w->show();
    w->raise();
    QTest::qWait(60);
    if (!w) {
        std::fprintf(stderr, "%s closed before it could be drawn\n", qPrintable(name));
        return;
    }
    const QPixmap shot = w->grab();
    const QString path = dir + "/" + name + ".png";
    if (!shot.save(path)) std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
    std::printf("%s\n", qPrintable(path));
}

namespace fs = std::filesystem;

double msSince(const QElapsedTimer& t) { return static_cast<double>(t.nsecsElapsed()) / 1e6; }

// Paints a view now, as the next frame would.
void paintNow(QAbstractItemView* view) {
    view->viewport()->repaint();
    QCoreApplication::processEvents();
}

int measure() {
    test::GuiWorld world;
    AppDelegate delegate(world.services());
    delegate.awakeFromNib();
    auto views = qt::bindViews(world.ui, world.windows, delegate);
    qt::wireCommands(world.commands, world.ui, delegate);
    auto& windows = world.windows;
    windows.showPage(qt::AppWindows::Page::Cookies);
    windows.mainWindow()->resize(1100, 720);
    windows.mainWindow()->show();
    QTest::qWait(100);

    // A Chrome store of 100,000 cookies.
    const fs::path home = world.dir.path();
    const fs::path db = cookies::chromeCookiePath(world.paths);
    fs::create_directories(db.parent_path());
    test::makeChromeDb(db, true);
    test::sql(
        db,
        "WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x+1 FROM c WHERE x<100000) "
        "INSERT INTO cookies SELECT x, 'site' || (x % 9000) || '.example.com', '', 'id' || x, "
        "'value-' || x, x'', '/', 13300000000000000 + x, x % 2, 0, 0, 1, 1, 1, 0, 2, 443, 0, 0, 0 FROM c;");
    world.settings.set(prefkey::CookieFolderGrant, *world.bookmarks.create(home.string()));
    auto* table = world.ui.widget<QTableView>("dataTableView");

    std::vector<double> scans;
    for (int round = 0; round < 3; ++round) {
        QElapsedTimer t;
        t.start();
        world.nc.post(notify::PRLeftButtonMouseDown, world.ui.outlet("chromeCookieBtn"));
        world.mainThread.pumpUntil([&] { return !delegate.cookieWorkerRunning(); });
        paintNow(table);
        const double filled = msSince(t);
        table->scrollToBottom();
        paintNow(table);
        table->verticalScrollBar()->setValue(table->verticalScrollBar()->maximum() / 2);
        paintNow(table);
        scans.push_back(msSince(t));
        std::printf(
            "cookie scan %d: %d rows, table filled %.1f ms, scrolled to the end and the middle %.1f ms\n",
            round + 1, views.cookies->rowCount(), filled, scans.back());
    }
    QElapsedTimer sortTimer;
    sortTimer.start();
    table->sortByColumn(0, Qt::AscendingOrder);
    paintNow(table);
    std::printf("sorting 100,000 rows by website: %.1f ms\n", msSince(sortTimer));

    // The command-line peer: sqlite3 reading the same rows.
    QElapsedTimer peer;
    peer.start();
    QProcess sqlite;
    sqlite.start("sqlite3", {QString::fromStdString(db.string()),
                             "SELECT host_key, name, is_secure, path, expires_utc, value FROM cookies;"});
    sqlite.waitForFinished(60000);
    const double peerMs = msSince(peer);
    std::sort(scans.begin(), scans.end());
    std::printf(
        "sqlite3 printing the same 100,000 rows: %.1f ms; median scan-to-table %.1f ms (ratio %.2f)\n",
        peerMs, scans[1], scans[1] / peerMs);

    // A tidy list of 10,000 items.
    auto& pop = delegate.popoverController();
    const char* words[] = {"report", "holiday", "invoice", "notes", "draft", "scan", "photo", "budget"};
    const char* exts[] = {".pdf", ".png", ".txt", ".zip", ".jpg", ".doc"};
    FileNodes nodes;
    for (int i = 0; i < 10000; ++i) {
        auto n = std::make_shared<FBFileNode>();
        const std::string name = std::string(words[i % 8]) + "-" + std::to_string(i) + exts[i % 6];
        n->setFileName(name);
        n->setFullFilePath((home / name).string());
        n->setFileIcon(platform::ImageRef::iconOf((home / name).string(), 64));
        nodes.push_back(n);
    }
    pop.SetTableControllerArray(nodes);
    world.ui.reload(PPopoverviewConterller::kTidyTable);
    world.banner.ClickStateBanner(windows.mainWindow());
    QTest::qWait(200);
    auto* list = world.ui.widget<QTableView>(PPopoverviewConterller::kTidyTable);
    auto* field = world.ui.widget<QLineEdit>("searchField");
    std::vector<double> keys;
    int resets = 0;  // each search hands its rows back with a reload
    QObject::connect(views.tidy, &QAbstractItemModel::modelReset, [&resets] { ++resets; });
    for (const QString& typed :
         {QString("r"), QString("e"), QString("p"), QString("o"), QString("r"), QString("t")}) {
        const int before = resets;
        QElapsedTimer t;
        t.start();
        QTest::keyClicks(field, typed);
        world.mainThread.pumpUntil([&] { return resets > before; }, std::chrono::seconds(5));
        paintNow(list);
        keys.push_back(msSince(t));
        std::printf("keystroke '%s': %d rows, redrawn after %.1f ms\n", qPrintable(typed),
                    views.tidy->rowCount(), keys.back());
    }
    QElapsedTimer t;
    t.start();
    field->clear();
    world.commands.tidySearch();
    paintNow(list);
    std::printf("emptied field: %d rows, redrawn after %.1f ms\n", views.tidy->rowCount(), msSince(t));
    std::printf("tidy list keystroke to redraw: max %.1f ms\n", *std::max_element(keys.begin(), keys.end()));
    return 0;
}

// Sample content so that each page is seen as a person would see it.
void fillSamples(test::GuiWorld& world, AppDelegate& delegate, const qt::BoundViews& views) {
    const fs::path root = world.dir.path() / "Tidy";
    fs::create_directories(root / "Projects");
    fs::create_directories(root / "Receipts 2026");
    const std::pair<const char*, QColor> pictures[] = {{"Beach at dusk.jpg", QColor("#f59e0b")},
                                                       {"Team photo.png", QColor("#6366f1")},
                                                       {"Floor plan.png", QColor("#10b981")}};
    for (const auto& [name, colour] : pictures) {
        QImage img(1200, 800, QImage::Format_RGB32);
        img.fill(colour);
        QPainter p(&img);
        p.setBrush(colour.lighter(140));
        p.setPen(Qt::NoPen);
        p.drawEllipse(QPoint(800, 260), 180, 180);
        p.setBrush(colour.darker(150));
        p.drawRect(0, 560, 1200, 240);
        p.end();
        img.save(QString::fromStdString((root / name).string()));
    }
    for (const char* name : {"Quarterly report.pdf", "Meeting notes.txt", "Budget 2027.xlsx", "Letter.docx",
                             "Old site backup.zip", "Fonts.tar.gz", "install.sh", "recording.m4a"})
        std::ofstream(root / name) << std::string(4096 + 977 * std::string(name).size(), 'x');
    for (const auto& node : scanFolder(root.string())) delegate.addDesktopNode(node);
    delegate.SortAllDataArray();
    delegate.popoverController().SetTableControllerArray(delegate.getDesktopAllArray());
    world.ui.reload(PPopoverviewConterller::kTidyTable);

    const char* hosts[] = {".github.com",       "accounts.example.com", ".news.example.org",
                           "shop.example.net",  ".video.example.tv",    "mail.example.com",
                           ".maps.example.com", "bank.example.de"};
    const char* names[] = {"_gh_sess", "SID", "consent", "cart", "pref", "GMAIL_AT", "NID", "session"};
    AppDelegate::CookNodes cookies;
    for (int i = 0; i < 40; ++i) {
        auto c = std::make_shared<PRCookFileNode>();
        const QString value = QString("a%1f9c2e1").arg(1000003 * (i + 7) % 999983);
        const QString name = QString(names[(i * 3) % 8]) + (i >= 8 ? QString::number(i) : QString());
        const QString expires = QString("2027-0%1-1%2 08:3%2:00 +0000").arg(1 + i % 9).arg(i % 10);
        c->setTexts(hosts[i % 8], name.toStdString(), i % 3 ? "/" : "/account", value.toStdString());
        c->setSecureValue(i % 3 ? "YES" : "NO");
        c->setExpiredDate(expires.toStdString());
        cookies.push_back(c);
    }
    delegate.setCookieRecordsForTest(std::move(cookies));
    (void)views;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--measure") return measure();
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

    auto views = qt::bindViews(ui, windows, delegate);
    qt::wireCommands(world.commands, ui, delegate);
    world.commands.trashPageShown = {};  // the sample texts below stand in for a measured Trash
    fillSamples(world, delegate, views);
    ui.setHidden("theProgressor", true);
    ui.setText("trashSizelab", "1.42GB");
    ui.setText("trashLastCleanlab", "Last emptied on 2026-11-28, when it held 860.3MB.");

    for (auto [page, name] : {std::pair{qt::AppWindows::Page::Vault, "main-vault"},
                              {qt::AppWindows::Page::Desktop, "main-desktop-empty"},
                              {qt::AppWindows::Page::Trash, "main-trash"},
                              {qt::AppWindows::Page::Cookies, "main-cookies"}}) {
        windows.showPage(page);
        save(windows.mainWindow(), dir, name);
    }
    windows.showPage(qt::AppWindows::Page::Desktop);
    world.nc.post(notify::FBLeftButtonMouseDown, ui.outlet("currentDesktopBtn"));
    windows.mainWindow()->show();
    QTest::qWait(50);
    views.icons->waitForDone();
    if (auto* browser = ui.widget<QListView>("theBroswerView"); browser && views.browser->rowCount() > 0)
        browser->selectionModel()->select(views.browser->index(0), QItemSelectionModel::ClearAndSelect);
    save(windows.mainWindow(), dir, "main-desktop");
    world.nc.post(notify::FBLeftButtonMouseDown, ui.outlet("pictureBtn"));
    views.icons->waitForDone();
    save(windows.mainWindow(), dir, "main-desktop-pictures");

    windows.showPage(qt::AppWindows::Page::Cookies);
    ui.setHidden("openView", true);
    ui.setHidden("theConentView", false);
    ui.setHidden("newCookieBtn", false);
    ui.setImage("chromeCookieBtn", "chromecookiedown.png");
    ui.reload("dataTableView");
    for (const char* site : {"bank.example.de", "github.com"}) delegate.AddCookieKeepDomain(site);
    ui.reload("cookieKeepList");
    save(windows.mainWindow(), dir, "main-cookies-table");
    ui.setHidden("theProgressor", false);
    save(windows.mainWindow(), dir, "main-cookies-scanning");
    ui.setHidden("theProgressor", true);
    windows.mainWindow()->hide();

    for (const char* name :
         {"thefileManageWindow", "connectWindow", "autoTrashWindow", "preferWindows", "CreatePWWindow",
          "enterPDWindow", "aboutWindow", "noUpdateWindow", "progressWindow"}) {
        QWidget* w = windows.topLevels().at(name);
        save(w, dir, name);
        w->hide();
    }
    ui.setText("newversionlab", "Vaultry 2.4.0 is available.");
    ui.setText("currentversionlab", "You are using 2.3.0 version. Would you like to download it now?");
    ui.setText("whatsnewContentView", "Faster encryption of large folders.\rA calmer tray popover.");
    save(windows.topLevels().at("UpdateWindow"), dir, "UpdateWindow");
    windows.topLevels().at("UpdateWindow")->hide();
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
    ui.setHidden("warnlab", true);
    // The strength meters under a typed new password.
    const auto strengthShots = [&](const QString& prefix) {
        for (auto [window, field] :
             {std::pair{"CreatePWWindow", "theCreatePWLab"}, {"preferWindows", "newPWLab"}}) {
            ui.setText(field, "Se cret");
            save(windows.topLevels().at(window), dir, prefix + window + "-strength");
            windows.topLevels().at(window)->hide();
            ui.setText(field, "");
        }
    };
    strengthShots("");

    QTimer::singleShot(100, [&] {
        if (QWidget* box = QApplication::activeModalWidget()) {
            save(box, dir, "alert");
            box->close();
        }
    });
    ui.runAlert({"Some items are visible",
                 "Do you want to hide all the visible items before quitting Vaultry ?", " Hide and Quit",
                 " Cancel ", " Quit "});

    if (auto* tabs = windows.popoverContent()->findChild<QTabWidget*>("popoverTabs"))
        tabs->setCurrentIndex(0);
    // The vault with a locked file, an unlocked one, a locked folder and a hidden item.
    {
        namespace fs = std::filesystem;
        world.commands.vaultRows = [&] { return delegate.tableViewViewsForAllRows("fileColumn"); };
        world.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
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
        delegate.addVaultRecord(hidden, vaultry::vault::recordKind(hidden));
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
    views.icons->waitForDone();
    if (auto* list = ui.widget<QTableView>(PPopoverviewConterller::kTidyTable);
        list && views.tidy->rowCount() > 1)
        list->selectRow(1);
    if (QWidget* pop = world.banner.popover()) save(pop, dir, "popover");
    world.banner.detachableWindowForPopover();
    if (QWidget* w = world.banner.detachedWindow()) save(w, dir, "popAttachWindow");
    if (QWidget* w = world.banner.detachedWindow()) w->hide();
    windows.returnPopoverContent();

    // The same windows in the dark scheme.
    qt::applyStyle(true);
    for (auto [page, name] : {std::pair{qt::AppWindows::Page::Vault, "dark-main-vault"},
                              {qt::AppWindows::Page::Desktop, "dark-main-desktop"},
                              {qt::AppWindows::Page::Trash, "dark-main-trash"},
                              {qt::AppWindows::Page::Cookies, "dark-main-cookies-table"}}) {
        windows.showPage(page);
        save(windows.mainWindow(), dir, name);
    }
    windows.mainWindow()->hide();
    for (const char* name :
         {"thefileManageWindow", "connectWindow", "autoTrashWindow", "preferWindows", "CreatePWWindow",
          "enterPDWindow", "aboutWindow", "noUpdateWindow", "UpdateWindow", "progressWindow"}) {
        QWidget* w = windows.topLevels().at(name);
        save(w, dir, QString("dark-") + name);
        w->hide();
    }
    strengthShots("dark-");
    qt::applyStyle(false);
    return 0;
}
