#pragma once
// The Moon in one scanned file: the disk found in the averaged frames, how it is turned, the
// ephemeris of the file's time, and each candidate's selenographic position or why it has none.
#include "astro/limb_fit.h"
#include "astro/moon_ephemeris.h"
#include "astro/selenographic.h"
#include "detect/candidates.h"
#include "ser/frame_times.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace serflash::report {

// What the observer says of the set-up.
struct moon_options {
    std::optional<astro::observing_site> site;
    std::optional<double> rotation_deg; // the orientation outright (image angle of celestial north)
    bool mirror = false;                // optics that flip the image
    // Look for the disk even in a file without frame times (positions then need a time).
    bool requested() const { return site.has_value() || rotation_deg.has_value() || mirror; }
};

// Frames averaged for the disk: a few spread over the first packet are plenty for an edge.
inline constexpr std::int32_t disk_frames = 8;

struct candidate_position {
    std::optional<astro::located_point> at;
    std::string why_not; // "no limb found", "no time", "off the disk", "no orientation"
};

struct moon_observation {
    bool looked = false; // false: the file has no time and nothing asked for the Moon
    std::int32_t first_frame = 0, frames_averaged = 0;
    astro::grey_image mean; // the averaged frames (for the report's picture)
    astro::limb_fit limb;
    std::optional<std::int64_t> utc_ticks; // of the averaged frames' middle
    std::optional<astro::moon_ephemeris> ephemeris;
    std::optional<astro::observing_site> site;
    astro::bright_limb bright;
    bool oriented = false;
    std::string orientation_source; // "given", "measured from the bright limb", or why there is none
    astro::disk_view view;
    double scale_arcsec_per_px = 0; // 0 when unknown

    bool disk_found() const { return looked && limb.found; }
    // "no site: the geocentric ephemeris is used, ..." or empty.
    std::string ephemeris_note() const;
};

// Averages the frames, finds the disk and orients it.
moon_observation observe_moon(ser::ser_reader& reader, const ser::frame_times& times, std::int32_t start_frame,
                              std::int32_t packet_size, const moon_options& options);
// A candidate's place on the disk, from the ephemeris at its peak.
candidate_position position_on_moon(const moon_observation& m, const detect::candidate& c,
                                    const ser::frame_times& times);

// The reason texts, one home.
inline constexpr const char* no_limb_reason = "no limb found";
inline constexpr const char* no_time_reason = "no time";
inline constexpr const char* off_disk_reason = "off the disk";
inline constexpr const char* no_orientation_reason = "no orientation";

} // namespace serflash::report
