#pragma once
// Playing a file in the image window: how often the frame moves on and by how many frames, at
// the file's frame rate times a speed.
#include <span>

namespace serflash::ui {

// The speeds offered beside the play button.
std::span<const double> playback_speeds();
inline constexpr double unknown_frame_rate = 25.0; // a file without time stamps plays at this rate
inline constexpr int shortest_tick_ms = 20;        // faster rates move on by several frames a tick

struct playback_tick {
    int interval_ms = 40;
    int frames = 1;
};
playback_tick playback_timing(double frame_rate, double speed);

} // namespace serflash::ui
