#pragma once
// The options of `serflash synth` that write sources of a known magnitude: a star video for
// `serflash calibrate`, and flashes of a given magnitude.
#include "synth/synth.h"

#include <string>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace serflash::cli {

struct synth_brightness {
    double star_magnitude = 0.0, flash_magnitude = 0.0, zero_point = 0.0, exposure_ms = 0.0;
    CLI::Option* star = nullptr;
    CLI::Option* flash = nullptr;
    CLI::Option* zero = nullptr;
    CLI::Option* exposure = nullptr;
};

void add_synth_brightness_options(CLI::App* cmd, synth_brightness& b);

// Makes p a star video, or sets its flashes' amplitudes, as the options ask: empty, or what is
// wrong with them.
std::string apply_synth_brightness(const synth_brightness& b, synth::params& p);

} // namespace serflash::cli
