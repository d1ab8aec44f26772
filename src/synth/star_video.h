#pragma once
// Sources of a known brightness: a star video for the calibration of a set-up, and flashes of
// a given magnitude, for a photometric zero point (the magnitude of one count per second).
#include "synth/synth.h"

#include <string>

namespace serflash::synth {

struct photometric_scale {
    double zero_point = 0.0; // magnitude of one count per second (whole spot)
    double exposure_s = 0.0; // of each frame
};

// Counts in one frame of a source of magnitude m, all of its spot.
double counts_of_magnitude(const photometric_scale& s, double magnitude);

// The peak of a spot of width sigma, drawn as the generator draws it, that holds `counts` in all.
double amplitude_for_counts(double counts, double sigma);

// A star video of base's size, depth, sky and noise: one still star of magnitude m at the
// centre of the frame for every frame, drawn with the flash spot width (a point seen through
// the same optics); no other stars, hot pixels, bright or dark region, flashes or burst.
params star_video_params(params base, const photometric_scale& s, double magnitude);

// Gives every flash of p the amplitude of magnitude m.
void set_flash_magnitudes(params& p, const photometric_scale& s, double magnitude);

// Why the scale or a spot of it cannot be written into p (saturation, nonsense), or empty.
std::string check_brightness(const params& p, const photometric_scale& s);

} // namespace serflash::synth
