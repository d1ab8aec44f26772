#include "cli/commands.h"
#include "cli/scan_runner.h"
#include "ui/control_ids.h"
#include "ui/scan_table.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>
#include <memory>
#include <unistd.h>

namespace serflash::cli {
namespace {

// Set by the first Ctrl-C: the scan ends after the current frame, with its summary closed.
volatile std::sig_atomic_t interrupted = 0;
extern "C" void on_interrupt(int) {
    if (interrupted) std::_Exit(130);
    interrupted = 1;
}

struct scan_cli {
    scan_request request;
    std::vector<std::pair<CLI::Option*, int>> fields;  // option, control id
    std::vector<std::pair<CLI::Option*, int>> columns; // option, scan-table column
    std::map<int, std::int32_t> values;
    bool mask_red = false, mask_blue = false, mask_stars = false;
    std::array<std::string, 4> masks;
    std::array<CLI::Option*, 4> mask_options{};
};

} // namespace

command_runner add_scan_command(CLI::App& app) {
    auto* cmd = app.add_subcommand(
        "scan",
        "Scan SER videos for short point-like flashes. For each FILE.ser a folder Results_FILE is made (in the "
        "current folder or --dir) holding FILE_summary.txt and one BMP snapshot per frame with detections; when the "
        "scan ends the folder is renamed Results_FILE_sT_F (T: the last threshold, F: the frame reached). The "
        "defaults are those of the desktop program.");
    auto c = std::make_shared<scan_cli>();
    cmd->add_option("files", c->request.files, "SER files to scan, in this order")->required();
    cmd->add_option("--dir", c->request.dir, "Folder in which the results folders are made (default: current folder)");
    cmd->add_option("--jobs", c->request.jobs,
                    "Scan this many files at once, each on a core of its own; every file's results are the same as "
                    "when the files are scanned one after the other (default 1)")
        ->check(CLI::Range(1, 256));
    cmd->add_flag("--reference", c->request.reference,
                  "Use the straightforward scan, which reads every frame twice per pass, instead of the fast scan "
                  "(the results are the same; for checking)");

    const auto field = [&](const std::string& name, int id, std::int32_t def, const std::string& help) {
        c->values[id] = def;
        auto* opt = cmd->add_option(name, c->values[id], help + " (default " + std::to_string(def) + ")");
        c->fields.emplace_back(opt, id);
        return opt;
    };
    const std::string panel = "Detection settings (the control panel)";
    field("--threshold", ui::id::INITIAL_THRESHOLD, 60,
          "Initial threshold in tenths of a standard deviation: a pixel is a flash when it lies this far above its "
          "own average over the packet; 60 means 6.0 sigma. Later passes lower it by the step down to 45")
        ->group(panel);
    field("--step", ui::id::THRESHOLD_STEP, 3,
          "Threshold step in tenths of a standard deviation, by which each new pass lowers the threshold (or raises "
          "it when the first pass finds too many frames with detections); at least 1")
        ->group(panel);
    field("--top", ui::id::PCT_TOP, 25,
          "Percent of the centre's rise that the pixel above must also rise: flashes are a few pixels wide, noise "
          "spikes are single pixels")
        ->group(panel);
    field("--bottom", ui::id::PCT_BOTTOM, 25, "Likewise for the pixel below, in percent")->group(panel);
    field("--left", ui::id::PCT_LEFT, 25, "Likewise for the pixel to the left, in percent")->group(panel);
    field("--right", ui::id::PCT_RIGHT, 25, "Likewise for the pixel to the right, in percent")->group(panel);
    field("--scatter-v", ui::id::SCATTER_V, 20,
          "A frame with more than 10 detections is kept only when they span at most this many rows (otherwise it is "
          "taken as a disturbance such as seeing or a passing cloud, and the frame is passed over)")
        ->group(panel);
    field("--scatter-h", ui::id::SCATTER_H, 100, "Likewise, the largest span in columns")->group(panel);

    const std::string masks = "Masks (areas where nothing is reported)";
    cmd->add_flag("--mask-red", c->mask_red,
                  "Mask around pixels whose average is brighter than the RED level (the planet's bright disc, hot "
                  "pixels)")
        ->group(masks);
    field("--red-mask-size", ui::id::RED_MASK_HALF, 10,
          "Half width and height of the square masked around each bright pixel")
        ->group(masks);
    cmd->add_flag("--mask-blue", c->mask_blue,
                  "Mask around pixels whose average is darker than the BLUE level (dark sky edges, dead pixels)")
        ->group(masks);
    field("--blue-mask-size", ui::id::BLUE_MASK_HALF, 10,
          "Half width and height of the square masked around each "
          "dark pixel")
        ->group(masks);
    cmd->add_flag("--mask-stars", c->mask_stars,
                  "Mask around stars found in the averaged image (a twinkling star must not count as a flash)")
        ->group(masks);
    field("--star-threshold", ui::id::STAR_THRESHOLD, 30,
          "How far a star must stand out from the ring around it, in tenths of the ring's standard deviation")
        ->group(masks);
    field("--star-half-width", ui::id::STAR_HALF_WIDTH, 10,
          "Radius in pixels of the ring around a star image against which it is measured")
        ->group(masks);
    field("--star-mask-size", ui::id::STAR_MASK_HALF, 10,
          "Half width and height of the square masked around each star pixel")
        ->group(masks);
    for (int k = 0; k < 4; ++k) {
        c->mask_options[static_cast<std::size_t>(k)] =
            cmd->add_option("--mask" + std::to_string(k), c->masks[static_cast<std::size_t>(k)],
                            k == 0 ? "X1,Y1,X2,Y2: manual mask rectangle 0 from corner (X1, Y1) to corner (X2, Y2), "
                                     "columns and rows counted from 0 at the top left, both corners included "
                                     "(default 0,0,0,0, which masks only the top-left pixel)"
                                   : "X1,Y1,X2,Y2: manual mask rectangle " + std::to_string(k) + ", as --mask0")
                ->group(masks);
    }

    const std::string files = "Per-file values (the scan table; given once, they apply to every file)";
    cmd->add_option("--bit-shift", c->request.bit_shift,
                    "Shift 16-bit samples right by this many bits as they are read (0 to 15); also sets the default "
                    "brightness (default 0)")
        ->check(CLI::Range(0, 15))
        ->group(files);
    const auto column = [&](const std::string& name, int col, const std::string& help) {
        c->values[1000000 + col] = 0;
        auto* opt = cmd->add_option(name, c->values[1000000 + col], help)->group(files);
        c->columns.emplace_back(opt, col);
    };
    column("--start", ui::col_start, "First frame to scan, counted from 0 (default 0)");
    column("--stop", ui::col_stop, "Last frame to scan (default: the file's last frame)");
    column("--max", ui::col_max,
           "Frames with detections after which the lowering of the threshold stops (default: frames / 100 + 1, at "
           "most 200)");
    column("--pack", ui::col_pack,
           "Frames per packet: each pixel's average and standard deviation are taken over this many frames (default "
           "200, or all frames of a shorter file)");
    column("--blue", ui::col_blue, "BLUE level: averages below it are masked by --mask-blue (default 500, 8-bit 0)");
    column("--red", ui::col_red, "RED level: averages above it are masked by --mask-red (default 3800, 8-bit 255)");
    column("--brightness", ui::col_brt,
           "Gain of the snapshots in thousandths (default 1000 for 8-bit files, else set by --bit-shift: 4 at "
           "shift 0, 1000 at shift 8)");

    return [c]() -> int {
        scan_request req = c->request;
        for (const auto& [opt, id] : c->fields)
            if (opt->count() > 0) req.field_values.emplace_back(id, c->values[id]);
        for (const auto& [opt, col] : c->columns)
            if (opt->count() > 0) req.row_values.emplace_back(col, c->values[1000000 + col]);
        req.switches = {{ui::id::MASK_RED_ON, c->mask_red},
                        {ui::id::MASK_BLUE_ON, c->mask_blue},
                        {ui::id::MASK_STARS_ON, c->mask_stars}};
        for (std::size_t k = 0; k < 4; ++k) {
            if (c->mask_options[k]->count() == 0) continue;
            const auto rect = parse_rectangle(c->masks[k]);
            if (!rect) {
                std::cerr << "serflash scan: --mask" << k << " needs four whole numbers X1,Y1,X2,Y2, not \""
                          << c->masks[k] << "\"\n";
                return 2;
            }
            for (std::size_t j = 0; j < 4; ++j) req.field_values.emplace_back(ui::id::MASK_FIELDS[k][j], (*rect)[j]);
        }
        std::signal(SIGINT, on_interrupt);
        const scan_run run =
            run_scan_request(req, std::cout, std::cerr, ::isatty(STDERR_FILENO) != 0, [] { return interrupted != 0; });
        std::signal(SIGINT, SIG_DFL);
        if (run.stopped) return 130;
        return run.all_scanned() ? 0 : 1;
    };
}

} // namespace serflash::cli
