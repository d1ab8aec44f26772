#include "detect/passes.h"

#include "detect/detector.h"
#include "detect/format.h"
#include "detect/summary_file.h"
#include "ser/ser_reader.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace serflash::detect {
namespace {

constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

void fail(scan_run& run, caption_id caption, const std::string& text, const std::string& what) {
    run.hooks().say(engine_message::failure(caption, text, what));
    run.outcome.failed = true;
    run.outcome.add_problem(what);
}

// Reported once per file, with the system's reason.
void report_summary_failure(scan_run& run, const summary_file& summary) {
    if (run.summary_failure_reported) return;
    run.summary_failure_reported = true;
    const std::string why = summary.error().empty() ? "it could not be written" : summary.error();
    const std::string what =
        "the summary file " + run.ctx.summary_path + " could not be written completely (" + why + ")";
    run.hooks().say(
        engine_message::failure(caption_id::scan, "Error: " + what + "; the scan of this file is incomplete.", what));
    run.outcome.failed = true;
    run.outcome.add_problem("the summary file could not be written completely (" + why + ")");
}

// A frame not read in full (a read error, a file cut short while it is scanned) ends the scan
// of the file: the zeros in its place are no data. Reported once, naming the frame.
bool frames_unreadable(scan_run& run) {
    if (run.outcome.read_failed) return true;
    const auto failed = run.reader().file().first_failed_read();
    if (!failed) return false;
    run.outcome.read_failed = true;
    const std::int64_t frame_bytes = std::max<std::int64_t>(run.reader().frame_bytes(), 1);
    const std::int64_t frame = std::max<std::int64_t>(failed->pos - ser::header_size, 0) / frame_bytes;
    const std::string what =
        format_bounded(512, "frame %lld could not be read (%s)", static_cast<long long>(frame), failed->reason.c_str());
    fail(run, caption_id::scan, "Error: " + what + "; the scan of this file is incomplete.", what);
    return true;
}

} // namespace

std::int32_t highest_sample_of_depth(std::int32_t depth) { return ser::bytes_per_sample(depth) == 1 ? 255 : 65535; }

std::int32_t highest_reachable_threshold(std::int32_t packet_size, std::int32_t highest_sample) {
    const double top = std::max(highest_sample, 1);
    // One frame gives no sigma at all (0 / 0), so nothing passes at any threshold.
    if (packet_size < 2) return static_cast<std::int32_t>(10.0 * top);
    // n integer samples not all equal: the sum of squared deviations is at least (n - 1) / n;
    // the sums are exact, and the rounding of the mean and its square takes at most a few ulps
    // of n x top^2 from it (2^-50 is generous).
    const double n = packet_size;
    const double least_spread = (n - 1.0) / n - n * top * top * 0x1p-50;
    if (!(least_spread > 0.0)) return static_cast<std::int32_t>(int32_max);
    const double least_sigma = std::sqrt(least_spread / (n - 1.0));
    const double reach = std::ceil(10.0 * top / least_sigma * (1.0 + 1e-9)) + 1.0;
    return reach >= static_cast<double>(int32_max) ? static_cast<std::int32_t>(int32_max)
                                                   : static_cast<std::int32_t>(reach);
}

