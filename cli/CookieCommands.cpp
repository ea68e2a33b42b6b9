#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/Prompt.h"
#include "cookies/CookieStores.h"
#include "cookies/PRCookFileNode.h"
#include "cookies/PRRtfController.h"

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;
using cookies::Layout;

struct Store {
    std::string path;
    Layout layout;
};

// A browser's default store, or a file read as the opened-file flow reads it.
std::optional<Store> resolveStore(Context& ctx, const std::string& target) {
    if (target == "safari") return Store{cookies::safariCookiePath(ctx.paths), Layout::Binary};
    if (target == "chrome") return Store{cookies::chromeCookiePath(ctx.paths), Layout::Chrome};
    if (target == "firefox") {
        if (auto path = cookies::firefoxCookiePath(ctx.paths)) return Store{*path, Layout::Firefox};
        ctx.error("no Firefox profile with a cookie store found");
        return std::nullopt;
    }
    const auto layout = cookies::detectLayout(target);
    if (!layout) {
        ctx.error(fs::exists(target) ? "not a cookie store: " + escaped(target)
                                     : "cannot read " + escaped(target));
        return std::nullopt;
    }
    return Store{target, *layout};
}

bool storePresent(Context& ctx, const Store& store) {
    std::error_code ec;
    if (fs::is_regular_file(store.path, ec)) return true;
    ctx.error("no cookie store at " + escaped(store.path));
    return false;
}

nlohmann::json toJson(const CookNodes& nodes) {
    const auto text = [](const PRCookFileNode::Text& t) { return t ? nlohmann::json(*t) : nlohmann::json(); };
    nlohmann::json out = nlohmann::json::array();
    for (const auto& n : nodes)
        out.push_back({{"host", text(n->fileHost())},
                       {"name", text(n->fileName())},
                       {"path", text(n->filePath())},
                       {"value", text(n->fileValue())},
                       {"secure", n->secureValue() == "YES"},
                       {"expires", text(n->expiredDate())}});
    return out;
}

// The export file's lines, each cookie's escaped so that a value cannot reach the terminal as
// control characters or break the format.
void print(const CookNodes& nodes, bool json) {
    if (json) {
        std::cout << toJson(nodes).dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    for (const auto& n : nodes) std::cout << escaped(cookies::exportLine(*n)) << "\n\n";
}

}  // namespace

void addCookieCommands(CLI::App& app, Context& ctx) {
    auto* group =
        app.add_subcommand("cookies", "Read, export and remove browser cookies")->require_subcommand(1);
    auto target = std::make_shared<std::string>();
    auto layout = std::make_shared<std::string>("auto");

    auto* read =
        group->add_subcommand("read", "Print the cookies of a store file, in the export file's format");
    read->add_option("FILE", *target, "A binary cookie file or a Chrome or Firefox database")->required();
    read->add_option("--layout", *layout, "How to read it")
        ->check(CLI::IsMember({"auto", "binary", "chrome", "firefox"}));
    addJsonFlag(read, ctx, "an array of {host, name, path, value, secure, expires}");
    read->callback([&ctx, target, layout] {
        Store store{*target, Layout::Binary};
        if (*layout == "auto") {
            const auto found = resolveStore(ctx, *target);
            if (!found) return;
            store = *found;
        } else {
            store.layout = *layout == "binary"   ? Layout::Binary
                           : *layout == "chrome" ? Layout::Chrome
                                                 : Layout::Firefox;
            if (!storePresent(ctx, store)) return;
        }
        print(cookies::readStore(store.path, store.layout), ctx.json);
    });

    auto* scan = group->add_subcommand("scan", "Print the cookies of a browser's default store");
    scan->add_option("BROWSER", *target, "safari, chrome or firefox")
        ->required()
        ->check(CLI::IsMember({"safari", "chrome", "firefox"}));
    addJsonFlag(scan, ctx, "an array of {host, name, path, value, secure, expires}");
    scan->callback([&ctx, target] {
        const auto store = resolveStore(ctx, *target);
        if (!store || !storePresent(ctx, *store)) return;
        print(cookies::readStore(store->path, store->layout), ctx.json);
    });

    auto* exportCmd =
        group->add_subcommand("export", "Write a store's cookies to the export file; prints its path");
    exportCmd->add_option("STORE", *target, "safari, chrome, firefox or a store file")->required();
    exportCmd->callback([&ctx, target] {
        const auto store = resolveStore(ctx, *target);
        if (!store || !storePresent(ctx, *store)) return;
        const auto text = cookies::exportText(cookies::readStore(store->path, store->layout));
        const fs::path folder = cookies::exportFolder(ctx.paths);
        std::error_code ec;
        fs::create_directories(folder, ec);
        const fs::path file = folder / cookies::kExportFileName;
        if (const auto written = writeFileAtomically(file, text); !written) {
            ctx.error(written.error().message);
            return;
        }
        std::cout << file.string() << '\n';
    });

    auto* remove = group->add_subcommand("remove", "Delete every cookie of a store");
    remove->add_option("STORE", *target, "safari, chrome, firefox or a store file")->required();
    addYesFlag(remove, ctx);
    addDryRunFlag(remove, ctx);
    remove->callback([&ctx, target] {
        const auto store = resolveStore(ctx, *target);
        if (!store || !storePresent(ctx, *store)) return;
        if (ctx.dryRun) {
            const auto count = cookies::readStore(store->path, store->layout).size();
            std::cout << "would remove " << count << (count == 1 ? " cookie" : " cookies") << " of "
                      << escaped(store->path) << '\n';
            return;
        }
        prompt::confirm(ctx, "Remove every cookie of " + escaped(store->path) + "?", "cookies remove");
        if (const auto done = cookies::removeStore(store->path, store->layout); !done) {
            ctx.error(done.error().message + ": " + escaped(store->path));
            return;
        }
        ctx.info() << "removed the cookies of " << escaped(store->path) << '\n';
    });
}

}  // namespace vaultry::cli
