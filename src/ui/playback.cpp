#include "ui/playback.h"

#include <algorithm>
#include <cmath>

namespace serflash::ui {
namespace {
constexpr double speeds[] = {1.0, 2.0, 4.0, 8.0, 16.0};
}

std::span<const double> playback_speeds() { return speeds; }

playback_tick playback_timing(double frame_rate, double speed) {
    const double rate = (std::isfinite(frame_rate) && frame_rate > 0.0 ? frame_rate : unknown_frame_rate) *
                        (std::isfinite(speed) && speed > 0.0 ? speed : 1.0);
    const double per_frame_ms = 1000.0 / rate;
    playback_tick t;
    if (per_frame_ms >= shortest_tick_ms) {
        t.interval_ms = static_cast<int>(std::lround(per_frame_ms));
        return t;
    }
    t.frames = static_cast<int>(std::ceil(shortest_tick_ms / per_frame_ms));
    t.interval_ms = static_cast<int>(std::lround(per_frame_ms * t.frames));
    return t;
}

} // namespace serflash::ui
