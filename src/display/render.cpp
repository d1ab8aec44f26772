#include "display/render.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <new>

namespace serflash::display {
namespace {

void put_u16(std::uint8_t* p, std::uint16_t v) {
    p[0] = static_cast<std::uint8_t>(v & 0xFFU);
    p[1] = static_cast<std::uint8_t>(v >> 8);
}
void put_u32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>((v >> (8 * i)) & 0xFFU);
}
void put_i32(std::uint8_t* p, std::int32_t v) { put_u32(p, static_cast<std::uint32_t>(v)); }

} // namespace

std::array<std::uint8_t, 40> bitmap_info::bytes() const {
    std::array<std::uint8_t, 40> b{};
    put_u32(&b[0], biSize);
    put_i32(&b[4], biWidth);
    put_i32(&b[8], biHeight);
    put_u16(&b[12], biPlanes);
    put_u16(&b[14], biBitCount);
    put_u32(&b[16], biCompression);
    put_u32(&b[20], biSizeImage);
    put_i32(&b[24], biXPelsPerMeter);
    put_i32(&b[28], biYPelsPerMeter);
    put_u32(&b[32], biClrUsed);
    put_u32(&b[36], biClrImportant);
    return b;
}

std::array<std::uint8_t, 14> bmp_file_header(const bitmap_info& info) {
    std::array<std::uint8_t, 14> h{};
    h[0] = 'B';
    h[1] = 'M';
    put_u32(&h[2], 54U + info.biSizeImage);
    put_u32(&h[10], 54U);
    return h;
}

bool prep_for_display(display_bitmap& bmp, std::int32_t width, std::int32_t height) {
    bmp.disp_buf = {};
    bmp.disp_info = bitmap_info{};
    bmp.disp_info.biSize = 40;
    bmp.disp_info.biWidth = width;
    bmp.disp_info.biHeight = -height;
    bmp.disp_info.biPlanes = 1;
    bmp.disp_info.biBitCount = 32;
    bmp.disp_info.biCompression = 0;
    bmp.disp_info.biXPelsPerMeter = 3704;
    bmp.disp_info.biYPelsPerMeter = 3704;
    // The image size must fit the header's 32-bit field and the file's 32-bit size field.
    const std::int64_t bytes = std::int64_t{width} * std::int64_t{height} * 4;
    if (width <= 0 || height <= 0 || bytes > std::int64_t{0xFFFFFFFF} - 54) {
        bmp.disp_info.biSizeImage = 0;
        return width >= 0 && height >= 0 && bytes == 0;
    }
    try {
        bmp.disp_buf.resize(static_cast<std::size_t>(bytes));
    } catch (const std::bad_alloc&) {
        bmp.disp_info.biSizeImage = 0;
        return false;
    }
    bmp.disp_info.biSizeImage = static_cast<std::uint32_t>(bytes);
    return true;
}

namespace {

std::size_t frame_pixels(const display_bitmap& bmp, std::span<const std::uint16_t> frame_buf) {
    const std::int32_t w = bmp.width();
    const std::int32_t h = bmp.height();
    const std::size_t pixels = (w > 0 && h > 0) ? static_cast<std::size_t>(w) * static_cast<std::size_t>(h) : 0;
    return (pixels > 0 && bmp.disp_buf.size() >= pixels * 4 && frame_buf.size() >= pixels) ? pixels : 0;
}

void put_pixel(std::uint8_t* px, std::uint16_t s, std::uint8_t g, const render_levels& levels, bool marks) {
    std::uint8_t b = g, gr = g, r = g;
    if (marks) {
        if (s < levels.blue_level) {
            b = 255;
            gr = 0;
            r = 0;
        }
        if (s > levels.red_level) {
            b = 0;
            gr = 0;
            r = 255;
        }
    }
    px[0] = b;
    px[1] = gr;
    px[2] = r;
    px[3] = 0;
}

} // namespace

