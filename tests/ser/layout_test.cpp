// Colour layouts read as one plane at the right place, and byte-swapped samples.
#include "detect/batch.h"
#include "detect/memory_fs.h"
#include "ser/ser_reader.h"
#include "ser/ser_writer.h"
#include "synth/synth.h"

#include <gtest/gtest.h>

#include <random>

namespace serflash::ser {
namespace {

std::unique_ptr<ser_reader> open(std::vector<std::uint8_t> bytes) {
    auto r = std::make_unique<ser_reader>(platform::make_memory_input(std::move(bytes)));
    r->read_ser_header();
    return r;
}

TEST(SerColour, MeanOfThreeSamplesFrameAfterFrame) {
    for (const std::int32_t depth : {8, 16}) {
        for (const std::int32_t id : {color_rgb, color_bgr}) {
            ser_header h = make_header(2, 1, depth, 3);
            h.ColorID = id;
            std::vector<std::uint8_t> bytes;
            {
                const auto head = encode_header(h);
                bytes.assign(head.begin(), head.end());
            }
            // Frame k, pixel i: samples 10k + i, 20 + i, 30 + i (depth 16: times 256 + 1).
            for (int k = 0; k < 3; ++k)
                for (int i = 0; i < 2; ++i)
                    for (const int base : {10 * k, 20, 30}) {
                        const int v = depth == 8 ? base + i : (base + i) * 256 + 1;
                        bytes.push_back(static_cast<std::uint8_t>(v));
                        if (depth == 16) bytes.push_back(static_cast<std::uint8_t>(v >> 8));
                    }
            auto r = open(bytes);
            EXPECT_EQ(r->planes(), 3);
            EXPECT_EQ(r->frame_bytes(), 2 * 3 * bytes_per_sample(depth));
            EXPECT_EQ(r->frames_present(), 3);
            EXPECT_EQ(r->trailing_bytes(), 0);
            EXPECT_NE(r->layout_text().find("mean of its three colours"), std::string::npos);
            std::vector<std::uint16_t> buf(2);
            r->seek_frame(2);
            r->read_frame(buf);
            const auto mean = [&](int k, int i) {
                const int sum = (10 * k + 20 + 30 + 3 * i);
                return depth == 8 ? sum / 3 : (sum * 256 + 3) / 3;
            };
            EXPECT_EQ(buf, (std::vector<std::uint16_t>{static_cast<std::uint16_t>(mean(2, 0)),
                                                       static_cast<std::uint16_t>(mean(2, 1))}))
                << depth << " " << id;
            EXPECT_EQ(r->position(), 178 + 3 * r->frame_bytes());
            if (depth == 16) {
                r->set_bit_shift(4);
                r->seek_frame(1);
                r->read_frame(buf);
                EXPECT_EQ(buf[1], mean(1, 1) >> 4);
            }
        }
    }
    ser_header bayer = make_header(4, 4, 8, 1);
    bayer.ColorID = 8;
    const auto bayer_bytes = encode_header(bayer);
    auto r = open(std::vector<std::uint8_t>(bayer_bytes.begin(), bayer_bytes.end()));
    EXPECT_EQ(r->planes(), 1);
    EXPECT_EQ(r->layout_text(), "Bayer RGGB (one plane)");
    EXPECT_EQ(r->frame_bytes(), 16);
}

// A flash in a generated colour file is found at its place, in its frame, by the scan.
TEST(SerColour, ReferenceScanFindsTheFlash) {
    for (const std::int32_t id : {color_rgb, color_bgr}) {
        synth::params p = synth::default_params(16);
        p.width = 96;
        p.height = 80;
        p.frames = 40;
        p.color_id = id;
        p.flashes = {{50, 40, 27, 900.0, 1}};
        detect::testing::memory_fs fs;
        fs.files["c.ser"] = synth::make_ser_bytes(p);
        ASSERT_EQ(fs.files["c.ser"].size(), static_cast<std::size_t>(178 + 40 * 96 * 80 * 3 * 2));
        detect::scan_job job{"c.ser", detect::default_settings(40, 16, 0), {}, 0};
        detect::scan_environment env;
        env.fs = &fs;
        const detect::file_report rep = detect::scan_file(job, env, {});
        ASSERT_EQ(rep.outcome, detect::file_outcome::scanned) << rep.problem_text();
        bool found = false;
        for (const auto& f : rep.frames)
            for (const auto& d : f.detections)
                found = found || (f.frame == 27 && std::abs(d.x - 50) <= 1 && std::abs(d.y - 40) <= 1);
        EXPECT_TRUE(found) << id;
        for (const auto& f : rep.frames) EXPECT_EQ(f.frame, 27) << id;
    }
}

TEST(SerByteOrder, SwappedSamplesAreRecognised) {
    synth::params p = synth::default_params(16);
    p.width = 64;
    p.height = 48;
    p.frames = 6;
    const auto normal = synth::make_ser_bytes(p);
    p.swap_bytes = true;
    const auto swapped = synth::make_ser_bytes(p);

    auto r = open(swapped);
    EXPECT_TRUE(looks_byte_swapped(*r));
    EXPECT_EQ(r->position(), header_size); // left where it was
    r->set_swap_bytes(true);
    EXPECT_FALSE(looks_byte_swapped(*r));
    // Read high byte first, the swapped file gives the normal samples.
    std::vector<std::uint16_t> a(64 * 48), b(64 * 48);
    r->seek_frame(4);
    r->read_frame(a);
    auto n = open(normal);
    n->seek_frame(4);
    n->read_frame(b);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(looks_byte_swapped(*n));
    n->set_swap_bytes(true);
    EXPECT_TRUE(looks_byte_swapped(*n));

    synth::params dark = synth::default_params(16);
    dark.width = 64;
    dark.height = 48;
    dark.frames = 3;
    dark.background = 30;
    dark.gradient = 0;
    dark.noise = 4;
    dark.bright_region = false;
    dark.stars = 0;
    EXPECT_FALSE(looks_byte_swapped(*open(synth::make_ser_bytes(dark))));
    dark.swap_bytes = true;
    EXPECT_TRUE(looks_byte_swapped(*open(synth::make_ser_bytes(dark))));
    dark.noise = 0;
    dark.hot_pixels = 0;
    dark.dark_region = false;
    dark.background = 0;
    EXPECT_FALSE(looks_byte_swapped(*open(synth::make_ser_bytes(dark)))); // all zero

    synth::params eight = synth::default_params(8);
    eight.width = 64;
    eight.height = 48;
    eight.frames = 3;
    EXPECT_FALSE(looks_byte_swapped(*open(synth::make_ser_bytes(eight))));
}

TEST(SerRows, RowsAndRawRowsOfAFrameReadAsTheWholeFrameGivesThem) {
    // Mono and colour, 8 and 16 bits, shifted and byte-swapped, and a file cut short in its last
    // frame: every run of rows equals those rows of read_frame, and rows below the frame are zeros;
    // the raw rows the scan examines are the same samples, one byte each for 8-bit files.
    std::mt19937 rng(3);
    for (const std::int32_t depth : {8, 16})
        for (const std::int32_t planes : {1, 3})
            for (const bool swap : {false, true}) {
                const std::int32_t w = 7, h = 5, frames = 3;
                ser_header head = make_header(w, h, depth, frames);
                if (planes == 3) head.ColorID = color_rgb;
                std::vector<std::uint8_t> bytes;
                const auto encoded = encode_header(head);
                bytes.assign(encoded.begin(), encoded.end());
                const std::size_t frame_bytes = static_cast<std::size_t>(w * h * planes * (depth / 8));
                for (std::size_t k = 0; k < frame_bytes * frames; ++k)
                    bytes.push_back(static_cast<std::uint8_t>(rng()));
                bytes.resize(bytes.size() - frame_bytes / 2); // the last frame is cut short
                auto r = open(bytes);
                r->set_swap_bytes(swap);
                r->set_bit_shift(depth == 16 ? 3 : 0);
                std::vector<std::uint16_t> whole(static_cast<std::size_t>(w * h));
                for (std::int32_t k = 0; k < frames; ++k) {
                    r->seek_frame(k);
                    r->read_frame(whole);
                    for (std::int32_t first = 0; first < h; ++first)
                        for (std::int32_t rows = 1; first + rows <= h + 2; ++rows) {
                            // Rows asked for below the frame are zeros, not the next frame's.
                            std::vector<std::uint16_t> part(static_cast<std::size_t>(rows * w), 1);
                            r->read_rows(k, first, rows, part);
                            std::vector<std::uint16_t> expected(whole.begin() + first * w,
                                                                whole.begin() + std::min(first + rows, h) * w);
                            expected.resize(part.size(), 0);
                            ASSERT_EQ(part, expected) << depth << " " << planes << " " << swap << " frame " << k
                                                      << " rows " << first << "+" << rows;
                            if (first + rows > h) continue;
                            std::vector<std::uint16_t> raw(part.size(), 0xABCD); // 16-bit storage: aligned
                            std::vector<std::uint8_t> scratch;
                            r->read_raw_rows(k, first, rows, reinterpret_cast<std::uint8_t*>(raw.data()), scratch);
                            const auto* raw_bytes = reinterpret_cast<const std::uint8_t*>(raw.data());
                            for (std::size_t i = 0; i < part.size(); ++i)
                                ASSERT_EQ(r->scan_sample_bytes() == 1 ? raw_bytes[i] : raw[i], expected[i])
                                    << depth << " " << planes << " " << swap << " frame " << k << " rows " << first
                                    << "+" << rows << " sample " << i;
                        }
                }
            }
}

} // namespace
} // namespace serflash::ser
