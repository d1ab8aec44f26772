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

void fail(scan_state& st, caption_id caption, const std::string& text, const std::string& what) {
    st.hooks.say(engine_message::failure(caption, text, what));
    st.outcome.failed = true;
    st.outcome.add_problem(what);
}

// Reported once per file, with the system's reason.
void report_summary_failure(scan_state& st, const summary_file& summary) {
    if (st.summary_failure_reported) return;
    st.summary_failure_reported = true;
    const std::string why = summary.error().empty() ? "it could not be written" : summary.error();
    const std::string what = "the summary file " + st.summary_path + " could not be written completely (" + why + ")";
    st.hooks.say(
        engine_message::failure(caption_id::scan, "Error: " + what + "; the scan of this file is incomplete.", what));
    st.outcome.failed = true;
    st.outcome.add_problem("the summary file could not be written completely (" + why + ")");
}

// A frame not read in full (a read error, a file cut short while it is scanned) ends the scan
// of the file: the zeros in its place are no data. Reported once, naming the frame.
bool frames_unreadable(scan_state& st) {
    if (st.outcome.read_failed) return true;
    const auto failed = st.reader->file().first_failed_read();
    if (!failed) return false;
    st.outcome.read_failed = true;
    const std::int64_t frame_bytes = std::max<std::int64_t>(st.reader->frame_bytes(), 1);
    const std::int64_t frame = std::max<std::int64_t>(failed->pos - ser::header_size, 0) / frame_bytes;
    const std::string what =
        format_bounded(512, "frame %lld could not be read (%s)", static_cast<long long>(frame), failed->reason.c_str());
    fail(st, caption_id::scan, "Error: " + what + "; the scan of this file is incomplete.", what);
    return true;
}

