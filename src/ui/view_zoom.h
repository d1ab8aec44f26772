#pragma once
// Zoom arithmetic of the viewers, free of any toolkit: the image window's display scale (a
// ratio of display to image pixels, the standard sizes of "Display size", fitting a frame into
// the room there is, and where to scroll so that the point under the pointer stays put), and
// the review's pictures, fitted into their widget and magnified about a point.
#include <cstdint>
#include <span>

namespace serflash::ui {

// num display pixels for every den image pixels.
struct view_scale {
    std::int32_t num = 1;
    std::int32_t den = 1;
    friend bool operator==(const view_scale&, const view_scale&) = default;
};

// The sizes "Display size" offers, smallest first: 25, 33, 50, 100, 200 and 400 percent.
std::span<const view_scale> standard_scales();
// Whether a < b as ratios.
bool smaller_scale(view_scale a, view_scale b);
// v image pixels in display pixels, and v display pixels in image pixels (rounded down).
std::int64_t to_display(std::int64_t v, view_scale s);
std::int64_t to_image(std::int64_t v, view_scale s);

// The largest scale, at most 100%, at which a w x h frame lies whole in room_w x room_h; the
// frame keeps at least one display pixel each way.
view_scale fit_scale(std::int32_t w, std::int32_t h, std::int32_t room_w, std::int32_t room_h);
// The standard size `steps` sizes above (steps > 0) or below the scale, which need not be a
// standard one; the smallest or largest standard size at the ends.
view_scale step_scale(view_scale from, int steps);
// The largest of `wanted` and the smaller standard sizes at which a w x h frame stays within
// `limit` display pixels each way (the window system's coordinates are 16-bit).
view_scale limit_scale(view_scale wanted, std::int32_t w, std::int32_t h, std::int32_t limit = 32767);

// A scroll position (display pixels) after a zoom from one scale to another, so that the image
// point under `pointer` (viewport pixels) stays under it. Never negative.
std::int32_t scroll_after_zoom(std::int32_t scroll, std::int32_t pointer, view_scale from, view_scale to);

// A picture fitted into a widget and magnified `zoom` times (1: the whole picture fits) about
// the picture point at the widget's centre, given as fractions of the picture's size.
struct picture_zoom {
    double zoom = 1.0;
    double centre_x = 0.5;
    double centre_y = 0.5;
};
inline constexpr double max_picture_zoom = 32.0;

struct picture_rect {
    double x = 0.0;
    double y = 0.0;
    double w = 0.0;
    double h = 0.0;
};
// Where the picture (pw x ph) goes in the widget (ww x wh). A picture larger than the widget
// always covers it; a smaller one is centred.
picture_rect place_picture(int pw, int ph, int ww, int wh, const picture_zoom& z);
// The zoom times `factor` (kept between 1 and max_picture_zoom), the picture point under the
// widget point (px, py) staying where it is.
picture_zoom zoom_picture_about(int pw, int ph, int ww, int wh, const picture_zoom& z, double factor, double px,
                                double py);
// The picture moved by (dx, dy) widget pixels, as far as it covers the widget.
picture_zoom pan_picture(int pw, int ph, int ww, int wh, const picture_zoom& z, double dx, double dy);

} // namespace serflash::ui
