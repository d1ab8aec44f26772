#pragma once
// Where an observation was made: the SER header does not hold it, so the observer gives it.
#include <optional>
#include <string>

namespace serflash::astro {

struct observing_site {
    double lat_deg = 0, lon_deg = 0, height_m = 0; // geodetic (WGS84), east longitude positive
};

// "LAT,LON,HEIGHT_M" (degrees, degrees east, metres above the ellipsoid): the site, or nothing
// and error saying which part is wrong. Latitude -90..90, longitude -180..360 (given back in
// -180..180), height -1000..20000 m.
std::optional<observing_site> parse_observing_site(const std::string& text, std::string& error);

} // namespace serflash::astro
