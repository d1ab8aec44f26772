#include "cli/commands.h"

#include <CLI/CLI.hpp>

namespace serflash::cli {
namespace {

void refuse_empty_values_of(CLI::App& app) {
    const CLI::Validator not_empty(
        [](std::string& value) { return value.empty() ? std::string("an empty value is not allowed") : std::string(); },
        "", "NOT_EMPTY");
    for (CLI::Option* opt : app.get_options())
        if (opt->get_type_size() != 0 && opt->get_name() != "--help") opt->check(not_empty);
    for (CLI::App* sub : app.get_subcommands({})) refuse_empty_values_of(*sub);
}

} // namespace

std::vector<std::pair<CLI::App*, command_runner>> add_all_commands(CLI::App& app) {
    app.set_version_flag("--version", std::string("serflash ") + SERFLASH_VERSION);
    app.require_subcommand(1);
    std::vector<std::pair<CLI::App*, command_runner>> commands;
    const auto add = [&](command_runner (*reg)(CLI::App&)) {
        const std::size_t before = app.get_subcommands({}).size();
        auto run = reg(app);
        const auto subs = app.get_subcommands({});
        if (subs.size() > before) commands.emplace_back(subs.back(), std::move(run));
    };
    add(add_scan_command);
    add(add_info_command);
    add(add_synth_command);
    add(add_demo_command);
    add(add_match_command);
    add(add_sensitivity_command);
    add(add_catalog_command);
    add(add_completion_command);
    add(add_moon_command);
    add(add_calibrate_command);
    // An empty value would otherwise read as 0 ("--threshold ''").
    refuse_empty_values_of(app);
    return commands;
}

} // namespace serflash::cli
