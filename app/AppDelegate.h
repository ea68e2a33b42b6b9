#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/BackgroundTask.h"
#include "app/NotificationCenter.h"
#include "cookies/CookieRemoval.h"
#include "cookies/Profiles.h"
#include "desktop/FileKind.h"
#include "flows/LongWork.h"
#include "flows/Records.h"
#include "platform/Bookmarks.h"
#include "platform/Clock.h"
#include "platform/HiddenFlag.h"
#include "platform/Http.h"
#include "platform/LoginItems.h"
#include "platform/MainThread.h"
#include "platform/Notifier.h"
#include "platform/Paths.h"
#include "platform/Spawn.h"
#include "platform/Thumbnailer.h"
#include "platform/Ui.h"
#include "platform/Workspace.h"
#include "settings/Preferences.h"
#include "settings/SettingsStore.h"
#include "vault/AutoLock.h"
#include "vault/Records.h"
#include "vault/VaultIdentity.h"

namespace vaultry {

class FBFileNode;
class PRCookFileNode;
class PSTableCellView;
namespace vault {
enum class VaultFilter;
}
class PPopoverviewConterller;
class PRUpdateController;
namespace password {
class PassPhrase;
}

// Everything the application controller reaches the world through.
struct Services {
    platform::Ui& ui;
    SettingsStore& settings;
    NotificationCenter& nc;
    const platform::Paths& paths;
    const platform::Clock& clock;
    platform::MainThread& mainThread;
    platform::Bookmarks& bookmarks;
    platform::Workspace& workspace;
    platform::HiddenFlag& hiddenFlag;
    platform::Thumbnailer& thumbnailer;
    platform::Spawn& spawn;
    platform::Http& http;
    platform::Notifier& notifier;
    platform::LoginItems& loginItems;
};

// The application controller: one instance for the whole run. It owns the shared lists, flags,
// timers and workers, and carries one method per user action or step. Methods of each subsystem
// live in that subsystem's folder (vault/AppDelegate+Vault.cpp and so on).
class AppDelegate {
public:
    using FileNodes = std::vector<std::shared_ptr<FBFileNode>>;
    using CookNodes = std::vector<std::shared_ptr<PRCookFileNode>>;

    // init: takes the notification centre, registers the six widget observers and becomes the
    // instance GetAppControllor returns.
    explicit AppDelegate(Services services);
    ~AppDelegate();
    AppDelegate(const AppDelegate&) = delete;
    AppDelegate& operator=(const AppDelegate&) = delete;

    static AppDelegate* GetAppControllor();

    // ---- Start-up and lifecycle ------------------------------------------------------------
    void awakeFromNib();
    void applicationDidFinishLaunching();
    // At start, before the lists are read and the Trash's grant is recorded: what earlier versions
    // left behind is settled (flows/Upgrade.h), and a tidy folder that could not move out of the
    // storage folder is told.
    void settleEarlierVersions();
    void readConfigfileInfo();
    void BMakeModeTimer_hander();
    // Files handed to `vaultry` (on its command line, or by a later start) are only logged;
    // nothing is opened or added to the vault.
    bool applicationOpenFile(const std::string& fileName);
    void applicationOpenFiles(const std::vector<std::string>& fileNames);
    // Vaultry goes on without a window and without a tray icon (its window was closed on a desktop
    // that has no tray): the user is told so once per installation, in a notification whose click
    // brings the main window back. Auto-lock, the automatic tidy and the Trash schedule go on.
    void tellRunningInBackground();
    static constexpr const char* kBackgroundNotification = "RunningInBackground";

    // Kind lookups, as class operations of the controller.
    static std::int32_t GetImageType(const char* ext) { return vaultry::GetImageType(ext); }
    static std::int32_t GetViedoType(const char* ext) { return vaultry::GetViedoType(ext); }
    static std::int32_t GetAudioType(const char* ext) { return vaultry::GetAudioType(ext); }
    static std::int32_t GetDocumentType(const char* ext) { return vaultry::GetDocumentType(ext); }
    static std::int32_t GetArchiveType(const char* ext) { return vaultry::GetArchiveType(ext); }
    static char* size_to_unit(std::uint64_t bytes, char* out_buffer);

    // Atomic, copied string properties.
    std::string currentScanFilePath() const;
    void setCurrentScanFilePath(std::string path);
    std::string StorelocationPath() const;
    void setStorelocationPath(std::string path);
    bool binaryCookie() const { return binaryCookie_.load(); }
    void setBinaryCookie(bool on) { binaryCookie_.store(on); }

