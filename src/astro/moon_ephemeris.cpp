#include "astro/moon_ephemeris.h"

#include "astro/moon_physical.h"
#include "astro/time_scales.h"

#include <erfa.h>
#include <erfam.h>

#include <cmath>
#include <stdexcept>

namespace serflash::astro {
namespace {

constexpr double km_per_au = ERFA_DAU / 1000.0;

struct vec3 {
    double v[3];
};

// Right ascension, declination, ecliptic longitude and latitude of a vector in the true equator
// and equinox of date, and its length in km.
struct place {
    double ra_deg, dec_deg, lambda_deg, beta_deg, distance_km;
};

place place_of(vec3 true_of_date, double obliquity_rad) {
    double ra = 0, dec = 0;
    eraC2s(true_of_date.v, &ra, &dec);
    // The ecliptic of date is the equator turned about the equinox by the true obliquity.
    const double x = true_of_date.v[0];
    const double y = true_of_date.v[1] * std::cos(obliquity_rad) + true_of_date.v[2] * std::sin(obliquity_rad);
    const double z = -true_of_date.v[1] * std::sin(obliquity_rad) + true_of_date.v[2] * std::cos(obliquity_rad);
    return {eraAnp(ra) * ERFA_DR2D, dec * ERFA_DR2D, eraAnp(std::atan2(y, x)) * ERFA_DR2D,
            std::atan2(z, std::hypot(x, y)) * ERFA_DR2D, eraPm(true_of_date.v) * km_per_au};
}

vec3 rotated(double r[3][3], vec3 p) {
    vec3 out{};
    eraRxp(r, p.v, out.v);
    return out;
}

// The site's place in the celestial frame (au), from its place on the rotating Earth.
vec3 site_in_gcrs(const observing_site& site, const time_scales& ts) {
    if (!(site.lat_deg >= -90.0 && site.lat_deg <= 90.0) || !std::isfinite(site.lon_deg) ||
        !std::isfinite(site.height_m))
        throw std::invalid_argument("the observing site's latitude must lie in -90..90 degrees");
    vec3 itrs{};
    if (eraGd2gc(ERFA_WGS84, site.lon_deg * ERFA_DD2R, site.lat_deg * ERFA_DD2R, site.height_m, itrs.v) != 0)
        throw std::invalid_argument("the observing site does not convert to a place on the Earth");
    double c2t[3][3];
    eraC2t06a(ts.tt.day, ts.tt.fraction, ts.ut1.day, ts.ut1.fraction, 0.0, 0.0, c2t);
    vec3 gcrs{};
    eraTrxp(c2t, itrs.v, gcrs.v);
    for (double& c : gcrs.v) c /= ERFA_DAU;
    return gcrs;
}

} // namespace

moon_ephemeris moon_at(std::int64_t utc_ticks, const std::optional<observing_site>& site) {
    const time_scales ts = time_scales_at(utc_ticks);
    const double t = ((ts.tt.day - ERFA_DJ00) + ts.tt.fraction) / ERFA_DJC;

    double npb[3][3];
    eraPnm06a(ts.tt.day, ts.tt.fraction, npb);
    double dpsi = 0, deps = 0;
    eraNut06a(ts.tt.day, ts.tt.fraction, &dpsi, &deps);
    const double obliquity = eraObl06(ts.tt.day, ts.tt.fraction) + deps;

    // The Moon's geocentric place (chapter 47 of Meeus's series, in the celestial frame).
    double moon_pv[2][3];
    eraMoon98(ts.tt.day, ts.tt.fraction, moon_pv);
    const vec3 geocentric{{moon_pv[0][0], moon_pv[0][1], moon_pv[0][2]}};
    vec3 seen = geocentric;
    if (site) {
        const vec3 s = site_in_gcrs(*site, ts);
        for (int k = 0; k < 3; ++k) seen.v[k] -= s.v[k];
    }

    // The Sun: the Earth's heliocentric place reversed, with the annual aberration of its light.
    double pvh[2][3], pvb[2][3];
    eraEpv00(ts.tt.day, ts.tt.fraction, pvh, pvb);
    vec3 sun{{-pvh[0][0], -pvh[0][1], -pvh[0][2]}};
    const double sun_au = eraPm(sun.v);
    for (int k = 0; k < 3; ++k) sun.v[k] = sun.v[k] / sun_au + pvb[1][k] / ERFA_DC;
    const place sp = place_of(rotated(npb, sun), obliquity);

    const auto apparent = [&](const place& p) {
        return apparent_moon{p.lambda_deg,     p.beta_deg,           p.ra_deg, p.dec_deg, p.distance_km,
                             dpsi * ERFA_DR2D, obliquity * ERFA_DR2D};
    };
    const apparent_moon geo = apparent(place_of(rotated(npb, geocentric), obliquity));
    const apparent_moon moon = site ? apparent(place_of(rotated(npb, seen), obliquity)) : geo;
    const apparent_sun sun_place{sp.lambda_deg, sp.ra_deg, sp.dec_deg, sun_au * km_per_au};

    const libration lib = libration_at(t, moon);
    const illumination lit = illumination_of(moon, sun_place);
    // Where the Sun stands over the Moon does not depend on the observer.
    const sun_selenographic subsolar = sun_selenographic_at(t, geo, sun_place);

    moon_ephemeris e;
    e.ra_deg = moon.ra_deg;
    e.dec_deg = moon.dec_deg;
    e.distance_km = moon.distance_km;
    e.semidiameter_arcsec = semidiameter_arcsec(moon.distance_km);
    e.libration_lon_deg = lib.lon_deg;
    e.libration_lat_deg = lib.lat_deg;
    e.axis_pa_deg = lib.axis_pa_deg;
    e.bright_limb_pa_deg = lit.bright_limb_pa_deg;
    e.illuminated_fraction = lit.fraction;
    e.sun_colongitude_deg = subsolar.colongitude_deg;
    e.sun_selenographic_lat_deg = subsolar.lat_deg;
    e.topocentric = site.has_value();
    e.optical_libration_lon_deg = lib.optical_lon_deg;
    e.optical_libration_lat_deg = lib.optical_lat_deg;
    e.phase_angle_deg = lit.phase_angle_deg;
    e.sun_ra_deg = sp.ra_deg;
    e.sun_dec_deg = sp.dec_deg;
    e.sun_distance_km = sun_place.distance_km;
    e.delta_t_s = ts.delta_t_s;
    e.tt_jd = ts.tt.whole();
    return e;
}

} // namespace serflash::astro