platform::status scan_refusal(const scan_settings& s, std::int32_t frames_present, std::int32_t highest_sample) {
    if (s.packet_size < 1)
        return platform::status::failure(
            format_bounded(256, "the packet size is %d; it must be at least 1", s.packet_size));
    if (s.start_frame < 0)
        return platform::status::failure(format_bounded(256, "the start frame %d is below 0", s.start_frame));
    if (s.end_frame >= frames_present)
        return platform::status::failure(
            format_bounded(256, "the stop frame %d is not in the file, which holds %d frames (0 to %d)", s.end_frame,
                           frames_present, frames_present - 1));
    const std::int64_t range = static_cast<std::int64_t>(s.end_frame) - s.start_frame + 1;
    if (range < s.packet_size)
        return platform::status::failure(format_bounded(256,
                                                        "the frames %d to %d are fewer than one packet of %d frames",
                                                        s.start_frame, s.end_frame, s.packet_size));
    if (s.threshold_step < 1)
        return platform::status::failure(
            format_bounded(256, "the threshold step is %d; it must be at least 1", s.threshold_step));
    // Passes from higher up find only the pixels that never vary, as the highest does, and
    // would only cost time and memory.
    const std::int32_t highest_threshold = highest_reachable_threshold(s.packet_size, highest_sample);
    if (s.threshold > highest_threshold || s.threshold_step > highest_threshold)
        return platform::status::failure(
            format_bounded(320,
                           "the initial threshold %d or the step %d is above %d, the highest at which a sample of "
                           "at most %d can stand out from a pixel that varies over a packet of %d frames",
                           s.threshold, s.threshold_step, highest_threshold, highest_sample, s.packet_size));
    if (static_cast<std::int64_t>(s.threshold) + s.threshold_step > int32_max)
        return platform::status::failure(format_bounded(256, "the initial threshold %d and the step %d are too large",
                                                        s.threshold, s.threshold_step));
    return {};
}

void clip_to_image(scan_settings& s, std::int32_t width, std::int32_t height) {
    const std::int32_t reach = std::max(width, height);
    for (std::int32_t* size : {&s.red_mask_half, &s.blue_mask_half, &s.star_mask_half, &s.star_half_width})
        *size = std::min(*size, reach);
}

std::string scan_outcome::problem_text() const { return join_texts(problems, "; "); }

const char* pass_end_name(pass_end e) {
    switch (e) {
        case pass_end::end_of_range:
            return "end of range";
        case pass_end::max_det_frames:
            return "max frames with detections";
        case pass_end::scattered:
            return "scattered frame";
        case pass_end::stopped:
            return "stop";
        case pass_end::failed:
            return "failed";
    }
    return "";
}

const saved_frame& save_frame(scan_run& run, frame_hits hits) {
    saved_frame& frame = hits.record;
    const bool any_recurs = hits.any_recurs, all_recur = hits.all_recur;
    frame.threshold = hits.raised_threshold > 0 ? hits.raised_threshold : run.cursor.threshold;
    frame.index = run.cursor.det_frames;
    frame.packet_first_frame = run.cursor.packet_first_frame;
    std::int32_t number = run.cursor.det_count;
    for (detection& d : frame.detections) {
        number = wrapping_add(number, 1);
        d.number = number;
    }
    run.cursor.det_count = wrapping_add(run.cursor.det_count, frame.detection_count);
    for (result_sink* sink : run.sinks) sink->frame_saved(frame);
    if (!any_recurs) run.cursor.pass.every_saved_frame_recurs = false;
    if (!all_recur) run.cursor.pass.every_detection_recurs = false;
    run.cursor.det_frames = wrapping_add(run.cursor.det_frames, 1);
    run.outcome.frames.push_back(std::move(frame));
    return run.outcome.frames.back();
}

void withdraw_scattered_frame(scan_run& run, std::int32_t points, const hit_extent& extent, bool all_recur) {
    run.cursor.pass.scattered_frame = true;
    if (!all_recur) run.cursor.pass.every_detection_recurs = false;
    scattered_frame f;
    f.threshold = run.cursor.threshold;
    f.frame = run.cursor.cur_frame;
    f.points = points;
    f.row_span = static_cast<std::int32_t>(extent.row_span());
    f.col_span = static_cast<std::int32_t>(extent.col_span());
    f.every_frame = run.cursor.every_frame_pass;
    for (result_sink* sink : run.sinks) sink->frame_scattered(f);
    run.outcome.scattered.push_back(f);
}

void report_snapshot_failure(scan_run& run, const std::string& path, const std::string& why) {
    run.outcome.failed = true;
    if (run.snapshot_failure_reported) return;
    run.snapshot_failure_reported = true;
    const std::string what = "the snapshot " + path + " could not be written (" + why + ")";
    run.hooks().say(engine_message::failure(
        caption_id::snapshot,
        "Error: " + what + ". The frame is counted; later snapshots of this file may be missing too.", what));
    run.outcome.add_problem("snapshots could not be written (" + why + ")");
}

