#include "ui/histogram.h"

#include <algorithm>
#include <cmath>

namespace serflash::ui {

std::optional<display::stretch_levels> levels_in_effect(const level_choice& choice,
                                                        std::span<const std::uint16_t> frame) {
    switch (choice.source) {
        case level_source::automatic:
            return display::frame_levels(frame);
        case level_source::chosen:
            return choice.chosen;
        case level_source::brightness:
            break;
    }
    return std::nullopt;
}

histogram make_histogram(std::span<const std::uint16_t> frame, std::int32_t bits_per_sample, int bins) {
    histogram h;
    // Up to the power of two above the brightest sample (a 16-bit file often holds 12 bits).
    const std::int32_t full = std::int32_t{1} << std::clamp(bits_per_sample, 1, 16);
    std::int32_t brightest = 0;
    for (const std::uint16_t s : frame) brightest = std::max<std::int32_t>(brightest, s);
    h.range = std::min<std::int32_t>(full, 256);
    while (h.range <= brightest && h.range < full) h.range *= 2;
    bins = std::clamp(bins, 1, static_cast<int>(h.range));
    h.counts.assign(static_cast<std::size_t>(bins), 0);
    for (const std::uint16_t s : frame) {
        const std::int64_t bin = std::min<std::int64_t>(std::int64_t{s} * bins / h.range, bins - 1);
        ++h.counts[static_cast<std::size_t>(bin)];
    }
    for (const std::uint32_t c : h.counts) h.largest = std::max(h.largest, c);
    return h;
}

std::vector<double> histogram_bars(const histogram& hist, double h) {
    std::vector<double> bars(hist.counts.size(), 0.0);
    if (hist.largest == 0) return bars;
    const double top = std::log1p(static_cast<double>(hist.largest));
    for (std::size_t i = 0; i < bars.size(); ++i) bars[i] = std::log1p(static_cast<double>(hist.counts[i])) / top * h;
    return bars;
}

double x_of_level(std::int32_t level, std::int32_t range, double w) {
    if (range <= 1) return 0.0;
    return static_cast<double>(level) / static_cast<double>(range - 1) * w;
}

std::int32_t level_at_x(double x, std::int32_t range, double w) {
    if (range <= 1 || !(w > 0.0)) return 0;
    const double v = std::round(x / w * static_cast<double>(range - 1));
    return static_cast<std::int32_t>(std::clamp(v, 0.0, static_cast<double>(range - 1)));
}

level_point nearer_point(double x, const display::stretch_levels& levels, std::int32_t range, double w) {
    const double b = x_of_level(levels.low, range, w), wh = x_of_level(levels.high, range, w);
    return std::abs(x - b) <= std::abs(x - wh) ? level_point::black : level_point::white;
}

display::stretch_levels move_point(display::stretch_levels levels, level_point point, std::int32_t level,
                                   std::int32_t range) {
    const std::int32_t top = std::clamp(range, 2, 65536) - 1;
    level = std::clamp(level, 0, top);
    if (point == level_point::black) {
        levels.low = static_cast<std::uint16_t>(std::min(level, std::max<std::int32_t>(levels.high, 1) - 1));
    } else {
        levels.high = static_cast<std::uint16_t>(std::max(level, std::int32_t{levels.low} + 1));
    }
    return levels;
}

} // namespace serflash::ui
