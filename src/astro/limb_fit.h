#pragma once
// The lunar limb in an averaged frame, and the way the disk is turned in it.
//
// The limb is the one long circular edge with the bright side toward its centre: the edge between
// the sky and the earthshine, or the sunlit limb. Edge points come from the gradient of the image;
// a circle is chosen among them by random samples (so the terminator, craters, maria and stars,
// which are not on it, do not pull it), then fitted by least squares to the points near it. A
// quarter of the limb is enough.
#include "astro/selenographic.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::astro {

// An averaged frame: samples in any unit, rows top first.
struct grey_image {
    std::int32_t width = 0, height = 0;
    std::vector<float> samples;
    float at(std::int32_t x, std::int32_t y) const {
        return samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)];
    }
};

struct limb_fit {
    bool found = false;
    std::string why_not; // when not found: said plainly
    disk_circle disk;
    std::int32_t points = 0;       // edge points on the fitted circle
    double rms_px = 0;             // of their distances to it
    double arc_deg = 0;            // of the limb the points cover
    std::vector<image_point> limb; // the points fitted (a sample of them, for drawing)
};

limb_fit find_limb(const grey_image& image);

// The image angle of the bright limb's midpoint, from where the disk is sunlit in the image:
// the lit part a turned disk would show at the ephemeris's phase is matched to the lit part seen.
// Not found, and why, also where the lit part in the frame fixes the angle only loosely (its
// boundary running along the limb).
struct bright_limb {
    bool found = false;
    std::string why_not;
    double image_angle_deg = 0;
    double err_deg = 0;
};

bright_limb measure_bright_limb(const grey_image& image, const disk_circle& disk, double cos_phase);

} // namespace serflash::astro
