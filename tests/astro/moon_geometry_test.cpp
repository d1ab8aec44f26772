#include "astro/limb_fit.h"
#include "astro/selenographic.h"
#include "synth/moon_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

namespace serflash::astro {
namespace {

moon_ephemeris ephemeris(double l, double b, double p, double colongitude, double sun_lat = 0.0) {
    moon_ephemeris e{};
    e.semidiameter_arcsec = 930.0;
    e.libration_lon_deg = l;
    e.libration_lat_deg = b;
    e.axis_pa_deg = p;
    e.sun_colongitude_deg = colongitude;
    e.sun_selenographic_lat_deg = sun_lat;
    return e;
}

disk_view view_of(double x, double y, double r, double orientation, bool mirror) {
    disk_view v;
    v.disk = {x, y, r, 0, 0, 0};
    v.orientation_deg = orientation;
    v.mirror = mirror;
    return v;
}

TEST(Selenographic, PixelsAndPositionsAreInverse) {
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int k = 0; k < 200; ++k) {
        const moon_ephemeris e = ephemeris(16 * u(rng) - 8, 14 * u(rng) - 7, 50 * u(rng) - 25, 360 * u(rng));
        const disk_view v = view_of(1000 * u(rng), 800 * u(rng), 100 + 900 * u(rng), 360 * u(rng), k % 2 == 1);
        const selenographic_point p{170 * u(rng) - 85, 180 * u(rng) - 90};
        const auto pixel = image_of(v, e, p);
        if (!pixel) continue; // turned away by the libration
        const auto back = selenographic_of(v, e, *pixel);
        ASSERT_TRUE(back.has_value());
        EXPECT_LT(arc_between_deg(p, *back), 1e-6) << k;
    }
}

TEST(Selenographic, EastLiesWestOnTheSkyAndTheMirrorFlipsIt) {
    const moon_ephemeris e = ephemeris(0, 0, 0, 0);
    // North up, east (Mare Crisium's side) to the right as the unaided eye sees it.
    const auto crisium = image_of(view_of(500, 500, 400, 0, false), e, {17, 59});
    ASSERT_TRUE(crisium);
    EXPECT_GT(crisium->x, 500 + 0.8 * 400 * std::sin(59 * M_PI / 180) * std::cos(17 * M_PI / 180));
    EXPECT_LT(crisium->y, 500.0); // north of the equator: up
    const auto mirrored = image_of(view_of(500, 500, 400, 0, true), e, {17, 59});
    ASSERT_TRUE(mirrored);
    EXPECT_NEAR(mirrored->x, 1000.0 - crisium->x, 1e-9);
    EXPECT_NEAR(mirrored->y, crisium->y, 1e-9);
    // Turned by 90 degrees counterclockwise, north points left and Crisium comes to the top.
    const auto turned = image_of(view_of(500, 500, 400, 90, false), e, {0, 90});
    ASSERT_TRUE(turned);
    EXPECT_NEAR(turned->x, 500.0, 1e-9);
    EXPECT_NEAR(turned->y, 100.0, 1e-9);
    // The far side has no pixel, and a pixel off the disk no position.
    EXPECT_FALSE(image_of(view_of(500, 500, 400, 0, false), e, {0, 180}));
    EXPECT_FALSE(selenographic_of(view_of(500, 500, 400, 0, false), e, {500, 99}));
}

TEST(Selenographic, TheBrightLimbFacesTheSun) {
    // First quarter: the Sun rises on longitude 0, the east half is lit, the bright limb is west.
    const sunlight first = sunlight_of(ephemeris(0, 0, 0, 0));
    EXPECT_NEAR(first.bright_limb_pa_deg, 270.0, 1e-9);
    EXPECT_NEAR(first.cos_phase, 0.0, 1e-12);
    EXPECT_NEAR(sunlight_of(ephemeris(0, 0, 0, 90)).cos_phase, 1.0, 1e-12);   // full
    EXPECT_NEAR(sunlight_of(ephemeris(0, 0, 0, 270)).cos_phase, -1.0, 1e-12); // new
    // Whatever the turn, a point just inside the limb toward the bright limb is lit.
    for (const double colongitude : {20.0, 60.0, 200.0, 300.0}) {
        const moon_ephemeris e = ephemeris(5, -4, 17, colongitude, 1.2);
        const sunlight s = sunlight_of(e);
        for (const bool mirror : {false, true}) {
            const disk_view v = view_of(0, 0, 100, 33, mirror);
            const double a = image_angle_of(v, s.bright_limb_pa_deg) * M_PI / 180;
            const auto p = selenographic_of(v, e, {-95 * std::sin(a), -95 * std::cos(a)});
            ASSERT_TRUE(p);
            EXPECT_GT(sun_cosine_at(e, *p), 0.0) << colongitude;
            EXPECT_NEAR(orientation_for(image_angle_of(v, 40.0), 40.0, mirror), 33.0, 1e-9);
        }
    }
}

TEST(Selenographic, UncertaintyGrowsTowardTheLimb) {
    const moon_ephemeris e = ephemeris(0, 0, 0, 0);
    disk_view v = view_of(500, 500, 400, 0, false);
    v.disk.x_err = v.disk.y_err = v.disk.radius_err = 0.5;
    v.orientation_err_deg = 0.2;
    const auto centre = locate(v, e, {500, 500}, 0.5);
    const auto edge = locate(v, e, {500 + 395, 500}, 0.5);
    ASSERT_TRUE(centre && edge);
    EXPECT_LT(centre->err_deg, 0.2);
    EXPECT_GT(edge->err_deg, 3 * centre->err_deg);
    EXPECT_FALSE(locate(v, e, {500 + 401, 500}, 0.5));
}

// An averaged frame of the Moon as the made-up videos draw it, with a little noise and stars.
grey_image moon_frame(const synth::moon_scene& scene, std::int32_t w, std::int32_t h, double noise) {
    grey_image g;
    g.width = w;
    g.height = h;
    std::mt19937 rng(3);
    std::normal_distribution<double> n(0.0, noise);
    for (std::int32_t y = 0; y < h; ++y)
        for (std::int32_t x = 0; x < w; ++x) g.samples.push_back(static_cast<float>(scene.brightness(x, y) + n(rng)));
    for (int k = 0; k < 6; ++k) {
        const std::int32_t sx = 20 + 37 * k, sy = 30 + 11 * k;
        g.samples[static_cast<std::size_t>(sy * w + sx)] += 900.0f;
    }
    return g;
}

// The first colongitude from `start` on (in steps of 10 degrees) that lights between a fifth and
// four fifths of the disk in a 320 x 240 frame, so that the terminator is in view.
double sun_in_view(const synth::moon_scene_params& p, double start) {
    for (double c = start; c < start + 360; c += 10) {
        const moon_ephemeris e = ephemeris(4, -3, 12, c, 1.0);
        const disk_view v = view_of(p.centre_x, p.centre_y, p.radius, p.orientation_deg, p.mirror);
        int on = 0, lit = 0;
        for (int y = 0; y < 240; y += 4)
            for (int x = 0; x < 320; x += 4)
                if (const auto at = selenographic_of(v, e, {double(x), double(y)})) {
                    ++on;
                    lit += sun_cosine_at(e, *at) > 0 ? 1 : 0;
                }
        if (lit > on / 5 && lit < 4 * on / 5) return c;
    }
    return start;
}

struct limb_case {
    double cx, cy, radius, orientation, colongitude;
    bool mirror;
};

TEST(LimbFit, FindsTheDiskFromAQuarterOfItsLimbAndTurnsIt) {
    const auto albedo = std::make_shared<const synth::moon_albedo>();
    // Centres off the frame so that about a quarter of the limb shows, crescent and gibbous.
    for (const limb_case& c : {limb_case{420, 380, 380, 30, 300, false}, limb_case{-60, 300, 330, 200, 40, true},
                               limb_case{160, 130, 90, 75, 330, false}}) {
        synth::moon_scene_params p;
        p.centre_x = c.cx;
        p.centre_y = c.cy;
        p.radius = c.radius;
        p.orientation_deg = c.orientation;
        p.mirror = c.mirror;
        p.sky = 300;
        p.earthshine = 120;
        p.sunlit = 2500;
        const synth::moon_scene scene(p, ephemeris(4, -3, 12, sun_in_view(p, c.colongitude), 1.0), albedo);
        const grey_image g = moon_frame(scene, 320, 240, 6.0);
        const limb_fit fit = find_limb(g);
        ASSERT_TRUE(fit.found) << fit.why_not;
        EXPECT_NEAR(fit.disk.x, c.cx, 1.0 + 3 * fit.disk.x_err);
        EXPECT_NEAR(fit.disk.y, c.cy, 1.0 + 3 * fit.disk.y_err);
        EXPECT_NEAR(fit.disk.radius, c.radius, 1.0 + 3 * fit.disk.radius_err);
        EXPECT_LT(fit.disk.radius_err, 3.0);
        const sunlight s = sunlight_of(scene.ephemeris());
        const bright_limb b = measure_bright_limb(g, fit.disk, s.cos_phase);
        ASSERT_TRUE(b.found) << b.why_not;
        const double expected = image_angle_of(scene.view(), s.bright_limb_pa_deg);
        EXPECT_LT(std::abs(signed_degrees(b.image_angle_deg - expected)), 1.0 + 3 * b.err_deg);
    }
}

TEST(LimbFit, SaysSoWhenThereIsNoLimb) {
    grey_image g;
    g.width = 200;
    g.height = 150;
    std::mt19937 rng(5);
    std::normal_distribution<double> n(500.0, 10.0);
    for (int k = 0; k < 200 * 150; ++k) g.samples.push_back(static_cast<float>(n(rng)));
    const limb_fit fit = find_limb(g);
    EXPECT_FALSE(fit.found);
    EXPECT_EQ(fit.why_not.rfind("no limb found", 0), 0U) << fit.why_not;
    // A straight edge (the frame cut by a cloud bank) is no limb either.
    for (int y = 0; y < 150; ++y)
        for (int x = 100; x < 200; ++x) g.samples[static_cast<std::size_t>(y * 200 + x)] += 800.0f;
    EXPECT_FALSE(find_limb(g).found);
}

} // namespace
} // namespace serflash::astro
