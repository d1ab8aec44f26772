#include "cli/commands.h"
#include "cli/synth_night_options.h"
#include "cli/synth_brightness.h"
#include "cli/synth_moon.h"
#include "ser/frame_times.h"
#include "synth/synth.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <optional>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

namespace serflash::cli {
namespace {

// "x,y,frame[,amplitude[,frames]]"; amplitude_default fills a missing amplitude.
bool parse_flash(const std::string& text, double amplitude_default, synth::flash_spec& f) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (std::size_t comma; (comma = text.find(',', start)) != std::string::npos; start = comma + 1)
        parts.push_back(text.substr(start, comma - start));
    parts.push_back(text.substr(start));
    if (parts.size() < 3 || parts.size() > 5) return false;
    const auto whole = [](const std::string& s, std::int32_t& v) {
        const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
        return ec == std::errc{} && end == s.data() + s.size() && !s.empty();
    };
    if (!whole(parts[0], f.x) || !whole(parts[1], f.y) || !whole(parts[2], f.frame)) return false;
    f.amplitude = amplitude_default;
    f.frames = 1;
    if (parts.size() >= 4) {
        try {
            std::size_t used = 0;
            f.amplitude = std::stod(parts[3], &used);
            if (used != parts[3].size()) return false;
        } catch (const std::exception&) {
            return false;
        }
    }
    return parts.size() < 5 || whole(parts[4], f.frames);
}

// "YYYY-MM-DDTHH:MM:SS[.fff][Z]" (a space may stand for the T), read as UTC.
std::optional<std::int64_t> parse_utc(const std::string& text) {
    int year = 0, month = 0, day = 0, hour = 0, minute = 0;
    double second = 0;
    char sep = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%lf%n", &year, &month, &day, &sep, &hour, &minute, &second,
                    &used) != 7)
        return std::nullopt;
    const std::string rest = text.substr(static_cast<std::size_t>(used));
    if ((sep != 'T' && sep != ' ') || (!rest.empty() && rest != "Z")) return std::nullopt;
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 ||
        !(second >= 0 && second < 61))
        return std::nullopt;
    return ser::ticks_of(year, month, day, hour, minute, second);
}

// "N[,N...]" of frame numbers.
bool parse_frame_list(const std::string& text, std::vector<std::int32_t>& out) {
    std::size_t start = 0;
    while (start <= text.size()) {
        const std::size_t comma = std::min(text.find(',', start), text.size());
        std::int32_t v = 0;
        const char* first = text.data() + start;
        const char* last = text.data() + comma;
        const auto [end, ec] = std::from_chars(first, last, v);
        if (ec != std::errc{} || end != last || first == last) return false;
        out.push_back(v);
        start = comma + 1;
    }
    return true;
}

struct synth_options {
    std::string out;
    synth::params given; // values typed; level options left out take the depth's defaults
    std::vector<std::string> flashes;
    std::string start;
    std::vector<std::string> drops;
    bool no_bright = false;
    bool no_dark = false;
    std::vector<std::pair<CLI::Option*, double synth::params::*>> levels;
    std::vector<CLI::Option*> time_options; // any of them given asks for time stamps
    synth::params checked;                  // what is written: the typed values over the defaults
    synth_moon_cli moon;
    std::ostringstream moon_text; // what the drawn Moon is, printed with the file
    std::shared_ptr<night_options> night;
    std::optional<synth::night_params> night_checked; // set when a night is asked for
    synth_brightness brightness;
};

