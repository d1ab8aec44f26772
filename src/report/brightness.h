#pragma once
// The brightness of each candidate of a scanned file against a photometric zero point: aperture
// photometry of its peak frame over the mean of its packet's other frames, the magnitude with
// its error, and the luminous energy of the flash.
#include "astro/observing_site.h"
#include "photometry/zero_point.h"
#include "report/observation.h"
#include "ser/ser_reader.h"

#include <optional>

namespace serflash::report {

// The exposure of a frame of the file: its frame interval, else the star video's; 0 if neither.
double exposure_of(const observation& o, const photometry::zero_point& z);

// The distance from the observer to the Moon at the candidate's peak (km): the ephemeris's when
// its time is known (topocentric with a site), the mean distance otherwise.
double moon_distance_km(const observation& o, const detect::candidate& c,
                        const std::optional<astro::observing_site>& site);

// Fills in each candidate's brightness, reading the frames it needs through reader.
void measure_brightness(ser::ser_reader& reader, observation& o, const photometry::zero_point& z,
                        const std::optional<astro::observing_site>& site);

} // namespace serflash::report
