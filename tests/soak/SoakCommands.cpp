#include "soak/SoakCommands.h"

#include <iostream>
#include <sstream>

namespace vaultry::soak {

namespace {

const char* viaName(Via v) { return v == Via::Cli ? "vaultry-cli" : "controller"; }

std::vector<int> ids(const Plan& p) {
    std::vector<int> out;
    for (const auto& [id, place] : p.items) out.push_back(id);
    return out;
}

// One to three of the items made so far (the same one may come twice).
std::vector<int> someItems(const Plan& p) {
    const auto all = ids(p);
    if (all.empty()) return {};
    const int n = *rc::gen::weightedElement<int>({{6, 1}, {2, 2}, {1, 3}});
    return *rc::gen::container<std::vector<int>>(std::size_t(n), rc::gen::elementOf(all));
}

// Uniform whatever the size: RapidCheck scales ranges with the size, which would leave the large
// values (here: the faults listed last, long kill delays) to the end of a run.
template <class T>
rc::Gen<T> uniform(T min, T max) {
    return rc::gen::resize(rc::kNominalSize, rc::gen::inRange<T>(min, max));
}

Via someVia() { return *rc::gen::element(Via::Cli, Via::App); }

Fault someFault(Via via) {
    std::vector<std::pair<std::uint32_t, Fault>> w{{14, Fault::None},        {1, Fault::StorageRenamed},
                                                   {1, Fault::StorageEmpty}, {1, Fault::ReadOnlySettings},
                                                   {1, Fault::LockHeld},     {1, Fault::WriteFails},
                                                   {2, Fault::Alongside}};
    if (via == Via::Cli) w.push_back({6, Fault::Kill});
    std::uint32_t total = 0;
    for (const auto& [weight, f] : w) total += weight;
    std::uint32_t pick = *uniform<std::uint32_t>(0, total);
    for (const auto& [weight, f] : w) {
        if (pick < weight) return f;
        pick -= weight;
    }
    return Fault::None;
}

}  // namespace

void holds(World& w) {
    ++stats().steps;
    const auto problems = w.check();
    if (problems.empty()) return;
    std::string all;
    for (const auto& p : problems) all += "\n  " + p;
    // Also on standard error as it happens: the log keeps it whatever the shrinking reports.
    std::cerr << "[soak] step " << stats().steps << " broke the model:" << all << std::endl;
    RC_FAIL("the world broke the model:" + all);
}

// ---- Making items and editing copies ----------------------------------------------------------

MakeItem::MakeItem(int id, int folder, int name, bool isFolder, std::uint32_t seed, int size)
    : id(id), folder(folder), name(name), size(size), isFolder(isFolder), seed(seed) {}

MakeItem::MakeItem(const Plan& p)
    : id(int(p.items.size())),
      folder(*uniform<int>(0, int(kFolders.size()))),
      name(*uniform<int>(0, int(kNames.size()))),
      size(*rc::gen::weightedElement<int>({{5, 0}, {5, 1}, {1, 2}}) == 0 ? *rc::gen::inRange(0, 64)
                                                                         : *rc::gen::inRange(64, 40000)),
      isFolder(*rc::gen::weightedElement<bool>({{2, false}, {1, true}})),
      seed(*rc::gen::arbitrary<std::uint32_t>()) {
    while (p.items.count(id)) ++id;
}

void MakeItem::checkPreconditions(const Plan& p) const {
    RC_PRE(!p.items.count(id));
    RC_PRE(!p.places.count({folder, name}));
}

void MakeItem::apply(Plan& p) const {
    p.items[id] = {folder, name};
    p.places.insert({folder, name});
}

void MakeItem::run(const Plan&, World& w) const {
    w.makeItem(id, folder, name, isFolder, seed, size);
    holds(w);
}

void MakeItem::show(std::ostream& os) const {
    os << "make " << (isFolder ? "folder" : "file") << " #" << id << " " << kFolders[std::size_t(folder)]
       << "/" << kNames[std::size_t(name)] << " (" << size << " bytes, seed " << seed << ")";
}

EditCopy::EditCopy(const Plan& p)
    : id(p.items.empty() ? 0 : *rc::gen::elementOf(ids(p))),
      edit(*rc::gen::element(Edit::Write, Edit::Append, Edit::Truncate, Edit::Delete, Edit::AddFile,
                             Edit::RenameInside)),
      seed(*rc::gen::arbitrary<std::uint32_t>()) {}

void EditCopy::checkPreconditions(const Plan& p) const { RC_PRE(p.items.count(id) > 0); }

void EditCopy::run(const Plan&, World& w) const {
    w.edit(id, edit, seed);
    holds(w);
}

void EditCopy::show(std::ostream& os) const {
    os << "edit the decrypted copy of #" << id << ": " << editName(edit) << " (seed " << seed << ")";
}

// ---- Vault operations ---------------------------------------------------------------------------

VaultOp::VaultOp(const Plan& p) : ids(someItems(p)), via(someVia()) {
    fault = someFault(via);
    if (fault == Fault::Kill) killMs = *uniform(1, 700);
    if (fault == Fault::WriteFails || fault == Fault::Alongside) killMs = *uniform(0, 60);
}

void VaultOp::checkPreconditions(const Plan& p) const {
    RC_PRE(!ids.empty());
    for (int id : ids) RC_PRE(p.items.count(id) > 0);
}

void VaultOp::showArgs(std::ostream& os) const {
    for (int id : ids) os << " #" << id;
    os << " (" << viaName(via) << ")";
    if (fault == Fault::Kill)
        os << " [kill -9 after " << killMs << " ms]";
    else if (fault == Fault::WriteFails)
        os << " [writes fail after " << killMs << "]";
    else if (fault != Fault::None)
        os << " [" << faultName(fault) << "]";
}

void Encrypt::run(const Plan&, World& w) const {
    w.encrypt(ids, via, fault, killAfter());
    holds(w);
}
void Encrypt::show(std::ostream& os) const {
    os << "encrypt";
    showArgs(os);
}

void Decrypt::run(const Plan&, World& w) const {
    w.decrypt(ids, via, fault, killAfter());
    holds(w);
}
void Decrypt::show(std::ostream& os) const {
    os << "decrypt";
    showArgs(os);
}

void Lock::run(const Plan&, World& w) const {
    w.lock(ids, false, via, fault, killAfter());
    holds(w);
}
void Lock::show(std::ostream& os) const {
    os << "lock";
    showArgs(os);
}

LockAll::LockAll(const Plan&) : VaultOp({}, someVia()) {
    fault = someFault(via);
    if (fault == Fault::Kill) killMs = *uniform(1, 700);
    if (fault == Fault::WriteFails || fault == Fault::Alongside) killMs = *uniform(0, 60);
}
void LockAll::run(const Plan&, World& w) const {
    w.lock({}, true, via, fault, killAfter());
    holds(w);
}
void LockAll::show(std::ostream& os) const {
    os << "lock all";
    showArgs(os);
}

Remove::Remove(const Plan& p) : VaultOp(someItems(p), someVia()) {
    fault = someFault(via);
    if (fault == Fault::Kill) killMs = *uniform(1, 700);
    if (fault == Fault::WriteFails || fault == Fault::Alongside) killMs = *uniform(0, 60);
}
void Remove::run(const Plan&, World& w) const {
    w.remove(ids, via, fault, killAfter());
    holds(w);
}
void Remove::show(std::ostream& os) const {
    os << "remove from the vault";
    showArgs(os);
}

ChangePassword::ChangePassword(const Plan&) : VaultOp({}, someVia()) {
    fault = someFault(via);
    if (fault == Fault::Kill) killMs = *uniform(1, 3000);
    if (fault == Fault::WriteFails || fault == Fault::Alongside) killMs = *uniform(0, 60);
}
void ChangePassword::run(const Plan&, World& w) const {
    w.changePassword(via, fault, killAfter());
    holds(w);
}
void ChangePassword::show(std::ostream& os) const {
    os << "change the password";
    showArgs(os);
}

MoveStorage::MoveStorage(const Plan&) : VaultOp({}, Via::Cli) {
    fault = someFault(Via::Cli);
    if (fault == Fault::Kill) killMs = *uniform(1, 3000);
    if (fault == Fault::WriteFails || fault == Fault::Alongside) killMs = *uniform(0, 60);
}
void MoveStorage::run(const Plan&, World& w) const {
    w.moveStorage(fault, killAfter());
    holds(w);
}
void MoveStorage::show(std::ostream& os) const {
    os << "move the storage folder to a new drive";
    showArgs(os);
}

Verify::Verify(const Plan&) : via(someVia()) {}
void Verify::run(const Plan&, World& w) const {
    w.verify(via);
    holds(w);
}
void Verify::show(std::ostream& os) const { os << "verify the archives (" << viaName(via) << ")"; }

void List::run(const Plan&, World& w) const {
    w.list();
    holds(w);
}

void Restart::run(const Plan&, World& w) const {
    w.restart();
    holds(w);
}

// ---- Hiding, the Trash and erasing ---------------------------------------------------------------

Hide::Hide(const Plan& p) : ids(someItems(p)), on(*rc::gen::weightedElement<bool>({{2, true}, {1, false}})) {}

void Hide::checkPreconditions(const Plan& p) const {
    RC_PRE(!ids.empty());
    for (int id : ids) RC_PRE(p.items.count(id) > 0);
}

void Hide::run(const Plan&, World& w) const {
    w.hide(ids, on);
    holds(w);
}

void Hide::show(std::ostream& os) const {
    os << (on ? "hide" : "unhide");
    for (int id : ids) os << " #" << id;
    os << " (vaultry-cli)";
}

TrashPut::TrashPut(const Plan& p)
    : id(p.items.empty() ? 0 : *rc::gen::elementOf(ids(p))), longAgo(*rc::gen::arbitrary<bool>()) {}

void TrashPut::checkPreconditions(const Plan& p) const { RC_PRE(p.items.count(id) > 0); }

void TrashPut::run(const Plan&, World& w) const {
    w.trashItem(id, longAgo);
    holds(w);
}

void TrashPut::show(std::ostream& os) const {
    os << "put #" << id << " into the Trash (trash-put" << (longAgo ? ", deleted 60 days ago)" : ")");
}

EmptyTrash::EmptyTrash(const Plan&)
    : how(*rc::gen::element(World::Emptying::All, World::Emptying::OlderThan30Days,
                            World::Emptying::KeepUnder)),
      seed(*rc::gen::arbitrary<std::uint32_t>()) {}

void EmptyTrash::run(const Plan&, World& w) const {
    w.emptyTrash(how, seed);
    holds(w);
}

void EmptyTrash::show(std::ostream& os) const {
    os << "vaultry-cli trash empty"
       << (how == World::Emptying::All               ? ""
           : how == World::Emptying::OlderThan30Days ? " --older-than 30"
                                                     : " --keep-under " + std::to_string(seed % 60000));
}

Erase::Erase(const Plan& p)
    : id(p.items.empty() ? 0 : *rc::gen::elementOf(ids(p))),
      throughLink(*rc::gen::weightedElement<bool>({{3, false}, {1, true}})) {}

void Erase::checkPreconditions(const Plan& p) const { RC_PRE(p.items.count(id) > 0); }

void Erase::run(const Plan&, World& w) const {
    w.erase(id, throughLink);
    holds(w);
}

void Erase::show(std::ostream& os) const {
    os << "vaultry-cli erase #" << id << (throughLink ? " through Desktop/work link" : "");
}

rc::Gen<CmdPtr> anyCommand(const Plan& p) {
    return rc::gen::exec([p]() -> CmdPtr {
        enum K { Make, Enc, Dec, Ed, Lk, LkAll, Rm, Pw, Mv, Ver, Ls, Rs, Hd, Tr, Em, Er };
        const K k = *rc::gen::weightedElement<K>({{5, Make},
                                                  {6, Enc},
                                                  {5, Dec},
                                                  {4, Ed},
                                                  {3, Lk},
                                                  {2, LkAll},
                                                  {2, Rm},
                                                  {1, Pw},
                                                  {1, Mv},
                                                  {1, Ver},
                                                  {1, Ls},
                                                  {1, Rs},
                                                  {1, Hd},
                                                  {1, Tr},
                                                  {1, Em},
                                                  {1, Er}});
        switch (k) {
            case Make:
                return std::make_shared<MakeItem>(p);
            case Enc:
                return std::make_shared<Encrypt>(p);
            case Dec:
                return std::make_shared<Decrypt>(p);
            case Ed:
                return std::make_shared<EditCopy>(p);
            case Lk:
                return std::make_shared<Lock>(p);
            case LkAll:
                return std::make_shared<LockAll>(p);
            case Rm:
                return std::make_shared<Remove>(p);
            case Pw:
                return std::make_shared<ChangePassword>(p);
            case Mv:
                return std::make_shared<MoveStorage>(p);
            case Ver:
                return std::make_shared<Verify>(p);
            case Ls:
                return std::make_shared<List>(p);
            case Hd:
                return std::make_shared<Hide>(p);
            case Tr:
                return std::make_shared<TrashPut>(p);
            case Em:
                return std::make_shared<EmptyTrash>(p);
            case Er:
                return std::make_shared<Erase>(p);
            case Rs:
                break;
        }
        return std::make_shared<Restart>(p);
    });
}

std::vector<std::string> replay(const std::vector<CmdPtr>& commands) {
    World w;
    Plan p;
    std::vector<std::string> out;
    for (const auto& c : commands) {
        std::ostringstream shown;
        c->show(shown);
        try {
            c->checkPreconditions(p);
            c->run(p, w);
            c->apply(p);
        } catch (const rc::detail::CaseResult& r) {
            out.push_back(shown.str() + ": " + r.description);
            break;
        }
    }
    return out;
}

}  // namespace vaultry::soak
