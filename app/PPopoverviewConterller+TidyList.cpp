// The tidy list of the tray popover: kind buttons and menu, row commands, drag reordering and
// search over the records of the tidy folder.
#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/Notifications.h"
#include "app/PPopoverviewConterller.h"
#include "app/ShowInFileManager.h"
#include "desktop/FBFileNode.h"
#include "desktop/FileKind.h"
#include "desktop/Tidy.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "util/NoLinkPath.h"

namespace vaultry {
namespace {

struct KindButton {
    const char* outlet;
    const char* down;
    const char* normal;
    AppDelegate::FileNodes& (AppDelegate::*list)();
};

constexpr KindButton kKindButtons[] = {
    {outlet::allBtn, "alldownbbtn", "allnombbtn", &AppDelegate::getDesktopAllArray},
    {outlet::imageBtn, "imagedownbtn", "imagenombtn", &AppDelegate::getDesktopPicArray},
    {outlet::docuBtn, "docdownbtn", "docnombtn", &AppDelegate::getDesktopDocArray},
    {outlet::zipBtn, "zipdownbtn", "zipnombtn", &AppDelegate::getDesktopArchArray},
    {outlet::folderBtn, "folderdownbtn", "foldernombtn", &AppDelegate::getDesktopFolderArray},
    {outlet::tidyOtherBtn, "otherdownbbtn", "othernombbtn", &AppDelegate::getDesktopOtherArray},
};

std::string joined(const std::vector<std::string>& parts, const std::string& between) {
    std::string out;
    for (const auto& part : parts) out += (out.empty() ? "" : between) + part;
    return out;
}

void eraseNode(AppDelegate::FileNodes& list, const std::shared_ptr<FBFileNode>& node) {
    list.erase(std::remove(list.begin(), list.end(), node), list.end());
}

}  // namespace

void PPopoverviewConterller::initTidyList() {
    observers_.push_back(s_.nc.addObserver(notify::PBypeButtonMouseDown,
                                           [this](const Notification& n) { PBypeButtonMouseDownHandle(n); }));
}

void PPopoverviewConterller::endTidyList() {
    // A search hands back to the main thread before it ends; the loop must still be running.
    for (auto& job : searchJobs_) job->join();
    searchJobs_.clear();
}

void PPopoverviewConterller::SetTableControllerArray(const FileNodes& list) {
    std::lock_guard lock(tidyListMutex_);
    ++listGeneration_;
    tableArray = list;
    backupArray = list;
}

std::size_t PPopoverviewConterller::rowCount() const {
    std::lock_guard lock(tidyListMutex_);
    return tableArray.size();
}

std::shared_ptr<FBFileNode> PPopoverviewConterller::rowAt(long row) const {
    std::lock_guard lock(tidyListMutex_);
    if (row < 0 || static_cast<std::size_t>(row) >= tableArray.size()) return nullptr;
    return tableArray[static_cast<std::size_t>(row)];
}

void PPopoverviewConterller::showList(const FileNodes& list) {
    SetTableControllerArray(list);
    s_.ui.reload(kTidyTable);
}

void PPopoverviewConterller::PBypeButtonMouseDownHandle(const Notification& n) {
    const KindButton* pressed = nullptr;
    for (const auto& b : kKindButtons)
        if (n.object == s_.ui.outlet(b.outlet)) pressed = &b;
    if (!pressed) return;
    for (const auto& b : kKindButtons) s_.ui.setImage(b.outlet, &b == pressed ? b.down : b.normal);
    showList((app_.*pressed->list)());
}

void PPopoverviewConterller::SelectItemAction() {
    const auto chosen = static_cast<long>(s_.ui.number(kKindMenu));
    switch (chosen) {
        case 0:
            showList(app_.getDesktopAllArray());
            break;
        case 1:
            showList(app_.getDesktopFolderArray());
            break;
        case 2:
            showList(app_.getDesktopPicArray());
            break;
        case 3:
            showList(app_.getDesktopDocArray());
            break;
        case 4:
            showList(app_.getDesktopVideoArray());
            break;  // always empty
        case 6:
            showList(app_.getDesktopOtherArray());
            break;
        default:
            break;  // "Audios": no audio list is kept; the table stays as it is
    }
}

void PPopoverviewConterller::ClickTidyNowAct() {
    app_.ClickTidyAction();
    s_.ui.reload(kTidyTable);
}

void PPopoverviewConterller::ClickRefreshAct() {
    if (!app_.isTidying()) app_.freshCurrentDeskTop();  // a running tidy refreshes when it ends
    showList(app_.getDesktopAllArray());
}

bool PPopoverviewConterller::tableViewWriteRowsWithIndexes(const std::vector<long>& rows) {
    if (rows.empty()) return false;
    std::lock_guard lock(tidyListMutex_);
    sourceIndex = rows.front();
    return true;
}

bool PPopoverviewConterller::tableViewAcceptDrop(long row) {
    std::lock_guard lock(tidyListMutex_);
    const auto size = static_cast<long>(tableArray.size());
    if (sourceIndex < 0 || sourceIndex >= size || row < 0 || row > size) return false;
    // Insert at the drop row first; when the source sat at or after it, it moved one down.
    const auto node = tableArray[static_cast<std::size_t>(sourceIndex)];
    tableArray.insert(tableArray.begin() + row, node);
    const long removeAt = sourceIndex >= row ? sourceIndex + 1 : sourceIndex;
    tableArray.erase(tableArray.begin() + removeAt);
    sourceIndex = -1;
    return true;
}

void PPopoverviewConterller::CopyAction(long selectedRow) {
    if (auto node = rowAt(selectedRow)) copyItems({node});
}

void PPopoverviewConterller::ClickCopyFileAct(long clickedRow) {
    if (auto node = rowAt(clickedRow)) copyItems({node});
}

void PPopoverviewConterller::doubleclickAction(long selectedRow) {
    if (auto node = rowAt(selectedRow)) openItem(node);
}

void PPopoverviewConterller::ClickOpenFileAct(long clickedRow) {
    if (auto node = rowAt(clickedRow)) openItem(node);
}

void PPopoverviewConterller::ClickShowInFinderAct(long clickedRow) {
    if (auto node = rowAt(clickedRow)) revealItem(node);
}

void PPopoverviewConterller::ClickRestoreFileAct(long clickedRow) {
    if (auto node = rowAt(clickedRow)) restoreItems({node});
}

void PPopoverviewConterller::ClickDeleteFileAct(long clickedRow) {
    if (auto node = rowAt(clickedRow)) deleteItems({node});
}

void PPopoverviewConterller::openItem(const std::shared_ptr<FBFileNode>& item) {
    if (item) openOrOfferPath(s_.workspace, s_.ui, item->fullFilePath());
}

void PPopoverviewConterller::revealItem(const std::shared_ptr<FBFileNode>& item) {
    if (item) showInFileManager(s_.workspace, s_.ui, item->fullFilePath());
}

void PPopoverviewConterller::copyItems(const FileNodes& items) {
    std::vector<std::string> paths;
    for (const auto& node : items)
        if (node) paths.push_back(node->fullFilePath());
    if (!paths.empty()) s_.workspace.copyFiles(paths);
}

void PPopoverviewConterller::removeRecord(const std::shared_ptr<FBFileNode>& node) {
    app_.removeDesktopNode(node);
    {
        std::lock_guard lock(tidyListMutex_);
        eraseNode(tableArray, node);
        eraseNode(backupArray, node);  // clearing the search must not bring it back
        eraseNode(filterArray, node);
    }
    s_.ui.reload(kTidyTable);
}

void PPopoverviewConterller::restoreItems(const FileNodes& items) {
    std::vector<std::string> taken, failures;
    for (const auto& node : items) {
        if (!node) continue;
        const std::string name = node->fileName();
        const tidy::MoveResult moved =
            tidy::moveItem(node->fullFilePath(), (s_.paths.desktop() / name).string());
        switch (moved.error) {
            case tidy::MoveError::None:
            case tidy::MoveError::Vanished:  // no longer in the tidy folder: the record goes too
                if (!moved.ok()) logLine("restore: " + moved.message);
                removeRecord(node);
                break;
            case tidy::MoveError::NameTaken:
                taken.push_back("\"" + name + "\"");
                break;
            case tidy::MoveError::Failed:
            case tidy::MoveError::Cancelled:  // nothing cancels a restore; listed for completeness
                logLine("restore: " + moved.message);
                failures.push_back(moved.message);
                break;
        }
    }
    if (!taken.empty()) {
        const bool one = taken.size() == 1;
        s_.ui.runAlert({std::string(one ? "The Desktop already has an item named "
                                        : "The Desktop already has items named ") +
                            joined(taken, ", ") + ".",
                        std::string(items.size() == 1 ? "Nothing was restored."
                                    : one             ? "That item was not restored."
                                                      : "Those items were not restored.") +
                            (one ? " Rename or move the item" : " Rename or move the items") +
                            " on the Desktop, then try again.",
                        " Ok ", "", ""});
    }
    if (!failures.empty())
        s_.ui.runAlert({items.size() == 1 ? "The item could not be moved to the Desktop."
                                          : "Some items could not be moved to the Desktop.",
                        joined(failures, "\n"), " Ok ", "", ""});
}

void PPopoverviewConterller::deleteItems(const FileNodes& items) {
    FileNodes chosen;
    for (const auto& node : items)
        if (node) chosen.push_back(node);
    if (chosen.empty()) return;
    const std::string what = chosen.size() == 1 ? "\"" + chosen.front()->fileName() + "\""
                                                : "these " + std::to_string(chosen.size()) + " items";
    if (s_.ui.runAlert({"Are you sure you want to delete " + what + "?",
                        "Deleted items do not go to the Trash and cannot be brought back.", " Delete ",
                        " Cancel ", ""}) != platform::AlertAnswer::Default)
        return;
    std::vector<std::string> failures;
    for (const auto& node : chosen) {
        const std::string path = node->fullFilePath();
        // What is deleted is what the row names: never something reached through a link.
        if (const auto plain = pathWithoutLinks(path); !plain) {
            logLine("delete: " + plain.error().message);
            failures.push_back(plain.error().message);
            continue;
        }
        std::error_code ec;
        std::filesystem::remove_all(path, ec);
        if (std::filesystem::symlink_status(path).type() != std::filesystem::file_type::not_found) {
            logLine("delete: " + path + ": " + ec.message());
            failures.push_back(path + ": " + ec.message());
            continue;
        }
        removeRecord(node);
    }
    if (!failures.empty())
        s_.ui.runAlert(
            {chosen.size() == 1 ? "The item could not be deleted." : "Some items could not be deleted.",
             joined(failures, "\n"), " Ok ", "", ""});
}

void PPopoverviewConterller::controlTextDidChange() {
    // Searches that have handed back are done; collect them.
    for (auto it = searchJobs_.begin(); it != searchJobs_.end();) {
        if (!(*it)->running()) {
            (*it)->join();
            it = searchJobs_.erase(it);
        } else {
            ++it;
        }
    }
    const std::string text = s_.ui.text(kSearchField);
    if (text.empty()) {
        {
            std::lock_guard lock(tidyListMutex_);
            ++listGeneration_;  // a search still running must not narrow the restored list
            tableArray = backupArray;
        }
        s_.ui.reload(kTidyTable);
        return;
    }
    {
        std::lock_guard lock(tidyListMutex_);
        filterArray.clear();
    }
    const std::uint64_t generation = listGeneration_.load();
    auto& job = searchJobs_.emplace_back(std::make_unique<BackgroundTask>(s_.mainThread));
    job->run([this, text, generation] { StartSearchThread(text, generation); });
}

void PPopoverviewConterller::StartSearchThread(std::string text, std::uint64_t generation) {
    {
        std::lock_guard lock(tidyListMutex_);
        if (generation != listGeneration_.load()) return;  // another list was chosen meanwhile
        // Narrowing: the rows shown, not the full list, are searched.
        filterArray = tidy::filterByName(tableArray, text);
        tableArray = filterArray;
    }
    s_.mainThread.performAndWait([this] { s_.ui.reload(kTidyTable); });
}

}  // namespace vaultry
