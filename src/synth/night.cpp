#include "synth/night.h"

#include "ser/ser_writer.h"
#include "synth/file_parts.h"
#include "synth/random.h"
#include "synth/truth_json.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace serflash::synth {

const char* event_kind_name(event_kind k) {
    switch (k) {
        case event_kind::flash:
            return "flash";
        case event_kind::star:
            return "star";
        case event_kind::satellite:
            return "satellite";
        case event_kind::cosmic_ray:
            return "cosmic_ray";
        case event_kind::hot_pixel:
            return "hot_pixel";
    }
    return "flash";
}

std::optional<event_kind> event_kind_from_name(const std::string& name) {
    for (event_kind k :
         {event_kind::flash, event_kind::star, event_kind::satellite, event_kind::cosmic_ray, event_kind::hot_pixel})
        if (name == event_kind_name(k)) return k;
    return std::nullopt;
}

std::string truth_path_for(const std::string& ser_path) {
    const std::string ext = ".ser";
    std::string base = ser_path;
    if (base.size() > ext.size()) {
        std::string tail = base.substr(base.size() - ext.size());
        std::transform(tail.begin(), tail.end(), tail.begin(), [](unsigned char c) { return std::tolower(c); });
        if (tail == ext) base.resize(base.size() - ext.size());
    }
    return base + ".truth.json";
}

namespace {

// Streams of random numbers of their own for each part of a night, so that turning one nuisance
// off or changing its count moves nothing else.
enum class stream : std::uint64_t {
    motion = 1,
    flashes,
    stars,
    satellites,
    cosmic_rays,
    hot_pixels,
    twinkle,
    noise,
    seeing,
    optics,
};

random_source stream_of(std::uint64_t seed, stream s) {
    std::uint64_t mix = seed ^ (static_cast<std::uint64_t>(s) * 0xA24BAED4963EE407ULL);
    return random_source(splitmix64(mix));
}

night_params preset_base(std::uint64_t seed, std::int32_t depth) {
    night_params p;
    p.file = default_params(depth);
    p.file.width = 480;
    p.file.height = 360;
    p.file.frames = 600;
    p.file.seed = seed;
    p.file.fps = 30.0;
    p.file.write_times = true;
    p.file.file_id = "SERFLASH-NIGHT";
    // Set-ups differ in focal length and nights in seeing: the spot is drawn per night, from
    // slightly undersampled to a FWHM of about 4 px.
    random_source optics = stream_of(seed, stream::optics);
    p.psf_sigma = 0.8 + 0.8 * optics.uniform();
    p.procedural.seed = seed;
    if (depth == 8) {
        p.read_noise = 1.6;
        p.shot_noise = 0.015;
        p.full_scale = 255.0;
        p.procedural.sky = 9.0;
        p.procedural.earthshine = 28.0;
        p.procedural.sunlit_level = 200.0;
        p.procedural.glare = 7.0;
    }
    return p;
}

// Catmull-Rom weights for the four samples around a place t (0 to 1) past the second one.
std::array<float, 4> cubic_weights(double t) {
    const double t2 = t * t;
    const double t3 = t2 * t;
    return {static_cast<float>(0.5 * (-t + 2.0 * t2 - t3)), static_cast<float>(0.5 * (2.0 - 5.0 * t2 + 3.0 * t3)),
            static_cast<float>(0.5 * (t + 4.0 * t2 - 3.0 * t3)), static_cast<float>(0.5 * (t3 - t2))};
}

// The surface sampled once on a grid a margin larger than the frame; each frame is that grid
// shifted by the image motion, by separable cubic interpolation.
class scene_grid {
public:
    scene_grid(const surface& s, std::int32_t width, std::int32_t height, std::int32_t margin)
        : w_(width),
          h_(height),
          m_(margin),
          gw_(width + 2 * margin),
          gh_(height + 2 * margin),
          grid_(static_cast<std::size_t>(gw_) * static_cast<std::size_t>(gh_)) {
        for (std::int32_t y = 0; y < gh_; ++y)
            for (std::int32_t x = 0; x < gw_; ++x)
                grid_[index(x, y)] = static_cast<float>(s.brightness(x - m_, y - m_));
    }

