#pragma once
// Each subcommand of the serflash program registers itself on the application and returns
// the steps that run it once the command line is parsed.
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace serflash::cli {

// check turns the parsed values into the command's typed request, touching no file: 0, or the
// exit status after a message naming the bad value (null: nothing to check). run then does the
// work. Apart so that the option checks can be exercised alone.
struct command_runner {
    std::function<int()> check;
    std::function<int()> run;

    int operator()() const {
        if (check)
            if (const int bad = check(); bad != 0) return bad;
        return run();
    }
};

command_runner add_info_command(CLI::App& app);
command_runner add_synth_command(CLI::App& app);
command_runner add_scan_command(CLI::App& app);
command_runner add_demo_command(CLI::App& app);
command_runner add_match_command(CLI::App& app);
command_runner add_sensitivity_command(CLI::App& app);
command_runner add_completion_command(CLI::App& app);
command_runner add_catalog_command(CLI::App& app);

// A bash completion script for `program` from the subcommands and options defined on app.
std::string bash_completion(const CLI::App& app, const std::string& program);
command_runner add_moon_command(CLI::App& app);
command_runner add_calibrate_command(CLI::App& app);

// The version flag and every command on app, with empty option values refused; each
// subcommand with the steps that run it once it is parsed.
// The commands own the values their options are parsed into: keep them while parsing and running.
[[nodiscard]] std::vector<std::pair<CLI::App*, command_runner>> add_all_commands(CLI::App& app);

} // namespace serflash::cli
