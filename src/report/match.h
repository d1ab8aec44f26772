#pragma once
// Candidates of two stations paired by their peak times: what both saw, and what only one did.
#include "platform/file_io.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace serflash::report {

struct station_candidate {
    std::string file; // the SER file's name
    std::int32_t candidate = 0;
    std::int32_t peak_frame = 0;
    std::int32_t x = 0, y = 0;
    std::string utc_peak;              // as written; empty when unknown
    std::optional<std::int64_t> ticks; // the same as 100-ns ticks
    std::optional<double> peak_sigma;  // empty when not given
    double frame_interval = 0.0;       // seconds; 0 when unknown
    std::string cls;                   // its class; empty in tables written before classes
};

struct station {
    std::string path;
    std::vector<station_candidate> candidates;
};

// Reads a candidates table (CSV) or document (JSON: one file's, or an array of them).
// nullopt with a message naming the file and the fault when it is missing or malformed.
std::optional<station> read_station(platform::file_system& fs, const std::string& path, std::string& error);

// Leaves out the candidates of a class other than flash (those without a class stay).
void keep_flashes(station& s);

// "2026-12-08T21:14:03.125Z" as ticks; nullopt for any other text.
std::optional<std::int64_t> parse_utc(const std::string& text);

struct candidate_pair {
    std::size_t a = 0, b = 0;   // indices into the stations' candidates
    double difference_ms = 0.0; // b's peak time minus a's
    double allowed_ms = 0.0;    // the window plus both frames' half intervals
};

struct match_result {
    std::vector<candidate_pair> pairs; // in the order of a's peak times
    std::vector<std::size_t> unpaired_a, unpaired_b;
    std::vector<std::size_t> untimed_a, untimed_b; // no time: not matchable
};

// Pairs one to one, closest first, candidates whose peak times differ by at most window_ms plus
// half of each one's frame interval.
match_result match_stations(const station& a, const station& b, double window_ms);

// The pairs as a CSV table.
std::string pairs_csv(const station& a, const station& b, const match_result& m);

} // namespace serflash::report