    // The frame's noise-free levels with the scene moved by (sx, sy).
    void render(double sx, double sy, std::vector<float>& out, std::vector<float>& rows) const {
        const split hx = split_of(sx);
        const split hy = split_of(sy);
        const std::size_t w = static_cast<std::size_t>(w_);
        rows.resize(w * static_cast<std::size_t>(h_ + 3));
        // Horizontal pass over the grid rows the frame needs.
        for (std::int32_t r = 0; r < h_ + 3; ++r) {
            const float* src = &grid_[index(hx.first + m_ - 1, r + hy.first + m_ - 1)];
            float* dst = &rows[static_cast<std::size_t>(r) * w];
            for (std::size_t x = 0; x < w; ++x)
                dst[x] = hx.w[0] * src[x] + hx.w[1] * src[x + 1] + hx.w[2] * src[x + 2] + hx.w[3] * src[x + 3];
        }
        out.resize(w * static_cast<std::size_t>(h_));
        for (std::int32_t y = 0; y < h_; ++y) {
            const float* r0 = &rows[static_cast<std::size_t>(y) * w];
            float* dst = &out[static_cast<std::size_t>(y) * w];
            for (std::size_t x = 0; x < w; ++x)
                dst[x] = hy.w[0] * r0[x] + hy.w[1] * r0[x + w] + hy.w[2] * r0[x + 2 * w] + hy.w[3] * r0[x + 3 * w];
        }
    }

    // The level render gives at one frame pixel, for the expected noise of an event.
    double level_at(std::int32_t x, std::int32_t y, double sx, double sy) const {
        const split hx = split_of(sx);
        const split hy = split_of(sy);
        float sum = 0;
        for (std::int32_t j = 0; j < 4; ++j) {
            const float* src = &grid_[index(x + hx.first + m_ - 1, y + j + hy.first + m_ - 1)];
            sum += hy.w[static_cast<std::size_t>(j)] *
                   (hx.w[0] * src[0] + hx.w[1] * src[1] + hx.w[2] * src[2] + hx.w[3] * src[3]);
        }
        return sum;
    }

private:
    struct split {
        std::int32_t first = 0; // offset of the sample before the place
        std::array<float, 4> w{};
    };
    // Frame pixel x shows the scene at x - s = x + first + t.
    static split split_of(double s) {
        const double a = std::floor(-s);
        return {static_cast<std::int32_t>(a), cubic_weights(-s - a)};
    }
    std::size_t index(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(gw_) + static_cast<std::size_t>(x);
    }
    std::int32_t w_, h_, m_, gw_, gh_;
    std::vector<float> grid_;
};

struct motion {
    std::vector<double> x, y;
    std::vector<double> psf; // spot size of each frame: the seeing blurs some frames more than others
    double largest = 0;      // largest shift in either direction
};

motion draw_motion(const night_params& p, const normal_source& normal) {
    random_source rng = stream_of(p.file.seed, stream::motion);
    const auto n = static_cast<std::size_t>(std::max(p.file.frames, 0));
    motion m;
    m.x.resize(n);
    m.y.resize(n);
    const double drift_angle = 2.0 * std::numbers::pi * rng.uniform();
    const double wobble_angle = 2.0 * std::numbers::pi * rng.uniform();
    const double wobble_phase = 2.0 * std::numbers::pi * rng.uniform();
    const double rho = std::clamp(p.jitter_correlation, 0.0, 0.99);
    const double innovation = p.jitter * std::sqrt(1.0 - rho * rho);
    double jx = p.jitter * normal.draw(rng);
    double jy = p.jitter * normal.draw(rng);
    for (std::size_t k = 0; k < n; ++k) {
        if (k > 0) {
            jx = rho * jx + innovation * normal.draw(rng);
            jy = rho * jy + innovation * normal.draw(rng);
        }
        const double t = static_cast<double>(k);
        const double wob =
            p.wobble * std::sin(2.0 * std::numbers::pi * t / std::max(p.wobble_period, 1.0) + wobble_phase);
        m.x[k] = jx + p.drift * t * std::cos(drift_angle) + wob * std::cos(wobble_angle);
        m.y[k] = jy + p.drift * t * std::sin(drift_angle) + wob * std::sin(wobble_angle);
        m.largest = std::max({m.largest, std::abs(m.x[k]), std::abs(m.y[k])});
    }
    random_source seeing = stream_of(p.file.seed, stream::seeing);
    m.psf.resize(n);
    for (double& s : m.psf) s = p.psf_sigma * std::max(0.5, 1.0 + p.seeing * normal.draw(seeing));
    return m;
}

// Adds a Gaussian spot; returns the largest rise and where it fell.
struct spot_peak {
    double rise = 0;
    std::int32_t x = 0;
    std::int32_t y = 0;
};

spot_peak add_gaussian(std::vector<float>& level, std::int32_t width, std::int32_t height, double cx, double cy,
                       double peak, double sigma) {
    const std::int32_t radius = static_cast<std::int32_t>(std::ceil(3.5 * sigma)) + 1;
    const auto x0 = static_cast<std::int32_t>(std::floor(cx));
    const auto y0 = static_cast<std::int32_t>(std::floor(cy));
    const double k = -0.5 / (sigma * sigma);
    spot_peak best;
    for (std::int32_t y = std::max(0, y0 - radius); y <= std::min(height - 1, y0 + radius); ++y) {
        for (std::int32_t x = std::max(0, x0 - radius); x <= std::min(width - 1, x0 + radius); ++x) {
            const double dx = x - cx;
            const double dy = y - cy;
            const double v = peak * std::exp(k * (dx * dx + dy * dy));
            level[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] +=
                static_cast<float>(v);
            if (v > best.rise) best = {v, x, y};
        }
    }
    return best;
}

// The fraction of a spot's peak that its brightest pixel gets.
double peak_fraction(double cx, double cy, double sigma) {
    const double dx = cx - std::round(cx);
    const double dy = cy - std::round(cy);
    return std::exp(-0.5 * (dx * dx + dy * dy) / (sigma * sigma));
}

class night_maker {
public:
    explicit night_maker(const night_params& p)
        : p_(p),
          w_(p.file.width),
          h_(p.file.height),
          frames_(std::max(p.file.frames, 0)),
          motion_(draw_motion(p, normal_)) {
        if (p.surface_override) {
            surface_ = p.surface_override;
        } else {
            procedural_surface_params sp = p.procedural;
            sp.width = w_;
            sp.height = h_;
            surface_ = make_procedural_surface(sp);
        }
        const auto margin = static_cast<std::int32_t>(std::ceil(motion_.largest)) + 4;
        grid_ = std::make_unique<scene_grid>(*surface_, w_, h_, margin);
    }

