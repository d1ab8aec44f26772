#pragma once
// The work memory of a scan that tests whole frames against their packet's maps (the
// straightforward scan, and the sweeps that test frames as it does), and the steps that fill it:
// the packet statistics, the masks and the stars.
#include "detect/engine_hooks.h"
#include "detect/rules.h"
#include "detect/scan_settings.h"
#include "display/render.h"
#include "ser/ser_reader.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace serflash::detect {

struct packet_buffers {
    std::int32_t width = 0; // of the frames
    std::int32_t height = 0;
    std::vector<std::uint16_t> frame_buf; // the frame under test
    std::vector<double> mean_map;
    std::vector<double> sigma_map; // with the mask value where the masks cover
    std::vector<std::int32_t> star_map;
    // The picture of the frame under test, what the image window shows (the straightforward
    // scan's; the sweeps leave it empty).
    display::display_bitmap disp;

    std::size_t at(std::int32_t row, std::int32_t col) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(width) + static_cast<std::size_t>(col);
    }
};

// Per-pixel mean and sample standard deviation over the packet_size frames from first_frame,
// into the maps of the reader's frame size (frame_buf holds the packet's last frame after it).
// Returns false (after a message through the hooks) when its work arrays cannot be had.
bool compute_packet_stats(packet_buffers& buf, ser::ser_reader& reader, std::int32_t packet_size,
                          std::int32_t first_frame, const engine_hooks& hooks);
// Tells the front end that a packet's work arrays could not be had (either scanner).
void report_no_packet_memory(const engine_hooks& hooks);

// Writes the mask value into sigma_map around bright and dark means, around the stars found in
// the previous packet, and inside the four manual rectangles; then finds this packet's stars.
void apply_masks(packet_buffers& buf, const scan_settings& cfg, const mask_switches& sw);
void mask_square(packet_buffers& buf, std::int32_t row, std::int32_t col, std::int32_t half);
void mask_rect(packet_buffers& buf, packed_point ul, packed_point lr);
int is_star(const packet_buffers& buf, const scan_settings& cfg, std::int32_t row, std::int32_t col);
// The star test on any mean map of w x h (what is_star computes on the buffers' map).
int star_test(const double* mean_map, std::int32_t w, std::int32_t h, const scan_settings& cfg, std::int32_t row,
              std::int32_t col);

} // namespace serflash::detect
