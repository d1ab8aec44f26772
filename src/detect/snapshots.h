#pragma once
// Snapshot files: the frame rendered grey with the row's brightness, its listed detections
// boxed, stored as a 32-bit BMP named after the frame count, the threshold and the frame.
#include "detect/records.h"
#include "display/render.h"
#include "platform/file_io.h"

#include <cstdint>
#include <string>

namespace serflash::detect {

// "%s/%04d_t%02d_%06d.bmp"
std::string snapshot_name(const std::string& result_dir, std::int32_t det_frames, std::int32_t threshold,
                          std::int32_t frame);
std::string snapshot_name(const std::string& result_dir, const saved_frame& frame);

// Writes disp as a BMP file (14-byte file header, disp_info, disp_buf).
platform::status write_snapshot(platform::file_system& fs, const std::string& path,
                                const display::display_bitmap& disp);

// The one-pixel outline of the 17 x 17 square around (col, row): blue 0, green 200, red 255.
void draw_detection_box(display::display_bitmap& disp, std::int32_t col, std::int32_t row);

// Boxes the frame's listed detections on disp (the frame already rendered) and writes the
// snapshot.
platform::status write_frame_snapshot(platform::file_system& fs, const std::string& result_dir,
                                      const saved_frame& frame, display::display_bitmap& disp);

} // namespace serflash::detect
