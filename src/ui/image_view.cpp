#include "ui/image_view.h"

#include "ui/control_ids.h"
#include "ui/dialog_fields.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace serflash::ui {
namespace {

constexpr std::uint32_t colour_bits = 0x00FFFFFFU;

std::int16_t to_i16(std::int64_t v) {
    return static_cast<std::int16_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int16_t>::min(),
                                                              std::numeric_limits<std::int16_t>::max()));
}

// The low 16 bits, as the window system packs a coordinate.
std::int16_t wrap_i16(std::int32_t v) {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFFU));
}

// Which fields the press fixes and empties, and which the release writes, per mask.
struct mask_rule {
    int radio;
    int x_field; // receives X at the release
    int y_field; // receives Y at the release
};
constexpr mask_rule mask_rules[4] = {
    {id::MASK_SELECT_0, id::MASK_FIELDS[0][2], id::MASK_FIELDS[0][3]},
    {id::MASK_SELECT_1, id::MASK_FIELDS[1][0], id::MASK_FIELDS[1][3]},
    {id::MASK_SELECT_2, id::MASK_FIELDS[2][2], id::MASK_FIELDS[2][1]},
    {id::MASK_SELECT_3, id::MASK_FIELDS[3][0], id::MASK_FIELDS[3][1]},
};

} // namespace

void invert_outline(std::span<std::uint32_t> pixels, int width, int height, const outline& o) {
    if (width <= 0 || height <= 0) return;
    const int half = outline_pen_width / 2;
    const int x0 = std::min(o.a.x, o.b.x), x1 = std::max(o.a.x, o.b.x);
    const int y0 = std::min(o.a.y, o.b.y), y1 = std::max(o.a.y, o.b.y);
    const int top = std::max(y0 - half, 0), bottom = std::min(y1 + half, height - 1);
    const int left = std::max(x0 - half, 0), right = std::min(x1 + half, width - 1);
    auto invert = [&](int x, int y) {
        pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] ^=
            colour_bits;
    };
    for (int y = top; y <= bottom; ++y) {
        const bool on_horizontal = (y >= y0 - half && y <= y0 + half) || (y >= y1 - half && y <= y1 + half);
        if (on_horizontal) {
            for (int x = left; x <= right; ++x) invert(x, y);
            continue;
        }
        // Left band, then the right band without the pixels the left one already took.
        const int l_end = std::min(x0 + half, right);
        for (int x = left; x <= l_end; ++x) invert(x, y);
        for (int x = std::max(x1 - half, std::max(l_end + 1, left)); x <= right; ++x) invert(x, y);
    }
}

void blit_dropping(std::span<std::uint32_t> out, const client_region& region, const display::display_bitmap& bmp,
                   int disp_w, int disp_h) {
    const int w = bmp.width(), h = bmp.height();
    if (w <= 0 || h <= 0 || disp_w <= 0 || disp_h <= 0) return;
    if (bmp.disp_buf.size() < static_cast<std::size_t>(w) * static_cast<std::size_t>(h) * 4U) return;
    const int x_end = std::min(region.x + region.w, disp_w), y_end = std::min(region.y + region.h, disp_h);
    for (int dy = std::max(region.y, 0); dy < y_end; ++dy) {
        const auto sy = static_cast<std::size_t>(static_cast<std::int64_t>(dy) * h / disp_h);
        std::uint32_t* row = &out[static_cast<std::size_t>(dy - region.y) * static_cast<std::size_t>(region.w)];
        for (int dx = std::max(region.x, 0); dx < x_end; ++dx) {
            const auto sx = static_cast<std::size_t>(static_cast<std::int64_t>(dx) * w / disp_w);
            const std::uint8_t* px = &bmp.disp_buf[(sy * static_cast<std::size_t>(w) + sx) * 4U];
            row[dx - region.x] =
                0xFF000000U | (std::uint32_t{px[2]} << 16) | (std::uint32_t{px[1]} << 8) | std::uint32_t{px[0]};
        }
    }
}

