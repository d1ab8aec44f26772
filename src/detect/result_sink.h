#pragma once
// Where a file's records go as the scan makes them. The summary writer is one sink; other
// writers (tables, reports) are added beside it without touching a scanner. Calls come in scan
// order on the thread that scans the file.
#include "detect/records.h"

#include <cstdint>
#include <string>

namespace serflash::detect {

class result_sink {
public:
    virtual ~result_sink() = default;
    virtual void pass_started(std::int32_t /*threshold*/) {}
    virtual void frame_saved(const saved_frame& /*frame*/) {}
    virtual void frame_scattered(const scattered_frame& /*frame*/) {}
    // The first pass reached max_det_frames: its threshold is raised and the counts begin again.
    virtual void threshold_raised(std::int32_t /*det_frames*/, std::int32_t /*det_count*/) {}
    virtual void pass_ended(const pass_report& /*pass*/) {}
    // The closing counts; the scan of the file is over.
    virtual void scan_finished(std::int32_t /*det_frames*/, std::int32_t /*det_count*/) {}
    // What this sink could not store ("m1_report.html could not be written (No space left on
    // device)"), asked once the scan is finished; empty when everything was. It fails the file.
    virtual std::string failure() const { return {}; }
};

} // namespace serflash::detect
