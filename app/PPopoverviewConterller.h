#pragma once
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/BackgroundTask.h"
#include "platform/Outlets.h"

namespace vaultry {

// The controller of the tray popover: the tidy list of the tidied desktop, and the trash
// settings view (also shown in the automatic-trash window). Tidy-list methods live in desktop/,
// trash-settings methods in trash/.
class PPopoverviewConterller {
public:
    // app: the application controller that owns this one and its lists; it outlives it.
    PPopoverviewConterller(AppDelegate& app, Services services);
    ~PPopoverviewConterller();
    PPopoverviewConterller(const PPopoverviewConterller&) = delete;
    PPopoverviewConterller& operator=(const PPopoverviewConterller&) = delete;

    // The one-decimal size text ("1.0MB") into a caller's zero-filled 100-byte buffer; also
    // returned as a string.
    std::string size_to_unit(std::uint64_t bytes, char* out_buffer);

    // ---- Tidy list -------------------------------------------------------------------------
    using FileNodes = AppDelegate::FileNodes;
    // Outlets of the tidy list: the table, the search field, the kind menu.
    static constexpr const char* kTidyTable = outlet::tidyTableView;
    static constexpr const char* kSearchField = outlet::searchField;
    static constexpr const char* kKindMenu = outlet::thepBtn;
    // The kind menu's items, in order; the menu's number is the chosen position.
    static constexpr const char* kKindMenuItems[] = {"All Content", "Folders", "Pictures", "Documents",
                                                     "Videos",      "Audios",  "Other"};
    // The pasteboard type of a drag inside the table (the archived row indexes).
    static constexpr const char* kDragType = "MyDataType";

    // The rows shown, the full copy of the list last chosen (for search), and the last search
    // result. Guarded by the tidy list's lock: other threads read them through rowCount/rowAt;
    // tests read them directly once every search has handed back.
    FileNodes tableArray, backupArray, filterArray;
    long sourceIndex = -1;  // row being dragged

    // tableArray and backupArray become copies of the list; a search still running is dropped.
    void SetTableControllerArray(const FileNodes& list);
    std::size_t rowCount() const;
    std::shared_ptr<FBFileNode> rowAt(long row) const;  // null outside the rows

    // The six kind buttons post "PBypeButtonMouseDown" with themselves as the object.
    void PBypeButtonMouseDownHandle(const Notification& n);
    void SelectItemAction();  // the kind menu: shows the list of its chosen item
    void ClickTidyNowAct();   // the tidy button
    void ClickRefreshAct();   // the refresh button: read the tidy folder again, show all

    // Drag reordering inside the table: starting a drag remembers the first row; a drop at row
    // moves that record there. Only tableArray changes. False when nothing can be dragged/dropped.
    bool tableViewWriteRowsWithIndexes(const std::vector<long>& rows);
    bool tableViewAcceptDrop(long row);

    // Row commands: the item commands below for one row. row is the table's selected or
    // clicked row (-1 for none); a row outside the rows does nothing.
    void CopyAction(long selectedRow);
    void ClickCopyFileAct(long clickedRow);
    void doubleclickAction(long selectedRow);
    void ClickOpenFileAct(long clickedRow);
    void ClickShowInFinderAct(long clickedRow);
    void ClickRestoreFileAct(long clickedRow);
    void ClickDeleteFileAct(long clickedRow);

    // Item commands, for items shown anywhere: the tidy list's rows, or what is selected on the
    // Desktop page (which may lie inside a tidied folder).
    void openItem(const std::shared_ptr<FBFileNode>& item);    // with its default application
    void revealItem(const std::shared_ptr<FBFileNode>& item);  // in the file manager
    void copyItems(const FileNodes& items);                    // as a file manager copies them
    // Back to the desktop under their names. A name the desktop already holds is refused (nothing
    // is overwritten), and so is a failed move; those records stay, and one alert says why.
    void restoreItems(const FileNodes& items);
    // Asks first, then deletes for good (not to the Trash); a record goes only once its item is
    // gone, and one alert names what could not be deleted.
    void deleteItems(const FileNodes& items);

    // The search field changed: an empty text shows the chosen list again, any other text
    // narrows the rows shown on a search thread.
    void controlTextDidChange();
    void StartSearchThread(std::string text, std::uint64_t generation);  // search thread body

    // ---- Trash settings --------------------------------------------------------------------
    // The storage slider's range as the GUI builds it (0 to kStorageSliderMaximum).
    static constexpr double kStorageSliderMaximum = 100;
    void ChangeTheTrashTime();    // "theTimeBtn" changed: a known title goes to "CleanTimeF"
    void TragTheStorageAction();  // "storageSlider" moved: "storagelab" and "TrashStorage"
    // "storageSlider" dragged: "storagelab" follows it; nothing is stored until it is let go.
    std::uint64_t ShowStorageThreshold();
    // The last-emptying labels; each text is set only when given.
    void ShowLastCleanUpInfo(const std::optional<std::string>& sizeText,
                             const std::optional<std::string>& dateText);
    // "cleanTimeCheckBtn" or "cleanStorageCheckBtn" toggled: both are kept, so the schedule
    // holds across restarts; a failure to keep them is reported.
    void ClickTrashChecks();
    // "trashOnlyOlderBtn" or "trashOnlyOldestBtn" toggled: the schedule's options to remove only
    // the items older than the interval, or only the oldest down to the size ("YES"/"NO").
    void ClickTrashOnlyChecks();
    // The trash settings as stored: boxes, time choice, the slider and its label, last emptying.
    void showTrashSettings();
    std::string getTimeFrequency();
    bool BCheckDate();
    bool BCheckStorage();
    void readConfigfileInfo();
    // "autoLunchBtn" changed: the login item follows it and "BAutoLogin" records what holds.
    void ClickAutoTrashOnLogin();
    bool addAutoTrashAppAsLoginItem();
    bool deleteAutoTrashAppFromLoginItem();

private:
    AppDelegate& app_;
    Services s_;
    Preferences prefs_{s_.settings};
    std::vector<NotificationCenter::Token> observers_;

    // ---- Tidy list state -------------------------------------------------------------------
    void initTidyList();
    void endTidyList();
    void removeRecord(const std::shared_ptr<FBFileNode>& node);
    void showList(const FileNodes& list);
    mutable std::mutex tidyListMutex_;              // the tidy list's one lock
    std::atomic<std::uint64_t> listGeneration_{0};  // bumped whenever a new list is chosen
    // The searches started and not collected yet; each ends once it has handed back.
    std::vector<std::unique_ptr<BackgroundTask>> searchJobs_;

    // ---- Trash settings state --------------------------------------------------------------
};

}  // namespace vaultry