void image_view::open(std::int32_t width, std::int32_t height, view_scale scale) {
    width_ = width;
    height_ = height;
    scale_ = (scale.num < 1 || scale.den < 1) ? view_scale{} : scale;
    disp_w_ = width_ > 0 ? static_cast<std::int32_t>(to_display(width_, scale_)) : 0;
    disp_h_ = height_ > 0 ? static_cast<std::int32_t>(to_display(height_, scale_)) : 0;
    drag_on_ = false;
    drag_anchor_ = {};
    drag_last_ = {};
    overlay_.clear();
    painted_masks_.clear();
}

bool image_view::inside(view_point p) const { return p.x >= 0 && p.y >= 0 && p.x < client_w() && p.y < client_h(); }

view_point image_view::clamp_to_image(view_point p) const {
    std::int32_t x = p.x < 0 ? 0 : p.x;
    std::int32_t y = p.y < 0 ? 0 : p.y;
    if (x >= disp_w_) x = disp_w_ - 1;
    if (y >= disp_h_) y = disp_h_ - 1;
    return {to_i16(x), to_i16(y)};
}

void image_view::draw_xor(const outline& o) {
    // Inverting twice restores: a second copy of an outline cancels the first.
    const auto it = std::find(overlay_.begin(), overlay_.end(), o);
    if (it != overlay_.end()) {
        overlay_.erase(it);
    } else {
        overlay_.push_back(o);
    }
}

void image_view::mouse_move(view_point p, dialog_fields& fields, std::span<const std::uint16_t> frame_buf) {
    if (!inside(p)) return;
    std::int32_t xi = wrap_i16(static_cast<std::int32_t>(to_image(p.x, scale_)));
    std::int32_t yi = wrap_i16(static_cast<std::int32_t>(to_image(p.y, scale_)));
    if (xi < 0) xi = 0;
    if (xi >= width_) xi = width_ - 1;
    if (yi < 0) yi = 0;
    if (yi >= height_) yi = height_ - 1;
    const bool has_sample =
        xi >= 0 && yi >= 0 &&
        static_cast<std::size_t>(yi) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(xi) <
            frame_buf.size();
    fields.set_uint(id::READOUT_X, static_cast<std::uint32_t>(xi));
    fields.set_uint(id::READOUT_Y, static_cast<std::uint32_t>(yi));
    if (has_sample) {
        fields.set_text(id::READOUT_VALUE,
                        readout_text(frame_buf[static_cast<std::size_t>(yi) * static_cast<std::size_t>(width_) +
                                               static_cast<std::size_t>(xi)]));
    } else {
        fields.set_text(id::READOUT_VALUE, "");
    }
    if (drag_on_) {
        draw_xor({drag_anchor_, drag_last_});
        draw_xor({drag_anchor_, p});
        drag_last_ = p;
    }
}

void image_view::right_down(view_point p, dialog_fields& fields) {
    // A frame shown with no pixels (smaller than the divisor) has no corner to drag to.
    if (!inside(p) || disp_w_ <= 0 || disp_h_ <= 0) return;
    drag_on_ = true;
    p = clamp_to_image(p);
    drag_last_ = p;
    const std::int16_t right = to_i16(disp_w_ - 1), bottom = to_i16(disp_h_ - 1);
    const auto w1 = static_cast<std::uint32_t>(width_ - 1), h1 = static_cast<std::uint32_t>(height_ - 1);
    if (fields.checked(id::MASK_SELECT_0)) {
        const auto& f = id::MASK_FIELDS[0];
        drag_anchor_ = {0, 0};
        fields.set_uint(f[0], 0);
        fields.set_uint(f[1], 0);
        fields.set_text(f[2], "");
        fields.set_text(f[3], "");
    }
    if (fields.checked(id::MASK_SELECT_1)) {
        const auto& f = id::MASK_FIELDS[1];
        drag_anchor_ = {right, 0};
        fields.set_text(f[0], "");
        fields.set_uint(f[1], 0);
        fields.set_uint(f[2], w1);
        fields.set_text(f[3], "");
    }
    if (fields.checked(id::MASK_SELECT_2)) {
        const auto& f = id::MASK_FIELDS[2];
        drag_anchor_ = {0, bottom};
        fields.set_uint(f[0], 0);
        fields.set_text(f[1], "");
        fields.set_text(f[2], "");
        fields.set_uint(f[3], h1);
    }
    if (fields.checked(id::MASK_SELECT_3)) {
        const auto& f = id::MASK_FIELDS[3];
        drag_anchor_ = {right, bottom};
        fields.set_text(f[0], "");
        fields.set_text(f[1], "");
        fields.set_uint(f[2], w1);
        fields.set_uint(f[3], h1);
    }
    draw_xor({drag_anchor_, p});
}

