#include "ser/ser_reader.h"
#include "synth/night.h"
#include "synth/truth_json.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace serflash::synth {
namespace {

// A small night: every nuisance on, short enough for the tests.
night_params small_night(std::uint64_t seed, std::int32_t depth = 16) {
    night_params p = night_preset(seed, depth);
    p.file.width = 200;
    p.file.height = 150;
    p.file.frames = 60;
    p.packet = 60;
    p.flashes = 3;
    p.sky_stars = 3;
    p.dark_stars = 1;
    p.satellites = 1;
    p.cosmic_rays = 3;
    p.hot_pixels = 4;
    return p;
}

// The same scene with no events: its noise is drawn from the same stream, so wherever no event
// reaches, the two files hold the same samples.
night_params twin_of(const night_params& p) {
    night_params q = p;
    q.flashes = q.sky_stars = q.dark_stars = q.satellites = q.cosmic_rays = q.hot_pixels = 0;
    return q;
}

using frames_t = std::vector<std::vector<std::uint16_t>>;

frames_t read_all(const std::vector<std::uint8_t>& bytes) {
    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    frames_t frames;
    for (std::int32_t k = 0; k < reader.frames_present(); ++k) {
        frames.emplace_back(reader.samples_per_frame());
        reader.read_frame(frames.back());
    }
    return frames;
}

struct pair_of_files {
    night_params p;
    night_truth truth;
    frames_t night, twin;
    double rise(std::int32_t k, std::int32_t x, std::int32_t y) const {
        const auto i = static_cast<std::size_t>(y * p.file.width + x);
        return static_cast<double>(night[k][i]) - static_cast<double>(twin[k][i]);
    }
};

pair_of_files make_pair(const night_params& p) {
    pair_of_files f;
    f.p = p;
    f.night = read_all(make_night_bytes(p, &f.truth));
    f.twin = read_all(make_night_bytes(twin_of(p)));
    return f;
}

std::vector<const night_event*> of_kind(const night_truth& t, event_kind k) {
    std::vector<const night_event*> out;
    for (const night_event& e : t.events)
        if (e.kind == k) out.push_back(&e);
    return out;
}

TEST(Night, SameSeedSameBytesAndPresetsDiffer) {
    for (const std::int32_t depth : {8, 16}) {
        const night_params p = small_night(3, depth);
        const auto bytes = make_night_bytes(p);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(static_cast<std::int64_t>(bytes.size()),
                  ser::header_size + std::int64_t{60} * 200 * 150 * (depth == 8 ? 1 : 2) + 60 * 8);
        EXPECT_EQ(bytes, make_night_bytes(p));
        EXPECT_NE(bytes, make_night_bytes(small_night(4, depth)));
        EXPECT_NE(bytes, make_night_bytes(twin_of(p)));
    }
    night_truth quiet;
    night_params q = noise_only_preset(3);
    q.file.frames = 5;
    make_night_bytes(q, &quiet);
    EXPECT_TRUE(quiet.events.empty());
    EXPECT_EQ(quiet.shift_x.size(), 5u);
}

// Turning a nuisance off moves nothing else: the other events keep their places.
TEST(Night, EachNuisanceHasItsOwnRandomNumbers) {
    night_params p = small_night(5);
    night_truth all, fewer;
    make_night_bytes(p, &all);
    p.cosmic_rays = 0;
    p.sky_stars = 0;
    make_night_bytes(p, &fewer);
    const auto flashes = of_kind(all, event_kind::flash);
    const auto still = of_kind(fewer, event_kind::flash);
    ASSERT_EQ(flashes.size(), still.size());
    for (std::size_t i = 0; i < flashes.size(); ++i) {
        // The stars that kept flashes away are gone, so a flash may sit elsewhere; its frames do not move.
        EXPECT_EQ(flashes[i]->first_frame, still[i]->first_frame);
    }
    EXPECT_EQ(all.shift_x, fewer.shift_x);
    EXPECT_EQ(of_kind(all, event_kind::hot_pixel).size(), of_kind(fewer, event_kind::hot_pixel).size());
    EXPECT_EQ(of_kind(all, event_kind::hot_pixel).front()->x, of_kind(fewer, event_kind::hot_pixel).front()->x);

    // Hot pixels belong to the camera: another night of the same camera has them, another camera not.
    night_params other = small_night(6);
    night_truth same_camera, other_camera;
    make_night_bytes(other, &same_camera);
    other.camera = 2;
    make_night_bytes(other, &other_camera);
    const auto a = of_kind(all, event_kind::hot_pixel);
    const auto b = of_kind(same_camera, event_kind::hot_pixel);
    const auto c = of_kind(other_camera, event_kind::hot_pixel);
    ASSERT_EQ(a.size(), b.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i]->x, b[i]->x);
        EXPECT_EQ(a[i]->y, b[i]->y);
        EXPECT_EQ(a[i]->amplitude, b[i]->amplitude);
    }
    EXPECT_NE(a.front()->x, c.front()->x);
}

