#pragma once
// The scan of a list of SER files from the command line: one job per file from the options,
// then the batch, with a line per file and per candidate.
#include "cli/progress_display.h"
#include "detect/batch.h"
#include "photometry/zero_point.h"
#include "report/moon_observation.h"

#include <array>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace serflash::cli {

// The per-file values given on the command line for every file; what is not given comes from
// each file's header as when the desktop program lists the file.
struct file_values {
    std::optional<std::int32_t> start_frame, end_frame, max_det_frames, packet_size, blue_level, red_level, brightness;
};

// What the command line asks for; what is not given keeps the desktop program's default.
struct scan_request {
    std::vector<std::string> files;
    std::string dir = ".";
    detect::scan_settings settings; // the values for every file (the per-file ones are not used)
    detect::mask_switches switches;
    std::int32_t bit_shift = 0;
    bool swap_bytes = false; // 16-bit samples stored high byte first
    file_values per_file;
    unsigned jobs = 1;      // files scanned at once
    unsigned threads = 0;   // threads for each file; 0: all cores (shared among the jobs)
    bool reference = false; // the straightforward scan instead of the fast one
    double fps = 0.0;       // frame rate for times from the header of files without time stamps
    std::optional<photometry::zero_point> zero_point; // the candidates' magnitudes and energies
    report::moon_options moon; // the site, turn and mirror, for the candidates' places on the Moon
};

struct scan_run {
    std::vector<detect::file_report> files;
    detect::local_time start, end;
    bool stopped = false;
    bool all_scanned() const;
};

// Scans the files in order, printing one line per file to out (followed by one line per
// candidate), messages to err and the progress on `progress` (null: none). Each results folder
// also gets the candidates table, document and report page.
scan_run run_scan_request(const scan_request& request, std::ostream& out, std::ostream& err, progress_display* progress,
                          const std::function<bool()>& stop_requested = {});

// The job of one file: its header's defaults with the request's values (a file that cannot be
// read gets those of an empty file, and the batch reports it).
detect::scan_job job_for(const scan_request& request, const std::string& path);
// The regular files directly in a results folder (links are not followed) and their bytes.
struct folder_usage {
    std::uintmax_t bytes = 0;
    std::size_t files = 0;
};
folder_usage usage_of_folder(const std::string& dir);
// "512 bytes", "12.3 kB", "710.4 MB", "4.7 GB" (powers of 1000).
std::string readable_size(std::uintmax_t bytes);

// The job before its file is read: the request's values, those of an empty file elsewhere.
detect::scan_job job_before_reading(const scan_request& request, const std::string& path);
// Fills the values that the request leaves to the file's header (frames present, depth).
void complete_job(const scan_request& request, std::int32_t frames, std::int32_t depth, detect::scan_job& job);

// "x1,y1,x2,y2" as four integers.
std::optional<std::array<std::int32_t, 4>> parse_rectangle(const std::string& text);

} // namespace serflash::cli
