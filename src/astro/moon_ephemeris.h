#pragma once
// Where the Moon stands and how it is turned and lit, for a UTC instant, seen from the Earth's
// centre or from a site on its surface.
#include "astro/observing_site.h"

#include <array>
#include <cstdint>
#include <optional>

namespace serflash::astro {

struct moon_ephemeris {
    double ra_deg = 0, dec_deg = 0; // apparent, true equator and equinox of date; topocentric when a site is given
    double distance_km = 0, semidiameter_arcsec = 0;
    double libration_lon_deg = 0, libration_lat_deg = 0; // total: optical + physical
    double axis_pa_deg = 0, bright_limb_pa_deg = 0, illuminated_fraction = 0;
    double sun_colongitude_deg = 0, sun_selenographic_lat_deg = 0;
    bool topocentric = false;

    // The parts of the totals, and what they were computed from.
    double optical_libration_lon_deg = 0, optical_libration_lat_deg = 0;
    double phase_angle_deg = 0;
    double sun_ra_deg = 0, sun_dec_deg = 0, sun_distance_km = 0;
    double delta_t_s = 0; // TT - UT1 used
    double tt_jd = 0;     // the instant as a Julian date in TT
};

// The quantities an ephemeris reports, each by its key, in the order they are written.
struct reported_quantity {
    const char* key;
    double moon_ephemeris::*value;
};
inline constexpr std::array<reported_quantity, 10> reported_quantities{{
    {"ra_deg", &moon_ephemeris::ra_deg},
    {"dec_deg", &moon_ephemeris::dec_deg},
    {"distance_km", &moon_ephemeris::distance_km},
    {"semidiameter_arcsec", &moon_ephemeris::semidiameter_arcsec},
    {"libration_lon_deg", &moon_ephemeris::libration_lon_deg},
    {"libration_lat_deg", &moon_ephemeris::libration_lat_deg},
    {"axis_pa_deg", &moon_ephemeris::axis_pa_deg},
    {"bright_limb_pa_deg", &moon_ephemeris::bright_limb_pa_deg},
    {"illuminated_fraction", &moon_ephemeris::illuminated_fraction},
    {"sun_colongitude_deg", &moon_ephemeris::sun_colongitude_deg},
}};

// utc_ticks: 100-ns ticks since 0001-01-01 UTC, as the SER time stamps count. Throws
// std::domain_error outside the range in_ephemeris_range (astro/time_scales.h) accepts.
moon_ephemeris moon_at(std::int64_t utc_ticks, const std::optional<observing_site>& site);

} // namespace serflash::astro
