#include "astro/moon_physical.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace serflash::astro {
namespace {

constexpr double rad = std::numbers::pi / 180.0;
// Inclination of the mean lunar equator to the ecliptic (chapter 53).
constexpr double inclination_deg = 1.54242;

double sind(double a) { return std::sin(a * rad); }
double cosd(double a) { return std::cos(a * rad); }
double atan2d(double y, double x) { return std::atan2(y, x) / rad; }
double asind(double v) { return std::asin(v) / rad; }

struct optical {
    double a_deg, lon_deg, lat_deg;
};

// Chapter 53, the optical libration of a body at ecliptic (lambda, beta) seen against the mean
// lunar equator: W, A, l' and b'. lambda is the longitude free of nutation.
optical optical_libration(double lambda_mean_deg, double beta_deg, const lunar_arguments& a) {
    const double w = lambda_mean_deg - a.omega;
    const double ci = cosd(inclination_deg), si = sind(inclination_deg);
    const double big_a = atan2d(sind(w) * cosd(beta_deg) * ci - sind(beta_deg) * si, cosd(w) * cosd(beta_deg));
    double lon = degrees_0_360(big_a - a.f);
    if (lon > 180.0) lon -= 360.0;
    const double lat = asind(-sind(w) * cosd(beta_deg) * si - sind(beta_deg) * ci);
    return {big_a, lon, lat};
}

struct physical_terms {
    double rho, sigma, tau;
};

// Chapter 53, the three series of the physical libration (degrees).
physical_terms physical_terms_at(double t, const lunar_arguments& a) {
    const double e = 1.0 - 0.002516 * t - 0.0000074 * t * t;
    const double k1 = 119.75 + 131.849 * t;
    const double k2 = 72.56 + 20.186 * t;
    const double mp = a.m_prime, f = a.f, d = a.d, m = a.m;
    const double rho = -0.02752 * cosd(mp) - 0.02245 * sind(f) + 0.00684 * cosd(mp - 2 * f) - 0.00293 * cosd(2 * f) -
                       0.00085 * cosd(2 * f - 2 * d) - 0.00054 * cosd(mp - 2 * d) - 0.00020 * sind(mp + f) -
                       0.00020 * cosd(mp + 2 * f) - 0.00020 * cosd(mp - f) + 0.00014 * cosd(mp + 2 * f - 2 * d);
    const double sigma = -0.02816 * sind(mp) + 0.02244 * cosd(f) - 0.00682 * sind(mp - 2 * f) - 0.00279 * sind(2 * f) -
                         0.00083 * sind(2 * f - 2 * d) + 0.00069 * sind(mp - 2 * d) + 0.00040 * cosd(mp + f) -
                         0.00025 * sind(2 * mp) - 0.00023 * sind(mp + 2 * f) + 0.00020 * cosd(mp - f) +
                         0.00019 * sind(mp - f) + 0.00013 * sind(mp + 2 * f - 2 * d) - 0.00010 * cosd(mp - 3 * f);
    const double tau = 0.02520 * e * sind(m) + 0.00473 * sind(2 * mp - 2 * f) - 0.00467 * sind(mp) +
                       0.00396 * sind(k1) + 0.00276 * sind(2 * mp - 2 * d) + 0.00196 * sind(a.omega) -
                       0.00183 * cosd(mp - f) + 0.00115 * sind(mp - 2 * d) - 0.00096 * sind(mp - d) +
                       0.00046 * sind(2 * f - 2 * d) - 0.00039 * sind(mp - f) - 0.00032 * sind(mp - m - d) +
                       0.00027 * sind(2 * mp - m - 2 * d) + 0.00023 * sind(k2) - 0.00014 * sind(2 * d) +
                       0.00014 * cosd(2 * mp - 2 * f) - 0.00012 * sind(mp - 2 * f) - 0.00012 * sind(2 * mp) +
                       0.00011 * sind(2 * mp - 2 * m - 2 * d);
    return {rho, sigma, tau};
}

struct total {
    double lon_deg, lat_deg, physical_lon_deg, physical_lat_deg;
};

// Chapter 53: l = l' + l'', b = b' + b''.
total with_physical(const optical& o, const physical_terms& p) {
    const double pl = -p.tau + (p.rho * cosd(o.a_deg) + p.sigma * sind(o.a_deg)) * std::tan(o.lat_deg * rad);
    const double pb = p.sigma * cosd(o.a_deg) - p.rho * sind(o.a_deg);
    return {o.lon_deg + pl, o.lat_deg + pb, pl, pb};
}

} // namespace

