#include "cli/commands.h"
#include "cli/option_checks.h"
#include "detect/format.h"
#include "ser/ser_reader.h"
#include "cli/scan_options.h"
#include "cli/scan_runner.h"
#include "sensitivity/sensitivity.h"
#include "sensitivity/sensitivity_report.h"
#include "synth/synth.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <iostream>
#include <memory>

namespace serflash::cli {
namespace {

struct sensitivity_cli {
    scan_cli scan;
    sensitivity::sensitivity_options options;
    std::string sigmas = "3:15:1";
    std::string counts;
    bool two_frames = false;
    CLI::Option* counts_option = nullptr;
};

// "FIRST:LAST:STEP", or one amplitude alone.
std::optional<sensitivity::amplitude_ladder> parse_ladder(const std::string& text, sensitivity::amplitude_unit unit) {
    sensitivity::amplitude_ladder l;
    l.unit = unit;
    double v[3] = {0, 0, 1};
    const char* p = text.data();
    const char* end = p + text.size();
    int n = 0;
    for (; n < 3; ++n) {
        const auto [next, ec] = std::from_chars(p, end, v[n]);
        if (ec != std::errc{}) return std::nullopt;
        p = next;
        if (p == end) break;
        if (*p != ':') return std::nullopt;
        ++p;
    }
    if (p != end || n == 1) return std::nullopt;
    l.first = v[0];
    l.last = n == 0 ? v[0] : v[1];
    l.step = n == 0 ? 1.0 : v[2];
    return l;
}

} // namespace

command_runner add_sensitivity_command(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "sensitivity",
        "Measure how faint a flash the scan of each FILE.ser could have found. The file is scanned as `serflash scan` "
        "scans it (same options, same results folder); then synthetic flashes are added to copies of its frames as "
        "they are read (the file is never changed), at random unmasked places of the inner area and a ladder of "
        "amplitudes, and the same scan is run on them; a flash is recovered when a candidate of class flash lies "
        "within "
        "2 pixels and 1 frame of it. FILE_sensitivity.json and FILE_sensitivity.csv are written into the results "
        "folder and the "
        "completeness curve into FILE_report.html. The last line printed for each file is \"sensitivity: 50% A50 "
        "counts S50 sigma, 90% A90 counts S90 sigma, false candidates N (R per hour)\", after the plain scan's "
        "candidates of each class.");
    auto c = std::make_shared<sensitivity_cli>();
    c->options.spot_radius = synth::params{}.flash_sigma;
    add_output_options(cmd, c->scan);
    add_detection_options(cmd, c->scan);
    add_per_file_options(cmd, c->scan);

    const std::string group = "Injected flashes";
    auto* sigmas = cmd->add_option("--sigmas", c->sigmas,
                                   "FIRST:LAST:STEP: amplitudes of the flashes as multiples of the standard deviation "
                                   "of the pixel they fall on, over its packet (default 3:15:1)")
                       ->group(group);
    c->counts_option = cmd->add_option("--counts", c->counts,
                                       "FIRST:LAST:STEP: amplitudes in counts (samples as the scan reads them) instead "
                                       "of multiples of the standard deviation")
                           ->group(group)
                           ->excludes(sigmas);
    cmd->add_option("--per-amplitude", c->options.per_level, "Flashes injected at each amplitude (default 20)")
        ->check(whole_in(1, sensitivity::most_flashes_per_level))
        ->group(group);
    cmd->add_option("--radius", c->options.spot_radius,
                    "Radius (Gaussian sigma) of the spot in pixels (default that of `serflash synth`, 0.8)")
        ->check(number_in(0.05, 20.0, "from 0.05 to 20"))
        ->group(group);
    cmd->add_flag("--two-frames", c->two_frames,
                  "Flashes of two frames, the second at half the amplitude of the first (default: one frame)")
        ->group(group);
    cmd->add_option("--seed", c->options.seed, "Seed of the places and frames drawn (default 1)")
        ->check(whole_64_bits())
        ->group(group);