void print_truth(const synth::params& p, const synth::ground_truth& t) {
    std::cout << "frames written: " << t.frames_written << " whole frames";
    if (p.cut_bytes > 0) std::cout << " and one cut short by " << p.cut_bytes << " bytes";
    std::cout << "\n";
    if (p.write_times) {
        const std::vector<std::int64_t> stamps = synth::time_stamps(p);
        if (!stamps.empty()) {
            constexpr std::int64_t time_bits = (std::int64_t{1} << 62) - 1;
            std::cout << "time stamps: " << stamps.size() << (p.times_local ? " in local time" : " in UTC")
                      << ", first " << ser::format_utc(stamps.front() & time_bits) << ", last "
                      << ser::format_utc(stamps.back() & time_bits) << "\n";
        }
    }
    for (const auto& f : t.flashes)
        std::cout << "flash: x " << f.x << ", y " << f.y << ", frame " << f.frame << ", amplitude " << f.amplitude
                  << ", frames " << f.frames << "\n";
    const auto points = [](const char* what, const std::vector<synth::point>& pts) {
        if (pts.empty()) return;
        std::cout << what << ":";
        for (const auto& q : pts) std::cout << " " << q.x << "," << q.y;
        std::cout << "\n";
    };
    points("stars", t.stars);
    points("hot pixels", t.hot_pixels);
    if (p.burst_frame >= 0)
        std::cout << "burst: " << t.burst_points.size() << " bright points in frame " << p.burst_frame << "\n";
}

} // namespace

