#include "cli/commands.h"

#include <CLI/CLI.hpp>

int main(int argc, char** argv) {
    CLI::App app{"serflash: finds short point-like flashes in SER videos of the Moon and planets"};
    const auto commands = serflash::cli::add_all_commands(app);
    CLI11_PARSE(app, argc, argv);
    for (const auto& [sub, run] : commands)
        if (sub->parsed()) return run();
    return 2;
}
