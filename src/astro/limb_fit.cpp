#include "astro/limb_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace serflash::astro {
namespace {

constexpr double deg = std::numbers::pi / 180.0;

// The limb is looked for in an image of at most this many samples across (averaged blocks).
constexpr std::int32_t working_size = 640;
// An edge point belongs to a circle within this many working pixels, with its gradient pointing
// to the centre within about 37 degrees.
constexpr double circle_tolerance = 1.5;
constexpr double polarity_cosine = 0.8;
constexpr int circle_trials = 3000;
constexpr std::size_t scoring_points = 4000;
// Working pixels from an edge point to the sides compared with the sky.
constexpr double sky_reach = 4.0;
// A turn measured less surely than this serves worse than one the observer gives.
constexpr double max_turn_err_deg = 2.0;

struct edge_point {
    double x = 0, y = 0;   // working pixels
    double nx = 0, ny = 0; // unit gradient, toward the brighter side
    double dark = 0;       // level on the dark side
};

// Averages of factor x factor blocks.
grey_image binned(const grey_image& image, std::int32_t factor) {
    grey_image out;
    out.width = image.width / factor;
    out.height = image.height / factor;
    out.samples.assign(static_cast<std::size_t>(out.width) * static_cast<std::size_t>(out.height), 0.0f);
    const double scale = 1.0 / (static_cast<double>(factor) * factor);
    for (std::int32_t y = 0; y < out.height; ++y)
        for (std::int32_t x = 0; x < out.width; ++x) {
            double sum = 0.0;
            for (std::int32_t j = 0; j < factor; ++j)
                for (std::int32_t i = 0; i < factor; ++i) sum += image.at(x * factor + i, y * factor + j);
            out.samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(out.width) +
                        static_cast<std::size_t>(x)] = static_cast<float>(sum * scale);
        }
    return out;
}

// Deterministic choices, the same on every machine.
class chooser {
public:
    std::size_t below(std::size_t n) {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::size_t>((state_ >> 33) % n);
    }

private:
    std::uint64_t state_ = 0x5eed;
};

