#include <iostream>

#include "cli/CookieCommand.h"
#include "cli/Prompt.h"
#include "cookies/CookieRemoval.h"
#include "cookies/KeepList.h"

namespace vaultry::cli::cookiecmd {

void runRemove(Context& ctx, const RemoveOptions& o) {
    cookies::RemovalPlan plan;
    plan.all = o.domains.empty();
    for (const auto& d : o.domains) {
        const auto domain = cookies::normalizedDomain(d);
        if (domain.empty()) throw UsageError("not a domain: " + d);
        plan.domains.push_back(domain);
    }
    const auto store = resolveStore(ctx, o.store, o.profile);
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
}

void addRemoveCommand(CLI::App& group, Context& ctx) {
    auto o = std::make_shared<RemoveOptions>();
    auto* cmd = group.add_subcommand(
        "remove", "Delete the cookies of a store (every one but the keep-list's, or those of --domain)");
    cmd->add_option("STORE", o->store, "A browser (its default profile unless --profile) or a store file")
        ->required();
    cmd->add_option("--profile", o->profile, "The profile's name or folder (see cookies profiles)");
    cmd->add_option("--domain", o->domains,
                    "Only the cookies of this domain and its subdomains (repeatable)");
    addYesFlag(cmd, ctx);
    addDryRunFlag(cmd, ctx);
    addJsonFlag(cmd, ctx, "{store, removed} (with --dry-run: wouldRemove, a count)");
    cmd->callback([&ctx, o] { runRemove(ctx, *o); });
}

}  // namespace vaultry::cli::cookiecmd
