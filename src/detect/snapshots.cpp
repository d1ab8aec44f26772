#include "detect/snapshots.h"

#include "detect/format.h"
#include "detect/rules.h"

#include <initializer_list>

namespace serflash::detect {

std::string snapshot_name(const std::string& result_dir, std::int32_t det_frames, std::int32_t threshold,
                          std::int32_t frame, snapshot_format format) {
    const char* extension = format == snapshot_format::png ? "png" : "bmp";
    return format_bounded(result_dir.size() + 64, "%s/%04d_t%02d_%06d.%s", result_dir.c_str(), det_frames, threshold,
                          frame, extension);
}

std::string snapshot_name(const std::string& result_dir, const saved_frame& frame, snapshot_format format) {
    return snapshot_name(result_dir, frame.index, frame.threshold, frame.frame, format);
}

platform::status write_snapshot(platform::file_system& fs, const std::string& path,
                                const display::display_bitmap& disp) {
    const auto& info = disp.disp_info;
    if (disp.disp_buf.size() < info.biSizeImage) return platform::status::failure("no display bitmap");
    const auto file_header = display::bmp_file_header(info);
    const auto info_bytes = info.bytes();
    return platform::write_whole_file(fs, path,
                                      {{file_header.data(), file_header.size()},
                                       {info_bytes.data(), info_bytes.size()},
                                       {disp.disp_buf.data(), info.biSizeImage}});
}

void draw_detection_box(display::display_bitmap& disp, std::int32_t col, std::int32_t row) {
    const std::int64_t w = disp.width();
    const std::int64_t h = disp.height();
    const auto paint = [&](std::int64_t r, std::int64_t c) {
        if (r < 0 || r >= h || c < 0 || c >= w) return;
        const std::size_t at = static_cast<std::size_t>((r * w + c) * 4);
        if (at + 3 > disp.disp_buf.size()) return;
        disp.disp_buf[at] = 0;
        disp.disp_buf[at + 1] = 200;
        disp.disp_buf[at + 2] = 255;
    };
    for (std::int64_t r = row - box_half; r <= row + box_half; ++r) {
        for (std::int64_t c = col - box_half; c <= col + box_half; ++c) {
            if (r == row - box_half || r == row + box_half || c == col - box_half || c == col + box_half) paint(r, c);
        }
    }
}

platform::status write_frame_snapshot(platform::file_system& fs, const std::string& result_dir,
                                      const saved_frame& frame, display::display_bitmap& disp,
                                      const snapshot_output& output) {
    for (const detection& d : frame.detections) draw_detection_box(disp, d.x, d.y);
    switch (output.format) {
        case snapshot_format::none:
            return {};
        case snapshot_format::png: {
            if (output.png == nullptr || !*output.png) return platform::status::failure("no PNG writer");
            std::string error;
            const std::vector<std::uint8_t> bytes = (*output.png)(disp, error);
            if (bytes.empty()) return platform::status::failure(error.empty() ? "it could not be encoded" : error);
            return platform::write_whole_file(fs, snapshot_name(result_dir, frame, output.format),
                                              {{bytes.data(), bytes.size()}});
        }
        case snapshot_format::bmp:
            break;
    }
    return write_snapshot(fs, snapshot_name(result_dir, frame), disp);
}

} // namespace serflash::detect