// Thin edges (largest gradient across the edge) with their positions to a fraction of a pixel;
// `smallest_step` is the least step in level that makes one.
std::vector<edge_point> edge_points(const grey_image& g, double& smallest_step) {
    const std::int32_t w = g.width, h = g.height;
    std::vector<edge_point> out;
    if (w < 8 || h < 8) return out;
    // A light smoothing first (1 2 1 in each direction), then Sobel gradients.
    grey_image s = g;
    for (std::int32_t y = 1; y + 1 < h; ++y)
        for (std::int32_t x = 1; x + 1 < w; ++x) {
            double sum = 0.0;
            for (std::int32_t j = -1; j <= 1; ++j)
                for (std::int32_t i = -1; i <= 1; ++i)
                    sum += (2.0 - std::abs(i)) * (2.0 - std::abs(j)) * g.at(x + i, y + j);
            s.samples[static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x)] =
                static_cast<float>(sum / 16.0);
        }
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<float> gx(n, 0.0f), gy(n, 0.0f), mag(n, 0.0f);
    const auto idx = [w](std::int32_t x, std::int32_t y) {
        return static_cast<std::size_t>(y) * static_cast<std::size_t>(w) + static_cast<std::size_t>(x);
    };
    for (std::int32_t y = 2; y + 2 < h; ++y)
        for (std::int32_t x = 2; x + 2 < w; ++x) {
            const double dx = (s.at(x + 1, y - 1) + 2.0 * s.at(x + 1, y) + s.at(x + 1, y + 1)) -
                              (s.at(x - 1, y - 1) + 2.0 * s.at(x - 1, y) + s.at(x - 1, y + 1));
            const double dy = (s.at(x - 1, y + 1) + 2.0 * s.at(x, y + 1) + s.at(x + 1, y + 1)) -
                              (s.at(x - 1, y - 1) + 2.0 * s.at(x, y - 1) + s.at(x + 1, y - 1));
            gx[idx(x, y)] = static_cast<float>(dx);
            gy[idx(x, y)] = static_cast<float>(dy);
            mag[idx(x, y)] = static_cast<float>(std::hypot(dx, dy));
        }
    // The noise of the gradient where the image is smooth: the median size in blocks of 16 x 16,
    // in the smoothest fiftieth of the blocks (sky or earthshine, however little of the frame they
    // fill; blocks without any change, as where the sunlit part saturates, do not count).
    std::vector<double> block_noise;
    std::vector<float> block;
    for (std::int32_t by = 2; by + 16 <= h - 2; by += 16)
        for (std::int32_t bx = 2; bx + 16 <= w - 2; bx += 16) {
            block.clear();
            for (std::int32_t y = by; y < by + 16; ++y)
                for (std::int32_t x = bx; x < bx + 16; ++x) block.push_back(std::abs(gx[idx(x, y)]));
            std::nth_element(block.begin(), block.begin() + 128, block.end());
            if (block[128] > 0.0f) block_noise.push_back(block[128] / 0.6745);
        }
    if (block_noise.empty()) return out;
    const auto fiftieth = block_noise.begin() + static_cast<std::ptrdiff_t>(block_noise.size() / 50);
    std::nth_element(block_noise.begin(), fiftieth, block_noise.end());
    const double noise = *fiftieth;
    const double threshold = 6.0 * noise;
    // A smoothed step of height h has a largest Sobel gradient of 3 h.
    smallest_step = threshold / 3.0;
    // The sky's level: the limb has sky on its dark side, where craters, maria and the rims in
    // the earthshine have surface.
    std::vector<float> levels = s.samples;
    const auto darkest = levels.begin() + static_cast<std::ptrdiff_t>(levels.size() / 50);
    std::nth_element(levels.begin(), darkest, levels.end());
    const double sky = *darkest;
    const auto level_at = [&](double fx, double fy) {
        const auto x = std::clamp(static_cast<std::int32_t>(std::lround(fx)), 0, w - 1);
        const auto y = std::clamp(static_cast<std::int32_t>(std::lround(fy)), 0, h - 1);
        return static_cast<double>(s.at(x, y));
    };
    for (std::int32_t y = 3; y + 3 < h; ++y)
        for (std::int32_t x = 3; x + 3 < w; ++x) {
            const double m = mag[idx(x, y)];
            if (m < threshold) continue;
            const double ux = gx[idx(x, y)] / m, uy = gy[idx(x, y)] / m;
            // The neighbour pixel step closest to the gradient direction.
            const std::int32_t sx = static_cast<std::int32_t>(std::lround(ux * 1.2071)); // 1 / tan(22.5) / 2
            const std::int32_t sy = static_cast<std::int32_t>(std::lround(uy * 1.2071));
            const double before = mag[idx(x - sx, y - sy)], after = mag[idx(x + sx, y + sy)];
            if (m < before || m <= after) continue;
            const double curve = before - 2.0 * m + after;
            const double shift = curve < 0.0 ? std::clamp(0.5 * (before - after) / curve, -0.5, 0.5) : 0.0;
            const double dark = level_at(x - sky_reach * ux, y - sky_reach * uy);
            const double bright = level_at(x + sky_reach * ux, y + sky_reach * uy);
            if (!(dark - sky < 0.25 * (bright - sky))) continue;
            out.push_back({x + shift * sx, y + shift * sy, ux, uy, dark});
        }
    return out;
}

struct circle {
    double x = 0, y = 0, r = 0;
};

bool circle_through(const edge_point& a, const edge_point& b, const edge_point& c, circle& out) {
    const double bx = b.x - a.x, by = b.y - a.y, cx = c.x - a.x, cy = c.y - a.y;
    const double d = 2.0 * (bx * cy - by * cx);
    if (std::abs(d) < 1e-9) return false;
    const double b2 = bx * bx + by * by, c2 = cx * cx + cy * cy;
    const double ux = (cy * b2 - by * c2) / d, uy = (bx * c2 - cx * b2) / d;
    out = {a.x + ux, a.y + uy, std::hypot(ux, uy)};
    return true;
}

bool on_circle(const circle& c, const edge_point& p, double tolerance) {
    const double dx = c.x - p.x, dy = c.y - p.y;
    const double d = std::hypot(dx, dy);
    if (!(d > 0.0) || std::abs(d - c.r) > tolerance) return false;
    return (p.nx * dx + p.ny * dy) / d > polarity_cosine; // brighter toward the centre
}

// Least squares of the distances to the circle (Gauss-Newton), with the covariance of the centre
// and radius from the scatter of the points.
struct circle_solution {
    circle c;
    double rms = 0;
    std::array<double, 3> sigma{}; // x, y, r
    bool ok = false;
};

