#include "cli/scan_runner.h"

#include "detect/fast_scan.h"
#include "ser/ser_reader.h"
#include "ui/control_ids.h"
#include "ui/panel_defaults.h"
#include "ui/scan_table.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <ostream>
#include <thread>

namespace serflash::cli {
namespace {

constexpr const char* done_caption = "The scans of all SER files completed!";

std::string file_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

class progress_line {
public:
    progress_line(std::ostream& err, bool enabled) : err_(err), enabled_(enabled) {}
    void show(const std::string& name, const detect::scan_progress& p) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (shown_ && now - last_ < std::chrono::milliseconds(100)) return;
        last_ = now;
        shown_ = true;
        std::string text = "[" + std::to_string(p.file_index + 1) + "/" + std::to_string(p.file_count) + "] " + name +
                           "  threshold " + std::to_string(p.threshold) + "  frame " + std::to_string(p.frame) + " (" +
                           std::to_string(p.start_frame) + ".." + std::to_string(p.end_frame) + ")";
        if (text.size() > 100) text = text.substr(0, 100);
        err_ << "\r" << text << "\x1b[K" << std::flush;
    }
    void clear() {
        if (enabled_ && shown_) err_ << "\r\x1b[K" << std::flush;
        shown_ = false;
    }

private:
    std::ostream& err_;
    bool enabled_;
    bool shown_ = false;
    std::chrono::steady_clock::time_point last_{};
};

void print_message(std::ostream& err, const std::string& caption, const std::string& text) {
    if (text.find('\n') != std::string::npos)
        err << caption << ":\n" << text << "\n";
    else
        err << caption << ": " << text << "\n";
}

void print_file_line(std::ostream& out, const detect::file_report& f) {
    using detect::file_outcome;
    switch (f.outcome) {
        case file_outcome::scanned:
        case file_outcome::stopped:
            out << f.result_dir << ": threshold " << f.final_threshold << ", " << f.det_frames
                << " frames with detections, " << f.det_count << " detections, last frame " << f.last_frame;
            if (f.outcome == file_outcome::stopped) out << " (stopped by the user)";
            if (f.raise_withheld) out << " (not raised further: the same detections would recur at every threshold)";
            if (!f.problem.empty()) out << " (problem: " << f.problem << ")";
            out << "\n";
            break;
        case file_outcome::skipped_depth:
            out << f.path << ": skipped: " << f.problem << " (its results folder " << f.result_dir << " stays empty)\n";
            break;
        case file_outcome::failed:
            out << f.path << ": not scanned: " << f.problem << "\n";
            break;
        case file_outcome::not_reached:
            out << f.path << ": not scanned: the run was stopped before it\n";
            break;
    }
}

} // namespace

std::array<std::string, ui::column_count> row_for(const std::string& path, std::int32_t bit_shift) {
    std::int32_t frames = 0;
    std::int32_t depth = 16;
    if (auto file = platform::native_file_system().open_read(path)) {
        ser::ser_reader reader(std::move(file));
        reader.read_ser_header();
        frames = reader.frames_present();
        depth = reader.depth();
    }
    return ui::default_row(file_name_of(path), frames, depth, bit_shift);
}

ui::dialog_fields panel_fields(const scan_request& request) {
    ui::dialog_fields fields;
    ui::set_panel_defaults(fields);
    fields.set_int(ui::id::BIT_SHIFT, request.bit_shift);
    for (const auto& [id, value] : request.field_values) fields.set_int(id, value);
    for (const auto& [id, on] : request.switches) fields.set_checked(id, on);
    return fields;
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

scan_run run_scan_request(const scan_request& request, std::ostream& out, std::ostream& err, bool progress,
                          const std::function<bool()>& stop_requested) {
    const ui::dialog_fields fields = panel_fields(request);
    scan_run run;
    progress_line line(err, progress);
    std::string current_name;
    std::optional<detect::local_time> first_start;

    for (std::size_t first = 0; first < request.files.size() && !run.stopped;
         first += static_cast<std::size_t>(ui::max_listed_files)) {
        ui::scan_table table;
        const std::size_t count =
            std::min(request.files.size() - first, static_cast<std::size_t>(ui::max_listed_files));
        for (std::size_t k = 0; k < count; ++k) {
            const std::string& path = request.files[first + k];
            table.file_path[k] = path;
            table.insert_row(row_for(path, request.bit_shift));
            ++table.list_file;
            for (const auto& [col, value] : request.row_values)
                table.set_cell(static_cast<int>(k), col, std::to_string(value));
        }

        detect::batch_request batch;
        batch.table = &table;
        batch.fields = &fields;
        batch.bit_shift = request.bit_shift;
        batch.results_parent = request.dir;
        batch.hooks.message = [&](const std::string& caption, const std::string& text) {
            if (caption == done_caption) return; // printed once, after the last file
            line.clear();
            out << std::flush;
            print_message(err, caption, text);
        };
        batch.hooks.row_marked = [&](int row) {
            current_name = file_name_of(table.file_path[static_cast<std::size_t>(row)]);
        };
        batch.hooks.progress = [&](const detect::scan_progress& p) {
            detect::scan_progress shown = p;
            shown.file_index = static_cast<int>(first) + p.file_index;
            if (batch.jobs > 1) current_name = file_name_of(table.file_path[static_cast<std::size_t>(p.file_index)]);
            shown.file_count = static_cast<int>(request.files.size());
            line.show(current_name, shown);
        };
        batch.hooks.stop_requested = stop_requested;
        batch.jobs = std::max(1U, request.jobs);
        if (request.reference) {
            batch.scanner = detect::run_scan;
        } else {
            // The cores are shared among the files scanned at once.
            detect::fast_scan_options fast;
            fast.threads = std::max(1U, std::thread::hardware_concurrency() / batch.jobs);
            batch.scanner = detect::make_fast_scanner(fast);
        }
        const detect::batch_report report = detect::run_batch(batch);
        line.clear();
        if (!first_start) first_start = report.start;
        run.end = report.end;
        if (report.stopped) run.stopped = true;
        for (const auto& f : report.files) {
            print_file_line(out, f);
            run.files.push_back(f);
        }
        out << std::flush;
    }
    for (std::size_t k = run.files.size(); k < request.files.size(); ++k) {
        detect::file_report f;
        f.path = request.files[k];
        print_file_line(out, f);
        run.files.push_back(f);
    }
    if (first_start) {
        run.start = *first_start;
        detect::batch_report times;
        times.start = run.start;
        times.end = run.end;
        out << std::flush;
        print_message(err, done_caption, times.times_message());
    }
    return run;
}

} // namespace serflash::cli