void release_maps(scan_state& st) {
    st.mean_map = {};
    st.sigma_map = {};
    st.star_map = {};
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

const saved_frame& save_frame(scan_state& st, frame_hits hits) {
    saved_frame& frame = hits.record;
    const bool any_recurs = hits.any_recurs, all_recur = hits.all_recur;
    frame.threshold = hits.raised_threshold > 0 ? hits.raised_threshold : st.threshold;
    frame.index = st.det_frames;
    frame.packet_first_frame = st.packet_first_frame;
    std::int32_t number = st.det_count;
    for (detection& d : frame.detections) {
        number = wrapping_add(number, 1);
        d.number = number;
    }
    st.det_count = wrapping_add(st.det_count, frame.detection_count);
    for (result_sink* sink : st.sinks) sink->frame_saved(frame);
    if (!any_recurs) st.pass.every_saved_frame_recurs = false;
    if (!all_recur) st.pass.every_detection_recurs = false;
    st.det_frames = wrapping_add(st.det_frames, 1);
    st.outcome.frames.push_back(std::move(frame));
    return st.outcome.frames.back();
}

void withdraw_scattered_frame(scan_state& st, std::int32_t points, const hit_extent& extent, bool all_recur) {
    st.pass.scattered_frame = true;
    if (!all_recur) st.pass.every_detection_recurs = false;
    scattered_frame f;
    f.threshold = st.threshold;
    f.frame = st.cur_frame;
    f.points = points;
    f.row_span = static_cast<std::int32_t>(extent.row_span());
    f.col_span = static_cast<std::int32_t>(extent.col_span());
    f.every_frame = st.every_frame_pass;
    for (result_sink* sink : st.sinks) sink->frame_scattered(f);
    st.outcome.scattered.push_back(f);
}

void report_snapshot_failure(scan_state& st, const std::string& path, const std::string& why) {
    st.outcome.failed = true;
    if (st.snapshot_failure_reported) return;
    st.snapshot_failure_reported = true;
    const std::string what = "the snapshot " + path + " could not be written (" + why + ")";
    st.hooks.say(engine_message::failure(
        caption_id::snapshot,
        "Error: " + what + ". The frame is counted; later snapshots of this file may be missing too.", what));
    st.outcome.add_problem("snapshots could not be written (" + why + ")");
}

pass_end end_of_pass(const scan_state& st, run_end result) {
    if (result == run_end::failed) return pass_end::failed;
    if (st.outcome.stopped) return pass_end::stopped;
    if (result == run_end::max_det_frames) return pass_end::max_det_frames;
    // Only a withdrawn frame, on which the packets after it start again, keeps a pass from the
    // stop frame.
    if (st.cur_frame <= st.settings.end_frame) return pass_end::scattered;
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

void finish_scan(scan_state& st) {
    for (result_sink* sink : st.sinks) sink->scan_finished(st.det_frames, st.det_count);
    st.outcome.det_frames = st.det_frames;
    st.outcome.det_count = st.det_count;
    if (st.hooks.frame_shown) st.hooks.frame_shown(st.cur_frame);
    st.det_frames = 0;
    st.outcome.result_dir = st.result_dir;
}

void rename_results_folder(scan_state& st) {
    const std::string new_name = final_folder_name(st.result_dir, st.threshold, st.cur_frame);
    const platform::status renamed = st.fs->rename_no_replace(st.result_dir, new_name);
    if (renamed) {
        st.outcome.result_dir = new_name;
        return;
    }
    const std::string why = st.fs->kind_of(new_name) != platform::entry_kind::missing
                                ? new_name + " already exists (it is never replaced)"
                                : renamed.reason();
    st.hooks.say(engine_message::note(
        caption_id::scan, "The results folder " + st.result_dir + " is not renamed to " + new_name + ": " + why +
                              ". The results of this scan are in " + st.result_dir + "."));
}

namespace {

// Starts a pass at st.threshold from the first frame, runs it and says how it went (the caller
// records it).
struct pass_run {
    run_end result = run_end::went_on;
    pass_report report;
};

pass_run run_one_pass(scan_state& st, pass_runner& runner) {
    const scan_settings& cfg = st.settings;
    if (st.hooks.threshold_shown) st.hooks.threshold_shown(st.threshold);
    st.cur_frame = cfg.start_frame;
    st.pass = {};
    for (result_sink* sink : st.sinks) sink->pass_started(st.threshold);
    const std::int32_t frames_before = st.det_frames;
    const std::int32_t count_before = st.det_count;
    pass_run run;
    run.result = runner.run_pass(st);
    pass_report& pass = run.report;
    pass.threshold = st.threshold;
    pass.first_frame = cfg.start_frame;
    pass.frame_reached = st.cur_frame;
    pass.end = end_of_pass(st, run.result);
    if (pass.end == pass_end::scattered)
        pass.frames_not_examined =
            static_cast<std::int32_t>(std::int64_t{cfg.end_frame} + 1 - std::int64_t{st.cur_frame});
    else if (pass.end == pass_end::max_det_frames) // it examined the frame it stood on
        pass.frames_not_examined = static_cast<std::int32_t>(std::int64_t{cfg.end_frame} - std::int64_t{st.cur_frame});
    pass.saved_frames = wrapping_add(st.det_frames, -frames_before);
    pass.detections = wrapping_add(st.det_count, -count_before);
    return run;
}

// The pass over every frame, after the described ones: at complete_threshold from the first
// frame to the last, passing over scattered frames, with no max_det_frames stop. Its frames are
// numbered on from the described passes' (so no snapshot name repeats); the threshold, frame and
// counts the described passes ended with (the closing block, the folder name) are kept.
run_end run_complete_pass(scan_state& st, pass_runner& runner, summary_file& summary) {
    const scan_settings described = st.settings;
    const std::int32_t threshold = st.threshold, frame = st.cur_frame;
    const std::int32_t frames = st.det_frames, count = st.det_count;
    const pass_flags flags = st.pass;
    st.settings.continue_after_scatter = true;
    st.settings.max_det_frames = std::numeric_limits<std::int32_t>::max();
    runner.settings_changed(st);
    st.threshold = described.complete_threshold;
    summary.write("\n------------Every frame examined------------------------------------");
    st.every_frame_pass = true;
    const pass_run run = run_one_pass(st, runner);
    st.every_frame_pass = false;
    pass_report pass = run.report;
    pass.complete = true;
    st.outcome.passes.push_back(pass);
    for (result_sink* sink : st.sinks) sink->pass_ended(pass);
    summary.print("\nEvery frame examined: frames with detections = %d, detections = %d\n", pass.saved_frames,
                  pass.detections);
    if (!summary.flush()) report_summary_failure(st, summary);
    st.settings = described;
    st.threshold = threshold;
    st.cur_frame = frame;
    st.det_frames = frames;
    st.det_count = count;
    st.pass = flags;
    return run.result;
}

} // namespace

void drive_scan(scan_state& st, pass_runner& runner) {
    if (st.fs == nullptr) st.fs = &platform::native_file_system();
    st.outcome = {};
    st.outcome.result_dir = st.result_dir;
    st.snapshot_failure_reported = false;
    st.summary_failure_reported = false;
    const scan_settings& cfg = st.settings;

    if (st.reader == nullptr) {
        fail(st, caption_id::scan, "Error: no SER file is open for the scan.", "no SER file open");
        return;
    }
    scan_settings as_loaded = cfg;
    as_loaded.threshold = st.init_threshold;
    if (const platform::status runnable =
            scan_refusal(as_loaded, st.reader->frames_present(), highest_sample_of_depth(st.reader->depth()));
        !runnable) {
        fail(st, caption_id::scan, "Error: the file cannot be scanned: " + runnable.reason() + ".", runnable.reason());
        return;
    }

    // Set-up.
    if (!display::prep_for_display(st.disp, st.width(), st.height())) {
        fail(st, caption_id::display, "Error: no memory for the display bitmap of the scan.",
             "no memory for the display bitmap");
        return;
    }
    clip_to_image(st.settings, st.width(), st.height());
    if (!runner.prepare(st)) {
        fail(st, caption_id::scan, "Error: no memory for the statistics of the scan.", "no memory for the statistics");
        return;
    }
    st.det_frames = 0;
    st.det_count = 0;

    auto opened = summary_file::open(*st.fs, st.summary_path, platform::write_mode::append);
    if (!opened) {
        fail(st, caption_id::scan, "Error in fopen_s(&fp2, detect_result_path, \"a\")",
             "the summary file " + st.summary_path + " could not be opened for appending (" + opened.reason() + ")");
        return;
    }
    std::unique_ptr<summary_file> summary = std::move(opened.value());
    summary_sink summary_writer(*summary);
    // The summary first: the other sinks see each record after it is stored.
    const std::vector<result_sink*> extra_sinks = st.sinks;
    st.sinks.clear();
    st.sinks.push_back(&summary_writer);
    st.sinks.insert(st.sinks.end(), extra_sinks.begin(), extra_sinks.end());
    const std::int32_t step = cfg.threshold_step;
    st.threshold = st.init_threshold + step;

    bool scan_failed = false;
    if (st.det_frames < cfg.max_det_frames) {
        for (;;) {
            if (static_cast<std::int64_t>(st.threshold) < static_cast<std::int64_t>(step) + lowest_threshold) break;
            st.threshold -= step;
            const pass_run run = run_one_pass(st, runner);
            const run_end result = run.result;
            pass_report pass = run.report;
            pass.raised = result == run_end::max_det_frames && st.threshold >= st.init_threshold &&
                          !raise_withheld(st.pass, st.init_threshold, step);
            st.outcome.passes.push_back(pass);
            for (result_sink* sink : st.sinks) sink->pass_ended(pass);
            // What a pass found is on disk before the next begins, even if the program is killed.
            if (!summary->flush()) report_summary_failure(st, *summary);
            if (frames_unreadable(st)) break;
            if (result == run_end::failed) {
                scan_failed = true;
                break;
            }
            if (st.outcome.stopped) break;
            if (result == run_end::max_det_frames) {
                if (st.threshold < st.init_threshold) break;
                if (raise_withheld(st.pass, st.init_threshold, step)) {
                    st.outcome.raise_withheld = true;
                    break;
                }
                for (result_sink* sink : st.sinks) sink->threshold_raised(st.det_frames, st.det_count);
                st.det_frames = 0;
                st.det_count = 0;
                st.init_threshold += step;
                st.threshold = st.init_threshold + step;
            }
            if (!(st.det_frames < cfg.max_det_frames)) break;
        }
    }

    if (st.outcome.passes.empty() && !st.outcome.failed && !st.outcome.stopped) {
        st.outcome.no_pass = cfg.max_det_frames <= 0
                                 ? format_bounded(256, "Max is %d, so no frame may hold detections", cfg.max_det_frames)
                                 : format_bounded(256, "the initial threshold %d is below the lowest threshold %d",
                                                  st.init_threshold, lowest_threshold);
        const std::string what = "no pass ran and no frame was read: " + st.outcome.no_pass;
        st.hooks.say(engine_message::failure(caption_id::scan,
                                             "Error: " + what + ". The summary holds only the closing block.", what));
    }
    if (cfg.complete && !scan_failed && !st.outcome.stopped && !st.outcome.read_failed && !st.outcome.passes.empty()) {
        scan_failed = run_complete_pass(st, runner, *summary) == run_end::failed;
        frames_unreadable(st);
    }
    if (scan_failed) {
        st.outcome.failed = true;
        st.outcome.add_problem("the statistics of a packet could not be computed");
    }
    runner.before_closing(st);
    frames_unreadable(st);
    finish_scan(st);
    st.sinks = extra_sinks;
    for (const result_sink* sink : extra_sinks)
        if (std::string lost = sink->failure(); !lost.empty()) {
            st.outcome.failed = true;
            st.outcome.add_problem(lost);
        }
    if (summary->failed()) report_summary_failure(st, *summary);
    if (st.outcome.failed) {
        // Not counts as if complete: the summary ends saying what is missing.
        st.outcome.incomplete = true;
        summary->write("------The scan of this file is incomplete: " + st.outcome.problem_text() + ".------\n");
    }
    if (!summary->close()) report_summary_failure(st, *summary);
    if (!scan_failed) rename_results_folder(st);
}

namespace {

// The straightforward scan: per packet the statistics, the masks and the detector, each frame
// read again for every pass.
class reference_runner final : public pass_runner {
public:
    bool prepare(scan_state& st) override {
        const std::size_t pixels = st.reader->samples_per_frame();
        try {
            st.frame_buf.resize(pixels);
            st.mean_map.assign(pixels, 0.0);
            st.sigma_map.assign(pixels, 0.0);
            st.star_map.assign(pixels, 0);
        } catch (const std::bad_alloc&) {
            release_maps(st);
            return false;
        }
        return true;
    }

    run_end run_pass(scan_state& st) override {
        const scan_settings& cfg = st.settings;
        const std::int32_t range = cfg.end_frame - cfg.start_frame + 1;
        const std::int32_t npackets = range / cfg.packet_size;
        const std::int32_t remainder = range % cfg.packet_size;
        std::fill(st.star_map.begin(), st.star_map.end(), 0);
        if (cfg.continue_after_scatter) return run_pass_past_scatter(st);
        run_end result = run_end::went_on;
        for (std::int32_t p = 0; p < npackets; ++p) {
            st.packet_first_frame = st.cur_frame;
            if (!compute_packet_stats(st)) return run_end::failed;
            apply_masks(st, st.switches);
            result = detect_in_packet(st, cfg.packet_size);
            if (result == run_end::max_det_frames || st.outcome.stopped) return result;
            if (st.hooks.should_stop()) {
                st.outcome.stopped = true;
                return run_end::went_on;
            }
        }
        if (remainder != 0 && result == run_end::went_on) result = detect_in_packet(st, remainder);
        return result;
    }

private:
    // detect_in_packet stops on a withdrawn frame without passing it.
    static bool held_by_scatter(const scan_state& st, run_end result, std::int64_t end) {
        return result == run_end::went_on && !st.outcome.stopped && st.cur_frame < end;
    }

    // A withdrawn frame is passed over and the next packet starts after it, so that every
    // frame of the range is examined against a packet that holds it; the frames after the last
    // whole packet are examined against that packet's statistics.
    static run_end run_pass_past_scatter(scan_state& st) {
        const scan_settings& cfg = st.settings;
        const std::int64_t last = cfg.end_frame;
        while (std::int64_t{st.cur_frame} + cfg.packet_size - 1 <= last) {
            st.packet_first_frame = st.cur_frame;
            if (!compute_packet_stats(st)) return run_end::failed;
            apply_masks(st, st.switches);
            const std::int64_t end = std::int64_t{st.cur_frame} + cfg.packet_size;
            const run_end result = detect_in_packet(st, cfg.packet_size);
            if (result == run_end::max_det_frames || st.outcome.stopped) return result;
            if (held_by_scatter(st, result, end)) st.cur_frame = wrapping_add(st.cur_frame, 1);
            if (st.hooks.should_stop()) {
                st.outcome.stopped = true;
                return run_end::went_on;
            }
        }
        while (st.cur_frame <= last) {
            const std::int64_t end = last + 1;
            const run_end result = detect_in_packet(st, static_cast<std::int32_t>(end - st.cur_frame));
            if (result == run_end::max_det_frames || st.outcome.stopped) return result;
            if (!held_by_scatter(st, result, end)) break;
            st.cur_frame = wrapping_add(st.cur_frame, 1);
        }
        return run_end::went_on;
    }
};

} // namespace

void run_scan(scan_state& st) {
    reference_runner runner;
    drive_scan(st, runner);
    release_maps(st);
}

} // namespace serflash::detect
