#include <algorithm>
#include <filesystem>

#include "app/AppDelegate.h"
#include "desktop/FileKind.h"
#include "platform/Outlets.h"
#include "util/Log.h"
#include "vault/Records.h"
#include "vault/Rekey.h"
#include "vault/SafeRemoval.h"
#include "vault/Temporaries.h"
#include "vault/VaultIdentity.h"
#include "vault/VaultList.h"

namespace vaultry {

void AppDelegate::loadVaultLists() {
    const auto records = prefs_.records();
    backupFileDataArray.insert(backupFileDataArray.end(), records.begin(), records.end());
    FileDataArray.insert(FileDataArray.end(), records.begin(), records.end());
    const auto decrypted = prefs_.decryptedRecords();
    DecrytedDataArray.insert(DecrytedDataArray.end(), decrypted.begin(), decrypted.end());
    ui_.reload(outlet::fileTableView);
    const auto storage = prefs_.storePath();
    if (storage) {
        // A password change or a storage move cut short by a crash is settled before anything
        // opens an archive; one still running in another process is left to it.
        vault::settleInterruptedChanges(*storage, [this](const std::string& verifier) {
            prefs_.setPasswordVerifier(verifier);
            return prefs_.save();
        });
    }
    // What a killed run left behind, as the storage folder's journal names it: temporary files and
    // unpack folders (plaintext among them), items set aside, archives never recorded and
    // decrypted copies never listed.
    if (storage) {
        vault::sweepLeftovers(*storage);
        const auto reports = vault::settleIntents(
            *storage, backupFileDataArray, DecrytedDataArray,
            [this](const std::string& record) {
                markDecrypted(record);
                return saveDecrypted();
            },
            [this](const std::string& record) {
                unmarkDecrypted(record);
                return saveDecrypted();
            },
            [this](const std::string& record) {
                removeVaultRecord(record, true);
                return saveRecords();
            });
        if (!reports.empty()) {
            std::string text;
            for (const auto& r : reports) text += (text.empty() ? "" : "\n") + r;
            logLine(text);
            ui_.runAlert({"Vaultry finished work that was cut short", text, " Ok ", "", ""});
        }
    }
    if (storage) ui_.setText(outlet::StorePathlab, *storage);
    if (auto grant = prefs_.storeParentGrant()) {
        // A grant that does not resolve, or names another object now, is ignored.
        if (auto resolved = s_.bookmarks.resolve(*grant); resolved && !resolved->stale)
            s_.bookmarks.startAccessing(resolved->path);
    }
}

void AppDelegate::addVaultRecord(const std::string& record, vault::RecordKind kind) {
    vault::learnRecordKind(record, kind);
    backupFileDataArray.push_back(record);
    FileDataArray.push_back(record);
    recordChanges_.push_back({SettingsStore::ArrayChange::Add, record});
    for (const auto& entry : vault::kindEntriesOf(record))
        kindChanges_.push_back({SettingsStore::ArrayChange::Remove, entry});
    kindChanges_.push_back({SettingsStore::ArrayChange::Add, vault::kindEntry(kind, record)});
}

void AppDelegate::removeVaultRecord(const std::string& record, bool fromShownList) {
    std::erase(backupFileDataArray, record);
    if (fromShownList) std::erase(FileDataArray, record);
    recordChanges_.push_back({SettingsStore::ArrayChange::Remove, record});
    for (const auto& entry : vault::kindEntriesOf(record))
        kindChanges_.push_back({SettingsStore::ArrayChange::Remove, entry});
}

void AppDelegate::markDecrypted(const std::string& record) {
    // Decrypted again after its copy was deleted: it is listed once.
    if (std::find(DecrytedDataArray.begin(), DecrytedDataArray.end(), record) != DecrytedDataArray.end())
        return;
    DecrytedDataArray.push_back(record);
    decryptedChanges_.push_back({SettingsStore::ArrayChange::Add, record});
}

void AppDelegate::unmarkDecrypted(const std::string& record) {
    std::erase(DecrytedDataArray, record);
    decryptedChanges_.push_back({SettingsStore::ArrayChange::Remove, record});
}

namespace {
void applyChanges(StringArray& list, const std::vector<SettingsStore::ArrayChange>& changes) {
    for (const auto& change : changes) {
        if (change.kind == SettingsStore::ArrayChange::Add)
            list.push_back(change.item);
        else
            std::erase(list, change.item);
    }
}
}  // namespace

void AppDelegate::keepVaultRecord(const std::string& record, bool decrypted) {
    const auto entries = vault::kindEntriesOf(record);
    for (auto* changes : {&recordChanges_, &kindChanges_, &decryptedChanges_})
        std::erase_if(*changes, [&](const auto& c) {
            return c.item == record || std::find(entries.begin(), entries.end(), c.item) != entries.end();
        });
    const auto has = [&record](const StringArray& list) {
        return std::find(list.begin(), list.end(), record) != list.end();
    };
    if (!has(backupFileDataArray)) backupFileDataArray.push_back(record);
    FileDataArray = vault::filterRecords(backupFileDataArray, static_cast<vault::VaultFilter>(shownFilter_));
    if (decrypted && !has(DecrytedDataArray)) DecrytedDataArray.push_back(record);
}

bool AppDelegate::saveRecords() {
    // The decrypted list's changes go in the same write: a record leaves both or neither.
    auto lists = prefs_.changeLists({{Pref::Records, recordChanges_},
                                     {Pref::RecordKinds, kindChanges_},
                                     {Pref::DecryptedRecords, decryptedChanges_}});
    if (!lists) return false;
    recordChanges_.clear();
    kindChanges_.clear();
    decryptedChanges_.clear();
    DecrytedDataArray = std::move((*lists)[2]);
    vault::learnRecordKinds((*lists)[1]);
    auto& written = (*lists)[0];
    // Another process's changes come into the shown list too; without them it stays as it is.
    if (written != backupFileDataArray) {
        backupFileDataArray = std::move(written);
        FileDataArray =
            vault::filterRecords(backupFileDataArray, static_cast<vault::VaultFilter>(shownFilter_));
    }
    return true;
}

bool AppDelegate::saveDecrypted() {
    auto written = prefs_.changeList(Pref::DecryptedRecords, decryptedChanges_);
    if (!written) return false;
    decryptedChanges_.clear();
    DecrytedDataArray = std::move(*written);
    return true;
}

void AppDelegate::refreshVaultLists() {
    prefs_.reload();
    if (passPhraseKnown() && prefs_.passwordVerifier().value_or("") != passPhraseVerifier_) {
        // The password was changed by another process: the archives no longer open with ours.
        logLine("vault: the password was changed elsewhere; it is asked for again");
        forgetPassPhrase();
    }
    auto records = prefs_.records();
    vault::learnKinds(prefs_, storageFolder(), records);
    applyChanges(records, recordChanges_);
    auto decrypted = prefs_.decryptedRecords();
    applyChanges(decrypted, decryptedChanges_);
    if (records == backupFileDataArray && decrypted == DecrytedDataArray) return;
    backupFileDataArray = std::move(records);
    FileDataArray = vault::filterRecords(backupFileDataArray, static_cast<vault::VaultFilter>(shownFilter_));
    DecrytedDataArray = std::move(decrypted);
    ui_.reload(outlet::fileTableView);
}

}  // namespace vaultry
