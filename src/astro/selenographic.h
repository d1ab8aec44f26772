#pragma once
// Where a pixel lies on the Moon, and back: the disk found in the image, its orientation on the
// sky and the ephemeris's librations and axis turn image positions into selenographic latitude
// and longitude (and selenographic positions into pixels, for drawing and for made-up videos).
//
// Image angles are counted counterclockwise from the image's up direction as the image is
// displayed (row 0 at the top). The orientation is the image angle of celestial north; without a
// mirror, position angles (from north through east) run counterclockwise in the image, with one
// they run clockwise.
#include "astro/moon_ephemeris.h"

#include <optional>

namespace serflash::astro {

// The lunar disk as found in (or put into) an image, in pixels.
struct disk_circle {
    double x = 0, y = 0, radius = 0;
    double x_err = 0, y_err = 0, radius_err = 0; // one standard deviation
};

struct disk_view {
    disk_circle disk;
    double orientation_deg = 0;     // image angle of celestial north
    double orientation_err_deg = 0; // one standard deviation
    bool mirror = false;            // the optics flip the image (a star diagonal)
};

struct selenographic_point {
    double lat_deg = 0;
    double lon_deg = 0; // east positive, -180 to 180
};

struct image_point {
    double x = 0, y = 0;
};

// The image angle of a position angle on the sky, and the orientation that puts a position angle
// at an image angle.
double image_angle_of(const disk_view& view, double position_angle_deg);
double orientation_for(double image_angle_deg, double position_angle_deg, bool mirror);

// The Sun as the disk shows it: the position angle of the bright limb's midpoint and the cosine of
// the phase angle (1 at full Moon), from the Sun's selenographic position and the librations, so
// that the lit part drawn and the lit part looked for are the same.
struct sunlight {
    double bright_limb_pa_deg = 0;
    double cos_phase = 1;
};
sunlight sunlight_of(const moon_ephemeris& e);

// The cosine of the Sun's height above a selenographic point's horizon (negative: night).
double sun_cosine_at(const moon_ephemeris& e, const selenographic_point& p);
// The cosine of the observer's line of sight from the point's vertical (negative: far side).
double view_cosine_at(const moon_ephemeris& e, const selenographic_point& p);

// The point of the disk under a pixel; none off the disk.
std::optional<selenographic_point> selenographic_of(const disk_view& view, const moon_ephemeris& e,
                                                    const image_point& pixel);
// The pixel of a selenographic point; none on the far side.
std::optional<image_point> image_of(const disk_view& view, const moon_ephemeris& e, const selenographic_point& p);

// A pixel's selenographic position with its uncertainty (degrees of arc on the sphere) from those
// of the disk, the orientation and the pixel itself.
struct located_point {
    selenographic_point at;
    double err_deg = 0;
};
std::optional<located_point> locate(const disk_view& view, const moon_ephemeris& e, const image_point& pixel,
                                    double pixel_err);

// The angle between two selenographic points, in degrees.
double arc_between_deg(const selenographic_point& a, const selenographic_point& b);

// Angles to -180..180 and 0..360.
double signed_degrees(double deg);
double positive_degrees(double deg);

} // namespace serflash::astro
