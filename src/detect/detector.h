#pragma once
// The frame detector: tests every pixel of the inner area of each frame against the packet's
// statistics, boxes the detections, appends their lines to the summary and saves snapshots.
#include "detect/scan_state.h"

#include <cstdint>
#include <string>

namespace serflash::detect {

inline constexpr int max_lines_per_frame = 10;
inline constexpr int box_half = 8; // detection boxes are 17 x 17

// Examines n frames from cur_frame. Returns 1 when det_frames reached max_det_frames with the
// frame just saved (cur_frame stays on that frame), else 0: all n frames examined, n <= 0, a
// frame withdrawn for its scatter (cur_frame stays on it), or the user asked to stop
// (st.outcome.stopped is then set; cur_frame is past the last examined frame).
int detect_in_packet(scan_state& st, std::int32_t n);

// The detection test of one pixel (index i) of frame_buf against the maps.
bool is_detection(const scan_state& st, std::size_t i);

// "%s/%04d_t%02d_%06d.bmp"
std::string snapshot_name(const std::string& result_dir, std::int32_t det_frames, std::int32_t threshold,
                          std::int32_t frame);

// Writes disp as a BMP file (14-byte file header, disp_info, disp_buf). Empty string on
// success, else what failed.
std::string write_snapshot(platform::file_system& fs, const std::string& path, const display::display_bitmap& disp);

// The one-pixel outline of the 17 x 17 square around (col, row): blue 0, green 200, red 255.
void draw_detection_box(display::display_bitmap& disp, std::int32_t col, std::int32_t row);

} // namespace serflash::detect
