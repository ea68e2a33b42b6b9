#pragma once
// The world a soak sequence runs in: a temporary home with user folders, a storage folder and
// bystander files, Vaultry's controllers over fake ports and real vaultry-cli processes, and the
// model of what every item must be. Each operation says which outcomes it allows; after each one
// the world is compared with the model and the differences are returned as readable lines.
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/AppDelegate.h"
#include "settings/SettingsStore.h"
#include "support/FakePorts.h"

namespace vaultry::soak {

namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

// What a path holds, entry by entry below it ("" is the path itself): "f:" + bytes for a file,
// "d" for a folder, "l:" + target for a link. Empty when nothing is there.
using Tree = std::map<std::string, std::string>;
Tree readTree(const fs::path& p);
void writeTree(const fs::path& p, const Tree& t);

// The folders items are made in, relative to the home.
extern const std::vector<std::string> kFolders;
// The names items get; some are shared by files and folders on purpose, so that archive names
// collide in the storage folder.
extern const std::vector<std::string> kNames;

enum class Via { Cli, App };
enum class Fault {
    None,
    Kill,              // kill -9 of the vaultry-cli process after a delay
    StorageRenamed,    // the storage folder's drive is away: the folder is not there
    StorageEmpty,      // ... and an empty folder stands in its place
    ReadOnlySettings,  // the settings folder cannot be written
    LockHeld,          // another process holds the storage folder's lock
    WriteFails,        // the disk fills: after a few writes (the delay's milliseconds), every one fails
    Alongside,         // another vaultry-cli runs `vault list` and `vault verify` meanwhile
};
const char* faultName(Fault f);

enum class Edit { Write, Append, Truncate, Delete, AddFile, RenameInside };
const char* editName(Edit e);

struct Item {
    // Plain, Hidden and Trashed hold `plain` (at its place, or in the Trash as `trashName`).
    enum State { Plain, Locked, Unlocked, Hidden, Trashed, Gone };
    int id = 0;
    bool folder = false;
    fs::path place;  // where the user keeps it
    State state = Plain;
    Tree plain;             // Plain: what is at its place
    Tree archive;           // Locked, Unlocked: what its archive holds
    Tree copy;              // Unlocked: its decrypted copy (empty when the user deleted it)
    bool edited = false;    // Unlocked: the copy was changed after it was decrypted
    std::string trashName;  // Trashed: its name in the Trash's files folder
    bool trashedLongAgo = false;
    bool encrypted() const { return state == Locked || state == Unlocked; }
    std::string record() const;
    std::string archiveName() const;
    bool operator==(const Item&) const = default;
};
const char* stateName(Item::State s);

// Counts for the soak report.
struct Stats {
    std::uint64_t sequences = 0, steps = 0, cliRuns = 0, appRuns = 0, checks = 0, archivesOpened = 0,
                  opensslChecks = 0, failures = 0;
    std::map<std::string, std::uint64_t> faults, operations;
    void write(std::ostream& os) const;
};
Stats& stats();

class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    // User actions: make an item; change a decrypted copy.
    void makeItem(int id, int folder, int name, bool isFolder, std::uint32_t seed, int size);
    void edit(int id, Edit e, std::uint32_t seed);

    // Vault operations on the items with these ids (all unlocked ones for lockAll), through the
    // controllers or a vaultry-cli process, with a fault injected. killAfter: for Fault::Kill.
    void encrypt(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter);
    void decrypt(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter);
    void lock(const std::vector<int>& ids, bool all, Via via, Fault f, std::chrono::microseconds killAfter);
    void remove(const std::vector<int>& ids, Via via, Fault f, std::chrono::microseconds killAfter);
    void changePassword(Via via, Fault f, std::chrono::microseconds killAfter);
    // `vault storage set` to a new drive folder; the old storage folder is kept as it is.
    void moveStorage(Fault f, std::chrono::microseconds killAfter);
    void verify(Via via);
    // `vault hide` / `vault unhide` of plain (hidden) items.
    void hide(const std::vector<int>& ids, bool on);
    // The user puts a plain item into the Trash with trash-put, as deleted long ago or just now.
    void trashItem(int id, bool longAgo);
    // `trash empty`: everything, the items deleted more than 30 days ago, or down to a size.
    enum class Emptying { All, OlderThan30Days, KeepUnder };
    void emptyTrash(Emptying how, std::uint32_t seed);
    // `erase` of an item's place, or of the same path reached through a link to its folder.
    void erase(int id, bool throughLink);
    void list();     // `vault list` against the model
    void restart();  // the controllers start again, as at the next run

