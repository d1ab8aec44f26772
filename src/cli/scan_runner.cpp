#include "cli/scan_runner.h"

#include "detect/fast_scan.h"
#include "detect/format.h"
#include "detect/passes.h"
#include "report/observation_sinks.h"
#include "report/snapshot_png.h"
#include "report/tables.h"
#include "ser/ser_reader.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>

namespace serflash::cli {
namespace {

// A message box on stderr: its caption, then its text. Names in messages reach the terminal with
// their control characters escaped.
void print_message(std::ostream& err, const detect::engine_message& m) {
    const std::string caption = detect::printable_text(std::string(detect::caption_text(m.caption)));
    const std::string shown = detect::printable_text(m.text, true);
    if (m.text.find('\n') != std::string::npos)
        err << caption << ":\n" << shown << "\n";
    else
        err << caption << ": " << shown << "\n";
}

// Passes that a scattered frame held before the stop frame: a scan that looked at only part of
// the file must say so.
void print_held_passes(std::ostream& out, const detect::file_report& f) {
    std::string held;
    for (const detect::pass_report& p : f.passes) {
        if (p.end != detect::pass_end::scattered) continue;
        held += (held.empty() ? "" : "; ") + std::to_string(p.threshold) + " at frame " +
                std::to_string(p.frame_reached) + ", " + std::to_string(p.frames_not_examined) + " frames not examined";
    }
    if (!held.empty()) out << " (passes held by a scattered frame: " << held << ")";
    std::string full;
    for (const detect::pass_report& p : f.passes) {
        if (p.end != detect::pass_end::max_det_frames || p.frames_not_examined <= 0) continue;
        full += (full.empty() ? "" : "; ") + std::to_string(p.threshold) + " at frame " +
                std::to_string(p.frame_reached) + ", " + std::to_string(p.frames_not_examined) + " frames not examined";
    }
    if (!full.empty()) out << " (passes ended at Max frames with detections: " << full << ")";
}

void print_results_line(std::ostream& out, const detect::file_report& f) {
    using detect::file_outcome;
    out << f.result_dir << ": threshold " << f.final_threshold << ", " << f.det_frames << " frames with detections, "
        << f.det_count << " detections, " << f.examined_text();
    const folder_usage used = usage_of_folder(f.result_dir);
    out << ", " << readable_size(used.bytes) << " in " << used.files << (used.files == 1 ? " file" : " files");
    if (f.outcome == file_outcome::stopped) out << " (stopped by the user)";
    if (f.raise_withheld) out << " (not raised further: the same detections would recur at every threshold)";
    if (!f.byte_order_warning.empty()) out << " (warning: " << f.byte_order_warning << ")";
    if (!f.no_pass.empty()) out << " (FAILED: no pass ran: " << f.no_pass << ")";
    if (f.incomplete)
        out << " (FAILED, the scan is incomplete: " << f.problem_text() << ")";
    else if (!f.problems.empty())
        out << " (problem: " << f.problem_text() << ")";
    if (!f.folder_taken.empty())
        out << " (" << f.folder_taken << " was taken by earlier results, so a new folder was used)";
    print_held_passes(out, f);
    out << "\n";
}

void print_file_line(std::ostream& terminal, const detect::file_report& f) {
    using detect::file_outcome;
    std::ostringstream out;
    switch (f.outcome) {
        case file_outcome::scanned:
        case file_outcome::stopped:
            print_results_line(out, f);
            break;
        case file_outcome::skipped_depth:
            out << f.path << ": skipped: " << f.problem_text() << " (its results folder " << f.result_dir
                << " stays empty)\n";
            break;
        case file_outcome::failed:
            if (f.incomplete || !f.no_pass.empty())
                print_results_line(out, f);
            else
                out << f.path << ": not scanned: " << f.problem_text() << "\n";
            break;
        case file_outcome::not_reached:
            out << f.path << ": not scanned: the run was stopped before it\n";
            break;
    }
    const std::string line = out.str();
    terminal << detect::printable_text(std::string_view(line).substr(0, line.size() - 1)) << "\n";
}

} // namespace

folder_usage usage_of_folder(const std::string& dir) {
    namespace fs = std::filesystem;
    folder_usage used;
    std::error_code ec;
    // Links are counted as what they are, never followed.
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code entry_ec;
        const fs::file_status status = it->symlink_status(entry_ec);
        if (entry_ec || !fs::is_regular_file(status)) continue;
        const std::uintmax_t size = it->file_size(entry_ec);
        if (entry_ec) continue;
        used.bytes += size;
        ++used.files;
    }
    return used;
}

std::string readable_size(std::uintmax_t bytes) {
    const auto scaled = [bytes](double unit, const char* name) {
        char text[32];
        std::snprintf(text, sizeof text, "%.1f %s", static_cast<double>(bytes) / unit, name);
        return std::string(text);
    };
    if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
    if (bytes < 1000 * 1000) return scaled(1e3, "kB");
    if (bytes < 1000ULL * 1000 * 1000) return scaled(1e6, "MB");
    return scaled(1e9, "GB");
}

