#pragma once
// The options that say how the Moon is seen: the site, the turn of the image and a mirror; for
// the scan (which places candidates on the Moon) and for the made-up videos (which draw it).
#include "report/moon_observation.h"

#include <string>

namespace CLI {
class App;
}

namespace serflash::cli {

// --site, --rotation and --mirror into options; the texts are checked by finish_moon_options,
// by the rules the desktop program's fields use.
struct moon_cli {
    report::moon_options options;
    std::string site_text;
    std::string rotation_text;
};
void add_moon_options(CLI::App* cmd, moon_cli& m, const std::string& group);
// False (after a message naming the command) when the site is malformed.
bool finish_moon_options(moon_cli& m, const std::string& command);

} // namespace serflash::cli
