#include "astro/observing_site.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <vector>

namespace serflash::astro {

std::optional<observing_site> parse_observing_site(const std::string& text, std::string& error) {
    const std::string not_a_site =
        "\"" + text + "\" is not LAT,LON,HEIGHT_M (three numbers: degrees, degrees east, metres)";
    std::vector<double> parts;
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        double v = 0;
        const char* first = text.data() + start;
        const char* last = text.data() + comma;
        const auto [end, ec] = std::from_chars(first, last, v);
        if (ec != std::errc{} || end != last || first == last || !std::isfinite(v)) {
            error = not_a_site;
            return std::nullopt;
        }
        parts.push_back(v);
        start = comma + 1;
    }
    if (parts.size() != 3) {
        error = not_a_site;
        return std::nullopt;
    }
    observing_site site{parts[0], parts[1], parts[2]};
    if (site.lat_deg < -90.0 || site.lat_deg > 90.0) {
        error = "the latitude must lie in -90..90 degrees";
        return std::nullopt;
    }
    if (site.lon_deg < -180.0 || site.lon_deg > 360.0) {
        error = "the longitude must lie in -180..360 degrees (east positive)";
        return std::nullopt;
    }
    if (site.height_m < -1000.0 || site.height_m > 20000.0) {
        error = "the height must lie in -1000..20000 metres";
        return std::nullopt;
    }
    if (site.lon_deg > 180.0) site.lon_deg -= 360.0;
    return site;
}

} // namespace serflash::astro
