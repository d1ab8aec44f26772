#include "cli/commands.h"

#include <CLI/CLI.hpp>

namespace serflash::cli {

command_runner add_scan_command(CLI::App& app) {
    app.add_subcommand("scan", "(not yet available)");
    return [] { return 1; };
}

} // namespace serflash::cli
