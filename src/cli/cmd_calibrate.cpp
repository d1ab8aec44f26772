#include "cli/commands.h"
#include "photometry/star_measure.h"
#include "photometry/zero_point.h"
#include "ser/frame_times.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace serflash::cli {
namespace {

struct calibrate_options {
    std::string star;
    double magnitude = 0.0;
    std::string band = "R";
    double exposure_ms = 0.0;
    CLI::Option* exposure = nullptr;
    double aperture = 4.0;
    std::string out;
    bool swap_bytes = false;
};

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// "night/star.ser" -> "night/star_zero_point.json".
std::string default_out(const std::string& star) {
    std::filesystem::path p(star);
    return (p.parent_path() / (p.stem().string() + "_zero_point.json")).string();
}

int check_calibrate(calibrate_options& o) {
    if (!std::isfinite(o.magnitude) || o.magnitude < -30.0 || o.magnitude > 30.0) {
        std::cerr << "serflash calibrate: --magnitude must lie in -30..30\n";
        return 2;
    }
    if (photometry::find_band(o.band) == nullptr) {
        std::cerr << "serflash calibrate: --band " << o.band << " is not one of " << photometry::band_names() << "\n";
        return 2;
    }
    if (o.exposure->count() > 0 && !(o.exposure_ms > 0.0 && o.exposure_ms <= 3.6e6)) {
        std::cerr << "serflash calibrate: --exposure-ms must lie above 0 and at most 3600000\n";
        return 2;
    }
    if (!(o.aperture >= 1.0 && o.aperture <= 30.0)) {
        std::cerr << "serflash calibrate: --aperture must lie in 1..30 pixels\n";
        return 2;
    }
    if (o.out.empty()) o.out = default_out(o.star);
    std::error_code ec;
    if (std::filesystem::equivalent(o.out, o.star, ec)) {
        std::cerr << "serflash calibrate: --out " << o.out << " is the star video itself; it is not overwritten\n";
        return 2;
    }
    return 0;
}

int run_calibrate(const calibrate_options& o) {
    auto file = platform::native_file_system().open_read(o.star);
    if (!file) {
        std::cerr << "serflash calibrate: cannot open " << o.star << ": " << file.reason() << "\n";
        return 1;
    }
    ser::ser_reader reader(std::move(file.value()));
    reader.set_swap_bytes(o.swap_bytes);
    reader.read_ser_header();
    double exposure_s = o.exposure_ms / 1000.0;
    if (o.exposure->count() == 0) {
        const ser::frame_times times = ser::read_frame_times(reader);
        if (!(times.frame_interval > 0.0)) {
            std::cerr << "serflash calibrate: " << o.star
                      << " has no frame times to take the exposure from: give --exposure-ms\n";
            return 2;
        }
        exposure_s = times.frame_interval;
    }
    const photometry::aperture a = photometry::aperture_of_radius(o.aperture);
    const photometry::star_measurement m = photometry::measure_star(reader, a);
    if (!m.error.empty()) {
        std::cerr << "serflash calibrate: " << o.star << ": " << m.error << "\n";
        return 1;
    }

    photometry::zero_point z = photometry::zero_point_of(m, a, o.magnitude, o.band, exposure_s);
    z.source = o.star;

    auto out = platform::native_file_system().open_write(o.out, platform::write_mode::truncate);
    const std::string text = photometry::zero_point_json(z);
    if (!out || !out.value()->write(text.data(), text.size()) || !out.value()->close()) {
        std::cerr << "serflash calibrate: cannot write " << o.out << (out ? "" : ": " + out.reason()) << "\n";
        return 1;
    }
    std::cout << "star: column " << fixed(m.x, 2) << ", row " << fixed(m.y, 2) << ", " << m.frames << " frames, sky "
              << fixed(m.sky_level, 1) << " +- " << fixed(m.sky_sigma, 1) << " per pixel\n"
              << "aperture " << fixed(a.radius, 1) << " px, sky annulus " << fixed(a.sky_inner, 1) << " to "
              << fixed(a.sky_outer, 1) << " px: " << fixed(m.aperture_counts, 1) << " +- "
              << fixed(m.aperture_counts_err, 1) << " counts a frame (median)\n"
              << "spot width " << fixed(m.psf_sigma_px, 2) << " px (Gaussian sigma): all of it "
              << fixed(m.whole_counts, 1) << " counts in " << fixed(exposure_s * 1000.0, 3) << " ms\n"
              << "zero point (" << z.band << "): " << fixed(z.magnitude, 3) << " +- " << fixed(z.error, 3)
              << " mag for one count per second\n"
              << "wrote " << o.out << "\n";
    return 0;
}

} // namespace

command_runner add_calibrate_command(CLI::App& app) {
    auto o = std::make_shared<calibrate_options>();
    CLI::App* cmd =
        app.add_subcommand("calibrate",
                           "Measure a star video of the same set-up as the flash videos and write its photometric zero "
                           "point, for `serflash scan --zero-point`");
    cmd->add_option("star", o->star, "SER video of one star, centred or the brightest thing in the frame")->required();
    cmd->add_option("--magnitude", o->magnitude, "The star's catalogue magnitude in the band")->required();
    cmd->add_option("--band", o->band, "Photometric band: " + photometry::band_names())->capture_default_str();
    o->exposure = cmd->add_option("--exposure-ms", o->exposure_ms,
                                  "Exposure of each frame (default: the frame interval of the file's time stamps)");
    cmd->add_option("--aperture", o->aperture,
                    "Radius of the measuring circle in pixels; the sky annulus runs from 2 to 3.5 times it")
        ->capture_default_str();
    cmd->add_option("--out", o->out, "Zero-point file to write (default: STAR_zero_point.json beside the video)");
    cmd->add_flag("--swap-bytes", o->swap_bytes, "The 16-bit samples are stored high byte first");
    return {[o] { return check_calibrate(*o); }, [o] { return run_calibrate(*o); }};
}

} // namespace serflash::cli
