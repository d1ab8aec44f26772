#pragma once
// The only way the engine reaches a front end: a table of callbacks, each with a do-nothing
// default. The engine never includes a toolkit header.
#include "detect/messages.h"
#include "detect/scan_settings.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

namespace serflash::detect {

// Where a scan stands, for progress bars and lines. The scanner fills in the file, the pass and
// the frame; the batch fills in the frames of the whole batch, from which a fraction, a rate and
// the time left follow.
struct scan_progress {
    int file_index = 0; // row of the file in the batch
    int file_count = 0;
    std::int32_t pass = 0;      // passes begun on this file: 1 for the first
    std::int32_t threshold = 0; // of the pass under way
    std::int32_t frame = 0;     // frame examined last
    std::int32_t start_frame = 0;
    std::int32_t end_frame = 0;
    double file_fraction = 0.0; // of this file's scan, 0 to 1
    // Frames of the files' ranges scanned so far and in all, over the whole batch. A file not yet
    // opened counts as many frames as the files opened so far have on average (the total is then
    // an estimate).
    std::int64_t frames_done = 0;
    std::int64_t frames_total = 0;
    bool total_estimated = false;
    double elapsed_s = 0.0; // since the batch began

    double fraction() const; // of the batch, 0 to 1
    double frames_per_second() const;
    // Seconds left at the rate so far; none before anything is done.
    std::optional<double> eta_s() const;
};

struct engine_hooks {
    // A message the desktop program shows in a message box.
    std::function<void(const engine_message&)> message;
    // "Threshold at present" shows a new pass's threshold.
    std::function<void(std::int32_t threshold)> threshold_shown;
    // Field "frame No." shows a frame number (end of a file's scan).
    std::function<void(std::int32_t frame)> frame_shown;
    // The batch marks the row it scans.
    std::function<void(int row)> row_marked;
    // Progress during a scan; called at most once per examined frame.
    std::function<void(const scan_progress&)> progress;
    // The image window should repaint (no-op while there is none).
    std::function<void()> repaint;
    // True when the user asked the batch to stop after the current frame.
    std::function<bool()> stop_requested;

    void say(const engine_message& m) const {
        if (message) message(m);
    }
    bool should_stop() const { return stop_requested && stop_requested(); }
};

} // namespace serflash::detect
