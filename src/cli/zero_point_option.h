#pragma once
// `--zero-point FILE|VALUE` of the scan: a zero-point file from `serflash calibrate`, or the
// zero point itself as a number (band R, the default aperture, the flash's own spot width).
#include "photometry/zero_point.h"

#include <optional>
#include <string>

namespace serflash::cli {

// The zero point the text names; nothing, after a message naming the command, when the file
// cannot be read or is not one.
std::optional<photometry::zero_point> zero_point_from_option(const std::string& text, const std::string& command,
                                                             bool& bad);

} // namespace serflash::cli
