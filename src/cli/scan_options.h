#pragma once
// The options of `serflash scan`, for every command that scans files as it does.
#include "cli/moon_options.h"
#include "cli/scan_runner.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace serflash::cli {

struct scan_cli {
    scan_request request;
    // Per-file options: given ones replace the file's defaults.
    std::vector<std::tuple<CLI::Option*, std::int32_t*, std::optional<std::int32_t>*>> per_file;
    std::array<std::int32_t, 7> per_file_values{};
    std::array<std::string, 4> masks;
    std::array<CLI::Option*, 4> mask_options{};
    std::string progress = "auto";
    bool quiet = false;
    // How the progress is shown, from --progress and --quiet.
    progress_mode progress_shown() const;
    std::string zero_point;
    moon_cli moon;
};

void add_output_options(CLI::App* cmd, scan_cli& c);
void add_detection_options(CLI::App* cmd, scan_cli& c);
void add_per_file_options(CLI::App* cmd, scan_cli& c);
// The typed request once the options are parsed; false (after a message naming the command)
// when a value is bad.
bool finish_request(scan_cli& c, const std::string& command = "scan");

// Ctrl-C, SIGTERM and SIGHUP: the first asks the scan to stop after the current frame (its
// summary closed, its folder renamed), a second ends the program at once.
void catch_interrupts();
void release_interrupts();
bool interrupt_requested();
int interrupt_exit_status(); // 128 + the signal that stopped the run

} // namespace serflash::cli
