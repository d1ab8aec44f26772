#pragma once
// The candidates of one file as a CSV table and as a JSON document.
#include "report/observation.h"

#include <array>
#include <string>

namespace serflash::report {

// The columns of NAME_candidates.csv, in order.
inline constexpr std::array<const char*, 17> candidate_columns = {"candidate",
                                                                  "file",
                                                                  "peak_frame",
                                                                  "first_frame",
                                                                  "last_frame",
                                                                  "x",
                                                                  "y",
                                                                  "utc_peak",
                                                                  "utc_start",
                                                                  "time_source",
                                                                  "duration_frames",
                                                                  "peak_sigma",
                                                                  "peak_excess",
                                                                  "integrated_excess",
                                                                  "highest_threshold",
                                                                  "thresholds",
                                                                  "detections"};

// Decimals of the floating values in the CSV table.
inline constexpr int sigma_decimals = 2;
inline constexpr int counts_decimals = 1;

// "60 57 54".
std::string thresholds_text(const std::vector<std::int32_t>& thresholds);

// A candidate in one line, as the command line prints it under its file's line:
// "candidate 1: frame 120, x 80, y 40, 2026-12-08T21:14:03.125Z, 14.21 sigma".
std::string candidate_line(const detect::candidate& c, const ser::frame_times& times);

std::string candidates_csv(const observation& o);
std::string candidates_json(const observation& o);

} // namespace serflash::report
