#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "app/AppDelegate.h"
#include "app/Notifications.h"
#include "cookies/PRCookFileNode.h"
#include "desktop/FBFileNode.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

struct Navigation : ::testing::Test {
    test::World w;
    AppDelegate app{w.services()};
    void tip(const char* outlet) { w.nc.post(notify::PRLeftButtonMouseDown, w.ui.outlet(outlet)); }
    void kind(const char* outlet) { w.nc.post(notify::FBLeftButtonMouseDown, w.ui.outlet(outlet)); }
    std::string image(const char* outlet) { return w.ui.image(outlet).value; }
    int sheets(const char* window) {
        return static_cast<int>(
            std::count(w.ui.events.begin(), w.ui.events.end(), std::string("sheet:") + window));
    }
};

TEST_F(Navigation, CookieButtonsSwapTheirImagesAndRunTheirCommand) {
    tip("safariCookieBtn");  // scans at once: no access is asked for
    EXPECT_EQ(image("safariCookieBtn"), "safaricookiedown.png");
    for (auto [outlet, normal] : {std::pair{"openCookieBtn", "opencookienom.png"},
                                  {"chromeCookieBtn", "chromecookienom.png"},
                                  {"firefoxCookieBtn", "firefoxcookienom.png"},
                                  {"newCookieBtn", "newcookienom.png"}})
        EXPECT_EQ(image(outlet), normal) << outlet;
    EXPECT_FALSE(w.ui.isVisible("connectWindow"));
    w.mainThread.pumpUntil([&] { return !app.cookieWorkerRunning(); });

    tip("openCookieBtn");  // the sheet is cancelled
    EXPECT_EQ(sheets("window"), 1);
    EXPECT_EQ(image("openCookieBtn"), "opencookienom.png");
    EXPECT_EQ(image("newCookieBtn"), "newcookiedown.png");
    EXPECT_EQ(image("safariCookieBtn"), "Safaricookienom.png");

    app.setCookieRecordsForTest(app.cookieRecords(), {std::make_shared<PRCookFileNode>()});
    tip("newCookieBtn");
    EXPECT_EQ(image("newCookieBtn"), "newcookiedown.png");
    EXPECT_EQ(app.cookieRecords().size(), 1u);
    EXPECT_EQ(w.ui.at("dataTableView").reloads, 2);  // the Safari scan's, then this one's
}

TEST_F(Navigation, TheStartLocationButtonOpensItsSheet) {
    tip("tidybutton");
    ASSERT_EQ(sheets("connectWindow"), 1);
    EXPECT_EQ(image("tidybutton"), "startlocationdownbtn.png");
    const auto& panel = w.ui.openPanels.back();
    EXPECT_TRUE(panel.chooseDirectories);
    EXPECT_FALSE(panel.chooseFiles);
    EXPECT_FALSE(panel.multipleSelection);
    EXPECT_EQ(panel.directory, w.paths.desktop().string());
}

TEST_F(Navigation, UnlistedSendersAreIgnored) {
    // Real buttons of other groups: the popover's kind button and its tidy button.
    tip("allBtn");
    tip("tidyNowBtn");
    w.nc.post(notify::PRLeftButtonMouseDown, nullptr);
    kind("allBtn");
    EXPECT_TRUE(w.ui.events.empty());
    for (const auto& [name, outlet] : w.ui.outlets)
        EXPECT_EQ(outlet.image.kind, platform::ImageRef::Kind::None) << name;
}

TEST_F(Navigation, KindButtonsShowTheirListTwiceAlike) {
    const test::TempDir dir;
    for (const char* name : {"a.png", "b.txt", "c.zip", "d.bin"}) {
        test::writeFile(dir.path() / name, "x");
        app.addShawDesktopByPath((dir.path() / name).string());
    }
    const std::pair<const char*, std::size_t> expected[] = {{"pictureBtn", 1}, {"documentBtn", 1},
                                                            {"archiveBtn", 1}, {"folerBtn", 0},
                                                            {"otherBtn", 1},   {"currentDesktopBtn", 4}};
    for (const auto& [outlet, count] : expected) {
        for (int twice = 0; twice < 2; ++twice) {
            kind(outlet);
            EXPECT_EQ(app.browserItems().size(), count) << outlet;
        }
        std::string shown = image(outlet);
        std::transform(shown.begin(), shown.end(), shown.begin(),
                       [](unsigned char c) { return std::tolower(c); });
        EXPECT_NE(shown.find("down"), std::string::npos) << outlet;
    }
    EXPECT_EQ(image("currentDesktopBtn"), "currentBigDesktopdown.png");
    EXPECT_EQ(image("otherBtn"), "otherbignom.png");
    kind("otherBtn");
    EXPECT_EQ(image("otherBtn"), "othebigdown.png");
    EXPECT_EQ(image("pictureBtn"), "picbignom.png");
    EXPECT_EQ(image("currentDesktopBtn"), "currentBigDesktopnom.png");
    EXPECT_EQ(w.ui.at("theBroswerView").reloads, 13);
}

}  // namespace
}  // namespace vaultry
