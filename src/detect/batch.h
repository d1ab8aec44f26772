#pragma once
// The batch run behind "Start scan": every listed file in table order, each into its own
// results folder with a summary file, passes at successive thresholds and snapshots.
#include "detect/core_budget.h"
#include "detect/engine_hooks.h"
#include "detect/result_sink.h"
#include "detect/scan_context.h"
#include "platform/file_io.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace serflash::detect {

// Runs the threshold passes over one opened, prepared file (the scan command). The reference
// implementation is run_scan; faster ones with identical output can be plugged in.
using file_scanner = std::function<scan_outcome(const scan_context&)>;

struct local_time {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

enum class file_outcome { scanned, skipped_depth, failed, stopped, not_reached };

// What the scan of one listed file came to: the scan's own outcome (only the problem and the
// folder when the file was refused before its passes) and what the batch adds.
struct file_report : scan_outcome {
    std::string path;
    file_outcome outcome = file_outcome::not_reached;
    // The folder first tried when it already held files (or was no folder of this run's own) and
    // another was used instead; empty otherwise.
    std::string folder_taken;
    std::int32_t end_frame = -1;    // the stop frame of the scan
    std::string byte_order_warning; // the samples look byte-swapped (ser::byte_order_warning)

    // "frames 0 to 1499 examined": the frames the passes reached.
    std::string examined_text() const;
};

// One file to scan and everything it is scanned with.
struct scan_job {
    std::string path;
    scan_settings settings;
    mask_switches switches;
    std::int32_t bit_shift = 0; // the shift in force for 16-bit samples
    bool swap_bytes = false;    // 16-bit samples stored high byte first
    double fps = 0.0;           // frame rate for times from the header when the file has no time stamps

    // Sets the reader to read samples as this job does (bit shift, byte order) and reads its header.
    void prepare(ser::ser_reader& reader) const;
};

// Extra result sinks for one file (beside the summary and the snapshots): made when its scan
// starts, fed with its records, dropped when it ends.
// They may read the file through the scan's own reader, which stays open until they are dropped.
// `cores` is the file's share of the batch's cores.
using sink_factory = std::function<std::vector<std::unique_ptr<result_sink>>(
    const scan_job& job, const std::string& result_dir, ser::ser_reader& reader, const core_budget& cores)>;
// Fills in what a job leaves to its file's header, read by the scan (the file is opened once).
using job_completion = std::function<void(scan_job& job, const ser::ser_reader& reader)>;

// What every file of a run is scanned with.
struct scan_tools {
    std::string results_parent = ".";    // where the results folders are created
    platform::file_system* fs = nullptr; // null: the machine's file system
    file_scanner scanner;                // null: run_scan
    sink_factory sinks;                  // null: none
    job_completion complete_job;         // null: the jobs are complete
    picture_encoder png_encoder;         // null: PNG snapshots are refused
    // The cores the scan may keep busy. Of a file: its share of the batch's (no bound: it is
    // scanned alone). Of a batch: the whole batch's; each file scanned at once gets an equal
    // share, which its scanner's workers, its reading thread and its sinks divide again.
    core_budget cores;
};

// What one file is scanned with: the run's tools, with its own share of the cores.
struct scan_environment : scan_tools {
    int file_index = 0; // for progress reports
    int file_count = 1;
};

struct batch_request : scan_tools {
    batch_request() { cores = core_budget::machine(); }

    std::vector<scan_job> jobs; // scanned in this order
    engine_hooks hooks;
    // Files scanned at once, each on a thread of its own (1: one after the other), never more
    // than the cores. Each file's results are the same either way; messages and row marks reach
    // the hooks in table order, on the caller's thread, and files sharing a results folder are
    // scanned in table order.
    unsigned jobs_at_once = 1;
    std::function<local_time()> clock; // null: the local wall clock
};

struct batch_report {
    local_time start, end;
    std::vector<file_report> files;
    bool stopped = false;     // the user stopped the batch
    bool empty_table = false; // no job: "Error: There is no file to scan."
    // The closing message: "Month_Day %02d_%02d  %02dh%02dm%02ds\n..." of start and end.
    std::string times_message() const;
    // The closing message: the times, under "The scans of all SER files completed!", or when
    // stopped under a caption and a text that say so.
    engine_message closing_message() const;
    bool all_scanned() const;
};

batch_report run_batch(const batch_request& request);

// Scans one file as the batch does: results folder, summary header, the scan command.
file_report scan_file(const scan_job& job, const scan_environment& env, const engine_hooks& hooks);

// The file-name part of a path without its extension ("dir/m1.ser" gives "m1").
std::string base_name_of(const std::string& path);
// "Results_" and the base name, cut so that the folder name has at most 99 bytes; with a
// suffix ("-2") the base name is cut so that the suffix still fits.
std::string results_folder_name(const std::string& base_name, const std::string& suffix = {});

// The folder a file's results go to, made for this run: Results_NAME, or when that name is
// taken (anything already there: an earlier run's folder, even empty, a link, a file) the first
// Results_NAME-2, Results_NAME-3, ... that this call's own mkdir makes.
platform::result<std::string> claim_results_folder(platform::file_system& fs, const std::string& parent,
                                                   const std::string& base_name);

} // namespace serflash::detect
