#pragma once
// The photometric zero point of a set-up: the magnitude of a source giving one count per second
// (aperture-corrected, so the whole spot), with the aperture and the spot width it was measured
// with. Written by `serflash calibrate`, read by `serflash scan --zero-point`.
#include <optional>
#include <string>
#include <string_view>

namespace serflash::photometry {

// A photometric band: the constants the luminous energy of a flash is computed with.
struct band {
    const char* name;
    double lambda_um;     // effective wavelength
    double width_um;      // full width at half maximum
    double zero_mag_flux; // flux density of magnitude 0, W m^-2 um^-1
};

// "V", "R", "I" (Johnson-Cousins); null for any other name.
const band* find_band(std::string_view name);
// The names, as "V, R, I".
std::string band_names();

struct zero_point {
    std::string band = "R";
    double magnitude = 0.0; // of one count per second, whole spot
    double error = 0.0;     // of that magnitude
    double aperture_px = 4.0, sky_inner_px = 8.0, sky_outer_px = 14.0;
    double psf_sigma_px = 0.0; // Gaussian width of the star's spot; 0 when unknown (a plain value)
    double exposure_s = 0.0;   // of the star video; 0 when unknown
    double star_magnitude = 0.0;
    double star_counts_per_s = 0.0; // whole spot
    int frames_measured = 0;
    std::string source; // the star video's path, or "value"

    bool from_value() const { return psf_sigma_px <= 0.0; }
};

// The zero point as a JSON document, and back; nothing (and error) when the text is not one.
std::string zero_point_json(const zero_point& z);
std::optional<zero_point> parse_zero_point_json(const std::string& text, std::string& error);

// The magnitude of `counts_per_s` counts per second, whole spot.
double magnitude_of(const zero_point& z, double counts_per_s);
// 1.0857 x the relative error.
double magnitude_error(double counts, double counts_sigma);

} // namespace serflash::photometry
