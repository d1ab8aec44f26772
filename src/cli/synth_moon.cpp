#include "cli/synth_moon.h"

#include "astro/selenographic.h"
#include "astro/observing_site.h"
#include "astro/time_scales.h"
#include "ser/frame_times.h"
#include "synth/moon_scene.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <memory>

namespace serflash::cli {
namespace {

std::vector<std::string> split(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    return parts;
}

bool number(const std::string& s, double& v) {
    try {
        std::size_t used = 0;
        v = std::stod(s, &used);
        return used == s.size() && std::isfinite(v);
    } catch (const std::exception&) {
        return false;
    }
}

bool whole(const std::string& s, std::int32_t& v) {
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    return ec == std::errc{} && end == s.data() + s.size() && !s.empty();
}

} // namespace

bool synth_moon_cli::wanted() const {
    return moon || std::any_of(given.begin(), given.end(), [](const CLI::Option* o) { return o->count() > 0; });
}

void add_synth_moon_options(CLI::App* cmd, synth_moon_cli& m) {
    const std::string group = "The Moon (drawn as the ephemeris shows it; any of these draws it)";
    cmd->add_flag("--moon", m.moon,
                  "Draw the Moon in place of the sky's gradient and the bright and dark regions: its sunlit part, "
                  "earthshine and limb, at the time of frame 0")
        ->group(group);
    m.given = {
        cmd->add_option("--moon-centre", m.centre,
                        "X,Y: the disk's centre in pixels, which may lie outside the frame (default: beyond the "
                        "lower right corner, so that about a quarter of the limb crosses the frame)")
            ->group(group),
        cmd->add_option("--moon-radius", m.radius,
                        "The disk's radius in pixels (default 1.25 x the frame's larger side)")
            ->check(CLI::PositiveNumber)
            ->group(group),
        cmd->add_option("--rotation", m.rotation,
                        "DEG: the angle from the image's up direction to celestial north, counterclockwise as the "
                        "image is shown (default 0: north up)")
            ->group(group),
        cmd->add_flag("--mirror", m.mirror, "Flip the image as a star diagonal does")->group(group),
        cmd->add_option("--site", m.site,
                        "LAT,LON,HEIGHT_M: the observing site (east longitude positive) for the topocentric "
                        "ephemeris; default: the geocentric one")
            ->group(group),
        cmd->add_option("--moon-earthshine", m.earthshine,
                        "Level of the earthshine above the sky, in counts (default 1/8 of the sky level)")
            ->group(group),
        cmd->add_option("--moon-sunlit", m.sunlit,
                        "Level of the sunlit surface above the sky with the Sun overhead, in counts (default: "
                        "two thirds of the way from the sky to the top of the samples)")
            ->group(group),
        cmd->add_option("--albedo-map", m.albedo_map,
                        "Equirectangular albedo map (JPEG) to paint the surface with (default: " +
                            synth::default_albedo_map_path() +
                            ", which the set-up takes out of Debian's stellarium-data; without it a made-up surface "
                            "is drawn)")
            ->group(group),
        cmd->add_option("--flash-at", m.flashes_at,
                        "LAT,LON,FRAME[,AMPLITUDE[,FRAMES]]: a flash at this selenographic latitude and longitude "
                        "(degrees, east positive), as --flash. Repeat for more flashes")
            ->expected(1)
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll)
            ->group(group),
    };
}

