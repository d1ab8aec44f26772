#pragma once
// The physical ephemeris of the Moon from its apparent place and the Sun's, by the formulas of
// J. Meeus, "Astronomical Algorithms" (2nd ed., 1998). Angles in degrees, distances in km.
// Pure functions of their inputs, so that the book's worked examples can be put through them.

namespace serflash::astro {

// The Moon's fundamental arguments (chapter 47): mean elongation D, the Sun's mean anomaly M,
// the Moon's mean anomaly M', argument of latitude F and the mean longitude of its ascending
// node Omega, for T Julian centuries of TT from J2000.0.
struct lunar_arguments {
    double d, m, m_prime, f, omega;
};
lunar_arguments lunar_arguments_at(double t_centuries);

// What one look at the Moon gives: its apparent place seen from somewhere, and the nutation and
// true obliquity of the date.
struct apparent_moon {
    double lambda_deg, beta_deg; // apparent ecliptic longitude and latitude of date
    double ra_deg, dec_deg;      // apparent right ascension and declination
    double distance_km;
    double nutation_lon_deg, obliquity_deg; // delta psi and the true obliquity epsilon
};

struct apparent_sun {
    double lambda_deg, ra_deg, dec_deg; // apparent longitude, right ascension, declination
    double distance_km;
};

struct libration {
    double optical_lon_deg, optical_lat_deg;   // l', b'
    double physical_lon_deg, physical_lat_deg; // l'', b''
    double lon_deg, lat_deg;                   // l, b: the totals
    double rho_deg, sigma_deg, tau_deg;        // the physical libration's own terms
    double axis_pa_deg;                        // P, 0..360
};

// Chapter 53: the librations and the position angle of the axis.
libration libration_at(double t_centuries, const apparent_moon& moon);

// Chapter 53: the Sun's selenographic longitude and latitude (l0, b0) from the geocentric Moon,
// and its colongitude c0 = 90 - l0, in 0..360.
struct sun_selenographic {
    double lon_deg, lat_deg, colongitude_deg;
};
sun_selenographic sun_selenographic_at(double t_centuries, const apparent_moon& geocentric_moon,
                                       const apparent_sun& sun);

// Chapter 48: the phase angle i, the illuminated fraction k and the position angle chi of the
// midpoint of the bright limb (0..360).
struct illumination {
    double elongation_deg, phase_angle_deg, fraction, bright_limb_pa_deg;
};
illumination illumination_of(const apparent_moon& moon, const apparent_sun& sun);

// Chapter 55: the apparent semidiameter, in arc seconds, seen from distance_km.
double semidiameter_arcsec(double distance_km);

// An angle reduced to 0..360.
double degrees_0_360(double a);

} // namespace serflash::astro
