// The per-pixel shortcuts of the fast scanner against the straightforward operations they
// replace: every comparison must come out the same.
#include "detect/fast_kernels.h"
#include "detect/memory_scan.h"
#include "display/render.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

namespace serflash::detect::fast {
namespace {

TEST(FastKernels, SampleLimitAgreesWithTheMainTestForEverySample) {
    std::mt19937 rng(5);
    std::uniform_real_distribution<double> mean_of(0.0, 4000.0), sigma_of(0.0, 300.0);
    std::vector<std::pair<double, double>> cases = {
        {100.0, 10.0},  {0.0, 0.0},     {0.0, -0.0},         {12.5, 0.0},    {1000.0, 65536.0},
        {65535.0, 0.0}, {65534.9, 0.0}, {3.0, std::nan("")}, {50.0, 1e-300}, {6553.0, 1000.0}};
    for (int k = 0; k < 40; ++k) cases.emplace_back(mean_of(rng), sigma_of(rng));
    // Means and sigmas as packets give them: sums over n frames.
    for (int k = 0; k < 20; ++k) {
        const double n = 200.0;
        const double mean = static_cast<double>(rng() % 800000) / n;
        cases.emplace_back(mean, std::sqrt((static_cast<double>(rng() % 1000000) - 0.0) / (n - 1.0)));
    }
    for (const auto& [mean, sigma] : cases) {
        for (const std::int32_t t : {lowest_threshold, 60, 133}) {
            const std::uint16_t limit = sample_limit(mean, sigma, t);
            for (std::uint32_t s = 0; s < 65536; ++s) {
                const auto sample = static_cast<std::uint16_t>(s);
                ASSERT_EQ(sample > limit, main_test(sample, mean, sigma, t))
                    << "mean " << mean << " sigma " << sigma << " threshold " << t << " sample " << s;
            }
        }
    }
}

TEST(FastKernels, TopThresholdIsTheLastThresholdAtWhichTheTestHolds) {
    std::mt19937 rng(9);
    int checked = 0;
    for (int k = 0; k < 20000; ++k) {
        const auto s = static_cast<std::uint16_t>(rng() % 5000);
        const double mean = static_cast<double>(rng() % 400000) / 200.0;
        const double sigma = (k % 50 == 0) ? 0.0 : std::sqrt(static_cast<double>(rng() % 200000) / 199.0);
        if (!main_test(s, mean, sigma, lowest_threshold)) continue;
        ++checked;
        const std::int32_t top = top_threshold(s, mean, sigma);
        EXPECT_TRUE(main_test(s, mean, sigma, top));
        if (top < std::numeric_limits<std::int32_t>::max()) {
            EXPECT_FALSE(main_test(s, mean, sigma, top + 1));
        } else {
            EXPECT_EQ(sigma, 0.0);
        }
        for (const std::int32_t t : {lowest_threshold, 57, 60, 100}) EXPECT_EQ(t <= top, main_test(s, mean, sigma, t));
    }
    EXPECT_GT(checked, 1000);
}

TEST(FastKernels, DilationMasksWhatSquaresAroundEachMarkMask) {
    const std::int32_t w = 53, h = 37;
    std::mt19937 rng(3);
    for (const std::int32_t half : {-1, 0, 1, 4, 30, 100000}) {
        for (const int density : {0, 1, 20}) {
            testing::memory_scan ms(w, h, {std::vector<std::uint16_t>(static_cast<std::size_t>(w * h), 0)});
            frame_geometry g{w, h, false};
            std::vector<std::uint8_t> marks(g.pixels(), 0);
            std::vector<double> sigma(g.pixels(), 1.0);
            for (std::int32_t r = 10; r < h - 10; ++r)
                for (std::int32_t c = 10; c < w - 10; ++c)
                    if (static_cast<int>(rng() % 100) < density) {
                        marks[ms.at(r, c)] = 1;
                        mask_square(ms.buf, r, c, half);
                    }
            ms.buf.sigma_map.assign(g.pixels(), 1.0);
            for (std::int32_t r = 0; r < h; ++r)
                for (std::int32_t c = 0; c < w; ++c)
                    if (marks[ms.at(r, c)] != 0) mask_square(ms.buf, r, c, half);
            dilate_marks(g, marks.data(), half, sigma.data());
            EXPECT_EQ(sigma, ms.buf.sigma_map) << "half " << half << " density " << density;
        }
    }
}

TEST(FastKernels, StarFinderAgreesWithTheOnePixelStarTest) {
    const std::int32_t w = 70, h = 50;
    std::mt19937 rng(17);
    testing::memory_scan ms(w, h, {std::vector<std::uint16_t>(static_cast<std::size_t>(w * h), 0)});
    std::normal_distribution<double> noise(100.0, 3.0);
    for (double& m : ms.buf.mean_map) m = std::round(noise(rng) * 200.0) / 200.0;
    // Spots a few pixels wide, some near the edges so that rings leave the image.
    for (const auto& [r, c] : std::vector<std::pair<int, int>>{{25, 35}, {12, 12}, {40, 60}, {11, 58}, {30, 11}})
        for (int dr = -2; dr <= 2; ++dr)
            for (int dc = -2; dc <= 2; ++dc) ms.buf.mean_map[ms.at(r + dr, c + dc)] += 80.0 / (1.0 + dr * dr + dc * dc);
    const frame_geometry g{w, h, false};
    int stars = 0;
    for (const std::int32_t half_width : {-1, 0, 1, 2, 3, 10, 12, 30}) {
        for (const std::int32_t pct : {25, 0, -10}) {
            ms.ctx.settings.star_half_width = half_width;
            ms.ctx.settings.star_threshold = 30;
            ms.ctx.settings.pct_left = ms.ctx.settings.pct_right = ms.ctx.settings.pct_top =
                ms.ctx.settings.pct_bottom = pct;
            std::vector<std::int32_t> found(g.pixels(), 0);
            find_stars(g, ms.ctx.settings, ms.buf.mean_map.data(), found.data(), 0, h);
            for (std::int32_t r = 10; r < h - 10; ++r)
                for (std::int32_t c = 10; c < w - 10; ++c) {
                    ASSERT_EQ(found[ms.at(r, c)], is_star(ms.buf, ms.ctx.settings, r, c))
                        << "half width " << half_width << " pct " << pct << " at " << r << "," << c;
                    stars += found[ms.at(r, c)];
                }
        }
    }
    EXPECT_GT(stars, 5);
}

TEST(FastKernels, BandAccumulatorSumsAndFourLargestSamplesOfEveryInnerPixel) {
    // Every kernel this processor runs. 45 columns: one block of 32 and a tail; 61: a block of
    // 32, one of 16 and a tail (with 16-lane blocks, three of them). Bands of several heights;
    // chunks of several sizes; 8 and 16 bits.
    const std::int32_t h = 24, frames = 23;
    std::mt19937 rng(11);
    for (const summing_kernel kernel : kernels_here()) {
        for (const std::int32_t w : {45, 61}) {
            for (const bool eight : {false, true}) {
                std::vector<std::uint16_t> samples(static_cast<std::size_t>(w * h * frames));
                for (auto& s : samples)
                    s = static_cast<std::uint16_t>(eight ? rng() % 256 : (rng() % 9 == 0 ? rng() % 65536 : rng() % 40));
                std::vector<std::uint8_t> bytes;
                for (auto s : samples) {
                    bytes.push_back(static_cast<std::uint8_t>(s & 0xFF));
                    if (!eight) bytes.push_back(static_cast<std::uint8_t>(s >> 8));
                }
                const frame_geometry g{w, h, eight};
                std::vector<double> mean(g.pixels()), sigma(g.pixels());
                std::vector<pixel_peaks> peaks, expected_peaks;
                std::vector<pixel_peaks> at(g.pixels());
                for (const std::int32_t band : {h, 5}) {
                    peaks.clear();
                    for (std::int32_t r0 = 0; r0 < h; r0 += band) {
                        const std::int32_t r1 = std::min(h, r0 + band);
                        band_accumulator acc(kernel);
                        acc.start(g, r0, r1);
                        // Whole frames for the first band; only the band's rows with one row around
                        // them for the others.
                        const std::int32_t first_row = r0 == 0 ? 0 : r0 - 1;
                        const std::int32_t rows = r0 == 0 ? h : std::min(r1 + 1, h) - first_row;
                        const std::size_t row_bytes = static_cast<std::size_t>(w) * (eight ? 1 : 2);
                        for (std::int32_t done = 0, step = 1; done < frames; done += step, step = step % 5 + 2) {
                            const std::int32_t n = std::min(step, frames - done);
                            std::vector<std::uint8_t> part;
                            for (std::int32_t k = done; k < done + n; ++k) {
                                const auto* from = bytes.data() + static_cast<std::size_t>(k) * g.frame_bytes() +
                                                   static_cast<std::size_t>(first_row) * row_bytes;
                                part.insert(part.end(), from, from + static_cast<std::size_t>(rows) * row_bytes);
                            }
                            // 16-bit samples are summed from 16-bit aligned storage.
                            std::vector<std::uint16_t> aligned((part.size() + 1) / 2);
                            std::memcpy(aligned.data(), part.data(), part.size());
                            acc.add(reinterpret_cast<const std::uint8_t*>(aligned.data()), n, done, first_row, rows);
                        }
                        acc.finish(frames, mean.data(), sigma.data(), peaks);
                        for (std::int32_t r = r0; r < r1; ++r)
                            for (std::int32_t c = 0; c < w; ++c) {
                                const auto i = static_cast<std::size_t>(r * w + c);
                                at[i] = acc.peaks_at(i);
                            }
                    }
                    if (band != h) {
                        // Bands of any height find the same pixels as one band of the whole frame.
                        ASSERT_EQ(peaks.size(), expected_peaks.size());
                        for (std::size_t k = 0; k < peaks.size(); ++k)
                            ASSERT_EQ(peaks[k].index, expected_peaks[k].index);
                    }
                    expected_peaks = peaks;
                    std::size_t next_peak = 0;
                    for (std::size_t i = 0; i < g.pixels(); ++i) {
                        std::int64_t sum = 0, sq = 0;
                        std::vector<std::pair<std::uint16_t, int>> seen; // (sample, frame), largest first
                        for (int f = 0; f < frames; ++f) {
                            const std::int64_t x = samples[static_cast<std::size_t>(f) * g.pixels() + i];
                            sum += x;
                            sq += x * x;
                            seen.emplace_back(static_cast<std::uint16_t>(x), f);
                        }
                        const double n = frames, d = frames - 1;
                        const double m = static_cast<double>(sum) / n;
                        ASSERT_EQ(mean[i], m);
                        ASSERT_EQ(sigma[i], std::sqrt((static_cast<double>(sq) - (n * m) * m) / d));
                        const auto row = static_cast<std::int32_t>(i / static_cast<std::size_t>(w));
                        const auto col = static_cast<std::int32_t>(i % static_cast<std::size_t>(w));
                        if (row < 10 || row >= h - 10 || col < 10 || col >= w - 10) continue;
                        std::stable_sort(seen.begin(), seen.end(), [](auto a, auto b) { return a.first > b.first; });
                        const pixel_peaks& p = at[i];
                        for (int k = 0; k < 4; ++k)
                            ASSERT_EQ(p.sample[k], seen[static_cast<std::size_t>(k)].first) << k;
                        for (int k = 0; k < 3; ++k)
                            ASSERT_EQ(p.frame[k], seen[static_cast<std::size_t>(k)].second) << k;
                        const std::size_t from = static_cast<std::size_t>(seen[0].second) * g.pixels();
                        const std::size_t nb[4] = {i - 1, i + 1, i - static_cast<std::size_t>(w),
                                                   i + static_cast<std::size_t>(w)};
                        for (int k = 0; k < 4; ++k) ASSERT_EQ(p.neighbour[k], samples[from + nb[k]]) << k;
                        // A pixel is handed on exactly when its largest sample passes the main test.
                        const bool passes = main_test(p.sample[0], m, sigma[i], lowest_threshold);
                        const bool listed = next_peak < peaks.size() && peaks[next_peak].index == i;
                        ASSERT_EQ(listed, passes) << i;
                        if (listed) ++next_peak;
                    }
                    EXPECT_EQ(next_peak, peaks.size());
                    if (!eight) {
                        EXPECT_FALSE(peaks.empty());
                    }
                }
            }
        }
    }
}

} // namespace
} // namespace serflash::detect::fast

