#pragma once
// The words of the control panel that are not labels: tooltips of the controls that have no
// label of their own (the frame and bit-shift steppers, the mask radio buttons) and hints for
// the others. The layout code looks them up by control id.
#include "ui/control_ids.h"

namespace serflash::ui::qt {

constexpr const char* tooltip_for(int control_id) {
    switch (control_id) {
        case id::STEP_1:
            return "+1 / -1 frame";
        case id::STEP_50:
            return "+50 / -50 frames";
        case id::STEP_500:
            return "+500 / -500 frames";
        case id::STEP_5000:
            return "+5000 / -5000 frames";
        case id::BIT_SHIFT_STEPPER:
            return "Bit shift +1 / -1 (0 to 8)";
        case id::MASK_SELECT_0:
            return "Right-button drags in the image set this mask, tied to the image's top left corner";
        case id::MASK_SELECT_0 + 1:
            return "Right-button drags in the image set this mask, tied to the image's top right corner";
        case id::MASK_SELECT_0 + 2:
            return "Right-button drags in the image set this mask, tied to the image's bottom left corner";
        case id::MASK_SELECT_0 + 3:
            return "Right-button drags in the image set this mask, tied to the image's bottom right corner";
        case id::CONTINUE_AFTER_SCATTER:
            return "Pass over a frame withdrawn for its scatter instead of ending the pass there";
        case id::EXAMINE_EVERY_FRAME:
            return "After the passes, one more over every frame from start to stop at 4.5 sigma, with no Max stop; "
                   "its candidates join the others, each with its class and expected noise";
        case id::SNAPSHOTS_BMP:
            return "Store each frame with detections as a 32-bit BMP (about 4 bytes a pixel)";
        case id::SNAPSHOTS_PNG:
            return "Store each frame with detections as a PNG: the same pixels, losslessly compressed";
        case id::SNAPSHOTS_NONE:
            return "Write no picture files: the frames are still counted and listed";
        case id::FRAME_NO:
            return "Frame number; Return shows it";
        case id::SHOW_FRAME:
            return "Show the frame of the file marked in the table";
        case id::THRESHOLD_AT_PRESENT:
            return "The threshold of the pass under way, in tenths of a standard deviation (60 is 6.0 sigma)";
        case id::READOUT_X:
        case id::READOUT_Y:
        case id::READOUT_VALUE:
            return "Position and sample under the pointer in the image window";
        default:
            return nullptr;
    }
}

} // namespace serflash::ui::qt
