#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/scan_options.h"
#include "cli/scan_runner.h"

#include <CLI/CLI.hpp>

#include <array>
#include <csignal>
#include <signal.h>
#include <iostream>
#include <memory>
#include <optional>
#include <tuple>
#include <vector>
#include <unistd.h>

namespace serflash::cli {
namespace {

// Set by the first Ctrl-C, SIGTERM or SIGHUP (to its number): the scan ends after the current
// frame, with its summary closed and its folder renamed. A second one ends the program at once.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void on_interrupt(int signal_number) {
    if (interrupted != 0) std::_Exit(128 + signal_number);
    interrupted = signal_number;
}

constexpr std::array<int, 3> stop_signals = {SIGINT, SIGTERM, SIGHUP};

void handle_stop_signals(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (const int s : stop_signals) ::sigaction(s, &action, nullptr);
}

} // namespace

progress_mode scan_cli::progress_shown() const {
    return progress_mode_for(progress, quiet, ::isatty(STDERR_FILENO) != 0);
}

void catch_interrupts() { handle_stop_signals(on_interrupt); }
void release_interrupts() { handle_stop_signals(SIG_DFL); }
bool interrupt_requested() { return interrupted != 0; }
int interrupt_exit_status() { return 128 + (interrupted != 0 ? static_cast<int>(interrupted) : SIGINT); }

void add_output_options(CLI::App* cmd, scan_cli& c) {
    cmd->add_option("files", c.request.files,
                    "SER files to scan, in this order (put -- before them when a name begins with a dash)")
        ->required();
    cmd->add_option("--dir", c.request.dir, "Folder in which the results folders are made (default: current folder)");
    cmd->add_option("--jobs", c.request.jobs,
                    "Scan this many files at once, each on a core of its own; every file's results are the same as "
                    "when the files are scanned one after the other (default 1)")
        ->check(CLI::Range(1, 256));
    cmd->add_option("--fps", c.request.fps,
                    "Frame rate for the frame times of files without usable time stamps: frame k is taken at the "
                    "header's DatetimeUTC plus k / FPS seconds (marked as estimated)")
        ->check(frame_rate_check());
    detect::scan_settings& settings = c.request.settings;
    std::vector<std::string> formats;
    for (const detect::snapshot_format f : detect::snapshot_formats)
        formats.emplace_back(detect::snapshot_format_name(f));
    cmd->add_option_function<std::string>(
           "--snapshots",
           [&settings](const std::string& name) {
               settings.snapshots = detect::snapshot_format_named(name).value_or(detect::snapshot_format::bmp);
           },
           "How each frame with detections is stored: bmp (32-bit BMP, about 4 bytes a pixel), png (the same pixels, "
           "losslessly compressed) or none (no picture files; the frames are still counted and listed) (default bmp)")
        ->check(CLI::IsMember(formats));
    cmd->add_option("--threads", c.request.threads,
                    "Threads that scan each file (default: all cores); with --jobs, each file gets at most its share "
                    "of the cores. The results are the same at every count")
        ->check(CLI::Range(1, 1024));
    cmd->add_option("--progress", c.progress,
                    "How the progress is shown on stderr: auto (one line redrawn in place when stderr is a terminal: "
                    "the file, the pass and its threshold, frames per second, the share of the whole run done and "
                    "the time left), json (one JSON object per line: stage, file, pass, frame, frames_done, "
                    "frames_total, fraction, eta_s) or none (default auto)")
        ->check(
            CLI::IsMember(std::vector<std::string>(std::begin(progress_mode_names), std::end(progress_mode_names))));
    cmd->add_flag("--quiet", c.quiet, "No progress line (the lines of the files and candidates are still printed)");
    cmd->add_flag("--reference", c.request.reference,
                  "Use the straightforward scan, which reads every frame twice per pass, instead of the fast scan "
                  "(the results are the same; for checking)");
}