    // ---- Navigation and widgets ------------------------------------------------------------
    // A press of a skin button (PRLeftButtonMouseDown, FBLeftButtonMouseDown or
    // MyClosebuttonMouseDown), routed by the button's outlet.
    void SkinButtonMouseDownHandle(const Notification& n);
    void ClickShowInFinderNotificationHandle(const Notification& n);
    void ClickSwtichNotificationHandle(const Notification& n);
    void ClickSwtichOffNotificationHandle(const Notification& n);
    void initStateBannerView();
    // Linux has no sandbox: the Trash needs no grant from the user. The grant of the XDG Trash
    // folder is recorded under the keys the trash care and the cookie viewer read, whenever it
    // is missing or stale.
    void recordTrashGrant();

    // ---- Vault records ---------------------------------------------------------------------
    // Load at start-up: both record lists, the decrypted list, the storage location and its grant.
    void loadVaultLists();
    // To the full and the shown list, with its kind kept beside it.
    void addVaultRecord(const std::string& record, vault::RecordKind kind);
    void removeVaultRecord(const std::string& record, bool fromShownList);
    // Takes back the unsaved changes of one record: it stays in the lists as it was.
    void keepVaultRecord(const std::string& record, bool decrypted);
    void markDecrypted(const std::string& record);
    void unmarkDecrypted(const std::string& record);
    // The lists are saved as the additions and removals made since the last save, merged into
    // what the settings file holds now (vaultry-cli may have changed it meanwhile); the lists in
    // memory then become what was written. False when the file could not be written: the
    // changes stay pending.
    bool saveRecords();    // the full list under "VaultryDataArray", the kinds beside it
    bool saveDecrypted();  // the decrypted list under "VaultryDecryptedDataArray"
    // The lists as the vault's use cases change them: each change saved at once, and taken back
    // from the lists in memory when it could not be saved.
    class ShownLists;
    // Before a user action: the lists as the settings file holds them now, with changes not yet
    // saved kept; a pass phrase the stored password no longer matches (changed elsewhere) is
    // forgotten, so that the next action asks for the password again.
    void refreshVaultLists();
    // The lists as this run holds them: the records the vault table shows (filtered), every
    // record, and the records whose plaintext copy exists.
    const std::vector<std::string>& shownRecords() const { return FileDataArray; }
    const std::vector<std::string>& allRecords() const { return backupFileDataArray; }
    const std::vector<std::string>& decryptedRecords() const { return DecrytedDataArray; }

    // ---- Password gate ---------------------------------------------------------------------
    // The vault and the preferences sit behind the password; without one, only the
    // create-password window leads on.
    void OPenFileManageWindow();
    void ClickShowPereferenceWindow();
    void ReturnOnPasswordField();     // Return in enterPWLab: an empty entry does nothing
    void ClickEnterPasswordButton();  // enterPDButton: an empty entry is compared too
    void ClickCreatePasswordDone();   // doneButton
    void ChangePassWordAction();      // changePassWordBtn: re-encrypts every archive first
    // The shake of a window that answers a wrong entry: a closed path of eight left-right
    // swings of 5% of the width around the frame's origin, run for half a second. The GUI plays
    // it on the window's position (QtUi::shake).
    struct ShakeAnimation {
        std::vector<std::pair<double, double>> path;
        double duration = 0.5;
    };
    static ShakeAnimation shakeAnimation(double x, double y, double width);
    // The pass phrase is known after a correct entry (or a new password) in this run; it lives
    // in locked memory and is wiped at the end of the run.
    bool passPhraseKnown() const { return passPhrase_ != nullptr; }
    std::string_view passPhrase() const;
    void forgetPassPhrase();
    // True when `entered` is the vault password. A stored plain password from an older version
    // is replaced by its verifier on a match.
    bool checkVaultPassword(const std::string& entered);
    // Re-encrypts the archives and stores `next` as the vault password; the pass phrase is known.
    void changePasswordTo(std::string_view next);
    void enterPassword(bool fromButton);
    // Without a vault password, shows the create-password window and returns true; once a
    // password is made the preferences open when `thenPreferences`.
    bool offerNewPassword(bool thenPreferences = false);
    // True while the password prompt (or, without a password, the create-password window) was
    // opened for the preferences rather than the vault.
    bool passwordPromptOpensPreferences() const { return bperfPassW; }

