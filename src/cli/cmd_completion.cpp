// serflash completion bash: a bash completion script made from the command line's own
// definitions, so that every subcommand and option is offered as soon as it exists.
#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace serflash::cli {
namespace {

std::string option_words(const CLI::App& app) {
    std::string words;
    for (const CLI::Option* opt : app.get_options()) {
        for (const std::string& s : opt->get_snames()) words += (words.empty() ? "-" : " -") + s;
        for (const std::string& l : opt->get_lnames()) words += (words.empty() ? "--" : " --") + l;
    }
    return words;
}

// The options that take a value: the word after them is a value, not a subcommand.
std::string valued_options(const CLI::App& app) {
    std::string words;
    for (const CLI::Option* opt : app.get_options()) {
        if (opt->get_items_expected_max() == 0 || opt->get_positional()) continue;
        for (const std::string& s : opt->get_snames()) words += (words.empty() ? "-" : "|-") + s;
        for (const std::string& l : opt->get_lnames()) words += (words.empty() ? "--" : "|--") + l;
    }
    return words;
}

} // namespace

std::string bash_completion(const CLI::App& app, const std::string& program) {
    const std::vector<const CLI::App*> subs = app.get_subcommands([](const CLI::App*) { return true; });
    std::string names, alternatives, cases;
    for (const CLI::App* sub : subs) {
        names += " " + sub->get_name();
        alternatives += (alternatives.empty() ? "" : "|") + sub->get_name();
        cases += "        " + sub->get_name() + ") words='" + option_words(*sub) + "' valued='" + valued_options(*sub) +
                 "' ;;\n";
    }
    const std::string fn = "_" + program;
    return "# bash completion for " + program + ", made by `" + program +
           " completion bash` from its own command line.\n" + fn +
           "() {\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} cmd='' i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n"
           "            " +
           alternatives +
           ") cmd=${COMP_WORDS[i]}; break ;;\n"
           "        esac\n"
           "    done\n"
           "    local words='' valued=''\n"
           "    case $cmd in\n"
           "        '') words='" +
           option_words(app) + names + "' ;;\n" + cases +
           "    esac\n"
           "    # After an option that takes a value, and for file names: the shell's own completion.\n"
           "    if [[ -n $valued && $prev == @($valued) ]]; then return 0; fi\n"
           "    if [[ -z $cmd || $cur == -* ]]; then\n"
           "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
           "    fi\n"
           "}\n"
           "complete -o default -o bashdefault -F " +
           fn + " " + program + "\n";
}

command_runner add_completion_command(CLI::App& app) {
    auto* cmd = app.add_subcommand("completion",
                                   "Print a completion script for a shell: `source <(serflash completion bash)` offers "
                                   "the subcommands and their options on the Tab key (installed with the program)");
    auto shell = std::make_shared<std::string>();
    cmd->add_option("shell", *shell, "The shell: bash")->required()->check(CLI::IsMember({"bash"}));
    return {nullptr, [&app, shell]() -> int {
                std::cout << bash_completion(app, "serflash");
                return 0;
            }};
}

} // namespace serflash::cli
