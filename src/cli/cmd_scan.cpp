#include "cli/commands.h"
#include "cli/option_checks.h"
#include "cli/zero_point_option.h"
#include "cli/scan_options.h"
#include "cli/scan_runner.h"
#include "ui/setting_table.h"

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
                    "Scan this many files at once (at most one per core), each on a core of its own; every file's "
                    "results are the same as when the files are scanned one after the other (default 1)")
        ->check(whole_in(1, 256));
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
        ->check(whole_in(1, 1024));
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

namespace {

// The option of one value of the settings table, with its range check.
CLI::Option* add_setting_option(CLI::App* cmd, const ui::setting_rule& rule, std::int32_t& value,
                                const std::string& help) {
    return cmd->add_option(std::string(rule.flag), value, help)->check(whole_in(rule.min, rule.max));
}

std::string group_title(ui::setting_group group) {
    switch (group) {
        case ui::setting_group::detection:
            return "Detection settings (the control panel)";
        case ui::setting_group::masks:
            return "Masks (areas where nothing is reported)";
        case ui::setting_group::per_file:
            break;
    }
    return "Per-file values (the scan table; given once, they apply to every file)";
}

// Where a per-file value given on the command line is kept until each file's defaults are known.
std::optional<std::int32_t>* per_file_target(file_values& v, std::int32_t detect::scan_settings::*member) {
    using s = detect::scan_settings;
    const std::pair<std::int32_t s::*, std::optional<std::int32_t>*> targets[] = {
        {&s::start_frame, &v.start_frame}, {&s::end_frame, &v.end_frame},   {&s::max_det_frames, &v.max_det_frames},
        {&s::packet_size, &v.packet_size}, {&s::blue_level, &v.blue_level}, {&s::red_level, &v.red_level},
        {&s::brightness, &v.brightness}};
    for (const auto& [m, target] : targets)
        if (m == member) return target;
    return nullptr;
}

} // namespace

void add_detection_options(CLI::App* cmd, scan_cli& c) {
    detect::scan_settings& s = c.request.settings;
    for (const ui::setting_rule& rule : ui::scan_setting_table) {
        if (rule.group == ui::setting_group::per_file) continue;
        std::int32_t& value = s.*rule.value;
        add_setting_option(cmd, rule, value, std::string(rule.help) + " (default " + std::to_string(value) + ")")
            ->group(group_title(rule.group));
    }
    cmd->add_flag("--continue-after-scatter", s.continue_after_scatter,
                  "Pass over a frame withdrawn for its scatter and go on with the next packet after it, so that every "
                  "frame of the range is examined (default: the pass is held at such a frame)")
        ->group(group_title(ui::setting_group::detection));
    cmd->add_flag(
           "--complete", s.complete,
           "After the passes, one more pass over every frame from start to stop at 4.5 sigma (or "
           "--complete-threshold): a frame that scatters keeps the detections above a threshold raised until they "
           "no longer scatter, and it has no Max stop; its detections join "
           "the candidates, and the summary gets its block (the panel's \"Examine every frame\")")
        ->group(group_title(ui::setting_group::detection));

    const std::string masks = group_title(ui::setting_group::masks);
    cmd->add_flag("--mask-red", c.request.switches.red,
                  "Mask around pixels whose average is brighter than the RED level (the planet's bright disc, hot "
                  "pixels)")
        ->group(masks);
    cmd->add_flag("--mask-blue", c.request.switches.blue,
                  "Mask around pixels whose average is darker than the BLUE level (dark sky edges, dead pixels)")
        ->group(masks);
    cmd->add_flag("--mask-stars", c.request.switches.stars,
                  "Mask around stars found in the averaged image (a twinkling star must not count as a flash)")
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
    const std::string files = group_title(ui::setting_group::per_file);
    std::size_t next = 0;
    for (const ui::setting_rule& rule : ui::scan_setting_table) {
        if (rule.group != ui::setting_group::per_file) continue;
        if (rule.value == nullptr) { // the bit shift, kept for the whole run
            add_setting_option(cmd, rule, c.request.bit_shift, std::string(rule.help))->group(files);
            cmd->add_flag("--swap-bytes", c.request.swap_bytes,
                          "Take 16-bit samples high byte first, for files whose writer stored them so (serflash info "
                          "warns when a file looks byte-swapped)")
                ->group(files);
            continue;
        }
        std::int32_t* value = &c.per_file_values.at(next++);
        auto* opt = add_setting_option(cmd, rule, *value, std::string(rule.help))->group(files);
        c.per_file.emplace_back(opt, value, per_file_target(c.request.per_file, rule.value));
    }
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
    cmd->add_option("--zero-point", c->zero_point,
                    "FILE|VALUE: the photometric zero point, a file written by `serflash calibrate` or the "
                    "magnitude of one count per second in R; each candidate then gets peak_mag, peak_mag_err "
                    "and energy_j");
    add_moon_options(cmd, c->moon, "The Moon (each candidate's selenographic position)");

    const auto check = [c] {
        bool bad = false;
        c->request.zero_point = zero_point_from_option(c->zero_point, "scan", bad);
        if (bad || !finish_request(*c) || !finish_moon_options(c->moon, "scan")) return 2;
        c->request.moon = c->moon.options;
        return 0;
    };
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