bool apply_synth_moon(const synth_moon_cli& m, synth::params& p, std::ostream& out, std::ostream& err) {
    if (!m.wanted()) return true;
    synth::moon_scene_params s;
    s.utc_ticks = p.start_ticks != 0 ? p.start_ticks : p.datetime_utc;
    s.radius = m.radius > 0 ? m.radius : 1.25 * std::max(p.width, p.height);
    // Beyond the lower right, the limb passing a fifth of the radius from the frame's centre.
    s.centre_x = p.width / 2.0 + 0.8 * s.radius * std::sqrt(0.5);
    s.centre_y = p.height / 2.0 + 0.8 * s.radius * std::sqrt(0.5);
    if (!m.centre.empty()) {
        const std::vector<std::string> parts = split(m.centre);
        if (parts.size() != 2 || !number(parts[0], s.centre_x) || !number(parts[1], s.centre_y)) {
            err << "serflash synth: --moon-centre " << m.centre << ": expected X,Y in pixels, as 700,560\n";
            return false;
        }
    }
    if (!m.site.empty()) {
        std::string error;
        s.site = astro::parse_observing_site(m.site, error);
        if (!s.site) {
            err << "serflash synth: --site " << m.site << ": " << error << "\n";
            return false;
        }
    }
    if (!astro::in_ephemeris_range(s.utc_ticks)) {
        err << "serflash synth: the Moon is drawn for the time of frame 0, " << ser::format_utc(s.utc_ticks)
            << ", which the ephemeris does not serve (1900 to 2100)\n";
        return false;
    }
    s.orientation_deg = m.rotation;
    s.mirror = m.mirror;
    const double top = p.depth == 8 ? 255.0 : 4095.0;
    s.sky = p.background;
    s.earthshine = m.earthshine >= 0 ? m.earthshine : p.background / 8.0;
    s.sunlit = m.sunlit >= 0 ? m.sunlit : (top - p.background) * 2.0 / 3.0;

    auto albedo = std::make_shared<synth::moon_albedo>();
    const std::string map = m.albedo_map.empty() ? synth::default_albedo_map_path() : m.albedo_map;
    std::string why;
    if (auto read = synth::moon_albedo::from_jpeg(map, why); read.from_map())
        *albedo = std::move(read);
    else if (!m.albedo_map.empty()) {
        err << "serflash synth: --albedo-map: " << why << "\n";
        return false;
    }
    const auto scene = std::make_shared<const synth::moon_scene>(s, albedo);
    p.scene = scene;
    p.bright_region = false;
    p.dark_region = false;

    const double amplitude_default = p.depth == 8 ? 40.0 : 600.0;
    for (const std::string& text : m.flashes_at) {
        const std::vector<std::string> parts = split(text);
        astro::selenographic_point at;
        synth::flash_spec f;
        f.amplitude = amplitude_default;
        if (parts.size() < 3 || parts.size() > 5 || !number(parts[0], at.lat_deg) || !number(parts[1], at.lon_deg) ||
            !whole(parts[2], f.frame) || (parts.size() >= 4 && !number(parts[3], f.amplitude)) ||
            (parts.size() == 5 && !whole(parts[4], f.frames)) || std::abs(at.lat_deg) > 90.0) {
            err << "serflash synth: --flash-at " << text
                << ": expected LAT,LON,FRAME[,AMPLITUDE[,FRAMES]], for example -12.5,-40.2,15,800\n";
            return false;
        }
        const auto pixel = scene->pixel_of(at);
        if (!pixel) {
            err << "serflash synth: --flash-at " << text << ": that point is on the far side at this time\n";
            return false;
        }
        f.x = static_cast<std::int32_t>(std::lround(pixel->x));
        f.y = static_cast<std::int32_t>(std::lround(pixel->y));
        p.flashes.push_back(f);
    }
    const astro::moon_ephemeris& e = scene->ephemeris();
    out << "moon: centre " << s.centre_x << "," << s.centre_y << ", radius " << s.radius << ", rotation "
        << s.orientation_deg << (s.mirror ? ", mirrored" : "") << ", at " << ser::format_utc(s.utc_ticks)
        << (s.site ? " topocentric" : " geocentric") << ", surface from " << albedo->source() << "\n";
    out << "moon ephemeris: libration " << e.libration_lon_deg << "," << e.libration_lat_deg << ", axis "
        << e.axis_pa_deg << ", bright limb " << e.bright_limb_pa_deg << ", colongitude " << e.sun_colongitude_deg
        << "\n";
    return true;
}

} // namespace serflash::cli
