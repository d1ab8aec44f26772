#include "ui/review_view.h"

#include "platform/file_io.h"
#include "report/moon_picture.h"
#include "ui/main_dialog.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>
#include <filesystem>

namespace serflash::ui {

std::string locate_ser_file(const candidate& c) {
    std::error_code ec;
    if (!c.ser_path.empty() && std::filesystem::is_regular_file(c.ser_path, ec)) return c.ser_path;
    if (c.file.empty()) return {};
    const std::filesystem::path beside = c.source.parent_path().parent_path() / c.file;
    if (std::filesystem::is_regular_file(beside, ec)) return beside.string();
    return {};
}

bool candidate_frames::open(const std::string& path, std::string& error) {
    reader_.reset();
    path_ = path;
    auto file = platform::native_file_system().open_read(path);
    if (!file) {
        error = "The SER file cannot be opened: " + path;
        return false;
    }
    auto reader = std::make_unique<ser::ser_reader>(std::move(file.value()));
    reader->read_ser_header();
    if (const std::string why = not_ser_reason(*reader); !why.empty()) {
        error = path + " is not a SER file this program can read: " + why;
        return false;
    }
    width_ = reader->width();
    height_ = reader->height();
    frames_ = reader->frames_present();
    reader_ = std::move(reader);
    return true;
}

std::vector<std::uint16_t> candidate_frames::read(std::int32_t frame) {
    if (!reader_ || frames_ <= 0) return {};
    std::vector<std::uint16_t> samples(reader_->samples_per_frame(), 0);
    reader_->seek_frame(std::clamp(frame, 0, frames_ - 1));
    reader_->read_frame(samples);
    return samples;
}

std::vector<std::uint32_t> grey_pixels(std::span<const std::uint16_t> frame, std::int32_t width, std::int32_t height,
                                       const display::stretch_levels& levels) {
    display::display_bitmap bmp;
    if (!display::prep_for_display(bmp, width, height)) return {};
    display::render_frame_stretched(bmp, frame, {}, levels, false);
    std::vector<std::uint32_t> out(bmp.disp_buf.size() / 4);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::uint8_t* px = &bmp.disp_buf[4 * i];
        out[i] = 0xFF000000U | std::uint32_t{px[2]} << 16 | std::uint32_t{px[1]} << 8 | px[0];
    }
    return out;
}

std::vector<std::uint16_t> cut_out(std::span<const std::uint16_t> frame, std::int32_t width, std::int32_t height,
                                   std::int32_t cx, std::int32_t cy, std::int32_t half) {
    const std::int32_t side = 2 * std::max(half, 0) + 1;
    std::vector<std::uint16_t> out(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0);
    for (std::int32_t dy = 0; dy < side; ++dy) {
        const std::int32_t y = cy - half + dy;
        if (y < 0 || y >= height) continue;
        for (std::int32_t dx = 0; dx < side; ++dx) {
            const std::int32_t x = cx - half + dx;
            const auto src =
                static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x);
            if (x < 0 || x >= width || src >= frame.size()) continue;
            out[static_cast<std::size_t>(dy * side + dx)] = frame[src];
        }
    }
    return out;
}

candidate_levels levels_for_candidate(std::span<const std::uint16_t> peak_frame, std::int32_t width,
                                      std::int32_t height, std::int32_t cx, std::int32_t cy, std::int32_t half) {
    candidate_levels out;
    out.frame = display::frame_levels(peak_frame);
    out.cut = display::frame_levels(cut_out(peak_frame, width, height, cx, cy, half), 0.0, 100.0);
    return out;
}

std::optional<std::int32_t> blink_partner(const blink_reference& ref, std::int32_t shown, std::int32_t frames) {
    if (frames < 2) return std::nullopt;
    const std::int32_t last = frames - 1;
    shown = std::clamp(shown, 0, last);
    if (ref.frame) return std::clamp(*ref.frame, 0, last);
    return shown > 0 ? shown - 1 : 1;
}

