#include "memory_scan.h"

#include <gtest/gtest.h>

#include <cmath>

namespace serflash::detect {
namespace {

using testing::memory_scan;
using frames = std::vector<std::vector<std::uint16_t>>;

// The statistics of the packet of `packet` frames from `first`.
bool stats(memory_scan& m, std::int32_t packet, std::int32_t first = 0) {
    return compute_packet_stats(m.buf, *m.reader, packet, first, {});
}

TEST(PacketStats, MeanAndSampleDeviation) {
    // Pixel 0: constant 7; pixel 1: 10, 12 then 11 (the third frame is outside a packet of two);
    // pixel 2: 0, 0, 3.
    memory_scan m(3, 1, frames{{7, 10, 0}, {7, 12, 0}, {7, 11, 3}});
    ASSERT_TRUE(stats(m, 2));
    EXPECT_EQ(m.buf.mean_map[0], 7.0);
    EXPECT_EQ(m.buf.sigma_map[0], 0.0);
    EXPECT_EQ(m.buf.mean_map[1], 11.0);
    EXPECT_EQ(m.buf.sigma_map[1], std::sqrt(2.0));

    ASSERT_TRUE(stats(m, 3));
    EXPECT_EQ(m.buf.mean_map[2], 1.0);
    EXPECT_EQ(m.buf.sigma_map[2], std::sqrt(3.0));
}

TEST(PacketStats, StartsAtCurrentFrameAndLeavesStreamAfterPacket) {
    memory_scan m(1, 1, frames{{1}, {2}, {4}, {8}, {16}});
    ASSERT_TRUE(stats(m, 2, 2));
    EXPECT_EQ(m.buf.mean_map[0], 6.0);
    EXPECT_EQ(m.buf.frame_buf[0], 8); // the packet's last frame
    m.reader->read_frame(m.buf.frame_buf);
    EXPECT_EQ(m.buf.frame_buf[0], 16); // reading on gives the frame after the packet
}

TEST(PacketStats, OneFramePacketGivesNaNDeviation) {
    memory_scan m(2, 1, frames{{5, 9}});
    ASSERT_TRUE(stats(m, 1));
    EXPECT_EQ(m.buf.mean_map[1], 9.0);
    EXPECT_TRUE(std::isnan(m.buf.sigma_map[0]));
    EXPECT_TRUE(std::isnan(m.buf.sigma_map[1]));
}

TEST(PacketStats, EightBitSamplesStayInByteRange) {
    memory_scan m(2, 1, frames{{255, 0}, {255, 200}, {253, 100}}, 8);
    m.reader->set_bit_shift(4); // does not apply to 8-bit files
    ASSERT_TRUE(stats(m, 3));
    EXPECT_NEAR(m.buf.mean_map[0], 254.3333333, 1e-6);
    EXPECT_EQ(m.buf.mean_map[1], 100.0);
    EXPECT_EQ(m.buf.sigma_map[1], 100.0);
}

TEST(PacketStats, LargeSumsStayExact) {
    // 200 frames of 65535 at one pixel: the sum of squares exceeds 32 bits by far.
    frames f(200, std::vector<std::uint16_t>{65535});
    memory_scan m(1, 1, f);
    ASSERT_TRUE(stats(m, 200));
    EXPECT_EQ(m.buf.mean_map[0], 65535.0);
    EXPECT_EQ(m.buf.sigma_map[0], 0.0);
}

} // namespace
} // namespace serflash::detect