pass_end end_of_pass(const scan_run& run, run_end result) {
    if (result == run_end::failed) return pass_end::failed;
    if (run.outcome.stopped) return pass_end::stopped;
    if (result == run_end::max_det_frames) return pass_end::max_det_frames;
    // Only a withdrawn frame, on which the packets after it start again, keeps a pass from the
    // stop frame.
    if (run.cursor.cur_frame <= run.settings.end_frame) return pass_end::scattered;
    return pass_end::end_of_range;
}

bool raise_withheld(const pass_flags& pass, std::int32_t init_threshold, std::int32_t step) {
    if (static_cast<std::int64_t>(init_threshold) + 2 * static_cast<std::int64_t>(step) > int32_max) return true;
    if (!pass.scattered_frame && pass.every_saved_frame_recurs) return true;
    return pass.every_detection_recurs;
}

std::string final_folder_name(const std::string& result_dir, std::int32_t threshold, std::int32_t frame) {
    return format_bounded(result_dir.size() + 32, "%s_s%d_%d", result_dir.c_str(), threshold, frame);
}

namespace {

// The closing steps of a file's scan: the closing block, the frame shown, det_frames := 0.
void finish_scan(scan_run& run) {
    for (result_sink* sink : run.sinks) sink->scan_finished(run.cursor.det_frames, run.cursor.det_count);
    run.outcome.det_frames = run.cursor.det_frames;
    run.outcome.det_count = run.cursor.det_count;
    if (run.hooks().frame_shown) run.hooks().frame_shown(run.cursor.cur_frame);
    run.cursor.det_frames = 0;
    run.outcome.result_dir = run.ctx.result_dir;
}

// The last closing step, once the summary is closed: result_dir gets its final name. Nothing is
// ever replaced; a refused rename is told (which folder exists, where the results are) and the
// results stay where they are.
void rename_results_folder(scan_run& run) {
    const std::string new_name = final_folder_name(run.ctx.result_dir, run.cursor.threshold, run.cursor.cur_frame);
    const platform::status renamed = run.fs.rename_no_replace(run.ctx.result_dir, new_name);
    if (renamed) {
        run.outcome.result_dir = new_name;
        return;
    }
    const std::string why = run.fs.kind_of(new_name) != platform::entry_kind::missing
                                ? new_name + " already exists (it is never replaced)"
                                : renamed.reason();
    run.hooks().say(engine_message::note(
        caption_id::scan, "The results folder " + run.ctx.result_dir + " is not renamed to " + new_name + ": " + why +
                              ". The results of this scan are in " + run.ctx.result_dir + "."));
}

// Starts a pass at the cursor's threshold from the first frame, runs it and says how it went
// (the caller records it).
struct pass_run {
    run_end result = run_end::went_on;
    pass_report report;
};

pass_run run_one_pass(scan_run& run, pass_runner& runner) {
    const scan_settings& cfg = run.settings;
    pass_cursor& at = run.cursor;
    if (run.hooks().threshold_shown) run.hooks().threshold_shown(at.threshold);
    at.cur_frame = cfg.start_frame;
    at.pass = {};
    for (result_sink* sink : run.sinks) sink->pass_started(at.threshold);
    const std::int32_t frames_before = at.det_frames;
    const std::int32_t count_before = at.det_count;
    pass_run done;
    done.result = runner.run_pass(run);
    pass_report& pass = done.report;
    pass.threshold = at.threshold;
    pass.first_frame = cfg.start_frame;
    pass.frame_reached = at.cur_frame;
    pass.end = end_of_pass(run, done.result);
    if (pass.end == pass_end::scattered)
        pass.frames_not_examined =
            static_cast<std::int32_t>(std::int64_t{cfg.end_frame} + 1 - std::int64_t{at.cur_frame});
    else if (pass.end == pass_end::max_det_frames) // it examined the frame it stood on
        pass.frames_not_examined = static_cast<std::int32_t>(std::int64_t{cfg.end_frame} - std::int64_t{at.cur_frame});
    pass.saved_frames = wrapping_add(at.det_frames, -frames_before);
    pass.detections = wrapping_add(at.det_count, -count_before);
    return done;
}

// The pass over every frame, after the described ones: at complete_threshold from the first
// frame to the last, passing over scattered frames, with no max_det_frames stop. Its frames are
// numbered on from the described passes' (so no snapshot name repeats); the threshold, frame and
// counts the described passes ended with (the closing block, the folder name) are kept.
run_end run_complete_pass(scan_run& run, pass_runner& runner, summary_file& summary) {
    const scan_settings described = run.settings;
    const std::int32_t threshold = run.cursor.threshold, frame = run.cursor.cur_frame;
    const std::int32_t frames = run.cursor.det_frames, count = run.cursor.det_count;
    const pass_flags flags = run.cursor.pass;
    run.settings.continue_after_scatter = true;
    run.settings.max_det_frames = std::numeric_limits<std::int32_t>::max();
    runner.settings_changed(run);
    run.cursor.threshold = described.complete_threshold;
    summary.write("\n------------Every frame examined------------------------------------");
    run.cursor.every_frame_pass = true;
    const pass_run done = run_one_pass(run, runner);
    run.cursor.every_frame_pass = false;
    pass_report pass = done.report;
    pass.complete = true;
    run.outcome.passes.push_back(pass);
    for (result_sink* sink : run.sinks) sink->pass_ended(pass);
    summary.print("\nEvery frame examined: frames with detections = %d, detections = %d\n", pass.saved_frames,
                  pass.detections);
    if (!summary.flush()) report_summary_failure(run, summary);
    run.settings = described;
    run.cursor.threshold = threshold;
    run.cursor.cur_frame = frame;
    run.cursor.det_frames = frames;
    run.cursor.det_count = count;
    run.cursor.pass = flags;
    return done.result;
}

void drive_passes(scan_run& run, pass_runner& runner) {
    const scan_settings& cfg = run.settings;
    pass_cursor& at = run.cursor;
    at.init_threshold = run.ctx.settings.threshold;

    if (run.ctx.reader == nullptr) {
        fail(run, caption_id::scan, "Error: no SER file is open for the scan.", "no SER file open");
        return;
    }
    scan_settings as_loaded = cfg;
    as_loaded.threshold = at.init_threshold;
    if (const platform::status runnable =
            scan_refusal(as_loaded, run.reader().frames_present(), highest_sample_of_depth(run.reader().depth()));
        !runnable) {
        fail(run, caption_id::scan, "Error: the file cannot be scanned: " + runnable.reason() + ".", runnable.reason());
        return;
    }

    // Set-up.
    if (!display::prep_for_display(runner.picture(), run.ctx.width(), run.ctx.height())) {
        fail(run, caption_id::display, "Error: no memory for the display bitmap of the scan.",
             "no memory for the display bitmap");
        return;
    }
    clip_to_image(run.settings, run.ctx.width(), run.ctx.height());
    if (!runner.prepare(run)) {
        fail(run, caption_id::scan, "Error: no memory for the statistics of the scan.", "no memory for the statistics");
        return;
    }
    at.det_frames = 0;
    at.det_count = 0;

    auto opened = summary_file::open(run.fs, run.ctx.summary_path, platform::write_mode::append);
    if (!opened) {
        fail(run, caption_id::scan, "Error in fopen_s(&fp2, detect_result_path, \"a\")",
             "the summary file " + run.ctx.summary_path + " could not be opened for appending (" + opened.reason() +
                 ")");
        return;
    }
    std::unique_ptr<summary_file> summary = std::move(opened.value());
    summary_sink summary_writer(*summary);
    // The summary first: the other sinks see each record after it is stored.
    run.sinks.clear();
    run.sinks.push_back(&summary_writer);
    run.sinks.insert(run.sinks.end(), run.ctx.sinks.begin(), run.ctx.sinks.end());
    const std::int32_t step = cfg.threshold_step;
    at.threshold = at.init_threshold + step;

    bool scan_failed = false;
    if (at.det_frames < cfg.max_det_frames) {
        for (;;) {
            if (static_cast<std::int64_t>(at.threshold) < static_cast<std::int64_t>(step) + lowest_threshold) break;
            at.threshold -= step;
            const pass_run done = run_one_pass(run, runner);
            const run_end result = done.result;
            pass_report pass = done.report;
            pass.raised = result == run_end::max_det_frames && at.threshold >= at.init_threshold &&
                          !raise_withheld(at.pass, at.init_threshold, step);
            run.outcome.passes.push_back(pass);
            for (result_sink* sink : run.sinks) sink->pass_ended(pass);
            // What a pass found is on disk before the next begins, even if the program is killed.
            if (!summary->flush()) report_summary_failure(run, *summary);
            if (frames_unreadable(run)) break;
            if (result == run_end::failed) {
                scan_failed = true;
                break;
            }
            if (run.outcome.stopped) break;
            if (result == run_end::max_det_frames) {
                if (at.threshold < at.init_threshold) break;
                if (raise_withheld(at.pass, at.init_threshold, step)) {
                    run.outcome.raise_withheld = true;
                    break;
                }
                for (result_sink* sink : run.sinks) sink->threshold_raised(at.det_frames, at.det_count);
                at.det_frames = 0;
                at.det_count = 0;
                at.init_threshold += step;
                at.threshold = at.init_threshold + step;
            }
            if (!(at.det_frames < cfg.max_det_frames)) break;
        }
    }

    if (run.outcome.passes.empty() && !run.outcome.failed && !run.outcome.stopped) {
        run.outcome.no_pass =
            cfg.max_det_frames <= 0
                ? format_bounded(256, "Max is %d, so no frame may hold detections", cfg.max_det_frames)
                : format_bounded(256, "the initial threshold %d is below the lowest threshold %d", at.init_threshold,
                                 lowest_threshold);
        const std::string what = "no pass ran and no frame was read: " + run.outcome.no_pass;
        run.hooks().say(engine_message::failure(
            caption_id::scan, "Error: " + what + ". The summary holds only the closing block.", what));
    }
    if (cfg.complete && !scan_failed && !run.outcome.stopped && !run.outcome.read_failed &&
        !run.outcome.passes.empty()) {
        scan_failed = run_complete_pass(run, runner, *summary) == run_end::failed;
        frames_unreadable(run);
    }
    if (scan_failed) {
        run.outcome.failed = true;
        run.outcome.add_problem("the statistics of a packet could not be computed");
    }
    runner.before_closing(run);
    frames_unreadable(run);
    finish_scan(run);
    run.sinks = run.ctx.sinks;
    for (const result_sink* sink : run.ctx.sinks)
        if (std::string lost = sink->failure(); !lost.empty()) {
            run.outcome.failed = true;
            run.outcome.add_problem(lost);
        }
    if (summary->failed()) report_summary_failure(run, *summary);
    if (run.outcome.failed) {
        // Not counts as if complete: the summary ends saying what is missing.
        run.outcome.incomplete = true;
        summary->write("------The scan of this file is incomplete: " + run.outcome.problem_text() + ".------\n");
    }
    if (!summary->close()) report_summary_failure(run, *summary);
    if (!scan_failed) rename_results_folder(run);
}

} // namespace