void image_view::right_up(view_point p, dialog_fields& fields) {
    if (!inside(p) || !drag_on_) return;
    drag_on_ = false;
    p = clamp_to_image(p);
    const auto x = static_cast<std::uint32_t>(to_image(p.x, scale_));
    const auto y = static_cast<std::uint32_t>(to_image(p.y, scale_));
    for (const auto& rule : mask_rules) {
        if (!fields.checked(rule.radio)) continue;
        fields.set_uint(rule.x_field, x);
        fields.set_uint(rule.y_field, y);
    }
}

void image_view::frame_repainted(const dialog_fields& fields) {
    overlay_.clear();
    if (drag_on_) overlay_.push_back({drag_anchor_, drag_last_});
    painted_masks_ = mask_outlines(fields);
}

std::vector<outline> image_view::mask_outlines(const dialog_fields& fields) const {
    std::vector<outline> out;
    if (!fields.checked(id::SHOW_MASK_AREAS)) return out;
    for (const auto& f : id::MASK_FIELDS) {
        auto coord = [&](int field) { return to_i16(to_display(fields.get_int(field), scale_)); };
        out.push_back({{coord(f[0]), coord(f[1])}, {coord(f[2]), coord(f[3])}});
    }
    return out;
}

client_region image_view::clip(client_region r) const {
    const int x0 = std::clamp(r.x, 0, client_w()), y0 = std::clamp(r.y, 0, client_h());
    const int x1 = std::clamp(r.x + std::max(r.w, 0), x0, client_w());
    const int y1 = std::clamp(r.y + std::max(r.h, 0), y0, client_h());
    return {x0, y0, x1 - x0, y1 - y0};
}

std::vector<std::uint32_t> image_view::compose(const display::display_bitmap& bmp, client_region region) const {
    region = clip(region);
    std::vector<std::uint32_t> out(static_cast<std::size_t>(region.w) * static_cast<std::size_t>(region.h),
                                   white_pixel);
    if (out.empty()) return out;
    if (bmp.width() == width_ && bmp.height() == height_) blit_dropping(out, region, bmp, disp_w_, disp_h_);
    // Outlines in region coordinates; invert_outline clips them to the region.
    const auto shifted = [&region](const outline& o) {
        const auto sx = [&](std::int16_t v) { return to_i16(std::int64_t{v} - region.x); };
        const auto sy = [&](std::int16_t v) { return to_i16(std::int64_t{v} - region.y); };
        return outline{{sx(o.a.x), sy(o.a.y)}, {sx(o.b.x), sy(o.b.y)}};
    };
    for (const auto& o : painted_masks_) invert_outline(out, region.w, region.h, shifted(o));
    for (const auto& o : overlay_) invert_outline(out, region.w, region.h, shifted(o));
    return out;
}

std::string readout_text(std::uint16_t sample) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%6d", static_cast<int>(sample));
    return buf;
}