TEST(Night, FlashesRiseByTheirAmplitudeInTheirFramesOnly) {
    for (const std::int32_t depth : {8, 16}) {
        const pair_of_files f = make_pair(small_night(7, depth));
        const auto flashes = of_kind(f.truth, event_kind::flash);
        ASSERT_EQ(flashes.size(), 3u);
        for (const night_event* e : flashes) {
            EXPECT_EQ(e->region, surface_region::night);
            ASSERT_EQ(e->frames.size(), static_cast<std::size_t>(e->last_frame - e->first_frame + 1));
            EXPECT_LE(e->frames.size(), 3u);
            ASSERT_TRUE(e->significance);
            EXPECT_GE(*e->significance, 9.0 - 1e-9);
            EXPECT_LE(*e->significance, 20.0 + 1e-9);
            for (std::size_t j = 0; j < e->frames.size(); ++j) {
                const event_frame& fr = e->frames[j];
                // Shot noise on the flash's own light is all that separates the two files there.
                const double slack = 4.0 * std::sqrt(f.p.shot_noise * fr.peak_rise) + 1.0;
                EXPECT_NEAR(f.rise(fr.frame, fr.peak_x, fr.peak_y), fr.peak_rise, slack) << depth;
                if (j > 0) {
                    EXPECT_LT(fr.amplitude, e->frames[j - 1].amplitude);
                }
                // The place is the scene's place moved with the image.
                EXPECT_NEAR(fr.x, e->x + f.truth.shift_x[fr.frame], 1e-9);
                EXPECT_NEAR(fr.y, e->y + f.truth.shift_y[fr.frame], 1e-9);
            }
            if (e->last_frame + 1 < 60) {
                EXPECT_EQ(f.rise(e->last_frame + 1, e->frames.back().peak_x, e->frames.back().peak_y), 0.0);
            }
        }
    }
}

TEST(Night, SatelliteStepsSteadilyAndCosmicRaysAndHotPixelsStayOnTheSensor) {
    const pair_of_files f = make_pair(small_night(11));
    const auto satellites = of_kind(f.truth, event_kind::satellite);
    ASSERT_EQ(satellites.size(), 1u);
    const night_event& s = *satellites.front();
    ASSERT_GE(s.frames.size(), 8u);
    EXPECT_LE(s.frames.size(), 12u);
    EXPECT_GE(std::hypot(s.speed_x, s.speed_y), 3.0);
    for (std::size_t j = 0; j < s.frames.size(); ++j) {
        const event_frame& fr = s.frames[j];
        const auto step = static_cast<double>(j);
        EXPECT_NEAR(fr.x - f.truth.shift_x[fr.frame], s.x + step * s.speed_x, 1e-9);
        EXPECT_NEAR(fr.y - f.truth.shift_y[fr.frame], s.y + step * s.speed_y, 1e-9);
        EXPECT_GT(f.rise(fr.frame, fr.peak_x, fr.peak_y), 0.6 * fr.peak_rise);
    }

    const auto rays = of_kind(f.truth, event_kind::cosmic_ray);
    ASSERT_EQ(rays.size(), 3u);
    for (const night_event* r : rays) {
        EXPECT_EQ(r->first_frame, r->last_frame);
        std::size_t strong = 0;
        for (const event_frame& px : r->frames) {
            EXPECT_EQ(px.frame, r->first_frame);
            if (f.night[px.frame][static_cast<std::size_t>(px.peak_y * 200 + px.peak_x)] < f.p.full_scale) {
                EXPECT_NEAR(f.rise(px.frame, px.peak_x, px.peak_y), px.peak_rise, 1.0);
            }
            if (px.peak_rise > 0.5 * r->amplitude) ++strong;
            // Nothing in the frames either side.
            for (const std::int32_t k : {r->first_frame - 1, r->first_frame + 1})
                if (k >= 0 && k < 60) {
                    EXPECT_EQ(f.rise(k, px.peak_x, px.peak_y), 0.0);
                }
        }
        EXPECT_GE(strong, 1u);
        EXPECT_LE(strong, 5u);
    }

    const auto hot = of_kind(f.truth, event_kind::hot_pixel);
    ASSERT_EQ(hot.size(), 4u);
    for (const night_event* h : hot) {
        const auto x = static_cast<std::int32_t>(h->x);
        const auto y = static_cast<std::int32_t>(h->y);
        double sum = 0;
        bool clipped = false;
        for (std::int32_t k = 0; k < 60; ++k) {
            sum += f.rise(k, x, y);
            clipped = clipped || f.night[k][static_cast<std::size_t>(y * 200 + x)] >= f.p.full_scale;
        }
        if (!clipped) {
            EXPECT_NEAR(sum / 60, h->amplitude, 0.1 * h->amplitude + 3.0);
        }
        // A neighbour on the sensor gets nothing, whatever the image does.
        for (std::int32_t k = 0; k < 60; ++k) EXPECT_EQ(f.rise(k, x + 2, y), 0.0);
    }
}

