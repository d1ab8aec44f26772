#pragma once
// The candidates of one file as a CSV table and as a JSON document.
#include "astro/moon_ephemeris.h"
#include "report/csv.h"
#include "report/observation.h"

#include <nlohmann/json.hpp>

#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace serflash::report {

// Decimals of the floating values in the CSV table.
inline constexpr int sigma_decimals = 2;
inline constexpr int counts_decimals = 1;
inline constexpr int magnitude_decimals = 3;
inline constexpr int degrees_decimals = 3;

// One column of the candidate record, as the CSV table and the JSON document both write it:
// the value is computed once (to_json) and the CSV field is written from that value (to_text),
// so a reader of either file (the review, match) turns a JSON value into the same text.
// A new column is one entry of candidate_table() plus its computation.
struct candidate_column {
    const char* name;
    std::string (*to_text)(const nlohmann::ordered_json& value);
    nlohmann::ordered_json (*to_json)(const observation& o, const measured_candidate& m);
};

// Every column, in the order of the CSV table and of each candidate's JSON object.
std::span<const candidate_column> candidate_table();
// The column of that name, or null.
const candidate_column* find_candidate_column(std::string_view name);

// CSV texts of JSON values: a text as it stands, null as an empty field, a whole number in
// decimals, an array as its members' texts between spaces.
std::string plain_text(const nlohmann::ordered_json& value);
// A number with so many decimals, empty when it is null or not finite.
template <int decimals>
std::string decimals_text(const nlohmann::ordered_json& value) {
    return value.is_number() ? fixed_decimals(value.get<double>(), decimals) : std::string{};
}

// A number with three significant digits ("0.0123", "4.5e-07"), empty when null.
std::string significant_text(const nlohmann::ordered_json& value);
std::string significant_text(double value);

// The header line and one candidate's line of the CSV table, from its JSON object (columns
// missing from it, as in files of earlier versions, are empty).
std::vector<std::string> candidate_column_names();
std::vector<std::string> candidate_texts(const nlohmann::ordered_json& candidate);

// "60 57 54".
std::string thresholds_text(const std::vector<std::int32_t>& thresholds);

// A candidate in one line, as the command line prints it under its file's line:
// "candidate 1: frame 120, x 80, y 40, 2026-12-08T21:14:03.125Z, 14.21 sigma, flash, noise 3.2e-09".
std::string candidate_line(const measured_candidate& m, const ser::frame_times& times);

std::string candidates_csv(const observation& o);
std::string candidates_json(const observation& o);

// The ephemeris's reported quantities by their keys, exactly those `serflash moon --json` prints.
nlohmann::ordered_json ephemeris_json(const astro::moon_ephemeris& e);

} // namespace serflash::report
