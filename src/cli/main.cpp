#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <string>
#include <utility>
#include <vector>

int main(int argc, char** argv) {
    CLI::App app{"serflash: finds short point-like flashes in SER videos of the Moon and planets"};
    app.set_version_flag("--version", std::string("serflash ") + SERFLASH_VERSION);
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, serflash::cli::command_runner>> commands;
    const auto add = [&](serflash::cli::command_runner (*reg)(CLI::App&)) {
        const std::size_t before = app.get_subcommands({}).size();
        auto run = reg(app);
        const auto subs = app.get_subcommands({});
        if (subs.size() > before) commands.emplace_back(subs.back(), std::move(run));
    };
    add(serflash::cli::add_scan_command);
    add(serflash::cli::add_info_command);
    add(serflash::cli::add_synth_command);
    add(serflash::cli::add_demo_command);
    add(serflash::cli::add_match_command);
    add(serflash::cli::add_sensitivity_command);
    CLI11_PARSE(app, argc, argv);
    for (auto& [sub, run] : commands)
        if (sub->parsed()) return run();
    return 2;
}
