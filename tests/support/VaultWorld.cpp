#include "support/VaultWorld.h"

#include <gtest/gtest.h>

#include "settings/Preferences.h"
#include "vault/PasswordVerifier.h"

namespace vaultry::test {

namespace fs = std::filesystem;

VaultWorld::VaultWorld(bool unlocked) {
    if (unlocked) {
        w.settings.set(prefkey::PasswordVerifier, *password::makeVerifier("pw"));
        fs::create_directories(w.dir / "Safe");
        fs::create_directories(notes);
    }
    start();
    if (!unlocked) return;
    app->openPanelDidEnd8(platform::Ui::Paths{(w.dir / "Safe").string()});
    unlock();
}

void VaultWorld::start() {
    app.reset();
    app = std::make_unique<AppDelegate>(w.services());
    app->applicationDidFinishLaunching();
}

void VaultWorld::unlock() {
    w.ui.setText("enterPWLab", "pw");
    app->ReturnOnPasswordField();
}

std::string VaultWorld::encrypt(const fs::path& item) {
    EXPECT_TRUE(app->EncryptFileFolderFunction(item.string())) << item;
    return app->allRecords().back();
}

std::unique_ptr<PSTableCellView> VaultWorld::row(const std::string& record) {
    for (std::size_t r = 0; r < app->shownRecords().size(); ++r)
        if (app->shownRecords()[r] == record)
            return app->tableViewViewForTableColumnRow("name", std::int64_t(r));
    return nullptr;
}

void VaultWorld::clickRow(const std::string& record) {
    for (std::size_t r = 0; r < app->shownRecords().size(); ++r)
        if (app->shownRecords()[r] == record) w.ui.at("fileTableView").clickedRow = std::int64_t(r);
}

VaultWorld::Strings VaultWorld::storedRecords() {
    return w.settings.stringArray(prefkey::Records).value_or(Strings{});
}

VaultWorld::Strings VaultWorld::storedDecrypted() {
    return w.settings.stringArray(prefkey::DecryptedRecords).value_or(Strings{});
}

void leaveTemporary(const fs::path& storage, vault::TempKind kind, const fs::path& path,
                    const std::string& text) {
    auto entry = vault::Temporary::reserve(storage, kind, path);
    ASSERT_TRUE(entry) << entry.error().message;
    if (text.empty())
        fs::create_directories(path);
    else
        writeFile(path, text);
    ASSERT_TRUE(entry->made(*vault::identityOf(path)));
    entry->keepForSweep();
}

}  // namespace vaultry::test
