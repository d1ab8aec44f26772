#pragma once
// The frame detector of the straightforward scan: tests every pixel of the inner area of each
// frame against the packet's statistics and hands each saved frame on (see passes.h).
#include "detect/scan_state.h"

#include <cstdint>

namespace serflash::detect {

// Examines n frames from cur_frame. max_det_frames: det_frames reached it with the frame just
// saved (cur_frame stays on that frame); went_on: all n frames examined, n <= 0, a frame
// withdrawn for its scatter (cur_frame stays on it), or the user asked to stop
// (st.outcome.stopped is then set; cur_frame is past the last examined frame).
run_end detect_in_packet(scan_state& st, std::int32_t n);

// The detection test of one pixel (index i) of frame_buf against the maps.
bool is_detection(const scan_state& st, std::size_t i);

} // namespace serflash::detect
