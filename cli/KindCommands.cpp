#include <charconv>
#include <iostream>
#include <nlohmann/json.hpp>

#include "cli/Cli.h"
#include "desktop/FileKind.h"
#include "desktop/SizeText.h"

namespace vaultry::cli {

void addKindCommands(CLI::App& app, Context& ctx) {
    auto* kindCmd =
        app.add_subcommand("kind", "Print the desktop kind of each path (the path need not exist)");
    auto paths = std::make_shared<std::vector<std::string>>();
    kindCmd->add_option("PATH", *paths, "Paths to classify")->required();
    addJsonFlag(kindCmd, ctx, "an array of {path, kind}");
    kindCmd->callback([&ctx, paths] {
        auto json = nlohmann::json::array();
        for (const auto& p : *paths) {
            if (ctx.json)
                json.push_back({{"path", p}, {"kind", desktopKind(p)}});
            else
                std::cout << desktopKind(p) << '\t' << escaped(p) << '\n';
        }
        if (ctx.json) std::cout << json.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    });

    auto* sizeCmd = app.add_subcommand("size", "Print byte counts as size texts (1048576 gives 1.05MB)");
    auto counts = std::make_shared<std::vector<std::string>>();
    auto oneDecimal = std::make_shared<bool>(false);
    sizeCmd->add_flag("--one-decimal", *oneDecimal, "One decimal instead of two");
    sizeCmd->add_option("BYTES", *counts, "Byte counts, 0 to 18446744073709551615")->required();
    addJsonFlag(sizeCmd, ctx, "an array of {bytes, text}");
    sizeCmd->callback([&ctx, counts, oneDecimal] {
        std::vector<std::uint64_t> values;
        for (const auto& text : *counts) {
            std::uint64_t n = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size())
                throw UsageError("not a byte count: '" + text +
                                 "' (a whole number from 0 to 18446744073709551615)");
            values.push_back(n);
        }
        auto json = nlohmann::json::array();
        for (auto n : values) {
            if (ctx.json)
                json.push_back({{"bytes", n}, {"text", sizeText(n, *oneDecimal ? 1 : 2)}});
            else
                std::cout << sizeText(n, *oneDecimal ? 1 : 2) << '\n';
        }
        if (ctx.json) std::cout << json.dump(2) << '\n';
    });
}

}  // namespace vaultry::cli
