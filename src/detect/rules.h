#pragma once
// The rules of detection, each written once: both scanners, the masks and the star finder use
// these (the fast scanner's vector kernels are tested against them).
#include "detect/scan_settings.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>

namespace serflash::detect {

// The detector and the automatic masks examine rows and columns [margin, size - margin).
inline constexpr std::int32_t inner_margin = 10;
// Written into sigma_map, it excludes a pixel for one packet: no 16-bit sample can pass.
inline constexpr double mask_value = 65536.0;
// The passes never run below this threshold (tenths of a standard deviation).
inline constexpr std::int32_t lowest_threshold = 45;
// A frame lists and boxes at most this many detections; more than this many may be a scatter.
inline constexpr int max_lines_per_frame = 10;
// Detection boxes are 2 x 8 + 1 pixels square.
inline constexpr int box_half = 8;

inline bool in_inner_area(std::int32_t row, std::int32_t col, std::int32_t w, std::int32_t h) {
    return row >= inner_margin && row < h - inner_margin && col >= inner_margin && col < w - inner_margin;
}

// The main test: sample x 10 > threshold x sigma + mean x 10 (NaN compares false), written as
// a bound that depends on the pixel's statistics alone and the sample's side against it.
inline double main_test_bound(double mean, double sigma, std::int32_t threshold) {
    return static_cast<double>(threshold) * sigma + mean * 10.0;
}
inline bool passes_bound(double sample, double bound) { return sample * 10.0 > bound; }
inline bool main_test(double sample, double mean, double sigma, std::int32_t threshold) {
    return passes_bound(sample, main_test_bound(mean, sigma, threshold));
}

// Smallest 16-bit sample that passes the main test at `threshold` against (mean, sigma), minus
// one: sample > limit exactly when the test holds. 65535 when no sample passes.
inline std::uint16_t sample_limit(double mean, double sigma, std::int32_t threshold) {
    const double bound = main_test_bound(mean, sigma, threshold);
    if (!(bound == bound) || !passes_bound(65535.0, bound)) return 65535; // NaN, or no 16-bit sample passes
    // bound >= 0 here (mean >= 0, sigma >= 0): start near bound / 10 and settle on the exact test.
    auto first = static_cast<std::int64_t>(std::max(0.0, bound / 10.0));
    while (first > 0 && passes_bound(static_cast<double>(first - 1), bound)) --first;
    while (!passes_bound(static_cast<double>(first), bound)) ++first;
    return static_cast<std::uint16_t>(std::max<std::int64_t>(first - 1, 0));
}

// A pixel's statistics over the frames of one packet from the exact sums of its samples and of
// their squares: mean = S / n; var = (Q - (n x mean) x mean) / (n - 1); sigma = sqrt(var).
struct pixel_moments {
    double mean;
    double sigma;
};
inline pixel_moments packet_moments(double sum, double sum_sq, double n, double n_less_one) {
    const double mean = sum / n;
    const double var = (sum_sq - (n * mean) * mean) / n_less_one;
    return {mean, std::sqrt(var)};
}

// A neighbour's rise above its own mean must be at least pct percent of the centre's rise.
inline bool neighbour_test(double sample, double mean, double centre_rise, std::int32_t pct) {
    return (sample - mean) / centre_rise * 100.0 >= static_cast<double>(pct);
}

// The star rule on the packet mean map: the centre stands above the mean of the k ring pixels
// (sum, sum_sq) by more than star_threshold / 10 of their standard deviation, and each of the
// four neighbours (0 left, 1 right, 2 up, 3 down; neighbour_mean(n)) rises by its percentage
// of the centre's rise. Fewer than two ring pixels make no star.
template <class NeighbourMean>
bool star_rule(const scan_settings& cfg, std::int32_t k, double sum, double sum_sq, double centre,
               NeighbourMean neighbour_mean) {
    if (k < 2) return false;
    const double kd = static_cast<double>(k);
    const double avg = sum / kd;
    const double sd = std::sqrt((sum_sq - (kd * avg) * avg) / static_cast<double>(k - 1));
    const double a = centre - avg;
    if (!(a > sd * static_cast<double>(cfg.star_threshold) / 10.0)) return false;
    const std::int32_t pct[4] = {cfg.pct_left, cfg.pct_right, cfg.pct_top, cfg.pct_bottom};
    for (int n = 0; n < 4; ++n)
        if (!neighbour_test(neighbour_mean(n), avg, a, pct[n])) return false;
    return true;
}

// The automatic masks' marks: a mean above the red level or below the blue level.
inline bool red_marked(double mean, const scan_settings& cfg) { return mean > static_cast<double>(cfg.red_level); }
inline bool blue_marked(double mean, const scan_settings& cfg) { return mean < static_cast<double>(cfg.blue_level); }

// A manual mask rectangle given by two corners, each clamped into the image: the columns
// [x0, x1] and rows [y0, y1] it covers.
struct pixel_rect {
    std::int32_t x0, x1, y0, y1;
};
inline pixel_rect rect_bounds(packed_point ul, packed_point lr, std::int32_t w, std::int32_t h) {
    const auto clamp_to = [](std::int32_t v, std::int32_t size) {
        if (v < 0) v = 0;
        if (v >= size) v = size - 1;
        return v;
    };
    const std::int32_t x_ul = clamp_to(point_x(ul), w), y_ul = clamp_to(point_y(ul), h);
    const std::int32_t x_lr = clamp_to(point_x(lr), w), y_lr = clamp_to(point_y(lr), h);
    return {std::min(x_ul, x_lr), std::max(x_ul, x_lr), std::min(y_ul, y_lr), std::max(y_ul, y_lr)};
}

// Truncation toward zero of a statistic for the detection line, defined for any double.
inline std::int32_t truncate_to_int(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

// Counters are 32-bit as in the summary; they wrap instead of overflowing.
inline std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// The rows and columns the detections of one frame cover.
struct hit_extent {
    std::int32_t min_row = 9999, max_row = -9999, min_col = 9999, max_col = -9999;
    void widen(std::int32_t row, std::int32_t col) {
        if (row < min_row) min_row = row;
        if (row > max_row) max_row = row;
        if (col < min_col) min_col = col;
        if (col > max_col) max_col = col;
    }
    std::int64_t row_span() const { return std::int64_t{max_row} - min_row; }
    std::int64_t col_span() const { return std::int64_t{max_col} - min_col; }
};

// The scatter rule: a frame with more than ten detections spread further than the limits is
// a disturbance (seeing, a cloud, a shower of cosmic rays), not a flash.
inline bool is_scattered(std::int32_t count, const hit_extent& e, const scan_settings& cfg) {
    return count > max_lines_per_frame && (e.row_span() > cfg.scatter_v || e.col_span() > cfg.scatter_h);
}

} // namespace serflash::detect
