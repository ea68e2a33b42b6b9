// The cookie page: scans of the browsers' stores and of files the user opens, removal, export.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/AppDelegate.h"
#include "app/ShowInFileManager.h"
#include "cookies/BinaryCookies.h"
#include "cookies/CookieDatabase.h"
#include "cookies/CookieStores.h"
#include "cookies/KeepList.h"
#include "cookies/PRCookFileNode.h"
#include "cookies/PRRtfController.h"
#include "platform/Outlets.h"
#include "util/Log.h"

namespace fs = std::filesystem;

namespace vaultry {
namespace {

constexpr const char* kProgressor = outlet::theProgressor;
constexpr const char* kCookieTable = outlet::dataTableView;

}  // namespace

void AppDelegate::ReadCookBinaryFileWithPath(const std::string& path) {
    cookies::ReadCookBinaryFileWithPath(path, cookArray, pagesizeArray);
}

void AppDelegate::ReadCookDatabaseFileWithPath(const std::string& path) {
    auto decryptor =
        safeStorage ? cookies::decryptorFor(*safeStorage, scanBrowser) : cookies::ChromiumDecryptor();
    cookies::ReadCookDatabaseFileWithPath(path, cookArray, decryptor);
}

void AppDelegate::ReadFirefoxCookDatabaseFileWithPath(const std::string& path) {
    cookies::ReadFirefoxCookDatabaseFileWithPath(path, cookArray);
}

// ---- Browser buttons ------------------------------------------------------------------------

namespace {
// The folder the stored grant resolves to; empty when there is no usable grant.
std::string resolveGrant(const Preferences& prefs, platform::Bookmarks& bookmarks) {
    const auto data = prefs.cookieFolderGrant();
    if (!data) return {};
    const auto resolved = bookmarks.resolve(*data);
    return resolved ? resolved->path : std::string();
}
}  // namespace

// Linux has no sandbox: the stores are read directly; a recorded grant is still honoured.
#define VAULTRY_BROWSER_ACTION(Action, Scan)                                        \
    void AppDelegate::Action() {                                                    \
        bookmarkFileURL = resolveGrant(prefs_, s_.bookmarks);                       \
        if (!bookmarkFileURL.empty()) s_.bookmarks.startAccessing(bookmarkFileURL); \
        Scan();                                                                     \
    }
VAULTRY_BROWSER_ACTION(ActClickSafariAction, ScanSafariCookieFile)
VAULTRY_BROWSER_ACTION(ActClickChromeAction, ScanChromeCookieFile)
VAULTRY_BROWSER_ACTION(ActClickFireFoxAction, ScanFireFoxCookieFile)
#undef VAULTRY_BROWSER_ACTION

// ---- Scans ----------------------------------------------------------------------------------

namespace {
void startProgress(platform::Ui& ui) {
    ui.setHidden(kProgressor, false);
    ui.setState(kProgressor, true);  // the indicator's animation
}
void stopProgress(platform::Ui& ui) {
    ui.setHidden(kProgressor, true);
    ui.setState(kProgressor, false);
}
}  // namespace

void AppDelegate::ScanSafariCookieFile() {
    if (bCookieWorkerRunning) return;
    bCookieWorkerRunning = true;
    startProgress(ui_);
    cookieScanTask_.run(
        [this, path = cookies::safariCookiePath(s_.paths)] { ScanCookBinaryFilePathhand(path); });
}

namespace {
// The Chrome button reads the whole Chromium family, the Firefox button Firefox and GNOME Web.
std::vector<std::string> buttonBrowsers(std::string_view button) {
    if (button == "firefox") return {"firefox", "gnome-web"};
    if (button == "chrome") return {"chrome", "chromium", "brave", "vivaldi", "edge", "opera"};
    return {};
}
}  // namespace

std::vector<cookies::Profile> AppDelegate::cookieProfilesForButton(std::string_view button) const {
    const auto browsers = buttonBrowsers(button);
    std::vector<cookies::Profile> out;
    for (const auto& p : cookies::findProfiles(s_.paths))
        if (std::find(browsers.begin(), browsers.end(), p.browser) != browsers.end()) out.push_back(p);
    // The first browser's default profile leads; the others follow in their listed order.
    const auto lead =
        std::find_if(out.begin(), out.end(), [](const cookies::Profile& p) { return p.isDefault; });
    if (lead != out.end()) std::rotate(out.begin(), lead, lead + 1);
    return out;
}

void AppDelegate::ScanCookieProfile(const cookies::Profile& profile) {
    if (bCookieWorkerRunning) return;
    bCookieWorkerRunning = true;
    if (!safeStorage) safeStorage = std::make_shared<cookies::SecretServiceStorage>();
    scanBrowser = profile.browser;
    startProgress(ui_);
    if (profile.layout == cookies::Layout::Firefox)
        cookieScanTask_.run([this, path = profile.store] { ScanFireFoxDataBaseCookieFilePathhand(path); });
    else
        cookieScanTask_.run([this, path = profile.store] { ScanDataBaseCookieFilePathhand(path); });
}

void AppDelegate::ScanChromeCookieFile() {
    const auto profiles = cookieProfilesForButton("chrome");
    if (!profiles.empty()) return ScanCookieProfile(profiles.front());
    // No profile: the usual place, which reads as an empty store.
    ScanCookieProfile(
        {"chrome", "Default", cookies::chromeCookiePath(s_.paths), cookies::Layout::Chrome, "", true});
}

void AppDelegate::ScanFireFoxCookieFile() {
    const auto profiles = cookieProfilesForButton("firefox");
    if (!profiles.empty()) return ScanCookieProfile(profiles.front());
    ScanCookieProfile({"firefox", "", "", cookies::Layout::Firefox, "", true});
}

void AppDelegate::ScanCookBinaryFilePathhand(std::string path) {
    cookArray.clear();
    if (!path.empty()) ReadCookBinaryFileWithPath(path);
    setBinaryCookie(true);
    bSafariCookie = true;
    bFireFoxCookie = false;
    setCurrentScanFilePath(path);
    s_.mainThread.performAndWait([this] { ScanFinishOnMainThread(); });
}

void AppDelegate::ScanDataBaseCookieFilePathhand(std::string path) {
    cookArray.clear();
    ReadCookDatabaseFileWithPath(path);
    setBinaryCookie(false);
    bSafariCookie = false;
    bFireFoxCookie = false;
    setCurrentScanFilePath(path);
    s_.mainThread.performAndWait([this] { ScanFinishOnMainThread(); });
}

void AppDelegate::ScanFireFoxDataBaseCookieFilePathhand(std::string path) {
    cookArray.clear();
    ReadFirefoxCookDatabaseFileWithPath(path);
    setBinaryCookie(false);
    bSafariCookie = false;
    bFireFoxCookie = true;
    setCurrentScanFilePath(path);
    s_.mainThread.performAndWait([this] { ScanFinishOnMainThread(); });
}

void AppDelegate::ScanFinishOnMainThread() {
    if (bOpenCookie) {
        newCookieArray.insert(newCookieArray.end(), cookArray.begin(), cookArray.end());
        bOpenCookie = false;
    }
    dataController = cookArray;
    ui_.setHidden(outlet::theConentView, false);
    ui_.setHidden(outlet::openView, true);
    ui_.reload(kCookieTable);  // a reloaded table has no selection
    stopProgress(ui_);
    bCookieWorkerRunning = false;
}

void AppDelegate::ShowNewCookieRecords() {
    dataController = newCookieArray;
    ui_.reload(kCookieTable);
}

// ---- Files opened by hand -------------------------------------------------------------------

void AppDelegate::ActClickOpenCookiesAction() {
    platform::OpenPanel panel;
    panel.chooseFiles = true;
    panel.chooseDirectories = false;
    panel.multipleSelection = false;
    panel.directory = s_.paths.documents().string();
    ui_.beginSheet(outlet::window, panel,
                   [this](std::optional<platform::Ui::Paths> chosen) { openPanelDidEnd1(chosen); });
}

void AppDelegate::openPanelDidEnd1(const std::optional<platform::Ui::Paths>& chosen) {
    if (!chosen || chosen->empty()) return;
    if (bCookieWorkerRunning) return;  // the running worker owns the cookie lists
    bOpenCookie = true;
    newCookieArray.clear();
    CheckFilePathISCookie(chosen->front());
    ui_.setHidden(outlet::newCookieBtn, false);
}

void AppDelegate::CheckFilePathISCookie(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return;
    char head[33] = {};
    cookies::getHexString(file, 0, 4, head);
    std::fclose(file);
    logLine(std::string("headString===") + head + "==");
    const auto layout = cookies::detectLayout(path);
    if (!layout || bCookieWorkerRunning) return;
    bCookieWorkerRunning = true;
    if (!safeStorage) safeStorage = std::make_shared<cookies::SecretServiceStorage>();
    scanBrowser.clear();
    if (*layout == cookies::Layout::Binary) {
        startProgress(ui_);
        cookieScanTask_.run([this, path] { ScanCookBinaryFilePathhand(path); });
        logLine("636f6f6b");
        return;
    }
    logLine("53514C69746520666F726D6174203300");
    startProgress(ui_);
    // A Firefox store read by hand is read, and later emptied, in its own layout.
    if (*layout == cookies::Layout::Firefox)
        cookieScanTask_.run([this, path] { ScanFireFoxDataBaseCookieFilePathhand(path); });
    else
        cookieScanTask_.run([this, path] { ScanDataBaseCookieFilePathhand(path); });
}

// ---- Removal --------------------------------------------------------------------------------

void AppDelegate::ActRemoveCookieData() {
    cookies::RemovalPlan plan;
    plan.all = true;
    startRemoval(std::move(plan));
}

void AppDelegate::ActRemoveSelectedCookies(const std::vector<std::size_t>& rows) {
    cookies::RemovalPlan plan;
    for (const auto row : rows)
        if (row < dataController.size()) plan.rows.push_back(cookies::keyOf(*dataController[row]));
    if (!plan.rows.empty()) startRemoval(std::move(plan));
}

void AppDelegate::ActRemoveCookiesOfDomains(const std::vector<std::string>& domains) {
    cookies::RemovalPlan plan;
    for (const auto& d : domains)
        if (auto domain = cookies::normalizedDomain(d); !domain.empty())
            plan.domains.push_back(std::move(domain));
    if (!plan.domains.empty()) startRemoval(std::move(plan));
}

void AppDelegate::startRemoval(cookies::RemovalPlan plan) {
    if (bCookieWorkerRunning) return;
    bCookieWorkerRunning = true;
    plan.keep = cookies::keepList(prefs_);
    ui_.setState(kProgressor, true);  // animates; stays hidden when it is hidden
    cookieRemoveTask_.run([this, path = currentScanFilePath(), binary = binaryCookie(),
                           firefox = bFireFoxCookie, plan = std::move(plan)]() mutable {
        ActRemoveCookieDataThreader(path, binary, firefox, std::move(plan));
    });
}

void AppDelegate::ActRemoveCookieDataThreader(std::string path, bool binary, bool firefox,
                                              cookies::RemovalPlan plan) {
    Status done;
    if (binary)
        done = cookies::removeCookies(path, cookies::Layout::Binary, plan);
    else if (!path.empty())
        done =
            cookies::removeCookies(path, firefox ? cookies::Layout::Firefox : cookies::Layout::Chrome, plan);
    removeFailure = done ? std::string() : done.error().message;
    removePlan = std::move(plan);
    s_.mainThread.performAndWait([this] { RemoveFinishOnMainThread(); });
}

void AppDelegate::RemoveFinishOnMainThread() {
    stopProgress(ui_);
    bCookieWorkerRunning = false;
    if (!removeFailure.empty()) {
        // Nothing was deleted: the table keeps what the store still holds.
        logLine("cookie removal failed: " + removeFailure);
        if (removeFailure == cookies::kBrowserRunning)
            ui_.runAlert(
                {"Please close the browser first",
                 "The browser is using its cookie store. Quit the browser, then remove the cookies again.",
                 " Ok ", "", ""});
        else
            ui_.runAlert({"The cookies could not be removed", removeFailure, " Ok ", "", ""});
        return;
    }
    // The table keeps the rows the store still holds: the kept ones, those not asked for.
    const auto gone = [this](const std::shared_ptr<PRCookFileNode>& n) {
        return cookies::doomed(removePlan, cookies::keyOf(*n));
    };
    std::erase_if(cookArray, gone);
    std::erase_if(dataController, gone);
    ui_.reload(kCookieTable);
}

std::vector<std::string> AppDelegate::cookieKeepList() const { return cookies::keepList(prefs_); }

bool AppDelegate::AddCookieKeepDomain(const std::string& domain) {
    return cookies::addKeepDomain(prefs_, domain);
}

bool AppDelegate::RemoveCookieKeepDomain(const std::string& domain) {
    return cookies::removeKeepDomain(prefs_, domain);
}

// ---- Export ---------------------------------------------------------------------------------

void AppDelegate::ActExportCookieData() {
    if (bCookieWorkerRunning) return;
    const fs::path folder = cookies::exportFolder(s_.paths);
    std::error_code ec;
    fs::create_directories(folder, ec);
    bCookieWorkerRunning = true;
    startProgress(ui_);
    cookieExportTask_.run([this, folder = folder.string(), records = dataController] {
        ActExportCookieDataThreader(folder, records);
    });
}

void AppDelegate::ActExportCookieDataThreader(std::string folder, CookNodes records) {
    PRRtfController writer;
    for (const auto& record : records) writer.addRtfContent(cookies::exportLine(*record));
    if (const auto written = writer.writeRtfInPath(folder, "Note"); !written)
        logLine(written.error().message);
    s_.mainThread.performAndWait([this] { ExportFinishOnMainThread(); });
}

void AppDelegate::ExportFinishOnMainThread() {
    stopProgress(ui_);
    bCookieWorkerRunning = false;
    openOrOfferPath(s_.workspace, ui_, cookies::exportFolder(s_.paths).string());
}

}  // namespace vaultry
