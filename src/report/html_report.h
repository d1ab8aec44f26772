#pragma once
// The report page of one scanned file: a single HTML file with its images inside (data: URIs),
// readable in a browser with no network.
#include "detect/core_budget.h"
#include "report/observation.h"
#include "report/png_image.h"

#include <string>
#include <string_view>

namespace serflash::report {

// The cut-outs of a candidate side by side, each enlarged this many times without smoothing.
inline constexpr int cutout_zoom = 4;

// The grey strip of a candidate's cut-outs: black below mean - 3 sigma of the peak pixel, white
// at the peak sample, square-root steps between, so that the sky's noise and the flash both show.
image8 cutout_strip(const measured_candidate& m);

// Text with & < > " written as HTML entities.
std::string html_escape(std::string_view text);

// extra_section: HTML placed after the coverage (the sensitivity of the scan, when measured).
// The cut-out strips are compressed on the budget's cores (no bound: every core).
std::string report_html(const observation& o, std::string_view extra_section = {},
                        const detect::core_budget& cores = {});

} // namespace serflash::report
