#pragma once
// PNG snapshots: the pixels of the snapshot bitmap, losslessly compressed.
#include "detect/snapshots.h"
#include "display/render.h"
#include "report/png_image.h"

namespace serflash::report {

// The bitmap's pixels as 8-bit red, green, blue (the fourth byte of each pixel is always 0).
image8 snapshot_pixels(const display::display_bitmap& disp);

// The encoder that the scans of the command line and the desktop program write PNG snapshots with.
detect::picture_encoder png_snapshot_encoder();

} // namespace serflash::report
