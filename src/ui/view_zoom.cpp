#include "ui/view_zoom.h"

#include <algorithm>
#include <iterator>

namespace serflash::ui {
namespace {

constexpr view_scale scales[] = {{1, 4}, {1, 3}, {1, 2}, {1, 1}, {2, 1}, {4, 1}};

// The centre that puts the picture at x (one axis), after keeping it over the widget.
double centre_for(double x, double size, double room) {
    if (size <= room) return 0.5;
    x = std::clamp(x, room - size, 0.0);
    return (room / 2.0 - x) / size;
}

double fitted_scale(int pw, int ph, int ww, int wh) {
    if (pw <= 0 || ph <= 0 || ww <= 0 || wh <= 0) return 0.0;
    return std::min(static_cast<double>(ww) / pw, static_cast<double>(wh) / ph);
}

picture_zoom settle(int pw, int ph, int ww, int wh, picture_zoom z) {
    const picture_rect r = place_picture(pw, ph, ww, wh, z);
    z.centre_x = centre_for(r.x, r.w, ww);
    z.centre_y = centre_for(r.y, r.h, wh);
    return z;
}

} // namespace

std::span<const view_scale> standard_scales() { return scales; }

bool smaller_scale(view_scale a, view_scale b) { return std::int64_t{a.num} * b.den < std::int64_t{b.num} * a.den; }

std::int64_t to_display(std::int64_t v, view_scale s) { return v * s.num / s.den; }

std::int64_t to_image(std::int64_t v, view_scale s) { return v * s.den / s.num; }

view_scale fit_scale(std::int32_t w, std::int32_t h, std::int32_t room_w, std::int32_t room_h) {
    if (w <= 0 || h <= 0) return {1, 1};
    room_w = std::max(room_w, 1);
    room_h = std::max(room_h, 1);
    if (w <= room_w && h <= room_h) return {1, 1};
    // Limited by the width when room_w / w <= room_h / h.
    view_scale s = std::int64_t{room_w} * h <= std::int64_t{room_h} * w ? view_scale{room_w, w} : view_scale{room_h, h};
    // At least one display pixel each way.
    if (to_display(w, s) < 1) s = {1, w};
    if (to_display(h, s) < 1) s = {1, h};
    return s;
}

view_scale step_scale(view_scale from, int steps) {
    const auto n = static_cast<int>(std::size(scales));
    if (steps > 0) {
        // The first standard size above `from`, then further steps.
        int i = 0;
        while (i < n && !smaller_scale(from, scales[i])) ++i;
        return scales[std::min(i + steps - 1, n - 1)];
    }
    if (steps < 0) {
        int i = n - 1;
        while (i >= 0 && !smaller_scale(scales[i], from)) --i;
        return scales[std::max(i + steps + 1, 0)];
    }
    return from;
}

view_scale limit_scale(view_scale wanted, std::int32_t w, std::int32_t h, std::int32_t limit) {
    const auto fits = [&](view_scale s) { return to_display(w, s) <= limit && to_display(h, s) <= limit; };
    if (fits(wanted)) return wanted;
    for (auto it = std::rbegin(scales); it != std::rend(scales); ++it)
        if (smaller_scale(*it, wanted) && fits(*it)) return *it;
    return scales[0];
}

std::int32_t scroll_after_zoom(std::int32_t scroll, std::int32_t pointer, view_scale from, view_scale to) {
    // The image point under the pointer, in image pixels times from.num (exact).
    const std::int64_t at = std::int64_t{scroll} + pointer;
    const std::int64_t moved = at * to.num * from.den / (std::int64_t{to.den} * from.num);
    return static_cast<std::int32_t>(std::max<std::int64_t>(0, moved - pointer));
}

picture_rect place_picture(int pw, int ph, int ww, int wh, const picture_zoom& z) {
    const double s = fitted_scale(pw, ph, ww, wh) * std::clamp(z.zoom, 1.0, max_picture_zoom);
    picture_rect r;
    if (s <= 0.0) return r;
    r.w = pw * s;
    r.h = ph * s;
    const auto axis = [](double size, double room, double centre) {
        if (size <= room) return (room - size) / 2.0;
        return std::clamp(room / 2.0 - centre * size, room - size, 0.0);
    };
    r.x = axis(r.w, ww, z.centre_x);
    r.y = axis(r.h, wh, z.centre_y);
    return r;
}

picture_zoom zoom_picture_about(int pw, int ph, int ww, int wh, const picture_zoom& z, double factor, double px,
                                double py) {
    const picture_rect r = place_picture(pw, ph, ww, wh, z);
    if (r.w <= 0.0 || r.h <= 0.0) return z;
    const double u = (px - r.x) / r.w, v = (py - r.y) / r.h; // the picture point under the pointer
    picture_zoom out = z;
    out.zoom = std::clamp(z.zoom * factor, 1.0, max_picture_zoom);
    const double grow = out.zoom / std::clamp(z.zoom, 1.0, max_picture_zoom);
    const double nw = r.w * grow, nh = r.h * grow;
    out.centre_x = (ww / 2.0 - (px - u * nw)) / nw;
    out.centre_y = (wh / 2.0 - (py - v * nh)) / nh;
    return settle(pw, ph, ww, wh, out);
}

picture_zoom pan_picture(int pw, int ph, int ww, int wh, const picture_zoom& z, double dx, double dy) {
    const picture_rect r = place_picture(pw, ph, ww, wh, z);
    if (r.w <= 0.0 || r.h <= 0.0) return z;
    picture_zoom out = z;
    out.centre_x = (ww / 2.0 - (r.x + dx)) / r.w;
    out.centre_y = (wh / 2.0 - (r.y + dy)) / r.h;
    return settle(pw, ph, ww, wh, out);
}

} // namespace serflash::ui
