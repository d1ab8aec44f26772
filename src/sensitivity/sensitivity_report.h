#pragma once
// What a sensitivity measurement says, as NAME_sensitivity.json and NAME_sensitivity.csv in the
// results folder of the file's plain scan, as a section of its report page, and as printed lines.
#include "detect/batch.h"
#include "platform/file_io.h"
#include "sensitivity/sensitivity.h"

#include <array>
#include <string>
#include <vector>

namespace serflash::sensitivity {

// The columns of NAME_sensitivity.csv, one row per amplitude.
inline constexpr std::array<const char*, 5> curve_columns = {"amplitude_sigma", "amplitude_counts", "injected",
                                                             "recovered", "completeness"};

std::string sensitivity_csv(const file_sensitivity& s);
std::string sensitivity_json(const file_sensitivity& s);
// The section of the report page: the completeness curve with the limits and the false alarms.
std::string sensitivity_section(const file_sensitivity& s);

// The lines printed for a file before its last line, each without its line end.
std::vector<std::string> sensitivity_lines(const file_sensitivity& s);
// The last line printed for a file:
// "sensitivity: 50% A50 counts S50 sigma, 90% A90 counts S90 sigma, false candidates N (R per hour)".
std::string sensitivity_last_line(const file_sensitivity& s);

std::string sensitivity_csv_path(const std::string& result_dir, const std::string& base_name);
std::string sensitivity_json_path(const std::string& result_dir, const std::string& base_name);

// Writes the two files into the plain scan's results folder and, when the scan wrote its report
// page there, writes the page again with the sensitivity section. The paths written are added
// to `written`.
platform::status write_sensitivity(platform::file_system& fs, const detect::scan_job& job,
                                   const detect::file_report& plain, const file_sensitivity& s,
                                   std::vector<std::string>* written = nullptr);

} // namespace serflash::sensitivity
