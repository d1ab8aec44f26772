#pragma once
// Each subcommand of the serflash program registers itself on the application and returns
// the function that runs it once the command line is parsed.
#include <functional>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace serflash::cli {

using command_runner = std::function<int()>;

command_runner add_info_command(CLI::App& app);
command_runner add_synth_command(CLI::App& app);
command_runner add_scan_command(CLI::App& app);
command_runner add_demo_command(CLI::App& app);
command_runner add_match_command(CLI::App& app);
command_runner add_sensitivity_command(CLI::App& app);

// The version flag and every command on app, with empty option values refused; each
// subcommand with the function that runs it once it is parsed.
// The commands own the values their options are parsed into: keep them while parsing and running.
[[nodiscard]] std::vector<std::pair<CLI::App*, command_runner>> add_all_commands(CLI::App& app);

} // namespace serflash::cli
