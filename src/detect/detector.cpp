#include "detect/detector.h"

#include "detect/batch_progress.h"
#include "detect/fast_kernels.h"
#include "detect/frame_hits.h"
#include "detect/passes.h"
#include "detect/snapshots.h"

namespace serflash::detect {
namespace {

frame_hits test_frame(const scan_run& run, const packet_buffers& buf) {
    const std::int32_t w = buf.width;
    const std::int32_t h = buf.height;
    frame_hits hits;
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row) {
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + static_cast<std::size_t>(col);
            if (is_detection(buf, run.settings, run.cursor.threshold, i))
                hits.add(row, col, static_cast<std::int32_t>(buf.frame_buf[i]), buf.mean_map[i], buf.sigma_map[i]);
        }
    }
    return hits;
}

// The detections of a scattered frame that stand above its disturbance (threshold_above_scatter),
// none when no raised threshold leaves any.
frame_hits hits_above_scatter(const scan_run& run, const packet_buffers& buf) {
    const std::int32_t w = buf.width;
    const std::int32_t h = buf.height;
    std::vector<ranked_hit> ranked;
    std::vector<std::size_t> at;
    for (std::int32_t row = inner_margin; row < h - inner_margin; ++row)
        for (std::int32_t col = inner_margin; col < w - inner_margin; ++col) {
            const std::size_t i =
                static_cast<std::size_t>(row) * static_cast<std::size_t>(w) + static_cast<std::size_t>(col);
            if (!is_detection(buf, run.settings, run.cursor.threshold, i)) continue;
            ranked.push_back({row, col, fast::top_threshold(buf.frame_buf[i], buf.mean_map[i], buf.sigma_map[i])});
            at.push_back(i);
        }
    frame_hits above;
    const std::int32_t raised = threshold_above_scatter(ranked, run.cursor.threshold, run.settings);
    if (raised == 0) return above;
    above.raised_threshold = raised;
    for (std::size_t k = 0; k < ranked.size(); ++k)
        if (ranked[k].top_threshold >= raised)
            above.add(ranked[k].row, ranked[k].col, static_cast<std::int32_t>(buf.frame_buf[at[k]]),
                      buf.mean_map[at[k]], buf.sigma_map[at[k]]);
    return above;
}

void report_progress(const scan_run& run) {
    if (!run.hooks().progress) return;
    scan_progress p;
    p.file_index = run.ctx.file_index;
    p.file_count = run.ctx.file_count;
    p.threshold = run.cursor.threshold;
    p.frame = run.cursor.cur_frame;
    p.start_frame = run.settings.start_frame;
    p.end_frame = run.settings.end_frame;
    const auto passes_done = static_cast<std::int32_t>(run.outcome.passes.size());
    p.pass = passes_done + 1;
    // Every pass of the straightforward scan reads the range again.
    p.file_fraction = file_fraction_of_passes(passes_done, run.cursor.threshold, run.settings.threshold_step, p.frame,
                                              p.start_frame, p.end_frame);
    run.hooks().progress(p);
}

} // namespace

bool is_detection(const packet_buffers& buf, const scan_settings& cfg, std::int32_t threshold, std::size_t i) {
    const std::size_t w = static_cast<std::size_t>(buf.width);
    const double s = static_cast<double>(buf.frame_buf[i]);
    const double m = buf.mean_map[i];
    if (!main_test(s, m, buf.sigma_map[i], threshold)) return false;
    const double d = s - m;
    const auto neighbour_ok = [&](std::size_t j, std::int32_t pct) {
        return neighbour_test(static_cast<double>(buf.frame_buf[j]), buf.mean_map[j], d, pct);
    };
    return neighbour_ok(i - 1, cfg.pct_left) && neighbour_ok(i + 1, cfg.pct_right) &&
           neighbour_ok(i - w, cfg.pct_top) && neighbour_ok(i + w, cfg.pct_bottom);
}

run_end detect_in_packet(scan_run& run, packet_buffers& buf, std::int32_t n) {
    ser::ser_reader& reader = run.reader();
    reader.seek_frame(run.cursor.cur_frame);
    if (n <= 0) return run_end::went_on;
    const scan_settings& cfg = run.settings;
    const display::render_levels levels{cfg.brightness, cfg.blue_level, cfg.red_level};

    for (std::int32_t k = 0; k < n; ++k) {
        reader.read_frame(buf.frame_buf);
        // The image window shows every frame examined; a snapshot is this picture boxed.
        display::render_frame(buf.disp, buf.frame_buf, levels, false, run.hooks().repaint);
        frame_hits hits = test_frame(run, buf);
        if (hits.count() > 0) {
            hits.record.frame = run.cursor.cur_frame;
            if (is_scattered(hits.count(), hits.extent, cfg)) {
                frame_hits above = run.cursor.every_frame_pass ? hits_above_scatter(run, buf) : frame_hits{};
                if (above.count() == 0) {
                    withdraw_scattered_frame(run, hits.count(), hits.extent, hits.all_recur);
                    return run_end::went_on;
                }
                above.record.frame = run.cursor.cur_frame;
                hits = std::move(above);
            }
            const saved_frame& saved = save_frame(run, std::move(hits));
            if (const platform::status written =
                    write_frame_snapshot(run.fs, run.ctx.result_dir, saved, buf.disp, run.snapshot_out());
                !written)
                report_snapshot_failure(run, snapshot_name(run.ctx.result_dir, saved, cfg.snapshots), written.reason());
            if (run.cursor.det_frames >= cfg.max_det_frames) return run_end::max_det_frames;
        }
        report_progress(run);
        run.cursor.cur_frame = wrapping_add(run.cursor.cur_frame, 1);
        if (run.hooks().should_stop()) {
            run.outcome.stopped = true;
            return run_end::went_on;
        }
    }
    return run_end::went_on;
}

} // namespace serflash::detect
