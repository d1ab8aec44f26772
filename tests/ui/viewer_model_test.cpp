// The viewers' arithmetic: display scales, fitting and zooming about the pointer, the review's
// pictures, its columns, blink partners, the next candidate without a verdict and axis values.
#include "ui/histogram.h"
#include "ui/playback.h"
#include "ui/review_columns.h"
#include "ui/review_view.h"
#include "ui/view_zoom.h"

#include <gtest/gtest.h>

#include <cmath>

namespace serflash::ui {
namespace {

TEST(ViewScale, FitKeepsTheWholeFrameAndNeverEnlarges) {
    EXPECT_EQ(fit_scale(640, 480, 1000, 1000), (view_scale{1, 1})); // at most 100%
    const view_scale s = fit_scale(1280, 960, 600, 700);            // the width limits
    EXPECT_EQ(to_display(1280, s), 600);
    EXPECT_LE(to_display(960, s), 700);
    const view_scale t = fit_scale(1280, 960, 1000, 300); // the height limits
    EXPECT_EQ(to_display(960, t), 300);
    EXPECT_LE(to_display(1280, t), 1000);
    const view_scale tiny = fit_scale(5000, 10, 1, 1); // still a pixel each way
    EXPECT_GE(to_display(5000, tiny), 1);
    EXPECT_GE(to_display(10, tiny), 1);
    EXPECT_EQ(fit_scale(0, 10, 100, 100), (view_scale{1, 1}));
}

TEST(ViewScale, StepsGoThroughTheStandardSizesFromAnyScale) {
    EXPECT_EQ(step_scale({1, 1}, 1), (view_scale{2, 1}));
    EXPECT_EQ(step_scale({1, 1}, -1), (view_scale{1, 2}));
    EXPECT_EQ(step_scale({4, 1}, 1), (view_scale{4, 1})); // the largest stays
    EXPECT_EQ(step_scale({1, 4}, -3), (view_scale{1, 4}));
    EXPECT_EQ(step_scale({600, 1280}, 1), (view_scale{1, 2})); // a fitted 47% goes to 50%
    EXPECT_EQ(step_scale({600, 1280}, -1), (view_scale{1, 3}));
    EXPECT_EQ(step_scale({1, 2}, 2), (view_scale{2, 1}));
    // 400% of a 10000-pixel frame would pass the window system's 16-bit coordinates.
    EXPECT_EQ(limit_scale({4, 1}, 10000, 100), (view_scale{2, 1}));
    EXPECT_EQ(limit_scale({4, 1}, 640, 480), (view_scale{4, 1}));
}

TEST(ViewScale, ZoomAboutThePointerKeepsTheImagePointUnderIt) {
    // At 100% scrolled to 300, pointer at 50: image column 350. At 200% it lies at 700.
    EXPECT_EQ(scroll_after_zoom(300, 50, {1, 1}, {2, 1}), 650);
    EXPECT_EQ(scroll_after_zoom(650, 50, {2, 1}, {1, 1}), 300);
    EXPECT_EQ(scroll_after_zoom(0, 10, {1, 1}, {1, 4}), 0); // never negative
    EXPECT_EQ(scroll_after_zoom(0, 0, {1, 3}, {4, 1}), 0);
    EXPECT_EQ(to_image(399, {2, 1}), 199);
    EXPECT_EQ(to_image(332, {1, 3}), 996);
}

TEST(PictureZoom, FittedCentredZoomedAboutAPointAndPannedWithinBounds) {
    const picture_rect fitted = place_picture(100, 50, 400, 400, {});
    EXPECT_DOUBLE_EQ(fitted.w, 400);
    EXPECT_DOUBLE_EQ(fitted.h, 200);
    EXPECT_DOUBLE_EQ(fitted.y, 100); // centred
    const picture_zoom z = zoom_picture_about(100, 50, 400, 400, {}, 4.0, 100, 150);
    const picture_rect r = place_picture(100, 50, 400, 400, z);
    EXPECT_DOUBLE_EQ(r.w, 1600);
    // The picture point under (100, 150) was (0.25, 0.25); it still is.
    EXPECT_NEAR((100 - r.x) / r.w, 0.25, 1e-9);
    EXPECT_NEAR((150 - r.y) / r.h, 0.25, 1e-9);
    // Panned far right, the picture's left edge stops at the widget's.
    const picture_rect panned = place_picture(100, 50, 400, 400, pan_picture(100, 50, 400, 400, z, 5000, 0));
    EXPECT_DOUBLE_EQ(panned.x, 0);
    EXPECT_EQ(zoom_picture_about(100, 50, 400, 400, {}, 0.5, 10, 10).zoom, 1.0); // never below fitted
    EXPECT_EQ(zoom_picture_about(100, 50, 400, 400, {}, 1000, 10, 10).zoom, max_picture_zoom);
}

TEST(ReviewColumns, TheVerdictComesFirstAndNumbersSortAsNumbers) {
    ASSERT_FALSE(review_columns().empty());
    EXPECT_STREQ(review_columns()[0].id, "mark");
    candidate c;
    c.file = "m1.ser";
    c.number = 3;
    c.peak_sigma = 9.25;
    c.thresholds = {60, 57};
    c.highest_threshold = 60;
    c.mark = verdict::false_alarm;
    const auto col = [](const char* id) { return review_columns()[static_cast<std::size_t>(review_column_index(id))]; };
    EXPECT_EQ(col("mark").text(c), "false");
    EXPECT_EQ(col("file").text(c), "m1.ser #3");
    EXPECT_EQ(col("sigma").text(c), "9.2");
    EXPECT_EQ(col("thresholds").text(c), "60 57");
    EXPECT_EQ(std::get<double>(col("thresholds").key(c)), 60.0);
    EXPECT_EQ(std::get<std::string>(col("file").key(c)), "m1.ser/000003");
    EXPECT_EQ(review_column_index("nothing"), -1);
    for (const review_column& rc : review_columns()) EXPECT_NE(std::string(rc.tip), "") << rc.id;
}

TEST(ReviewNavigation, NextUnmarkedFollowsTheTableOrderAndGoesRound) {
    std::vector<candidate> cs(4);
    cs[1].mark = verdict::real;
    const std::vector<std::size_t> order{3, 1, 0, 2};
    EXPECT_EQ(next_unmarked(cs, order, 3), 0U); // 1 has a verdict
    EXPECT_EQ(next_unmarked(cs, order, 2), 3U); // round to the top
    cs[0].mark = cs[2].mark = verdict::unsure;
    EXPECT_EQ(next_unmarked(cs, order, 3), std::nullopt); // only the current one is left
    EXPECT_EQ(next_unmarked(cs, {}, 0), std::nullopt);
}

TEST(ReviewNavigation, BlinkPartnerIsTheFrameBeforeOrTheChosenOne) {
    EXPECT_EQ(blink_partner({}, 37, 60), 36);
    EXPECT_EQ(blink_partner({}, 0, 60), 1); // nothing before the first frame
    EXPECT_EQ(blink_partner({5}, 37, 60), 5);
    EXPECT_EQ(blink_partner({99}, 37, 60), 59);
    EXPECT_EQ(blink_partner({}, 0, 1), std::nullopt);
}

TEST(ReviewView, OneStretchPerCandidateFromItsPeakFrame) {
    std::vector<std::uint16_t> frame(20 * 10, 1000);
    frame[5 * 20 + 8] = 9000;
    const candidate_levels l = levels_for_candidate(frame, 20, 10, 8, 5, 2);
    EXPECT_EQ(l.cut.low, 1000);
    EXPECT_EQ(l.cut.high, 9000);
}

TEST(ReviewView, AxisTicksAreRoundAndWithinTheRange) {
    EXPECT_EQ(axis_ticks(0, 10, 6), (std::vector<double>{0, 2, 4, 6, 8, 10}));
    EXPECT_EQ(axis_ticks(-12.5, 600, 5), (std::vector<double>{0, 200, 400, 600}));
    EXPECT_EQ(axis_ticks(22, 52, 4), (std::vector<double>{30, 40, 50}));
    EXPECT_TRUE(axis_ticks(5, 5, 4).empty());
    EXPECT_TRUE(axis_ticks(0, NAN, 4).empty());
    light_curve curve;
    curve.first_frame = 22;
    curve.excess.assign(31, 1.0);
    curve.excess[15] = 600;
    curve.sigma = 12.5;
    const curve_plot plot = plot_light_curve(curve, 37, 300, 120);
    ASSERT_FALSE(plot.x_ticks.empty());
    ASSERT_FALSE(plot.y_ticks.empty());
    for (const auto& [frame, x] : plot.x_ticks) {
        EXPECT_GE(frame, 22);
        EXPECT_LE(frame, 52);
        EXPECT_DOUBLE_EQ(x, (frame - 22) * (299.0 / 30.0));
    }
    for (const auto& [value, y] : plot.y_ticks) {
        EXPECT_GE(y, 0.0);
        EXPECT_LE(y, 119.0);
    }
}

TEST(Histogram, CountsUpToThePowerOfTwoAboveTheBrightestSample) {
    const std::vector<std::uint16_t> frame{0, 100, 100, 4000, 70};
    const histogram h = make_histogram(frame, 16, 256);
    EXPECT_EQ(h.range, 4096); // a 12-bit picture in a 16-bit file
    ASSERT_EQ(h.counts.size(), 256U);
    EXPECT_EQ(h.counts[0], 1U);
    EXPECT_EQ(h.counts[6], 2U); // 100 * 256 / 4096
    EXPECT_EQ(h.counts[4], 1U);
    EXPECT_EQ(h.counts[250], 1U);
    EXPECT_EQ(h.largest, 2U);
    EXPECT_EQ(make_histogram(frame, 8, 256).range, 256); // never beyond the file's depth
    EXPECT_EQ(make_histogram(frame, 8, 256).counts[255], 1U);
    const auto bars = histogram_bars(h, 50);
    EXPECT_DOUBLE_EQ(bars[6], 50);
    EXPECT_GT(bars[0], 0);
    EXPECT_LT(bars[0], 50);
    EXPECT_EQ(bars[1], 0);
}

TEST(Histogram, PointsAreTakenByTheNearerAndKeptInOrder) {
    const display::stretch_levels l{1000, 3000};
    EXPECT_EQ(nearer_point(x_of_level(1200, 4096, 400), l, 4096, 400), level_point::black);
    EXPECT_EQ(nearer_point(x_of_level(2500, 4096, 400), l, 4096, 400), level_point::white);
    EXPECT_EQ(level_at_x(x_of_level(2047, 4096, 400), 4096, 400), 2047);
    EXPECT_EQ(level_at_x(-10, 4096, 400), 0);
    EXPECT_EQ(level_at_x(900, 4096, 400), 4095);
    EXPECT_EQ(move_point(l, level_point::black, 3500, 4096), (display::stretch_levels{2999, 3000}));
    EXPECT_EQ(move_point(l, level_point::white, 10, 4096), (display::stretch_levels{1000, 1001}));
    EXPECT_EQ(move_point(l, level_point::white, 9000, 4096), (display::stretch_levels{1000, 4095}));
    level_choice c;
    const std::vector<std::uint16_t> frame(100, 500);
    EXPECT_TRUE(levels_in_effect(c, frame).has_value());
    c.source = level_source::brightness;
    EXPECT_FALSE(levels_in_effect(c, frame).has_value());
    c = {level_source::chosen, {7, 9}};
    EXPECT_EQ(levels_in_effect(c, frame), (display::stretch_levels{7, 9}));
}

TEST(Playback, TheFileRateTimesTheSpeedSeveralFramesATickWhenFast) {
    EXPECT_EQ(playback_timing(25.0, 1.0).interval_ms, 40);
    EXPECT_EQ(playback_timing(25.0, 1.0).frames, 1);
    EXPECT_EQ(playback_timing(0.0, 2.0).interval_ms, 20);   // unknown rate: 25 fps
    const playback_tick fast = playback_timing(200.0, 4.0); // 800 frames a second
    EXPECT_GE(fast.interval_ms, shortest_tick_ms);
    EXPECT_EQ(fast.frames, 16);
    EXPECT_EQ(fast.interval_ms, 20);
}

} // namespace
} // namespace serflash::ui
