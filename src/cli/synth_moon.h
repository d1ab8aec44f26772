#pragma once
// The Moon in `serflash synth`: its options, and the drawn disk and selenographic flashes they
// put into the generator's parameters.
#include "synth/synth.h"

#include <iosfwd>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

namespace serflash::cli {

struct synth_moon_cli {
    std::vector<CLI::Option*> given; // any of them draws the Moon
    bool moon = false;
    std::string centre, site;
    double radius = 0, rotation = 0, earthshine = -1, sunlit = -1;
    bool mirror = false;
    std::string albedo_map;
    std::vector<std::string> flashes_at;
    bool wanted() const;
};

void add_synth_moon_options(CLI::App* cmd, synth_moon_cli& m);

// Puts the drawn Moon and the flashes placed on it into p (whose size, depth and time are set);
// false with a message on err when an option is bad. Says on out what was drawn.
bool apply_synth_moon(const synth_moon_cli& m, synth::params& p, std::ostream& out, std::ostream& err);

} // namespace serflash::cli
