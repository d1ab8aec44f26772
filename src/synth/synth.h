#pragma once
// Deterministic synthetic SER files: background with noise, stars, hot pixels, flashes.
// The same parameters (seed included) always give the same bytes.
#include "platform/file_io.h"
#include "synth/surface.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace serflash::synth {

// A short point-like brightening: its peak rises by amplitude at (x, y) in `frames` frames
// from `frame` on; a small round spot, so the four neighbours rise too.
struct flash_spec {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t frame = 0;
    double amplitude = 600.0;
    std::int32_t frames = 1;
};

struct params {
    std::int32_t width = 640;
    std::int32_t height = 480;
    std::int32_t depth = 16; // 8 or 16 bits per sample
    std::int32_t frames = 100;
    std::uint64_t seed = 1;

    // Levels in sample units of the file. The 16-bit defaults are those of a 12-bit camera
    // (samples 0 to 4095), which the scan table's default levels (500 and 3800) expect.
    double background = 1200.0; // sky level at the centre of the frame
    double gradient = 200.0;    // rise of the sky level from one side of the frame to the other
    double noise = 20.0;        // standard deviation of the noise on the sky
    double shot_noise = 0.3;    // extra noise variance per unit of signal (photon noise)

    bool bright_region = true; // a bright limb coming in from the right edge
    double bright_level = 3950.0;
    bool dark_region = true; // a dark patch in the lower left corner
    double dark_level = 250.0;

    std::int32_t stars = 12;
    double star_peak = 900.0;   // peak rise above the sky
    double star_sigma = 1.2;    // spot radius (Gaussian sigma, pixels)
    double star_jitter = 0.25;  // per-frame wander of the centre (pixels, sigma)
    double star_flicker = 0.08; // per-frame scintillation (fraction of the peak, sigma)

    std::int32_t hot_pixels = 6;
    double hot_level = 4000.0;

    // A drawn scene (the Moon) in place of the sky, gradient and regions; stars stay in its sky.
    std::shared_ptr<const surface> scene;

    std::vector<flash_spec> flashes;
    double flash_sigma = 0.8; // flash spot radius: the neighbours get about 46 % of the peak

    std::int32_t burst_frame = -1; // frame with many scattered bright points; -1 for none
    std::int32_t burst_points = 150;
    double burst_amplitude = 1500.0;

    std::int64_t cut_bytes = 0;           // bytes missing from the end of the last frame
    std::int64_t extra_bytes = 0;         // bytes of trailing data after the last frame
    std::int32_t header_frame_count = -1; // FrameCount to write; -1 writes `frames`

    // Time stamps after the last frame, one per frame (written before the extra bytes).
    bool write_times = false;
    std::int64_t start_ticks = 0; /* 0: datetime_utc */
    double fps = 25.0;
    std::vector<std::int32_t> dropped_frames; /* frame numbers skipped in the time stamps */
    bool times_local = false;                 /* stamps in local time (the header's offset) */
    bool time_flags = false;                  /* set the two top bits */

    bool swap_bytes = false; // 16-bit samples written high byte first

    std::string file_id = "SERFLASH-SYNTH";
    std::string observer = "Synthetic observer";
    std::string instrument = "Synthetic camera";
    std::string telescope = "Synthetic telescope";
    std::int32_t lu_id = 0;
    std::int32_t color_id = 0; // mono; 100 (RGB) and 101 (BGR) write three samples per pixel
    std::int32_t little_endian = 0;
    std::int64_t datetime = 639323946000000000;     // 100 ns ticks since 0001-01-01, local time
    std::int64_t datetime_utc = 639323622000000000; // the same moment in UTC
};

// Defaults for a depth: the 16-bit defaults above, or 8-bit levels (sky 60, noise 3, ...).
params default_params(std::int32_t depth);

struct point {
    std::int32_t x = 0;
    std::int32_t y = 0;
    bool operator==(const point&) const = default;
};

// What was put into the file.
struct ground_truth {
    std::vector<flash_spec> flashes; // as given, clipped to the frames written
    std::vector<point> stars;        // mean centres, rounded
    std::vector<point> hot_pixels;
    std::vector<point> burst_points;
    std::int32_t frames_written = 0; // whole frames in the file
};

struct result {
    bool ok = false;
    std::string error; // what went wrong when !ok
    ground_truth truth;
};

// Why the parameters cannot make a file, or empty.
std::string check_params(const params& p);

// The time stamp of each frame as write_times writes it (flags and local offset included).
std::vector<std::int64_t> time_stamps(const params& p);

// Writes the file through fs.
result write_ser(platform::file_system& fs, const std::string& path, const params& p);
// The same file as bytes in memory.
std::vector<std::uint8_t> make_ser_bytes(const params& p, ground_truth* truth = nullptr);

} // namespace serflash::synth