    // ---- Hide, unhide, encrypt, decrypt, storage location ----------------------------------
    void HideFileAction();
    bool HiddenFileFolderFunction(const std::string& path);  // false when the flag could not be set
    void UnHiddenFileFolderFunction(const std::string& path);
    void EncryptFileAction();
    // Encrypts one item into the storage folder and records it; false when nothing was done.
    bool EncryptFileFolderFunction(const std::string& path);
    // Writes the plaintext copy of one encrypted record and marks it; false when nothing was done.
    bool DecryptFileFolderFunction(const std::string& record);
    // Checks every archive against the manifest and by decrypting it; says which do not hold.
    void VerifyArchivesAction();
    // Locks every decrypted copy (edited ones are saved into their archives first) and says in a
    // notification what was locked and what was left. Called on session lock, before sleep, at
    // logout and when idle (vault/AutoLock.h).
    void autoLockDecrypted(vault::LockTrigger trigger);
    // The first choice, a sheet on CreatePWWindow; `then` runs when the sheet ends, chosen or not.
    void ChooseEncryptedFileStoreLocation(std::function<void()> then = {});
    void ChangeStorePathAction();      // a sheet on preferWindows
    void ChooseStartLocationAction();  // tidybutton: a sheet on connectWindow
    // Asks for the vault storage folder (encrypting needs one); then runs `then` when one was set.
    void askForStorageFolder(std::function<void()> then);
    void openPanelDidEnd8(const std::optional<platform::Ui::Paths>& chosen);
    void openPanelDidEnd5(const std::optional<platform::Ui::Paths>& chosen);
    void openPanelDidEnd3(const std::optional<platform::Ui::Paths>& chosen);
    // Makes `folder`/vaultry.data the storage folder (flows::switchStorage, as `vaultry-cli vault
    // storage set` does): an existing vault moves behind the progress window, and the old folder
    // stays as it is; the items it still holds are named in "The old storage folder was kept.".
    void changeStorageFolder(const std::string& folder);
    // Drops the integrity identity when `storage` is a new folder without a manifest (not a move).
    void forgetIntegrityOfOtherFolder(const std::string& storage, bool moved);
    void refuseStorageChange(const std::string& why);  // "The storage folder was not changed."
    // Long work (encrypting, decrypting, locking, re-keying, moving, erasing, tidying) runs behind
    // the progress window; meanwhile timers leave their work for later and actions are refused.
    void runLongWork(const std::string& title, Progress& progress, const std::function<void()>& work);
    // The same, for the use cases.
    flows::RunLongWork longWork();
    bool isBusy() const { return longWorkRunning_; }
    bool lastWorkCancelled() const { return lastWorkCancelled_; }
    bool isMovingStorage() const { return storageMoveRunning_; }
    // The storage folder ("EncyptedStorePath"), empty when none is set.
    std::string storageFolder() const;
    // Whether the storage folder is the vault's own (vault::requireStorage); when it is not, the
    // user is told (with an alert unless `why` takes the message) and nothing may be done there.
    bool storageAvailable(const std::string& storage, std::string* why = nullptr);
    // True when a record of the vault is encrypted: its archive needs the storage folder.
    bool holdsArchives() const;
    // The tidy folder may be written to: the storage folder's identity when it lies there, and
    // the tidy folder's own. The message when it may not.
    std::string tidyDestinationRefusal(const std::string& folder);

