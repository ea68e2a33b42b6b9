#include <iostream>

#include "cli/CookieCommand.h"
#include "cookies/Profiles.h"

namespace vaultry::cli::cookiecmd {

using cookies::Layout;

void runRead(Context& ctx, const ReadOptions& o) {
    Store store{o.file, Layout::Binary, ""};
    if (o.layout == "auto") {
        const auto found = resolveStore(ctx, o.file);
        if (!found) return;
        store = *found;
    } else {
        store.layout = o.layout == "binary"   ? Layout::Binary
                       : o.layout == "chrome" ? Layout::Chrome
                                              : Layout::Firefox;
        if (!storePresent(ctx, store)) return;
    }
    print(readStore(store), ctx.json);
}

void runScan(Context& ctx, const ScanOptions& o) {
    const auto store = resolveStore(ctx, o.browser, o.profile);
    if (!store || !storePresent(ctx, *store)) return;
    print(readStore(*store), ctx.json);
}

void runProfiles(Context& ctx) {
    nlohmann::json out = nlohmann::json::array();
    for (const auto& p : cookies::findProfiles(ctx.paths)) {
        const auto count = cookies::countCookies(p.store, p.layout);
        if (ctx.json) {
            out.push_back({{"browser", p.browser},
                           {"profile", p.name},
                           {"store", p.store},
                           {"packaging", p.packaging},
                           {"default", p.isDefault},
                           {"cookies", count}});
            continue;
        }
        std::cout << p.browser << (p.packaging.empty() ? "" : " (" + p.packaging + ")") << '\t'
                  << escaped(p.name) << (p.isDefault ? " *" : "") << '\t' << escaped(p.store) << '\t' << count
                  << '\n';
    }
    if (ctx.json) printJson(out);
}

void addReadCommands(CLI::App& group, Context& ctx) {
    auto readOptions = std::make_shared<ReadOptions>();
    auto* read =
        group.add_subcommand("read", "Print the cookies of a store file, in the export file's format");
    read->add_option("FILE", readOptions->file, "A binary cookie file or a Chrome or Firefox database")
        ->required();
    read->add_option("--layout", readOptions->layout, "How to read it")
        ->check(CLI::IsMember({"auto", "binary", "chrome", "firefox"}));
    addJsonFlag(read, ctx, "an array of {host, name, path, value, secure, expires, container}");
    read->callback([&ctx, readOptions] { runRead(ctx, *readOptions); });

    std::vector<std::string> browsers = {"safari"};
    for (const auto& b : cookies::knownBrowsers()) browsers.push_back(b.id);
    auto scanOptions = std::make_shared<ScanOptions>();
    auto* scan =
        group.add_subcommand("scan", "Print the cookies of a browser profile (the default one unless named)");
    scan->add_option("BROWSER", scanOptions->browser,
                     "safari, firefox, chrome, chromium, brave, vivaldi, edge, opera or gnome-web")
        ->required()
        ->check(CLI::IsMember(browsers));
    scan->add_option("--profile", scanOptions->profile,
                     "The profile's name or folder (see cookies profiles)");
    addJsonFlag(scan, ctx, "an array of {host, name, path, value, secure, expires, container}");
    scan->callback([&ctx, scanOptions] { runScan(ctx, *scanOptions); });

    auto* profiles = group.add_subcommand("profiles", "List every browser profile that has a cookie store");
    addJsonFlag(profiles, ctx, "an array of {browser, profile, store, packaging, default, cookies}");
    profiles->callback([&ctx] { runProfiles(ctx); });
}

}  // namespace vaultry::cli::cookiecmd
