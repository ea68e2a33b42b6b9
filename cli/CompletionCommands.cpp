#include <iostream>
#include <map>

#include "cli/Cli.h"

namespace vaultry::cli {
namespace {

// The command tree as the shells need it: for each command path ("" for the top, "/vault/lock"
// for `vault lock`) its subcommands, its options and whether it takes file arguments.
struct Node {
    std::vector<std::pair<std::string, std::string>> subcommands;  // name, description
    std::vector<std::pair<std::string, std::string>> options;      // --long or -s, description
    bool takesFiles = false;
};
using Tree = std::map<std::string, Node>;

void collect(const CLI::App& app, const std::string& path, Tree& tree) {
    Node& node = tree[path];
    for (const CLI::Option* opt : app.get_options()) {
        if (opt->get_positional() && opt->nonpositional() == false) {
            node.takesFiles = true;
            continue;
        }
        for (const auto& l : opt->get_lnames()) node.options.emplace_back("--" + l, opt->get_description());
        for (const auto& s : opt->get_snames()) node.options.emplace_back("-" + s, opt->get_description());
    }
    for (const CLI::App* sub : app.get_subcommands({})) {
        node.subcommands.emplace_back(sub->get_name(), sub->get_description());
        collect(*sub, path + "/" + sub->get_name(), tree);
    }
}

std::string joined(const std::vector<std::pair<std::string, std::string>>& items) {
    std::string out;
    for (const auto& [name, _] : items) out += (out.empty() ? "" : " ") + name;
    return out;
}

// Every path below the top, as a shell case pattern: /vault|/vault/lock|...
std::string pathPattern(const Tree& tree, const char* separator) {
    std::string out;
    for (const auto& [path, _] : tree)
        if (!path.empty()) out += (out.empty() ? "" : separator) + path;
    return out;
}

void bash(const Tree& tree, std::ostream& out) {
    out << "# bash completion for vaultry-cli (vaultry-cli completion bash)\n"
           "_vaultry_cli() {\n"
           "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" cmdpath=\"\" i w words=\"\" opts=\"\" files=0\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case \"$cmdpath/${COMP_WORDS[i]}\" in\n"
           "            "
        << pathPattern(tree, "|")
        << ") cmdpath=\"$cmdpath/${COMP_WORDS[i]}\" ;;\n"
           "        esac\n"
           "    done\n"
           "    case \"$cmdpath\" in\n";
    for (const auto& [path, node] : tree)
        out << "        \"" << path << "\") words=\"" << joined(node.subcommands) << "\" opts=\""
            << joined(node.options) << "\" files=" << (node.takesFiles ? 1 : 0) << " ;;\n";
    out << "    esac\n"
           "    [[ \"$cur\" == -* ]] && words=\"$opts\"\n"
           "    COMPREPLY=()\n"
           "    while IFS= read -r w; do COMPREPLY+=(\"$w\"); done < <(compgen -W \"$words\" -- \"$cur\")\n"
           "    if [[ ${#COMPREPLY[@]} -eq 0 && $files -eq 1 && \"$cur\" != -* ]]; then\n"
           "        compopt -o filenames 2>/dev/null\n"
           "        while IFS= read -r w; do COMPREPLY+=(\"$w\"); done < <(compgen -f -- \"$cur\")\n"
           "    fi\n"
           "}\n"
           "complete -F _vaultry_cli vaultry-cli\n";
}

void zsh(const Tree& tree, std::ostream& out) {
    out << "#compdef vaultry-cli\n"
           "# zsh completion for vaultry-cli (vaultry-cli completion zsh)\n"
           "_vaultry_cli() {\n"
           "    local cmdpath=\"\" i files=0\n"
           "    local -a subs opts\n"
           "    for ((i = 2; i < CURRENT; i++)); do\n"
           "        case \"$cmdpath/${words[i]}\" in\n"
           "            ("
        << pathPattern(tree, "|")
        << ") cmdpath=\"$cmdpath/${words[i]}\" ;;\n"
           "        esac\n"
           "    done\n"
           "    case \"$cmdpath\" in\n";
    for (const auto& [path, node] : tree)
        out << "        (\"" << path << "\") subs=(" << joined(node.subcommands) << ") opts=("
            << joined(node.options) << ") files=" << (node.takesFiles ? 1 : 0) << " ;;\n";
    out << "    esac\n"
           "    if [[ \"${words[CURRENT]}\" == -* ]]; then\n"
           "        compadd -- $opts\n"
           "    elif (( ${#subs} )); then\n"
           "        compadd -- $subs\n"
           "    elif (( files )); then\n"
           "        _files\n"
           "    fi\n"
           "}\n"
           "_vaultry_cli \"$@\"\n";
}

std::string fishQuoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'' || c == '\\') out += '\\';
        out += c;
    }
    return out + "'";
}

void fish(const Tree& tree, std::ostream& out) {
    out << "# fish completion for vaultry-cli (vaultry-cli completion fish)\n"
           "function __vaultry_cli_at\n"
           "    set -l cmdpath ''\n"
           "    for w in (commandline -opc)[2..-1]\n"
           "        switch \"$cmdpath/$w\"\n"
           "            case";
    for (const auto& [path, _] : tree)
        if (!path.empty()) out << ' ' << fishQuoted(path);
    out << "\n"
           "                set cmdpath \"$cmdpath/$w\"\n"
           "        end\n"
           "    end\n"
           "    test \"$cmdpath\" = \"$argv[1]\"\n"
           "end\n"
           "complete -c vaultry-cli -f\n";
    for (const auto& [path, node] : tree) {
        const std::string when = " -n " + fishQuoted("__vaultry_cli_at " + fishQuoted(path));
        for (const auto& [name, about] : node.subcommands)
            out << "complete -c vaultry-cli" << when << " -a " << fishQuoted(name) << " -d "
                << fishQuoted(about) << '\n';
        for (const auto& [name, about] : node.options)
            out << "complete -c vaultry-cli" << when << (name.rfind("--", 0) == 0 ? " -l " : " -s ")
                << fishQuoted(name.substr(name.rfind("--", 0) == 0 ? 2 : 1)) << " -d " << fishQuoted(about)
                << '\n';
        if (node.takesFiles) out << "complete -c vaultry-cli" << when << " -F\n";
    }
}

}  // namespace

void addCompletionCommand(CLI::App& app, Context&) {
    auto* completion = app.add_subcommand("completion", "Print the completion script for bash, zsh or fish");
    auto shell = std::make_shared<std::string>();
    completion->add_option("SHELL", *shell, "bash, zsh or fish")
        ->required()
        ->check(CLI::IsMember({"bash", "zsh", "fish"}));
    completion->callback([&app, shell] {
        Tree tree;
        collect(app, "", tree);
        if (*shell == "bash")
            bash(tree, std::cout);
        else if (*shell == "zsh")
            zsh(tree, std::cout);
        else
            fish(tree, std::cout);
    });
}

}  // namespace vaultry::cli
