#include "photometry/aperture.h"
#include "photometry/flash_energy.h"
#include "photometry/star_measure.h"
#include "photometry/zero_point.h"
#include "synth/star_video.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace serflash::photometry {
namespace {

patch flat_patch(std::int32_t side, double value) {
    patch p;
    p.side = side;
    p.values.assign(static_cast<std::size_t>(side * side), value);
    return p;
}

TEST(Aperture, CircleSumsSkyAndIncompleteEdges) {
    patch p = flat_patch(31, 10.0);
    p.values[15 * 31 + 15] = 110.0;
    const circle_sum s = sum_in_circle(p, 15, 15, 2.0);
    EXPECT_EQ(s.pixels, 13); // the pixel centres within 2 of the centre
    EXPECT_DOUBLE_EQ(s.sum, 13 * 10.0 + 100.0);
    EXPECT_TRUE(s.complete);
    EXPECT_FALSE(sum_in_circle(p, 1, 1, 2.0).complete);
    const sky k = sky_in_annulus(p, 15, 15, 4.0, 8.0);
    EXPECT_DOUBLE_EQ(k.level, 10.0);
    EXPECT_DOUBLE_EQ(k.sigma, 0.0);
    const point c = centroid(p, 14, 16, 3.0, 10.0);
    EXPECT_DOUBLE_EQ(c.x, 15.0);
    EXPECT_DOUBLE_EQ(c.y, 15.0);
}

TEST(Aperture, GaussianShareAndItsInverse) {
    EXPECT_NEAR(gaussian_fraction(1.0, 1.0), 1.0 - std::exp(-0.5), 1e-15);
    for (const double sigma : {0.6, 1.0, 1.7, 3.0}) {
        const double ratio = gaussian_fraction(4.0, sigma) / gaussian_fraction(7.0, sigma);
        EXPECT_NEAR(gaussian_sigma_from_ratio(4.0, 7.0, ratio), sigma, 1e-7) << sigma;
    }
    EXPECT_TRUE(std::isnan(gaussian_sigma_from_ratio(4.0, 7.0, 1.0)));
    EXPECT_TRUE(std::isnan(gaussian_sigma_from_ratio(4.0, 7.0, 0.0)));
}

TEST(ZeroPoint, FileRoundTripAndRefusals) {
    zero_point z;
    z.band = "V";
    z.magnitude = 15.25;
    z.error = 0.01;
    z.psf_sigma_px = 1.3;
    z.exposure_s = 0.04;
    std::string error;
    const auto back = parse_zero_point_json(zero_point_json(z), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->band, "V");
    EXPECT_DOUBLE_EQ(back->magnitude, 15.25);
    EXPECT_DOUBLE_EQ(back->psf_sigma_px, 1.3);
    EXPECT_FALSE(back->from_value());

    EXPECT_FALSE(parse_zero_point_json("{", error));
    EXPECT_NE(error.find("not readable JSON"), std::string::npos);
    EXPECT_FALSE(parse_zero_point_json("{\"format\": \"other\"}", error));
    std::string text = zero_point_json(z);
    text.replace(text.find("\"V\""), 3, "\"K\"");
    EXPECT_FALSE(parse_zero_point_json(text, error));
    EXPECT_NE(error.find("band \"K\""), std::string::npos);
    z.sky_inner_px = 3.0; // inside the aperture
    EXPECT_FALSE(parse_zero_point_json(zero_point_json(z), error));
}

// E = f pi d^2 dlambda F0 10^(-0.4 m) t worked by hand: R = 5 at the mean distance for 20 ms.
TEST(FlashEnergy, SurveyExpression) {
    const band* r = find_band("R");
    ASSERT_NE(r, nullptr);
    const double d = 384400e3;
    const double expected = 2.0 * std::numbers::pi * d * d * 0.158 * 2.177e-8 * 0.01 * 0.02;
    EXPECT_NEAR(luminous_energy_j(*r, 5.0, 0.02, 384400.0) / expected, 1.0, 1e-12);
    EXPECT_NEAR(luminous_energy_j(*r, 5.0, 0.02, 384400.0), 6.387e5, 0.001e5);
    // Five magnitudes are a factor of 100.
    EXPECT_NEAR(luminous_energy_j(*r, 0.0, 0.02, 384400.0) / luminous_energy_j(*r, 5.0, 0.02, 384400.0), 100.0, 1e-9);
    EXPECT_EQ(find_band("Q"), nullptr);
    EXPECT_EQ(band_names(), "V, R, I");
}

TEST(StarVideo, SpotsHoldTheCountsOfTheirMagnitude) {
    const synth::photometric_scale scale{16.0, 0.04};
    EXPECT_NEAR(synth::counts_of_magnitude(scale, 16.0), 0.04, 1e-15);
    EXPECT_NEAR(synth::counts_of_magnitude(scale, 11.0), 4.0, 1e-12);
    // A wide spot's peak is its counts over 2 pi sigma^2.
    EXPECT_NEAR(synth::amplitude_for_counts(1000.0, 3.0), 1000.0 / (2.0 * std::numbers::pi * 9.0), 1e-5);

    synth::params p = synth::default_params(16);
    p.width = 64;
    p.height = 64;
    p.frames = 10;
    const synth::params star = synth::star_video_params(p, scale, 3.0);
    ASSERT_EQ(star.flashes.size(), 1U);
    EXPECT_EQ(star.flashes[0].frames, 10);
    EXPECT_EQ(star.stars, 0);
    EXPECT_TRUE(synth::check_brightness(star, scale).empty());
    EXPECT_NE(synth::check_brightness(synth::star_video_params(p, scale, -3.0), scale).find("saturate"),
              std::string::npos);
}

} // namespace
} // namespace serflash::photometry
