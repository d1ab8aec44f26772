#include "photometry/zero_point.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <limits>

namespace serflash::photometry {
namespace {

// Johnson-Cousins: the flux densities of magnitude 0 from Bessell, Castelli and Plez (1998),
// the effective wavelengths and widths as the impact-flash surveys quote them.
constexpr band bands[] = {
    {"V", 0.545, 0.085, 3.631e-8},
    {"R", 0.641, 0.158, 2.177e-8},
    {"I", 0.798, 0.154, 1.126e-8},
};

constexpr const char* format_name = "serflash-zero-point";

} // namespace

const band* find_band(std::string_view name) {
    for (const band& b : bands)
        if (name == b.name) return &b;
    return nullptr;
}

std::string band_names() {
    std::string out;
    for (const band& b : bands) out += (out.empty() ? "" : ", ") + std::string(b.name);
    return out;
}

std::string zero_point_json(const zero_point& z) {
    const nlohmann::ordered_json doc{{"format", format_name},
                                     {"band", z.band},
                                     {"zero_point_mag", z.magnitude},
                                     {"zero_point_err", z.error},
                                     {"aperture_px", z.aperture_px},
                                     {"sky_inner_px", z.sky_inner_px},
                                     {"sky_outer_px", z.sky_outer_px},
                                     {"psf_sigma_px", z.psf_sigma_px},
                                     {"exposure_s", z.exposure_s},
                                     {"star_magnitude", z.star_magnitude},
                                     {"star_counts_per_s", z.star_counts_per_s},
                                     {"frames_measured", z.frames_measured},
                                     {"source", z.source}};
    return doc.dump(2) + "\n";
}

std::optional<zero_point> parse_zero_point_json(const std::string& text, std::string& error) {
    nlohmann::json doc;
    try {
        doc = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error&) {
        error = "not a zero-point file (not readable JSON)";
        return std::nullopt;
    }
    if (!doc.is_object() || doc.value("format", "") != format_name) {
        error = "not a zero-point file (no \"format\": \"serflash-zero-point\")";
        return std::nullopt;
    }
    zero_point z;
    try {
        z.band = doc.at("band").get<std::string>();
        z.magnitude = doc.at("zero_point_mag").get<double>();
        z.error = doc.at("zero_point_err").get<double>();
        z.aperture_px = doc.at("aperture_px").get<double>();
        z.sky_inner_px = doc.at("sky_inner_px").get<double>();
        z.sky_outer_px = doc.at("sky_outer_px").get<double>();
        z.psf_sigma_px = doc.at("psf_sigma_px").get<double>();
        z.exposure_s = doc.value("exposure_s", 0.0);
        z.star_magnitude = doc.value("star_magnitude", 0.0);
        z.star_counts_per_s = doc.value("star_counts_per_s", 0.0);
        z.frames_measured = doc.value("frames_measured", 0);
        z.source = doc.value("source", "");
    } catch (const nlohmann::json::exception&) {
        error = "a zero-point field is missing or not a number";
        return std::nullopt;
    }
    if (find_band(z.band) == nullptr) {
        error = "band \"" + z.band + "\" is not one of " + band_names();
        return std::nullopt;
    }
    if (!std::isfinite(z.magnitude) || !std::isfinite(z.error) || !(z.aperture_px > 0.0 && z.aperture_px <= 50.0) ||
        !(z.psf_sigma_px >= 0.0 && z.psf_sigma_px <= 50.0) || !(z.sky_inner_px > z.aperture_px) ||
        !(z.sky_outer_px > z.sky_inner_px && z.sky_outer_px <= 100.0)) {
        error =
            "the zero point, the aperture (0..50 px, then the sky annulus beyond it) or the spot width is out "
            "of range";
        return std::nullopt;
    }
    return z;
}

double magnitude_of(const zero_point& z, double counts_per_s) {
    if (!(counts_per_s > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    return z.magnitude - 2.5 * std::log10(counts_per_s);
}

double magnitude_error(double counts, double counts_sigma) {
    if (!(counts > 0.0)) return std::numeric_limits<double>::quiet_NaN();
    return 2.5 / std::log(10.0) * counts_sigma / counts;
}

} // namespace serflash::photometry
