#pragma once
// The options of `serflash synth` that make a night: a preset (--night SEED, --noise-only SEED)
// and a switch or a level for each nuisance.
#include "synth/night.h"

#include <memory>
#include <optional>
#include <string>

namespace CLI {
class App;
}

namespace serflash::cli {

struct night_options;

// Registers the night options on the synth command.
std::shared_ptr<night_options> add_night_options(CLI::App& cmd);

// Whether a preset was asked for.
bool night_requested(const night_options& o);

// The night's parameters: the preset, then every night option given, then the synth options the
// night shares (size, depth, frames, stars, hot pixels, flashes, header texts, time stamps) as far
// as they were given. classic holds the values of those options. Empty after a message on
// standard error naming what cannot be used.
std::optional<synth::night_params> night_from_options(const night_options& o, CLI::App& cmd,
                                                      const synth::params& classic);

// What the night holds, for the terminal.
void print_night(const std::string& ser_path, const synth::night_truth& t);

} // namespace serflash::cli
