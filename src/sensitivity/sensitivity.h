#pragma once
// How faint a flash the scan of a file could have found: synthetic flashes are injected into
// its frames as they are read, at random unmasked places of the inner area and a ladder of
// amplitudes, the same scan is run on the injected frames, and a flash counts as recovered when
// a candidate lies within 2 pixels and 1 frame of it. The flashes must not change the scan they
// measure: each injected run scans only the packet of its flashes, with max_det_frames out of
// reach, and keeps the detections made at the thresholds and frames the plain scan's passes
// covered. Its candidates are classed as the scan classes them, and a flash counts only when the
// candidate on it is of class flash. Beside the completeness curve it says how much of the inner
// area the masks took, and how many candidates of each class the plain scan had per hour of video.
#include "detect/batch.h"
#include "detect/engine_hooks.h"
#include "platform/file_io.h"
#include "report/vetting.h"
#include "sensitivity/injection.h"
#include "ser/frame_times.h"

#include <array>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <vector>

namespace serflash::sensitivity {

// A flash is recovered by a candidate of class flash whose peak lies at most this many pixels
// from its centre (in rows and in columns) and whose frames come within this many frames of its
// own.
inline constexpr std::int32_t recovery_pixels = 2;
inline constexpr std::int32_t recovery_frames = 1;
// Two flashes of a run whose frames are tested against the same packet lie further apart than
// this (pixels); so do a flash and the plain scan's candidates of that packet.
inline constexpr double least_separation = 20.0;

enum class amplitude_unit { sigma, counts };

// The amplitudes tried: first, first + step, ... up to last (a little rounding allowed).
struct amplitude_ladder {
    amplitude_unit unit = amplitude_unit::sigma; // multiples of the local standard deviation, or counts
    double first = 3.0;
    double last = 15.0;
    double step = 1.0;

    std::vector<double> values() const;
    // Why the ladder cannot be used (no amplitude above 0, a step of 0 or less, more than 1000 rungs,
    // amplitudes beyond the largest sample or 10000 sigma).
    platform::status check() const;
};

// Why no flash can be placed in frames of width x height (no inner area to hold one), or success.
platform::status room_for_flashes(std::int32_t width, std::int32_t height);

// More flashes per amplitude than this are refused: their plan alone would fill memory.
inline constexpr std::int32_t most_flashes_per_level = 10000;

struct sensitivity_options {
    amplitude_ladder ladder;
    std::int32_t per_level = 20; // flashes injected per amplitude, 1 to most_flashes_per_level
    double spot_radius = 0.8;    // Gaussian sigma of the spot, pixels
    std::int32_t flash_frames = 1;
    std::uint64_t seed = 1;
    unsigned threads = 0; // cores used by the injected runs; 0: all
    // Told after each injected run (runs done, runs in all), on the thread that ran it.
    std::function<void(std::int32_t done, std::int32_t runs)> run_done;
};

// One flash of the plan and what became of it.
struct planned_flash {
    injected_flash flash;
    std::int32_t level = 0;              // rung of the ladder
    double local_sigma = 0.0;            // of the centre pixel over the packet its frame is tested against
    std::int32_t packet_first_frame = 0; // of that packet
    std::int32_t run = 0;
    // The class of the candidate found on it (the first in the order of the classes), if any.
    std::optional<report::candidate_class> found_as;
    bool recovered = false; // found as a flash

