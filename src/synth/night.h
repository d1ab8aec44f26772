#pragma once
// Made-up nights: a lunar night side that moves with the seeing and drifts, with its texture and
// limb, twinkling stars, satellites, cosmic-ray hits, hot pixels and flashes, and the ground truth
// of every event. The same parameters (seed included) always give the same bytes.
#include "platform/file_io.h"
#include "synth/surface.h"
#include "synth/synth.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace serflash::synth {

struct night_params {
    // Size, depth, frame count, seed, header texts and time stamps of the file. Its scene fields
    // (regions, stars, hot pixels, flashes, burst, cut and extra bytes) are not used here.
    params file;
    std::string preset = "custom"; // "night", "noise-only" or "custom": named in the ground truth

    // Sensor, in counts of the file.
    double read_noise = 12.0;
    double shot_noise = 0.25;   // variance per count of signal (the reciprocal of the gain)
    double full_scale = 4095.0; // the camera's largest sample (a 12-bit camera in a 16-bit file)

    // Scene, with the surface drawn from these unless `surface_override` is given.
    procedural_surface_params procedural;
    std::shared_ptr<const surface> surface_override;
    double psf_sigma = 0.8; // Gaussian sigma of stars, flashes and satellites, pixels
    double seeing = 0.1;    // its variation from frame to frame (fraction, standard deviation)

    // Whole-frame image motion: seeing jitter (AR(1) with this standard deviation and frame-to-frame
    // correlation), slow drift (px per frame) and a periodic tracking error.
    double jitter = 0.3;
    double jitter_correlation = 0.5;
    double drift = 0.01;
    double wobble = 0.4;          // amplitude of the periodic error, pixels
    double wobble_period = 300.0; // frames

    // Events. Counts of events drawn at random places; levels as significances against the local
    // noise where they are seen, so they mean the same at every depth and level.
    std::int32_t flashes = 0;
    double flash_sigma_min = 9.0; // significance of the brightest pixel in the flash's first frame
    double flash_sigma_max = 20.0;
    std::int32_t flash_frames_max = 3;  // each flash lasts 1 to this many frames
    std::vector<flash_spec> flashes_at; // flashes at given places (scene pixels) and amplitudes, as well
    std::int32_t sky_stars = 0;
    std::int32_t dark_stars = 0; // stars in front of the night side (as just before an occultation)
    double star_sigma_min = 6.0; // significance of a star's mean peak
    double star_sigma_max = 80.0;
    double scintillation = 0.15; // per-frame twinkling, fraction of the peak (standard deviation)
    double star_wander = 0.05;   // each star's own wander beyond the image motion, pixels
    std::int32_t satellites = 0;
    double satellite_sigma_min = 10.0;
    double satellite_sigma_max = 60.0;
    std::int32_t cosmic_rays = 0;
    double cosmic_sigma_min = 8.0; // significance of the brightest pixel of a hit
    double cosmic_sigma_max = 80.0;
    std::int32_t hot_pixels = 0;
    // The sensor the hot pixels are drawn for: nights of one camera seed share their places and
    // excesses (each excess in the read and sky noise of the camera).
    std::uint64_t camera = 1;
    double hot_sigma_min = 4.0; // excess of a hot pixel over its surroundings, in noise
    double hot_sigma_max = 60.0;
    double hot_flicker = 0.15; // per-frame variation of a hot pixel's excess (fraction)

    // Frames over which the expected significance takes the image motion's swing (the scan's
    // default packet).
    std::int32_t packet = 200;
};

// Every nuisance on, the given number of flashes from 9 to 20 sigma.
night_params night_preset(std::uint64_t seed, std::int32_t depth = 16);
// The same scene (motion, texture, limb, read and shot noise) with no events at all.
night_params noise_only_preset(std::uint64_t seed, std::int32_t depth = 16);

enum class event_kind { flash, star, satellite, cosmic_ray, hot_pixel };
const char* event_kind_name(event_kind k);
std::optional<event_kind> event_kind_from_name(const std::string& name);

// One frame of an event as it appears in the file.
struct event_frame {
    std::int32_t frame = 0;
    double x = 0; // centre in frame pixels (image motion included for sources on the scene)
    double y = 0;
    std::int32_t peak_x = 0; // the pixel that rose most
    std::int32_t peak_y = 0;
    double amplitude = 0;    // peak of the spot (a cosmic ray: of its brightest pixel)
    double peak_rise = 0;    // what the brightest pixel got, noise-free
    double noise = 0;        // expected standard deviation of that pixel over its packet
    double significance = 0; // peak_rise / noise
    // The same rise against a scan's statistics of the packet, which hold the event's own light:
    // (peak_rise - its mean over the packet) / (noise and its spread over the packet together).
    double packet_significance = 0;
};

struct night_event {
    std::int32_t id = 0; // from 1
    event_kind kind = event_kind::flash;
    std::int32_t first_frame = 0;
    std::int32_t last_frame = 0;
    double x = 0; // scene place (flash, star), sensor pixel (hot pixel), first place (satellite, cosmic ray)
    double y = 0;
    double amplitude = 0;
    std::optional<double> significance;        // of the first frame (a star: of its mean peak)
    std::optional<double> packet_significance; // of the first frame; flashes, satellites and cosmic rays
    surface_region region = surface_region::sky;
    double speed_x = 0; // satellite: px per frame
    double speed_y = 0;
    double decay = 1;   // flash: ratio of each frame's amplitude to the one before
    double flicker = 0; // star: scintillation; hot pixel: flicker
    // Per frame for flashes, satellites and cosmic rays (a cosmic ray: one entry per pixel it hit);
    // stars and hot pixels sit in every frame and list none.
    std::vector<event_frame> frames;
};

struct night_truth {
    night_params settings;
    std::string ser_file; // the SER file's name, as a truth file read back names it
    std::string surface_description;
    std::int32_t frames_written = 0;
    std::vector<double> shift_x; // image motion per frame: the scene's place (x, y) is seen at
    std::vector<double> shift_y; // (x + shift_x[k], y + shift_y[k]) in frame k
    std::vector<double> psf;     // the spot's Gaussian sigma in each frame
    std::vector<night_event> events;
};

// Why the parameters cannot make a night, or empty.
std::string check_night(const night_params& p);

struct night_result {
    bool ok = false;
    std::string error;
    night_truth truth;
};

// Writes OUT.ser through fs, and its ground truth beside it (see truth_path_for).
night_result write_night(platform::file_system& fs, const std::string& ser_path, const night_params& p);
// The same file as bytes in memory.
std::vector<std::uint8_t> make_night_bytes(const night_params& p, night_truth* truth = nullptr);

// OUT.truth.json for OUT.ser (or for any other name: the name with ".truth.json" added).
std::string truth_path_for(const std::string& ser_path);

} // namespace serflash::synth