    night_truth draw_events() {
        night_truth t;
        t.settings = p_;
        t.surface_description = surface_->describe();
        t.shift_x = motion_.x;
        t.shift_y = motion_.y;
        t.psf = motion_.psf;
        if (frames_ == 0) return t;
        draw_stars(t);
        draw_flashes(t);
        draw_satellites(t);
        draw_cosmic_rays(t);
        draw_hot_pixels(t);
        for (std::size_t i = 0; i < t.events.size(); ++i) t.events[i].id = static_cast<std::int32_t>(i) + 1;
        return t;
    }

    bool write(platform::output_file& out, night_truth& t) {
        ser::ser_writer writer(out, file_header(p_.file));
        writer.set_high_byte_first(p_.file.swap_bytes);
        const std::size_t n = static_cast<std::size_t>(w_) * static_cast<std::size_t>(h_);
        std::vector<float> level(n);
        std::vector<float> rows;
        std::vector<std::uint16_t> samples(n);
        random_source twinkle = stream_of(p_.file.seed, stream::twinkle);
        random_source noise = stream_of(p_.file.seed, stream::noise);
        const auto read2 = static_cast<float>(p_.read_noise * p_.read_noise);
        const auto shot = static_cast<float>(p_.shot_noise);
        const auto top = static_cast<float>(std::min(p_.full_scale, p_.file.depth == 8 ? 255.0 : 65535.0));
        for (std::int32_t k = 0; k < frames_ && writer.ok(); ++k) {
            const auto kk = static_cast<std::size_t>(k);
            grid_->render(motion_.x[kk], motion_.y[kk], level, rows);
            for (const night_event& e : t.events) add_scene_event(e, k, level, twinkle);
            for (std::size_t i = 0; i < n; ++i) {
                const float v = level[i];
                level[i] = v + std::sqrt(read2 + shot * std::max(v, 0.0f)) * static_cast<float>(normal_.draw(noise));
            }
            for (const night_event& e : t.events)
                if (e.kind == event_kind::cosmic_ray && e.first_frame == k)
                    for (const event_frame& f : e.frames)
                        level[pixel(f.peak_x, f.peak_y)] += static_cast<float>(f.peak_rise);
            for (std::size_t i = 0; i < n; ++i)
                samples[i] = static_cast<std::uint16_t>(std::clamp(level[i] + 0.5f, 0.0f, top));
            writer.write_frame(samples);
            ++t.frames_written;
        }
        if (p_.file.write_times) writer.write_bytes(time_stamp_bytes(p_.file));
        return writer.close();
    }

private:
    std::size_t pixel(std::int32_t x, std::int32_t y) const {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(w_) + static_cast<std::size_t>(x);
    }