void add_detection_options(CLI::App* cmd, scan_cli& c) {
    detect::scan_settings& s = c.request.settings;
    const auto field = [&](const std::string& name, std::int32_t& value, const std::string& help) {
        return cmd->add_option(name, value, help + " (default " + std::to_string(value) + ")");
    };
    const std::string panel = "Detection settings (the control panel)";
    field("--threshold", s.threshold,
          "Initial threshold in tenths of a standard deviation: a pixel is a flash when it lies this far above its "
          "own average over the packet; 60 means 6.0 sigma. Later passes lower it by the step down to 45")
        ->group(panel);
    field("--step", s.threshold_step,
          "Threshold step in tenths of a standard deviation, by which each new pass lowers the threshold (or raises "
          "it when the first pass finds too many frames with detections); at least 1")
        ->group(panel);
    field("--top", s.pct_top,
          "Percent of the centre's rise that the pixel above must also rise: flashes are a few pixels wide, noise "
          "spikes are single pixels")
        ->group(panel);
    field("--bottom", s.pct_bottom, "Likewise for the pixel below, in percent")->group(panel);
    field("--left", s.pct_left, "Likewise for the pixel to the left, in percent")->group(panel);
    field("--right", s.pct_right, "Likewise for the pixel to the right, in percent")->group(panel);
    field("--scatter-v", s.scatter_v,
          "A frame with more than 10 detections is kept only when they span at most this many rows (otherwise it is "
          "taken as a disturbance such as seeing or a passing cloud, and the frame is passed over)")
        ->group(panel);
    field("--scatter-h", s.scatter_h, "Likewise, the largest span in columns")->group(panel);
    cmd->add_flag("--continue-after-scatter", s.continue_after_scatter,
                  "Pass over a frame withdrawn for its scatter and go on with the next packet after it, so that every "
                  "frame of the range is examined (default: the pass is held at such a frame)")
        ->group(panel);

    const std::string masks = "Masks (areas where nothing is reported)";
    cmd->add_flag("--mask-red", c.request.switches.red,
                  "Mask around pixels whose average is brighter than the RED level (the planet's bright disc, hot "
                  "pixels)")
        ->group(masks);
    field("--red-mask-size", s.red_mask_half, "Half width and height of the square masked around each bright pixel")
        ->group(masks);
    cmd->add_flag("--mask-blue", c.request.switches.blue,
                  "Mask around pixels whose average is darker than the BLUE level (dark sky edges, dead pixels)")
        ->group(masks);
    field("--blue-mask-size", s.blue_mask_half, "Half width and height of the square masked around each dark pixel")
        ->group(masks);
    cmd->add_flag("--mask-stars", c.request.switches.stars,
                  "Mask around stars found in the averaged image (a twinkling star must not count as a flash)")
        ->group(masks);
    field("--star-threshold", s.star_threshold,
          "How far a star must stand out from the ring around it, in tenths of the ring's standard deviation")
        ->group(masks);
    field("--star-half-width", s.star_half_width,
          "Radius in pixels of the ring around a star image against which it is measured")
        ->group(masks);
    field("--star-mask-size", s.star_mask_half, "Half width and height of the square masked around each star pixel")
        ->group(masks);
    for (std::size_t k = 0; k < 4; ++k) {
        c.mask_options[k] =
            cmd->add_option("--mask" + std::to_string(k), c.masks[k],
                            k == 0 ? "X1,Y1,X2,Y2: manual mask rectangle 0 from corner (X1, Y1) to corner (X2, Y2), "
                                     "columns and rows counted from 0 at the top left, both corners included "
                                     "(default 0,0,0,0, which masks only the top-left pixel)"
                                   : "X1,Y1,X2,Y2: manual mask rectangle " + std::to_string(k) + ", as --mask0")
                ->group(masks);
    }
}

