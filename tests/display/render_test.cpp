#include "display/render.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>

#include <vector>

namespace serflash::display {
namespace {

struct render_case {
    std::int32_t brightness;
    std::uint16_t sample;
    std::uint8_t grey;
};

void PrintTo(const render_case& c, std::ostream* os) { *os << "sample " << c.sample << " brightness " << c.brightness; }

class GreyMapping : public ::testing::TestWithParam<render_case> {};

TEST_P(GreyMapping, ScalesClampsAndTruncates) {
    const auto& c = GetParam();
    display_bitmap bmp;
    ASSERT_TRUE(prep_for_display(bmp, 1, 1));
    const std::vector<std::uint16_t> frame{c.sample};
    render_frame(bmp, frame, {c.brightness, 0, 65535}, false);
    EXPECT_EQ(bmp.disp_buf[0], c.grey);
    EXPECT_EQ(bmp.disp_buf[1], c.grey);
    EXPECT_EQ(bmp.disp_buf[2], c.grey);
    EXPECT_EQ(bmp.disp_buf[3], 0);
}

INSTANTIATE_TEST_SUITE_P(Samples, GreyMapping,
                         ::testing::Values(render_case{1000, 0, 0}, render_case{1000, 255, 255},
                                           render_case{1000, 256, 255}, render_case{1000, 65535, 255},
                                           render_case{500, 3, 1}, render_case{1500, 200, 255},
                                           render_case{999, 200, 199}, // 199.8 truncates
                                           render_case{0, 65535, 0}, render_case{-40, 1000, 0}));

TEST(RenderMarks, LevelsAreStrictAndRedWins) {
    display_bitmap bmp;
    ASSERT_TRUE(prep_for_display(bmp, 4, 1));
    const std::vector<std::uint16_t> frame{99, 100, 200, 201};
    render_frame(bmp, frame, {1000, 100, 200}, true);
    const auto px = [&](int x) {
        return std::array<int, 4>{bmp.disp_buf[4 * x], bmp.disp_buf[4 * x + 1], bmp.disp_buf[4 * x + 2],
                                  bmp.disp_buf[4 * x + 3]};
    };
    EXPECT_EQ(px(0), (std::array<int, 4>{255, 0, 0, 0}));     // below BLUE: blue
    EXPECT_EQ(px(1), (std::array<int, 4>{100, 100, 100, 0})); // equal: grey
    EXPECT_EQ(px(2), (std::array<int, 4>{200, 200, 200, 0}));
    EXPECT_EQ(px(3), (std::array<int, 4>{0, 0, 255, 0})); // above RED: red

    // RED below BLUE: a sample between them passes both tests and ends up red.
    render_frame(bmp, frame, {1000, 300, 50}, true);
    EXPECT_EQ(px(1), (std::array<int, 4>{0, 0, 255, 0}));
    // Without the flag no marks, whatever the levels; brightness 0 still paints marks.
    render_frame(bmp, frame, {1000, 300, 50}, false);
    EXPECT_EQ(px(1), (std::array<int, 4>{100, 100, 100, 0}));
    render_frame(bmp, frame, {0, 100, 65535}, true);
    EXPECT_EQ(px(0), (std::array<int, 4>{255, 0, 0, 0}));
    EXPECT_EQ(px(1), (std::array<int, 4>{0, 0, 0, 0}));
}

TEST(PrepForDisplay, HeaderDescribesTheBuffer) {
    display_bitmap bmp;
    ASSERT_TRUE(prep_for_display(bmp, 640, 480));
    EXPECT_EQ(bmp.disp_buf.size(), 640U * 480U * 4U);
    const auto b = bmp.disp_info.bytes();
    const std::array<std::uint8_t, 40> expected = {40,   0,    0, 0, 0x80, 2, 0, 0,    0x20, 0xFE, 0xFF, 0xFF, 1, 0,
                                                   32,   0,    0, 0, 0,    0, 0, 0xC0, 0x12, 0,    0x78, 0x0E, 0, 0,
                                                   0x78, 0x0E, 0, 0, 0,    0, 0, 0,    0,    0,    0,    0};
    EXPECT_EQ(b, expected);
    const auto h = bmp_file_header(bmp.disp_info);
    const std::array<std::uint8_t, 14> file_header = {'B', 'M', 0x36, 0xC0, 0x12, 0, 0, 0, 0, 0, 54, 0, 0, 0};
    EXPECT_EQ(h, file_header);
}

TEST(PrepForDisplay, RefusesSizesThatDoNotFit) {
    display_bitmap bmp;
    EXPECT_FALSE(prep_for_display(bmp, 70000, 70000));
    EXPECT_TRUE(bmp.disp_buf.empty());
    EXPECT_FALSE(prep_for_display(bmp, -5, 10));
    // Rendering into a bitmap that could not be prepared leaves it alone but still asks for a repaint.
    int repaints = 0;
    std::vector<std::uint16_t> frame(100, 7);
    render_frame(bmp, frame, {}, false, [&] { ++repaints; });
    EXPECT_EQ(repaints, 1);
    EXPECT_TRUE(bmp.disp_buf.empty());
}

TEST(RenderFrame, ShortFrameBufferIsNotRead) {
    display_bitmap bmp;
    ASSERT_TRUE(prep_for_display(bmp, 10, 10));
    std::fill(bmp.disp_buf.begin(), bmp.disp_buf.end(), std::uint8_t{9});
    std::vector<std::uint16_t> frame(50, 7); // half a frame: a stale size
    render_frame(bmp, frame, {}, false);
    EXPECT_EQ(bmp.disp_buf[0], 9);
}

TEST(FrameLevels, NearestRankPercentilesOfTheSamples) {
    std::vector<std::uint16_t> frame(1000);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint16_t>(3 * (999 - i));              // shuffled order
    EXPECT_EQ(frame_levels(frame, 0.5, 99.8), (stretch_levels{12, 2991})); // ranks 5 and 998
    EXPECT_EQ(frame_levels(frame, 0.0, 100.0), (stretch_levels{0, 2997}));
    EXPECT_EQ(frame_levels(std::vector<std::uint16_t>(50, 700)), (stretch_levels{700, 700}));
    EXPECT_EQ(frame_levels({}), (stretch_levels{0, 65535}));
}

TEST(StretchedRendering, MapsLowToBlackAndHighToWhite) {
    display_bitmap bmp;
    ASSERT_TRUE(prep_for_display(bmp, 4, 1));
    const std::vector<std::uint16_t> frame{100, 200, 300, 400};
    render_frame_stretched(bmp, frame, {4, 0, 65535}, {200, 300}, false);
    const std::uint8_t greys[] = {0, 0, 255, 255};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(bmp.disp_buf[4 * i + 1], greys[i]) << i;
    render_frame_stretched(bmp, frame, {4, 0, 65535}, {200, 400}, false);
    EXPECT_EQ(bmp.disp_buf[4 * 2], 127); // half way truncates
    // Marks compare the raw samples with the row's levels, as without the stretch.
    render_frame_stretched(bmp, frame, {4, 150, 350}, {200, 400}, true);
    EXPECT_EQ(bmp.disp_buf[0], 255); // blue
    EXPECT_EQ(bmp.disp_buf[2], 0);
    EXPECT_EQ(bmp.disp_buf[4 * 3 + 2], 255); // red
    EXPECT_EQ(bmp.disp_buf[4 * 3], 0);
    // A flat frame does not divide by zero.
    render_frame_stretched(bmp, std::vector<std::uint16_t>(4, 9), {}, {9, 9}, false);
    EXPECT_EQ(bmp.disp_buf[0], 0);
}

TEST(StretchedRendering, BrightnessForHighShowsItWhiteInRenderFrame) {
    for (const std::uint16_t high : {std::uint16_t{1}, std::uint16_t{200}, std::uint16_t{3000}, std::uint16_t{65535}}) {
        const std::int32_t brt = brightness_for_high(high);
        display_bitmap bmp;
        ASSERT_TRUE(prep_for_display(bmp, 1, 1));
        render_frame(bmp, std::vector<std::uint16_t>{high}, {brt, 0, 65535}, false);
        EXPECT_EQ(bmp.disp_buf[0], 255) << high;
        render_frame(bmp, std::vector<std::uint16_t>{high}, {brt - 1, 0, 65535}, false);
        EXPECT_LT(bmp.disp_buf[0], 255) << high; // the least such gain
    }
    EXPECT_EQ(brightness_for_high(3000), 85);
    EXPECT_EQ(brightness_for_high(65535), 4);
    EXPECT_EQ(brightness_for_high(0), 255000);
}

// The table the scanners draw snapshots with is the grey rule itself, for every sample, and
// draws what render_frame draws without marks.
TEST(GreyTable, EverySampleAsTheGreyRuleAndAsRenderFrame) {
    std::vector<std::uint16_t> all(65536);
    for (std::size_t s = 0; s < all.size(); ++s) all[s] = static_cast<std::uint16_t>(s);
    display_bitmap bmp;
    ASSERT_TRUE(prep_for_display(bmp, 256, 256));
    for (const std::int32_t brightness : {1000, 500, 4, 16, 0, -5, 1500, 65, 255000}) {
        const grey_table table(brightness);
        std::vector<std::uint8_t> got(all.size() * 4, 7);
        table.render(all.data(), all.size(), got.data());
        render_frame(bmp, all, {brightness, 500, 3800}, false);
        EXPECT_EQ(got, bmp.disp_buf) << "brightness " << brightness;
        // 8-bit samples as the file holds them draw as the same samples widened.
        std::vector<std::uint8_t> bytes(all.size());
        for (std::size_t s = 0; s < bytes.size(); ++s) bytes[s] = static_cast<std::uint8_t>(s * 7 % 256);
        std::vector<std::uint16_t> widened(bytes.begin(), bytes.end());
        std::vector<std::uint8_t> from_bytes(bytes.size() * 4, 9), from_samples(bytes.size() * 4, 3);
        table.render(bytes.data(), bytes.size(), from_bytes.data());
        table.render(widened.data(), widened.size(), from_samples.data());
        EXPECT_EQ(from_bytes, from_samples) << "brightness " << brightness;
        for (std::size_t s = 0; s < all.size(); ++s) {
            const double v = std::clamp(static_cast<double>(s) * brightness / 1000.0, 0.0, 255.0);
            ASSERT_EQ(table[all[s]], static_cast<std::uint8_t>(v)) << "sample " << s << " brightness " << brightness;
        }
    }
}

} // namespace
} // namespace serflash::display