    // The standard deviation a scan's packet statistics would see at a frame pixel, noise-free
    // events aside: read and shot noise at its level, rounding, and the swing of the level under
    // the image motion over the packet holding the frame.
    double expected_noise(std::int32_t x, std::int32_t y, std::int32_t frame) const {
        const auto [first, last] = packet_of(frame);
        double sum = 0;
        double sum2 = 0;
        for (std::int32_t k = first; k < last; ++k) {
            const double v =
                grid_->level_at(x, y, motion_.x[static_cast<std::size_t>(k)], motion_.y[static_cast<std::size_t>(k)]);
            sum += v;
            sum2 += v * v;
        }
        const double count = last - first;
        const double mean = sum / count;
        const double swing = std::max(0.0, sum2 / count - mean * mean);
        return std::sqrt(p_.read_noise * p_.read_noise + p_.shot_noise * std::max(mean, 0.0) + swing + 1.0 / 12.0);
    }

    // The frames [first, last) of the packet that holds a frame.
    std::pair<std::int32_t, std::int32_t> packet_of(std::int32_t frame) const {
        const std::int32_t packet = std::max(p_.packet, 1);
        const std::int32_t first = frame / packet * packet;
        return {first, std::min(frames_, first + packet)};
    }

    // What an event adds to a pixel in one of its frames (a cosmic ray: in its pixel only).
    double contribution(const night_event& e, const event_frame& f, std::int32_t x, std::int32_t y) const {
        if (e.kind == event_kind::cosmic_ray) return f.peak_x == x && f.peak_y == y ? f.peak_rise : 0.0;
        const double dx = x - f.x;
        const double dy = y - f.y;
        const double psf = psf_of(f.frame);
        return f.amplitude * std::exp(-0.5 * (dx * dx + dy * dy) / (psf * psf));
    }

    // A scan's packet statistics take the event's own light into the mean and the spread of its
    // pixels, so it stands out less against them than against the noise alone.
    void add_packet_significance(night_event& e) const {
        for (event_frame& f : e.frames) {
            const auto [first, last] = packet_of(f.frame);
            double sum = 0;
            double sum2 = 0;
            for (const event_frame& g : e.frames) {
                if (g.frame < first || g.frame >= last) continue;
                const double c = contribution(e, g, f.peak_x, f.peak_y);
                sum += c;
                sum2 += c * c;
            }
            const double n = last - first;
            const double mean = sum / n;
            const double spread = std::max(0.0, sum2 / n - mean * mean);
            f.packet_significance = (f.peak_rise - mean) / std::sqrt(f.noise * f.noise + spread);
        }
        if (!e.frames.empty()) e.packet_significance = e.frames.front().packet_significance;
    }

    double psf_of(std::int32_t k) const { return motion_.psf[static_cast<std::size_t>(k)]; }

    // Where a scene place is seen in a frame.
    double seen_x(double x, std::int32_t k) const { return x + motion_.x[static_cast<std::size_t>(k)]; }
    double seen_y(double y, std::int32_t k) const { return y + motion_.y[static_cast<std::size_t>(k)]; }

    // The room for point sources: far enough inside the frame that the image motion keeps them in
    // the examined area.
    double border() const { return 14.0 + std::ceil(motion_.largest); }

    bool far_from(const night_truth& t, double x, double y, double reach) const {
        return std::none_of(t.events.begin(), t.events.end(), [&](const night_event& e) {
            if (e.kind == event_kind::cosmic_ray || e.kind == event_kind::satellite) return false;
            return std::abs(e.x - x) < reach && std::abs(e.y - y) < reach;
        });
    }

    // A scene place that `fits`, or none after many tries.
    template <class Fits>
    std::optional<std::pair<double, double>> find_place(random_source& rng, Fits fits) const {
        const double b = border();
        if (w_ <= 2 * b || h_ <= 2 * b) return std::nullopt;
        for (int attempt = 0; attempt < 400; ++attempt) {
            const double x = std::round(b + rng.uniform() * (w_ - 2 * b)) + rng.uniform() - 0.5;
            const double y = std::round(b + rng.uniform() * (h_ - 2 * b)) + rng.uniform() - 0.5;
            if (fits(x, y)) return std::pair{x, y};
        }
        return std::nullopt;
    }

    static double between(random_source& rng, double lo, double hi) { return lo + rng.uniform() * (hi - lo); }

    void draw_stars(night_truth& t) const {
        random_source rng = stream_of(p_.file.seed, stream::stars);
        for (std::int32_t i = 0; i < p_.sky_stars + p_.dark_stars; ++i) {
            const bool in_sky = i < p_.sky_stars;
            const auto place = find_place(rng, [&](double x, double y) {
                const double d = surface_->limb_distance(x, y);
                const bool ok =
                    in_sky ? d < -6.0 : (d > 4.0 && d < 60.0 && surface_->region(x, y) == surface_region::night);
                return ok && far_from(t, x, y, 12.0);
            });
            const double sig = between(rng, p_.star_sigma_min, p_.star_sigma_max);
            if (!place) continue;
            night_event e;
            e.kind = event_kind::star;
            e.x = place->first;
            e.y = place->second;
            e.first_frame = 0;
            e.last_frame = frames_ - 1;
            e.region = surface_->region(e.x, e.y);
            const auto px = static_cast<std::int32_t>(std::lround(seen_x(e.x, 0)));
            const auto py = static_cast<std::int32_t>(std::lround(seen_y(e.y, 0)));
            e.amplitude = sig * expected_noise(px, py, 0);
            e.significance = sig;
            e.flicker = p_.scintillation;
            t.events.push_back(e);
        }
    }

