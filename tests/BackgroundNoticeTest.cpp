// Vaultry running on without a window and without a tray icon: the user is told once.
#include <gtest/gtest.h>

#include "app/AppDelegate.h"
#include "settings/Preferences.h"
#include "support/FakePorts.h"

namespace vaultry {
namespace {

// A desktop without a notification service: nothing scheduled is ever shown.
class NoNotificationService final : public test::FakeNotifier {
public:
    std::vector<std::string> delivered() override { return {}; }
};

Services withNotifier(test::World& w, platform::Notifier& notifier) {
    return {w.ui,        w.settings,   w.nc,          w.paths, w.clock, w.mainThread, w.bookmarks,
            w.workspace, w.hiddenFlag, w.thumbnailer, w.spawn, w.http,  notifier,     w.loginItems};
}

TEST(BackgroundNotice, IsGivenOncePerInstallationAndItsClickBringsTheMainWindowBack) {
    test::World w;
    {
        AppDelegate app(w.services());
        app.tellRunningInBackground();
        ASSERT_EQ(w.notifier.scheduled.size(), 1u);
        const auto& notice = w.notifier.scheduled[0];
        EXPECT_EQ(notice.identifier, AppDelegate::kBackgroundNotification);
        EXPECT_EQ(notice.title, "Vaultry is still running");
        EXPECT_NE(notice.body.find("Start Vaultry again"), std::string::npos) << notice.body;
        EXPECT_NE(notice.body.find("Quit Vaultry"), std::string::npos) << notice.body;
        app.tellRunningInBackground();
        EXPECT_EQ(w.notifier.scheduled.size(), 1u);

        ASSERT_TRUE(w.notifier.handler);
        w.notifier.handler(AppDelegate::kBackgroundNotification, "");
        EXPECT_TRUE(w.ui.isVisible("window"));
    }
    // Kept in the settings file: the next run has said it already.
    SettingsStore again(w.paths.settingsFile());
    EXPECT_EQ(again.string(prefkey::BackgroundNoticeGiven), "YES");
    AppDelegate next(w.services());
    next.tellRunningInBackground();
    EXPECT_EQ(w.notifier.scheduled.size(), 1u);
}

TEST(BackgroundNotice, NoNotificationServiceToldNobodySoTheNextTimeTriesAgain) {
    test::World w;
    NoNotificationService silent;
    AppDelegate app(withNotifier(w, silent));
    app.tellRunningInBackground();
    app.tellRunningInBackground();
    EXPECT_EQ(silent.scheduled.size(), 2u);
    EXPECT_FALSE(w.settings.contains(prefkey::BackgroundNoticeGiven));
}

}  // namespace
}  // namespace vaultry
