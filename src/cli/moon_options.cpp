#include "cli/moon_options.h"

#include <CLI/CLI.hpp>

#include <iostream>

namespace serflash::cli {

void add_moon_options(CLI::App* cmd, moon_cli& m, const std::string& group) {
    cmd->add_option("--site", m.site_text,
                    "LAT,LON,HEIGHT_M: where the video was taken, in degrees (east longitude positive) and metres "
                    "above sea level, for the topocentric ephemeris; without it the geocentric one is used, which "
                    "may be off by up to a degree on the Moon")
        ->group(group);
    cmd->add_option_function<double>(
           "--rotation", [&m](double deg) { m.options.rotation_deg = deg; },
           "DEG: the turn of the image outright, as the angle from the image's up direction to celestial north, "
           "counterclockwise as the image is shown; for frames that show no sunlit limb to measure it from")
        ->group(group);
    cmd->add_flag("--mirror", m.options.mirror, "The optics flip the image (a star diagonal, an odd number of mirrors)")
        ->group(group);
}

bool finish_moon_options(moon_cli& m, const std::string& command) {
    if (m.site_text.empty()) return true;
    std::string error;
    m.options.site = astro::parse_observing_site(m.site_text, error);
    if (!m.options.site) {
        std::cerr << "serflash " << command << ": --site " << m.site_text << ": " << error << "\n";
        return false;
    }
    return true;
}

} // namespace serflash::cli
