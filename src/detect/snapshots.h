#pragma once
// Snapshot files: the frame rendered grey with the row's brightness, its listed detections
// boxed, stored as a 32-bit BMP (or, when chosen, a PNG of the same pixels, or not at all) named
// after the frame count, the threshold and the frame.
#include "detect/records.h"
#include "detect/scan_settings.h"
#include "display/render.h"
#include "platform/file_io.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace serflash::detect {

// The bytes of a compressed picture file holding the bitmap's pixels, or empty with `error` set.
// The front ends supply one, so that the engine needs no image library.
using picture_encoder = std::function<std::vector<std::uint8_t>(const display::display_bitmap&, std::string& error)>;

// How a scan stores its snapshots: the format, and the encoder that PNG files need.
struct snapshot_output {
    snapshot_format format = snapshot_format::bmp;
    const picture_encoder* png = nullptr;
};

// "%s/%04d_t%02d_%06d.bmp" (".png" for PNG snapshots)
std::string snapshot_name(const std::string& result_dir, std::int32_t det_frames, std::int32_t threshold,
                          std::int32_t frame, snapshot_format format = snapshot_format::bmp);
std::string snapshot_name(const std::string& result_dir, const saved_frame& frame,
                          snapshot_format format = snapshot_format::bmp);

// Writes disp as a BMP file (14-byte file header, disp_info, disp_buf).
platform::status write_snapshot(platform::file_system& fs, const std::string& path,
                                const display::display_bitmap& disp);

// The one-pixel outline of the 17 x 17 square around (col, row): blue 0, green 200, red 255.
void draw_detection_box(display::display_bitmap& disp, std::int32_t col, std::int32_t row);

// Boxes the frame's listed detections on disp (the frame already rendered) and writes the
// snapshot in the output's format (nothing for none).
platform::status write_frame_snapshot(platform::file_system& fs, const std::string& result_dir,
                                      const saved_frame& frame, display::display_bitmap& disp,
                                      const snapshot_output& output = {});

} // namespace serflash::detect