void add_per_file_options(CLI::App* cmd, scan_cli& c) {
    const std::string files = "Per-file values (the scan table; given once, they apply to every file)";
    cmd->add_option("--bit-shift", c.request.bit_shift,
                    "Shift 16-bit samples right by this many bits as they are read (0 to 15); also sets the default "
                    "brightness (default 0)")
        ->check(CLI::Range(0, 15))
        ->group(files);
    cmd->add_flag("--swap-bytes", c.request.swap_bytes,
                  "Take 16-bit samples high byte first, for files whose writer stored them so (serflash info warns "
                  "when a file looks byte-swapped)")
        ->group(files);
    file_values& v = c.request.per_file;
    std::size_t next = 0;
    const auto column = [&](const std::string& name, std::optional<std::int32_t>& target, const std::string& help) {
        std::int32_t* value = &c.per_file_values[next++];
        auto* opt = cmd->add_option(name, *value, help)->group(files);
        c.per_file.emplace_back(opt, value, &target);
    };
    column("--start", v.start_frame, "First frame to scan, counted from 0 (default 0)");
    column("--stop", v.end_frame, "Last frame to scan (default: the file's last frame)");
    column("--max", v.max_det_frames,
           "Frames with detections after which the lowering of the threshold stops (default: frames / 100 + 1, at "
           "most 200)");
    column("--pack", v.packet_size,
           "Frames per packet: each pixel's average and standard deviation are taken over this many frames (default "
           "200, or all frames of a shorter file)");
    column("--blue", v.blue_level, "BLUE level: averages below it are masked by --mask-blue (default 500, 8-bit 0)");
    column("--red", v.red_level, "RED level: averages above it are masked by --mask-red (default 3800, 8-bit 255)");
    column("--brightness", v.brightness,
           "Gain of the snapshots in thousandths (default 1000 for 8-bit files, else set by --bit-shift: 4 at "
           "shift 0, 1000 at shift 8)");
}

// The typed request once the options are parsed; false (after a message) when a value is bad.
bool finish_request(scan_cli& c, const std::string& command) {
    for (auto& [opt, value, target] : c.per_file)
        if (opt->count() > 0) *target = *value;
    for (std::size_t k = 0; k < 4; ++k) {
        if (c.mask_options[k]->count() == 0) continue;
        const auto rect = parse_rectangle(c.masks[k]);
        if (!rect) {
            std::cerr << "serflash " << command << ": --mask" << k << " needs four whole numbers X1,Y1,X2,Y2, not \""
                      << c.masks[k] << "\"\n";
            return false;
        }
        for (const std::int32_t v : *rect)
            if (v != static_cast<std::int16_t>(v))
                std::cerr << "serflash scan: warning: --mask" << k << ": " << v
                          << " does not fit 16 bits; as in the control panel only its low 16 bits count, giving "
                          << static_cast<std::int16_t>(v) << "\n";
        c.request.settings.mask_ul[k] = detect::pack_point((*rect)[0], (*rect)[1]);
        c.request.settings.mask_lr[k] = detect::pack_point((*rect)[2], (*rect)[3]);
    }
    return true;
}

command_runner add_scan_command(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "scan",
        "Scan SER videos for short point-like flashes. For each FILE.ser a folder Results_FILE is made (in the "
        "current folder or --dir) holding FILE_summary.txt, one BMP snapshot per frame with detections, the "
        "candidates (each flash once, with its time) in FILE_candidates.csv and FILE_candidates.json, and the page "
        "FILE_report.html; when the scan ends the folder is renamed Results_FILE_sT_F (T: the last threshold, F: the "
        "frame reached). The "
        "defaults are those of the desktop program.");
    auto c = std::make_shared<scan_cli>();
    add_output_options(cmd, *c);
    add_detection_options(cmd, *c);
    add_per_file_options(cmd, *c);

    const auto check = [c] { return finish_request(*c) ? 0 : 2; };
    return {check, [c]() -> int {
                catch_interrupts();
                progress_display progress(std::cerr, c->progress_shown());
                const scan_run run = run_scan_request(c->request, std::cout, std::cerr, &progress, interrupt_requested);
                release_interrupts();
                if (run.stopped) return interrupt_exit_status();
                return run.all_scanned() ? 0 : 1;
            }};
}

} // namespace serflash::cli
