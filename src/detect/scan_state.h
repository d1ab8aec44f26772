#pragma once
// Everything one file's scan works on: the open SER stream, the frame and the per-pixel maps,
// the display bitmap the snapshots are made from, the settings and the counters.
#include "detect/engine_hooks.h"
#include "detect/scan_settings.h"
#include "display/render.h"
#include "platform/file_io.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::detect {

class summary_file;

inline constexpr double mask_value = 65536.0;

// What one pass met, for the rule that ends repeated raises (see passes.h).
struct pass_record {
    bool scattered_frame = false;         // a frame was withdrawn for its scatter
    bool every_saved_frame_recurs = true; // each saved frame held a detection with sigma 0
    bool every_detection_recurs = true;   // every detection met had sigma 0
};

// What a file's scan leaves for the batch report.
struct scan_outcome {
    std::int32_t det_frames = 0; // the counts of the closing block
    std::int32_t det_count = 0;
    std::string final_dir;       // where the results are after the scan (renamed or not)
    bool stopped = false;        // the user asked to stop; the scan ended after that frame
    bool raise_withheld = false; // a raise was not made because it would repeat for ever
    bool failed = false;         // the scan could not be carried out (see problem)
    std::string problem;         // failures met, each reported once through the hooks
};

struct scan_state {
    ser::ser_reader* reader = nullptr; // the SER stream being scanned
    std::vector<std::uint16_t> frame_buf;
    std::vector<double> mean_map;
    std::vector<double> sigma_map;
    std::vector<std::int32_t> star_map;
    display::display_bitmap disp;
    scan_settings settings;

    std::int32_t cur_frame = 0;
    std::int32_t det_count = 0;
    std::int32_t det_frames = 0;
    std::int32_t threshold = 0;
    std::int32_t init_threshold = 0;

    summary_file* fp2 = nullptr; // the summary, open for appending while passes run
    std::string result_dir;
    std::string detect_result_path; // the summary file, appended to by the passes
    platform::file_system* fs = nullptr;
    engine_hooks hooks;

    int file_index = 0; // for progress reports
    int file_count = 1;
    pass_record pass;
    scan_outcome outcome;
    bool snapshot_failure_reported = false;

    std::int32_t width() const { return reader->width(); }
    std::int32_t height() const { return reader->height(); }
};

// Per-pixel mean and sample standard deviation over the packet_size frames from cur_frame.
// Returns false (after a message through the hooks) when its work arrays cannot be had.
bool compute_packet_stats(scan_state& st);

// Writes the mask value into sigma_map around bright and dark means, around the stars found in
// the previous packet, and inside the four manual rectangles; then finds this packet's stars.
void apply_masks(scan_state& st, const mask_switches& sw);
void mask_square(scan_state& st, std::int32_t row, std::int32_t col, std::int32_t half);
void mask_rect(scan_state& st, packed_point ul, packed_point lr);
int is_star(const scan_state& st, std::int32_t row, std::int32_t col);
// The star test on any mean map of w x h (what is_star computes on the state's map).
int star_test(const double* mean_map, std::int32_t w, std::int32_t h, const scan_settings& cfg, std::int32_t row,
              std::int32_t col);

} // namespace serflash::detect
