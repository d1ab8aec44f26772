#pragma once
// Toolkit-free logic of the image window "SER movie frame": the shown size (a display scale:
// 1/zoom_div for the described sizes, 200% and 400%, or whatever fits the window), the pointer
// read-out, the right-button drag that sets a manual mask, and the inverted outlines over the
// frame. The windowing layer only forwards pointer events and paints the pixels that
// compose() returns.
#include "display/render.h"
#include "ui/view_zoom.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace serflash::ui {

class dialog_fields;

// How far the image window may reach over the panel's left edge.
inline constexpr int image_margin = 10;
inline constexpr int outline_pen_width = 3;
inline constexpr std::uint32_t white_pixel = 0xFFFFFFFFU; // 0xAARRGGBB

// A position in the window's client area, in display pixels. The windowing layer delivers
// points as signed 16-bit pairs, so coordinates are kept in that range.
struct view_point {
    std::int16_t x = 0;
    std::int16_t y = 0;
    friend bool operator==(const view_point&, const view_point&) = default;
};

// An outline with opposite corners a and b, drawn by inverting the pixels under it.
struct outline {
    view_point a;
    view_point b;
    friend bool operator==(const outline&, const outline&) = default;
};

// Inverts every colour bit of each pixel under the 3-pixel outline of (a, b), each pixel once,
// clipped to the buffer. Inverting the same outline twice restores the pixels.
void invert_outline(std::span<std::uint32_t> pixels, int width, int height, const outline& o);

// A part of the client area: columns x to x + w - 1, rows y to y + h - 1.
struct client_region {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
};

// Copies a display bitmap shown at disp_w x disp_h by dropping or repeating rows and columns
// (no smoothing) into a buffer holding the region of the client area, as 0xFFRRGGBB.
void blit_dropping(std::span<std::uint32_t> out, const client_region& region, const display::display_bitmap& bmp,
                   int disp_w, int disp_h);

class image_view {
public:
    // Sets up the view of a W x H frame at a scale and forgets any drag and outline.
    void open(std::int32_t width, std::int32_t height, view_scale scale);
    void open(std::int32_t width, std::int32_t height, std::int32_t zoom_div) {
        open(width, height, view_scale{1, zoom_div < 1 ? 1 : zoom_div});
    }
    // Shows the same frame at another scale; a drag under way ends.
    void rescale(view_scale scale) { open(width_, height_, scale); }

    view_scale scale() const { return scale_; }
    std::int32_t image_w() const { return width_; }
    std::int32_t image_h() const { return height_; }
    std::int32_t disp_w() const { return disp_w_; }
    std::int32_t disp_h() const { return disp_h_; }
    // The client area is the frame alone: no margin beside it.
    int client_w() const { return disp_w_; }
    int client_h() const { return disp_h_; }
    // Pointer events outside the client area never reach the window (no capture).
    bool inside(view_point p) const;

    // Each event handler ignores points outside the client area.
    // Read-out into fields 1090, 1091, 1092; moves the drag outline while a drag is on.
    void mouse_move(view_point p, dialog_fields& fields, std::span<const std::uint16_t> frame_buf);
    // Starts a drag for the mask chosen by radio buttons 1120..1123: writes its fixed corner
    // and empties the two fields the release will set.
    void right_down(view_point p, dialog_fields& fields);
    // Ends a drag: writes the released corner, in image pixels, into the chosen mask's fields.
    void right_up(view_point p, dialog_fields& fields);

    bool dragging() const { return drag_on_; }
    view_point drag_anchor() const { return drag_anchor_; }
    view_point drag_last() const { return drag_last_; }

    // A new frame was painted over everything: outlines drawn since are gone, except the
    // outline of a drag under way, which stays so the next move removes it cleanly. The mask
    // outlines are drawn as the fields hold them now and stay until the next frame paint.
    void frame_repainted(const dialog_fields& fields);
    const std::vector<outline>& painted_masks() const { return painted_masks_; }
    // Outlines drawn outside a paint and still on the screen, in drawing order.
    const std::vector<outline>& overlay() const { return overlay_; }
    // Outlines of the four manual masks as the fields hold them (image pixels at the scale),
    // or none when "Show manual mask areas" is off.
    std::vector<outline> mask_outlines(const dialog_fields& fields) const;

    // The client area as it shows now: the frame, the mask outlines of the last frame paint and
    // the outlines drawn since, each inverting what lies under it. Only the region asked for
    // (clipped to the client area) is composed, row by row.
    std::vector<std::uint32_t> compose(const display::display_bitmap& bmp) const {
        return compose(bmp, {0, 0, client_w(), client_h()});
    }
    std::vector<std::uint32_t> compose(const display::display_bitmap& bmp, client_region region) const;
    client_region clip(client_region region) const;

private:
    view_point clamp_to_image(view_point p) const;
    void draw_xor(const outline& o);

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    view_scale scale_;
    std::int32_t disp_w_ = 0;
    std::int32_t disp_h_ = 0;
    bool drag_on_ = false;
    view_point drag_anchor_;
    view_point drag_last_;
    std::vector<outline> overlay_;
    std::vector<outline> painted_masks_;
};

// A rectangle on the screen in device-independent pixels (x, y: top left).
struct screen_rect {
    int x = 0;
    int y = 0;
    int w = 0;
    int h = 0;
    int right() const { return x + w; } // one past the last column
    int bottom() const { return y + h; }
    friend bool operator==(const screen_rect&, const screen_rect&) = default;
};

struct window_size {
    int w = 0;
    int h = 0;
};

// Where the image window's outer rectangle goes, given the screen's available area, the
// panel's outer rectangle and the outer size the whole frame wants. `strip` is how far the
// window may reach over the panel's left edge. The window stands left of the panel, top edges
// level, when it fits there; otherwise it goes where it covers the panel least: at the screen's
// left edge, narrowed to the room left of the panel, or below the panel, as long as that keeps
// at least `least` (or the whole frame, when smaller); failing both, at the screen's left edge.
// The result always lies on the screen and is never larger than wanted; a smaller result shows
// the frame in a scrolling view.
screen_rect place_image_window(const screen_rect& screen, const screen_rect& panel, window_size wanted, int strip,
                               window_size least = {320, 240});

// A window's rectangle moved onto the screen, and shrunk where it is larger than the screen.
screen_rect keep_within(const screen_rect& screen, screen_rect r);

// The panel's first outer size on a screen: its natural size, narrowed so that an image window
// of `image_room` width fits left of it, but never below `least` nor beyond the screen.
window_size initial_panel_size(const screen_rect& screen, window_size natural, window_size least, int image_room);

// "%6d" of a sample, as field 1092 shows it.
std::string readout_text(std::uint16_t sample);

// zoom_div from the described "Display size" radio buttons: 1 for 100%, 2 for 50%, 3 for 33%,
// else 4.
std::int32_t read_zoom_choice(const dialog_fields& fields);

// The size "Display size" asks for: a scale, or the whole frame in the window (at most 100%).
struct display_size {
    bool fit = false;
    view_scale scale; // when not fit
    friend bool operator==(const display_size&, const display_size&) = default;
};
display_size read_display_size(const dialog_fields& fields);
// Checks the radio button of a size ("Fit to window" for fit; a scale without a button of its
// own checks none).
void check_display_size(dialog_fields& fields, const display_size& size);

} // namespace serflash::ui