bool solve3(std::array<std::array<double, 3>, 3> a, std::array<double, 3> b, std::array<double, 3>& x) {
    for (std::size_t col = 0; col < 3; ++col) {
        std::size_t pivot = col;
        for (std::size_t r = col + 1; r < 3; ++r)
            if (std::abs(a[r][col]) > std::abs(a[pivot][col])) pivot = r;
        if (std::abs(a[pivot][col]) < 1e-300) return false;
        std::swap(a[col], a[pivot]);
        std::swap(b[col], b[pivot]);
        for (std::size_t r = col + 1; r < 3; ++r) {
            const double f = a[r][col] / a[col][col];
            for (std::size_t k = col; k < 3; ++k) a[r][k] -= f * a[col][k];
            b[r] -= f * b[col];
        }
    }
    for (std::size_t r = 3; r-- > 0;) {
        double v = b[r];
        for (std::size_t k = r + 1; k < 3; ++k) v -= a[r][k] * x[k];
        x[r] = v / a[r][r];
    }
    return true;
}

circle_solution fit_circle(const std::vector<edge_point>& pts, circle start) {
    circle_solution s;
    s.c = start;
    std::array<std::array<double, 3>, 3> normal{};
    for (int iteration = 0; iteration < 20; ++iteration) {
        normal = {};
        std::array<double, 3> rhs{};
        for (const edge_point& p : pts) {
            const double dx = p.x - s.c.x, dy = p.y - s.c.y;
            const double d = std::hypot(dx, dy);
            if (!(d > 0.0)) continue;
            const std::array<double, 3> j = {-dx / d, -dy / d, -1.0};
            const double r = d - s.c.r;
            for (std::size_t a = 0; a < 3; ++a) {
                for (std::size_t b = 0; b < 3; ++b) normal[a][b] += j[a] * j[b];
                rhs[a] -= j[a] * r;
            }
        }
        std::array<double, 3> step{};
        if (!solve3(normal, rhs, step)) return s;
        s.c.x += step[0];
        s.c.y += step[1];
        s.c.r += step[2];
        if (std::abs(step[0]) + std::abs(step[1]) + std::abs(step[2]) < 1e-9 * (1.0 + s.c.r)) break;
    }
    double sum = 0.0;
    for (const edge_point& p : pts) {
        const double r = std::hypot(p.x - s.c.x, p.y - s.c.y) - s.c.r;
        sum += r * r;
    }
    const double dof = static_cast<double>(pts.size()) - 3.0;
    if (!(dof > 0.0)) return s;
    s.rms = std::sqrt(sum / static_cast<double>(pts.size()));
    // Neighbouring edge points share the smoothing and the binning: about three make one
    // independent measurement, so the scatter counts three times over.
    const double variance = 3.0 * sum / dof;
    for (std::size_t k = 0; k < 3; ++k) {
        std::array<double, 3> unit{}, column{};
        unit[k] = 1.0;
        if (!solve3(normal, unit, column)) return s;
        s.sigma[k] = std::sqrt(std::max(0.0, column[k] * variance));
    }
    s.ok = std::isfinite(s.c.x) && std::isfinite(s.c.y) && s.c.r > 0.0;
    return s;
}

// Circles through three edge points, scored on a fixed sample of them; false when none holds.
bool best_circle(const std::vector<edge_point>& edges, double min_radius, double max_radius, circle& best) {
    std::vector<edge_point> scoring;
    const std::size_t stride = std::max<std::size_t>(1, edges.size() / scoring_points);
    for (std::size_t k = 0; k < edges.size(); k += stride) scoring.push_back(edges[k]);
    chooser pick;
    std::size_t best_score = 0;
    for (int trial = 0; trial < circle_trials; ++trial) {
        const edge_point& a = scoring[pick.below(scoring.size())];
        const edge_point& b = scoring[pick.below(scoring.size())];
        const edge_point& c = scoring[pick.below(scoring.size())];
        circle k;
        if (!circle_through(a, b, c, k) || k.r < min_radius || k.r > max_radius) continue;
        if (!on_circle(k, a, circle_tolerance) || !on_circle(k, b, circle_tolerance) ||
            !on_circle(k, c, circle_tolerance))
            continue;
        const std::size_t score = static_cast<std::size_t>(std::count_if(
            scoring.begin(), scoring.end(), [&](const edge_point& p) { return on_circle(k, p, circle_tolerance); }));
        if (score > best_score) {
            best_score = score;
            best = k;
        }
    }
    return best_score > 0;
}

