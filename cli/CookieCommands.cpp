#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "cli/Prompt.h"
#include "cookies/CookieRemoval.h"
#include "cookies/CookieStores.h"
#include "cookies/KeepList.h"
#include "cookies/PRCookFileNode.h"
#include "cookies/PRRtfController.h"
#include "cookies/Profiles.h"

namespace vaultry::cli {
namespace {

namespace fs = std::filesystem;
using cookies::Layout;

struct Store {
    std::string path;
    Layout layout;
    std::string browser;  // empty for a file named on the command line
};

void printJson(const nlohmann::json& out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

// A browser's store (its default profile, or the one `profile` names), or a file read as the
// opened-file flow reads it.
std::optional<Store> resolveStore(Context& ctx, const std::string& target, const std::string& profile = {}) {
    if (target == "safari") return Store{cookies::safariCookiePath(ctx.paths), Layout::Binary, "safari"};
    if (const auto* browser = cookies::browserInfo(target)) {
        const auto found =
            cookies::pickProfile(cookies::findProfiles(ctx.paths, browser->id), browser->id, profile);
        if (found) return Store{found->store, found->layout, browser->id};
        ctx.error(profile.empty() ? std::string("no ") + browser->title + " profile with a cookie store found"
                                  : std::string("no ") + browser->title + " profile " + escaped(profile));
        return std::nullopt;
    }
    const auto layout = cookies::detectLayout(target);
    if (!layout) {
        ctx.error(fs::exists(target) ? "not a cookie store: " + escaped(target)
                                     : "cannot read " + escaped(target));
        return std::nullopt;
    }
    return Store{target, *layout, ""};
}

// The store's cookies, Chromium values decrypted with the browser's key where the keyring has it.
CookNodes readStore(const Store& store) {
    cookies::SecretServiceStorage keyring;
    auto decryptor = cookies::decryptorFor(keyring, store.browser);
    return cookies::readStore(store.path, store.layout, decryptor);
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
                       {"expires", text(n->expiredDate())},
                       {"container", text(n->container())}});
    return out;
}

// The export file's lines, each cookie's escaped so that a value cannot reach the terminal as
// control characters or break the format.
void print(const CookNodes& nodes, bool json) {
    if (json) {
        printJson(toJson(nodes));
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
    addJsonFlag(read, ctx, "an array of {host, name, path, value, secure, expires, container}");
    read->callback([&ctx, target, layout] {
        Store store{*target, Layout::Binary, ""};
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
        print(readStore(store), ctx.json);
    });

    std::vector<std::string> browsers = {"safari"};
    for (const auto& b : cookies::knownBrowsers()) browsers.push_back(b.id);
    auto profile = std::make_shared<std::string>();

    auto* scan = group->add_subcommand(
        "scan", "Print the cookies of a browser profile (the default one unless named)");
    scan->add_option("BROWSER", *target,
                     "safari, firefox, chrome, chromium, brave, vivaldi, edge, opera or gnome-web")
        ->required()
        ->check(CLI::IsMember(browsers));
    scan->add_option("--profile", *profile, "The profile's name or folder (see cookies profiles)");
    addJsonFlag(scan, ctx, "an array of {host, name, path, value, secure, expires, container}");
    scan->callback([&ctx, target, profile] {
        const auto store = resolveStore(ctx, *target, *profile);
        if (!store || !storePresent(ctx, *store)) return;
        print(readStore(*store), ctx.json);
    });

    auto* profiles = group->add_subcommand("profiles", "List every browser profile that has a cookie store");
    addJsonFlag(profiles, ctx, "an array of {browser, profile, store, packaging, default, cookies}");
    profiles->callback([&ctx] {
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
                      << escaped(p.name) << (p.isDefault ? " *" : "") << '\t' << escaped(p.store) << '\t'
                      << count << '\n';
        }
        if (ctx.json) printJson(out);
    });

    auto* exportCmd =
        group->add_subcommand("export", "Write a store's cookies to the export file; prints its path");
    exportCmd
        ->add_option("STORE", *target, "A browser (its default profile unless --profile) or a store file")
        ->required();
    exportCmd->add_option("--profile", *profile, "The profile's name or folder (see cookies profiles)");
    exportCmd->callback([&ctx, target, profile] {
        const auto store = resolveStore(ctx, *target, *profile);
        if (!store || !storePresent(ctx, *store)) return;
        const auto text = cookies::exportText(readStore(*store));
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

    auto* remove = group->add_subcommand(
        "remove", "Delete the cookies of a store (every one but the keep-list's, or those of --domain)");
    auto domains = std::make_shared<std::vector<std::string>>();
    remove->add_option("STORE", *target, "A browser (its default profile unless --profile) or a store file")
        ->required();
    remove->add_option("--profile", *profile, "The profile's name or folder (see cookies profiles)");
    remove->add_option("--domain", *domains,
                       "Only the cookies of this domain and its subdomains (repeatable)");
    addYesFlag(remove, ctx);
    addDryRunFlag(remove, ctx);
    addJsonFlag(remove, ctx, "{store, removed} (with --dry-run: wouldRemove, a count)");
    remove->callback([&ctx, target, profile, domains] {
        cookies::RemovalPlan plan;
        plan.all = domains->empty();
        for (const auto& d : *domains) {
            const auto domain = cookies::normalizedDomain(d);
            if (domain.empty()) throw UsageError("not a domain: " + d);
            plan.domains.push_back(domain);
        }
        const auto store = resolveStore(ctx, *target, *profile);
        if (!store || !storePresent(ctx, *store)) return;
        plan.keep = cookies::keepList(ctx.settings());
        std::size_t count = 0;
        for (const auto& n : readStore(*store))
            if (cookies::doomed(plan, cookies::keyOf(*n))) ++count;
        const std::string what = std::to_string(count) + (count == 1 ? " cookie" : " cookies");
        if (ctx.dryRun) {
            if (ctx.json)
                printJson({{"store", store->path}, {"dryRun", true}, {"wouldRemove", count}});
            else
                std::cout << "would remove " << what << " of " << escaped(store->path) << '\n';
            return;
        }
        std::string question = "Remove " + what + " of " + escaped(store->path);
        if (!plan.domains.empty()) {
            question += " (of";
            for (const auto& d : plan.domains) question += " " + escaped(d);
            question += ")";
        }
        if (!plan.keep.empty()) question += ", keeping the keep-list's domains";
        prompt::confirm(ctx, question + "?", "cookies remove");
        if (const auto done = cookies::removeCookies(store->path, store->layout, plan); !done) {
            ctx.error(done.error().message + ": " + escaped(store->path));
            return;
        }
        if (ctx.json)
            printJson({{"store", store->path}, {"removed", count}});
        else
            ctx.info() << "removed " << what << " of " << escaped(store->path) << '\n';
    });

    auto* keep = group->add_subcommand("keep", "The keep-list: domains whose cookies removal leaves alone")
                     ->require_subcommand(1);
    auto keepDomain = std::make_shared<std::string>();
    auto* keepAdd = keep->add_subcommand("add", "Keep the cookies of a domain and its subdomains");
    keepAdd->add_option("DOMAIN", *keepDomain)->required();
    keepAdd->callback([&ctx, keepDomain] {
        if (cookies::normalizedDomain(*keepDomain).empty()) throw UsageError("not a domain: " + *keepDomain);
        cookies::addKeepDomain(ctx.settings(), *keepDomain);  // already kept: nothing to do
    });
    auto* keepRemove = keep->add_subcommand("remove", "Take a domain off the keep-list");
    keepRemove->add_option("DOMAIN", *keepDomain)->required();
    keepRemove->callback([&ctx, keepDomain] {
        if (!cookies::removeKeepDomain(ctx.settings(), *keepDomain))
            ctx.error("not on the keep-list: " + escaped(*keepDomain));
    });
    auto* keepList = keep->add_subcommand("list", "Print the keep-list, one domain a line");
    addJsonFlag(keepList, ctx, "an array of domains");
    keepList->callback([&ctx] {
        const auto list = cookies::keepList(ctx.settings());
        if (ctx.json)
            printJson(nlohmann::json(list));
        else
            for (const auto& d : list) std::cout << escaped(d) << '\n';
    });
}

}  // namespace vaultry::cli