std::int32_t read_zoom_choice(const dialog_fields& fields) {
    if (fields.checked(id::ZOOM_100)) return 1;
    if (fields.checked(id::ZOOM_50)) return 2;
    if (fields.checked(id::ZOOM_33)) return 3;
    return 4;
}

namespace {
constexpr std::pair<int, view_scale> size_buttons[] = {
    {id::ZOOM_400, {4, 1}}, {id::ZOOM_200, {2, 1}}, {id::ZOOM_100, {1, 1}},
    {id::ZOOM_50, {1, 2}},  {id::ZOOM_33, {1, 3}},  {id::ZOOM_25, {1, 4}},
};
}

display_size read_display_size(const dialog_fields& fields) {
    if (fields.checked(id::ZOOM_FIT)) return {true, {}};
    for (const auto& [button, scale] : size_buttons)
        if (fields.checked(button)) return {false, scale};
    return {false, {1, read_zoom_choice(fields)}};
}

void check_display_size(dialog_fields& fields, const display_size& size) {
    for (const auto& [button, scale] : size_buttons) fields.set_checked(button, !size.fit && scale == size.scale);
    fields.set_checked(id::ZOOM_FIT, size.fit);
}

namespace {

int overlap_area(const screen_rect& a, const screen_rect& b) {
    const int w = std::min(a.right(), b.right()) - std::max(a.x, b.x);
    const int h = std::min(a.bottom(), b.bottom()) - std::max(a.y, b.y);
    return (w > 0 && h > 0) ? w * h : 0;
}

bool contains(const screen_rect& outer, const screen_rect& inner) {
    return inner.x >= outer.x && inner.y >= outer.y && inner.right() <= outer.right() &&
           inner.bottom() <= outer.bottom();
}

} // namespace

screen_rect keep_within(const screen_rect& screen, screen_rect r) {
    r.w = std::min(r.w, screen.w);
    r.h = std::min(r.h, screen.h);
    r.x = std::clamp(r.x, screen.x, screen.right() - r.w);
    r.y = std::clamp(r.y, screen.y, screen.bottom() - r.h);
    return r;
}

screen_rect place_image_window(const screen_rect& screen, const screen_rect& panel, window_size wanted, int strip,
                               window_size least) {
    const int want_w = std::max(1, wanted.w), want_h = std::max(1, wanted.h);
    const screen_rect beside{panel.x - want_w + strip, panel.y, want_w, want_h};
    if (contains(screen, beside)) return beside;

    const int need_w = std::min(want_w, least.w), need_h = std::min(want_h, least.h);
    const int room_left = panel.x + strip - screen.x;
    const int room_below = screen.bottom() - panel.bottom();
    std::vector<screen_rect> fits;
    if (room_left >= need_w)
        fits.push_back(keep_within(screen, {screen.x, panel.y, std::min(want_w, room_left), want_h}));
    if (room_below >= need_h)
        fits.push_back(keep_within(screen, {beside.x, panel.bottom(), want_w, std::min(want_h, room_below)}));
    if (fits.empty()) return keep_within(screen, {screen.x, panel.y, want_w, want_h});
    // Least panel covered (beyond the strip) first, then the most of the frame shown.
    const screen_rect covered{panel.x + strip, panel.y, std::max(0, panel.w - strip), panel.h};
    return *std::min_element(fits.begin(), fits.end(), [&covered](const screen_rect& a, const screen_rect& b) {
        const int ca = overlap_area(a, covered), cb = overlap_area(b, covered);
        if (ca != cb) return ca < cb;
        return a.w * a.h > b.w * b.h;
    });
}

window_size initial_panel_size(const screen_rect& screen, window_size natural, window_size least, int image_room) {
    int w = natural.w;
    if (w + image_room > screen.w) w = std::max(least.w, screen.w - image_room);
    return {std::min(w, screen.w), std::min(std::max(natural.h, least.h), screen.h)};
}

} // namespace serflash::ui