namespace serflash::detect::fast {
namespace {

// Bytes near 255 over hundreds of frames in one call (and split across calls): the sums of many
// bright samples exceed 16 bits, and each kernel's sums stay exact.
TEST(FastKernels, BandAccumulatorSumsHundredsOfBrightBytesExactly) {
    const std::int32_t w = 61, h = 24;
    const frame_geometry g{w, h, true};
    std::mt19937 rng(3);
    for (const std::int32_t frames : {600, 257}) {
        std::vector<std::uint8_t> bytes(g.pixels() * static_cast<std::size_t>(frames));
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 255 - rng() % 3 : 255);
        for (const summing_kernel kernel : kernels_here()) {
            for (const std::int32_t first_call : {frames, 300, 1}) {
                band_accumulator acc(kernel);
                acc.start(g, 0, h);
                const std::int32_t n = std::min(first_call, frames);
                acc.add(bytes.data(), n, 0, 0, h);
                if (n < frames) acc.add(bytes.data() + g.pixels() * static_cast<std::size_t>(n), frames - n, n, 0, h);
                std::vector<double> mean(g.pixels()), sigma(g.pixels());
                std::vector<pixel_peaks> peaks;
                acc.finish(frames, mean.data(), sigma.data(), peaks);
                for (std::size_t i = 0; i < g.pixels(); ++i) {
                    std::int64_t sum = 0, sq = 0;
                    for (std::int32_t f = 0; f < frames; ++f) {
                        const std::int64_t x = bytes[static_cast<std::size_t>(f) * g.pixels() + i];
                        sum += x;
                        sq += x * x;
                    }
                    const double fn = frames, d = frames - 1;
                    const double m = static_cast<double>(sum) / fn;
                    ASSERT_EQ(mean[i], m) << kernel_isa(kernel) << " pixel " << i;
                    ASSERT_EQ(sigma[i], std::sqrt((static_cast<double>(sq) - (fn * m) * m) / d)) << i;
                }
            }
        }
    }
}

} // namespace
} // namespace serflash::detect::fast