    void draw_flashes(night_truth& t) const {
        random_source rng = stream_of(p_.file.seed, stream::flashes);
        const std::int32_t longest = std::clamp(p_.flash_frames_max, 1, 3);
        for (std::int32_t i = 0; i < p_.flashes; ++i) {
            const auto place = find_place(rng, [&](double x, double y) {
                return surface_->region(x, y) == surface_region::night && surface_->limb_distance(x, y) > 10.0 &&
                       far_from(t, x, y, 14.0);
            });
            const std::int32_t length = 1 + rng.below(longest);
            const std::int32_t first = rng.below(std::max(frames_ - length + 1, 1));
            const double sig = between(rng, p_.flash_sigma_min, p_.flash_sigma_max);
            const double decay = between(rng, 0.3, 0.7);
            if (!place) continue;
            add_flash(t, place->first, place->second, first, length, decay, sig, std::nullopt);
        }
        for (const flash_spec& f : p_.flashes_at)
            add_flash(t, f.x, f.y, f.frame, std::max(f.frames, 1), 0.5, 0.0, f.amplitude);
    }

    // A flash of significance sig in its first frame, or of the given amplitude.
    void add_flash(night_truth& t, double x, double y, std::int32_t first, std::int32_t length, double decay,
                   double sig, std::optional<double> amplitude) const {
        night_event e;
        e.kind = event_kind::flash;
        e.x = x;
        e.y = y;
        e.first_frame = first;
        e.last_frame = std::min(first + length, frames_) - 1;
        e.region = surface_->region(x, y);
        e.decay = decay;
        const double cx = seen_x(x, first);
        const double cy = seen_y(y, first);
        if (!amplitude) {
            const double noise = expected_noise(static_cast<std::int32_t>(std::lround(cx)),
                                                static_cast<std::int32_t>(std::lround(cy)), first);
            amplitude = sig * noise / peak_fraction(cx, cy, psf_of(first));
        }
        e.amplitude = *amplitude;
        double a = e.amplitude;
        for (std::int32_t k = e.first_frame; k <= e.last_frame; ++k, a *= decay)
            e.frames.push_back(spot_frame(k, seen_x(x, k), seen_y(y, k), a));
        e.significance = e.frames.front().significance;
        add_packet_significance(e);
        t.events.push_back(e);
    }

    event_frame spot_frame(std::int32_t k, double cx, double cy, double amplitude) const {
        event_frame f;
        f.frame = k;
        f.x = cx;
        f.y = cy;
        f.amplitude = amplitude;
        f.peak_x = std::clamp(static_cast<std::int32_t>(std::lround(cx)), 0, w_ - 1);
        f.peak_y = std::clamp(static_cast<std::int32_t>(std::lround(cy)), 0, h_ - 1);
        f.peak_rise = amplitude * peak_fraction(cx, cy, psf_of(k));
        f.noise = expected_noise(f.peak_x, f.peak_y, k);
        f.significance = f.peak_rise / f.noise;
        return f;
    }

