#pragma once
// The frame detector of the straightforward scan: tests every pixel of the inner area of each
// frame against the packet's statistics and hands each saved frame on (see passes.h).
#include "detect/packet_buffers.h"
#include "detect/passes.h"

#include <cstdint>

namespace serflash::detect {

// Examines n frames from the cursor's cur_frame against the packet's maps in buf, reading each
// into buf.frame_buf and drawing it into buf.disp. max_det_frames: det_frames reached it with the
// frame just saved (cur_frame stays on that frame); went_on: all n frames examined, n <= 0, a
// frame withdrawn for its scatter (cur_frame stays on it), or the user asked to stop
// (run.outcome.stopped is then set; cur_frame is past the last examined frame).
run_end detect_in_packet(scan_run& run, packet_buffers& buf, std::int32_t n);

// The detection test of one pixel (index i) of frame_buf against the maps at `threshold`.
bool is_detection(const packet_buffers& buf, const scan_settings& cfg, std::int32_t threshold, std::size_t i);

} // namespace serflash::detect