    // ---- Vault list, switches, filters, quit and close -------------------------------------
    // Table data source of "fileTableView". A negative row yields no view; a row beyond the
    // shown list an unfilled one. Each row reads "VaultryDecryptedDataArray" for its state.
    std::unique_ptr<PSTableCellView> tableViewViewForTableColumnRow(std::string_view column,
                                                                    std::int64_t row);
    // Every row at once, from one reading of the decrypted list and of the thumbnail folder.
    std::vector<std::unique_ptr<PSTableCellView>> tableViewViewsForAllRows(std::string_view column);
    void RemoveFileFromListAction();
    void SelectAllEncryptedFilesAction();
    void SelectEncryptedImagesAction();
    void SelectEncryptedDocsAction();
    void SelectEncryptedMediasAction();
    void SelectEncryptedFoldersAction();
    void SelectEncryptedOtherAction();
    void applyVaultFilter(vault::VaultFilter filter);
    // Quit and close. windowShouldClose is the vault window's answer to the system's close.
    void QuiteVaultryAction();
    bool windowShouldClose();
    // The offer to hide the visible (decrypted) items, shown when the vault window closes.
    platform::AlertAnswer visibleItemsOffer();
    // Locks one decrypted item again (an edited copy is saved into its archive first) and takes
    // it out of the decrypted list; on failure the copy and the entry stay and `error` says why.
    bool lockDecryptedRecord(const std::string& record, std::string* error);
    // Takes note of what a freshly decrypted copy looks like, to tell later whether it changed.
    void rememberDecryptedCopy(const std::string& record);
    // Where the list reaches the engine's flows: decrypt one record, unhide one path, and the
    // pass phrase entered in this run (none when it has not been entered).
    bool decryptRecordForList(const std::string& record);
    void unhideRecordForList(const std::string& path);
    std::optional<std::string_view> listPassPhrase() const;
    // Menu commands. UnHideFileAction unhides the vault table's clicked row when it is a hidden
    // item (asking first, as its switch does); otherwise it opens the vault window, where hidden
    // items are unhidden row by row. ClickHelp opens the help page, else the installed README;
    // ActAboutAction shows the about window; ClickAutoTidyDesktop stores the box under "BAutoTidy".
    void UnHideFileAction();
    void ClickHelp();
    void ActAboutAction();
    void ClickAutoTidyDesktop();
    // Stores the time shown beside the automatic tidy's box ("TidyTime").
    void ChangeTidyTime();
    // Preferences. ChangeAutoLockAction keeps the idle time chosen in "autoLockPopup" (Off, 5,
    // 15 or 60 minutes) under "VaultAutoLockMinutes"; ChangeErasePassesAction keeps the erase
    // choice of "erasePassesPopup" (the tool's default, or one fast pass) under "ErasePasses".
    // The tidy exclusions ("TidyExclusions") are listed in "tidyExclusionList": the pattern typed
    // in "tidyExclusionField" is added once, the selected row removed, and KeepLaunchersAction
    // adds "*.desktop". readPreferences shows what is stored. ChangeLockOnSessionLockAction keeps
    // "lockOnSessionLockBtn" under "VaultLockOnSessionLock": "Off" above turns off only the idle
    // time, this box the locking when the screen locks, the computer sleeps or the session ends.
    void ChangeAutoLockAction();
    void ChangeLockOnSessionLockAction();
    void ChangeErasePassesAction();
    void AddTidyExclusionAction();
    void RemoveTidyExclusionAction();
    void KeepLaunchersAction();
    void readPreferences();

    // ---- Desktop tidy and browser ----------------------------------------------------------
    // The kind lists describe the tidy folder, not the live desktop (the live lists, not copies).
    FileNodes& getDesktopAllArray() { return currentDesktopAllArray; }
    FileNodes& getDesktopPicArray() { return currentDesktopPicArray; }
    FileNodes& getDesktopDocArray() { return currentDesktopDocArray; }
    FileNodes& getDesktopArchArray() { return currentDesktopArchArray; }
    FileNodes& getDesktopVideoArray() { return currentDesktopVidArray; }  // never filled
    FileNodes& getDesktopFolderArray() { return currentDesktopFoldArray; }
    FileNodes& getDesktopOtherArray() { return currentDesktopotherArray; }
    // "<StorelocationPath>/com.Quenmark.sortello"; empty while no storage location is set.
    std::string tidyStorageFolder() const;
    // A record of the path, appended to its kind list and the all list.
    void addShawDesktopByPath(const std::string& path);
    void addDesktopNode(const std::shared_ptr<FBFileNode>& node);
    // Removes a record from the all list and its kind list.
    void removeDesktopNode(const std::shared_ptr<FBFileNode>& node);
    void ScanDeskTopFileAndFolder();  // records of the tidy folder's visible entries
    void freshCurrentDeskTop();       // empty the lists, then scan
    void SortAllDataArray();          // newest first (the video list is left alone)
    // The main window's tidy button and the popover's: with no storage location, shows the
    // access window instead; while a tidy (or other long work) runs, a press does nothing. The
    // tidy runs behind the progress window, whose Cancel puts the desktop back as it was.
    void ClickTidyAction();
    // The desktop page and the popover's list show the kind lists again (after a tidy, a refresh,
    // a restore or a delete).
    void showDesktopLists();
    bool isTidying() const { return tidyRunning_.load(); }
    // The automatic tidy's worker body (no window): moves the desktop's visible entries into the
    // tidy folder, reads the folder again and hands the records to the main thread.
    void StartTidyActThreader(std::string desktopPath);
    // Main-thread finish: the lists become the tidy folder's records, newest first; the tidy
    // list shows them all; entries that stayed on the desktop are reported.
    void RefreshFinishTableViewMainThreadHandle(FileNodes records, std::size_t failedCount,
                                                std::string failedNames, std::string error);
    // The menu's "Undo Last Tidy" and the automatic tidy notification's "Undo": the items of the
    // last tidy go back to the desktop; a name taken there since is reported and left.
    void UndoLastTidy();
    // Called from the tick: tidies once a day at the chosen time (at the next tick after a sleep
    // that passed it), only with a tidy location, and announces the count with an "Undo" action.
    void autoTidyIfDue();
    // Desktop browser ("theBroswerView"): each selection shows a kind list and starts a new trail.
    void selectAllDesktop();
    void selectPictures();
    void selectDocuments();
    void selectArchives();
    void selectFolders();
    void selectOthers();
    // A double-click on item index: a folder opens in place (the items shown go onto
    // parentArray), anything else opens with its default application.
    void imageBrowserCellWasDoubleClicked(std::size_t index);
    void ClickBackAction();  // the items shown before the last folder was opened
    // What the browser shows now, and how many folders deep it has gone (the trail ClickBack
    // walks back).
    const FileNodes& browserItems() const { return browseArray; }
    std::size_t browserTrailDepth() const { return parentArray.size(); }
    void showInBrowser(FileNodes AppDelegate::*list);

