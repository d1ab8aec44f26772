#pragma once
// The result sinks that write NAME_candidates.csv, NAME_candidates.json and NAME_report.html
// into a file's results folder when its scan ends (before the folder is renamed), for the
// command line and the desktop program alike.
#include "detect/batch.h"
#include "platform/file_io.h"
#include "photometry/zero_point.h"
#include "report/observation.h"

#include <functional>
#include <string>

namespace serflash::report {

struct observation_options {
    platform::file_system* fs = nullptr;              // null: the machine's file system
    std::optional<photometry::zero_point> zero_point; // measure the candidates' brightness against it
    moon_options moon;                                // the set-up, for the selenographic positions
    // Told, on the thread that scanned the file, what was written for it; problem is empty
    // when all three files were written.
    std::function<void(const observation& o, const std::string& problem)> observed;
};

// The sink factory for batch_request::sinks and scan_environment::sinks.
detect::sink_factory observation_sinks(const observation_options& options);

// The three files' names in a results folder.
std::string candidates_csv_path(const std::string& result_dir, const std::string& base_name);
std::string candidates_json_path(const std::string& result_dir, const std::string& base_name);
std::string report_html_path(const std::string& result_dir, const std::string& base_name);

} // namespace serflash::report
