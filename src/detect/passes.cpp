#include "detect/passes.h"

#include "detect/batch.h"
#include "detect/detector.h"
#include "detect/summary_file.h"

#include <limits>
#include <new>

namespace serflash::detect {
namespace {

constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t lowest_threshold = 45;

void add_problem(scan_state& st, const std::string& what) {
    if (!st.outcome.problem.empty()) st.outcome.problem += "; ";
    st.outcome.problem += what;
}

void fail(scan_state& st, const std::string& caption, const std::string& text, const std::string& what) {
    st.hooks.say(caption, text);
    st.outcome.failed = true;
    add_problem(st, what);
}

void release_maps(scan_state& st) {
    st.mean_map = {};
    st.sigma_map = {};
    st.star_map = {};
}

} // namespace

std::string scan_refusal(const scan_settings& s, std::int32_t frames_present) {
    if (s.packet_size < 1) return format_bounded(256, "the packet size is %d; it must be at least 1", s.packet_size);
    if (s.start_frame < 0) return format_bounded(256, "the start frame %d is below 0", s.start_frame);
    if (s.end_frame >= frames_present)
        return format_bounded(256, "the stop frame %d is not in the file, which holds %d frames (0 to %d)", s.end_frame,
                              frames_present, frames_present - 1);
    const std::int64_t range = static_cast<std::int64_t>(s.end_frame) - s.start_frame + 1;
    if (range < s.packet_size)
        return format_bounded(256, "the frames %d to %d are fewer than one packet of %d frames", s.start_frame,
                              s.end_frame, s.packet_size);
    if (s.threshold_step < 1)
        return format_bounded(256, "the threshold step is %d; it must be at least 1", s.threshold_step);
    if (static_cast<std::int64_t>(s.threshold) + s.threshold_step > int32_max)
        return format_bounded(256, "the initial threshold %d and the step %d are too large", s.threshold,
                              s.threshold_step);
    return {};
}

bool raise_withheld(const pass_record& pass, std::int32_t init_threshold, std::int32_t step) {
    if (static_cast<std::int64_t>(init_threshold) + 2 * static_cast<std::int64_t>(step) > int32_max) return true;
    if (!pass.scattered_frame && pass.every_saved_frame_recurs) return true;
    return pass.every_detection_recurs;
}

std::string final_folder_name(const std::string& result_dir, std::int32_t threshold, std::int32_t frame) {
    return format_bounded(result_dir.size() + 32, "%s_s%d_%d", result_dir.c_str(), threshold, frame);
}

void finish_scan(scan_state& st, bool rename_folder) {
    if (st.fp2 != nullptr) write_closing_block(*st.fp2, st.det_frames, st.det_count);
    st.outcome.det_frames = st.det_frames;
    st.outcome.det_count = st.det_count;
    if (st.hooks.frame_shown) st.hooks.frame_shown(st.cur_frame);
    st.det_frames = 0;
    st.outcome.final_dir = st.result_dir;
    if (!rename_folder) return;
    const std::string new_name = final_folder_name(st.result_dir, st.threshold, st.cur_frame);
    if (st.fs->rename_no_replace(st.result_dir, new_name)) st.outcome.final_dir = new_name;
}

void drive_scan(scan_state& st, pass_runner& runner) {
    if (st.fs == nullptr) st.fs = &platform::native_file_system();
    st.outcome = {};
    st.outcome.final_dir = st.result_dir;
    st.snapshot_failure_reported = false;
    const scan_settings& cfg = st.settings;

    if (st.reader == nullptr) {
        fail(st, "case IDC_SCAN", "Error: no SER file is open for the scan.", "no SER file open");
        return;
    }
    scan_settings as_loaded = cfg;
    as_loaded.threshold = st.init_threshold;
    const std::string refusal = scan_refusal(as_loaded, st.reader->frames_present());
    if (!refusal.empty()) {
        fail(st, "case IDC_SCAN", "Error: the file cannot be scanned: " + refusal + ".", refusal);
        return;
    }

    // Set-up.
    if (!display::prep_for_display(st.disp, st.width(), st.height())) {
        fail(st, "prep_for_display()", "Error: no memory for the display bitmap of the scan.",
             "no memory for the display bitmap");
        return;
    }
    if (!runner.prepare(st)) {
        fail(st, "case IDC_SCAN", "Error: no memory for the statistics of the scan.", "no memory for the statistics");
        return;
    }
    st.det_frames = 0;
    st.det_count = 0;

    std::string open_error;
    auto summary = summary_file::open(*st.fs, st.detect_result_path, platform::write_mode::append, &open_error);
    if (!summary) {
        fail(st, "case IDC_SCAN", "Error in fopen_s(&fp2, detect_result_path, \"a\")",
             "the summary file " + st.detect_result_path + " could not be opened for appending (" + open_error + ")");
        return;
    }
    st.fp2 = summary.get();
    const std::int32_t step = cfg.threshold_step;
    st.threshold = st.init_threshold + step;

    bool scan_failed = false;
    if (st.det_frames < cfg.max_det_frames) {
        for (;;) {
            if (static_cast<std::int64_t>(st.threshold) < static_cast<std::int64_t>(step) + lowest_threshold) break;
            st.threshold -= step;
            if (st.hooks.threshold_shown) st.hooks.threshold_shown(st.threshold);
            st.cur_frame = cfg.start_frame;
            st.pass = {};
            write_pass_header(*st.fp2, st.threshold);

            const int result = runner.run_pass(st);
            if (result < 0) {
                scan_failed = true;
                break;
            }
            if (st.outcome.stopped) break;
            if (result == 1) {
                if (st.threshold < st.init_threshold) break;
                if (raise_withheld(st.pass, st.init_threshold, step)) {
                    st.outcome.raise_withheld = true;
                    break;
                }
                write_raise_block(*st.fp2, st.det_frames, st.det_count);
                st.det_frames = 0;
                st.det_count = 0;
                st.init_threshold += step;
                st.threshold = st.init_threshold + step;
            }
            if (!(st.det_frames < cfg.max_det_frames)) break;
        }
    }

    if (scan_failed) {
        st.outcome.failed = true;
        add_problem(st, "the statistics of a packet could not be computed");
    }
    runner.before_closing(st);
    finish_scan(st, !scan_failed);
    st.fp2 = nullptr;
    if (!summary->close()) {
        st.hooks.say("case IDC_SCAN",
                     "Error: the summary file " + st.detect_result_path + " could not be written completely.");
        st.outcome.failed = true;
        add_problem(st, "the summary file could not be written completely");
    }
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

    int run_pass(scan_state& st) override {
        const scan_settings& cfg = st.settings;
        const std::int32_t range = cfg.end_frame - cfg.start_frame + 1;
        const std::int32_t npackets = range / cfg.packet_size;
        const std::int32_t remainder = range % cfg.packet_size;
        std::fill(st.star_map.begin(), st.star_map.end(), 0);
        int result = 0;
        for (std::int32_t p = 0; p < npackets; ++p) {
            if (!compute_packet_stats(st)) return -1;
            apply_masks(st, st.hooks.ask_switches());
            result = detect_in_packet(st, cfg.packet_size);
            if (result == 1 || st.outcome.stopped) return result;
            if (st.hooks.should_stop()) {
                st.outcome.stopped = true;
                return 0;
            }
        }
        if (remainder != 0 && result == 0) result = detect_in_packet(st, remainder);
        return result;
    }
};

} // namespace

void run_scan(scan_state& st) {
    reference_runner runner;
    drive_scan(st, runner);
    release_maps(st);
}

} // namespace serflash::detect
