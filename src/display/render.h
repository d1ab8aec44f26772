#pragma once
// Renders a frame of 16-bit samples into the 32-bit top-down display bitmap that the image
// window shows and every snapshot stores.
#include <array>
#include <cstddef>
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

// The grey level of a sample at a gain of `brightness` thousandths: s x brightness / 1000 in
// double, clamped to 0..255 and truncated. Every picture of a frame is drawn with it.
std::uint8_t grey_level(std::uint16_t sample, std::int32_t brightness);

// grey_level of all 65536 samples at one gain, for drawing many large frames.
class grey_table {
public:
    explicit grey_table(std::int32_t brightness);
    std::uint8_t operator[](std::uint16_t sample) const { return levels_[sample]; }
    // Writes (grey, grey, grey, 0) per sample into out: render_frame without marks.
    void render(const std::uint16_t* samples, std::size_t count, std::uint8_t* out) const;
    // The same for 8-bit samples, as they are stored in the file.
    void render(const std::uint8_t* samples, std::size_t count, std::uint8_t* out) const;

private:
    std::vector<std::uint8_t> levels_;
    bool clamp_only_ = false; // levels_[s] is min(s, 255)
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

// Display levels taken from a frame's own samples: the values at two percentiles of its
// histogram (low <= high; high > low unless every sample is the same).
struct stretch_levels {
    std::uint16_t low = 0;
    std::uint16_t high = 65535;
    friend bool operator==(const stretch_levels&, const stretch_levels&) = default;
};

inline constexpr double auto_low_percentile = 0.5;
inline constexpr double auto_high_percentile = 99.8;

// The samples at low_pct and high_pct percent of the frame's sorted samples (nearest rank).
stretch_levels frame_levels(std::span<const std::uint16_t> frame_buf, double low_pct = auto_low_percentile,
                            double high_pct = auto_high_percentile);

// As render_frame, but the grey is stretched so that `stretch.low` shows black and
// `stretch.high` white; the blue and red marks still compare raw samples with the levels.
void render_frame_stretched(display_bitmap& bmp, std::span<const std::uint16_t> frame_buf, const render_levels& levels,
                            const stretch_levels& stretch, bool marks, const std::function<void()>& repaint = {});

// The least gain in thousandths that shows the sample `high` as full white in render_frame.
std::int32_t brightness_for_high(std::uint16_t high);

// The 14-byte BMP file header for a bitmap of this information header.
std::array<std::uint8_t, 14> bmp_file_header(const bitmap_info& info);

} // namespace serflash::display