stretch_levels frame_levels(std::span<const std::uint16_t> frame_buf, double low_pct, double high_pct) {
    if (frame_buf.empty()) return {};
    std::vector<std::uint32_t> histogram(65536, 0);
    for (const std::uint16_t s : frame_buf) ++histogram[s];
    const auto n = static_cast<double>(frame_buf.size());
    const auto rank = [n](double pct) {
        // The small allowance keeps a rank such as 99.8% of 1000 at 998 despite rounding.
        const double r = std::ceil(std::clamp(pct, 0.0, 100.0) * n / 100.0 - 1e-7);
        return static_cast<std::uint64_t>(std::max(r, 1.0));
    };
    const auto sample_at = [&histogram](std::uint64_t wanted) {
        std::uint64_t seen = 0;
        for (std::size_t v = 0; v < histogram.size(); ++v) {
            seen += histogram[v];
            if (seen >= wanted) return static_cast<std::uint16_t>(v);
        }
        return std::uint16_t{65535};
    };
    stretch_levels out{sample_at(rank(low_pct)), sample_at(rank(high_pct))};
    if (out.high < out.low) std::swap(out.low, out.high);
    return out;
}

void render_frame_stretched(display_bitmap& bmp, std::span<const std::uint16_t> frame_buf, const render_levels& levels,
                            const stretch_levels& stretch, bool marks, const std::function<void()>& repaint) {
    if (const std::size_t pixels = frame_pixels(bmp, frame_buf); pixels > 0) {
        const double low = stretch.low;
        const double span = std::max(1.0, static_cast<double>(stretch.high) - low);
        std::uint8_t* out = bmp.disp_buf.data();
        for (std::size_t i = 0; i < pixels; ++i) {
            const std::uint16_t s = frame_buf[i];
            const double v = std::clamp((static_cast<double>(s) - low) * 255.0 / span, 0.0, 255.0);
            put_pixel(out + 4 * i, s, static_cast<std::uint8_t>(static_cast<int>(v)), levels, marks);
        }
    }
    if (repaint) repaint();
}

std::int32_t brightness_for_high(std::uint16_t high) {
    if (high == 0) return 255000;
    const std::int32_t h = high;
    return (255000 + h - 1) / h; // rounded up, so that `high` itself reaches 255
}

std::uint8_t grey_level(std::uint16_t sample, std::int32_t brightness) {
    double v = static_cast<double>(sample) * static_cast<double>(brightness) / 1000.0;
    if (v < 0.0) v = 0.0;
    if (v > 255.0) v = 255.0;
    return static_cast<std::uint8_t>(static_cast<int>(v));
}

grey_table::grey_table(std::int32_t brightness) : levels_(65536) {
    for (std::uint32_t s = 0; s < 65536; ++s) levels_[s] = grey_level(static_cast<std::uint16_t>(s), brightness);
    clamp_only_ = true;
    for (std::uint32_t s = 0; s < 65536 && clamp_only_; ++s)
        clamp_only_ = levels_[s] == std::min<std::uint32_t>(s, 255);
}

void grey_table::render(const std::uint16_t* samples, std::size_t count, std::uint8_t* out) const {
    // One 32-bit store per pixel; at a gain of one the level is the sample clamped to 255,
    // which the compiler draws many pixels at a time.
    const auto put = [out](std::size_t i, std::uint32_t g) {
        const std::uint32_t pixel = g * 0x010101U; // blue, green, red, 0
        std::memcpy(out + 4 * i, &pixel, sizeof pixel);
    };
    if (clamp_only_) {
        for (std::size_t i = 0; i < count; ++i) put(i, std::min<std::uint32_t>(samples[i], 255));
    } else {
        for (std::size_t i = 0; i < count; ++i) put(i, levels_[samples[i]]);
    }
}

void grey_table::render(const std::uint8_t* samples, std::size_t count, std::uint8_t* out) const {
    const auto put = [out](std::size_t i, std::uint32_t g) {
        const std::uint32_t pixel = g * 0x010101U;
        std::memcpy(out + 4 * i, &pixel, sizeof pixel);
    };
    if (clamp_only_) {
        for (std::size_t i = 0; i < count; ++i) put(i, samples[i]);
    } else {
        for (std::size_t i = 0; i < count; ++i) put(i, levels_[samples[i]]);
    }
}

void render_frame(display_bitmap& bmp, std::span<const std::uint16_t> frame_buf, const render_levels& levels,
                  bool marks, const std::function<void()>& repaint) {
    if (const std::size_t pixels = frame_pixels(bmp, frame_buf); pixels > 0) {
        std::uint8_t* out = bmp.disp_buf.data();
        const std::uint16_t* in = frame_buf.data();
        for (std::size_t i = 0; i < pixels; ++i)
            put_pixel(out + 4 * i, in[i], grey_level(in[i], levels.brightness), levels, marks);
    }
    if (repaint) repaint();
}

} // namespace serflash::display
