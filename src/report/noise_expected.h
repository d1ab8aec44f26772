#pragma once
// How many candidates at least so significant the file's own noise would give in the part of it
// the passes examined: from the mirrored events of the file (detect/noise_tail.h), their upper
// tail fitted, or from the number of pixel tests when the file gives too few of them.
#include "detect/noise_tail.h"
#include "detect/records.h"
#include "detect/scan_settings.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::report {

// Fewer mirrored events than this over the file: the Gaussian estimate is used instead.
inline constexpr std::int64_t min_mirrored_events = 20;
// Counts at least this large are taken as they are; beyond them the fitted tail is used.
inline constexpr std::int64_t min_direct_events = 10;

struct threshold_share {
    std::int32_t threshold = 0; // the lowest threshold that examined these frames
    double share = 0.0;         // of the frames examined
};

struct noise_model {
    std::string method = "none"; // "mirrored", "gaussian" or "none" (nothing examined)
    std::string note;            // why, in a sentence
    std::int64_t trials = 0;
    std::int64_t mirrored_events = 0; // at 3.0 sigma or more
    std::vector<threshold_share> shares;
    // The fitted tail: log N(>= s) = intercept + slope s beyond fit_from (sigma).
    double fit_from = 0.0, intercept = 0.0, slope = 0.0;
    std::vector<std::int64_t> at_least; // mirrored events at >= 3.0, 3.1, ... sigma
    std::int32_t pct[4] = {25, 25, 25, 25};

    // Candidates at least `sigma` significant that noise alone would give.
    double expected(double sigma) const;
    // The same over all trials, for a pass at or below sigma everywhere.
    double tail(double sigma) const;
};

// Which frames the passes examined, and the lowest threshold each was examined at (0: none).
std::vector<std::int32_t> lowest_threshold_by_frame(const std::vector<detect::pass_report>& passes,
                                                    const detect::scan_settings& settings);

struct measured_candidate;

// Sets each candidate's noise_expected. A candidate on a source of the packet mean or on a hot
// pixel is counted among the file's candidates of those classes: the source's own twinkling and
// wander are its noise, and the mirror cannot see them (a frame is sharper than the mean it is
// mirrored about, so a star's excess mirrors into a dip). Every other candidate gets the noise
// model's expectation.
void expect_noise(std::vector<measured_candidate>& candidates, const noise_model& noise);

noise_model fit_noise(const detect::mirrored_tail& tail, const std::vector<std::int32_t>& lowest,
                      const detect::scan_settings& settings);

} // namespace serflash::report
