#pragma once
// The brightness of the one star of a star video, frame by frame: aperture photometry with a sky
// annulus, the median over the frames, and the width of its spot from the curve of growth.
#include "photometry/aperture.h"
#include "photometry/zero_point.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <string>

namespace serflash::photometry {

struct star_measurement {
    std::string error;                       // why the star could not be measured; empty when it was
    double x = 0.0, y = 0.0;                 // mean centroid
    double aperture_counts = 0.0;            // median over the frames of the sky-subtracted circle sum
    double aperture_counts_err = 0.0;        // the error of that median
    double psf_sigma_px = 0.0;               // Gaussian width from the curve of growth
    double whole_counts = 0.0;               // aperture_counts / the share of the spot in the circle
    double sky_level = 0.0, sky_sigma = 0.0; // median sky per pixel and its spread
    std::int32_t frames = 0;
};

// Finds the star as the brightest 3 x 3 sum of the first frames' mean (away from the edges by
// the sky annulus) and measures it in every frame present.
star_measurement measure_star(ser::ser_reader& reader, const aperture& a);

// The zero point a measured star of known magnitude gives, each frame exposed exposure_s.
zero_point zero_point_of(const star_measurement& m, const aperture& a, double magnitude, const std::string& band,
                         double exposure_s);

} // namespace serflash::photometry
