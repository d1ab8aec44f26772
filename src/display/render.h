#pragma once
// Renders a frame of 16-bit samples into the 32-bit top-down display bitmap that the image
// window shows and every snapshot stores.
#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace serflash::display {

// The 40-byte bitmap information header, as stored in every snapshot.
struct bitmap_info {
    std::uint32_t biSize = 0;
    std::int32_t biWidth = 0;
    std::int32_t biHeight = 0;
    std::uint16_t biPlanes = 0;
    std::uint16_t biBitCount = 0;
    std::uint32_t biCompression = 0;
    std::uint32_t biSizeImage = 0;
    std::int32_t biXPelsPerMeter = 0;
    std::int32_t biYPelsPerMeter = 0;
    std::uint32_t biClrUsed = 0;
    std::uint32_t biClrImportant = 0;

    std::array<std::uint8_t, 40> bytes() const; // little-endian
};

struct display_bitmap {
    bitmap_info disp_info;
    std::vector<std::uint8_t> disp_buf; // biSizeImage bytes: blue, green, red, 0 per pixel
    std::int32_t width() const { return disp_info.biWidth; }
    std::int32_t height() const { return -disp_info.biHeight; }
};

struct render_levels {
    std::int32_t brightness = 1000; // gain in thousandths
    std::int32_t blue_level = 0;
    std::int32_t red_level = 65535;
};

// Fills disp_info for W x H and allocates a fresh disp_buf of biSizeImage bytes. Returns false
// (leaving an empty buffer) when the size does not fit or the memory cannot be had.
bool prep_for_display(display_bitmap& bmp, std::int32_t width, std::int32_t height);

// Grey mapping v = s x brightness / 1000 (double), clamped to 0..255 and truncated; with marks,
// samples below blue_level turn pure blue and above red_level pure red. Does nothing to the
// pixels when the bitmap or the frame is smaller than the prepared size. Always asks for a
// repaint (when one is given).
void render_frame(display_bitmap& bmp, std::span<const std::uint16_t> frame_buf, const render_levels& levels,
                  bool marks, const std::function<void()>& repaint = {});

// The 14-byte BMP file header for a bitmap of this information header.
std::array<std::uint8_t, 14> bmp_file_header(const bitmap_info& info);

} // namespace serflash::display
