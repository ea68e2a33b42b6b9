#include <iostream>

#include "cli/CookieCommand.h"
#include "cookies/CookieRemoval.h"
#include "cookies/KeepList.h"

namespace vaultry::cli::cookiecmd {

void runKeepAdd(Context& ctx, const KeepOptions& o) {
    if (cookies::normalizedDomain(o.domain).empty()) throw UsageError("not a domain: " + o.domain);
    cookies::addKeepDomain(ctx.settings(), o.domain);  // already kept: nothing to do
}

void runKeepRemove(Context& ctx, const KeepOptions& o) {
    if (!cookies::removeKeepDomain(ctx.settings(), o.domain))
        ctx.error("not on the keep-list: " + escaped(o.domain));
}

void runKeepList(Context& ctx) {
    const auto list = cookies::keepList(ctx.settings());
    if (ctx.json)
        printJson(nlohmann::json(list));
    else
        for (const auto& d : list) std::cout << escaped(d) << '\n';
}

void addKeepCommands(CLI::App& group, Context& ctx) {
    auto* keep = group.add_subcommand("keep", "The keep-list: domains whose cookies removal leaves alone")
                     ->require_subcommand(1);
    auto added = std::make_shared<KeepOptions>();
    auto* add = keep->add_subcommand("add", "Keep the cookies of a domain and its subdomains");
    add->add_option("DOMAIN", added->domain)->required();
    addYesFlag(add, ctx);
    add->callback([&ctx, added] { runKeepAdd(ctx, *added); });
    auto removed = std::make_shared<KeepOptions>();
    auto* remove = keep->add_subcommand("remove", "Take a domain off the keep-list");
    remove->add_option("DOMAIN", removed->domain)->required();
    addYesFlag(remove, ctx);
    remove->callback([&ctx, removed] { runKeepRemove(ctx, *removed); });
    auto* list = keep->add_subcommand("list", "Print the keep-list, one domain a line");
    addJsonFlag(list, ctx, "an array of domains");
    list->callback([&ctx] { runKeepList(ctx); });
}

}  // namespace vaultry::cli::cookiecmd
