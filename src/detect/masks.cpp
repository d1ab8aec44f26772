#include "detect/packet_buffers.h"

#include <algorithm>
#include <cmath>

namespace serflash::detect {
namespace {

// Rows and columns of the inner area, [first, last] inclusive; empty when last < first.
struct inner_area {
    std::int32_t first_row, last_row, first_col, last_col;
};
inner_area inner(const packet_buffers& buf) {
    return {inner_margin, buf.height - inner_margin - 1, inner_margin, buf.width - inner_margin - 1};
}

} // namespace

void mask_square(packet_buffers& buf, std::int32_t row, std::int32_t col, std::int32_t half) {
    if (half < 0) return;
    // 64-bit bounds: a huge half size is clipped to the image, never looped over.
    const std::int64_t r0 = std::max<std::int64_t>(0, std::int64_t{row} - half);
    const std::int64_t r1 = std::min<std::int64_t>(buf.height - 1, std::int64_t{row} + half);
    const std::int64_t c0 = std::max<std::int64_t>(0, std::int64_t{col} - half);
    const std::int64_t c1 = std::min<std::int64_t>(buf.width - 1, std::int64_t{col} + half);
    for (std::int64_t r = r0; r <= r1; ++r)
        for (std::int64_t c = c0; c <= c1; ++c)
            buf.sigma_map[buf.at(static_cast<std::int32_t>(r), static_cast<std::int32_t>(c))] = mask_value;
}

void mask_rect(packet_buffers& buf, packed_point ul, packed_point lr) {
    const pixel_rect r = rect_bounds(ul, lr, buf.width, buf.height);
    for (std::int32_t y = r.y0; y <= r.y1; ++y)
        for (std::int32_t x = r.x0; x <= r.x1; ++x) buf.sigma_map[buf.at(y, x)] = mask_value;
}

int star_test(const double* mean_map, std::int32_t w, std::int32_t h, const scan_settings& cfg, std::int32_t row,
              std::int32_t col) {
    const std::int32_t s = cfg.star_half_width;
    if (s <= 0) return 0; // the ring is the centre alone or empty: fewer than two pixels
    const std::int64_t top = std::int64_t{row} - s, bottom = std::int64_t{row} + s;
    const std::int64_t left = std::int64_t{col} - s, right = std::int64_t{col} + s;
    const std::int64_t c0 = std::max<std::int64_t>(0, left), c1 = std::min<std::int64_t>(w - 1, right);
    const auto mean_at = [&](std::int64_t r, std::int64_t c) {
        return mean_map[static_cast<std::size_t>(r) * static_cast<std::size_t>(w) + static_cast<std::size_t>(c)];
    };

    std::int32_t k = 0;
    double sum = 0.0;
    double sum_sq = 0.0;
    const auto take = [&](std::int64_t r, std::int64_t c) {
        const double m = mean_at(r, c);
        ++k;
        sum += m;
        sum_sq += m * m;
    };
    const auto full_row = [&](std::int64_t r) {
        if (r < 0 || r >= h) return;
        for (std::int64_t c = c0; c <= c1; ++c) take(r, c);
    };
    full_row(top);
    const bool left_in = left >= 0;
    const bool right_in = right < w;
    if (left_in || right_in) {
        const std::int64_t r0 = std::max<std::int64_t>(0, top + 1), r1 = std::min<std::int64_t>(h - 1, bottom - 1);
        for (std::int64_t r = r0; r <= r1; ++r) {
            if (left_in) take(r, left);
            if (right_in) take(r, right);
        }
    }
    full_row(bottom);

    const std::int32_t neighbour_row[4] = {row, row, row - 1, row + 1};
    const std::int32_t neighbour_col[4] = {col - 1, col + 1, col, col};
    return star_rule(cfg, k, sum, sum_sq, mean_at(row, col),
                     [&](int n) { return mean_at(neighbour_row[n], neighbour_col[n]); })
               ? 1
               : 0;
}

namespace {

// Masks the square of the half size around every inner pixel that is marked. A square that
// reaches past every edge from any pixel covers the whole image: it is masked once, which gives
// the same map without looping over the image for every marked pixel.
template <class Marked>
void mask_around(packet_buffers& buf, const inner_area& a, std::int32_t half, Marked marked) {
    const bool covers_image = half >= std::max(buf.width, buf.height);
    for (std::int32_t j = a.first_row; j <= a.last_row; ++j)
        for (std::int32_t c = a.first_col; c <= a.last_col; ++c) {
            if (!marked(buf.at(j, c))) continue;
            if (covers_image) {
                std::fill(buf.sigma_map.begin(), buf.sigma_map.end(), mask_value);
                return;
            }
            mask_square(buf, j, c, half);
        }
}

} // namespace

int is_star(const packet_buffers& buf, const scan_settings& cfg, std::int32_t row, std::int32_t col) {
    return star_test(buf.mean_map.data(), buf.width, buf.height, cfg, row, col);
}

void apply_masks(packet_buffers& buf, const scan_settings& cfg, const mask_switches& sw) {
    const inner_area a = inner(buf);
    if (sw.red) mask_around(buf, a, cfg.red_mask_half, [&](std::size_t i) { return red_marked(buf.mean_map[i], cfg); });
    if (sw.blue)
        mask_around(buf, a, cfg.blue_mask_half, [&](std::size_t i) { return blue_marked(buf.mean_map[i], cfg); });
    if (sw.stars) {
        mask_around(buf, a, cfg.star_mask_half, [&](std::size_t i) { return buf.star_map[i] != 0; });
        for (std::int32_t j = a.first_row; j <= a.last_row; ++j)
            for (std::int32_t c = a.first_col; c <= a.last_col; ++c)
                buf.star_map[buf.at(j, c)] = is_star(buf, cfg, j, c) != 0 ? 1 : 0;
    }
    for (std::size_t k = 0; k < 4; ++k) mask_rect(buf, cfg.mask_ul[k], cfg.mask_lr[k]);
}

} // namespace serflash::detect