    // ---- Trash care ------------------------------------------------------------------------
    // Sizes: du's count of a folder, a plain file's own size, 0 for a missing path.
    std::uint64_t fastFolderSizeAtFilePath(const std::string& path);
    std::uint64_t getTrashFileSize();
    void ShowTrashSize();  // the trash page's size label "trashSizelab", measured on a worker
    bool isMeasuringTrash() const { return trashSizeTask_.running(); }
    // The last emptying's size and date in the trash settings and on the trash page.
    void showLastEmptying();
    // The trash page's empty command: asks, records date and size, unlocks and empties.
    void StrongEmptyTrash();
    // The schedule's emptying: asks, records the date (and measuredSize's text when given).
    void removeAllTrashFile(std::optional<std::uint64_t> measuredSize = std::nullopt);
    void ShowAutoTrash();  // toggles "autoTrashWindow"
    // autoTrashTimer: a first check a minute after start-up, then one every hour. A check that
    // finds the Trash due announces it with StartShowNotify instead of asking at once.
    void startAutoTrashTimer();
    void CleanUpTimer_hander();  // the schedule check the timer runs
    // The schedule check against the settings view's boxes, time choice and "TrashStorage".
    bool trashIsDue();
    // The rules whose "only some items" option is on: older items, or the oldest down to the
    // size, removed without asking. True when one applied.
    bool removeSomeTrashItems();
    void StartShowNotify();
    // The notification delegate; the Notifier's responses arrive on the main thread.
    void userNotificationCenterDidDeliverNotification(const std::string& identifier);
    void userNotificationCenterDidActivateNotification(const std::string& identifier,
                                                       const std::string& action);
    void ClickSortelloOnLogin();
    // Secure erase: panel, confirmation, then the erasing behind the progress window (and a count
    // in "eraseProgresslab"). Cancel stops before the next file; the user is told what was erased
    // and what was left.
    void StartSafeDeleteFileAction();
    void EraseFileDirectoryPath(const std::string& folder);
    void EraseAllFinishedHanderToMainThread();
    bool isErasing() const { return eraseRunning_; }

