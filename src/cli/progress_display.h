#pragma once
// The progress of a long run on stderr: one line redrawn in place on a terminal, or one JSON
// object per line for pipelines and other front ends.
#include "detect/engine_hooks.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <mutex>
#include <optional>
#include <string>

namespace serflash::cli {

enum class progress_mode { none, line, json };

// "auto" (a line when stderr is a terminal, unless quiet), "json" or "none".
inline constexpr const char* progress_mode_names[] = {"auto", "json", "none"};
progress_mode progress_mode_for(const std::string& name, bool quiet, bool terminal);

// "45 s", "3 min 12 s", "2 h 05 min".
std::string duration_text(double seconds);

class progress_display {
public:
    using clock = std::function<std::chrono::steady_clock::time_point()>;
    // `columns`: the width of the line (null: the terminal's, else 100).
    progress_display(std::ostream& err, progress_mode mode, clock now = {}, std::optional<int> columns = {});

    // A scan's progress; `path` is the file's as given.
    void show(const std::string& path, const detect::scan_progress& p);
    // The injected runs of a sensitivity measurement begin (their time left is measured from here),
    // then `done` of `runs` have ended, for file k of n.
    void start_runs();
    void show_runs(const std::string& path, int file_index, int file_count, std::int32_t done, std::int32_t runs);
    // Removes the line before other output (nothing for JSON).
    void clear();

    bool enabled() const { return mode_ != progress_mode::none; }
    // The text of the live line (without redraw codes), for tests.
    static std::string line_text(const std::string& name, const detect::scan_progress& p);

private:
    bool due(bool final_record);
    void put_line(std::string text);

    std::ostream& err_;
    progress_mode mode_;
    clock now_;
    int columns_;
    std::mutex mutex_; // the injected runs report from several threads
    bool shown_ = false;
    bool any_ = false;
    std::chrono::steady_clock::time_point last_{};
    std::chrono::steady_clock::time_point runs_start_{};
};

} // namespace serflash::cli
