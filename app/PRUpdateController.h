#pragma once
#include <memory>
#include <string>

#include "app/AppDelegate.h"
#include "app/BackgroundTask.h"
#include "platform/Outlets.h"
#include "update/VersionCheck.h"

namespace vaultry {

// The controller of the update window: downloads the maker's version list on a worker thread,
// compares its newest version with the running one and offers the product page when it is newer.
// Windows: "UpdateWindow" (texts "newversionlab", "currentversionlab", "whatsnewContentView",
// picture "bottomImageView") and "noUpdateWindow" (the up-to-date window).
class PRUpdateController {
public:
    // The update window's name as the Ui knows it.
    static constexpr const char* kWindow = outlet::UpdateWindow;

    explicit PRUpdateController(Services services);
    ~PRUpdateController();
    PRUpdateController(const PRUpdateController&) = delete;
    PRUpdateController& operator=(const PRUpdateController&) = delete;

    void awakeFromNib();
    // Takes the running version and hides the update window; runs at start-up before the check.
    void hidUpdateWindow();
    // Starts the download of the version list. While one is running no second one starts; the
    // running one answers, and sees a checkUpdate set in the meantime. Without a version list
    // (updateCheckOffered() is false) it does nothing.
    void checkServerVersion();
    void ClickNotNowAction();
    // Opens the download page; without one, what Help opens.
    void ClickGoDownloadAction();
    void ClickOkAction();
    static bool CompareOneString(std::string_view newest, std::string_view running) {
        return vaultry::CompareOneString(newest, running);
    }

    const std::string& currentVersion() const { return currentVersion_; }
    void setCurrentVersion(std::string v) { currentVersion_ = std::move(v); }
    const std::string& lastestVersion() const { return lastestVersion_; }
    const std::string& whatsnewString() const { return whatsnewString_; }
    bool isChecking() const { return connect.running(); }

    // Set by the user's check command and never cleared: from then on an up-to-date result is
    // shown too.
    bool checkUpdate = false;
    // Set by the user's check command for that one check: its failure is shown, where the
    // automatic check at start-up only logs it.
    bool reportFailure = false;

private:
    // The finishing step, on the main thread.
    void connectionDidFinish(const std::string& url, Result<VersionList> list);

    Services s_;
    std::string currentVersion_, lastestVersion_, whatsnewString_;
    // The download. Last, so that it ends before what it uses goes; a finishing step still
    // queued when the controller goes does nothing.
    BackgroundTask connect{s_.mainThread};
};

}  // namespace vaultry