std::optional<std::size_t> next_unmarked(const std::vector<candidate>& candidates, std::span<const std::size_t> order,
                                         std::size_t current) {
    const auto here = std::find(order.begin(), order.end(), current);
    const std::size_t start = here == order.end() ? 0 : static_cast<std::size_t>(here - order.begin()) + 1;
    for (std::size_t k = 0; k < order.size(); ++k) {
        const std::size_t index = order[(start + k) % order.size()];
        if (index != current && index < candidates.size() && candidates[index].mark == verdict::none) return index;
    }
    return std::nullopt;
}

std::vector<double> axis_ticks(double lo, double hi, int max_ticks) {
    std::vector<double> ticks;
    if (!(lo < hi) || !std::isfinite(lo) || !std::isfinite(hi) || max_ticks < 2) return ticks;
    const double rough = (hi - lo) / static_cast<double>(max_ticks - 1);
    const double power = std::pow(10.0, std::floor(std::log10(rough)));
    double step = power * 10.0;
    for (const double m : {1.0, 2.0, 5.0}) {
        if (power * m >= rough) {
            step = power * m;
            break;
        }
    }
    for (double k = std::ceil(lo / step); k * step <= hi; k += 1.0) {
        const double v = k * step;
        ticks.push_back(std::abs(v) < step * 1e-9 ? 0.0 : v);
    }
    return ticks;
}

curve_plot plot_light_curve(const light_curve& curve, std::int32_t peak_frame, double w, double h) {
    curve_plot plot;
    double lo = std::min(0.0, -curve.sigma), hi = std::max(1.0, curve.sigma);
    for (const double v : curve.excess) {
        if (!std::isfinite(v)) continue;
        lo = std::min(lo, v);
        hi = std::max(hi, v);
    }
    const auto y_of = [&](double v) { return (hi - v) / (hi - lo) * (h - 1.0); };
    const std::size_t n = curve.excess.size();
    const double step = n > 1 ? (w - 1.0) / static_cast<double>(n - 1) : 0.0;
    for (std::size_t i = 0; i < n; ++i) plot.points.emplace_back(static_cast<double>(i) * step, y_of(curve.excess[i]));
    plot.zero_y = y_of(0.0);
    plot.sigma_y = y_of(curve.sigma);
    const std::int64_t at = std::int64_t{peak_frame} - curve.first_frame;
    if (at >= 0 && static_cast<std::size_t>(at) < n) plot.peak_x = static_cast<double>(at) * step;
    for (const double v : axis_ticks(lo, hi, std::clamp(static_cast<int>(h / 28.0), 2, 8)))
        plot.y_ticks.emplace_back(v, y_of(v));
    if (n > 1) {
        const auto last = static_cast<double>(curve.first_frame) + static_cast<double>(n - 1);
        for (const double f : axis_ticks(curve.first_frame, last,
                                         std::min(std::clamp(static_cast<int>(w / 60.0), 2, 10), static_cast<int>(n))))
            plot.x_ticks.emplace_back(static_cast<std::int32_t>(f),
                                      (f - static_cast<double>(curve.first_frame)) * step);
    }
    return plot;
}

std::vector<std::vector<astro::image_point>> moon_overlay(const candidate& c) {
    if (!c.moon) return {};
    std::vector<std::vector<astro::image_point>> lines = report::selenographic_grid(c.moon->view, c.moon->ephemeris);
    const astro::disk_circle& d = c.moon->view.disk;
    std::vector<astro::image_point> limb;
    constexpr int limb_steps = 180;
    for (int k = 0; k <= limb_steps; ++k) {
        const double a = 2.0 * std::numbers::pi * k / limb_steps;
        limb.push_back({d.x + d.radius * std::cos(a), d.y + d.radius * std::sin(a)});
    }
    lines.push_back(std::move(limb));
    return lines;
}

std::string place_text(const candidate& c) {
    if (!std::isfinite(c.lat) || !std::isfinite(c.lon)) return c.position_note;
    char buf[96];
    std::snprintf(buf, sizeof buf, "lat %.2f, lon %.2f", c.lat, c.lon);
    std::string out = buf;
    if (std::isfinite(c.lat_lon_err)) {
        std::snprintf(buf, sizeof buf, " (+- %.2f deg)", c.lat_lon_err);
        out += buf;
    }
    return out;
}

} // namespace serflash::ui
