#pragma once
// The operations of a soak sequence as RapidCheck commands. The generation model (Plan) knows only
// which items were made and where; what each item must be after an operation is the World's model,
// since a killed or faulted operation may end either way and only the world shows which.
#include <rapidcheck.h>
#include <rapidcheck/state.h>

#include <chrono>
#include <map>
#include <memory>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "soak/SoakWorld.h"

namespace vaultry::soak {

struct Plan {
    std::map<int, std::pair<int, int>> items;  // id: folder, name
    std::set<std::pair<int, int>> places;
};

using Cmd = rc::state::Command<Plan, World>;
using CmdPtr = std::shared_ptr<const Cmd>;

// Checks the world after a step: every invariant, as one failure naming all that broke.
void holds(World& w);

struct MakeItem : Cmd {
    int id = 0, folder = 0, name = 0, size = 0;
    bool isFolder = false;
    std::uint32_t seed = 0;
    MakeItem(int id, int folder, int name, bool isFolder, std::uint32_t seed, int size);
    explicit MakeItem(const Plan& p);
    void checkPreconditions(const Plan& p) const override;
    void apply(Plan& p) const override;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};

// What most vault operations share: the items, the way in and the fault.
struct VaultOp : Cmd {
    std::vector<int> ids;
    Via via = Via::Cli;
    Fault fault = Fault::None;
    int killMs = 0;
    VaultOp() = default;
    VaultOp(std::vector<int> ids, Via via, Fault fault = Fault::None, int killMs = 0)
        : ids(std::move(ids)), via(via), fault(fault), killMs(killMs) {}
    explicit VaultOp(const Plan& p);
    void checkPreconditions(const Plan& p) const override;
    std::chrono::microseconds killAfter() const { return std::chrono::milliseconds(killMs); }
    void showArgs(std::ostream& os) const;
};

struct Encrypt : VaultOp {
    using VaultOp::VaultOp;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct Decrypt : VaultOp {
    using VaultOp::VaultOp;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct Lock : VaultOp {
    using VaultOp::VaultOp;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct LockAll : VaultOp {
    LockAll(Via via, Fault fault = Fault::None, int killMs = 0) : VaultOp({}, via, fault, killMs) {}
    explicit LockAll(const Plan& p);
    void checkPreconditions(const Plan&) const override {}
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct Remove : VaultOp {
    using VaultOp::VaultOp;
    explicit Remove(const Plan& p);
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct ChangePassword : VaultOp {
    ChangePassword(Fault fault = Fault::None, int killMs = 0) : VaultOp({}, Via::Cli, fault, killMs) {}
    ChangePassword(Via via, Fault fault, int killMs = 0) : VaultOp({}, via, fault, killMs) {}
    explicit ChangePassword(const Plan& p);
    void checkPreconditions(const Plan&) const override {}
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};

struct MoveStorage : VaultOp {
    MoveStorage(Fault fault = Fault::None, int killMs = 0) : VaultOp({}, Via::Cli, fault, killMs) {}
    explicit MoveStorage(const Plan& p);
    void checkPreconditions(const Plan&) const override {}
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};

struct EditCopy : Cmd {
    int id = 0;
    Edit edit = Edit::Write;
    std::uint32_t seed = 0;
    EditCopy(int id, Edit edit, std::uint32_t seed) : id(id), edit(edit), seed(seed) {}
    explicit EditCopy(const Plan& p);
    void checkPreconditions(const Plan& p) const override;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};

struct Verify : Cmd {
    Via via = Via::Cli;
    explicit Verify(Via via) : via(via) {}
    explicit Verify(const Plan& p);
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct List : Cmd {
    List() = default;
    explicit List(const Plan&) {}
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override { os << "vaultry-cli vault list"; }
};
struct Restart : Cmd {
    Restart() = default;
    explicit Restart(const Plan&) {}
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override { os << "start the application again"; }
};

struct Hide : Cmd {
    std::vector<int> ids;
    bool on = true;
    Hide(std::vector<int> ids, bool on) : ids(std::move(ids)), on(on) {}
    explicit Hide(const Plan& p);
    void checkPreconditions(const Plan& p) const override;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct TrashPut : Cmd {
    int id = 0;
    bool longAgo = false;
    TrashPut(int id, bool longAgo) : id(id), longAgo(longAgo) {}
    explicit TrashPut(const Plan& p);
    void checkPreconditions(const Plan& p) const override;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct EmptyTrash : Cmd {
    World::Emptying how = World::Emptying::All;
    std::uint32_t seed = 0;
    EmptyTrash(World::Emptying how, std::uint32_t seed) : how(how), seed(seed) {}
    explicit EmptyTrash(const Plan& p);
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};
struct Erase : Cmd {
    int id = 0;
    bool throughLink = false;
    Erase(int id, bool throughLink) : id(id), throughLink(throughLink) {}
    explicit Erase(const Plan& p);
    void checkPreconditions(const Plan& p) const override;
    void run(const Plan& p, World& w) const override;
    void show(std::ostream& os) const override;
};

// Every command, weighted by how often it is drawn.
rc::Gen<CmdPtr> anyCommand(const Plan& p);

// Runs a written-down sequence on a fresh world; the failures as lines (empty when it held).
std::vector<std::string> replay(const std::vector<CmdPtr>& commands);

}  // namespace vaultry::soak
