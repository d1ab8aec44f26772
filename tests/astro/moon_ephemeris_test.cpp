// The worked examples of J. Meeus, "Astronomical Algorithms" (2nd ed., 1998), chapters 47, 48
// and 53, all for 1992 April 12 at 0h TD, to the precision the book prints.
#include "astro/moon_ephemeris.h"
#include "astro/moon_physical.h"
#include "astro/time_scales.h"
#include "ser/frame_times.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace serflash::astro {
namespace {

constexpr double jde_example = 2448724.5;
constexpr double t_example = (jde_example - 2451545.0) / 36525.0;

// The book's apparent Moon for the date (example 47.a), with the nutation of example 22.a's kind.
apparent_moon example_moon() { return {133.167265, -3.229126, 134.688470, 13.768368, 368409.7, 0.004610, 23.440636}; }

TEST(MoonPhysical, LibrationsAndAxisOfExample53a) {
    const libration l = libration_at(t_example, example_moon());
    EXPECT_NEAR(l.optical_lon_deg, -1.206, 0.0005);
    EXPECT_NEAR(l.optical_lat_deg, 4.194, 0.0005);
    EXPECT_NEAR(l.rho_deg, -0.01042, 0.000005);
    EXPECT_NEAR(l.sigma_deg, -0.01574, 0.000005);
    EXPECT_NEAR(l.tau_deg, 0.02673, 0.000005);
    EXPECT_NEAR(l.physical_lon_deg, -0.025, 0.0005);
    EXPECT_NEAR(l.physical_lat_deg, 0.006, 0.0005);
    EXPECT_NEAR(l.lon_deg, -1.23, 0.005);
    EXPECT_NEAR(l.lat_deg, 4.20, 0.005);
    EXPECT_NEAR(l.axis_pa_deg, 15.08, 0.005);
}

TEST(MoonPhysical, IlluminationOfExample48a) {
    const apparent_moon moon{0, 0, 134.6885, 13.7684, 368410.0, 0, 0};
    const apparent_sun sun{0, 20.6579, 8.6964, 149971520.0};
    const illumination lit = illumination_of(moon, sun);
    EXPECT_NEAR(lit.elongation_deg, 110.7929, 0.00005);
    EXPECT_NEAR(lit.phase_angle_deg, 69.0756, 0.00005);
    EXPECT_NEAR(lit.fraction, 0.6786, 0.00005);
    EXPECT_NEAR(lit.bright_limb_pa_deg, 285.0, 0.05);
}

TEST(MoonPhysical, SemidiameterOfChapter55) { EXPECT_NEAR(semidiameter_arcsec(368409.7), 973.0, 0.05); }

// 1992 April 12, 0h TT is 23:59:01.816 UTC the day before (26 leap seconds, plus 32.184 s).
std::int64_t example_utc() { return ser::ticks_of(1992, 4, 11, 23, 59, 1.816); }

TEST(MoonEphemeris, TimeScalesFromTheLeapSeconds) {
    const time_scales ts = time_scales_at(example_utc());
    EXPECT_NEAR(ts.tt.whole(), jde_example, 1e-9);
    EXPECT_DOUBLE_EQ(ts.tai_minus_utc, 26.0);
    EXPECT_NEAR(ts.delta_t_s, 58.184, 1e-6);
    // After the leap second of 2016-12-31 the count is 37 s.
    EXPECT_NEAR(time_scales_at(ser::ticks_of(2026, 12, 8, 21, 30, 0)).delta_t_s, 69.184, 1e-6);
    // Before UTC existed, Delta T comes from its polynomial (about 29 s in 1950).
    EXPECT_NEAR(time_scales_at(ser::ticks_of(1950, 1, 1, 0, 0, 0)).delta_t_s, 29.07, 0.01);
    EXPECT_THROW(time_scales_at(ser::ticks_of(1899, 12, 31, 0, 0, 0)), std::domain_error);
    EXPECT_THROW(time_scales_at(ser::ticks_of(2100, 1, 1, 0, 0, 0)), std::domain_error);
}

// The library's series of the Moon (the book's own, chapter 47) against example 47.a. The book
// reduces to the equator of date with a shorter nutation series than the library's, so the
// place agrees to a few tenths of an arc second rather than to its last printed digit.
TEST(MoonEphemeris, GeocentricPlaceOfExample47a) {
    const moon_ephemeris e = moon_at(example_utc(), std::nullopt);
    EXPECT_FALSE(e.topocentric);
    EXPECT_NEAR(e.ra_deg, 134.688470, 0.0003);
    EXPECT_NEAR(e.dec_deg, 13.768368, 0.0003);
    EXPECT_NEAR(e.distance_km, 368409.7, 0.5);
    EXPECT_NEAR(e.libration_lon_deg, -1.23, 0.005);
    EXPECT_NEAR(e.libration_lat_deg, 4.20, 0.005);
    EXPECT_NEAR(e.axis_pa_deg, 15.08, 0.005);
    EXPECT_NEAR(e.illuminated_fraction, 0.6786, 0.0005);
    EXPECT_NEAR(e.bright_limb_pa_deg, 285.0, 0.05);
}

// Greenwich mean sidereal time by the book's expression 12.4, independent of the library's.
double gmst_deg(double jd_ut) {
    const double d = jd_ut - 2451545.0;
    const double t = d / 36525.0;
    return degrees_0_360(280.46061837 + 360.98564736629 * d + 0.000387933 * t * t - t * t * t / 38710000.0);
}

// Seen from under the Moon it is one Earth radius nearer and in the same place; seen from
// the opposite side of the Earth, one radius farther. A site turned the wrong way, or placed
// with the wrong sidereal time, would fail both.
TEST(MoonEphemeris, TopocentricParallaxUnderAndOppositeTheMoon) {
    const std::int64_t when = ser::ticks_of(2026, 12, 8, 21, 30, 0);
    const moon_ephemeris geo = moon_at(when, std::nullopt);
    const double jd_ut = 2440587.5 + static_cast<double>(when - ser::ticks_of(1970, 1, 1, 0, 0, 0)) / 864e9;
    double lon = geo.ra_deg - gmst_deg(jd_ut);
    lon = degrees_0_360(lon + 180.0) - 180.0;
    const moon_ephemeris under = moon_at(when, observing_site{geo.dec_deg, lon, 0.0});
    EXPECT_TRUE(under.topocentric);
    EXPECT_NEAR(geo.distance_km - under.distance_km, 6375.0, 15.0);
    EXPECT_NEAR(under.ra_deg, geo.ra_deg, 0.02);
    EXPECT_NEAR(under.dec_deg, geo.dec_deg, 0.02);
    EXPECT_NEAR(under.semidiameter_arcsec / geo.semidiameter_arcsec, geo.distance_km / under.distance_km, 1e-12);

    const moon_ephemeris opposite = moon_at(when, observing_site{-geo.dec_deg, lon + 180.0, 0.0});
    EXPECT_NEAR(opposite.distance_km - geo.distance_km, 6375.0, 15.0);

    // A site away from the sub-lunar point sees the Moon shifted towards its own horizon, at most
    // by the horizontal parallax (about 0.9 degree at this distance).
    const moon_ephemeris north = moon_at(when, observing_site{60.0, lon, 0.0});
    EXPECT_LT(north.dec_deg, geo.dec_deg - 0.5);
    EXPECT_GT(north.dec_deg, geo.dec_deg - 0.91);
    EXPECT_THROW(moon_at(when, observing_site{91.0, 0.0, 0.0}), std::invalid_argument);
}

TEST(ObservingSite, ParsesAndRefusesWithReasons) {
    std::string error;
    const auto site = parse_observing_site("48.1,348.5,520", error);
    ASSERT_TRUE(site);
    EXPECT_DOUBLE_EQ(site->lat_deg, 48.1);
    EXPECT_DOUBLE_EQ(site->lon_deg, -11.5);
    EXPECT_DOUBLE_EQ(site->height_m, 520.0);
    for (const char* bad : {"", "1,2", "1,2,3,4", "a,b,c", "1,,3", "1,2,3 ", "nan,0,0"}) {
        EXPECT_FALSE(parse_observing_site(bad, error)) << bad;
        EXPECT_NE(error.find("LAT,LON,HEIGHT_M"), std::string::npos) << bad;
    }
    EXPECT_FALSE(parse_observing_site("-90.5,0,0", error));
    EXPECT_NE(error.find("latitude"), std::string::npos);
    EXPECT_FALSE(parse_observing_site("0,361,0", error));
    EXPECT_NE(error.find("longitude"), std::string::npos);
    EXPECT_FALSE(parse_observing_site("0,0,30000", error));
    EXPECT_NE(error.find("height"), std::string::npos);
}

} // namespace
} // namespace serflash::astro
