#pragma once
// The detections of one frame as both scanners gather them, in scan order: the count, the
// first ten as the frame's record, the rows and columns they cover, and whether they recur.
#include "detect/records.h"
#include "detect/rules.h"

#include <cstdint>

namespace serflash::detect {

struct frame_hits {
    saved_frame record;      // frame and packet are set by the caller
    hit_extent extent;       // of every detection, for the scatter rule
    bool any_recurs = false; // a detection with sigma 0: found at any threshold
    bool all_recur = true;   // every detection has sigma 0

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

} // namespace serflash::detect
