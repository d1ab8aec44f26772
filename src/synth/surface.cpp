#include "synth/surface.h"

#include "synth/random.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <vector>

namespace serflash::synth {

const char* region_name(surface_region r) {
    switch (r) {
        case surface_region::sky:
            return "sky";
        case surface_region::night:
            return "night";
        case surface_region::day:
            return "day";
    }
    return "sky";
}

namespace {

// Smooth lattice noise in [-1, 1]: a hashed value at each corner, quintic blending between them.
class value_noise {
public:
    explicit value_noise(std::uint64_t seed) : seed_(seed) {}
    double at(double x, double y, std::uint64_t layer) const {
        const double fx = std::floor(x);
        const double fy = std::floor(y);
        const auto ix = static_cast<std::int64_t>(fx);
        const auto iy = static_cast<std::int64_t>(fy);
        const double tx = fade(x - fx);
        const double ty = fade(y - fy);
        const double a = corner(ix, iy, layer);
        const double b = corner(ix + 1, iy, layer);
        const double c = corner(ix, iy + 1, layer);
        const double d = corner(ix + 1, iy + 1, layer);
        const double top = a + tx * (b - a);
        const double bottom = c + tx * (d - c);
        return top + ty * (bottom - top);
    }

private:
    static double fade(double t) { return t * t * t * (t * (t * 6.0 - 15.0) + 10.0); }
    double corner(std::int64_t x, std::int64_t y, std::uint64_t layer) const {
        std::uint64_t s = seed_ ^ (static_cast<std::uint64_t>(x) * 0x9E3779B97F4A7C15ULL) ^
                          (static_cast<std::uint64_t>(y) * 0xC2B2AE3D27D4EB4FULL) ^ (layer * 0x165667B19E3779F9ULL);
        const std::uint64_t h = splitmix64(s);
        return static_cast<double>(h >> 11) * 0x1.0p-52 - 1.0;
    }
    std::uint64_t seed_;
};

struct crater {
    double x = 0;
    double y = 0;
    double radius = 0;
    double depth = 0; // darkening of the floor, fraction of the level
};

class procedural_surface final : public surface {
public:
    explicit procedural_surface(const procedural_surface_params& p) : p_(p), noise_(p.seed ^ 0x5EEDF00DULL) {
        random_source rng(p.seed ^ 0x51DEC0DEULL);
        const double w = p.width;
        const double h = p.height;
        const double small = std::min(w, h);
        const double angle = 2.0 * std::numbers::pi * rng.uniform();
        sky_dir_x_ = std::cos(angle);
        sky_dir_y_ = std::sin(angle);
        radius_ = 2.5 * std::max(w, h);
        const double limb_from_centre = 0.3 * small; // the sky takes a side of the frame
        centre_x_ = 0.5 * w - sky_dir_x_ * (radius_ - limb_from_centre);
        centre_y_ = 0.5 * h - sky_dir_y_ * (radius_ - limb_from_centre);
        // The sun lies roughly opposite the sky side, turned by up to 40 degrees.
        const double turn = (rng.uniform() - 0.5) * 0.8 * std::numbers::pi / 2.0;
        day_dir_x_ = -(sky_dir_x_ * std::cos(turn) - sky_dir_y_ * std::sin(turn));
        day_dir_y_ = -(sky_dir_x_ * std::sin(turn) + sky_dir_y_ * std::cos(turn));
        terminator_from_centre_ = 0.36 * small;
        const auto count = static_cast<std::int32_t>(w * h / (90.0 * 90.0)) + 2;
        for (std::int32_t i = 0; i < count; ++i) {
            crater c;
            c.x = -20.0 + rng.uniform() * (w + 40.0);
            c.y = -20.0 + rng.uniform() * (h + 40.0);
            c.radius = 4.0 + 22.0 * rng.uniform() * rng.uniform();
            c.depth = 0.1 + 0.25 * rng.uniform();
            craters_.push_back(c);
        }
        // The terminator is a curve on the sphere: bowed towards the day side (a crescent) or the
        // night side (a gibbous Moon).
        terminator_bow_ = (rng.uniform() < 0.5 ? -1.0 : 1.0) / (2.0 * 0.8 * radius_);
    }

