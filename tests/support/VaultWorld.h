#pragma once
// A started application with a vault: the password "pw", a storage folder <home>/Safe/vaultry.data
// and the pass phrase entered, on a temporary home whose settings file vaultry-cli reads too.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "app/PSTableCellView.h"
#include "support/CliRun.h"
#include "support/FakePorts.h"
#include "vault/Temporaries.h"

namespace vaultry::test {

struct VaultWorld {
    using Strings = std::vector<std::string>;
    World w;
    std::unique_ptr<AppDelegate> app;
    std::filesystem::path storage = w.dir / "Safe/vaultry.data";
    std::filesystem::path notes = w.dir / "Notes";

    // Without `unlocked`, only the application starts: no password, no storage folder.
    explicit VaultWorld(bool unlocked = true);
    void start();   // starts the application (again), as at the next run
    void unlock();  // enters "pw" in the password window
    void choose(Strings paths) { w.ui.panelAnswers.push_back(std::move(paths)); }
    // Encrypts one item; its record.
    std::string encrypt(const std::filesystem::path& item);
    std::unique_ptr<PSTableCellView> row(const std::string& record);
    void clickRow(const std::string& record);  // the vault table's clicked row
    Strings storedRecords();
    Strings storedDecrypted();
    CliRun cli(Strings args, const std::string& input = "") {
        return runCli(w.dir.path(), std::move(args), input);
    }
};

// What a run that died left: `path` made (a file holding `text`, or a folder when `text` is
// empty) and written down in the storage folder's journal as `kind`, its owner gone.
void leaveTemporary(const std::filesystem::path& storage, vault::TempKind kind,
                    const std::filesystem::path& path, const std::string& text = {});

}  // namespace vaultry::test