void complete_job(const scan_request& request, std::int32_t frames, std::int32_t depth, detect::scan_job& job) {
    const detect::scan_settings d = detect::default_settings(frames, depth, request.bit_shift);
    const file_values& v = request.per_file;
    job.settings.start_frame = v.start_frame.value_or(d.start_frame);
    job.settings.end_frame = v.end_frame.value_or(d.end_frame);
    job.settings.max_det_frames = v.max_det_frames.value_or(d.max_det_frames);
    job.settings.packet_size = v.packet_size.value_or(d.packet_size);
    job.settings.blue_level = v.blue_level.value_or(d.blue_level);
    job.settings.red_level = v.red_level.value_or(d.red_level);
    job.settings.brightness = v.brightness.value_or(d.brightness);
}

detect::scan_job job_before_reading(const scan_request& request, const std::string& path) {
    detect::scan_job job;
    job.path = path;
    job.settings = request.settings;
    job.switches = request.switches;
    job.bit_shift = request.bit_shift;
    job.swap_bytes = request.swap_bytes;
    job.fps = request.fps;
    complete_job(request, 0, 16, job);
    return job;
}

detect::scan_job job_for(const scan_request& request, const std::string& path) {
    std::int32_t frames = 0;
    std::int32_t depth = 16;
    if (auto file = platform::native_file_system().open_read(path)) {
        ser::ser_reader reader(std::move(file.value()));
        reader.read_ser_header();
        frames = reader.frames_present();
        depth = reader.depth();
    }
    detect::scan_job job = job_before_reading(request, path);
    complete_job(request, frames, depth, job);
    return job;
}

bool scan_run::all_scanned() const {
    if (stopped || files.empty()) return false;
    for (const auto& f : files)
        if (f.outcome != detect::file_outcome::scanned) return false;
    return true;
}

std::optional<std::array<std::int32_t, 4>> parse_rectangle(const std::string& text) {
    std::array<std::int32_t, 4> v{};
    const char* p = text.data();
    const char* end = text.data() + text.size();
    for (std::size_t k = 0; k < 4; ++k) {
        const auto [next, ec] = std::from_chars(p, end, v[k]);
        if (ec != std::errc{}) return std::nullopt;
        p = next;
        if (k < 3) {
            if (p == end || *p != ',') return std::nullopt;
            ++p;
        }
    }
    if (p != end) return std::nullopt;
    return v;
}

scan_run run_scan_request(const scan_request& request, std::ostream& out, std::ostream& err, progress_display* progress,
                          const std::function<bool()>& stop_requested) {
    scan_run run;
    progress_display none(err, progress_mode::none);
    progress_display& line = progress != nullptr ? *progress : none;

    detect::batch_request batch;
    // Each file is opened once, by its scan, which fills in the values its header decides.
    for (const std::string& path : request.files) batch.jobs.push_back(job_before_reading(request, path));
    if (batch.jobs.empty()) return run;
    batch.complete_job = [&request](detect::scan_job& job, const ser::ser_reader& reader) {
        complete_job(request, reader.frames_present(), reader.depth(), job);
    };
    batch.results_parent = request.dir;
    batch.png_encoder = report::png_snapshot_encoder();
    std::optional<detect::engine_message> closing;
    batch.hooks.message = [&](const detect::engine_message& m) {
        if (m.kind == detect::message_kind::closing) {
            closing = m; // printed after the lines of the files
            return;
        }
        line.clear();
        out << std::flush;
        print_message(err, m);
    };
    if (line.enabled())
        batch.hooks.progress = [&](const detect::scan_progress& p) {
            line.show(request.files[static_cast<std::size_t>(p.file_index)], p);
        };
    batch.hooks.stop_requested = stop_requested;
    // The batch shares the machine's cores among the files it scans at once.
    batch.jobs_at_once = std::max(1U, request.jobs);
    if (request.reference) {
        batch.scanner = detect::run_scan;
    } else {
        detect::fast_scan_options fast;
        fast.threads = request.threads;
        batch.scanner = detect::make_fast_scanner(fast);
    }
    // The candidates' files are written on the threads that scan; their lines and what went
    // wrong are printed here. A file listed twice is scanned twice in table order, so each path's
    // observations arrive in the order of its rows.
    std::mutex observed_mutex;
    std::vector<std::string> problems;
    std::map<std::string, std::deque<std::vector<std::string>>> candidate_lines;
    report::observation_options observation;
    observation.zero_point = request.zero_point;
    observation.moon = request.moon;
    observation.observed = [&](const report::observation& o, const std::string& problem) {
        std::vector<std::string> lines;
        for (const report::measured_candidate& m : o.candidates) lines.push_back(report::candidate_line(m, o.times));
        const std::lock_guard lock(observed_mutex);
        candidate_lines[o.path].push_back(std::move(lines));
        if (!problem.empty()) problems.push_back(problem);
    };
    batch.sinks = report::observation_sinks(observation);
    const detect::batch_report report = detect::run_batch(batch);
    line.clear();
    run.start = report.start;
    run.end = report.end;
    run.stopped = report.stopped;
    for (std::size_t i = 0; i < report.files.size(); ++i) {
        const detect::file_report& f = report.files[i];
        print_file_line(out, f);
        if (auto it = candidate_lines.find(f.path); it != candidate_lines.end() && !it->second.empty()) {
            for (const std::string& text : it->second.front()) out << "  " << text << "\n";
            it->second.pop_front();
        }
        run.files.push_back(f);
    }
    out << std::flush;
    for (const std::string& problem : problems) err << "serflash scan: " << detect::printable_text(problem) << "\n";
    if (closing) print_message(err, *closing);
    return run;
}

} // namespace serflash::cli