double degrees_0_360(double a) {
    const double r = std::fmod(a, 360.0);
    return r < 0.0 ? r + 360.0 : r;
}

lunar_arguments lunar_arguments_at(double t) {
    const double t2 = t * t, t3 = t2 * t, t4 = t3 * t;
    // Chapter 47, equations 47.2 to 47.5, and 47.7 for the node.
    return {degrees_0_360(297.8501921 + 445267.1114034 * t - 0.0018819 * t2 + t3 / 545868.0 - t4 / 113065000.0),
            degrees_0_360(357.5291092 + 35999.0502909 * t - 0.0001536 * t2 + t3 / 24490000.0),
            degrees_0_360(134.9633964 + 477198.8675055 * t + 0.0087414 * t2 + t3 / 69699.0 - t4 / 14712000.0),
            degrees_0_360(93.2720950 + 483202.0175233 * t - 0.0036539 * t2 - t3 / 3526000.0 + t4 / 863310000.0),
            degrees_0_360(125.0445479 - 1934.1362891 * t + 0.0020754 * t2 + t3 / 467441.0 - t4 / 60616000.0)};
}

libration libration_at(double t, const apparent_moon& moon) {
    const lunar_arguments a = lunar_arguments_at(t);
    const optical o = optical_libration(moon.lambda_deg - moon.nutation_lon_deg, moon.beta_deg, a);
    const physical_terms p = physical_terms_at(t, a);
    const total l = with_physical(o, p);

    // The position angle of the axis (chapter 53).
    const double v = a.omega + moon.nutation_lon_deg + p.sigma / sind(inclination_deg);
    const double x = sind(inclination_deg + p.rho) * sind(v);
    const double y = sind(inclination_deg + p.rho) * cosd(v) * cosd(moon.obliquity_deg) -
                     cosd(inclination_deg + p.rho) * sind(moon.obliquity_deg);
    const double omega = atan2d(x, y);
    const double pa = asind(std::sqrt(x * x + y * y) * cosd(moon.ra_deg - omega) / cosd(l.lat_deg));

    return {o.lon_deg, o.lat_deg, l.physical_lon_deg, l.physical_lat_deg, l.lon_deg, l.lat_deg, p.rho,
            p.sigma,   p.tau,     degrees_0_360(pa)};
}

sun_selenographic sun_selenographic_at(double t, const apparent_moon& moon, const apparent_sun& sun) {
    // The heliocentric place of the Moon, then the same reduction as for the Earth (chapter 53).
    const double ratio = moon.distance_km / sun.distance_km;
    const double lambda_h =
        sun.lambda_deg + 180.0 +
        ratio * (180.0 / std::numbers::pi) * cosd(moon.beta_deg) * sind(sun.lambda_deg - moon.lambda_deg);
    const double beta_h = ratio * moon.beta_deg;
    const lunar_arguments a = lunar_arguments_at(t);
    const optical o = optical_libration(lambda_h - moon.nutation_lon_deg, beta_h, a);
    const total l = with_physical(o, physical_terms_at(t, a));
    return {l.lon_deg, l.lat_deg, degrees_0_360(90.0 - l.lon_deg)};
}

illumination illumination_of(const apparent_moon& moon, const apparent_sun& sun) {
    // Chapter 48, equations 48.2, 48.3, 48.1 and 48.5.
    const double cos_psi = sind(sun.dec_deg) * sind(moon.dec_deg) +
                           cosd(sun.dec_deg) * cosd(moon.dec_deg) * cosd(sun.ra_deg - moon.ra_deg);
    const double psi = std::acos(std::clamp(cos_psi, -1.0, 1.0)) / rad;
    const double i = atan2d(sun.distance_km * sind(psi), moon.distance_km - sun.distance_km * cos_psi);
    const double chi = atan2d(cosd(sun.dec_deg) * sind(sun.ra_deg - moon.ra_deg),
                              sind(sun.dec_deg) * cosd(moon.dec_deg) -
                                  cosd(sun.dec_deg) * sind(moon.dec_deg) * cosd(sun.ra_deg - moon.ra_deg));
    return {psi, i, (1.0 + cosd(i)) / 2.0, degrees_0_360(chi)};
}

double semidiameter_arcsec(double distance_km) { return 358473400.0 / distance_km; }

} // namespace serflash::astro
