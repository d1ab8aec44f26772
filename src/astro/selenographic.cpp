#include "astro/selenographic.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace serflash::astro {
namespace {

constexpr double deg = std::numbers::pi / 180.0;

// A direction in the frame of the disk as seen: x along the projected lunar east, y along the
// projected lunar north (the axis), z toward the observer; unit length.
struct seen_vector {
    double x = 0, y = 0, z = 0;
};

// The orthographic projection of a selenographic point seen from the sub-observer point (the
// librations): the usual rotation by the libration in longitude, then latitude.
seen_vector seen_of(const moon_ephemeris& e, const selenographic_point& p) {
    const double lat = p.lat_deg * deg;
    const double dlon = (p.lon_deg - e.libration_lon_deg) * deg;
    const double b = e.libration_lat_deg * deg;
    const double cos_lat = std::cos(lat);
    const double sin_lat = std::sin(lat);
    return {cos_lat * std::sin(dlon), sin_lat * std::cos(b) - cos_lat * std::sin(b) * std::cos(dlon),
            sin_lat * std::sin(b) + cos_lat * std::cos(b) * std::cos(dlon)};
}

selenographic_point selenographic_of_seen(const moon_ephemeris& e, const seen_vector& v) {
    const double b = e.libration_lat_deg * deg;
    const double sin_lat = std::clamp(v.y * std::cos(b) + v.z * std::sin(b), -1.0, 1.0);
    const double along = v.z * std::cos(b) - v.y * std::sin(b);
    return {std::asin(sin_lat) / deg, signed_degrees(e.libration_lon_deg + std::atan2(v.x, along) / deg)};
}

// Sky offsets toward east and north, in disk radii.
struct sky_offset {
    double east = 0, north = 0;
};

sky_offset sky_of_seen(const moon_ephemeris& e, double x, double y) {
    // The axis stands at position angle P, so projected lunar east is at P - 90 degrees.
    const double p = e.axis_pa_deg * deg;
    return {-x * std::cos(p) + y * std::sin(p), x * std::sin(p) + y * std::cos(p)};
}

void seen_of_sky(const moon_ephemeris& e, const sky_offset& s, double& x, double& y) {
    const double p = e.axis_pa_deg * deg;
    x = -s.east * std::cos(p) + s.north * std::sin(p);
    y = s.east * std::sin(p) + s.north * std::cos(p);
}

// Image offsets in disk radii, right and up.
struct image_offset {
    double right = 0, up = 0;
};

image_offset image_of_sky(const disk_view& view, const sky_offset& s) {
    // Unmirrored, east lies to the left when north is up.
    const double a = view.mirror ? s.east : -s.east;
    const double r = view.orientation_deg * deg;
    return {a * std::cos(r) - s.north * std::sin(r), a * std::sin(r) + s.north * std::cos(r)};
}

sky_offset sky_of_image(const disk_view& view, const image_offset& o) {
    const double r = view.orientation_deg * deg;
    const double a = o.right * std::cos(r) + o.up * std::sin(r);
    const double north = -o.right * std::sin(r) + o.up * std::cos(r);
    return {view.mirror ? a : -a, north};
}

} // namespace

double signed_degrees(double d) {
    double r = std::fmod(d, 360.0);
    if (r > 180.0) r -= 360.0;
    if (r <= -180.0) r += 360.0;
    return r;
}

double positive_degrees(double d) {
    const double r = std::fmod(d, 360.0);
    return r < 0.0 ? r + 360.0 : r;
}

double image_angle_of(const disk_view& view, double position_angle_deg) {
    return positive_degrees(view.mirror ? view.orientation_deg - position_angle_deg
                                        : view.orientation_deg + position_angle_deg);
}

double orientation_for(double image_angle_deg, double position_angle_deg, bool mirror) {
    return positive_degrees(mirror ? image_angle_deg + position_angle_deg : image_angle_deg - position_angle_deg);
}

sunlight sunlight_of(const moon_ephemeris& e) {
    // The subsolar point's longitude is 90 degrees less the colongitude.
    const seen_vector s = seen_of(e, {e.sun_selenographic_lat_deg, 90.0 - e.sun_colongitude_deg});
    const sky_offset sky = sky_of_seen(e, s.x, s.y);
    return {positive_degrees(std::atan2(sky.east, sky.north) / deg), s.z};
}

