#include "photometry/flash_energy.h"

#include <cmath>
#include <numbers>

namespace serflash::photometry {

double luminous_energy_j(const band& b, double magnitude, double seconds, double distance_km, double geometry) {
    const double d_m = distance_km * 1000.0;
    const double flux = b.width_um * b.zero_mag_flux * std::pow(10.0, -0.4 * magnitude); // W m^-2
    return geometry * std::numbers::pi * d_m * d_m * flux * seconds;
}

} // namespace serflash::photometry
