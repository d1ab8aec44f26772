#include "synth/synth.h"

#include "ser/ser_reader.h"
#include "ser/ser_writer.h"
#include "synth/file_parts.h"
#include "synth/random.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <span>

namespace serflash::synth {
namespace {

struct scene {
    std::vector<float> level;  // noise-free sky, regions and hot pixels
    std::vector<float> spread; // noise standard deviation per pixel
    std::vector<point> star_centres;
};

bool in_bright_region(const params& p, double x, double y) {
    if (!p.bright_region) return false;
    const double cx = 1.45 * p.width;
    const double cy = 0.5 * p.height;
    const double r = 0.6 * p.width;
    return std::hypot(x - cx, y - cy) < r + 3.0;
}

bool in_dark_region(const params& p, double x, double y) {
    return p.dark_region && x < 0.22 * p.width && y > 0.72 * p.height;
}

double sky_level(const params& p, double x, double y) {
    const double fx = x / p.width - 0.5;
    const double fy = y / p.height - 0.5;
    double v = p.background + p.gradient * (0.7 * fx + 0.3 * fy);
    if (p.bright_region) {
        const double d = std::hypot(x - 1.45 * p.width, y - 0.5 * p.height);
        const double edge = std::clamp((0.6 * p.width - d) / 3.0 + 0.5, 0.0, 1.0); // soft limb
        const double texture = 1.0 + 0.01 * std::sin(x / 7.0) * std::cos(y / 9.0);
        v += edge * (p.bright_level * texture - v);
    }
    if (in_dark_region(p, x, y)) v = p.dark_level;
    return v;
}

// A place for a point source, away from the edges, the flashes, the regions and what is there.
point place(const params& p, random_source& rng, const std::vector<point>& taken) {
    const std::int32_t mx = p.width > 40 ? 12 : 0;
    const std::int32_t my = p.height > 40 ? 12 : 0;
    point best;
    for (int attempt = 0; attempt < 60; ++attempt) {
        const point c{mx + rng.below(p.width - 2 * mx), my + rng.below(p.height - 2 * my)};
        best = c;
        const auto near = [&](point o) { return std::abs(o.x - c.x) < 9 && std::abs(o.y - c.y) < 9; };
        const auto region_near = [&](double dx, double dy) {
            const auto x = static_cast<std::int32_t>(c.x + dx), y = static_cast<std::int32_t>(c.y + dy);
            if (p.scene) return p.scene->region(x, y) != surface_region::sky;
            return in_bright_region(p, x, y) || in_dark_region(p, x, y);
        };
        if (region_near(0, 0) || region_near(9, 0) || region_near(-9, 0) || region_near(0, 9) || region_near(0, -9))
            continue;
        if (std::any_of(taken.begin(), taken.end(), near)) continue;
        if (std::any_of(p.flashes.begin(), p.flashes.end(), [&](const flash_spec& f) { return near({f.x, f.y}); }))
            continue;
        break;
    }
    return best;
}

void add_spot(std::vector<float>& frame, const params& p, double cx, double cy, double peak, double sigma) {
    const std::int32_t radius = static_cast<std::int32_t>(std::ceil(3.5 * sigma)) + 1;
    const auto x0 = static_cast<std::int32_t>(std::floor(cx));
    const auto y0 = static_cast<std::int32_t>(std::floor(cy));
    const double k = -0.5 / (sigma * sigma);
    for (std::int32_t y = std::max(0, y0 - radius); y <= std::min(p.height - 1, y0 + radius); ++y) {
        for (std::int32_t x = std::max(0, x0 - radius); x <= std::min(p.width - 1, x0 + radius); ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            const auto i =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(p.width) + static_cast<std::size_t>(x);
            frame[i] += static_cast<float>(peak * std::exp(k * (dx * dx + dy * dy)));
        }
    }
}

std::int64_t frame_bytes_of(const params& p) {
    return std::int64_t{p.width} * p.height * ser::bytes_per_sample(p.depth) * ser::samples_per_pixel(p.color_id);
}

// Colour weights of the three samples of a pixel, in file order; their mean is 1, so the mean
// the reader takes is the mono scene.
constexpr double colour_weights[3] = {1.08, 1.0, 0.92};

bool generate(const params& p, platform::output_file& out, ground_truth& truth) {
    random_source rng(p.seed);
    const normal_source normal;
    const std::size_t w = static_cast<std::size_t>(p.width);
    const std::size_t n = w * static_cast<std::size_t>(p.height);

    // Where everything sits: drawn first, so the layout of a seed does not depend on the frame count.
    truth = {};
    truth.flashes = p.flashes;
    std::vector<point> taken;
    for (std::int32_t i = 0; i < p.hot_pixels; ++i) taken.push_back(place(p, rng, taken));
    truth.hot_pixels.assign(taken.begin(), taken.end());
    for (std::int32_t i = 0; i < p.stars; ++i) {
        taken.push_back(place(p, rng, taken));
        truth.stars.push_back(taken.back());
    }
    if (p.burst_frame >= 0)
        for (std::int32_t i = 0; i < p.burst_points; ++i)
            truth.burst_points.push_back({rng.below(p.width), rng.below(p.height)});

    std::vector<float> level(n);
    std::vector<float> spread(n);
    for (std::int32_t y = 0; y < p.height; ++y) {
        for (std::int32_t x = 0; x < p.width; ++x) {
            const double v = p.scene ? p.scene->brightness(x, y) : sky_level(p, x, y);
            const std::size_t i = static_cast<std::size_t>(y) * w + static_cast<std::size_t>(x);
            level[i] = static_cast<float>(v);
            spread[i] = static_cast<float>(std::sqrt(p.noise * p.noise + p.shot_noise * std::max(v, 0.0)));
        }
    }
    for (const point& h : truth.hot_pixels) {
        const std::size_t i = static_cast<std::size_t>(h.y) * w + static_cast<std::size_t>(h.x);
        level[i] = static_cast<float>(p.hot_level);
        spread[i] = static_cast<float>(p.noise);
    }

    ser::ser_writer writer(out, file_header(p));
    writer.set_high_byte_first(p.swap_bytes);

    const float top = p.depth == 8 ? 255.0f : 65535.0f;
    const bool colour = ser::samples_per_pixel(p.color_id) == 3;
    const bool bgr = p.color_id == ser::color_bgr;
    std::vector<float> frame(n);
    std::vector<std::uint16_t> samples(n);
    std::vector<std::uint16_t> colour_samples(colour ? 3 * n : 0);
    std::vector<std::uint8_t> bytes;
    for (std::int32_t k = 0; k < p.frames && writer.ok(); ++k) {
        for (std::size_t i = 0; i < n; ++i) frame[i] = level[i] + spread[i] * static_cast<float>(normal.draw(rng));
        for (const point& s : truth.stars) {
            const double cx = s.x + p.star_jitter * normal.draw(rng);
            const double cy = s.y + p.star_jitter * normal.draw(rng);
            const double peak = p.star_peak * (1.0 + p.star_flicker * normal.draw(rng));
            add_spot(frame, p, cx, cy, peak, p.star_sigma);
        }
        for (const flash_spec& f : p.flashes)
            if (k >= f.frame && k - f.frame < f.frames) add_spot(frame, p, f.x, f.y, f.amplitude, p.flash_sigma);
        if (k == p.burst_frame)
            for (const point& b : truth.burst_points)
                add_spot(frame, p, b.x, b.y, p.burst_amplitude * (0.5 + rng.uniform()), p.flash_sigma);
        for (std::size_t i = 0; i < n; ++i)
            samples[i] = static_cast<std::uint16_t>(std::clamp(frame[i] + 0.5f, 0.0f, top));
        if (colour) {
            for (std::size_t i = 0; i < n; ++i) {
                for (std::size_t c = 0; c < 3; ++c) {
                    const double v = static_cast<double>(frame[i]) * colour_weights[bgr ? 2 - c : c];
                    colour_samples[3 * i + c] =
                        static_cast<std::uint16_t>(std::clamp(v + 0.5, 0.0, static_cast<double>(top)));
                }
            }
        }
        const std::span<const std::uint16_t> stored = colour ? colour_samples : samples;

        if (k == p.frames - 1 && p.cut_bytes > 0) {
            const std::vector<std::uint8_t>& whole = writer.encode_frame(stored);
            bytes.assign(whole.begin(), whole.end() - static_cast<std::ptrdiff_t>(p.cut_bytes));
            writer.write_bytes(bytes);
        } else {
            writer.write_frame(stored);
            ++truth.frames_written;
        }
    }
    if (p.write_times) writer.write_bytes(time_stamp_bytes(p));
    if (p.extra_bytes > 0) {
        bytes.resize(static_cast<std::size_t>(p.extra_bytes));
        for (auto& b : bytes) b = static_cast<std::uint8_t>(rng.next() >> 56);
        writer.write_bytes(bytes);
    }
    return writer.close();
}

} // namespace

params default_params(std::int32_t depth) {
    params p;
    p.depth = depth;
    if (depth == 8) {
        p.background = 60.0;
        p.gradient = 10.0;
        p.noise = 3.0;
        p.shot_noise = 0.02;
        p.bright_level = 245.0;
        p.dark_level = 8.0;
        p.star_peak = 60.0;
        p.hot_level = 250.0;
        p.burst_amplitude = 120.0;
    }
    return p;
}

std::string check_params(const params& p) {
    if (p.depth != 8 && p.depth != 16) return "the depth must be 8 or 16 bits";
    if (p.width < 1 || p.height < 1) return "width and height must be at least 1";
    if (std::int64_t{p.width} * p.height > ser::max_samples_per_frame)
        return "a frame may hold at most " + std::to_string(ser::max_samples_per_frame) + " samples";
    if (p.frames < 0) return "the number of frames must not be negative";
    if (p.stars < 0 || p.hot_pixels < 0 || p.burst_points < 0 || p.stars > 100000 || p.hot_pixels > 100000 ||
        p.burst_points > 100000)
        return "the numbers of stars, hot pixels and burst points must lie within 0 to 100000";
    const double levels[] = {p.background, p.gradient,    p.noise,          p.shot_noise,  p.bright_level,
                             p.dark_level, p.star_peak,   p.star_sigma,     p.star_jitter, p.star_flicker,
                             p.hot_level,  p.flash_sigma, p.burst_amplitude};
    if (!std::all_of(std::begin(levels), std::end(levels), [](double v) { return std::isfinite(v); }))
        return "every level must be a finite number";
    if (p.noise < 0 || p.shot_noise < 0 || p.star_jitter < 0 || p.star_flicker < 0)
        return "noise, jitter and flicker must not be negative";
    if (p.star_sigma <= 0 || p.star_sigma > 20 || p.flash_sigma <= 0 || p.flash_sigma > 20)
        return "spot sizes must lie above 0 and at most 20 pixels";
    for (const flash_spec& f : p.flashes) {
        if (f.x < 0 || f.x >= p.width || f.y < 0 || f.y >= p.height)
            return "flash at " + std::to_string(f.x) + "," + std::to_string(f.y) + " lies outside the frame";
        if (f.frame < 0 || f.frame >= p.frames)
            return "flash in frame " + std::to_string(f.frame) + ": the file has frames 0 to " +
                   std::to_string(p.frames - 1);
        if (f.frames < 1) return "a flash lasts at least one frame";
        if (!std::isfinite(f.amplitude)) return "a flash amplitude must be a finite number";
    }
    if (p.burst_frame >= p.frames) return "the burst frame lies beyond the last frame";
    if (p.cut_bytes < 0 || p.extra_bytes < 0) return "cut and extra bytes must not be negative";
    if (p.cut_bytes > 0 && (p.frames < 1 || p.cut_bytes > frame_bytes_of(p)))
        return "at most one whole frame can be cut off";
    if (p.extra_bytes > (std::int64_t{1} << 30)) return "at most 1 GiB of trailing data";
    if (p.write_times) {
        if (!std::isfinite(p.fps) || p.fps <= 0 || p.fps > 1e6)
            return "the frame rate must lie above 0 and at most 1000000 frames per second";
        if (p.start_ticks < 0) return "the start time must not be negative";
        for (const std::int32_t d : p.dropped_frames)
            if (d < 0) return "dropped frame numbers must not be negative";
        // Room for every frame and every dropped one below the two flag bits, with the offset.
        const std::int64_t start = p.start_ticks != 0 ? p.start_ticks : p.datetime_utc;
        const double slots = static_cast<double>(p.frames) + static_cast<double>(p.dropped_frames.size());
        const double offset = p.times_local ? static_cast<double>(p.datetime) - static_cast<double>(p.datetime_utc) : 0;
        const double last = static_cast<double>(start) + offset + slots * 1e7 / p.fps;
        const double first = static_cast<double>(start) + offset;
        if (first < 0 || last >= 0x1.0p62) return "the time stamps would not fit in 62 bits";
    }
    return {};
}

std::vector<std::int64_t> time_stamps(const params& p) {
    std::vector<std::int32_t> dropped = p.dropped_frames;
    std::sort(dropped.begin(), dropped.end());
    dropped.erase(std::unique(dropped.begin(), dropped.end()), dropped.end());
    const std::int64_t start = p.start_ticks != 0 ? p.start_ticks : p.datetime_utc;
    const std::int64_t offset = p.times_local ? p.datetime - p.datetime_utc : 0;
    const std::uint64_t flags = p.time_flags ? std::uint64_t{3} << 62 : 0;
    std::vector<std::int64_t> stamps;
    stamps.reserve(static_cast<std::size_t>(std::max(p.frames, 0)));
    // Frames take the time slots 0, 1, 2, ... in turn, passing over the dropped slot numbers.
    std::int64_t slot = 0;
    auto next_drop = dropped.begin();
    for (std::int32_t k = 0; k < p.frames; ++k, ++slot) {
        while (next_drop != dropped.end() && *next_drop < slot) ++next_drop;
        while (next_drop != dropped.end() && *next_drop == slot) {
            ++slot;
            ++next_drop;
        }
        const std::int64_t ticks = start + offset + std::llround(static_cast<double>(slot) * 1e7 / p.fps);
        stamps.push_back(static_cast<std::int64_t>(static_cast<std::uint64_t>(ticks) | flags));
    }
    return stamps;
}

ser::ser_header file_header(const params& p) {
    ser::ser_header h =
        ser::make_header(p.width, p.height, p.depth, p.header_frame_count < 0 ? p.frames : p.header_frame_count);
    ser::set_text(h.FileID, p.file_id);
    ser::set_text(h.Observer, p.observer);
    ser::set_text(h.Instrument, p.instrument);
    ser::set_text(h.Telescope, p.telescope);
    h.LuID = p.lu_id;
    h.ColorID = p.color_id;
    h.LittleEndian = p.little_endian;
    h.Datetime = p.datetime;
    h.DatetimeUTC = p.datetime_utc;
    return h;
}

std::vector<std::uint8_t> time_stamp_bytes(const params& p) {
    const std::vector<std::int64_t> stamps = time_stamps(p);
    std::vector<std::uint8_t> bytes(8 * stamps.size());
    for (std::size_t k = 0; k < stamps.size(); ++k)
        for (std::size_t b = 0; b < 8; ++b)
            bytes[8 * k + b] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(stamps[k]) >> (8 * b));
    return bytes;
}

std::string write_whole_file(platform::file_system& fs, const std::string& path,
                             const std::function<bool(platform::output_file&)>& write) {
    auto out = fs.open_write(path, platform::write_mode::truncate);
    if (!out) return "cannot create " + path + ": " + out.reason();
    if (!write(*out.value())) {
        const std::string why = out.value()->error();
        return "cannot write " + path + " completely (" + (why.empty() ? "disk full?" : why) + ")";
    }
    return {};
}

result write_ser(platform::file_system& fs, const std::string& path, const params& p) {
    result r;
    r.error = check_params(p);
    if (!r.error.empty()) return r;
    r.error = write_whole_file(fs, path, [&](platform::output_file& out) { return generate(p, out, r.truth); });
    r.ok = r.error.empty();
    return r;
}

std::vector<std::uint8_t> make_ser_bytes(const params& p, ground_truth* truth) {
    std::vector<std::uint8_t> bytes;
    if (!check_params(p).empty()) return bytes;
    memory_output out(bytes);
    ground_truth t;
    generate(p, out, t);
    if (truth != nullptr) *truth = std::move(t);
    return bytes;
}

} // namespace serflash::synth