double sun_cosine_at(const moon_ephemeris& e, const selenographic_point& p) {
    const double lat = p.lat_deg * deg;
    const double sun_lat = e.sun_selenographic_lat_deg * deg;
    const double dlon = (p.lon_deg - (90.0 - e.sun_colongitude_deg)) * deg;
    return std::sin(lat) * std::sin(sun_lat) + std::cos(lat) * std::cos(sun_lat) * std::cos(dlon);
}

double view_cosine_at(const moon_ephemeris& e, const selenographic_point& p) { return seen_of(e, p).z; }

std::optional<selenographic_point> selenographic_of(const disk_view& view, const moon_ephemeris& e,
                                                    const image_point& pixel) {
    const double r = view.disk.radius;
    if (!(r > 0.0)) return std::nullopt;
    const image_offset o{(pixel.x - view.disk.x) / r, (view.disk.y - pixel.y) / r};
    const double rho2 = o.right * o.right + o.up * o.up;
    if (!(rho2 <= 1.0)) return std::nullopt;
    seen_vector v;
    seen_of_sky(e, sky_of_image(view, o), v.x, v.y);
    v.z = std::sqrt(std::max(0.0, 1.0 - v.x * v.x - v.y * v.y));
    return selenographic_of_seen(e, v);
}

std::optional<image_point> image_of(const disk_view& view, const moon_ephemeris& e, const selenographic_point& p) {
    const seen_vector v = seen_of(e, p);
    if (v.z < 0.0) return std::nullopt;
    const image_offset o = image_of_sky(view, sky_of_seen(e, v.x, v.y));
    return image_point{view.disk.x + view.disk.radius * o.right, view.disk.y - view.disk.radius * o.up};
}

double arc_between_deg(const selenographic_point& a, const selenographic_point& b) {
    // The haversine form keeps small arcs exact.
    const double dlat = (b.lat_deg - a.lat_deg) * deg;
    const double dlon = (b.lon_deg - a.lon_deg) * deg;
    const double h = std::sin(dlat / 2) * std::sin(dlat / 2) +
                     std::cos(a.lat_deg * deg) * std::cos(b.lat_deg * deg) * std::sin(dlon / 2) * std::sin(dlon / 2);
    return 2.0 * std::asin(std::min(1.0, std::sqrt(h))) / deg;
}

std::optional<located_point> locate(const disk_view& view, const moon_ephemeris& e, const image_point& pixel,
                                    double pixel_err) {
    const auto at = selenographic_of(view, e, pixel);
    if (!at) return std::nullopt;
    // Each uncertainty moves the point by some arc; independent, so they add in squares. A shift
    // that would carry the point off the disk is taken to the limb.
    const auto moved = [&](const disk_view& v, const image_point& q) {
        if (const auto p = selenographic_of(v, e, q)) return arc_between_deg(*at, *p);
        const double dx = q.x - v.disk.x, dy = q.y - v.disk.y;
        const double rho = std::hypot(dx, dy);
        const double k = rho > 0.0 ? v.disk.radius / rho * (1.0 - 1e-12) : 0.0;
        const auto p = selenographic_of(v, e, {v.disk.x + dx * k, v.disk.y + dy * k});
        return p ? arc_between_deg(*at, *p) : 90.0;
    };
    double sum = 0.0;
    const auto add = [&](double arc) { sum += arc * arc; };
    disk_view v = view;
    v.disk.x += view.disk.x_err;
    add(moved(v, pixel));
    v = view;
    v.disk.y += view.disk.y_err;
    add(moved(v, pixel));
    v = view;
    v.disk.radius += view.disk.radius_err;
    add(moved(v, pixel));
    v = view;
    v.orientation_deg += view.orientation_err_deg;
    add(moved(v, pixel));
    add(moved(view, {pixel.x + pixel_err, pixel.y}));
    add(moved(view, {pixel.x, pixel.y + pixel_err}));
    return located_point{*at, std::sqrt(sum)};
}

} // namespace serflash::astro
