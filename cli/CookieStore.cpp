#include <filesystem>
#include <iostream>

#include "cli/CookieCommand.h"
#include "cookies/PRRtfController.h"
#include "cookies/Profiles.h"

namespace vaultry::cli::cookiecmd {

namespace fs = std::filesystem;
using cookies::Layout;

void printJson(const nlohmann::json& out) {
    std::cout << out.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
}

std::optional<Store> resolveStore(Context& ctx, const std::string& target, const std::string& profile) {
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

namespace {

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

}  // namespace

void print(const CookNodes& nodes, bool json) {
    if (json) {
        printJson(toJson(nodes));
        return;
    }
    for (const auto& n : nodes) std::cout << escaped(cookies::exportLine(*n)) << "\n\n";
}

}  // namespace vaultry::cli::cookiecmd
