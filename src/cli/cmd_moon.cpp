#include "astro/moon_ephemeris.h"
#include "astro/time_scales.h"
#include "cli/commands.h"
#include "report/match.h"
#include "report/tables.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>

namespace serflash::cli {
namespace {

struct moon_options {
    std::string utc, site_text;
    bool json = false;
    std::int64_t ticks = 0;
    std::optional<astro::observing_site> site;
};

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// "16h53m44.30s" of an angle in degrees.
std::string hours_text(double deg) {
    const double centi = std::round(deg / 15.0 * 360000.0);
    const long long total = static_cast<long long>(centi) % (24LL * 360000);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02lldh%02lldm%05.2fs", total / 360000, total / 6000 % 60,
                  static_cast<double>(total % 6000) / 100.0);
    return buf;
}

void print_text(const moon_options& o, const astro::moon_ephemeris& e) {
    std::cout << "time: " << o.utc << " (TT - UT1 " << fixed(e.delta_t_s, 3) << " s)\n";
    if (o.site)
        std::cout << "seen from: latitude " << fixed(o.site->lat_deg, 5) << ", longitude " << fixed(o.site->lon_deg, 5)
                  << " east, height " << fixed(o.site->height_m, 1) << " m (topocentric)\n";
    else
        std::cout << "seen from: the Earth's centre (geocentric)\n";
    std::cout << "right ascension: " << fixed(e.ra_deg, 6) << " deg (" << hours_text(e.ra_deg) << ")\n"
              << "declination: " << fixed(e.dec_deg, 6) << " deg\n"
              << "distance: " << fixed(e.distance_km, 1) << " km\n"
              << "semi-diameter: " << fixed(e.semidiameter_arcsec, 2) << " arcsec\n"
              << "libration in longitude: " << fixed(e.libration_lon_deg, 3) << " deg\n"
              << "libration in latitude: " << fixed(e.libration_lat_deg, 3) << " deg\n"
              << "position angle of the axis: " << fixed(e.axis_pa_deg, 3) << " deg\n"
              << "position angle of the bright limb: " << fixed(e.bright_limb_pa_deg, 3) << " deg\n"
              << "illuminated fraction: " << fixed(e.illuminated_fraction, 4) << "\n"
              << "Sun's selenographic colongitude: " << fixed(e.sun_colongitude_deg, 3) << " deg\n";
}

int check_moon(moon_options& o) {
    const auto ticks = report::parse_utc(o.utc);
    if (!ticks) {
        std::cerr << "serflash moon: --utc \"" << o.utc << "\" is not a UTC time like 2026-12-08T21:30:00.000Z\n";
        return 2;
    }
    if (!astro::in_ephemeris_range(*ticks)) {
        std::cerr << "serflash moon: --utc " << o.utc << " lies outside 1900-01-01 to 2099-12-31, which the "
                  << "ephemeris serves\n";
        return 2;
    }
    o.ticks = *ticks;
    if (!o.site_text.empty()) {
        std::string error;
        o.site = astro::parse_observing_site(o.site_text, error);
        if (!o.site) {
            std::cerr << "serflash moon: --site: " << error << "\n";
            return 2;
        }
    }
    return 0;
}

} // namespace

command_runner add_moon_command(CLI::App& app) {
    auto o = std::make_shared<moon_options>();
    CLI::App* cmd = app.add_subcommand(
        "moon",
        "Print the Moon's place, librations, orientation and lighting for a UTC time, as seen from the "
        "Earth's centre or from a site");
    cmd->add_option("--utc", o->utc, "The time, UTC: YYYY-MM-DDTHH:MM:SS[.mmm]Z")->required();
    cmd->add_option("--site", o->site_text,
                    "LAT,LON,HEIGHT_M: the observing site (degrees, degrees east, metres above the WGS84 "
                    "ellipsoid); without it the place is geocentric");
    cmd->add_flag("--json", o->json, "Print one JSON object");
    return {[o] { return check_moon(*o); },
            [o] {
                const astro::moon_ephemeris e = astro::moon_at(o->ticks, o->site);
                if (o->json)
                    std::cout << report::ephemeris_json(e).dump(2) << "\n";
                else
                    print_text(*o, e);
                return 0;
            }};
}

} // namespace serflash::cli
