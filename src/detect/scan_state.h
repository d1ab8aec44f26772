#pragma once
// Everything one file's scan works on: the open SER stream and the settings, the work memory
// of the straightforward scan, where the passes stand, and where the results go.
#include "detect/core_budget.h"
#include "detect/engine_hooks.h"
#include "detect/records.h"
#include "detect/result_sink.h"
#include "detect/rules.h"
#include "detect/scan_settings.h"
#include "detect/snapshots.h"
#include "display/render.h"
#include "platform/file_io.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::detect {

// What one pass met, for the rule that ends repeated raises (see passes.h).
// How a run of frames (a packet, or a whole pass) came to an end.
enum class run_end {
    went_on,        // every frame examined, a frame withdrawn for its scatter, or the user stopped it
    max_det_frames, // det_frames reached max_det_frames with the frame just saved
    failed,         // it could not be carried out (reported through the hooks already)
};

struct pass_flags {
    bool scattered_frame = false;         // a frame was withdrawn for its scatter
    bool every_saved_frame_recurs = true; // each saved frame held a detection with sigma 0
    bool every_detection_recurs = true;   // every detection met had sigma 0
};

// What a file's scan leaves for the batch report.
struct scan_outcome {
    std::int32_t det_frames = 0; // the counts of the closing block
    std::int32_t det_count = 0;
    std::int32_t final_threshold = 0;  // of the last described pass
    std::int32_t last_frame = 0;       // where it ended (one past the stop frame after a whole pass)
    std::string result_dir;            // where the results are after the scan (renamed or not)
    bool stopped = false;              // the user asked to stop; the scan ended after that frame
    bool raise_withheld = false;       // a raise was not made because it would repeat for ever
    bool failed = false;               // the scan could not be carried out (see problems)
    bool read_failed = false;          // a frame could not be read in full (reported once)
    bool incomplete = false;           // it ran, but not every output was written (the summary says so)
    std::string no_pass;               // why no pass ran (the outputs are the described ones)
    std::vector<std::string> problems; // failures met, each reported once through the hooks
    // The records, in the order they were made.
    std::vector<saved_frame> frames;
    std::vector<scattered_frame> scattered;
    std::vector<pass_report> passes;

    void add_problem(std::string what) { problems.push_back(std::move(what)); }
    std::string problem_text() const; // the problems joined by "; "
};

struct scan_state {
    // What is scanned, and with what.
    ser::ser_reader* reader = nullptr;
    scan_settings settings;
    mask_switches switches; // the job's, for the whole scan
    core_budget cores;      // the cores this file's scan may keep busy (no bound: its own choice)

    // Work memory of the straightforward scan, made by its runner; disp is also what the image
    // window shows.
    std::vector<std::uint16_t> frame_buf;
    std::vector<double> mean_map;
    std::vector<double> sigma_map;
    std::vector<std::int32_t> star_map;
    display::display_bitmap disp;

    // Where the passes stand.
    std::int32_t cur_frame = 0;
    std::int32_t det_count = 0;
    std::int32_t det_frames = 0;
    std::int32_t threshold = 0;
    std::int32_t init_threshold = 0;
    std::int32_t packet_first_frame = 0; // of the statistics in the maps
    pass_flags pass;
    bool every_frame_pass = false; // the pass under way is the one over every frame

    // Where the results go.
    std::string result_dir;
    std::string summary_path; // appended to by the passes
    platform::file_system* fs = nullptr;
    picture_encoder png_encoder; // for PNG snapshots
    engine_hooks hooks;
    std::vector<result_sink*> sinks; // fed with every record; the summary's is added by the scan
    int file_index = 0;              // for progress reports
    int file_count = 1;
    scan_outcome outcome;
    bool snapshot_failure_reported = false;
    bool summary_failure_reported = false;

    snapshot_output snapshot_out() const { return {settings.snapshots, &png_encoder}; }
    std::int32_t width() const { return reader->width(); }
    std::int32_t height() const { return reader->height(); }
};

// Per-pixel mean and sample standard deviation over the packet_size frames from cur_frame.
// Returns false (after a message through the hooks) when its work arrays cannot be had.
bool compute_packet_stats(scan_state& st);
// Tells the front end that a packet's work arrays could not be had (either scanner).
void report_no_packet_memory(const scan_state& st);

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
