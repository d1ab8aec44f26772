#pragma once
// When each frame was taken: from the time stamps many capture programs append after the last
// frame (one 8-byte little-endian value per frame, 100-ns ticks since 0001-01-01, the top two
// bits flags), checked against the header's own times; or estimated from the header's start
// and a given frame rate; or unknown.
#include "ser/ser_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace serflash::ser {

enum class time_source {
    trailer,       // the file's time stamps, in UTC
    trailer_local, // the file's time stamps held local time; converted with the header's offset
    header_fps,    // estimated: the header's DatetimeUTC plus frame / fps
    none,
};

// "trailer", "trailer-local", "header+fps", "none".
const char* time_source_name(time_source source);

struct frame_times {
    time_source source = time_source::none;
    std::vector<std::int64_t> utc_ticks;  // one per frame present (empty when source is none)
    double frame_interval = 0.0;          // seconds, the median interval (0 when unknown)
    double frame_rate = 0.0;              // frames per second (0 when unknown)
    std::vector<std::int32_t> gaps_after; // frames after which the interval exceeds 1.5 x the median
    std::int32_t dropped_frames = 0;      // frames the gaps are estimated to have lost
    std::vector<std::string> notes;       // why a trailer was not used, what was converted

    bool known() const { return !utc_ticks.empty(); }
    // The UTC time of a frame, when known.
    std::optional<std::int64_t> utc_of(std::int32_t frame) const;
};

// Reads and checks the trailer of an opened file whose header has been read. fps > 0 gives the
// estimate from the header's start when the trailer is missing or unusable.
frame_times read_frame_times(ser_reader& reader, double fps = 0.0);

// ISO 8601 UTC with milliseconds: "2026-12-08T21:14:03.125Z".
std::string format_utc(std::int64_t ticks);

// 100-ns ticks since 0001-01-01 of a calendar time (UTC), for generators and tests.
std::int64_t ticks_of(int year, int month, int day, int hour, int minute, double second);

} // namespace serflash::ser
