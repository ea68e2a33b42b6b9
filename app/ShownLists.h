#pragma once
#include <algorithm>
#include <string>

#include "app/AppDelegate.h"
#include "flows/Records.h"

namespace vaultry {

class AppDelegate::ShownLists : public flows::VaultLists {
public:
    explicit ShownLists(AppDelegate& app) : app_(app) {}
    StringArray records() override { return app_.backupFileDataArray; }
    bool add(const std::string& record, vault::RecordKind kind) override {
        app_.addVaultRecord(record, kind);
        if (app_.saveRecords()) return true;
        // Not written: the record's changes are taken back, the lists stay as they were.
        for (auto it = app_.recordChanges_.rbegin(); it != app_.recordChanges_.rend(); ++it)
            if (it->kind == SettingsStore::ArrayChange::Add && it->item == record) {
                app_.recordChanges_.erase(std::next(it).base());
                break;
            }
        for (const auto& entry : vault::kindEntriesOf(record))
            std::erase_if(app_.kindChanges_, [&entry](const auto& c) { return c.item == entry; });
        for (auto* list : {&app_.backupFileDataArray, &app_.FileDataArray})
            if (auto it = std::find(list->rbegin(), list->rend(), record); it != list->rend())
                list->erase(std::next(it).base());
        return false;
    }
    bool remove(const std::string& record) override {
        const bool wasDecrypted = listed(app_.DecrytedDataArray, record);
        app_.unmarkDecrypted(record);
        app_.removeVaultRecord(record, true);
        if (app_.saveRecords()) return true;
        app_.keepVaultRecord(record, wasDecrypted);
        return false;
    }
    bool markDecrypted(const std::string& record) override {
        if (listed(app_.DecrytedDataArray, record)) return true;
        app_.markDecrypted(record);
        if (app_.saveDecrypted()) return true;
        app_.unmarkDecrypted(record);
        std::erase_if(app_.decryptedChanges_,
                      [&record](const SettingsStore::ArrayChange& c) { return c.item == record; });
        return false;
    }

    bool unmarkDecrypted(const std::string& record) override {
        // Not written, the change stays pending for the next save.
        app_.unmarkDecrypted(record);
        return app_.saveDecrypted();
    }

private:
    static bool listed(const StringArray& list, const std::string& record) {
        return std::find(list.begin(), list.end(), record) != list.end();
    }
    AppDelegate& app_;
};

}  // namespace vaultry