    // Every difference between the world and the model; empty when all hold.
    Strings check();
    // The lines of what went wrong since the last call (operation results that broke a rule).
    Strings takeProblems();

    const fs::path& home() const { return dir_.path(); }
    fs::path storage() const { return storage_; }
    fs::path trashFiles() const { return home() / ".local/share/Trash/files"; }
    const std::map<int, Item>& items() const { return items_; }
    const std::string& pass() const { return pass_; }

private:
    struct Cli {
        int code = -1;
        bool killed = false;
        std::string out, err;
    };
    struct Held;                                       // a fault in force
    using Choices = std::map<int, std::vector<Item>>;  // acceptable states by item, wanted first

    Cli runCli(Strings args, const std::string& input, std::optional<std::chrono::microseconds> killAfter);
    Cli cliWithPass(Strings args, Fault f, std::chrono::microseconds killAfter,
                    const std::string& input = "");
    void startApp();
    AppDelegate& app();
    std::unique_ptr<Held> inject(Fault f, std::chrono::microseconds delay = {});
    // After the operation: settles a kill by an ordinary start, then takes for each item the
    // first acceptable state the world shows. `done` says which items the operation reported done.
    void settle(const Choices& choices, const std::map<int, bool>& reportedDone, bool killed,
                const std::string& what);
    Strings checkItem(const Item& it);
    std::optional<Tree> openArchive(const Item& it, std::string& why);
    std::optional<Tree> opensslArchive(const fs::path& archive, bool folder, std::string& why);
    void backdateStrays();
    bool archiveTaken(const std::string& name) const;

    test::TempDir dir_;
    test::TempDir scratch_;  // outside the home: openssl's output, pass files
    std::string pass_;
    int passChanges_ = 0;
    fs::path storage_;
    std::vector<fs::path> oldStorages_;  // kept after a move, with whatever they held
    std::map<int, Item> items_;
    std::map<std::string, Tree> bystanders_;  // relative path to what it holds (links not followed)
    std::map<std::string, std::pair<unsigned, std::int64_t>> bystanderMeta_;  // mode, mtime
    // Archive bytes already opened, with what they held (archives are opened once per version).
    std::map<std::string, Tree> opened_, opensslOpened_;
    Strings problems_;
    std::chrono::microseconds lastKill_{0};
    long writesBeforeFull_ = -1;  // Fault::WriteFails in force: vaultry-cli fails after as many
    std::string lastCli_;         // what the last vaultry-cli run printed, for messages

    // The controllers' ports; the settings store is made anew at each start, as a new run reads it.
    test::FakePaths paths_{dir_.path()};
    std::unique_ptr<SettingsStore> settings_;
    NotificationCenter nc_;
    test::FakeUi ui_;
    test::FakeMainThread mainThread_;
    test::FakeClock clock_;
    platform::LinuxBookmarks bookmarks_;
    test::FakeWorkspace workspace_;
    test::FakeHiddenFlag hiddenFlag_;
    test::FakeThumbnailer thumbnailer_;
    test::FakeSpawn spawn_;
    test::FakeHttp http_;
    test::FakeNotifier notifier_;
    test::FakeLoginItems loginItems_;
    std::unique_ptr<AppDelegate> app_;
};

}  // namespace vaultry::soak
