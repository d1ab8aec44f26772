#include "memory_scan.h"

#include <gtest/gtest.h>

#include <ostream>

#include <climits>

namespace serflash::detect {
namespace {

using testing::memory_scan;

// W x H buffers with every mean at `level` and nothing masked.
memory_scan flat(int w, int h, double level = 1000.0) {
    memory_scan m(w, h, {});
    std::fill(m.buf.mean_map.begin(), m.buf.mean_map.end(), level);
    std::fill(m.buf.sigma_map.begin(), m.buf.sigma_map.end(), 1.0);
    return m;
}

int masked_count(const memory_scan& m) {
    return static_cast<int>(std::count(m.buf.sigma_map.begin(), m.buf.sigma_map.end(), mask_value));
}

// The masked pixels as a rectangle, or all -1 when the mask is not one rectangle.
std::array<int, 4> masked_box(const memory_scan& m) {
    int r0 = INT_MAX, r1 = -1, c0 = INT_MAX, c1 = -1;
    for (int r = 0; r < m.buf.height; ++r)
        for (int c = 0; c < m.buf.width; ++c)
            if (m.buf.sigma_map[m.at(r, c)] == mask_value) {
                r0 = std::min(r0, r);
                r1 = std::max(r1, r);
                c0 = std::min(c0, c);
                c1 = std::max(c1, c);
            }
    if (r1 < 0 || (r1 - r0 + 1) * (c1 - c0 + 1) != masked_count(m)) return {-1, -1, -1, -1};
    return {r0, r1, c0, c1};
}

TEST(ApplyMasks, AllOffStillMasksTheOriginPixel) {
    auto m = flat(64, 48);
    apply_masks(m.buf, m.ctx.settings, {});
    EXPECT_EQ(masked_count(m), 1);
    EXPECT_EQ(m.buf.sigma_map[0], mask_value);
}

TEST(ApplyMasks, BrightSquareAndLevelIsStrict) {
    auto m = flat(64, 48);
    m.ctx.settings.red_level = 3800;
    m.buf.mean_map[m.at(10, 10)] = 3800.5;
    m.buf.mean_map[m.at(30, 40)] = 3800.0; // equal: not masked
    m.ctx.settings.red_mask_half = 10;
    apply_masks(m.buf, m.ctx.settings, {true, false, false});
    EXPECT_EQ(masked_box(m), (std::array<int, 4>{0, 20, 0, 20}));

    auto clipped = flat(64, 48);
    clipped.buf.mean_map[clipped.at(10, 10)] = 5000.0;
    clipped.ctx.settings.red_mask_half = 15;
    apply_masks(clipped.buf, clipped.ctx.settings, {true, false, false});
    EXPECT_EQ(masked_box(clipped), (std::array<int, 4>{0, 25, 0, 25}));
}

TEST(ApplyMasks, HalfSizeZeroAndNegative) {
    auto m = flat(64, 48);
    m.ctx.settings.blue_level = 500;
    m.buf.mean_map[m.at(20, 30)] = 499.9;
    m.ctx.settings.blue_mask_half = 0;
    apply_masks(m.buf, m.ctx.settings, {false, true, false});
    EXPECT_EQ(masked_count(m), 2); // the dark pixel and the origin
    EXPECT_EQ(m.buf.sigma_map[m.at(20, 30)], mask_value);

    auto neg = flat(64, 48);
    neg.buf.mean_map[neg.at(20, 30)] = 0.0;
    neg.ctx.settings.blue_mask_half = -1;
    apply_masks(neg.buf, neg.ctx.settings, {false, true, false});
    EXPECT_EQ(masked_count(neg), 1);
}

TEST(ApplyMasks, OnlyTheInnerAreaIsExamined) {
    auto m = flat(64, 48);
    m.buf.mean_map[m.at(9, 30)] = 60000.0;  // border row
    m.buf.mean_map[m.at(30, 54)] = 60000.0; // column W - 10
    m.ctx.settings.red_mask_half = 2;
    apply_masks(m.buf, m.ctx.settings, {true, false, false});
    EXPECT_EQ(masked_count(m), 1);

    auto tiny = flat(40, 20, 60000.0); // 20 rows: no inner area
    apply_masks(tiny.buf, tiny.ctx.settings, {true, true, true});
    EXPECT_EQ(masked_count(tiny), 1);
    EXPECT_EQ(std::count(tiny.buf.star_map.begin(), tiny.buf.star_map.end(), 1), 0);
}

TEST(ApplyMasks, HugeHalfSizeIsClippedNotLoopedOver) {
    auto m = flat(64, 48);
    m.buf.mean_map[m.at(20, 20)] = 60000.0;
    m.ctx.settings.red_mask_half = INT_MAX;
    apply_masks(m.buf, m.ctx.settings, {true, false, false});
    EXPECT_EQ(masked_count(m), 64 * 48);
}

struct rect_case {
    int ulx, uly, lrx, lry;
    std::array<int, 4> box; // rows then columns, inclusive
};

void PrintTo(const rect_case& c, std::ostream* os) {
    *os << "(" << c.ulx << "," << c.uly << ")-(" << c.lrx << "," << c.lry << ")";
}

class ManualMask : public ::testing::TestWithParam<rect_case> {};

TEST_P(ManualMask, ClampsAndOrdersCorners) {
    const auto& c = GetParam();
    auto m = flat(64, 48);
    m.ctx.settings.mask_ul[2] = pack_point(c.ulx, c.uly);
    m.ctx.settings.mask_lr[2] = pack_point(c.lrx, c.lry);
    mask_rect(m.buf, m.ctx.settings.mask_ul[2], m.ctx.settings.mask_lr[2]);
    EXPECT_EQ(masked_box(m), c.box);
}

INSTANTIATE_TEST_SUITE_P(Corners, ManualMask,
                         ::testing::Values(rect_case{5, 6, 20, 30, {6, 30, 5, 20}},
                                           rect_case{20, 30, 5, 6, {6, 30, 5, 20}},     // reversed
                                           rect_case{-1, -1, 3, 2, {0, 2, 0, 3}},       // -1 counts as 0
                                           rect_case{60, 40, 64, 48, {40, 47, 60, 63}}, // W, H clamp
                                           rect_case{100, 5, 200, 9, {5, 9, 63, 63}},   // right of the image
                                           rect_case{0, 0, 0, 0, {0, 0, 0, 0}}));

// A ring of 16 means at radius 2 around (20, 20), with the centre and neighbours given.
void star_scene(memory_scan& m, double centre, double left, double right, double top, double bottom, bool split_ring) {
    int i = 0;
    for (int r = 18; r <= 22; ++r)
        for (int c = 18; c <= 22; ++c) {
            if (r != 18 && r != 22 && c != 18 && c != 22) continue;
            m.buf.mean_map[m.at(r, c)] = split_ring ? (i % 2 == 0 ? 90.0 : 110.0) : 100.0;
            ++i;
        }
    m.buf.mean_map[m.at(20, 20)] = centre;
    m.buf.mean_map[m.at(20, 19)] = left;
    m.buf.mean_map[m.at(20, 21)] = right;
    m.buf.mean_map[m.at(19, 20)] = top;
    m.buf.mean_map[m.at(21, 20)] = bottom;
}

TEST(IsStar, FlatRingExamples) {
    auto m = flat(48, 48, 100.0);
    m.ctx.settings.star_half_width = 2;
    m.ctx.settings.star_threshold = 30;
    star_scene(m, 200, 150, 150, 150, 150, false);
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 1);
    star_scene(m, 200, 150, 150, 120, 150, false); // top ratio 20
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 0);
}

