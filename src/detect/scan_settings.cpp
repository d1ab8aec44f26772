#include "detect/scan_settings.h"

#include <algorithm>
#include <cmath>

namespace serflash::detect {

std::string_view snapshot_format_name(snapshot_format format) {
    switch (format) {
        case snapshot_format::png:
            return "png";
        case snapshot_format::none:
            return "none";
        case snapshot_format::bmp:
            break;
    }
    return "bmp";
}

std::optional<snapshot_format> snapshot_format_named(std::string_view name) {
    for (const snapshot_format f : snapshot_formats)
        if (snapshot_format_name(f) == name) return f;
    return std::nullopt;
}

std::int32_t default_max_det_frames(std::int32_t frames) { return std::min(frames / 100 + 1, 200); }

std::int32_t default_packet_size(std::int32_t frames) { return frames < 200 ? frames : 200; }

std::int32_t default_blue_level(std::int32_t depth) { return depth == 8 ? 0 : 500; }

std::int32_t default_red_level(std::int32_t depth) { return depth == 8 ? 255 : 3800; }

std::int32_t default_brightness(std::int32_t depth, std::int32_t bit_shift) {
    if (depth == 8) return 1000;
    // A shift of 8 brings 16-bit samples to 8 bits, which then need no gain.
    const int shift = std::clamp(bit_shift, 0, 15);
    return static_cast<std::int32_t>(std::pow(2.0, shift - 8) * 1000.0 + 0.5);
}

scan_settings default_settings(std::int32_t frames, std::int32_t depth, std::int32_t bit_shift) {
    scan_settings s;
    s.start_frame = 0;
    s.end_frame = static_cast<std::int32_t>(static_cast<std::int64_t>(frames) - 1);
    s.max_det_frames = default_max_det_frames(frames);
    s.packet_size = default_packet_size(frames);
    s.blue_level = default_blue_level(depth);
    s.red_level = default_red_level(depth);
    s.brightness = default_brightness(depth, bit_shift);
    return s;
}

} // namespace serflash::detect
