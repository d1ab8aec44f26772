#pragma once
// The image window's histogram and display levels, free of any toolkit: the counts of a
// frame's samples, the bars drawn for them, and the black and white points the user drags.
// The levels only change what the window shows; snapshots keep the row's Brt.
#include "display/render.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace serflash::ui {

// What the shown frame is stretched with: the row's Brt (as the snapshots), the frame's own
// percentiles ("Auto levels"), or the black and white points chosen on the histogram.
enum class level_source { brightness, automatic, chosen };
struct level_choice {
    level_source source = level_source::automatic;
    display::stretch_levels chosen;
};
// The levels the frame is shown with; nothing when it is shown with the row's Brt.
std::optional<display::stretch_levels> levels_in_effect(const level_choice& choice,
                                                        std::span<const std::uint16_t> frame);

struct histogram {
    std::vector<std::uint32_t> counts; // bins over samples 0 to range - 1
    std::int32_t range = 65536;        // a power of two above the brightest sample, at most the file's
    std::uint32_t largest = 0;         // the fullest bin's count
};
// The range is the least power of two (from 256) above the brightest sample, at most 1 << the
// file's bits per sample; samples at or above it count in the last bin.
histogram make_histogram(std::span<const std::uint16_t> frame, std::int32_t bits_per_sample, int bins = 256);
// Each bin's bar height in a plot h high, on a logarithmic scale (one sample is a short bar).
std::vector<double> histogram_bars(const histogram& hist, double h);

// Between a sample level and an x in a plot w wide.
double x_of_level(std::int32_t level, std::int32_t range, double w);
std::int32_t level_at_x(double x, std::int32_t range, double w);

enum class level_point { black, white };
// The point a press at x takes hold of: the nearer one (black on a tie left of both).
level_point nearer_point(double x, const display::stretch_levels& levels, std::int32_t range, double w);
// The levels with one point moved to `level`, black kept below white and both in the range.
display::stretch_levels move_point(display::stretch_levels levels, level_point point, std::int32_t level,
                                   std::int32_t range);

} // namespace serflash::ui
