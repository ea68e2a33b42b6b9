#include <openssl/evp.h>

#include <ctime>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "util/TimeText.h"

namespace vaultry::cli {
namespace {

std::string base64(const Bytes& data) {
    std::string out(4 * ((data.size() + 2) / 3), '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()), data.data(),
                                  static_cast<int>(data.size()));
    out.resize(static_cast<std::size_t>(n));
    return out;
}

std::string isoUtc(const Date& d) { return timeText(d, "%Y-%m-%dT%H:%M:%SZ"); }

nlohmann::json toJson(const Value& value) {
    struct Visitor {
        nlohmann::json operator()(const std::string& s) const { return s; }
        nlohmann::json operator()(std::uint64_t n) const { return n; }
        nlohmann::json operator()(const Date& d) const { return isoUtc(d); }
        nlohmann::json operator()(const Bytes& b) const { return base64(b); }
        nlohmann::json operator()(const StringArray& a) const { return a; }
        nlohmann::json operator()(const Dictionary& d) const {
            nlohmann::json out = nlohmann::json::object();
            for (const auto& [k, v] : d) out[k] = toJson(v);
            return out;
        }
    };
    return std::visit(Visitor{}, value.v);
}

// Plain texts print as they are; everything else as its JSON form.
std::string plain(const Value& value) {
    if (const auto* s = value.as<std::string>()) return *s;
    const auto j = toJson(value);
    return j.is_string() ? j.get<std::string>() : j.dump();
}

}  // namespace

void addSettingsCommands(CLI::App& app, Context& ctx) {
    auto* settings = app.add_subcommand("settings", "Show the settings store")->require_subcommand(1);
    auto* list = settings->add_subcommand("list", "Every key and its value");
    addJsonFlag(list, ctx, "an object of every key (data as base64, dates as ISO 8601 UTC)");
    list->callback([&ctx] {
        const Dictionary all = ctx.settings().snapshot();
        if (ctx.json) {
            std::cout << toJson(Value(all)).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                      << '\n';
            return;
        }
        for (const auto& [k, v] : all) std::cout << escaped(k) << '\t' << escaped(plain(v)) << '\n';
    });

    auto* get = settings->add_subcommand("get", "One key's value");
    auto key = std::make_shared<std::string>();
    get->add_option("KEY", *key, "The key")->required();
    addJsonFlag(get, ctx, "the value (data as base64, dates as ISO 8601 UTC)");
    get->callback([&ctx, key] {
        const auto value = ctx.settings().get(*key);
        if (!value) {
            ctx.error("'" + *key + "' is not set");
            return;
        }
        std::cout << (ctx.json ? toJson(*value).dump(2, ' ', false, nlohmann::json::error_handler_t::replace)
                               : escaped(plain(*value)))
                  << '\n';
    });
}

}  // namespace vaultry::cli
