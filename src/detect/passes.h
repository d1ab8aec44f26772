#pragma once
// The threshold passes over one file and the pieces of them that other scanners share.
#include "detect/frame_hits.h"
#include "detect/scan_context.h"
#include "display/render.h"

#include <cstdint>
#include <string>

namespace serflash::detect {

// Why a file with these settings cannot be scanned soundly (empty when it can): a packet size
// below 1, a frame range shorter than one packet, a start below 0, a stop at or beyond the
// frames present, a threshold step below 1, or thresholds that do not fit 32 bits.
// The largest sample a file of this depth can hold: 255 for one byte a sample, else 65535.
std::int32_t highest_sample_of_depth(std::int32_t depth);
// The highest threshold at which a sample of at most `highest_sample` can still pass the test
// against a pixel that varies over a packet of `packet_size` frames: such a pixel's sigma is at
// least 1/sqrt(packet_size), less what the sums' rounding can take. Above it only pixels that
// never vary pass, and those at every threshold alike.
std::int32_t highest_reachable_threshold(std::int32_t packet_size, std::int32_t highest_sample);
// Why the settings cannot be scanned in a file of `frames_present` frames whose samples reach
// `highest_sample`, or success.
platform::status scan_refusal(const scan_settings& s, std::int32_t frames_present, std::int32_t highest_sample = 65535);

// Sizes that reach past every edge of the image from any pixel (mask half sizes, the star ring's
// radius) cut to the larger side: the masks and the star test are the same, and no work or
// memory grows with the setting. The summary keeps the values as given.
void clip_to_image(scan_settings& s, std::int32_t width, std::int32_t height);

// A pass at init_threshold that reached max_det_frames is raised and run again. The raise is
// withheld (the scan ends as when a lowered pass reaches the limit) when the next pass would
// provably repeat this one for ever: either no frame was withdrawn for its scatter and every
// saved frame held a detection with sigma 0 (its test holds at any threshold), or every
// detection of the pass had sigma 0. It is also withheld when init_threshold + 2 x step would
// not fit 32 bits.
bool raise_withheld(const pass_flags& pass, std::int32_t init_threshold, std::int32_t step);

// "%s_s%d_%d": the name a results folder gets at the end of its file's scan.
std::string final_folder_name(const std::string& result_dir, std::int32_t threshold, std::int32_t frame);

// One file's scan while drive_scan runs it: what it was given, the settings in force, where the
// passes stand and what they have found so far. drive_scan owns it and lends it to its runner
// and to the steps below that every runner shares.
struct scan_run {
    scan_run(const scan_context& given, platform::file_system& file_system)
        : ctx(given), fs(file_system), settings(given.settings), sinks(given.sinks) {}

    const scan_context& ctx;
    platform::file_system& fs;
    // In force: the context's, clipped to the image, and changed for the pass over every frame.
    scan_settings settings;
    std::vector<result_sink*> sinks; // during the passes the summary's first, then the context's
    pass_cursor cursor;
    scan_outcome outcome;
    bool snapshot_failure_reported = false;
    bool summary_failure_reported = false;

    snapshot_output snapshot_out() const { return {settings.snapshots, &ctx.png_encoder}; }
    const engine_hooks& hooks() const { return ctx.hooks; }
    ser::ser_reader& reader() const { return *ctx.reader; }
};

// What differs between scanners: how they get their work memory and how they run one pass.
// Everything else of the scan command (refusals, set-up, summary, the pass loop with its raises,
// the closing steps) is drive_scan's, so every scanner writes the same results by construction.
class pass_runner {
public:
    virtual ~pass_runner() = default;
    // The bitmap the scan draws its frames into, made ready for the file by drive_scan.
    virtual display::display_bitmap& picture() = 0;
    // Work memory for the file; false when it cannot be had.
    virtual bool prepare(scan_run& run) = 0;
    // One pass at run.cursor.threshold from cursor.cur_frame = start_frame, as detect_in_packet
    // over the packets and the remainder would run it (run.outcome.stopped set when the user
    // stopped it).
    virtual run_end run_pass(scan_run& run) = 0;
    // Called after the last pass, before the closing steps.
    virtual void before_closing(scan_run&) {}
    // The settings of the passes to come differ from those before (the pass over every frame).
    virtual void settings_changed(scan_run&) {}
};

// The scan command over one file with the runner's passes; the threshold and the frame it ended
// at are in the outcome (0 when it failed before its passes were set up).
scan_outcome drive_scan(const scan_context& ctx, pass_runner& runner);

// The straightforward scan command over one file (threshold passes, closing block, folder
// rename): per packet the statistics, the masks and the detector, each frame read twice.
scan_outcome run_scan(const scan_context& ctx);

// A frame the pass keeps: numbers its listed detections after those before it, hands it to the
// sinks, counts it and keeps its record. any_recurs / all_recur: whether one / all of its
// detections have sigma 0 (for the raise rule). Returns the record kept.
const saved_frame& save_frame(scan_run& run, frame_hits hits);

// A frame withdrawn for its scatter (see is_scattered): recorded, handed to the sinks, and the
// pass's flags updated; its detections do not count. Its frame is the cursor's.
void withdraw_scattered_frame(scan_run& run, std::int32_t points, const hit_extent& extent, bool all_recur);

// A snapshot that could not be written: reported once per file; the frame still counts.
void report_snapshot_failure(scan_run& run, const std::string& path, const std::string& why);

// Why a pass ended, from how its runner returned and the frame it stood on.
pass_end end_of_pass(const scan_run& run, run_end result);

} // namespace serflash::detect
