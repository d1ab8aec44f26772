#pragma once
// Checks of option values that refuse NaN, infinities, empty values and numbers out of range
// before any work is done, naming the range as a user would write it.
#include <cstdint>
#include <string>

namespace CLI {
class Validator;
}

namespace serflash::cli {

// A finite number from lo to hi (above lo when lo_open); range_text says which ("above 0",
// "from 0.05 to 20").
CLI::Validator number_in(double lo, double hi, const std::string& range_text, bool lo_open = false);
// A whole number from lo to hi, in digits.
CLI::Validator whole_in(std::int64_t lo, std::int64_t hi);
// A frame rate (--fps): above 0 and at most 1000000 frames per second.
CLI::Validator frame_rate_check();
// A whole number from 0 to 18446744073709551615, in digits.
CLI::Validator whole_64_bits();

} // namespace serflash::cli
