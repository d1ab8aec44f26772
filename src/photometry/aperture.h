#pragma once
// Aperture photometry on a square patch of a frame: the sum within a circle, the sky in an
// annulus around it, the centroid, and the share of a Gaussian spot a circle holds.
#include <cstdint>
#include <vector>

namespace serflash::photometry {

// A side x side patch of values whose top left sample is frame column `left`, row `top`;
// NaN where the patch lies outside the frame.
struct patch {
    std::int32_t left = 0, top = 0, side = 0;
    std::vector<double> values;
    double at(std::int32_t x, std::int32_t y) const; // frame coordinates; NaN outside the patch
};

// The (2 half + 1)-sided patch centred on column cx, row cy of frame rows [first_row,
// first_row + rows) of a frame `width` samples wide (row-major samples).
patch cut_patch(const std::uint16_t* samples, std::int32_t width, std::int32_t first_row, std::int32_t rows,
                std::int32_t cx, std::int32_t cy, std::int32_t half);

// Radii in pixels: the measuring circle and the sky annulus around it.
struct aperture {
    double radius = 4.0;
    double sky_inner = 8.0, sky_outer = 14.0;
};

// A measuring circle of that radius with its sky annulus from 2 to 3.5 times it.
aperture aperture_of_radius(double radius);

struct circle_sum {
    double sum = 0.0;
    std::int32_t pixels = 0;
    bool complete = true; // no pixel of the circle lay outside the frame
};

// The values whose pixel centres lie within radius of (cx, cy).
circle_sum sum_in_circle(const patch& p, double cx, double cy, double radius);

struct sky {
    double level = 0.0; // median of the annulus
    double sigma = 0.0; // its spread, 1.4826 x the median absolute deviation
    std::int32_t pixels = 0;
};
sky sky_in_annulus(const patch& p, double cx, double cy, double inner, double outer);

// The centroid of the values above `background` within radius of (cx, cy), or (cx, cy) when
// nothing stands above it.
struct point {
    double x = 0.0, y = 0.0;
};
point centroid(const patch& p, double cx, double cy, double radius, double background);

// The share of a circular Gaussian spot of width sigma within radius of its centre.
double gaussian_fraction(double radius, double sigma);

// The Gaussian width whose share within `inner` over its share within `outer` (> inner) is
// `ratio`, found by bisection; NaN when no width gives it (ratio outside (f(inner)/f(outer) at
// the smallest width, 1)).
double gaussian_sigma_from_ratio(double inner, double outer, double ratio);

} // namespace serflash::photometry
