#include "ui/setting_table.h"

#include "ui/control_ids.h"
#include "ui/dialog_fields.h"
#include "ui/scan_table.h"

#include "astro/observing_site.h"

#include <charconv>
#include <cmath>

namespace serflash::ui {
namespace {

using detect::scan_settings;
using g = setting_group;
using h = setting_home;
constexpr std::int32_t sample_max = 65535;

std::string site_problem(const std::string& text) {
    if (text.find_first_not_of(" \t") == std::string::npos) return {};
    std::string error;
    return astro::parse_observing_site(text, error) ? std::string{} : "Site " + text + ": " + error;
}

std::string rotation_problem(const std::string& text) {
    if (text.find_first_not_of(" \t") == std::string::npos) return {};
    std::string error;
    return parse_rotation(text, error) ? std::string{} : error;
}

} // namespace

const std::array<setting_rule, 22> scan_setting_table = {{
    {h::field, id::INITIAL_THRESHOLD, &scan_settings::threshold, "Initial threshold", "--threshold", g::detection, 45,
     10000,
     "Initial threshold in tenths of a standard deviation: a pixel is a flash when it lies this far above its own "
     "average over the packet; 60 means 6.0 sigma. Later passes lower it by the step down to 45"},
    {h::field, id::THRESHOLD_STEP, &scan_settings::threshold_step, "Threshold step", "--step", g::detection, 1, 1000,
     "Threshold step in tenths of a standard deviation, by which each new pass lowers the threshold (or raises it "
     "when the first pass finds too many frames with detections)"},
    {h::field, id::PCT_TOP, &scan_settings::pct_top, "T (the pixel above)", "--top", g::detection, 0, 100,
     "Percent of the centre's rise that the pixel above must also rise: flashes are a few pixels wide, noise spikes "
     "are single pixels"},
    {h::field, id::PCT_BOTTOM, &scan_settings::pct_bottom, "B (the pixel below)", "--bottom", g::detection, 0, 100,
     "Likewise for the pixel below, in percent"},
    {h::field, id::PCT_LEFT, &scan_settings::pct_left, "L (the pixel to the left)", "--left", g::detection, 0, 100,
     "Likewise for the pixel to the left, in percent"},
    {h::field, id::PCT_RIGHT, &scan_settings::pct_right, "R (the pixel to the right)", "--right", g::detection, 0, 100,
     "Likewise for the pixel to the right, in percent"},
    {h::field, id::SCATTER_V, &scan_settings::scatter_v, "Scatter x (rows)", "--scatter-v", g::detection, 0, sample_max,
     "A frame with more than 10 detections is kept only when they span at most this many rows (otherwise it is "
     "taken as a disturbance such as seeing or a passing cloud, and the frame is passed over)"},
    {h::field, id::SCATTER_H, &scan_settings::scatter_h, "Scatter y (columns)", "--scatter-h", g::detection, 0,
     sample_max, "Likewise, the largest span in columns"},
    {h::option, 0, &scan_settings::complete_threshold, "Threshold of the pass over every frame", "--complete-threshold",
     g::detection, 45, 10000,
     "Threshold of the pass over every frame that --complete adds, in tenths of a standard deviation"},
    {h::field, id::RED_MASK_HALF, &scan_settings::red_mask_half, "Half size of the RED masks", "--red-mask-size",
     g::masks, 0, sample_max, "Half width and height of the square masked around each bright pixel"},
    {h::field, id::BLUE_MASK_HALF, &scan_settings::blue_mask_half, "Half size of the BLUE masks", "--blue-mask-size",
     g::masks, 0, sample_max, "Half width and height of the square masked around each dark pixel"},
    {h::field, id::STAR_THRESHOLD, &scan_settings::star_threshold, "Threshold for stars", "--star-threshold", g::masks,
     0, 10000, "How far a star must stand out from the ring around it, in tenths of the ring's standard deviation"},
    {h::field, id::STAR_HALF_WIDTH, &scan_settings::star_half_width, "Half width of a stellar image",
     "--star-half-width", g::masks, 0, sample_max,
     "Radius in pixels of the ring around a star image against which it is measured"},
    {h::field, id::STAR_MASK_HALF, &scan_settings::star_mask_half, "Half size of the star masks", "--star-mask-size",
     g::masks, 0, sample_max, "Half width and height of the square masked around each star pixel"},
    {h::field, id::BIT_SHIFT, nullptr, "bit shift", "--bit-shift", g::per_file, 0, 15,
     "Shift 16-bit samples right by this many bits as they are read; also sets the default brightness (default 0)"},
    {h::column, col_start, &scan_settings::start_frame, "start", "--start", g::per_file, 0, any_count,
     "First frame to scan, counted from 0 (default 0)"},
    {h::column, col_stop, &scan_settings::end_frame, "stop", "--stop", g::per_file, 0, any_count,
     "Last frame to scan (default: the file's last frame)"},
    {h::column, col_max, &scan_settings::max_det_frames, "Max", "--max", g::per_file, 1, any_count,
     "Frames with detections after which the lowering of the threshold stops (default: frames / 100 + 1, at most "
     "200)"},
    {h::column, col_pack, &scan_settings::packet_size, "pack.", "--pack", g::per_file, 1, any_count,
     "Frames per packet: each pixel's average and standard deviation are taken over this many frames (default 200, "
     "or all frames of a shorter file)"},
    {h::column, col_blue, &scan_settings::blue_level, "BLUE", "--blue", g::per_file, 0, sample_max,
     "BLUE level: averages below it are masked by the BLUE mask and samples below it show blue (default 500, 8-bit "
     "0)"},
    {h::column, col_red, &scan_settings::red_level, "RED", "--red", g::per_file, 0, sample_max,
     "RED level: averages above it are masked by the RED mask and samples above it show red (default 3800, 8-bit "
     "255)"},
    {h::column, col_brt, &scan_settings::brightness, "Brt", "--brightness", g::per_file, 1, 1000000,
     "Brightness: the gain of the display and the snapshots in thousandths (default 1000 for 8-bit files, else set "
     "by the bit shift: 4 at shift 0, 1000 at shift 8)"},
}};

const std::array<setup_rule, 3> setup_setting_table = {{
    {id::SITE, "Site", "--site",
     "LAT,LON,HEIGHT_M: where the video was taken, in degrees (east longitude positive) and metres above sea "
     "level, for the topocentric ephemeris; without it the geocentric one is used, which may be off by up to a "
     "degree on the Moon",
     site_problem},
    {id::ROTATION, "Rotation", "--rotation",
     "DEG: the turn of the image outright, as the angle from the image's up direction to celestial north, "
     "counterclockwise as the image is shown; for frames that show no sunlit limb to measure it from",
     rotation_problem},
    {id::MIRROR, "Mirrored image", "--mirror", "The optics flip the image (a star diagonal, an odd number of mirrors)",
     nullptr},
}};

const setup_rule* setup_for_field(int control_id) {
    for (const setup_rule& s : setup_setting_table)
        if (s.place == control_id) return &s;
    return nullptr;
}

std::optional<double> parse_rotation(const std::string& text, std::string& error) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    double v = 0;
    if (first != std::string::npos) {
        const char* end = text.data() + last + 1;
        const auto [at, ec] = std::from_chars(text.data() + first, end, v);
        if (ec == std::errc() && at == end && std::isfinite(v)) return v;
    }
    error = "Rotation must be a number of degrees, not \"" + text + "\"";
    return std::nullopt;
}

const setting_rule* setting_for_field(int control_id) {
    for (const setting_rule& s : scan_setting_table)
        if (s.home == setting_home::field && s.place == control_id) return &s;
    return nullptr;
}

const setting_rule* setting_for_column(int column) {
    for (const setting_rule& s : scan_setting_table)
        if (s.home == setting_home::column && s.place == column) return &s;
    return nullptr;
}

std::string allowed_values(const setting_rule& rule) {
    if (rule.max == any_count) return "a whole number of at least " + std::to_string(rule.min);
    return "a whole number from " + std::to_string(rule.min) + " to " + std::to_string(rule.max);
}

std::string value_problem(const setting_rule& rule, const std::string& text) {
    std::int64_t v = 0;
    if (!parse_dialog_int(text, true, v)) {
        const std::string shown = text.empty() ? "nothing" : "\"" + text + "\"";
        return std::string(rule.name) + " must be " + allowed_values(rule) + ", not " + shown;
    }
    if (v < rule.min || v > rule.max)
        return std::string(rule.name) + " must be " + allowed_values(rule) + ", not " + std::to_string(v);
    return {};
}

} // namespace serflash::ui
