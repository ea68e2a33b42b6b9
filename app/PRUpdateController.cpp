#include "app/PRUpdateController.h"

#include <utility>

#include "platform/Outlets.h"
#include "platform/Version.h"
#include "util/Log.h"

namespace vaultry {

PRUpdateController::PRUpdateController(Services services) : s_(services) {}

// The download's task drops its result and joins it; the transfer is bounded by its time-outs.
PRUpdateController::~PRUpdateController() = default;

void PRUpdateController::awakeFromNib() { s_.ui.setImage(outlet::bottomImageView, "mainBottomImage.png"); }

void PRUpdateController::hidUpdateWindow() {
    currentVersion_ = kVersion;
    s_.ui.hideWindow(kWindow);
}

void PRUpdateController::checkServerVersion() {
    if (connect.running()) return;
    const std::string url = versionListUrl();
    // A build without a version list leaves updates to the package manager: nothing to ask.
    if (url.empty()) return;
    // The worker hands its result over by value and does not wait for the main thread, so the
    // controller can go away (joining the worker) without a deadlock.
    connect.start([this, url] { return fetchVersionList(s_.http, url); },
                  [this, url](Result<VersionList> list) { connectionDidFinish(url, std::move(list)); });
}

void PRUpdateController::connectionDidFinish(const std::string& url, Result<VersionList> list) {
    const bool report = std::exchange(reportFailure, false);
    if (!list) {
        // A failed check says nothing about being up to date; the user who asked is told it failed.
        logLine("Connection failed! Error - " + list.error().message + " " + url);
        if (report)
            s_.ui.runAlert({"Could not check for updates: " + list.error().message, url, " Ok ", "", ""});
        return;
    }
    lastestVersion_ = list->lastestVersion;
    whatsnewString_ = list->whatsNew;
    if (CompareOneString(lastestVersion_, currentVersion_)) {
        s_.ui.setText(outlet::newversionlab, "Vaultry " + lastestVersion_ + " is available.");
        s_.ui.setText(outlet::currentversionlab,
                      "You are using " + currentVersion_ + " version. Would you like to download it now?");
        s_.ui.setText(outlet::whatsnewContentView, releaseNotesText(whatsnewString_));
        s_.ui.showWindow(kWindow);
    } else if (checkUpdate) {
        s_.ui.showWindow(outlet::noUpdateWindow);
    }
}

void PRUpdateController::ClickNotNowAction() { s_.ui.hideWindow(kWindow); }

void PRUpdateController::ClickGoDownloadAction() {
    // Without a download page of its own, the help page tells where the new version is.
    auto page = productPageUrl();
    if (page.empty()) page = helpAddress(s_.paths.installedDocs()).value_or("");
    if (!page.empty()) s_.workspace.openUrl(page);
}

void PRUpdateController::ClickOkAction() { s_.ui.hideWindow(outlet::noUpdateWindow); }

}  // namespace vaultry
