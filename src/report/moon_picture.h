#pragma once
// The report's picture of the Moon in a file: the averaged frames, the limb fitted, a
// selenographic grid and the candidates marked.
#include "report/moon_observation.h"
#include "report/png_image.h"

#include <vector>

namespace serflash::report {

// The picture is at most this many pixels wide.
inline constexpr std::int32_t moon_picture_width = 480;

// The grid's lines every this many degrees.
inline constexpr double grid_step_deg = 15.0;

image8 moon_picture(const moon_observation& m, const std::vector<astro::image_point>& candidates);

// The grid's points in image pixels, line by line (a line breaks where it turns to the far side),
// for any view of the disk: for the report and for an overlay on the frame.
std::vector<std::vector<astro::image_point>> selenographic_grid(const astro::disk_view& view,
                                                                const astro::moon_ephemeris& e);

} // namespace serflash::report