// Stars follow the image motion and twinkle; the motion holds jitter and drift of the size asked.
TEST(Night, StarsMoveWithTheImage) {
    night_params p = small_night(13);
    p.drift = 0.05;
    const pair_of_files f = make_pair(p);
    double jumps = 0;
    for (std::size_t k = 1; k < f.truth.shift_x.size(); ++k)
        jumps += std::hypot(f.truth.shift_x[k] - f.truth.shift_x[k - 1], f.truth.shift_y[k] - f.truth.shift_y[k - 1]);
    const double mean_jump = jumps / 59;
    ASSERT_EQ(f.truth.psf.size(), 60u);
    const auto [thinnest, widest] = std::minmax_element(f.truth.psf.begin(), f.truth.psf.end());
    EXPECT_LT(*thinnest, p.psf_sigma);
    EXPECT_GT(*widest, p.psf_sigma);
    EXPECT_GT(mean_jump, 0.15);
    EXPECT_LT(mean_jump, 0.8);
    for (const night_event* s : of_kind(f.truth, event_kind::star)) {
        std::vector<double> peaks;
        for (std::int32_t k = 0; k < 60; ++k) {
            // Centroid of what the star adds, over a small box around its expected place.
            const double ex = s->x + f.truth.shift_x[k];
            const double ey = s->y + f.truth.shift_y[k];
            double sum = 0, sx = 0, sy = 0, peak = 0;
            for (int y = static_cast<int>(ey) - 3; y <= static_cast<int>(ey) + 4; ++y)
                for (int x = static_cast<int>(ex) - 3; x <= static_cast<int>(ex) + 4; ++x) {
                    const double v = std::max(0.0, f.rise(k, x, y));
                    sum += v;
                    sx += v * x;
                    sy += v * y;
                    peak = std::max(peak, v);
                }
            ASSERT_GT(sum, 0);
            if (s->amplitude > 30 * f.p.read_noise) {
                EXPECT_NEAR(sx / sum, ex, 0.35);
                EXPECT_NEAR(sy / sum, ey, 0.35);
            }
            peaks.push_back(peak);
        }
        double mean = 0, var = 0;
        for (double v : peaks) mean += v / 60;
        for (double v : peaks) var += (v - mean) * (v - mean) / 59;
        EXPECT_GT(std::sqrt(var), 0.03 * mean); // it twinkles
    }
}

