#pragma once
// The Moon as a made-up video shows it: the disk where the ephemeris puts its features for a time
// and a site, turned and perhaps mirrored as the optics would, with its sunlit part, earthshine
// and limb, painted from an albedo map; and the pixel of any selenographic point on it.
#include "astro/moon_ephemeris.h"
#include "astro/selenographic.h"
#include "synth/moon_albedo.h"
#include "synth/surface.h"

#include <cstdint>
#include <memory>
#include <optional>

namespace serflash::synth {

struct moon_scene_params {
    std::int64_t utc_ticks = 0;
    std::optional<astro::observing_site> site;
    double centre_x = 0, centre_y = 0, radius = 0; // pixels
    double orientation_deg = 0;                    // image angle of celestial north
    bool mirror = false;
    double sky = 1200.0;       // level of the sky around the Moon
    double earthshine = 250.0; // above the sky, for an average albedo
    double sunlit = 2600.0;    // above the sky, for an average albedo with the Sun overhead
};

class moon_scene final : public surface {
public:
    // The ephemeris of the time and site of p.
    moon_scene(const moon_scene_params& p, std::shared_ptr<const moon_albedo> albedo);
    // A given ephemeris.
    moon_scene(const moon_scene_params& p, const astro::moon_ephemeris& e, std::shared_ptr<const moon_albedo> albedo);

    // The noise-free level at a place (a pixel's square averaged over a few points, so the limb is
    // smooth).
    double brightness(double x, double y) const override;
    surface_region region(double x, double y) const override;
    double limb_distance(double x, double y) const override;
    std::string describe() const override;
    // The pixel of a point, none on the far side.
    std::optional<astro::image_point> pixel_of(const astro::selenographic_point& p) const;

    const astro::moon_ephemeris& ephemeris() const { return ephemeris_; }
    const astro::disk_view& view() const { return view_; }
    const moon_albedo& albedo() const { return *albedo_; }

private:
    double level_at(double x, double y) const;

    moon_scene_params p_;
    std::shared_ptr<const moon_albedo> albedo_;
    astro::moon_ephemeris ephemeris_;
    astro::disk_view view_;
};

} // namespace serflash::synth
