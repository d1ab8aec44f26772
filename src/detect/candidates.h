#pragma once
// One flash is seen in consecutive frames and at several thresholds: the detection records of
// a file are grouped into candidates, each one event with its peak, extent and thresholds.
#include "detect/records.h"

#include <cstdint>
#include <vector>

namespace serflash::detect {

// Detections at most this many pixels apart (in rows and in columns) in the same or in
// consecutive frames belong to one candidate.
inline constexpr std::int32_t candidate_reach = 2;

// One detection record with the frame and pass that listed it.
struct candidate_hit {
    std::int32_t frame = 0;
    std::int32_t threshold = 0;
    std::int32_t packet_first_frame = 0;
    detection det;
    // (sample - mean) / sigma; infinite for a sigma of 0 above the mean.
    double significance() const;
    double excess() const { return static_cast<double>(det.sample) - det.mean; }
};

// A frame of a candidate with the packet its strongest detection there was tested against, and
// where that detection lies.
struct candidate_frame {
    std::int32_t frame = 0;
    std::int32_t packet_first_frame = 0;
    std::int32_t x = 0, y = 0;
};

struct candidate {
    std::int32_t number = 0; // from 1, in the order of the first frame, then row and column of the peak
    candidate_hit peak;      // the detection with the largest significance
    std::int32_t first_frame = 0;
    std::int32_t last_frame = 0;
    std::vector<std::int32_t> thresholds; // every threshold that found it, highest first
    std::int32_t detections = 0;          // detection records grouped into it
    std::vector<candidate_frame> frames;  // first_frame to last_frame, in order

    std::int32_t duration_frames() const { return last_frame - first_frame + 1; }
    std::int32_t highest_threshold() const { return thresholds.empty() ? 0 : thresholds.front(); }
};

// Groups the listed detections of every saved frame (all passes) into candidates.
std::vector<candidate> group_candidates(const std::vector<saved_frame>& frames);

} // namespace serflash::detect
