#pragma once
// What the telescope sees of the Moon and the sky, before image motion, events and noise: the
// brightness at any place of the scene. A night is drawn from one such surface; a procedural one
// stands in where no rendered map of the Moon is given.
#include <cstdint>
#include <memory>
#include <string>

namespace serflash::synth {

// What lies at a place of the scene.
enum class surface_region {
    sky,   // beyond the limb
    night, // the disk lit by earthshine only
    day,   // the sunlit part of the disk
};

const char* region_name(surface_region r);

// The scene in pixels of the frame when the image has not moved: (0, 0) is the centre of the top
// left pixel, x to the right, y down. Places outside the frame are asked for too (the image moves).
class surface {
public:
    virtual ~surface() = default;
    // Brightness in counts of the file at a sub-pixel place, as the optics deliver it (the limb and
    // the finest detail already softened by the seeing).
    virtual double brightness(double x, double y) const = 0;
    virtual surface_region region(double x, double y) const = 0;
    // Distance from the place to the limb in pixels, positive on the disk; lets events keep away
    // from the edge.
    virtual double limb_distance(double x, double y) const = 0;
    // One line for the ground truth: what kind of surface and where its limb lies.
    virtual std::string describe() const = 0;
};

// The levels and the layout of the procedural surface.
struct procedural_surface_params {
    std::int32_t width = 480;
    std::int32_t height = 360;
    std::uint64_t seed = 1;
    double sky = 150.0;          // sky level far from the sunlit part
    double earthshine = 450.0;   // mean level of the night side
    double texture = 0.12;       // contrast of the albedo pattern (fraction of the level, standard deviation)
    double texture_scale = 14.0; // size of the coarsest detail the pattern keeps, pixels
    bool limb = true;            // a part of the disk edge crosses the frame
    double limb_softness = 0.8;  // the seeing's blur of the edge, pixels
    bool sunlit = true;          // a sunlit part beyond a terminator on the far side of the frame
    double sunlit_level = 3200.0;
    double terminator_width = 18.0; // pixels from the night side to full daylight
    double glare = 120.0;           // scattered light from the sunlit part at the terminator, counts
    double glare_reach = 120.0;     // its fall-off, pixels
};

// Value-noise albedo under the earthshine, a limb in a direction drawn from the seed, and a
// terminator on the opposite side of the frame.
std::unique_ptr<surface> make_procedural_surface(const procedural_surface_params& p);

} // namespace serflash::synth