TEST(IsStar, RingWithSpread) {
    auto m = flat(48, 48, 100.0);
    m.ctx.settings.star_half_width = 2;
    m.ctx.settings.star_threshold = 30;
    star_scene(m, 140, 115, 115, 115, 115, true); // excess 40 > 30.98
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 1);
    star_scene(m, 130, 115, 115, 115, 115, true); // excess 30
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 0);
}

TEST(IsStar, NeighboursOnTheRingAndDegenerateWidths) {
    auto m = flat(48, 48, 100.0);
    m.buf.mean_map[m.at(20, 20)] = 500.0;
    m.ctx.settings.star_half_width = 1;
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 0);
    m.ctx.settings.pct_left = m.ctx.settings.pct_right = m.ctx.settings.pct_top = m.ctx.settings.pct_bottom = 0;
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 1);
    m.ctx.settings.star_half_width = 0;
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 0);
    m.ctx.settings.star_half_width = INT_MAX; // ring wholly outside the image
    EXPECT_EQ(is_star(m.buf, m.ctx.settings, 20, 20), 0);
}

TEST(ApplyMasks, StarsAreMaskedOnePacketLate) {
    auto m = flat(48, 48, 100.0);
    m.ctx.settings.star_half_width = 2;
    m.ctx.settings.star_threshold = 30;
    m.ctx.settings.star_mask_half = 3;
    star_scene(m, 200, 150, 150, 150, 150, false);
    apply_masks(m.buf, m.ctx.settings, {false, false, true});
    EXPECT_EQ(masked_count(m), 1); // found, not yet masked
    EXPECT_EQ(m.buf.star_map[m.at(20, 20)], 1);

    std::fill(m.buf.sigma_map.begin(), m.buf.sigma_map.end(), 1.0); // the next packet's statistics
    apply_masks(m.buf, m.ctx.settings, {false, false, true});
    EXPECT_EQ(m.buf.sigma_map[m.at(17, 17)], mask_value);
    EXPECT_EQ(m.buf.sigma_map[m.at(23, 23)], mask_value);
    EXPECT_EQ(m.buf.sigma_map[m.at(24, 20)], 1.0);

    // With the switch off the map is left as it was.
    apply_masks(m.buf, m.ctx.settings, {});
    EXPECT_EQ(m.buf.star_map[m.at(20, 20)], 1);
}

} // namespace
} // namespace serflash::detect