    const auto check = [c]() -> int {
        if (!finish_request(c->scan, "sensitivity")) return 2;
        c->options.flash_frames = c->two_frames ? 2 : 1;
        // --threads (a scan option) also sets the cores of the injected runs.
        c->options.threads = c->scan.request.threads;
        const bool by_counts = c->counts_option->count() > 0;
        const auto ladder =
            parse_ladder(by_counts ? c->counts : c->sigmas,
                         by_counts ? sensitivity::amplitude_unit::counts : sensitivity::amplitude_unit::sigma);
        if (!ladder) {
            std::cerr << "serflash sensitivity: " << (by_counts ? "--counts" : "--sigmas")
                      << " needs FIRST:LAST:STEP (or one amplitude), not \"" << (by_counts ? c->counts : c->sigmas)
                      << "\"\n";
            return 2;
        }
        if (const platform::status ok = ladder->check(); !ok) {
            std::cerr << "serflash sensitivity: " << ok.reason() << "\n";
            return 2;
        }
        c->options.ladder = *ladder;
        return 0;
    };
    return {check, [c]() -> int {
                // Refused before any scan: frames with no room for a flash.
                for (const std::string& path : c->scan.request.files) {
                    auto input = platform::native_file_system().open_read(path);
                    if (!input) continue; // the scan names it
                    ser::ser_reader reader(std::move(input.value()));
                    reader.read_ser_header();
                    if (const platform::status room = sensitivity::room_for_flashes(reader.width(), reader.height());
                        reader.check_geometry() && !room) {
                        std::cerr << "serflash sensitivity: " << path << ": " << room.reason() << "\n";
                        return 2;
                    }
                }
                catch_interrupts();
                progress_display progress(std::cerr, c->scan.progress_shown());
                const scan_run run =
                    run_scan_request(c->scan.request, std::cout, std::cerr, &progress, interrupt_requested);
                bool all_measured = run.all_scanned();
                detect::engine_hooks hooks;
                hooks.stop_requested = interrupt_requested;
                const int file_count = static_cast<int>(run.files.size());
                for (int file_index = 0; file_index < file_count; ++file_index) {
                    const detect::file_report& plain = run.files[static_cast<std::size_t>(file_index)];
                    if (interrupt_requested()) break;
                    if (plain.outcome != detect::file_outcome::scanned) {
                        std::cout << detect::printable_text(plain.path)
                                  << ": sensitivity not measured: the file was not scanned to its end\n";
                        continue;
                    }
                    const detect::scan_job job = job_for(c->scan.request, plain.path);
                    sensitivity::sensitivity_options options = c->options;
                    progress.start_runs();
                    options.run_done = [&](std::int32_t done, std::int32_t runs) {
                        progress.show_runs(plain.path, file_index, file_count, done, runs);
                    };
                    auto measured =
                        sensitivity::measure_sensitivity(platform::native_file_system(), job, plain, options, hooks);
                    progress.clear();
                    if (!measured || measured->stopped || interrupt_requested()) {
                        if (measured || interrupt_requested()) {
                            std::cout << detect::printable_text(plain.path)
                                      << ": sensitivity not measured: stopped by the user\n"
                                      << std::flush;
                            break;
                        }
                        std::cout << detect::printable_text(plain.path)
                                  << ": sensitivity not measured: " << detect::printable_text(measured.reason()) << "\n"
                                  << std::flush;
                        all_measured = false;
                        continue;
                    }
                    const sensitivity::file_sensitivity& s = measured.value();
                    std::vector<std::string> written;
                    const platform::status saved =
                        sensitivity::write_sensitivity(platform::native_file_system(), job, plain, s, &written);
                    for (const std::string& line : sensitivity::sensitivity_lines(s)) std::cout << line << "\n";
                    for (const std::string& path : written)
                        std::cout << "  written: " << detect::printable_text(path) << "\n";
                    if (!saved) {
                        std::cout << "  problem: " << detect::printable_text(saved.reason()) << "\n";
                        all_measured = false;
                    }
                    std::cout << sensitivity::sensitivity_last_line(s) << "\n" << std::flush;
                }
                release_interrupts();
                if (run.stopped || interrupt_requested()) return interrupt_exit_status();
                return all_measured ? 0 : 1;
            }};
}

} // namespace serflash::cli
