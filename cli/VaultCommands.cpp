#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>

#include "app/PasswordVerifier.h"
#include "app/SettingsKeys.h"
#include "cli/Cli.h"
#include "platform/linux/DotHiddenFlag.h"
#include "platform/linux/LinuxBookmarks.h"
#include "vault/Records.h"
#include "vault/Rekey.h"
#include "vault/StorageFolder.h"
#include "vault/VaultItems.h"

extern char** environ;

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;

struct Options {
    bool passwordStdin = false;
    bool yes = false;
    bool change = false;
    bool json = false;
    std::vector<std::string> items;
    std::string folder;
};

// The gio call for the folder icon, with an argument vector.
class CliSpawn final : public platform::Spawn {
public:
    Result<Output> run(const std::string& program, const std::vector<std::string>& args) override {
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        for (int fd : {1, 2}) posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", O_WRONLY, 0);
        pid_t pid = 0;
        const int r = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        if (r != 0) return fail(program + " is not available");
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        Output out;
        out.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return out;
    }
};

// One line from standard input, or typed at the terminal without echo.
std::optional<std::string> readSecret(bool fromStdin, const std::string& prompt) {
    std::string line;
    if (fromStdin) {
        if (!std::getline(std::cin, line)) return std::nullopt;
    } else {
        const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
        if (tty < 0) return std::nullopt;
        termios old{};
        const bool isTerm = ::tcgetattr(tty, &old) == 0;
        if (isTerm) {
            termios quiet = old;
            quiet.c_lflag &= static_cast<tcflag_t>(~ECHO);
            ::tcsetattr(tty, TCSAFLUSH, &quiet);
        }
        (void)!::write(tty, prompt.data(), prompt.size());
        char c = 0;
        while (::read(tty, &c, 1) == 1 && c != '\n') line += c;
        (void)!::write(tty, "\n", 1);
        if (isTerm) ::tcsetattr(tty, TCSAFLUSH, &old);
        ::close(tty);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool confirm(bool yes, const std::string& question) {
    if (yes) return true;
    const int tty = ::open("/dev/tty", O_RDWR | O_CLOEXEC);
    if (tty < 0) throw UsageError("confirmation needed: pass --yes");
    const std::string prompt = question + " [y/N] ";
    (void)!::write(tty, prompt.data(), prompt.size());
    std::string answer;
    char c = 0;
    while (::read(tty, &c, 1) == 1 && c != '\n') answer += c;
    ::close(tty);
    return answer == "y" || answer == "Y" || answer == "yes";
}

std::vector<std::string> records(Context& ctx) {
    return ctx.settings().stringArray(key::VaultryDataArray).value_or(std::vector<std::string>{});
}

bool save(Context& ctx) {
    if (auto st = ctx.settings().flush(); !st) {
        ctx.error(st.error().message);
        return false;
    }
    return true;
}

std::string absolute(const std::string& path) {
    std::error_code ec;
    const fs::path p = fs::absolute(path, ec);
    return ec ? path : p.lexically_normal().string();
}

// A password change cut short by a crash is settled before anything opens an archive.
void settleRekey(Context& ctx) {
    const auto storage = ctx.settings().string(key::EncyptedStorePath);
    if (!storage) return;
    if (auto verifier = vault::recoverRekey(*storage)) {
        ctx.settings().set(key::VaultryPassword, *verifier);
        if (ctx.settings().flush()) vault::finishRekey(*storage);
    }
}

// The pass phrase, checked against the stored verifier.
std::optional<std::string> unlock(Context& ctx, bool fromStdin) {
    settleRekey(ctx);
    const auto stored = ctx.settings().string(key::VaultryPassword);
    if (!stored) {
        ctx.error("no vault password is set (vaultry-cli vault password set)");
        return std::nullopt;
    }
    auto entered = readSecret(fromStdin, "Vault password: ");
    if (!entered) {
        ctx.error("no password given (use --password-stdin or a terminal)");
        return std::nullopt;
    }
    if (!password::matches(*stored, *entered)) {
        password::wipe(*entered);
        ctx.error("wrong password");
        return std::nullopt;
    }
    if (!password::isVerifier(*stored))
        if (auto verifier = password::makeVerifier(*entered)) {
            ctx.settings().set(key::VaultryPassword, *verifier);
            save(ctx);
        }
    return entered;
}

void passwordSet(Context& ctx, const Options& o) {
    const auto stored = ctx.settings().string(key::VaultryPassword);
    if (stored && !o.change) throw UsageError("a vault password is set already; change it with --change");
    std::string old;
    if (o.change) {
        auto current = unlock(ctx, o.passwordStdin);
        if (!current) return;
        old = std::move(*current);
    }
    auto next = readSecret(o.passwordStdin, "New vault password: ");
    if (!next) {
        ctx.error("no password given (use --password-stdin or a terminal)");
        return;
    }
    if (next->empty()) {
        ctx.error("an empty password is refused");
        return;
    }
    if (!o.passwordStdin) {
        auto again = readSecret(false, "Repeat the new password: ");
        if (!again || *again != *next) {
            ctx.error("the two entries differ");
            return;
        }
    }
    auto verifier = password::makeVerifier(*next);
    if (!verifier) {
        ctx.error(verifier.error().message);
        return;
    }
    const std::string storage = ctx.settings().string(key::EncyptedStorePath).value_or("");
    if (o.change && !storage.empty() && fs::is_directory(storage)) {
        if (auto st = vault::changeArchivesPassword(storage, old, *next, *verifier); !st) {
            ctx.error("the password could not be changed: " + st.error().message);
            return;
        }
    }
    ctx.settings().set(key::VaultryPassword, *verifier);
    if (save(ctx) && !storage.empty()) vault::finishRekey(storage);
    password::wipe(old);
    password::wipe(*next);
}

void storageSet(Context& ctx, const Options& o) {
    const std::string folder = absolute(o.folder);
    if (folder.find(' ') != std::string::npos) {
        ctx.error("Do not include spaces or other invalid characters in the selected storage path.");
        return;
    }
    platform::LinuxBookmarks bookmarks;
    auto grant = bookmarks.create(folder);
    if (!grant) {
        ctx.error("cannot use " + folder + ": it does not exist");
        return;
    }
    const std::string current = ctx.settings().string(key::EncyptedStorePath).value_or("");
    const std::string storage = folder + "/vaultry.data";
    ctx.settings().set(key::EncyptedFatherStorePath, *grant);
    ctx.settings().set(key::EncyptedStorePath, storage);
    if (!save(ctx)) return;
    if (auto st = vault::ensurePrivateFolder(storage); !st) ctx.error(st.error().message);
    std::error_code ec;
    if (!current.empty() && fs::exists(current, ec))
        for (const auto& n : vault::copyStorageFolder(current, storage)) ctx.error("not copied: " + n);
    CliSpawn spawn;
    vault::giveFolderIcon(storage, spawn);
    std::cout << storage << '\n';
}

void hide(Context& ctx, const Options& o, bool on) {
    if (on && !ctx.settings().contains(key::VaultryPassword)) {
        ctx.error("no vault password is set (vaultry-cli vault password set)");
        return;
    }
    platform::DotHiddenFlag flag;
    platform::LinuxBookmarks bookmarks;
    auto list = records(ctx);
    for (const auto& raw : o.items) {
        const std::string path = absolute(raw);
        std::error_code ec;
        const bool there = fs::symlink_status(path, ec).type() != fs::file_type::not_found;
        if (on) {
            if (!there || !flag.setHidden(path, true)) {
                ctx.error("cannot hide " + path);
                continue;
            }
            list.push_back(path);
            if (auto grant = bookmarks.create(path)) ctx.settings().set(path, *grant);
        } else {
            if (there && !flag.setHidden(path, false)) {
                ctx.error("cannot show " + path + " again");
                continue;
            }
            std::erase(list, path);
        }
    }
    ctx.settings().set(key::VaultryDataArray, list);
    save(ctx);
}

std::optional<std::string> storageOrError(Context& ctx) {
    auto storage = ctx.settings().string(key::EncyptedStorePath);
    if (!storage) ctx.error("no storage folder is set (vaultry-cli vault storage set FOLDER)");
    return storage;
}

void encrypt(Context& ctx, const Options& o) {
    const auto storage = storageOrError(ctx);
    if (!storage) return;
    auto pass = unlock(ctx, o.passwordStdin);
    if (!pass) return;
    if (!confirm(o.yes, "Encrypt " + std::to_string(o.items.size()) + " item(s)?")) return;
    platform::LinuxBookmarks bookmarks;
    for (const auto& raw : o.items) {
        const std::string path = absolute(raw);
        auto plan = vault::planArchive(path, *storage);
        if (!plan) {
            ctx.error(plan.error().message);
            continue;
        }
        std::error_code ec;
        if (fs::symlink_status(plan->archive, ec).type() != fs::file_type::not_found) {
            ctx.error(plan->archive.string() + " is taken by another archive");
            continue;
        }
        if (auto st = vault::writeArchive(*plan, *pass); !st) {
            ctx.error(path + ": " + st.error().message);
            continue;
        }
        auto list = records(ctx);
        list.push_back(plan->record);
        ctx.settings().set(key::VaultryDataArray, list);
        for (const std::string& granted : {plan->archive.string(), path, plan->item.parent_path().string()})
            if (auto grant = bookmarks.create(granted)) ctx.settings().set(granted, *grant);
        if (!save(ctx)) continue;  // not recorded: the original stays
        if (auto st = vault::removeOriginal(*plan); !st) ctx.error(st.error().message);
        std::cout << plan->record << '\n';
    }
    password::wipe(*pass);
}

void decrypt(Context& ctx, const Options& o) {
    const auto storage = storageOrError(ctx);
    if (!storage) return;
    auto pass = unlock(ctx, o.passwordStdin);
    if (!pass) return;
    const auto list = records(ctx);
    auto decrypted =
        ctx.settings().stringArray(key::VaultryDecryptedDataArray).value_or(std::vector<std::string>{});
    for (const auto& raw : o.items) {
        const std::string record = absolute(raw);
        if (std::find(list.begin(), list.end(), record) == list.end() || !vault::isEncrypted(record)) {
            ctx.error(record + " is not an encrypted item of the vault");
            continue;
        }
        auto copy = vault::decryptRecord(record, *storage, *pass);
        if (!copy) {
            ctx.error(record + ": " + copy.error().message);
            continue;
        }
        decrypted.push_back(record);
        ctx.settings().set(key::VaultryDecryptedDataArray, decrypted);
        save(ctx);
        std::cout << *copy << '\n';
    }
    password::wipe(*pass);
}

// Every archive (or those of the named records) against the manifest and by a full decryption
// to nowhere: a line per archive that does not hold, and exit 1 when there is one.
void verify(Context& ctx, const Options& o) {
    const auto storage = storageOrError(ctx);
    if (!storage) return;
    std::vector<fs::path> archives;
    if (o.items.empty()) {
        archives = vault::archivesIn(*storage);
    } else {
        const auto list = records(ctx);
        for (const auto& raw : o.items) {
            const std::string record = absolute(raw);
            if (std::find(list.begin(), list.end(), record) == list.end() || !vault::isEncrypted(record)) {
                ctx.error(record + " is not an encrypted item of the vault");
                continue;
            }
            archives.push_back(vault::archivePath(*storage, record));
        }
        if (archives.empty()) return;
    }
    auto pass = unlock(ctx, o.passwordStdin);
    if (!pass) return;
    auto bad = vault::checkArchives(*storage, archives, *pass);
    password::wipe(*pass);
    if (!bad) {
        ctx.error(bad.error().message);
        return;
    }
    for (const auto& line : *bad) std::cout << line << '\n';
    if (!bad->empty()) ctx.exit = kFailed;
}

void list(Context& ctx, const Options& o) {
    settleRekey(ctx);
    const auto decrypted =
        ctx.settings().stringArray(key::VaultryDecryptedDataArray).value_or(std::vector<std::string>{});
    auto json = nlohmann::json::array();
    for (const auto& record : records(ctx)) {
        const auto kind = vault::recordKind(record);
        const char* kindName = kind == vault::RecordKind::Hidden          ? "hidden"
                               : kind == vault::RecordKind::EncryptedFile ? "file"
                                                                          : "folder";
        const char* state = kind == vault::RecordKind::Hidden ? "hidden"
                            : std::find(decrypted.begin(), decrypted.end(), record) != decrypted.end()
                                ? "unlocked"
                                : "locked";
        if (o.json)
            json.push_back({{"kind", kindName}, {"state", state}, {"record", record}});
        else
            std::cout << kindName << '\t' << state << '\t' << record << '\n';
    }
    if (o.json) std::cout << json.dump(2) << '\n';
}

}  // namespace

void addVaultCommands(CLI::App& app, Context& ctx) {
    auto o = std::make_shared<Options>();
    auto* vault =
        app.add_subcommand("vault", "The vault: password, storage folder, hide, encrypt, decrypt, list")
            ->require_subcommand(1);
    const auto passFlag = [o](CLI::App* c) {
        c->add_flag("--password-stdin", o->passwordStdin,
                    "Read the password as one line from standard input");
    };

    auto* password = vault->add_subcommand("password", "The vault password")->require_subcommand(1);
    auto* set = password->add_subcommand("set", "Set the first password, or change it with --change");
    set->add_flag("--change", o->change,
                  "Change the password: asks for the current one first (stdin: two lines)");
    passFlag(set);
    set->callback([&ctx, o] { passwordSet(ctx, *o); });

    auto* storage = vault->add_subcommand("storage", "The storage folder")->require_subcommand(1);
    auto* storageSetCmd = storage->add_subcommand("set", "Keep the archives in FOLDER/vaultry.data");
    storageSetCmd->add_option("FOLDER", o->folder, "An existing folder")->required();
    storageSetCmd->callback([&ctx, o] { storageSet(ctx, *o); });

    auto* hideCmd = vault->add_subcommand("hide", "Hide items in place and keep them in the vault list");
    hideCmd->add_option("PATH", o->items, "Files or folders")->required();
    hideCmd->callback([&ctx, o] { hide(ctx, *o, true); });
    auto* unhideCmd = vault->add_subcommand("unhide", "Show hidden items again and drop them from the list");
    unhideCmd->add_option("PATH", o->items, "Files or folders")->required();
    unhideCmd->callback([&ctx, o] { hide(ctx, *o, false); });

    auto* encryptCmd =
        vault->add_subcommand("encrypt", "Encrypt items into the storage folder and remove them");
    encryptCmd->add_option("PATH", o->items, "Files or folders")->required();
    encryptCmd->add_flag("--yes", o->yes, "Do not ask for confirmation");
    passFlag(encryptCmd);
    encryptCmd->callback([&ctx, o] { encrypt(ctx, *o); });

    auto* decryptCmd = vault->add_subcommand("decrypt", "Write the plaintext copy of encrypted items");
    decryptCmd->add_option("RECORD", o->items, "Records as `vault list` prints them")->required();
    passFlag(decryptCmd);
    decryptCmd->callback([&ctx, o] { decrypt(ctx, *o); });

    auto* listCmd = vault->add_subcommand("list", "One record per line: kind, state and record");
    listCmd->add_flag("--json", o->json, "As a JSON array");
    listCmd->callback([&ctx, o] { list(ctx, *o); });

    auto* verifyCmd = vault->add_subcommand(
        "verify", "Check every archive (or those of RECORD) against the manifest and by decrypting it");
    verifyCmd->add_option("RECORD", o->items, "Records as `vault list` prints them");
    passFlag(verifyCmd);
    verifyCmd->callback([&ctx, o] { verify(ctx, *o); });
}

}  // namespace vaultry::cli