// Leaves out the edges whose dark side lies clearly above the sky that the edges on the circle
// mostly have on theirs (median and spread of their dark sides); true when any were left out.
bool drop_edges_off_the_sky(std::vector<edge_point>& edges, const circle& c, double smallest_step) {
    std::vector<double> dark;
    for (const edge_point& p : edges)
        if (on_circle(c, p, 2.0 * circle_tolerance)) dark.push_back(p.dark);
    if (dark.size() < 30) return false;
    const auto middle = dark.begin() + static_cast<std::ptrdiff_t>(dark.size() / 2);
    std::nth_element(dark.begin(), middle, dark.end());
    const double sky = *middle;
    for (double& d : dark) d = std::abs(d - sky);
    std::nth_element(dark.begin(), middle, dark.end());
    // Five standard deviations of the sky, and at least a quarter of the smallest edge.
    const double limit = sky + std::max(5.0 * 1.4826 * *middle, 0.25 * smallest_step);
    const auto kept =
        std::remove_if(edges.begin(), edges.end(), [limit](const edge_point& p) { return p.dark > limit; });
    const bool dropped = kept != edges.end();
    edges.erase(kept, edges.end());
    return dropped;
}

} // namespace

limb_fit find_limb(const grey_image& image) {
    limb_fit fit;
    if (image.width < 16 || image.height < 16 ||
        image.samples.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height)) {
        fit.why_not = "no limb found: the frame is too small";
        return fit;
    }
    const std::int32_t factor =
        std::max<std::int32_t>(1, (std::max(image.width, image.height) + working_size - 1) / working_size);
    const grey_image work = factor > 1 ? binned(image, factor) : image;
    const double min_radius = 0.05 * std::min(work.width, work.height) + 10.0;
    const double max_radius = 10.0 * std::max(work.width, work.height);
    double smallest_step = 0.0;
    std::vector<edge_point> edges = edge_points(work, smallest_step);
    if (edges.size() < 30) {
        fit.why_not = "no limb found: no edge in the frame stands out of the noise";
        return fit;
    }
    circle best;
    if (!best_circle(edges, min_radius, max_radius, best)) {
        fit.why_not = "no limb found: no circular edge with the bright side inward";
        return fit;
    }
    // The limb has the sky on its dark side. Near a cusp the sunlit part ends at the terminator a
    // little inside the limb, with earthshine on its dark side, and would pull the circle inward:
    // edges whose dark side is brighter than the limb's usual sky are left out, and the circle is
    // chosen again.
    if (drop_edges_off_the_sky(edges, best, smallest_step)) {
        if (edges.size() < 30 || !best_circle(edges, min_radius, max_radius, best)) {
            fit.why_not = "no limb found: no circular edge with the bright side inward";
            return fit;
        }
    }
    // Refit to the points near the circle, tightening the band to the scatter found.
    circle_solution solution;
    solution.c = best;
    double tolerance = 2.0 * circle_tolerance;
    std::vector<edge_point> near;
    for (int round = 0; round < 5; ++round) {
        near.clear();
        for (const edge_point& p : edges)
            if (on_circle(solution.c, p, tolerance)) near.push_back(p);
        if (near.size() < 10) break;
        const circle_solution next = fit_circle(near, solution.c);
        if (!next.ok) break;
        solution = next;
        tolerance = std::clamp(3.0 * solution.rms, 0.75, 2.0 * circle_tolerance);
    }
    if (!solution.ok) {
        fit.why_not = "no limb found: the circle fit did not settle";
        return fit;
    }
    // The scatter of the points understates the error when they stray together (the edge shifted
    // along a stretch of the limb): the fits that leave out one of eight stretches in turn tell
    // (the jackknife), and the larger of the two estimates stands.
    {
        double mx = 0.0, my = 0.0;
        for (const edge_point& p : near) {
            const double d = std::hypot(p.x - solution.c.x, p.y - solution.c.y);
            mx += (p.x - solution.c.x) / d;
            my += (p.y - solution.c.y) / d;
        }
        const double middle = std::atan2(my, mx);
        std::vector<std::pair<double, std::size_t>> order;
        for (std::size_t k = 0; k < near.size(); ++k) {
            const double a = std::atan2(near[k].y - solution.c.y, near[k].x - solution.c.x) - middle;
            order.emplace_back(std::remainder(a, 2.0 * std::numbers::pi), k);
        }
        std::sort(order.begin(), order.end());
        constexpr std::size_t stretches = 8;
        std::vector<std::array<double, 3>> fits;
        std::vector<edge_point> rest;
        for (std::size_t g = 0; g < stretches; ++g) {
            rest.clear();
            for (std::size_t k = 0; k < order.size(); ++k)
                if (k * stretches / order.size() != g) rest.push_back(near[order[k].second]);
            const circle_solution part = fit_circle(rest, solution.c);
            if (part.ok) fits.push_back({part.c.x, part.c.y, part.c.r});
        }
        if (fits.size() == stretches) {
            for (std::size_t i = 0; i < 3; ++i) {
                double mean = 0.0;
                for (const auto& f : fits) mean += f[i];
                mean /= stretches;
                double sum = 0.0;
                for (const auto& f : fits) sum += (f[i] - mean) * (f[i] - mean);
                const double jackknife = std::sqrt(sum * (stretches - 1.0) / stretches);
                solution.sigma[i] = std::max(solution.sigma[i], jackknife);
            }
        }
    }
    // How much of the circle the points cover, and how much of it lies in the frame: a real limb
    // is an edge along most of the arc that the frame shows.
    std::array<bool, 180> covered{};
    for (const edge_point& p : near) {
        const double a = positive_degrees(std::atan2(p.y - solution.c.y, p.x - solution.c.x) / deg);
        covered[static_cast<std::size_t>(std::min(179.0, a / 2.0))] = true;
    }
    const double arc = 2.0 * static_cast<double>(std::count(covered.begin(), covered.end(), true));
    std::int32_t inside = 0;
    constexpr std::int32_t steps = 720;
    for (std::int32_t k = 0; k < steps; ++k) {
        const double a = (k + 0.5) * (360.0 / steps) * deg;
        const double x = solution.c.x + solution.c.r * std::cos(a), y = solution.c.y + solution.c.r * std::sin(a);
        if (x >= 3 && y >= 3 && x < work.width - 4 && y < work.height - 4) ++inside;
    }
    const double visible_length = 2.0 * std::numbers::pi * solution.c.r * inside / steps;
    fit.points = static_cast<std::int32_t>(near.size());
    fit.arc_deg = arc;
    fit.rms_px = solution.rms * factor;
    if (near.size() < 30 || arc < 20.0 || static_cast<double>(near.size()) < 0.3 * visible_length) {
        fit.why_not = "no limb found: the best circular edge (" + std::to_string(near.size()) +
                      " points) covers too little of its circle";
        return fit;
    }
    const double f = factor;
    const auto full = [f](double v) { return (v + 0.5) * f - 0.5; };
    fit.found = true;
    fit.disk = {full(solution.c.x),    full(solution.c.y),    solution.c.r * f,
                solution.sigma[0] * f, solution.sigma[1] * f, solution.sigma[2] * f};
    const std::size_t keep = std::max<std::size_t>(1, near.size() / 400);
    for (std::size_t k = 0; k < near.size(); k += keep) fit.limb.push_back({full(near[k].x), full(near[k].y)});
    return fit;
}

