#include "report/snapshot_png.h"

namespace serflash::report {

image8 snapshot_pixels(const display::display_bitmap& disp) {
    image8 out;
    const std::int64_t w = disp.width();
    const std::int64_t h = disp.height();
    if (w <= 0 || h <= 0 || disp.disp_buf.size() < static_cast<std::size_t>(w * h * 4)) return out;
    out.width = static_cast<std::int32_t>(w);
    out.height = static_cast<std::int32_t>(h);
    out.channels = 3;
    out.pixels.resize(static_cast<std::size_t>(w * h * 3));
    const std::uint8_t* in = disp.disp_buf.data();
    std::uint8_t* px = out.pixels.data();
    for (std::int64_t k = 0; k < w * h; ++k, in += 4, px += 3) {
        px[0] = in[2];
        px[1] = in[1];
        px[2] = in[0];
    }
    return out;
}

detect::picture_encoder png_snapshot_encoder() {
    return [](const display::display_bitmap& disp, std::string& error) {
        const image8 pixels = snapshot_pixels(disp);
        if (pixels.pixels.empty()) {
            error = "no snapshot bitmap";
            return std::vector<std::uint8_t>{};
        }
        return encode_png(pixels, &error, true);
    };
}

} // namespace serflash::report
