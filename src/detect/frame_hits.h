#pragma once
// The detections of one frame as both scanners gather them, in scan order: the count, the
// first ten as the frame's record, the rows and columns they cover, and whether they recur.
#include "detect/records.h"
#include "detect/rules.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

namespace serflash::detect {

struct frame_hits {
    saved_frame record;      // frame and packet are set by the caller
    hit_extent extent;       // of every detection, for the scatter rule
    bool any_recurs = false; // a detection with sigma 0: found at any threshold
    bool all_recur = true;   // every detection has sigma 0
    // The threshold it is saved at when raised above the pass's (a scattered frame of the pass
    // over every frame, see threshold_above_scatter); 0: the pass's.
    std::int32_t raised_threshold = 0;

    void add(std::int32_t row, std::int32_t col, std::int32_t sample, double mean, double sigma) {
        if (sigma == 0.0)
            any_recurs = true;
        else
            all_recur = false;
        extent.widen(row, col);
        record.detection_count = wrapping_add(record.detection_count, 1);
        if (record.detection_count <= max_lines_per_frame)
            record.detections.push_back({0, col, row, sample, mean, sigma});
    }
    std::int32_t count() const { return record.detection_count; }
};

// A detection of a frame with the largest threshold at which it still passes.
struct ranked_hit {
    std::int32_t row = 0, col = 0;
    std::int32_t top_threshold = 0;
};

// What stands above a frame's disturbance stands this far (tenths of a sigma) above all the rest:
// a shower of equal hits or the swing of an edge thins out gradually as the threshold rises.
inline constexpr std::int32_t scatter_gap = 20;

// The pass over every frame keeps, of a frame that scatters, the detections that stand above its
// disturbance: those passing the lowest threshold, raised from the pass's own by whole steps, at
// which they no longer scatter and stand scatter_gap above every detection left out. 0 when there
// is none (more than ten spread ones pass at every threshold, or nothing stands out so).
inline std::int32_t threshold_above_scatter(const std::vector<ranked_hit>& hits, std::int32_t threshold,
                                            const scan_settings& cfg) {
    const std::int64_t step = cfg.threshold_step;
    if (step <= 0) return 0;
    std::int64_t t = threshold;
    for (;;) {
        // The next whole step at which some detection falls out.
        std::int64_t weakest = std::numeric_limits<std::int64_t>::max();
        for (const ranked_hit& h : hits)
            if (h.top_threshold >= t) weakest = std::min<std::int64_t>(weakest, h.top_threshold);
        if (weakest == std::numeric_limits<std::int64_t>::max() || weakest >= std::numeric_limits<std::int32_t>::max())
            return 0;
        t += ((weakest + 1 - t) + step - 1) / step * step;
        if (t > std::numeric_limits<std::int32_t>::max()) return 0;
        std::int32_t count = 0;
        hit_extent extent;
        std::int64_t weakest_kept = std::numeric_limits<std::int64_t>::max(), strongest_left = 0;
        for (const ranked_hit& h : hits)
            if (h.top_threshold >= t) {
                ++count;
                extent.widen(h.row, h.col);
                weakest_kept = std::min<std::int64_t>(weakest_kept, h.top_threshold);
            } else {
                strongest_left = std::max<std::int64_t>(strongest_left, h.top_threshold);
            }
        if (count == 0) return 0;
        if (!is_scattered(count, extent, cfg) && weakest_kept - strongest_left >= scatter_gap)
            return static_cast<std::int32_t>(t);
    }
}

} // namespace serflash::detect
