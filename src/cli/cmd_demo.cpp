#include "cli/commands.h"
#include "cli/scan_runner.h"
#include "detect/candidates.h"
#include "report/csv.h"
#include "report/observation.h"
#include "report/tables.h"
#include "ser/frame_times.h"
#include "synth/synth.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace serflash::cli {
namespace {

constexpr const char* sample_name = "serflash_demo.ser";

// The candidate that an injected flash became: near its place, within its frames.
bool is_flash(const detect::candidate& c, const synth::flash_spec& fl) {
    return c.last_frame >= fl.frame && c.first_frame < fl.frame + fl.frames &&
           std::abs(c.peak.det.x - fl.x) <= detect::candidate_reach &&
           std::abs(c.peak.det.y - fl.y) <= detect::candidate_reach;
}

void print_candidate(const detect::candidate& c, const ser::frame_times& times) {
    const auto utc = times.utc_of(c.peak.frame);
    std::cout << "candidate " << c.number << ", peak in frame " << c.peak.frame << " at "
              << (utc ? ser::format_utc(*utc) : std::string("no time")) << ", "
              << report::fixed_decimals(c.peak.significance(), report::sigma_decimals) << " sigma, "
              << c.duration_frames() << " frame" << (c.duration_frames() == 1 ? "" : "s") << ", thresholds "
              << report::thresholds_text(c.thresholds) << "\n";
}

synth::params demo_params() {
    synth::params p = synth::default_params(16);
    p.width = 320;
    p.height = 240;
    p.frames = 300;
    p.seed = 2026;
    p.flashes = {{100, 80, 40, 600.0, 1}, {200, 150, 170, 500.0, 1}, {150, 60, 230, 400.0, 1}};
    p.burst_frame = 280;
    // Time stamps after the frames, as capture programs write them: the flashes get their UTC.
    p.write_times = true;
    p.fps = 25.0;
    return p;
}

int run_demo() {
    const synth::params p = demo_params();
    std::cout << "Writing the sample " << sample_name << ": " << p.width << " x " << p.height << " pixels, " << p.frames
              << " frames of 16 bits, with a sky gradient and noise, " << p.stars << " twinkling stars, "
              << p.hot_pixels << " hot pixels, a bright limb on the right, a dark patch at the lower left, a burst of "
              << p.burst_points << " bright points in frame " << p.burst_frame << " and " << p.flashes.size()
              << " flashes.\n";
    const synth::result made = synth::write_ser(platform::native_file_system(), sample_name, p);
    if (!made.ok) {
        std::cerr << "serflash demo: cannot write " << sample_name << ": " << made.error << "\n";
        return 1;
    }

    std::cout << "\nScanning it with the desktop program's defaults, the three automatic masks on, and at most 50 "
                 "frames with detections (serflash scan "
              << sample_name << " --mask-red --mask-blue --mask-stars --max 50):\n";
    scan_request req;
    req.files = {sample_name};
    req.switches = {true, true, true};
    req.per_file.max_det_frames = 50;
    progress_display progress(std::cerr, progress_mode_for("auto", false, ::isatty(STDERR_FILENO) != 0));
    const scan_run run = run_scan_request(req, std::cout, std::cerr, &progress);
    if (run.files.empty() || run.files[0].outcome != detect::file_outcome::scanned) return 1;
    const detect::file_report& f = run.files[0];

    const ser::frame_times times = report::frame_times_of(platform::native_file_system(), job_for(req, sample_name));
    std::cout << "\nFrame times from the sample's time stamps (" << ser::time_source_name(times.source) << "), "
              << "first frame " << (times.known() ? ser::format_utc(times.utc_ticks.front()) : std::string("unknown"))
              << ".\nInjected flashes and the candidates the scan found (each flash once, however many frames and "
                 "thresholds found it; thresholds in tenths of a standard deviation):\n";
    std::vector<detect::candidate> candidates = detect::group_candidates(f.frames);
    int hits = 0;
    for (const auto& fl : made.truth.flashes) {
        std::cout << "  flash at x " << fl.x << ", y " << fl.y << ", frame " << fl.frame << " (peak " << fl.amplitude
                  << " counts): ";
        const auto it = std::find_if(candidates.begin(), candidates.end(),
                                     [&](const detect::candidate& c) { return is_flash(c, fl); });
        if (it == candidates.end()) {
            std::cout << "not found\n";
            continue;
        }
        ++hits;
        print_candidate(*it, times);
        candidates.erase(it);
    }
    std::cout << "  other candidates: " << candidates.size() << "\n";
    for (const detect::candidate& c : candidates) {
        std::cout << "    x " << c.peak.det.x << ", y " << c.peak.det.y << ": ";
        print_candidate(c, times);
    }
    std::cout << "\n"
              << hits << " of " << made.truth.flashes.size() << " flashes found. The burst in frame " << p.burst_frame
              << " is passed over: its points are scattered far beyond the accepted ranges, and "
              << "each pass ends at such a frame (the folder name tells the frame a scan reached).\n"
              << "Results: " << f.result_dir << "/ (the summary serflash_demo_summary.txt, one BMP snapshot per "
              << "frame with detections, the detections boxed in orange, the candidates in "
              << "serflash_demo_candidates.csv and .json, and the page serflash_demo_report.html).\n";
    return hits == static_cast<int>(made.truth.flashes.size()) ? 0 : 1;
}

} // namespace

command_runner add_demo_command(CLI::App& app) {
    app.add_subcommand("demo",
                       "Write a made-up sample with known flashes into the current folder, scan it and compare what "
                       "was found with what was put in");
    return {nullptr, [] { return run_demo(); }};
}

} // namespace serflash::cli