// The expected noise of the truth is what a pixel's samples show over their packet, image motion
// on the texture included.
TEST(Night, ExpectedNoiseIsTheNoiseOfThePixel) {
    night_params p = small_night(17);
    p.file.frames = 200;
    p.packet = 200;
    night_truth truth;
    const frames_t night = read_all(make_night_bytes(p, &truth));
    const frames_t twin = read_all(make_night_bytes(twin_of(p)));
    const auto packet_stats = [&](const frames_t& frames, std::int32_t x, std::int32_t y) {
        double sum = 0, sum2 = 0;
        for (const auto& frame : frames) {
            const double v = frame[static_cast<std::size_t>(y * p.file.width + x)];
            sum += v;
            sum2 += v * v;
        }
        const double mean = sum / 200;
        return std::pair{mean, std::sqrt(sum2 / 200 - mean * mean)};
    };
    for (const night_event* e : of_kind(truth, event_kind::flash)) {
        const event_frame& fr = e->frames.front();
        EXPECT_NEAR(packet_stats(twin, fr.peak_x, fr.peak_y).second / fr.noise, 1.0, 0.25) << "flash " << e->id;
        // With the flash in the packet, as a scan measures it.
        const auto [mean, sd] = packet_stats(night, fr.peak_x, fr.peak_y);
        const double measured =
            (night[fr.frame][static_cast<std::size_t>(fr.peak_y * p.file.width + fr.peak_x)] - mean) / sd;
        EXPECT_NEAR(measured / fr.packet_significance, 1.0, 0.3) << "flash " << e->id;
        EXPECT_LT(fr.packet_significance, fr.significance);
    }
}

TEST(Night, TruthJsonRoundTrip) {
    night_truth t;
    make_night_bytes(small_night(19), &t);
    const std::string text = truth_json(t, "/some/where/night.ser");
    std::string why;
    const auto back = parse_truth_json(text, &why);
    ASSERT_TRUE(back) << why;
    EXPECT_EQ(back->settings.file.seed, 19u);
    EXPECT_EQ(back->settings.preset, "night");
    EXPECT_EQ(back->frames_written, 60);
    ASSERT_EQ(back->events.size(), t.events.size());
    for (std::size_t i = 0; i < t.events.size(); ++i) {
        const night_event& a = t.events[i];
        const night_event& b = back->events[i];
        EXPECT_EQ(a.kind, b.kind);
        EXPECT_EQ(a.first_frame, b.first_frame);
        EXPECT_NEAR(a.x, b.x, 1e-4);
        EXPECT_EQ(a.frames.size(), b.frames.size());
        if (!a.frames.empty()) {
            EXPECT_EQ(a.frames.back().peak_x, b.frames.back().peak_x);
        }
    }
    EXPECT_NEAR(back->shift_y.back(), t.shift_y.back(), 1e-4);
    EXPECT_NE(text.find("\"ser_file\": \"night.ser\""), std::string::npos);
    EXPECT_FALSE(parse_truth_json("{\"format\": \"other\"}"));
    EXPECT_FALSE(parse_truth_json("not json"));
}

TEST(Night, WritesTheFileAndItsTruthBesideIt) {
    const auto dir = std::filesystem::temp_directory_path() / ("serflash_night_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "n.SER").string();
    night_params p = small_night(23);
    p.file.frames = 4;
    const night_result r = write_night(platform::native_file_system(), path, p);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(truth_path_for(path), (dir / "n.truth.json").string());
    std::ifstream in(dir / "n.truth.json");
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_TRUE(parse_truth_json(text.str()));
    EXPECT_EQ(std::filesystem::file_size(path),
              static_cast<std::uintmax_t>(ser::header_size + 4 * 200 * 150 * 2 + 4 * 8));
    std::filesystem::remove_all(dir);
    EXPECT_EQ(truth_path_for("a/b.avi"), "a/b.avi.truth.json");
}

TEST(Night, RejectsImpossibleParameters) {
    const auto problem = [](auto change) {
        night_params p = small_night(1);
        change(p);
        return check_night(p);
    };
    EXPECT_EQ(problem([](night_params&) {}), "");
    EXPECT_NE(problem([](night_params& p) { p.file.depth = 12; }), "");
    EXPECT_NE(problem([](night_params& p) { p.jitter = std::nan(""); }), "");
    EXPECT_NE(problem([](night_params& p) { p.jitter = -1; }), "");
    EXPECT_NE(problem([](night_params& p) { p.flash_sigma_min = 30; }), "");
    EXPECT_NE(problem([](night_params& p) { p.flash_frames_max = 4; }), "");
    EXPECT_NE(problem([](night_params& p) { p.satellites = -1; }), "");
    EXPECT_NE(problem([](night_params& p) { p.file.color_id = 100; }), "");
    EXPECT_NE(problem([](night_params& p) { p.flashes_at = {{500, 10, 1, 100, 1}}; }), "");
    EXPECT_TRUE(make_night_bytes([] {
                    night_params p = small_night(1);
                    p.psf_sigma = 0;
                    return p;
                }())
                    .empty());
}

} // namespace
} // namespace serflash::synth
