#pragma once
// The Moon's surface brightness by selenographic position, for drawing the disk: a real albedo
// map (an equirectangular JPEG, longitude -180 at the left edge, north at the top) when there is
// one, else a made-up surface of maria and craters.
#include "astro/selenographic.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::synth {

class moon_albedo {
public:
    // The made-up surface.
    moon_albedo();
    // The map in a JPEG file; error says why it could not be read (the made-up surface is kept).
    static moon_albedo from_jpeg(const std::string& path, std::string& error);

    // Relative brightness, about 1 on average.
    double at(const astro::selenographic_point& p) const;
    bool from_map() const { return from_map_; }
    const std::string& source() const { return source_; }

private:
    std::int32_t width_ = 0, height_ = 0;
    std::vector<std::uint8_t> grey_;
    double scale_ = 1.0; // turns samples into relative brightness
    bool from_map_ = false;
    std::string source_ = "a made-up surface (no albedo map)";
};

// Where the set-up puts the map taken out of Debian's stellarium-data package.
std::string default_albedo_map_path();

} // namespace serflash::synth
