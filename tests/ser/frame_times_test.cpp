#include "ser/frame_times.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <cstring>

namespace serflash::ser {
namespace {

constexpr std::int64_t second = 10'000'000;

synth::params timed(std::int32_t frames = 10) {
    synth::params p = synth::default_params(8);
    p.width = 24;
    p.height = 20;
    p.frames = frames;
    p.stars = 0;
    p.hot_pixels = 0;
    p.write_times = true;
    p.fps = 25.0;
    return p;
}

std::unique_ptr<ser_reader> open(const std::vector<std::uint8_t>& bytes) {
    auto r = std::make_unique<ser_reader>(platform::make_memory_input(bytes));
    r->read_ser_header();
    return r;
}

frame_times times_of(const synth::params& p, double fps = 0.0) {
    return read_frame_times(*open(synth::make_ser_bytes(p)), fps);
}

TEST(FrameTimes, CalendarRoundTrip) {
    EXPECT_EQ(ticks_of(1, 1, 1, 0, 0, 0), 0);
    EXPECT_EQ(format_utc(0), "0001-01-01T00:00:00.000Z");
    EXPECT_EQ(format_utc(ticks_of(2026, 12, 8, 21, 14, 3.125)), "2026-12-08T21:14:03.125Z");
    EXPECT_EQ(format_utc(ticks_of(2000, 2, 29, 23, 59, 59.999)), "2000-02-29T23:59:59.999Z");
    EXPECT_EQ(ticks_of(2100, 3, 1, 0, 0, 0) - ticks_of(2100, 2, 28, 0, 0, 0), 86400 * second); // no 29th
    EXPECT_EQ(ticks_of(1970, 1, 1, 0, 0, 0), 621355968000000000); // the Unix epoch in .NET ticks
    // Milliseconds are cut, never rounded up into the next second.
    EXPECT_EQ(format_utc(ticks_of(2024, 3, 1, 20, 15, 30) + 9999), "2024-03-01T20:15:30.000Z");
    EXPECT_STREQ(time_source_name(time_source::trailer_local), "trailer-local");
    EXPECT_STREQ(time_source_name(time_source::header_fps), "header+fps");
}

TEST(FrameTimes, TrailerInUtc) {
    synth::params p = timed();
    const frame_times t = times_of(p);
    EXPECT_EQ(t.source, time_source::trailer);
    ASSERT_EQ(t.utc_ticks.size(), 10u);
    EXPECT_EQ(t.utc_of(0), p.datetime_utc);
    EXPECT_EQ(t.utc_of(9), p.datetime_utc + 9 * second / 25);
    EXPECT_FALSE(t.utc_of(10).has_value());
    EXPECT_DOUBLE_EQ(t.frame_rate, 25.0);
    EXPECT_DOUBLE_EQ(t.frame_interval, 0.04);
    EXPECT_TRUE(t.gaps_after.empty());
    EXPECT_EQ(t.dropped_frames, 0);

    // Flag bits are masked, extra data after the stamps is left alone.
    p.time_flags = true;
    p.extra_bytes = 5;
    const frame_times flagged = times_of(p);
    EXPECT_EQ(flagged.source, time_source::trailer);
    EXPECT_EQ(flagged.utc_ticks, t.utc_ticks);
}

TEST(FrameTimes, DroppedFramesAreGaps) {
    synth::params p = timed(12);
    p.dropped_frames = {5, 9, 10};
    const frame_times t = times_of(p);
    ASSERT_EQ(t.source, time_source::trailer);
    EXPECT_DOUBLE_EQ(t.frame_rate, 25.0);
    EXPECT_EQ(t.gaps_after, (std::vector<std::int32_t>{4, 7}));
    EXPECT_EQ(t.dropped_frames, 3);
    EXPECT_EQ(t.utc_of(5), p.datetime_utc + 6 * second / 25);
}

TEST(FrameTimes, LocalStampsConvertedWithTheHeaderOffset) {
    synth::params p = timed();
    p.times_local = true;
    const frame_times t = times_of(p);
    EXPECT_EQ(t.source, time_source::trailer_local);
    EXPECT_EQ(t.utc_of(0), p.datetime_utc);
    ASSERT_FALSE(t.notes.empty());
    EXPECT_NE(t.notes.back().find("+9:00"), std::string::npos) << t.notes.back();
}

TEST(FrameTimes, UnusableTrailersFallBackToTheHeader) {
    struct fault {
        const char* what;
        void (*spoil)(std::vector<std::uint8_t>&, std::size_t trailer);
        const char* note;
    };
    const fault faults[] = {
        {"none", [](std::vector<std::uint8_t>& b, std::size_t at) { b.resize(at); }, "no time stamps after"},
        {"short", [](std::vector<std::uint8_t>& b, std::size_t at) { b.resize(at + 8 * 10 - 1); }, "are needed"},
        {"backwards",
         [](std::vector<std::uint8_t>& b, std::size_t at) {
             std::int64_t v = 0;
             std::memcpy(&v, &b[at + 8 * 6], 8);
             v -= second;
             std::memcpy(&b[at + 8 * 6], &v, 8);
         },
         "is earlier than the one of frame 5"},
        {"out of range",
         [](std::vector<std::uint8_t>& b, std::size_t at) {
             const std::int64_t v = ticks_of(1989, 12, 31, 23, 0, 0);
             std::memcpy(&b[at + 8 * 3], &v, 8);
         },
         "outside the years 1990 to 2100"},
    };
    const synth::params p = timed();
    const auto good = synth::make_ser_bytes(p);
    const std::size_t trailer = static_cast<std::size_t>(header_size + 10 * 24 * 20);
    for (const fault& f : faults) {
        auto bytes = good;
        f.spoil(bytes, trailer);
        const frame_times none = read_frame_times(*open(bytes));
        EXPECT_EQ(none.source, time_source::none) << f.what;
        EXPECT_FALSE(none.known()) << f.what;
        ASSERT_FALSE(none.notes.empty()) << f.what;
        EXPECT_NE(none.notes.front().find(f.note), std::string::npos) << f.what << ": " << none.notes.front();

        const frame_times est = read_frame_times(*open(bytes), 50.0);
        EXPECT_EQ(est.source, time_source::header_fps) << f.what;
        ASSERT_EQ(est.utc_ticks.size(), 10u) << f.what;
        EXPECT_EQ(est.utc_of(3), p.datetime_utc + 3 * second / 50) << f.what;
        EXPECT_DOUBLE_EQ(est.frame_rate, 50.0);
    }

    // No estimate without a UTC start.
    synth::params unset = timed();
    unset.write_times = false;
    unset.datetime_utc = 0;
    EXPECT_EQ(times_of(unset, 50.0).source, time_source::none);
}

} // namespace
} // namespace serflash::ser