scan_outcome drive_scan(const scan_context& ctx, pass_runner& runner) {
    scan_run run(ctx, ctx.fs != nullptr ? *ctx.fs : platform::native_file_system());
    run.outcome.result_dir = ctx.result_dir;
    drive_passes(run, runner);
    run.outcome.final_threshold = run.cursor.threshold;
    run.outcome.last_frame = run.cursor.cur_frame;
    return std::move(run.outcome);
}

namespace {

// The straightforward scan: per packet the statistics, the masks and the detector, each frame
// read again for every pass. Its buffers are its own.
class reference_runner final : public pass_runner {
public:
    display::display_bitmap& picture() override { return buf_.disp; }

    bool prepare(scan_run& run) override {
        const std::size_t pixels = run.reader().samples_per_frame();
        buf_.width = run.ctx.width();
        buf_.height = run.ctx.height();
        try {
            buf_.frame_buf.resize(pixels);
            buf_.mean_map.assign(pixels, 0.0);
            buf_.sigma_map.assign(pixels, 0.0);
            buf_.star_map.assign(pixels, 0);
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    run_end run_pass(scan_run& run) override {
        const scan_settings& cfg = run.settings;
        const std::int32_t range = cfg.end_frame - cfg.start_frame + 1;
        const std::int32_t npackets = range / cfg.packet_size;
        const std::int32_t remainder = range % cfg.packet_size;
        std::fill(buf_.star_map.begin(), buf_.star_map.end(), 0);
        if (cfg.continue_after_scatter) return run_pass_past_scatter(run);
        run_end result = run_end::went_on;
        for (std::int32_t p = 0; p < npackets; ++p) {
            if (!start_packet(run)) return run_end::failed;
            result = detect_in_packet(run, buf_, cfg.packet_size);
            if (result == run_end::max_det_frames || run.outcome.stopped) return result;
            if (run.hooks().should_stop()) {
                run.outcome.stopped = true;
                return run_end::went_on;
            }
        }
        if (remainder != 0 && result == run_end::went_on) result = detect_in_packet(run, buf_, remainder);
        return result;
    }

private:
    // The statistics and the masks of the packet from the cursor's frame.
    bool start_packet(scan_run& run) {
        run.cursor.packet_first_frame = run.cursor.cur_frame;
        if (!compute_packet_stats(buf_, run.reader(), run.settings.packet_size, run.cursor.cur_frame, run.hooks()))
            return false;
        apply_masks(buf_, run.settings, run.ctx.switches);
        return true;
    }

    // detect_in_packet stops on a withdrawn frame without passing it.
    static bool held_by_scatter(const scan_run& run, run_end result, std::int64_t end) {
        return result == run_end::went_on && !run.outcome.stopped && run.cursor.cur_frame < end;
    }

    // A withdrawn frame is passed over and the next packet starts after it, so that every
    // frame of the range is examined against a packet that holds it; the frames after the last
    // whole packet are examined against that packet's statistics.
    run_end run_pass_past_scatter(scan_run& run) {
        const scan_settings& cfg = run.settings;
        pass_cursor& at = run.cursor;
        const std::int64_t last = cfg.end_frame;
        while (std::int64_t{at.cur_frame} + cfg.packet_size - 1 <= last) {
            if (!start_packet(run)) return run_end::failed;
            const std::int64_t end = std::int64_t{at.cur_frame} + cfg.packet_size;
            const run_end result = detect_in_packet(run, buf_, cfg.packet_size);
            if (result == run_end::max_det_frames || run.outcome.stopped) return result;
            if (held_by_scatter(run, result, end)) at.cur_frame = wrapping_add(at.cur_frame, 1);
            if (run.hooks().should_stop()) {
                run.outcome.stopped = true;
                return run_end::went_on;
            }
        }
        while (at.cur_frame <= last) {
            const std::int64_t end = last + 1;
            const run_end result = detect_in_packet(run, buf_, static_cast<std::int32_t>(end - at.cur_frame));
            if (result == run_end::max_det_frames || run.outcome.stopped) return result;
            if (!held_by_scatter(run, result, end)) break;
            at.cur_frame = wrapping_add(at.cur_frame, 1);
        }
        return run_end::went_on;
    }

    packet_buffers buf_;
};

} // namespace

scan_outcome run_scan(const scan_context& ctx) {
    reference_runner runner;
    return drive_scan(ctx, runner);
}

} // namespace serflash::detect
