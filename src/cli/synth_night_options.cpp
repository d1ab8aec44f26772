#include "cli/synth_night_options.h"

#include "cli/option_checks.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>
#include <vector>

namespace serflash::cli {

struct night_options {
    std::uint64_t night_seed = 0;
    std::uint64_t noise_seed = 0;
    CLI::Option* night = nullptr;
    CLI::Option* noise_only = nullptr;
    synth::night_params typed; // values of the night options, read only where given
    std::vector<double> flash_sigma, star_sigma;
    CLI::Option* flash_sigma_option = nullptr;
    CLI::Option* star_sigma_option = nullptr;
    bool no_limb = false;
    bool no_sunlit = false;
    std::vector<std::pair<CLI::Option*, double synth::night_params::*>> levels;
    std::vector<std::pair<CLI::Option*, std::int32_t synth::night_params::*>> counts;
    std::vector<std::pair<CLI::Option*, double synth::procedural_surface_params::*>> surface_levels;
};

std::shared_ptr<night_options> add_night_options(CLI::App& cmd) {
    auto o = std::make_shared<night_options>();
    const std::string group = "Made-up nights (with OUT.truth.json beside OUT)";
    o->night =
        cmd.add_option("--night", o->night_seed,
                       "Make a night from this seed: image motion, surface texture, limb and sunlit part, stars, "
                       "a satellite, cosmic rays, hot pixels and 4 to 7 flashes of 9 to 20 sigma (480 x 360, 600 "
                       "frames at 30 fps unless given); the options below change any part of it")
            ->group(group);
    o->noise_only = cmd.add_option("--noise-only", o->noise_seed,
                                   "The night of this seed with no events at all: image motion, texture, limb and "
                                   "noise only, for calibrating what noise alone gives")
                        ->group(group)
                        ->excludes(o->night);
    o->night->excludes(o->noise_only);

    synth::night_params& t = o->typed;
    const auto level = [&](const std::string& name, double synth::night_params::*field, const std::string& help) {
        o->levels.emplace_back(cmd.add_option(name, t.*field, help)->group(group), field);
    };
    const auto count = [&](const std::string& name, std::int32_t synth::night_params::*field, const std::string& help) {
        o->counts.emplace_back(cmd.add_option(name, t.*field, help)->check(whole_in(0, 10000))->group(group), field);
    };
    const auto surface_level = [&](const std::string& name, double synth::procedural_surface_params::*field,
                                   const std::string& help) {
        o->surface_levels.emplace_back(cmd.add_option(name, t.procedural.*field, help)->group(group), field);
    };
    count("--flashes", &synth::night_params::flashes, "Flashes at random places on the night side");
    o->flash_sigma_option = cmd.add_option("--flash-sigma", o->flash_sigma,
                                           "LO,HI: significance of the flashes' first frame (default 9,20)")
                                ->expected(2)
                                ->delimiter(',')
                                ->group(group);
    count("--flash-frames", &synth::night_params::flash_frames_max,
          "Longest flash in frames, 1 to 3 (default 3); each frame fades from the one before");
    count("--dark-stars", &synth::night_params::dark_stars,
          "Stars in front of the night side near the limb (default 2); --stars sets those in the sky (default 6)");
    o->star_sigma_option =
        cmd.add_option("--star-sigma", o->star_sigma, "LO,HI: significance of the stars (default 6,80)")
            ->expected(2)
            ->delimiter(',')
            ->group(group);
    level("--scintillation", &synth::night_params::scintillation,
          "Twinkling of the stars, fraction of the peak per frame (default 0.15)");
    count("--satellites", &synth::night_params::satellites,
          "Satellites crossing the frame in 8 to 12 frames (default 1)");
    count("--cosmic-rays", &synth::night_params::cosmic_rays, "Cosmic-ray hits, 1 to 5 px tracks (default 3)");
    level("--hot-flicker", &synth::night_params::hot_flicker,
          "Flicker of the hot pixels, fraction per frame (default 0.15); --hot-pixels sets how many (default 8)");
    cmd.add_option("--camera", t.camera,
                   "Seed of the camera: nights of one camera seed have the same hot pixels (default 1)")
        ->group(group);
    level("--jitter", &synth::night_params::jitter, "Seeing jitter of the whole image, pixels (default 0.3)");
    level("--drift", &synth::night_params::drift, "Slow drift of the image, pixels per frame (default 0.01)");
    level("--wobble", &synth::night_params::wobble, "Periodic tracking error, pixels (default 0.4, period 300 frames)");
    level("--psf", &synth::night_params::psf_sigma,
          "Spot size of stars, flashes and satellites, Gaussian sigma in pixels (default: drawn per night from 0.8 to "
          "1.6)");
    level("--seeing", &synth::night_params::seeing,
          "Variation of the spot size from frame to frame, fraction (default 0.1)");
    level("--full-scale", &synth::night_params::full_scale,
          "Largest sample of the camera (default 4095, 8-bit 255); brighter light is clipped");
    surface_level("--sky", &synth::procedural_surface_params::sky, "Sky level (default 150, 8-bit 9)");
    surface_level("--earthshine", &synth::procedural_surface_params::earthshine,
                  "Mean level of the night side above the sky (default 450, 8-bit 28)");
    surface_level("--texture", &synth::procedural_surface_params::texture,
                  "Contrast of the surface pattern and its craters (default 0.12; 0 for a flat disk)");
    surface_level("--sunlit-level", &synth::procedural_surface_params::sunlit_level,
                  "Level of the sunlit part (default 3200, 8-bit 200)");
    cmd.add_flag("--no-limb", o->no_limb, "No limb: the disk fills the frame")->group(group);
    cmd.add_flag("--no-sunlit", o->no_sunlit, "No sunlit part and no terminator")->group(group);
    return o;
}

bool night_requested(const night_options& o) { return o.night->count() > 0 || o.noise_only->count() > 0; }

namespace {

bool given(CLI::App& cmd, const char* name) { return cmd.get_option(name)->count() > 0; }

} // namespace

std::optional<synth::night_params> night_from_options(const night_options& o, CLI::App& cmd,
                                                      const synth::params& classic) {
    // What a night has no use for, and what it takes instead.
    const std::map<std::string, std::string> unused = {
        {"--background", "--sky and --earthshine"},
        {"--gradient", "--sky and --earthshine"},
        {"--bright-level", "--sunlit-level"},
        {"--dark-level", "--sky"},
        {"--no-bright-region", "--no-sunlit"},
        {"--no-dark-region", "--no-limb"},
        {"--star-peak", "--star-sigma"},
        {"--star-size", "--psf"},
        {"--flash-size", "--psf"},
        {"--hot-level", "--hot-pixels"},
        {"--burst-frame", "--cosmic-rays"},
        {"--burst-points", "--cosmic-rays"},
        {"--burst-amplitude", "--cosmic-rays"},
        {"--cut-bytes", "a plain synth file"},
        {"--extra-bytes", "a plain synth file"},
        {"--color-id", "a plain synth file"},
        {"--seed", "the seed after --night or --noise-only"},
    };
    for (const auto& [name, instead] : unused) {
        if (given(cmd, name.c_str())) {
            std::cerr << "serflash synth: " << name << " is not used in a made-up night; use " << instead << "\n";
            return std::nullopt;
        }
    }
    const bool noise_only = o.noise_only->count() > 0;
    const std::uint64_t seed = noise_only ? o.noise_seed : o.night_seed;
    synth::night_params p =
        noise_only ? synth::noise_only_preset(seed, classic.depth) : synth::night_preset(seed, classic.depth);
    const bool changed =
        std::any_of(o.levels.begin(), o.levels.end(), [](const auto& l) { return l.first->count() > 0; }) ||
        std::any_of(o.counts.begin(), o.counts.end(), [](const auto& c) { return c.first->count() > 0; });
    for (const auto& [opt, field] : o.levels)
        if (opt->count() > 0) p.*field = o.typed.*field;
    for (const auto& [opt, field] : o.counts)
        if (opt->count() > 0) p.*field = o.typed.*field;
    for (const auto& [opt, field] : o.surface_levels)
        if (opt->count() > 0) p.procedural.*field = o.typed.procedural.*field;
    if (o.flash_sigma_option->count() > 0) {
        p.flash_sigma_min = o.flash_sigma[0];
        p.flash_sigma_max = o.flash_sigma[1];
    }
    if (o.star_sigma_option->count() > 0) {
        p.star_sigma_min = o.star_sigma[0];
        p.star_sigma_max = o.star_sigma[1];
    }
    if (given(cmd, "--camera")) p.camera = o.typed.camera;
    if (o.no_limb) p.procedural.limb = false;
    if (o.no_sunlit) p.procedural.sunlit = false;

    // The options a night shares with a plain synth file.
    synth::params& f = p.file;
    if (given(cmd, "--width")) f.width = classic.width;
    if (given(cmd, "--height")) f.height = classic.height;
    if (given(cmd, "--frames")) f.frames = classic.frames;
    if (given(cmd, "--stars")) p.sky_stars = classic.stars;
    if (given(cmd, "--hot-pixels")) p.hot_pixels = classic.hot_pixels;
    if (given(cmd, "--noise")) p.read_noise = classic.noise;
    if (given(cmd, "--shot-noise")) p.shot_noise = classic.shot_noise;
    if (given(cmd, "--star-flicker")) p.scintillation = classic.star_flicker;
    if (given(cmd, "--star-jitter")) p.star_wander = classic.star_jitter;
    if (given(cmd, "--fps")) f.fps = classic.fps;
    p.flashes_at = classic.flashes;
    f.header_frame_count = classic.header_frame_count;
    f.write_times = classic.write_times;
    f.start_ticks = classic.start_ticks;
    f.dropped_frames = classic.dropped_frames;
    f.times_local = classic.times_local;
    f.time_flags = classic.time_flags;
    f.swap_bytes = classic.swap_bytes;
    if (given(cmd, "--file-id")) f.file_id = classic.file_id;
    f.observer = classic.observer;
    f.instrument = classic.instrument;
    f.telescope = classic.telescope;
    f.datetime = classic.datetime;
    f.datetime_utc = classic.datetime_utc;
    if (changed || !p.flashes_at.empty() || given(cmd, "--stars") || given(cmd, "--hot-pixels")) p.preset += "+changes";
    if (const std::string why = synth::check_night(p); !why.empty()) {
        std::cerr << "serflash synth: " << why << "\n";
        return std::nullopt;
    }
    return p;
}

void print_night(const std::string& ser_path, const synth::night_truth& t) {
    const synth::params& f = t.settings.file;
    std::cout << "wrote " << ser_path << ": " << f.width << " x " << f.height << " samples, " << f.depth << " bits, "
              << t.frames_written << " frames (" << t.settings.preset << ", seed " << f.seed << ")\n";
    std::map<std::string, int> kinds;
    for (const synth::night_event& e : t.events) ++kinds[synth::event_kind_name(e.kind)];
    std::cout << "truth: " << synth::truth_path_for(ser_path) << ": " << t.events.size() << " events";
    const char* sep = " (";
    for (const auto& [kind, n] : kinds) {
        std::cout << sep << n << " " << kind;
        sep = ", ";
    }
    std::cout << (kinds.empty() ? "" : ")") << "\n";
    for (const synth::night_event& e : t.events) {
        if (e.kind != synth::event_kind::flash || e.frames.empty()) continue;
        const synth::event_frame& first = e.frames.front();
        std::cout << "flash: x " << std::lround(first.x) << ", y " << std::lround(first.y) << ", frames "
                  << e.first_frame << " to " << e.last_frame << ", " << std::round(first.significance * 10) / 10
                  << " sigma\n";
    }
}

} // namespace serflash::cli
