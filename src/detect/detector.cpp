#include "detect/detector.h"

#include "detect/passes.h"
#include "detect/summary_file.h"

#include <cmath>
#include <limits>

namespace serflash::detect {
namespace {

// Counters are 32-bit as in the summary; wrap instead of overflowing.
std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

// Truncation toward zero of a statistic for the detection line; detections always have finite
// statistics well within range, the clamp only keeps the conversion defined.
std::int32_t truncate_to_int(double v) {
    if (!(v == v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<std::int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(v);
}

struct hit_extent {
    std::int32_t min_row = 9999, max_row = -9999, min_col = 9999, max_col = -9999;
    void widen(std::int32_t row, std::int32_t col) {
        if (row < min_row) min_row = row;
        if (row > max_row) max_row = row;
        if (col < min_col) min_col = col;
        if (col > max_col) max_col = col;
    }
};

} // namespace

void report_snapshot_failure(scan_state& st, const std::string& path, const std::string& why) {
    if (st.snapshot_failure_reported) return;
    st.snapshot_failure_reported = true;
    const std::string text = "Error: the snapshot " + path + " could not be written (" + why +
                             "). The frame is counted; later snapshots of this file may be missing too.";
    st.hooks.say("write_snapshot", text);
    if (!st.outcome.problem.empty()) st.outcome.problem += "; ";
    st.outcome.problem += "snapshots could not be written (" + why + ")";
}

bool is_detection(const scan_state& st, std::size_t i) {
    const std::size_t w = static_cast<std::size_t>(st.width());
    const double s = static_cast<double>(st.frame_buf[i]);
    const double m = st.mean_map[i];
    const double sd = st.sigma_map[i];
    if (!(s * 10.0 > static_cast<double>(st.threshold) * sd + m * 10.0)) return false;
    const double d = s - m;
    const auto neighbour_ok = [&](std::size_t j, std::int32_t pct) {
        return (static_cast<double>(st.frame_buf[j]) - st.mean_map[j]) / d * 100.0 >= static_cast<double>(pct);
    };
    const scan_settings& cfg = st.settings;
    return neighbour_ok(i - 1, cfg.pct_left) && neighbour_ok(i + 1, cfg.pct_right) &&
           neighbour_ok(i - w, cfg.pct_top) && neighbour_ok(i + w, cfg.pct_bottom);
}

std::string snapshot_name(const std::string& result_dir, std::int32_t det_frames, std::int32_t threshold,
                          std::int32_t frame) {
    return format_bounded(result_dir.size() + 64, "%s/%04d_t%02d_%06d.bmp", result_dir.c_str(), det_frames, threshold,
                          frame);
}

std::string write_snapshot(platform::file_system& fs, const std::string& path, const display::display_bitmap& disp) {
    const auto& info = disp.disp_info;
    if (disp.disp_buf.size() < info.biSizeImage) return "no display bitmap";
    std::string error;
    auto out = fs.open_write(path, platform::write_mode::truncate, &error);
    if (!out) return error.empty() ? "cannot be created" : error;
    const auto file_header = display::bmp_file_header(info);
    const auto info_bytes = info.bytes();
    bool ok = out->write(file_header.data(), file_header.size());
    ok = ok && out->write(info_bytes.data(), info_bytes.size());
    ok = ok && out->write(disp.disp_buf.data(), info.biSizeImage);
    ok = out->close() && ok;
    return ok ? std::string{} : std::string{"write failed"};
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

int detect_in_packet(scan_state& st, std::int32_t n) {
    ser::ser_reader& reader = *st.reader;
    reader.seek_frame(st.cur_frame);
    if (n <= 0) return 0;

    const std::int32_t w = st.width();
    const std::int32_t h = st.height();
    const scan_settings& cfg = st.settings;
    const display::render_levels levels{cfg.brightness, cfg.blue_level, cfg.red_level};
    std::string frame_text;

    for (std::int32_t k = 0; k < n; ++k) {
        reader.read_frame(st.frame_buf);
        display::render_frame(st.disp, st.frame_buf, levels, false, st.hooks.repaint);

        std::int32_t frame_det_count = 0;
        bool has_detection = false;
        bool frame_recurs = false; // holds a detection that would be found at any threshold
        hit_extent extent;

        for (std::int32_t row = 10; row < h - 10; ++row) {
            for (std::int32_t col = 10; col < w - 10; ++col) {
                const std::size_t i =
                    static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + static_cast<std::size_t>(col);
                if (!is_detection(st, i)) continue;
                if (st.sigma_map[i] == 0.0)
                    frame_recurs = true;
                else
                    st.pass.every_detection_recurs = false;
                extent.widen(row, col);
                frame_det_count = wrapping_add(frame_det_count, 1);
                st.det_count = wrapping_add(st.det_count, 1);
                if (frame_det_count <= max_lines_per_frame) {
                    const std::string line =
                        format_bounded(1000, "\n%-10d%-10d%-10d%-10d%-10d%-10d%-10d", st.det_count, st.cur_frame, col,
                                       row, static_cast<int>(st.frame_buf[i]), truncate_to_int(st.mean_map[i]),
                                       truncate_to_int(st.sigma_map[i]));
                    if (frame_det_count == 1)
                        frame_text = line;
                    else
                        frame_text += line;
                    draw_detection_box(st.disp, col, row);
                    has_detection = true;
                }
            }
        }

        if (has_detection) {
            if (frame_det_count > max_lines_per_frame &&
                (static_cast<std::int64_t>(extent.max_row) - extent.min_row > cfg.scatter_v ||
                 static_cast<std::int64_t>(extent.max_col) - extent.min_col > cfg.scatter_h)) {
                st.det_count = wrapping_add(st.det_count, -frame_det_count);
                st.pass.scattered_frame = true;
                return 0;
            }
            if (st.fp2 != nullptr) st.fp2->write(frame_text);
            const std::string path = snapshot_name(st.result_dir, st.det_frames, st.threshold, st.cur_frame);
            const std::string failure = write_snapshot(*st.fs, path, st.disp);
            if (!failure.empty()) report_snapshot_failure(st, path, failure);
            if (!frame_recurs) st.pass.every_saved_frame_recurs = false;
            st.det_frames = wrapping_add(st.det_frames, 1);
            if (st.det_frames >= cfg.max_det_frames) return 1;
        }

        if (st.hooks.progress) {
            scan_progress p;
            p.file_index = st.file_index;
            p.file_count = st.file_count;
            p.threshold = st.threshold;
            p.frame = st.cur_frame;
            p.start_frame = cfg.start_frame;
            p.end_frame = cfg.end_frame;
            st.hooks.progress(p);
        }
        st.cur_frame = wrapping_add(st.cur_frame, 1);
        if (st.hooks.should_stop()) {
            st.outcome.stopped = true;
            return 0;
        }
    }
    return 0;
}

} // namespace serflash::detect