    double limb_distance(double x, double y) const override {
        if (!p_.limb) return 1e9;
        return radius_ - std::hypot(x - centre_x_, y - centre_y_);
    }

    surface_region region(double x, double y) const override {
        if (limb_distance(x, y) < 0) return surface_region::sky;
        return day_fraction(x, y) > 0 ? surface_region::day : surface_region::night;
    }

    double brightness(double x, double y) const override {
        const double along = toward_day(x, y);
        const double glare = p_.sunlit ? p_.glare * std::exp(-std::max(0.0, -along) / p_.glare_reach) : 0.0;
        const double albedo = 1.0 + p_.texture * pattern(x, y);
        const double night = p_.earthshine * albedo;
        const double f = day_fraction(x, y);
        // The sunlit side shows its relief more strongly than the earthshine does.
        const double day = p_.sunlit_level * (1.0 + 1.5 * (albedo - 1.0));
        const double disk = night + f * (day - night);
        const double cover =
            p_.limb ? 0.5 * std::erfc(-limb_distance(x, y) / (std::numbers::sqrt2 * std::max(p_.limb_softness, 0.05)))
                    : 1.0;
        return p_.sky + glare + cover * disk;
    }

    std::string describe() const override {
        char text[400];
        std::snprintf(text, sizeof text,
                      "procedural: limb %s (disk centre %.1f,%.1f, radius %.1f px), sunlit part %s (towards %.3f,%.3f)",
                      p_.limb ? "in the frame" : "off", centre_x_, centre_y_, radius_,
                      p_.sunlit ? "in the frame" : "off", day_dir_x_, day_dir_y_);
        return text;
    }

private:
    double toward_day(double x, double y) const {
        const double dx = x - 0.5 * p_.width;
        const double dy = y - 0.5 * p_.height;
        const double across = -dx * day_dir_y_ + dy * day_dir_x_;
        return dx * day_dir_x_ + dy * day_dir_y_ - terminator_from_centre_ + terminator_bow_ * across * across;
    }
    double day_fraction(double x, double y) const {
        if (!p_.sunlit) return 0.0;
        const double t = std::clamp(toward_day(x, y) / std::max(p_.terminator_width, 1.0), 0.0, 1.0);
        return t * t * (3.0 - 2.0 * t);
    }
    // About unit standard deviation: maria at the largest scale, then finer and finer detail, and craters.
    double pattern(double x, double y) const {
        const double s = std::max(p_.texture_scale, 2.0);
        const double scales[] = {16.0 * s, 4.0 * s, 2.0 * s, s, 0.5 * s, 0.25 * s};
        const double weights[] = {1.2, 0.8, 0.6, 0.45, 0.35, 0.25};
        double v = 0;
        for (std::size_t i = 0; i < std::size(scales); ++i)
            v += weights[i] * noise_.at(x / scales[i], y / scales[i], i);
        v *= 1.1;
        for (const crater& c : craters_) {
            const double dx = x - c.x;
            const double dy = y - c.y;
            if (std::abs(dx) > 1.5 * c.radius || std::abs(dy) > 1.5 * c.radius) continue;
            const double d = std::sqrt(dx * dx + dy * dy) / c.radius;
            const double rim = (d - 1.0) / 0.12;
            v += (-c.depth * (d < 1.0 ? 1.0 - d * d : 0.0) + 0.8 * c.depth * std::exp(-0.5 * rim * rim)) / 0.12;
        }
        return v;
    }

    procedural_surface_params p_;
    value_noise noise_;
    double sky_dir_x_ = 1, sky_dir_y_ = 0;
    double day_dir_x_ = -1, day_dir_y_ = 0;
    double radius_ = 0, centre_x_ = 0, centre_y_ = 0;
    double terminator_from_centre_ = 0;
    double terminator_bow_ = 0; // per pixel across, squared
    std::vector<crater> craters_;
};

} // namespace

std::unique_ptr<surface> make_procedural_surface(const procedural_surface_params& p) {
    return std::make_unique<procedural_surface>(p);
}

} // namespace serflash::synth