bright_limb measure_bright_limb(const grey_image& image, const disk_circle& disk, double cos_phase) {
    bright_limb out;
    if (!(disk.radius > 0.0) || image.width < 1 || image.height < 1) {
        out.why_not = "no disk";
        return out;
    }
    const double area = static_cast<double>(image.width) * image.height;
    const std::int32_t stride = std::max<std::int32_t>(1, static_cast<std::int32_t>(std::ceil(std::sqrt(area / 2e4))));
    struct sample {
        double right, up, z;
        float v;
    };
    // Up to the limb but for its uncertainty: a thin crescent is all at the limb.
    const double inner = 1.0 - std::max(1.5, 2.0 * disk.radius_err) / disk.radius;
    std::vector<sample> on_disk;
    std::vector<float> sky;
    for (std::int32_t y = 0; y < image.height; y += stride)
        for (std::int32_t x = 0; x < image.width; x += stride) {
            const double right = (x - disk.x) / disk.radius, up = (disk.y - y) / disk.radius;
            const double rho2 = right * right + up * up;
            if (rho2 < inner * inner)
                on_disk.push_back({right, up, std::sqrt(1.0 - rho2), image.at(x, y)});
            else if (rho2 > 1.03 * 1.03)
                sky.push_back(image.at(x, y));
        }
    if (on_disk.size() < 200) {
        out.why_not = "too little of the disk in the frame to see where it is sunlit";
        return out;
    }
    // The sky's level and noise, from around the disk.
    double sky_level = 0.0, sky_noise = 1.0;
    if (sky.size() >= 20) {
        std::sort(sky.begin(), sky.end());
        sky_level = sky[sky.size() / 2];
        std::vector<float> spread;
        for (const float v : sky) spread.push_back(static_cast<float>(std::abs(v - sky_level)));
        std::nth_element(spread.begin(), spread.begin() + static_cast<std::ptrdiff_t>(spread.size() / 2), spread.end());
        sky_noise = std::max(1e-3, spread[spread.size() / 2] / 0.6745);
    } else {
        sky_level = std::min_element(on_disk.begin(), on_disk.end(), [](const sample& a, const sample& b) {
                        return a.v < b.v;
                    })->v;
    }
    // Two classes of brightness on the disk, split where the logarithm of the light above the sky
    // parts them best (Otsu's rule): sunlight and earthshine differ by a factor, and a thin
    // crescent is a small class that a linear split would miss.
    std::vector<double> values;
    for (const sample& p : on_disk) values.push_back(std::log(std::max(p.v - sky_level, 3.0 * sky_noise)));
    std::sort(values.begin(), values.end());
    const double lo = values.front(), hi = values.back();
    constexpr int bins = 256;
    std::array<double, bins> hist{};
    const double width = std::max(1e-9, (hi - lo) / bins);
    for (const double v : values) hist[static_cast<std::size_t>(std::min(bins - 1.0, (v - lo) / width))] += 1.0;
    const double total = static_cast<double>(values.size());
    double sum_all = 0.0;
    for (std::size_t k = 0; k < bins; ++k) sum_all += static_cast<double>(k) * hist[k];
    double weight = 0.0, sum = 0.0, best_between = -1.0;
    std::size_t split = 0;
    for (std::size_t k = 0; k + 1 < bins; ++k) {
        weight += hist[k];
        sum += static_cast<double>(k) * hist[k];
        if (weight <= 0.0 || weight >= total) continue;
        const double m0 = sum / weight, m1 = (sum_all - sum) / (total - weight);
        const double between = weight * (total - weight) * (m0 - m1) * (m0 - m1);
        if (between > best_between) {
            best_between = between;
            split = k;
        }
    }
    const double cut = lo + static_cast<double>(split + 1) * width;
    const auto below = static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), cut) - values.begin());
    if (below < 20 || values.size() - below < 20) {
        out.why_not = "no boundary between a sunlit and a dark part of the disk in the frame";
        return out;
    }
    const double dark = sky_level + std::exp(values[below / 2]);
    const double lit = sky_level + std::exp(values[below + (values.size() - below) / 2]);
    // Sunlight is many times brighter than earthshine; two shades of the same light are not. The
    // brighter part of the lit class counts: a strip at the terminator is lit but dim.
    const double lit_top = sky_level + std::exp(values[below + (values.size() - below) * 9 / 10]);
    if (!(lit_top - sky_level > 4.0 * (dark - sky_level)) || !(lit > dark)) {
        out.why_not = "no boundary between a sunlit and a dark part of the disk in the frame";
        return out;
    }
    // Just above the earthshine, so that the lit part seen reaches nearly to the terminator.
    const double level = dark + 0.1 * (lit - dark);
    const double sin_phase = std::sqrt(std::max(0.0, 1.0 - cos_phase * cos_phase));
    // The surface right at the terminator is too faint to tell from the earthshine. Under the
    // Lommel-Seeliger law (sunlight scattered in proportion to f = 2 mu0 / (mu0 + mu), mu0 and mu
    // the cosines of the Sun's and the observer's angles from the vertical) the surface reaches the
    // level where f = q, the level's part of the light of full sunlight (f = 1), that is where
    // mu0 = mu q / (2 - q): there the lit part is taken to begin. q is first guessed, then
    // measured from the lit part under the angle found, and the angle found again.
    const auto rise_for = [](double q) { return q / (2.0 - q); };
    // The cosine of the Sun's height above a sample's horizon, the Sun's image angle given by its
    // sine and cosine.
    const auto sun_height = [&](const sample& p, double s, double c) {
        return sin_phase * (-p.right * s + p.up * c) + p.z * cos_phase;
    };
    double rise = rise_for(0.1);
    const auto mismatches = [&](double angle_deg, double k) {
        const double s = std::sin(angle_deg * deg), c = std::cos(angle_deg * deg);
        std::size_t n = 0;
        for (const sample& p : on_disk) {
            const bool predicted = sun_height(p, s, c) > k * p.z;
            n += predicted != (p.v > level) ? 1U : 0U;
        }
        return n;
    };
    // The best angle near `from` (within `reach` degrees, in `step`s).
    const auto best_near = [&](double from, double reach, double step, double k, std::size_t& count) {
        double angle = from;
        count = mismatches(from, k);
        for (double d = -reach; d <= reach + 1e-9; d += step)
            if (const std::size_t n = mismatches(from + d, k); n < count) {
                count = n;
                angle = from + d;
            }
        return angle;
    };
    std::size_t best = 0;
    double best_angle = best_near(180.0, 180.0, 1.0, rise, best);
    best_angle = best_near(best_angle, 1.0, 0.25, rise, best);
    for (int round = 0; round < 3; ++round) {
        // Full sunlight's level: the median of the lit samples' light over their f.
        const double s = std::sin(best_angle * deg), c = std::cos(best_angle * deg);
        std::vector<double> full;
        for (const sample& p : on_disk) {
            const double mu0 = sun_height(p, s, c);
            const double f = mu0 > 0.0 ? 2.0 * mu0 / (mu0 + p.z) : 0.0;
            if (f > 0.3 && p.v > level) full.push_back((p.v - dark) / f);
        }
        if (full.size() < 20) break;
        std::nth_element(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(full.size() / 2), full.end());
        const double q = std::clamp((level - dark) / full[full.size() / 2], 0.005, 0.5);
        rise = rise_for(q);
        best_angle = best_near(best_angle, 3.0, 0.25, rise, best);
    }
    best_angle = best_near(best_angle, 0.3, 0.02, rise, best);
    // The angles that do about as well as the best, and those that a law half or one and a half
    // times as steep would give, make its uncertainty.
    const double tolerance = 1.05 * static_cast<double>(best) + 2.0;
    double reach_minus = 0.0, reach_plus = 0.0;
    for (double d = 0.05; d <= 20.0 && static_cast<double>(mismatches(best_angle - d, rise)) <= tolerance; d += 0.05)
        reach_minus = d;
    for (double d = 0.05; d <= 20.0 && static_cast<double>(mismatches(best_angle + d, rise)) <= tolerance; d += 0.05)
        reach_plus = d;
    std::size_t unused = 0;
    const double softer = best_near(best_angle, 3.0, 0.05, 0.5 * rise, unused);
    const double steeper = best_near(best_angle, 3.0, 0.05, 1.5 * rise, unused);
    const double law = 0.5 * std::abs(signed_degrees(steeper - softer));
    const double plateau = 0.5 * (reach_plus + reach_minus);
    // Maria and bright craters along the terminator shift the lit part seen, by as much as the
    // turn that would carry all the misplaced samples across the boundary; where the boundary
    // runs along the limb a turn hardly moves it, and that bound is large.
    const double s0 = std::sin((best_angle - 1.0) * deg), c0 = std::cos((best_angle - 1.0) * deg);
    const double s1 = std::sin((best_angle + 1.0) * deg), c1 = std::cos((best_angle + 1.0) * deg);
    std::size_t moved = 0;
    for (const sample& p : on_disk)
        moved += (sun_height(p, s0, c0) > rise * p.z) != (sun_height(p, s1, c1) > rise * p.z) ? 1U : 0U;
    const double per_degree = std::max(0.5, 0.5 * static_cast<double>(moved));
    const double misplaced = static_cast<double>(best) / per_degree;
    out.image_angle_deg = positive_degrees(best_angle + 0.5 * (reach_plus - reach_minus));
    out.err_deg = std::max({0.05, std::sqrt(plateau * plateau + law * law), misplaced});
    if (out.err_deg > max_turn_err_deg) {
        char text[160];
        std::snprintf(text, sizeof text, "the lit part in the frame fixes the turn only to %.1f degrees", out.err_deg);
        out.why_not = text;
        return out;
    }
    out.found = true;
    return out;
}

} // namespace serflash::astro
