#pragma once
// The progress of a whole batch from the progress of its files: each file's share of its range,
// summed over the files, with the files not yet opened estimated from those that were.
#include "detect/engine_hooks.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace serflash::detect {

// The fraction of a file's scan when `passes_done` passes have ended and the pass under way
// stands on `frame`: the passes still to come are those that lowering the threshold can reach.
double file_fraction_of_passes(std::int32_t passes_done, std::int32_t threshold, std::int32_t step, std::int32_t frame,
                               std::int32_t start_frame, std::int32_t end_frame);
// The fraction of one sweep over the range that ends at `frame`.
double file_fraction_of_sweep(std::int32_t frame, std::int32_t start_frame, std::int32_t end_frame);

class batch_progress {
public:
    // `out` gets every record with the batch's fields filled in; `seconds` is a steady clock
    // (null: the machine's).
    batch_progress(int files, std::function<void(const scan_progress&)> out, std::function<double()> seconds = {});

    // A record from the scanner of one file.
    void file_progress(scan_progress p);
    // The file's scan has ended: all of its range counts as done (one last record when it had
    // reported any progress; a file that never did counts no frames).
    void file_done(int file_index);

private:
    struct file_state {
        std::optional<std::int64_t> frames; // of its range, once the file has been opened
        double fraction = 0.0;              // never goes back
        bool done = false;
        scan_progress last;
    };
    void emit(scan_progress p);

    std::vector<file_state> files_;
    std::function<void(const scan_progress&)> out_;
    std::function<double()> seconds_;
    double start_ = 0.0;
};

} // namespace serflash::detect
