#include <charconv>
#include <iostream>

#include "cli/Cli.h"
#include "desktop/FileKind.h"
#include "desktop/SizeText.h"

namespace vaultry::cli {

void addKindCommands(CLI::App& app, Context&) {
    auto* kindCmd =
        app.add_subcommand("kind", "Print the desktop kind of each path (the path need not exist)");
    auto paths = std::make_shared<std::vector<std::string>>();
    kindCmd->add_option("PATH", *paths, "Paths to classify")->required();
    kindCmd->callback([paths] {
        for (const auto& p : *paths) std::cout << desktopKind(p) << '\t' << p << '\n';
    });

    auto* sizeCmd = app.add_subcommand("size", "Print byte counts as size texts (1048576 gives 1.05MB)");
    auto counts = std::make_shared<std::vector<std::string>>();
    auto oneDecimal = std::make_shared<bool>(false);
    sizeCmd->add_flag("--one-decimal", *oneDecimal, "One decimal instead of two");
    sizeCmd->add_option("BYTES", *counts, "Byte counts, 0 to 18446744073709551615")->required();
    sizeCmd->callback([counts, oneDecimal] {
        std::vector<std::uint64_t> values;
        for (const auto& text : *counts) {
            std::uint64_t n = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
            if (text.empty() || ec != std::errc() || end != text.data() + text.size())
                throw UsageError("not a byte count: '" + text +
                                 "' (a whole number from 0 to 18446744073709551615)");
            values.push_back(n);
        }
        for (auto n : values) std::cout << sizeText(n, *oneDecimal ? 1 : 2) << '\n';
    });
}

}  // namespace vaultry::cli
