#include "cli/commands.h"

#include <CLI/CLI.hpp>

namespace serflash::cli {

command_runner add_synth_command(CLI::App& app) {
    app.add_subcommand("synth", "(not yet available)");
    return [] { return 1; };
}

} // namespace serflash::cli