command_runner add_synth_command(CLI::App& app) {
    auto* cmd = app.add_subcommand("synth",
                                   "Write a made-up SER video with known flashes, for trying out and testing the scan");
    auto o = std::make_shared<synth_options>();
    synth::params& g = o->given;
    cmd->add_option("out", o->out, "SER file to write (replaced if it exists)")->required();

    cmd->add_option("--width", g.width, "Samples per row")->capture_default_str();
    cmd->add_option("--height", g.height, "Rows per frame")->capture_default_str();
    cmd->add_option("--depth", g.depth, "Bits per sample: 8 or 16 (16-bit levels are those of a 12-bit camera)")
        ->capture_default_str();
    cmd->add_option("--frames", g.frames, "Number of frames")->capture_default_str();
    cmd->add_option("--seed", g.seed, "Seed: the same seed and options always give the same file")
        ->capture_default_str();

    const auto level = [&](const std::string& name, double synth::params::*field, const std::string& help) {
        auto* opt = cmd->add_option(name, g.*field, help);
        o->levels.emplace_back(opt, field);
    };
    level("--background", &synth::params::background, "Sky level in counts (default 1200, 8-bit 60)");
    level("--gradient", &synth::params::gradient, "Rise of the sky level across the frame (default 200, 8-bit 10)");
    level("--noise", &synth::params::noise, "Noise of the sky, standard deviation in counts (default 20, 8-bit 3)");
    level("--shot-noise", &synth::params::shot_noise,
          "Photon noise: extra variance per count of signal (default 0.3, 8-bit 0.02)");
    level("--bright-level", &synth::params::bright_level,
          "Level of the bright limb coming in from the right (default 3950, 8-bit 245)");
    level("--dark-level", &synth::params::dark_level,
          "Level of the dark patch in the lower left corner (default 250, 8-bit 8)");
    cmd->add_flag("--no-bright-region", o->no_bright, "Leave out the bright limb");
    cmd->add_flag("--no-dark-region", o->no_dark, "Leave out the dark patch");

    cmd->add_option("--stars", g.stars, "Number of stars (round spots a few pixels wide that twinkle and wander)")
        ->capture_default_str();
    level("--star-peak", &synth::params::star_peak, "Peak of a star above the sky (default 900, 8-bit 60)");
    level("--star-size", &synth::params::star_sigma, "Radius of a star spot in pixels (Gaussian sigma, default 1.2)");
    level("--star-jitter", &synth::params::star_jitter,
          "Wander of the stars from frame to frame in pixels (default 0.25)");
    level("--star-flicker", &synth::params::star_flicker,
          "Twinkling of the stars as a fraction of their peak (default 0.08)");
    cmd->add_option("--hot-pixels", g.hot_pixels, "Number of hot pixels (single pixels that are always bright)")
        ->capture_default_str();
    level("--hot-level", &synth::params::hot_level, "Level of the hot pixels (default 4000, 8-bit 250)");

    cmd->add_option("--flash", o->flashes,
                    "X,Y,FRAME[,AMPLITUDE[,FRAMES]]: an impact flash centred on column X, row Y, starting in "
                    "frame FRAME (frames count from 0), AMPLITUDE counts above the sky at its peak "
                    "(default 600, 8-bit 40) and lasting FRAMES frames (default 1). Repeat for more flashes")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    level("--flash-size", &synth::params::flash_sigma,
          "Radius of a flash spot in pixels (Gaussian sigma, default 0.8: each neighbour gets 46 % of the peak)");
    add_synth_brightness_options(cmd, o->brightness);

    cmd->add_option("--burst-frame", g.burst_frame,
                    "Frame hit by a burst of many bright points all over the image (as a cosmic-ray shower or "
                    "a satellite glint would give); -1 for none")
        ->capture_default_str();
    cmd->add_option("--burst-points", g.burst_points, "Number of bright points in the burst")->capture_default_str();
    level("--burst-amplitude", &synth::params::burst_amplitude,
          "Typical peak of the burst points (default 1500, 8-bit 120)");

    cmd->add_option("--cut-bytes", g.cut_bytes,
                    "Leave this many bytes off the end of the last frame, as when a capture is cut short")
        ->capture_default_str();
    cmd->add_option("--extra-bytes", g.extra_bytes, "Append this many bytes of other data after the last frame")
        ->capture_default_str();
    cmd->add_option("--header-frames", g.header_frame_count,
                    "Frame count written into the header; -1 writes the real number")
        ->capture_default_str();

    cmd->add_flag("--times", g.write_times, "Append one time stamp per frame after the last frame");
    o->time_options = {
        cmd->add_option("--fps", g.fps, "Frame rate of the time stamps (implies --times)")->capture_default_str(),
        cmd->add_option("--start", o->start,
                        "Time stamp of frame 0, UTC, as 2026-12-08T21:14:03.125Z (default: the header's Datetime "
                        "UTC; implies --times)"),
        cmd->add_option("--drop", o->drops,
                        "N[,N...]: time slots skipped in the time stamps, as if the camera lost those frames "
                        "(slots count from 0 like frames; implies --times)")
            ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll),
        cmd->add_flag("--times-local", g.times_local,
                      "Write the time stamps in local time (the header's Datetime minus Datetime UTC ahead; implies "
                      "--times)"),
        cmd->add_flag("--time-flags", g.time_flags,
                      "Set the two top (flag) bits of every time stamp (implies --times)"),
    };
    cmd->add_option("--color-id", g.color_id,
                    "ColorID of the header: 100 (RGB) and 101 (BGR) write three samples per pixel whose mean is "
                    "the scene; other values only label the file")
        ->capture_default_str();
    cmd->add_flag("--swap-bytes", g.swap_bytes, "Store 16-bit samples high byte first");
    add_synth_moon_options(cmd, o->moon);

    cmd->add_option("--file-id", g.file_id, "FileID text of the header (14 bytes at most)")->capture_default_str();
    cmd->add_option("--observer", g.observer, "Observer text (40 bytes at most)")->capture_default_str();
    cmd->add_option("--instrument", g.instrument, "Instrument (camera) text (40 bytes at most)")->capture_default_str();
    cmd->add_option("--telescope", g.telescope, "Telescope text (40 bytes at most)")->capture_default_str();
    cmd->add_option("--datetime", g.datetime, "Start time, local, in 100-nanosecond ticks since the year 1")
        ->capture_default_str();
    cmd->add_option("--datetime-utc", g.datetime_utc, "Start time, UTC, in 100-nanosecond ticks since the year 1")
        ->capture_default_str();

    o->night = add_night_options(*cmd);

    const auto check = [o, cmd] {
        synth::params p = synth::default_params(o->given.depth);
        for (const auto& [opt, field] : o->levels) p.*field = opt->count() > 0 ? o->given.*field : p.*field;
        const synth::params& typed = o->given;
        p.width = typed.width;
        p.height = typed.height;
        p.frames = typed.frames;
        p.seed = typed.seed;
        p.stars = typed.stars;
        p.hot_pixels = typed.hot_pixels;
        p.burst_frame = typed.burst_frame;
        p.burst_points = typed.burst_points;
        p.cut_bytes = typed.cut_bytes;
        p.extra_bytes = typed.extra_bytes;
        p.header_frame_count = typed.header_frame_count;
        p.file_id = typed.file_id;
        p.observer = typed.observer;
        p.instrument = typed.instrument;
        p.telescope = typed.telescope;
        p.datetime = typed.datetime;
        p.datetime_utc = typed.datetime_utc;
        p.write_times = typed.write_times || std::any_of(o->time_options.begin(), o->time_options.end(),
                                                         [](const CLI::Option* opt) { return opt->count() > 0; });
        p.fps = typed.fps;
        p.times_local = typed.times_local;
        p.time_flags = typed.time_flags;
        p.color_id = typed.color_id;
        p.swap_bytes = typed.swap_bytes;
        if (!o->start.empty()) {
            const auto start = parse_utc(o->start);
            if (!start) {
                std::cerr << "serflash synth: --start " << o->start
                          << ": expected a UTC time as 2026-12-08T21:14:03.125Z\n";
                return 2;
            }
            p.start_ticks = *start;
        }
        for (const std::string& text : o->drops) {
            if (!parse_frame_list(text, p.dropped_frames)) {
                std::cerr << "serflash synth: --drop " << text << ": expected frame numbers as 5 or 5,9,12\n";
                return 2;
            }
        }
        p.bright_region = !o->no_bright;
        p.dark_region = !o->no_dark;
        const double amplitude_default = p.depth == 8 ? 40.0 : 600.0;
        for (const std::string& text : o->flashes) {
            synth::flash_spec f;
            if (!parse_flash(text, amplitude_default, f)) {
                std::cerr << "serflash synth: --flash " << text
                          << ": expected X,Y,FRAME[,AMPLITUDE[,FRAMES]], for example 320,240,15,800\n";
                return 2;
            }
            p.flashes.push_back(f);
        }
        if (const std::string bad = apply_synth_brightness(o->brightness, p); !bad.empty()) {
            std::cerr << "serflash synth: " << bad << "\n";
            return 2;
        }
        o->moon_text.str("");
        if (!apply_synth_moon(o->moon, p, o->moon_text, std::cerr)) return 2;
        o->checked = p;
        if (night_requested(*o->night)) {
            o->night_checked = night_from_options(*o->night, *cmd, p);
            if (!o->night_checked) return 2;
            o->night_checked->surface_override = p.scene; // the Moon, when drawn
        }
        return 0;
    };
    return {check, [o] {
                if (o->night_checked) {
                    const synth::night_result r =
                        synth::write_night(platform::native_file_system(), o->out, *o->night_checked);
                    if (!r.ok) {
                        std::cerr << "serflash synth: " << r.error << "\n";
                        return 1;
                    }
                    std::cout << o->moon_text.str();
                    print_night(o->out, r.truth);
                    return 0;
                }
                const synth::params& p = o->checked;
                const synth::result r = synth::write_ser(platform::native_file_system(), o->out, p);
                if (!r.ok) {
                    std::cerr << "serflash synth: " << r.error << "\n";
                    return 1;
                }
                std::cout << "wrote " << o->out << ": " << p.width << " x " << p.height << " samples, " << p.depth
                          << " bits\n";
                std::cout << o->moon_text.str();
                print_truth(p, r.truth);
                return 0;
            }};
}

} // namespace serflash::cli