    double sigma_multiple() const { return local_sigma > 0.0 ? flash.counts / local_sigma : 0.0; }
};

// One injected run: the scan of the frames of one packet (from the packet before it when stars
// are masked, so that the stars found there mask this one as in the plain scan) holding some of
// the packet's flashes.
struct planned_run {
    std::int32_t packet_first_frame = 0;
    std::int32_t first_frame = 0; // scanned
    std::int32_t last_frame = 0;  // the packet's last, or the stop frame for the last packet
};

// Where the flashes of a file go and in which runs.
struct injection_plan {
    std::vector<planned_flash> flashes; // placed ones, in the order they were drawn
    std::int32_t not_placed = 0;        // no unmasked place was found for them
    std::vector<planned_run> runs;
    // Flashes a run holds at most: one per slot of 2 (frames + 2) frames of its packet, and no more
    // than the inner area over (2 x least_separation)^2.
    std::int32_t per_run = 1;
    double masked_fraction = 0.0;    // of the inner area, over the frames tested
    std::int64_t frames_scanned = 0; // by all runs together
};

// The frames a pass of the plain scan examined at a threshold.
struct pass_coverage {
    std::int32_t threshold = 0;
    std::int32_t first_frame = 0;
    std::int32_t last_frame = -1;
};
std::vector<pass_coverage> coverage_of(const detect::file_report& plain);

struct level_result {
    double sigma = 0.0;  // the rung, or the mean multiple of the local sigma of its flashes
    double counts = 0.0; // the rung, or the mean counts of its flashes
    std::int32_t injected = 0;
    std::int32_t recovered = 0;
    double completeness() const { return injected > 0 ? static_cast<double>(recovered) / injected : 0.0; }
};

// Where the completeness first reaches a fraction, by straight lines between the rungs.
struct amplitude_limit {
    bool reached = false;
    bool at_first_rung = false; // reached already at the faintest amplitude tried
    double counts = std::numeric_limits<double>::quiet_NaN();
    double sigma = std::numeric_limits<double>::quiet_NaN();
};

// The frames a pass (or all passes together) examined and the time they cover.
struct time_span {
    std::int32_t threshold = 0; // of the pass; 0 for all passes together
    std::int32_t first_frame = 0;
    std::int32_t last_frame = -1;
    std::optional<std::int64_t> utc_first, utc_last;
    double seconds = std::numeric_limits<double>::quiet_NaN(); // last minus first plus one frame interval
};

struct file_sensitivity {
    std::string path;
    std::string result_dir; // of the plain scan
    sensitivity_options options;
    injection_plan plan;
    std::vector<level_result> levels;
    amplitude_limit half, most; // 50 % and 90 %
    // The plain scan's candidates (a track counted once), in all and per class.
    std::int32_t false_candidates = 0;
    std::array<std::int32_t, std::size(report::candidate_classes)> false_by_class{};
    double false_per_hour = std::numeric_limits<double>::quiet_NaN();
    ser::time_source time_source = ser::time_source::none;
    time_span covered;
    std::vector<time_span> passes;
    bool stopped = false;
};

// Draws the flashes of a file: frames, then per packet of its statistics (computed as the scan
// computes them, masks included) unmasked places of the inner area. reads: the file system.
platform::result<injection_plan> plan_injections(platform::file_system& reads, const detect::scan_job& job,
                                                 const detect::file_report& plain, const sensitivity_options& options,
                                                 const detect::engine_hooks& hooks);

// The job of an injected run: the plain job over the run's frames, from the highest threshold
// the plain scan's passes ran at, with max_det_frames out of reach so that the flashes never end
// a pass (they must not change the scan they measure; which passes reached which frame is taken
// from the plain scan instead).
detect::scan_job run_job(const detect::scan_job& plain_job, const planned_run& run,
                         const std::vector<pass_coverage>& plain_passes);

// One injected run: the fast scan of the job with these flashes, nothing written anywhere. A
// flash is found by the candidates of the detections made at a threshold and frame that a pass
// of `counted` covered (all detections when counted is null), classed on the injected frames.
struct run_result {
    std::vector<std::optional<report::candidate_class>> found_as; // per flash
    std::vector<bool> recovered;                                  // per flash: found as a flash
    bool scanned = false;                                         // the scan ran to its end
    std::string problem;
};
run_result run_injected(platform::file_system& reads, const detect::scan_job& job,
                        const std::vector<injected_flash>& flashes, double spot_radius, unsigned threads,
                        const detect::engine_hooks& hooks, const std::vector<pass_coverage>* counted = nullptr);

// The whole measurement of a file whose plain scan is `plain`.
platform::result<file_sensitivity> measure_sensitivity(platform::file_system& reads, const detect::scan_job& job,
                                                       const detect::file_report& plain,
                                                       const sensitivity_options& options,
                                                       const detect::engine_hooks& hooks);

// The completeness curve and its limits from the flashes (exposed for tests).
std::vector<level_result> level_results(const injection_plan& plan, const amplitude_ladder& ladder);
amplitude_limit limit_at(const std::vector<level_result>& levels, double fraction);

} // namespace serflash::sensitivity
