#pragma once
// What a scan finds, as typed records: the frames each pass saves with their detections, the
// frames withdrawn for their scatter, and how each pass ended. Result writers (the summary, the
// snapshots and any other sink) are fed from these; nothing downstream parses text.
#include <cstdint>
#include <vector>

namespace serflash::detect {

// One pixel that passed the detection test.
struct detection {
    std::int32_t number = 0; // running number among the file's detections at this pass
    std::int32_t x = 0;      // column
    std::int32_t y = 0;      // row
    std::int32_t sample = 0;
    double mean = 0.0;  // of the pixel over the packet the frame was tested against
    double sigma = 0.0; // sample standard deviation over that packet
};

// A frame a pass saved (a snapshot, lines in the summary).
struct saved_frame {
    std::int32_t threshold = 0; // of the pass, in tenths of a standard deviation
    std::int32_t frame = 0;
    std::int32_t index = 0;              // frames saved before it since the count last began
    std::int32_t packet_first_frame = 0; // first frame of the packet whose statistics it was tested against
    std::int32_t detection_count = 0;    // all its detections; only the first ten are listed and boxed
    std::vector<detection> detections;   // the first ten, in scan order (row by row)
};

// A frame with more than ten detections spread beyond the scatter limits: not saved.
struct scattered_frame {
    std::int32_t threshold = 0;
    std::int32_t frame = 0;
    std::int32_t points = 0;
    std::int32_t row_span = 0; // largest row minus smallest
    std::int32_t col_span = 0;
    bool every_frame = false; // withdrawn by the pass over every frame
};

enum class pass_end {
    end_of_range,   // every frame to the stop frame was examined
    max_det_frames, // the frames with detections reached the limit
    scattered,      // a scattered frame held the pass, which examined no frame after it
    stopped,        // the user asked to stop
    failed,         // the statistics could not be computed
};

const char* pass_end_name(pass_end e);

struct pass_report {
    std::int32_t threshold = 0;
    std::int32_t first_frame = 0;
    std::int32_t frame_reached = 0;       // the frame the pass stood on when it ended
    std::int32_t frames_not_examined = 0; // of the range, when a scattered frame or max_det_frames held the pass
    pass_end end = pass_end::end_of_range;
    std::int32_t saved_frames = 0; // frames this pass saved
    std::int32_t detections = 0;   // detections in them
    bool raised = false;           // followed by a raise of the threshold (counts begin again)
    bool complete = false;         // the pass over every frame after the described ones
};

} // namespace serflash::detect