    void draw_satellites(night_truth& t) const {
        random_source rng = stream_of(p_.file.seed, stream::satellites);
        for (std::int32_t i = 0; i < p_.satellites; ++i) {
            const std::int32_t length = 8 + rng.below(5);
            const double speed = between(rng, 3.0, 12.0);
            const double angle = 2.0 * std::numbers::pi * rng.uniform();
            const double vx = speed * std::cos(angle);
            const double vy = speed * std::sin(angle);
            const std::int32_t first = rng.below(std::max(frames_ - length + 1, 1));
            const double sig = between(rng, p_.satellite_sigma_min, p_.satellite_sigma_max);
            const double b = border();
            // The whole track inside the frame.
            const double dx = vx * (length - 1);
            const double dy = vy * (length - 1);
            const double x_lo = b + std::max(0.0, -dx);
            const double x_hi = w_ - b - std::max(0.0, dx);
            const double y_lo = b + std::max(0.0, -dy);
            const double y_hi = h_ - b - std::max(0.0, dy);
            const double x0 = between(rng, x_lo, x_hi);
            const double y0 = between(rng, y_lo, y_hi);
            if (x_hi <= x_lo || y_hi <= y_lo) continue;
            night_event e;
            e.kind = event_kind::satellite;
            e.first_frame = first;
            e.last_frame = std::min(first + length, frames_) - 1;
            e.x = x0;
            e.y = y0;
            e.speed_x = vx;
            e.speed_y = vy;
            e.region = surface_->region(x0, y0);
            const double noise = expected_noise(static_cast<std::int32_t>(std::lround(x0)),
                                                static_cast<std::int32_t>(std::lround(y0)), first);
            e.amplitude = sig * noise;
            for (std::int32_t k = e.first_frame; k <= e.last_frame; ++k) {
                const double step = k - first;
                // A glint varies a little from frame to frame.
                const double a = e.amplitude * (0.9 + 0.2 * rng.uniform());
                e.frames.push_back(spot_frame(k, seen_x(x0 + vx * step, k), seen_y(y0 + vy * step, k), a));
            }
            e.significance = e.frames.front().significance;
            add_packet_significance(e);
            t.events.push_back(e);
        }
    }

    // A straight track of 1 to 5 pixels on the sensor, in one frame, with a little charge in the
    // four neighbours of each pixel it crossed.
    void draw_cosmic_rays(night_truth& t) const {
        random_source rng = stream_of(p_.file.seed, stream::cosmic_rays);
        for (std::int32_t i = 0; i < p_.cosmic_rays; ++i) {
            const std::int32_t frame = rng.below(frames_);
            const double length = rng.below(5); // 0 to 4 px between the ends: 1 to 5 pixels hit
            const double angle = 2.0 * std::numbers::pi * rng.uniform();
            const double sig = between(rng, p_.cosmic_sigma_min, p_.cosmic_sigma_max);
            const double b = 12.0;
            if (w_ <= 2 * b + 5 || h_ <= 2 * b + 5) continue;
            const double x0 = std::floor(between(rng, b, w_ - b - 5));
            const double y0 = std::floor(between(rng, b, h_ - b - 5));
            std::vector<std::pair<std::int32_t, std::int32_t>> hit;
            // One pixel per step along the longer axis, as a line is drawn: at most 5 pixels.
            const auto steps = static_cast<std::int32_t>(
                std::lround(length * std::max(std::abs(std::cos(angle)), std::abs(std::sin(angle)))));
            for (std::int32_t s = 0; s <= steps; ++s) {
                const double f = steps == 0 ? 0.0 : static_cast<double>(s) / steps;
                const std::pair px{static_cast<std::int32_t>(std::lround(x0 + f * length * std::cos(angle))),
                                   static_cast<std::int32_t>(std::lround(y0 + f * length * std::sin(angle)))};
                if (std::find(hit.begin(), hit.end(), px) == hit.end()) hit.push_back(px);
            }
            night_event e;
            e.kind = event_kind::cosmic_ray;
            e.first_frame = e.last_frame = frame;
            e.x = x0;
            e.y = y0;
            e.region = surface_->region(x0 - motion_.x[static_cast<std::size_t>(frame)],
                                        y0 - motion_.y[static_cast<std::size_t>(frame)]);
            const double noise = expected_noise(hit.front().first, hit.front().second, frame);
            e.amplitude = sig * noise;
            std::vector<event_frame> deposits;
            const auto deposit = [&](std::int32_t x, std::int32_t y, double v) {
                if (x < 0 || y < 0 || x >= w_ || y >= h_) return;
                for (event_frame& d : deposits)
                    if (d.peak_x == x && d.peak_y == y) {
                        d.peak_rise += v;
                        return;
                    }
                event_frame d;
                d.frame = frame;
                d.peak_x = x;
                d.peak_y = y;
                d.x = x;
                d.y = y;
                d.peak_rise = v;
                deposits.push_back(d);
            };
            for (std::size_t j = 0; j < hit.size(); ++j) {
                const double v = e.amplitude * (j == 0 ? 1.0 : 0.6 + 0.4 * rng.uniform());
                const auto [x, y] = hit[j];
                deposit(x, y, v);
                for (const auto& [nx, ny] : {std::pair{x - 1, y}, {x + 1, y}, {x, y - 1}, {x, y + 1}})
                    if (std::find(hit.begin(), hit.end(), std::pair{nx, ny}) == hit.end()) deposit(nx, ny, 0.06 * v);
            }
            for (event_frame& d : deposits) {
                d.amplitude = d.peak_rise;
                d.noise = expected_noise(d.peak_x, d.peak_y, frame);
                d.significance = d.peak_rise / d.noise;
            }
            e.frames = std::move(deposits);
            e.significance = e.frames.front().significance;
            add_packet_significance(e);
            t.events.push_back(e);
        }
    }

