#include "detect/detector.h"

#include "detect/batch_progress.h"
#include "detect/fast_kernels.h"
#include "detect/frame_hits.h"
#include "detect/passes.h"
#include "detect/snapshots.h"

namespace serflash::detect {
namespace {

frame_hits test_frame(const scan_state& st) {
    const std::int32_t w = st.width();
    const std::int32_t h = st.height();
    frame_hits hits;
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row) {
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + static_cast<std::size_t>(col);
            if (is_detection(st, i))
                hits.add(row, col, static_cast<std::int32_t>(st.frame_buf[i]), st.mean_map[i], st.sigma_map[i]);
        }
    }
    return hits;
}

// The detections of a scattered frame that stand above its disturbance (threshold_above_scatter),
// none when no raised threshold leaves any.
frame_hits hits_above_scatter(const scan_state& st) {
    const std::int32_t w = st.width();
    const std::int32_t h = st.height();
    std::vector<ranked_hit> ranked;
    std::vector<std::size_t> at;
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row)
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + static_cast<std::size_t>(col);
            if (!is_detection(st, i)) continue;
            ranked.push_back({row, col, fast::top_threshold(st.frame_buf[i], st.mean_map[i], st.sigma_map[i])});
            at.push_back(i);
        }
    frame_hits above;
    const std::int32_t raised = threshold_above_scatter(ranked, st.threshold, st.settings);
    if (raised == 0) return above;
    above.raised_threshold = raised;
    for (std::size_t k = 0; k < ranked.size(); ++k)
        if (ranked[k].top_threshold >= raised)
            above.add(ranked[k].row, ranked[k].col, static_cast<std::int32_t>(st.frame_buf[at[k]]), st.mean_map[at[k]],
                      st.sigma_map[at[k]]);
    return above;
}

void report_progress(const scan_state& st) {
    if (!st.hooks.progress) return;
    scan_progress p;
    p.file_index = st.file_index;
    p.file_count = st.file_count;
    p.threshold = st.threshold;
    p.frame = st.cur_frame;
    p.start_frame = st.settings.start_frame;
    p.end_frame = st.settings.end_frame;
    const auto passes_done = static_cast<std::int32_t>(st.outcome.passes.size());
    p.pass = passes_done + 1;
    // Every pass of the straightforward scan reads the range again.
    p.file_fraction = file_fraction_of_passes(passes_done, st.threshold, st.settings.threshold_step, p.frame,
                                              p.start_frame, p.end_frame);
    st.hooks.progress(p);
}

} // namespace

bool is_detection(const scan_state& st, std::size_t i) {
    const std::size_t w = static_cast<std::size_t>(st.width());
    const double s = static_cast<double>(st.frame_buf[i]);
    const double m = st.mean_map[i];
    if (!main_test(s, m, st.sigma_map[i], st.threshold)) return false;
    const double d = s - m;
    const auto neighbour_ok = [&](std::size_t j, std::int32_t pct) {
        return neighbour_test(static_cast<double>(st.frame_buf[j]), st.mean_map[j], d, pct);
    };
    const scan_settings& cfg = st.settings;
    return neighbour_ok(i - 1, cfg.pct_left) && neighbour_ok(i + 1, cfg.pct_right) &&
           neighbour_ok(i - w, cfg.pct_top) && neighbour_ok(i + w, cfg.pct_bottom);
}

run_end detect_in_packet(scan_state& st, std::int32_t n) {
    ser::ser_reader& reader = *st.reader;
    reader.seek_frame(st.cur_frame);
    if (n <= 0) return run_end::went_on;
    const scan_settings& cfg = st.settings;
    const display::render_levels levels{cfg.brightness, cfg.blue_level, cfg.red_level};

    for (std::int32_t k = 0; k < n; ++k) {
        reader.read_frame(st.frame_buf);
        // The image window shows every frame examined; a snapshot is this picture boxed.
        display::render_frame(st.disp, st.frame_buf, levels, false, st.hooks.repaint);
        frame_hits hits = test_frame(st);
        if (hits.count() > 0) {
            hits.record.frame = st.cur_frame;
            if (is_scattered(hits.count(), hits.extent, cfg)) {
                frame_hits above = st.every_frame_pass ? hits_above_scatter(st) : frame_hits{};
                if (above.count() == 0) {
                    withdraw_scattered_frame(st, hits.count(), hits.extent, hits.all_recur);
                    return run_end::went_on;
                }
                above.record.frame = st.cur_frame;
                hits = std::move(above);
            }
            const saved_frame& saved = save_frame(st, std::move(hits));
            if (const platform::status written =
                    write_frame_snapshot(*st.fs, st.result_dir, saved, st.disp, st.snapshot_out());
                !written)
                report_snapshot_failure(st, snapshot_name(st.result_dir, saved, cfg.snapshots), written.reason());
            if (st.det_frames >= cfg.max_det_frames) return run_end::max_det_frames;
        }
        report_progress(st);
        st.cur_frame = wrapping_add(st.cur_frame, 1);
        if (st.hooks.should_stop()) {
            st.outcome.stopped = true;
            return run_end::went_on;
        }
    }
    return run_end::went_on;
}

} // namespace serflash::detect