    // ---- Cookie viewer ---------------------------------------------------------------------
    // Readers: each appends to cookArray (the binary reader also fills pagesizeArray).
    void ReadCookBinaryFileWithPath(const std::string& path);
    void ReadCookDatabaseFileWithPath(const std::string& path);
    void ReadFirefoxCookDatabaseFileWithPath(const std::string& path);
    // The cookie page's buttons.
    void ActClickSafariAction();
    void ActClickChromeAction();
    void ActClickFireFoxAction();
    void ActClickOpenCookiesAction();
    void ShowNewCookieRecords();  // what newCookieBtn shows: the records of the last opened file
    void ActRemoveCookieData();
    void ActExportCookieData();
    // Scans of the default stores; a request while a cookie worker runs is ignored.
    void ScanSafariCookieFile();
    void ScanChromeCookieFile();
    void ScanFireFoxCookieFile();
    void openPanelDidEnd1(const std::optional<platform::Ui::Paths>& chosen);
    void CheckFilePathISCookie(const std::string& path);
    // Workers (path empty: none) and their finishing steps on the main thread.
    void ScanCookBinaryFilePathhand(std::string path);
    void ScanDataBaseCookieFilePathhand(std::string path);
    void ScanFireFoxDataBaseCookieFilePathhand(std::string path);
    void ScanFinishOnMainThread();
    // Removal of part of the store read last: the given rows of the table, or every cookie of
    // the given domains. The keep-list is honoured here and by ActRemoveCookieData.
    void ActRemoveSelectedCookies(const std::vector<std::size_t>& rows);
    void ActRemoveCookiesOfDomains(const std::vector<std::string>& domains);
    // The keep-list ("CookieKeepDomains"), edited in the cookie page and from a row's menu.
    std::vector<std::string> cookieKeepList() const;
    bool AddCookieKeepDomain(const std::string& domain);
    bool RemoveCookieKeepDomain(const std::string& domain);
    // Every profile a browser button can read (the Chrome button: the whole Chromium family),
    // the default first; and a scan of one chosen profile.
    std::vector<cookies::Profile> cookieProfilesForButton(std::string_view button) const;
    void ScanCookieProfile(const cookies::Profile& profile);
    // The keyring that opens "v11" Chromium values; the Secret Service unless one is given here.
    void useSafeStorage(std::shared_ptr<cookies::SafeStorage> keyring) { safeStorage = std::move(keyring); }
    void startRemoval(cookies::RemovalPlan plan);
    void ActRemoveCookieDataThreader(std::string path, bool binary, bool firefox, cookies::RemovalPlan plan);
    void RemoveFinishOnMainThread();
    void ActExportCookieDataThreader(std::string folder, CookNodes records);
    void ExportFinishOnMainThread();
    bool cookieWorkerRunning() const { return bCookieWorkerRunning; }
    // What the cookie page shows and what it was read from: the table's records, the records
    // of the last opened file (newCookieBtn), the records the last reader produced, the page
    // sizes of the last binary file, and the cookie folder resolved from "CrumbscopeData" (empty
    // when none).
    const CookNodes& cookieRecords() const { return dataController; }
    const CookNodes& openedCookieRecords() const { return newCookieArray; }
    const CookNodes& readCookieRecords() const { return cookArray; }
    const std::vector<std::uint32_t>& cookiePageSizes() const { return pagesizeArray; }
    const std::string& cookieFolder() const { return bookmarkFileURL; }
    // Which store the table shows: Firefox's database, or a file the user opened.
    bool showsFirefoxCookies() const { return bFireFoxCookie; }
    bool showsOpenedCookieFile() const { return bOpenCookie; }

    // ---- Version check ---------------------------------------------------------------------
    // The menu's check-for-update command: an up-to-date result is shown too. A build without a
    // version list says that the package manager updates Vaultry instead.
    void CheckforUpdateAction();
    PRUpdateController& updateWindowController() { return *updateController; }  // the update window

    // ---- Popover, timers and test seams ------------------------------------------------------
    // The popover's controller: its tidy list and trash settings.
    PPopoverviewConterller& popoverController() { return *thePopViewController; }
    // The one-second tick (appearance, automatic tidy) and the automatic trash check.
    platform::MainThread::TimerId autoTidyTimerId() const { return autoTidyTimer; }
    platform::MainThread::TimerId autoTrashTimerId() const { return autoTrashTimer; }
    // Whether the status icon was last set for the dark appearance.
    bool inDarkMode() const { return isDarkMode; }
    // For tests and the screenshot tool: put records into the cookie table and the opened-file
    // list without reading a store.
    void setCookieRecordsForTest(CookNodes shown, CookNodes opened = {});
    // For tests: waits for the automatic tidy's worker to end once it has handed back.
    void joinTidyWorkerForTest();

private:
    // ---- Vault: pending list changes, the shown filter, the pass phrase, the storage move ----
    std::vector<SettingsStore::ArrayChange> recordChanges_, kindChanges_, decryptedChanges_;
    int shownFilter_ = 0;  // the vault::VaultFilter the shown list is built with
    std::shared_ptr<password::PassPhrase> passPhrase_;
    // A new password entered while the current pass phrase was not known: the change is finished
    // once the password prompt has it.
    std::shared_ptr<password::PassPhrase> pendingNewPassword_;
    std::string passPhraseVerifier_;   // the stored password the pass phrase was checked against
    bool storageMoveRunning_ = false;  // main thread only
    bool lastWorkCancelled_ = false;   // the last long work was stopped by its user

