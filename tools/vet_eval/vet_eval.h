#pragma once
// How well a scan's candidates tell the events of a made-up night apart: each candidate matched
// to the event it sits on (by place and frame, a satellite by its track), the confusion table of
// true kind against the class the scan gave, the flashes it missed, and how many candidates that
// no event explains each expected-noise limit lets through.
#include "synth/night.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace serflash::vet_eval {

// What the evaluation reads of one candidate.
struct candidate {
    std::int32_t number = 0;
    std::int32_t x = 0, y = 0;
    std::int32_t first_frame = 0, last_frame = 0, peak_frame = 0;
    std::optional<double> end_x, end_y;
    std::string cls = "unclassified"; // the `class` column; "unclassified" where there is none
    std::optional<double> noise_expected;
    double peak_sigma = 0;
};

// The candidates of a NAME_candidates.json, or empty with a reason.
std::optional<std::vector<candidate>> read_candidates(const std::string& path, std::string* error);

// Candidates at most this far (pixels) from an event's place in one of its frames belong to it.
inline constexpr double match_reach = 3.0;

// For each candidate, the index into t.events of the event it sits on, or none.
std::vector<std::optional<std::size_t>> match_candidates(const synth::night_truth& t,
                                                         const std::vector<candidate>& cands);

// "none" for a candidate no event explains.
inline constexpr const char* no_event = "none";

inline constexpr std::array<double, 5> calibration_limits = {0.1, 0.3, 1.0, 3.0, 10.0};

struct missed_flash {
    std::string file;
    std::int32_t id = 0;
    std::int32_t first_frame = 0;
    double x = 0, y = 0;
    double significance = 0;
    std::string found_as; // empty: no candidate; else the classes of the candidates on it
};

struct file_calibration {
    std::string file;
    std::string preset;
    std::size_t unexplained = 0;            // candidates matching no event
    std::size_t without_noise_expected = 0; // of them, how many had no noise_expected
    std::array<std::size_t, 5> at_most{};   // of them, with noise_expected <= each limit
};

// The sums over every file evaluated.
struct evaluation {
    std::map<std::string, std::map<std::string, std::size_t>> table; // true kind -> class -> candidates
    std::vector<missed_flash> flashes_not_found_as_flash;
    std::size_t flashes = 0, flashes_10_sigma = 0, flashes_10_sigma_as_flash = 0;
    std::size_t flashes_10_sigma_found = 0; // with any candidate on them: what the detection test let through
    std::size_t others = 0, others_as_confident_flash = 0; // not flashes; as flash with noise_expected < 1
    std::size_t satellites = 0, satellites_found = 0, satellites_one_moving = 0; // found: with any candidate
    std::vector<file_calibration> calibration;
    std::size_t files = 0;

    void add(const std::string& file, const synth::night_truth& t, const std::vector<candidate>& cands);
    std::string report() const;
};

// The NAME_candidates.json of a results folder Results_NAME... under dir for the SER file named
// in a truth file; empty with a reason when there is none or more than one.
std::optional<std::string> find_candidates(const std::string& dir, const std::string& ser_file, std::string* error);

} // namespace serflash::vet_eval
