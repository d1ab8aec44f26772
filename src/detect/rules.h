#pragma once
// The rules of detection, each written once: both scanners, the masks and the star finder use
// these (the fast scanner's vector kernels are tested against them).
#include "detect/scan_settings.h"

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

// The main test: sample x 10 > threshold x sigma + mean x 10 (NaN compares false).
inline bool main_test(double sample, double mean, double sigma, std::int32_t threshold) {
    return sample * 10.0 > static_cast<double>(threshold) * sigma + mean * 10.0;
}

// A neighbour's rise above its own mean must be at least pct percent of the centre's rise.
inline bool neighbour_test(double sample, double mean, double centre_rise, std::int32_t pct) {
    return (sample - mean) / centre_rise * 100.0 >= static_cast<double>(pct);
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
