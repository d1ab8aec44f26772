#pragma once
// The luminous energy of an impact flash from its brightness, by the expression the impact-flash
// surveys use (Bellot Rubio et al. 2000; Suggs et al. 2014; Bonanos et al. 2018):
//   E = f pi d^2 dlambda F0 10^(-0.4 m) t,
// f the emission geometry (2: isotropic into the half space above the surface), d the distance
// from the observer, dlambda the band's width, F0 its flux density of magnitude 0, t the time.
#include "photometry/zero_point.h"

namespace serflash::photometry {

// Emission into the half space above the ground.
inline constexpr double hemispherical_emission = 2.0;
// The mean distance of the Moon's centre from the Earth's, for files without a time.
inline constexpr double mean_moon_distance_km = 384400.0;
// The share of the kinetic energy radiated in the band, as the surveys adopt it (the README
// states its use); not applied to energy_j, which is the luminous energy.
inline constexpr double luminous_efficiency = 2.0e-3;

// Joules radiated in the band by a source of magnitude m over t seconds seen at distance_km.
double luminous_energy_j(const band& b, double magnitude, double seconds, double distance_km,
                         double geometry = hemispherical_emission);

} // namespace serflash::photometry