    // ---- Trash care and secure erase ---------------------------------------------------------
    // Items chosen for erasing and not yet taken by the worker; an erase command given while the
    // worker runs adds to them instead of starting a second worker.
    bool eraseRunning_ = false;  // main thread only

    // ---- Cookie viewer -----------------------------------------------------------------------
    // The keyring that opens "v11" Chromium values; the Secret Service unless replaced.
    std::shared_ptr<cookies::SafeStorage> safeStorage;

    CookNodes dataController;           // the records the cookie table "dataTableView" shows
    bool bCookieWorkerRunning = false;  // a scan, removal or export runs (main thread only)
    std::string removeFailure;          // why the last removal changed nothing; empty when it worked
    cookies::RemovalPlan removePlan;    // what the running or last removal takes away
    std::string scanBrowser;            // the browser whose profile the running scan reads

    std::unique_ptr<PRUpdateController> updateController;  // the update window's controller

    // ---- Shared state ------------------------------------------------------------------------
    std::vector<std::string> FileDataArray;        // shown vault records
    std::vector<std::string> backupFileDataArray;  // every vault record
    std::vector<std::string> DecrytedDataArray;    // records whose plaintext copy exists

    FileNodes currentDesktopAllArray, currentDesktopPicArray, currentDesktopDocArray, currentDesktopArchArray,
        currentDesktopVidArray, currentDesktopFoldArray, currentDesktopotherArray;
    FileNodes browseArray;  // items the desktop browser shows
    FileNodes AppDelegate::*browserList = &AppDelegate::currentDesktopAllArray;  // the kind chosen
    std::vector<FileNodes> parentArray;                                          // the browser's trail back
    std::atomic<bool> tidyRunning_{false};
    std::atomic<bool> tidyIsAutomatic_{false};  // the running tidy was started by the schedule
    std::size_t tidyMovedCount_ = 0;            // set by the worker before it hands back

    std::vector<std::uint32_t> pagesizeArray;
    CookNodes cookArray, newCookieArray;
    bool bSafariCookie = false, bOpenCookie = false, bFireFoxCookie = false;
    std::string bookmarkFileURL;  // cookie folder resolved from "CrumbscopeData"; empty when none

    platform::MainThread::TimerId autoTidyTimer = 0;
    bool tidyAfterLocation_ = false;  // the access window was opened by a tidy, which goes on after it
    // Shows the access window, which asks where tidied items go.
    void askTidyLocation(bool thenTidy);
    platform::MainThread::TimerId autoTrashTimer = 0;
    bool isDarkMode = false;
    bool bperfPassW = false;
    NotificationCenter& nc;
    std::unique_ptr<PPopoverviewConterller> thePopViewController;

    bool longWorkRunning_ = false;                        // main thread only
    std::optional<vault::LockTrigger> deferredAutoLock_;  // came while long work ran
    Services s_;
    platform::Ui& ui_ = s_.ui;
    Preferences prefs_{s_.settings};
    mutable std::mutex propertyMutex_;
    std::string currentScanFilePath_;
    std::string storelocationPath_;
    std::atomic<bool> binaryCookie_{false};
    std::vector<NotificationCenter::Token> observers_;
    // The integrity manifest's identity is kept in the settings vaultry-cli shares.
    std::unique_ptr<vault::SettingsIntegrityKeeper> integrityKeeper_;

    // ---- Workers: last, so that what they use is made before them and goes after them -------
    BackgroundTask cookieScanTask_{s_.mainThread};    // the cookie scans
    BackgroundTask cookieExportTask_{s_.mainThread};  // the cookie export
    BackgroundTask cookieRemoveTask_{s_.mainThread};  // the cookie removal
    BackgroundTask tidyTask_{s_.mainThread};          // the automatic tidy
    BackgroundTask trashSizeTask_{s_.mainThread};     // measures the Trash for its label
};

}  // namespace vaultry
