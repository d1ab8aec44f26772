#pragma once
// The complete parameter set with which one SER file is scanned.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace serflash::detect {

// A corner packed as the panel stores it: x (column) in the low 16 bits, y (row) in the high
// 16 bits, both signed.
using packed_point = std::int32_t;
inline std::int16_t point_x(packed_point p) {
    return static_cast<std::int16_t>(static_cast<std::uint32_t>(p) & 0xFFFFU);
}
inline std::int16_t point_y(packed_point p) {
    return static_cast<std::int16_t>((static_cast<std::uint32_t>(p) >> 16) & 0xFFFFU);
}
inline packed_point pack_point(std::int32_t x, std::int32_t y) {
    return static_cast<packed_point>((static_cast<std::uint32_t>(y) << 16) | (static_cast<std::uint32_t>(x) & 0xFFFFU));
}

struct mask_switches {
    bool red = false;   // "Mask around RED pixels"
    bool blue = false;  // "Mask around BLUE pixels"
    bool stars = false; // "Mask stars"
};

// How each frame with detections is stored in the results folder: a 32-bit BMP, the same pixels
// as a lossless PNG, or no file at all (the frame still counts as saved).
enum class snapshot_format : std::uint8_t { bmp, png, none };
inline constexpr std::array<snapshot_format, 3> snapshot_formats = {snapshot_format::bmp, snapshot_format::png,
                                                                    snapshot_format::none};
// "bmp", "png", "none": the names the command line and the tables use.
std::string_view snapshot_format_name(snapshot_format format);
std::optional<snapshot_format> snapshot_format_named(std::string_view name);

// The initialisers are the control panel's start-up values; the per-file values come from
// default_settings.
struct scan_settings {
    // Per file (the file's row of the scan table).
    std::int32_t start_frame = 0;
    std::int32_t end_frame = 0;
    std::int32_t max_det_frames = 0;
    std::int32_t packet_size = 200;
    std::int32_t blue_level = 500;
    std::int32_t red_level = 3800;
    std::int32_t brightness = 4;
    // For every file (the control panel).
    std::int32_t threshold = 60;
    std::int32_t threshold_step = 3;
    std::int32_t pct_top = 25;
    std::int32_t pct_bottom = 25;
    std::int32_t pct_left = 25;
    std::int32_t pct_right = 25;
    std::array<packed_point, 4> mask_ul{};
    std::array<packed_point, 4> mask_lr{};
    std::int32_t red_mask_half = 10;
    std::int32_t blue_mask_half = 10;
    std::int32_t star_mask_half = 10;
    std::int32_t star_half_width = 10;
    std::int32_t star_threshold = 30;
    std::int32_t scatter_v = 20;
    std::int32_t scatter_h = 100;
    // A frame withdrawn for its scatter is passed over instead of holding the pass there.
    bool continue_after_scatter = false;
    snapshot_format snapshots = snapshot_format::bmp;
    // After the passes, one more over every frame at complete_threshold (tenths of a sigma): it
    // keeps of a scattered frame what stands above its scatter (threshold_above_scatter) and
    // never stops at max_det_frames.
    bool complete = false;
    std::int32_t complete_threshold = 45;

    bool operator==(const scan_settings&) const = default;
};

// The values a scan of a file starts from, the same for the desktop program, the command line,
// the benchmark and the tests: the control panel's start-up values, and the per-file values a
// file gets when it is listed, from the frames it really holds, its sample depth and the bit
// shift in force (kept within 0..15).
scan_settings default_settings(std::int32_t frames, std::int32_t depth, std::int32_t bit_shift);

// The per-file part of default_settings alone (the rest keeps the start-up values).
std::int32_t default_max_det_frames(std::int32_t frames);
std::int32_t default_packet_size(std::int32_t frames);
std::int32_t default_blue_level(std::int32_t depth);
std::int32_t default_red_level(std::int32_t depth);
std::int32_t default_brightness(std::int32_t depth, std::int32_t bit_shift);

} // namespace serflash::detect
