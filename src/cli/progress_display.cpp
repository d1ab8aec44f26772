#include "cli/progress_display.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>
#include <ostream>
#include <sys/ioctl.h>
#include <unistd.h>

namespace serflash::cli {
namespace {

// A few redraws a second at most.
constexpr auto redraw_interval = std::chrono::milliseconds(250);

std::string file_name_of(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int terminal_columns() {
    struct winsize ws {};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 100;
}

std::string percent_text(double fraction) {
    char text[16];
    std::snprintf(text, sizeof text, "%.1f %%", fraction * 100.0);
    return text;
}

// Cut at a character boundary so that the line never wraps (a wrapped line is not redrawn).
std::string fit(std::string text, int columns) {
    const std::size_t width = static_cast<std::size_t>(std::max(columns - 1, 10));
    std::size_t chars = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
        if (++chars > width) return text.substr(0, i);
    }
    return text;
}

void put_json(std::ostream& err, const nlohmann::json& record) {
    err << record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n" << std::flush;
}

nlohmann::json eta_json(std::optional<double> eta) {
    if (!eta) return nullptr;
    return std::round(*eta * 10.0) / 10.0;
}

} // namespace

progress_mode progress_mode_for(const std::string& name, bool quiet, bool terminal) {
    if (name == "json") return progress_mode::json;
    if (name == "none" || quiet || !terminal) return progress_mode::none;
    return progress_mode::line;
}

std::string duration_text(double seconds) {
    const long s = std::lround(std::max(seconds, 0.0));
    char text[32];
    if (s < 60)
        std::snprintf(text, sizeof text, "%ld s", s);
    else if (s < 3600)
        std::snprintf(text, sizeof text, "%ld min %02ld s", s / 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld h %02ld min", s / 3600, (s % 3600) / 60);
    return text;
}

progress_display::progress_display(std::ostream& err, progress_mode mode, clock now, std::optional<int> columns)
    : err_(err),
      mode_(mode),
      now_(now ? std::move(now) : clock(std::chrono::steady_clock::now)),
      columns_(columns ? *columns : (mode == progress_mode::line ? terminal_columns() : 100)) {}

std::string progress_display::line_text(const std::string& name, const detect::scan_progress& p) {
    std::string text = "file " + std::to_string(p.file_index + 1) + " of " + std::to_string(p.file_count) + ": " +
                       name + ", pass " + std::to_string(p.pass) + " at threshold " + std::to_string(p.threshold);
    char rate[32];
    std::snprintf(rate, sizeof rate, ", %.0f frames/s", p.frames_per_second());
    text += rate;
    text += ", " + percent_text(p.fraction());
    if (const auto eta = p.eta_s())
        text += ", " + std::string(p.total_estimated ? "about " : "") + duration_text(*eta) + " left";
    return text;
}

bool progress_display::due(bool final_record) {
    const auto t = now_();
    if (!final_record && any_ && t - last_ < redraw_interval) return false;
    last_ = t;
    any_ = true;
    return true;
}

void progress_display::put_line(std::string text) {
    err_ << "\r" << fit(std::move(text), columns_) << "\x1b[K" << std::flush;
    shown_ = true;
}

void progress_display::show(const std::string& path, const detect::scan_progress& p) {
    if (mode_ == progress_mode::none) return;
    const std::lock_guard lock(mutex_);
    // The last record of each file is always written as JSON; a line need not show it.
    const bool file_end = p.file_fraction >= 1.0;
    if (!due(mode_ == progress_mode::json && file_end)) return;
    if (mode_ == progress_mode::line) {
        put_line(line_text(file_name_of(path), p));
        return;
    }
    put_json(err_, {{"stage", "scan"},
                    {"file", path},
                    {"file_index", p.file_index},
                    {"file_count", p.file_count},
                    {"pass", p.pass},
                    {"threshold", p.threshold},
                    {"frame", p.frame},
                    {"frames_done", p.frames_done},
                    {"frames_total", p.frames_total},
                    {"total_estimated", p.total_estimated},
                    {"fraction", std::round(p.fraction() * 1e4) / 1e4},
                    {"eta_s", eta_json(p.eta_s())}});
}

void progress_display::show_runs(const std::string& path, int file_index, int file_count, std::int32_t done,
                                 std::int32_t runs) {
    if (mode_ == progress_mode::none) return;
    const std::lock_guard lock(mutex_);
    const auto t = now_();
    if (!due(done >= runs && mode_ == progress_mode::json)) return;
    detect::scan_progress p;
    p.frames_done = done;
    p.frames_total = runs;
    p.elapsed_s = std::chrono::duration<double>(t - runs_start_).count();
    if (mode_ == progress_mode::line) {
        std::string text = "file " + std::to_string(file_index + 1) + " of " + std::to_string(file_count) + ": " +
                           file_name_of(path) + ", injected run " + std::to_string(done) + " of " +
                           std::to_string(runs) + ", " + percent_text(p.fraction());
        if (const auto eta = p.eta_s()) text += ", " + duration_text(*eta) + " left";
        put_line(std::move(text));
        return;
    }
    put_json(err_, {{"stage", "sensitivity"},
                    {"file", path},
                    {"file_index", file_index},
                    {"file_count", file_count},
                    {"pass", nullptr},
                    {"frame", nullptr},
                    {"frames_total", nullptr},
                    {"run", done},
                    {"runs", runs},
                    {"fraction", std::round(p.fraction() * 1e4) / 1e4},
                    {"eta_s", eta_json(p.eta_s())}});
}

void progress_display::start_runs() {
    const std::lock_guard lock(mutex_);
    runs_start_ = now_();
}

void progress_display::clear() {
    const std::lock_guard lock(mutex_);
    if (mode_ == progress_mode::line && shown_) err_ << "\r\x1b[K" << std::flush;
    shown_ = false;
}

} // namespace serflash::cli