    void draw_hot_pixels(night_truth& t) const {
        // The sensor's: the same camera seed gives the same pixels and excesses in every night.
        random_source rng = stream_of(p_.camera, stream::hot_pixels);
        const double sensor_noise = std::sqrt(p_.read_noise * p_.read_noise + p_.shot_noise * p_.procedural.sky);
        for (std::int32_t i = 0; i < p_.hot_pixels; ++i) {
            const double b = 12.0;
            if (w_ <= 2 * b || h_ <= 2 * b) break;
            const double x = std::floor(between(rng, b, w_ - b));
            const double y = std::floor(between(rng, b, h_ - b));
            // Spread out over the range in a log scale: many warm pixels, a few very hot ones.
            const double lo = std::log(std::max(p_.hot_sigma_min, 0.1));
            const double hi = std::log(std::max(p_.hot_sigma_max, 0.1));
            const double sig = std::exp(between(rng, lo, std::max(lo, hi)));
            night_event e;
            e.kind = event_kind::hot_pixel;
            e.x = x;
            e.y = y;
            e.first_frame = 0;
            e.last_frame = frames_ - 1;
            e.region = surface_->region(x, y);
            const auto ix = static_cast<std::int32_t>(x);
            const auto iy = static_cast<std::int32_t>(y);
            e.amplitude = sig * sensor_noise;
            e.significance = e.amplitude / expected_noise(ix, iy, 0);
            e.flicker = p_.hot_flicker;
            t.events.push_back(e);
        }
    }

    // Stars, flashes, satellites and hot pixels go into the noise-free level; cosmic rays come
    // after the noise.
    void add_scene_event(const night_event& e, std::int32_t k, std::vector<float>& level,
                         random_source& twinkle) const {
        switch (e.kind) {
            case event_kind::star: {
                const double wx = p_.star_wander * normal_.draw(twinkle);
                const double wy = p_.star_wander * normal_.draw(twinkle);
                const double peak = std::max(0.0, e.amplitude * (1.0 + e.flicker * normal_.draw(twinkle)));
                add_gaussian(level, w_, h_, seen_x(e.x, k) + wx, seen_y(e.y, k) + wy, peak, psf_of(k));
                return;
            }
            case event_kind::hot_pixel: {
                const double v = std::max(0.0, e.amplitude * (1.0 + e.flicker * normal_.draw(twinkle)));
                level[pixel(static_cast<std::int32_t>(e.x), static_cast<std::int32_t>(e.y))] += static_cast<float>(v);
                return;
            }
            case event_kind::flash:
            case event_kind::satellite:
                if (k < e.first_frame || k > e.last_frame) return;
                {
                    const event_frame& f = e.frames[static_cast<std::size_t>(k - e.first_frame)];
                    add_gaussian(level, w_, h_, f.x, f.y, f.amplitude, psf_of(k));
                }
                return;
            case event_kind::cosmic_ray:
                return;
        }
    }

    const night_params& p_;
    std::int32_t w_, h_, frames_;
    normal_source normal_;
    motion motion_;
    std::shared_ptr<const surface> surface_;
    std::unique_ptr<scene_grid> grid_;
};

bool generate_night(const night_params& p, platform::output_file& out, night_truth& truth) {
    night_maker maker(p);
    truth = maker.draw_events();
    return maker.write(out, truth);
}

} // namespace

night_params night_preset(std::uint64_t seed, std::int32_t depth) {
    night_params p = preset_base(seed, depth);
    p.preset = "night";
    random_source rng = stream_of(seed, stream::flashes);
    p.flashes = 4 + rng.below(4);
    p.sky_stars = 6;
    p.dark_stars = 2;
    p.satellites = 1;
    p.cosmic_rays = 3;
    p.hot_pixels = 8;
    return p;
}

night_params noise_only_preset(std::uint64_t seed, std::int32_t depth) {
    night_params p = preset_base(seed, depth);
    p.preset = "noise-only";
    return p;
}

