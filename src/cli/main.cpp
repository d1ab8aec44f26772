#include "cli/commands.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

int main(int argc, char** argv) {
    CLI::App app{"serflash: finds short point-like flashes in SER videos of the Moon and planets"};
    const auto commands = serflash::cli::add_all_commands(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e);
    } catch (const std::exception& e) {
        // The option library lets some conversion failures escape as standard exceptions.
        std::cerr << "serflash: the command line could not be read (" << e.what() << ")\n"
                  << "Run with --help for more information.\n";
        return 2;
    }
    for (const auto& [sub, run] : commands)
        if (sub->parsed()) return run();
    return 2;
}
