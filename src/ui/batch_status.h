#pragma once
// What the panel's status line says after a batch: how many files were scanned, what they
// found, where the results are and which passes ended before the end of their frame range.
#include "detect/batch.h"

#include <filesystem>
#include <string>
#include <vector>

namespace serflash::ui {

// The results folders of a batch that exist now, made absolute against `base`.
std::vector<std::filesystem::path> result_folders(const detect::batch_report& report,
                                                  const std::filesystem::path& base);

// What a batch found: files scanned, frames with detections, and the candidates in the
// folders' candidate files.
struct batch_counts {
    std::size_t scanned = 0, frames = 0, candidates = 0, candidate_files = 0;
};
batch_counts count_results(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders);

// The status line after a batch: "Scan finished: 4 files, 6 candidates, 09:08:26 to 09:08:29"
// (frames with detections in place of candidates when no candidates were written).
std::string batch_headline(const detect::batch_report& report, const batch_counts& counts);

// "2 files scanned: 7 frames with detections, 3 candidates. Results in A, B. Passes ended
// early: a.ser at 5.7 (scattered frame, frame 120)." Candidates are counted from the folders'
// candidate files and left out when there are none.
std::string batch_status(const detect::batch_report& report, const std::vector<std::filesystem::path>& folders);

// "1 file", "2 files".
std::string plural(std::size_t n, const char* one, const char* many);

// A threshold in tenths of a standard deviation as the summary shows it: 57 -> "5.7".
std::string threshold_text(std::int32_t tenths);

} // namespace serflash::ui
