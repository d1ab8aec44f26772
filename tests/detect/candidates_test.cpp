#include "detect/candidates.h"

#include <gtest/gtest.h>

namespace serflash::detect {
namespace {

detection at(std::int32_t x, std::int32_t y, std::int32_t sample, double mean = 100.0, double sigma = 10.0) {
    return {0, x, y, sample, mean, sigma};
}

saved_frame frame(std::int32_t threshold, std::int32_t number, std::vector<detection> dets) {
    saved_frame f;
    f.threshold = threshold;
    f.frame = number;
    f.packet_first_frame = 0;
    f.detection_count = static_cast<std::int32_t>(dets.size());
    f.detections = std::move(dets);
    return f;
}

TEST(Candidates, TwoFrameFlashAtSixThresholdsIsOneCandidate) {
    std::vector<saved_frame> frames;
    for (const std::int32_t t : {60, 57, 54, 51, 48, 45}) {
        frames.push_back(frame(t, 20, {at(50, 40, 180)}));
        frames.push_back(frame(t, 21, {at(51, 41, 230)})); // drifted by a pixel, brighter
    }
    const auto c = group_candidates(frames);
    ASSERT_EQ(c.size(), 1u);
    EXPECT_EQ(c[0].number, 1);
    EXPECT_EQ(c[0].duration_frames(), 2);
    EXPECT_EQ(c[0].first_frame, 20);
    EXPECT_EQ(c[0].last_frame, 21);
    EXPECT_EQ(c[0].thresholds, (std::vector<std::int32_t>{60, 57, 54, 51, 48, 45}));
    EXPECT_EQ(c[0].highest_threshold(), 60);
    EXPECT_EQ(c[0].detections, 12);
    EXPECT_EQ(c[0].peak.frame, 21);
    EXPECT_EQ(c[0].peak.det.x, 51);
    EXPECT_DOUBLE_EQ(c[0].peak.significance(), 13.0);
    ASSERT_EQ(c[0].frames.size(), 2u);
    EXPECT_EQ(c[0].frames[1].frame, 21);
}

TEST(Candidates, SeparatedInPlaceOrTimeAreTwo) {
    // 3 pixels apart in the same frame: two; 2 apart: one.
    auto three = group_candidates({frame(60, 5, {at(30, 30, 200), at(33, 30, 190)})});
    ASSERT_EQ(three.size(), 2u);
    EXPECT_EQ(three[0].peak.det.x, 30);
    EXPECT_EQ(three[1].peak.det.x, 33);
    EXPECT_EQ(three[1].number, 2);
    EXPECT_EQ(group_candidates({frame(60, 5, {at(30, 30, 200), at(32, 32, 190)})}).size(), 1u);
    // The same place with a frame between: two events.
    EXPECT_EQ(group_candidates({frame(60, 5, {at(30, 30, 200)}), frame(60, 7, {at(30, 30, 200)})}).size(), 2u);
    // A chain links across frames: 0 -> 2 -> 4 pixels over three consecutive frames is one.
    const auto chain = group_candidates(
        {frame(54, 8, {at(30, 30, 200)}), frame(54, 9, {at(32, 30, 300)}), frame(54, 10, {at(34, 30, 150)})});
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(chain[0].peak.det.x, 32);
    EXPECT_EQ(chain[0].duration_frames(), 3);
}

TEST(Candidates, NumberedByFirstFrameAndPeakIndependentOfRecordOrder) {
    const std::vector<saved_frame> forward = {frame(60, 40, {at(80, 20, 200)}), frame(57, 12, {at(20, 60, 170)}),
                                              frame(57, 40, {at(80, 20, 200, 100.0, 5.0)})};
    const std::vector<saved_frame> backward(forward.rbegin(), forward.rend());
    for (const auto& records : {forward, backward}) {
        const auto c = group_candidates(records);
        ASSERT_EQ(c.size(), 2u);
        EXPECT_EQ(c[0].first_frame, 12);
        EXPECT_EQ(c[1].first_frame, 40);
        // The same pixel at two thresholds: the peak is the record with the larger significance.
        EXPECT_EQ(c[1].peak.threshold, 57);
        EXPECT_DOUBLE_EQ(c[1].peak.significance(), 20.0);
        EXPECT_EQ(c[1].thresholds, (std::vector<std::int32_t>{60, 57}));
    }
    EXPECT_TRUE(group_candidates({}).empty());
}

} // namespace
} // namespace serflash::detect