std::string check_night(const night_params& p) {
    params file = p.file;
    file.flashes.clear();
    file.stars = file.hot_pixels = file.burst_points = 0;
    file.burst_frame = -1;
    file.cut_bytes = file.extra_bytes = 0;
    if (const std::string why = check_params(file); !why.empty()) return why;
    if (p.file.color_id == ser::color_rgb || p.file.color_id == ser::color_bgr)
        return "made-up nights are mono: three samples per pixel are not made";
    if (!std::isfinite(p.seeing) || p.seeing < 0 || p.seeing > 1)
        return "the seeing's variation of the spot size must lie within 0 and 1";
    const double levels[] = {p.read_noise,
                             p.shot_noise,
                             p.full_scale,
                             p.psf_sigma,
                             p.jitter,
                             p.jitter_correlation,
                             p.drift,
                             p.wobble,
                             p.wobble_period,
                             p.flash_sigma_min,
                             p.flash_sigma_max,
                             p.star_sigma_min,
                             p.star_sigma_max,
                             p.scintillation,
                             p.star_wander,
                             p.satellite_sigma_min,
                             p.satellite_sigma_max,
                             p.cosmic_sigma_min,
                             p.cosmic_sigma_max,
                             p.hot_sigma_min,
                             p.hot_sigma_max,
                             p.hot_flicker,
                             p.procedural.sky,
                             p.procedural.earthshine,
                             p.procedural.texture,
                             p.procedural.texture_scale,
                             p.procedural.limb_softness,
                             p.procedural.sunlit_level,
                             p.procedural.terminator_width,
                             p.procedural.glare,
                             p.procedural.glare_reach};
    if (!std::all_of(std::begin(levels), std::end(levels), [](double v) { return std::isfinite(v); }))
        return "every level must be a finite number";
    if (p.read_noise < 0 || p.shot_noise < 0 || p.jitter < 0 || p.wobble < 0 || p.scintillation < 0 ||
        p.star_wander < 0 || p.hot_flicker < 0)
        return "noise, motion, twinkling and flicker must not be negative";
    if (p.jitter > 5 || std::abs(p.drift) > 0.5 || p.wobble > 20)
        return "the image motion may take at most 5 px of jitter, 0.5 px per frame of drift and 20 px of wobble";
    if (p.psf_sigma <= 0 || p.psf_sigma > 20) return "the spot size must lie above 0 and at most 20 pixels";
    if (p.full_scale < 1) return "the full scale must be at least 1";
    const std::int32_t counts[] = {p.flashes, p.sky_stars, p.dark_stars, p.satellites, p.cosmic_rays, p.hot_pixels};
    if (!std::all_of(std::begin(counts), std::end(counts), [](std::int32_t c) { return c >= 0 && c <= 10000; }))
        return "the numbers of events must lie within 0 to 10000";
    const std::pair<double, double> ranges[] = {{p.flash_sigma_min, p.flash_sigma_max},
                                                {p.star_sigma_min, p.star_sigma_max},
                                                {p.satellite_sigma_min, p.satellite_sigma_max},
                                                {p.cosmic_sigma_min, p.cosmic_sigma_max},
                                                {p.hot_sigma_min, p.hot_sigma_max}};
    for (const auto& [lo, hi] : ranges)
        if (lo < 0 || hi < lo) return "each significance range must run from a value of 0 or more up to a larger one";
    if (p.flash_frames_max < 1 || p.flash_frames_max > 3) return "a flash lasts 1 to 3 frames";
    if (p.packet < 1) return "the packet must hold at least one frame";
    for (const flash_spec& f : p.flashes_at) {
        if (f.x < 0 || f.x >= p.file.width || f.y < 0 || f.y >= p.file.height)
            return "flash at " + std::to_string(f.x) + "," + std::to_string(f.y) + " lies outside the frame";
        if (f.frame < 0 || f.frame >= p.file.frames)
            return "flash in frame " + std::to_string(f.frame) + ": the file has frames 0 to " +
                   std::to_string(p.file.frames - 1);
        if (f.frames < 1) return "a flash lasts at least one frame";
        if (!std::isfinite(f.amplitude)) return "a flash amplitude must be a finite number";
    }
    return {};
}

night_result write_night(platform::file_system& fs, const std::string& ser_path, const night_params& p) {
    night_result r;
    r.error = check_night(p);
    if (!r.error.empty()) return r;
    r.error =
        write_whole_file(fs, ser_path, [&](platform::output_file& out) { return generate_night(p, out, r.truth); });
    if (!r.error.empty()) return r;
    const std::string text = truth_json(r.truth, ser_path);
    r.error = write_whole_file(fs, truth_path_for(ser_path), [&](platform::output_file& out) {
        return out.write(text.data(), text.size()) && out.close();
    });
    r.ok = r.error.empty();
    return r;
}

std::vector<std::uint8_t> make_night_bytes(const night_params& p, night_truth* truth) {
    std::vector<std::uint8_t> bytes;
    if (!check_night(p).empty()) return bytes;
    memory_output out(bytes);
    night_truth t;
    generate_night(p, out, t);
    if (truth != nullptr) *truth = std::move(t);
    return bytes;
}

} // namespace serflash::synth
