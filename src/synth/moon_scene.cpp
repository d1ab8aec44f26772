#include "synth/moon_scene.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace serflash::synth {

moon_scene::moon_scene(const moon_scene_params& p, std::shared_ptr<const moon_albedo> albedo)
    : moon_scene(p, astro::moon_at(p.utc_ticks, p.site), std::move(albedo)) {}

moon_scene::moon_scene(const moon_scene_params& p, const astro::moon_ephemeris& e,
                       std::shared_ptr<const moon_albedo> albedo)
    : p_(p), albedo_(std::move(albedo)), ephemeris_(e) {
    view_.disk = {p.centre_x, p.centre_y, p.radius, 0, 0, 0};
    view_.orientation_deg = p.orientation_deg;
    view_.mirror = p.mirror;
}

double moon_scene::level_at(double x, double y) const {
    const auto at = astro::selenographic_of(view_, ephemeris_, {x, y});
    if (!at) return p_.sky;
    const double albedo = albedo_->at(*at);
    double v = p_.sky + p_.earthshine * albedo;
    // Lommel-Seeliger scattering: the lit part brightens toward the limb and fades to the terminator.
    const double sun = astro::sun_cosine_at(ephemeris_, *at);
    if (sun > 0.0) {
        const double view = std::max(0.0, astro::view_cosine_at(ephemeris_, *at));
        v += p_.sunlit * albedo * 2.0 * sun / (sun + view + 1e-9);
    }
    return v;
}

double moon_scene::brightness(double x, double y) const {
    // Four points of the pixel's square.
    const double dx = x - p_.centre_x, dy = y - p_.centre_y;
    const double rho = std::sqrt(dx * dx + dy * dy);
    if (rho > p_.radius + 2.0) return p_.sky;
    double sum = 0.0;
    for (const double oy : {-0.25, 0.25})
        for (const double ox : {-0.25, 0.25}) sum += level_at(x + ox, y + oy);
    return sum / 4.0;
}

surface_region moon_scene::region(double x, double y) const {
    const auto at = astro::selenographic_of(view_, ephemeris_, {x, y});
    if (!at) return surface_region::sky;
    return astro::sun_cosine_at(ephemeris_, *at) > 0.0 ? surface_region::day : surface_region::night;
}

double moon_scene::limb_distance(double x, double y) const {
    return p_.radius - std::hypot(x - p_.centre_x, y - p_.centre_y);
}

std::string moon_scene::describe() const {
    return "the Moon, centre " + std::to_string(p_.centre_x) + "," + std::to_string(p_.centre_y) + ", radius " +
           std::to_string(p_.radius) + " px, north at " + std::to_string(p_.orientation_deg) + " deg" +
           (p_.mirror ? ", mirrored" : "") + ", surface from " + albedo_->source();
}

std::optional<astro::image_point> moon_scene::pixel_of(const astro::selenographic_point& p) const {
    return astro::image_of(view_, ephemeris_, p);
}

} // namespace serflash::synth
