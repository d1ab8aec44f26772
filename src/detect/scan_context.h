#pragma once
// What one file's scan is given (the context, never changed by it), where its passes stand
// (the cursor, the pass driver's own) and what it leaves (the outcome).
#include "detect/core_budget.h"
#include "detect/engine_hooks.h"
#include "detect/records.h"
#include "detect/result_sink.h"
#include "detect/rules.h"
#include "detect/scan_settings.h"
#include "detect/snapshots.h"
#include "platform/file_io.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::detect {

// How a run of frames (a packet, or a whole pass) came to an end.
enum class run_end {
    went_on,        // every frame examined, a frame withdrawn for its scatter, or the user stopped it
    max_det_frames, // det_frames reached max_det_frames with the frame just saved
    failed,         // it could not be carried out (reported through the hooks already)
};

// What one pass met, for the rule that ends repeated raises (see passes.h).
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

// What a file's scan is given: the open SER stream and the settings, and where the results go.
// The scan never changes it.
struct scan_context {
    ser::ser_reader* reader = nullptr;
    scan_settings settings;              // as the job gives them (the initial threshold among them)
    mask_switches switches;              // the job's, for the whole scan
    core_budget cores;                   // the cores this file's scan may keep busy (no bound: its own choice)
    platform::file_system* fs = nullptr; // null: the machine's file system
    std::string result_dir;
    std::string summary_path; // appended to by the passes
    engine_hooks hooks;
    std::vector<result_sink*> sinks; // fed with every record; the summary's is added by the scan
    picture_encoder png_encoder;     // for PNG snapshots
    int file_index = 0;              // for progress reports
    int file_count = 1;

    std::int32_t width() const { return reader->width(); }
    std::int32_t height() const { return reader->height(); }
};

// Where the passes stand.
struct pass_cursor {
    std::int32_t cur_frame = 0;
    std::int32_t det_count = 0;
    std::int32_t det_frames = 0;
    std::int32_t threshold = 0;
    std::int32_t init_threshold = 0;
    std::int32_t packet_first_frame = 0; // of the packet the frame under test is tested against
    pass_flags pass;
    bool every_frame_pass = false; // the pass under way is the one over every frame
};

} // namespace serflash::detect
