#pragma once
// How often the file's own noise passes the detection test: the test run on the mirrored
// deviations (mean - sample) over the pixels and frames the passes examined. Flashes, satellites
// and cosmic rays only ever rise above the mean, so the mirrored events are the symmetric part of
// the noise (read noise, image motion, edges), counted as the detector would count it.
#include "detect/scan_settings.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <functional>
#include <vector>

namespace serflash::detect {

// Mirrored events are counted from this significance up (tenths of a sigma), in bins of one
// tenth, the last bin holding everything above.
inline constexpr std::int32_t tail_first = 30;
inline constexpr std::int32_t tail_bins = 300;

struct mirrored_tail {
    std::int64_t trials = 0; // pixel tests made (unmasked inner pixels of the frames examined)
    // events[k]: mirrored events whose significance lies in [tail_first + k, tail_first + k + 1)
    // tenths of a sigma (the last bin open above).
    std::vector<std::int64_t> events = std::vector<std::int64_t>(tail_bins, 0);
    bool read = false; // false when the file could not be read for it
};

// Sweeps the frames for which examined[f - start_frame] is true, each against the statistics and
// masks of the packet a pass tests it against (packets from start_frame; the frames after the
// last whole packet against that one).
// The pixels of a packet whose mirrored events stand for no candidate the passes can give
// there (a source's own swing, which mirrors into a dip), given its mean and standard deviation
// maps of w x h; true: passed over.
using passed_over_pixels = std::function<std::vector<bool>(
    const std::vector<double>& mean, const std::vector<double>& sigma, std::int32_t w, std::int32_t h)>;

mirrored_tail sweep_mirrored(ser::ser_reader& reader, scan_settings settings, const mask_switches& switches,
                             const std::vector<bool>& examined, const passed_over_pixels& passed_over = {});

} // namespace serflash::detect
