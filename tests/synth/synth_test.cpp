#include "ser/ser_reader.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace serflash::synth {
namespace {

params small(std::int32_t depth) {
    params p = default_params(depth);
    p.width = 160;
    p.height = 100;
    p.frames = 12;
    p.seed = 42;
    p.flashes = {{40, 30, 5, depth == 8 ? 40.0 : 600.0, 2}};
    return p;
}

std::vector<std::vector<std::uint16_t>> read_all(const std::vector<std::uint8_t>& bytes,
                                                 ser::ser_reader** keep = nullptr) {
    auto reader = std::make_unique<ser::ser_reader>(platform::make_memory_input(bytes));
    reader->read_ser_header();
    std::vector<std::vector<std::uint16_t>> frames;
    for (std::int32_t k = 0; k < reader->frames_present(); ++k) {
        frames.emplace_back(reader->samples_per_frame());
        reader->read_frame(frames.back());
    }
    if (keep != nullptr) *keep = reader.release();
    return frames;
}

TEST(Synth, SameSeedSameBytesOtherSeedOtherBytes) {
    for (const std::int32_t depth : {8, 16}) {
        params p = small(depth);
        p.burst_frame = 3;
        EXPECT_EQ(make_ser_bytes(p), make_ser_bytes(p));
        params q = p;
        q.seed = 43;
        EXPECT_NE(make_ser_bytes(p), make_ser_bytes(q));
    }
}

TEST(Synth, FileMatchesItsParameters) {
    params p = small(16);
    p.observer = "Observer";
    p.datetime_utc = -5;
    const auto bytes = make_ser_bytes(p);
    ASSERT_EQ(static_cast<std::int64_t>(bytes.size()), ser::header_size + 12 * 160 * 100 * 2);
    ser::ser_reader r(platform::make_memory_input(bytes));
    const std::string& text = r.read_ser_header();
    EXPECT_TRUE(r.check_geometry().ok());
    EXPECT_EQ(r.frames_present(), 12);
    EXPECT_NE(text.find("FileID(14byte)\x81\x46SERFLASH-SYNTH\r\n"), std::string::npos);
    EXPECT_NE(text.find("Observer(40byte)\x81\x46Observer\r\n"), std::string::npos);
    EXPECT_NE(text.find("Datetime UTC:-5\r\n"), std::string::npos);
}

// The flash must rise clearly above the pixel's own history, and its four neighbours with it,
// while a star stays a star and a hot pixel stays bright in every frame.
TEST(Synth, FlashesStarsAndHotPixelsWhereTheTruthSays) {
    for (const std::int32_t depth : {8, 16}) {
        params p = small(depth);
        ground_truth truth;
        const auto frames = read_all(make_ser_bytes(p, &truth));
        ASSERT_EQ(frames.size(), 12u);
        ASSERT_EQ(truth.flashes.size(), 1u);
        const auto at = [&](std::size_t k, std::int32_t x, std::int32_t y) {
            return static_cast<double>(frames[k][static_cast<std::size_t>(y * p.width + x)]);
        };
        const auto quiet_mean = [&](std::int32_t x, std::int32_t y) {
            double sum = 0;
            for (std::size_t k = 0; k < 5; ++k) sum += at(k, x, y);
            return sum / 5;
        };
        const flash_spec f = truth.flashes[0];
        for (std::size_t k : {5u, 6u}) {
            const double rise = at(k, f.x, f.y) - quiet_mean(f.x, f.y);
            EXPECT_GT(rise, 0.7 * f.amplitude) << depth;
            EXPECT_LT(rise, 1.3 * f.amplitude) << depth;
            for (const auto& [dx, dy] : {std::pair{-1, 0}, {1, 0}, {0, -1}, {0, 1}})
                EXPECT_GT(at(k, f.x + dx, f.y + dy) - quiet_mean(f.x + dx, f.y + dy), 0.25 * rise) << depth;
        }
        EXPECT_LT(std::abs(at(7, f.x, f.y) - quiet_mean(f.x, f.y)), 0.3 * f.amplitude) << depth;

        ASSERT_EQ(truth.stars.size(), static_cast<std::size_t>(p.stars));
        ASSERT_EQ(truth.hot_pixels.size(), static_cast<std::size_t>(p.hot_pixels));
        for (const point& s : truth.stars) {
            EXPECT_GT(quiet_mean(s.x, s.y) - quiet_mean(s.x + 6, s.y), 0.5 * p.star_peak) << depth;
            EXPECT_GT(quiet_mean(s.x + 1, s.y) - quiet_mean(s.x + 6, s.y), 0.3 * p.star_peak) << depth;
        }
        for (const point& h : truth.hot_pixels)
            for (std::size_t k = 0; k < frames.size(); ++k) EXPECT_GT(at(k, h.x, h.y), 0.8 * p.hot_level) << depth;
    }
}

TEST(Synth, BurstCutAndTrailingData) {
    params p = small(16);
    p.burst_frame = 2;
    p.burst_points = 30;
    p.cut_bytes = 100;
    p.extra_bytes = 7;
    ground_truth truth;
    const auto bytes = make_ser_bytes(p, &truth);
    EXPECT_EQ(static_cast<std::int64_t>(bytes.size()), ser::header_size + 12 * 160 * 100 * 2 - 100 + 7);
    EXPECT_EQ(truth.frames_written, 11);
    EXPECT_EQ(truth.burst_points.size(), 30u);
    ser::ser_reader* r = nullptr;
    const auto frames = read_all(bytes, &r);
    std::unique_ptr<ser::ser_reader> owner(r);
    EXPECT_EQ(r->frames_present(), 11);
    std::size_t risen = 0;
    for (const point& b : truth.burst_points) {
        const auto i = static_cast<std::size_t>(b.y * p.width + b.x);
        if (frames[2][i] > frames[1][i] + 300) ++risen;
    }
    EXPECT_GE(risen, 25u);

    p.cut_bytes = 0;
    p.header_frame_count = 20;
    const auto longer = make_ser_bytes(p);
    ser::ser_reader declared(platform::make_memory_input(longer));
    declared.read_ser_header();
    EXPECT_EQ(declared.frame_count(), 20);
    EXPECT_EQ(declared.frames_present(), 12);
}

TEST(Synth, RejectsImpossibleParameters) {
    const auto problem = [](auto change) {
        params p = small(16);
        change(p);
        return check_params(p);
    };
    EXPECT_EQ(problem([](params&) {}), "");
    EXPECT_NE(problem([](params& p) { p.depth = 12; }), "");
    EXPECT_NE(problem([](params& p) { p.width = 0; }), "");
    EXPECT_NE(problem([](params& p) {
                  p.width = 65536;
                  p.height = 65536;
              }),
              "");
    EXPECT_NE(problem([](params& p) { p.flashes[0].x = 160; }), "");
    EXPECT_NE(problem([](params& p) { p.flashes[0].frame = 12; }), "");
    EXPECT_NE(problem([](params& p) { p.noise = std::nan(""); }), "");
    EXPECT_NE(problem([](params& p) { p.cut_bytes = 160 * 100 * 2 + 1; }), "");
    EXPECT_TRUE(make_ser_bytes([] {
                    params p = small(16);
                    p.depth = 12;
                    return p;
                }())
                    .empty());
}

} // namespace
} // namespace serflash::synth
