#pragma once
// Everything the tables and the report of one scanned file say: the file and its times, the
// settings, how each pass went, the frames passed over for their scatter, and each candidate
// with its brightness measured on the SER file itself.
#include "detect/batch.h"
#include "detect/candidates.h"
#include "detect/records.h"
#include "platform/file_io.h"
#include "report/noise_expected.h"
#include "report/vetting.h"
#include "report/moon_observation.h"
#include "ser/frame_times.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace serflash::report {

// Half the side of the box whose excess over the packet means measures a candidate (5 x 5).
inline constexpr std::int32_t box_half = 2;
// Frames before and after the peak in a light curve.
inline constexpr std::int32_t light_curve_reach = 15;
// Half the side of a cut-out (41 x 41) and the frames it shows around the peak.
inline constexpr std::int32_t cutout_half = 20;
inline constexpr std::int32_t cutout_before = 2;
inline constexpr std::int32_t cutout_after = 3;

struct light_curve {
    std::int32_t first_frame = 0;
    std::vector<double> excess; // the box's excess, frame by frame from first_frame
    double sigma = 0.0;         // the 1-sigma of the box sum over the peak's packet (NaN when unknown)
};

struct cutout {
    std::int32_t frame = 0;
    std::int32_t left = 0, top = 0;    // of the cut-out in the frame (may lie outside it)
    std::vector<std::int32_t> samples; // (2 cutout_half + 1)^2, -1 outside the frame
};

// Half the side of the window (15 x 15) the class of a candidate is measured in: wide enough that
// a source a few pixels off the detection (a wide star whose flank the image motion swings) lies
// well inside the ring its surroundings are fitted on.
inline constexpr std::int32_t class_half = 7;
// How bright a candidate was, when the scan was given a zero point (NaN otherwise).
struct candidate_brightness {
    double peak_mag = std::numeric_limits<double>::quiet_NaN();
    double peak_mag_err = std::numeric_limits<double>::quiet_NaN();
    double energy_j = std::numeric_limits<double>::quiet_NaN(); // luminous, in the band
};

struct measured_candidate {
    detect::candidate c;
    double integrated_excess = 0.0; // the box's excess summed over the candidate's frames
    light_curve curve;
    std::vector<cutout> cutouts;
    // What it most likely is, and what that was decided from.
    candidate_class cls = candidate_class::flash;
    class_measures measures;
    double source_width = 0.0; // of a source in the packet mean at the place (the PSF for a star)
    // Where it was in its first and last frame, and how fast it moved (px per frame).
    std::int32_t start_x = 0, start_y = 0, end_x = 0, end_y = 0;
    double speed = 0.0;
    // The frames of the start and end place: its first and last, or a track's found beyond them.
    std::int32_t track_first_frame = 0, track_last_frame = 0;
    std::int32_t track_members = 1; // the candidates a track was made of
    searched_track searched;        // the track searched for around a candidate seen in few frames
    // Candidates at least this significant that noise alone would give in the frames examined.
    double noise_expected = 0.0;
    bool noise_from_sources = false; // counted among the candidates on sources (see expect_noise)
    candidate_brightness brightness;
    candidate_position position; // on the Moon, or why not (nothing when the Moon was not looked for)
};

struct observation {
    std::string path;              // of the SER file as given
    std::string path_from_results; // the same seen from the results folder ("../m1.ser")
    std::string name;              // the file-name part
    std::int64_t size = -1;        // bytes, -1 when unknown
    ser::ser_header header;
    std::int32_t frames_present = 0;
    ser::frame_times times;
    detect::scan_settings settings;
    detect::mask_switches switches;
    std::int32_t bit_shift = 0;
    bool swap_bytes = false;
    std::string byte_order_warning; // ser::byte_order_warning of the file
    std::vector<detect::pass_report> passes;
    std::vector<detect::scattered_frame> scattered;
    std::vector<measured_candidate> candidates;
    noise_model noise;
    vetting_limits limits;
    moon_observation moon; // the disk, its orientation and the ephemeris

    // The UTC text of a frame, or empty when its time is unknown.
    std::string utc_text(std::int32_t frame) const;
};

// The records of one file's scan as the sinks collect them.
struct scan_records {
    std::vector<detect::saved_frame> frames;
    std::vector<detect::scattered_frame> scattered;
    std::vector<detect::pass_report> passes;
};

// The candidates of the records measured on the file (whose header the reader has read) and
// classed, as observe gives them but without the noise each could be or their place on the Moon.
std::vector<measured_candidate> classed_candidates(ser::ser_reader& reader, const detect::scan_job& job,
                                                   const scan_records& records, const vetting_limits& limits = {});

// Groups the records into candidates and measures each on the file (whose header the reader
// has read), whose results are in result_dir. Reads each frame it needs once.
observation observe(ser::ser_reader& reader, const detect::scan_job& job, const std::string& result_dir,
                    const scan_records& records, const vetting_limits& limits = {}, const moon_options& moon = {});

// The frame times of a job's file: its time stamps, or its header's start and the job's frame
// rate; none when the file cannot be opened.
ser::frame_times frame_times_of(platform::file_system& fs, const detect::scan_job& job);

// The last frame a pass examined.
std::int32_t last_frame_examined(const detect::pass_report& pass);

} // namespace serflash::report
