#include "report/observation.h"

#include <cmath>
#include <filesystem>
#include <limits>
#include <map>
#include <set>
#include <algorithm>
#include <iterator>

namespace serflash::report {
namespace {

constexpr std::int32_t box_side = 2 * box_half + 1;

using block = std::vector<std::int32_t>;

// The rows [first_row, first_row + rows) of a frame `width` samples wide.
struct frame_rows {
    const std::vector<std::uint16_t>& samples;
    std::int32_t width = 0;
    std::int32_t first_row = 0;
    std::int32_t rows = 0;
};

// A w x h block of a frame; samples outside the frame (or the rows read of it) are -1.
block cut_block(const frame_rows& frame, std::int32_t left, std::int32_t top, std::int32_t w, std::int32_t h) {
    block out(static_cast<std::size_t>(w) * static_cast<std::size_t>(h), -1);
    for (std::int32_t r = 0; r < h; ++r) {
        const std::int32_t row = top + r - frame.first_row;
        if (row < 0 || row >= frame.rows) continue;
        for (std::int32_t c = 0; c < w; ++c) {
            const std::int32_t col = left + c;
            if (col < 0 || col >= frame.width) continue;
            out[static_cast<std::size_t>(r * w + c)] =
                frame.samples[static_cast<std::size_t>(row) * static_cast<std::size_t>(frame.width) +
                              static_cast<std::size_t>(col)];
        }
    }
    return out;
}

// What one candidate needs of the file: the 5 x 5 box in the frames of its packets, its own
// frames and its light curve, and the cut-outs around its peak.
struct needs {
    std::int32_t packet_size = 0;
    std::set<std::int32_t> packets; // first frames
    std::int32_t curve_first = 0, curve_last = -1;
    std::int32_t cut_first = 0, cut_last = -1;
    std::map<std::int32_t, block> boxes; // by frame
    std::map<std::int32_t, block> cuts;
    std::int32_t window_first = 0, window_last = -1, peak_frame = 0; // the peak's packet
    std::map<std::int32_t, block> windows;
    // A candidate searched for a track: the frames searched around its peak, those around them
    // its pixels' means and deviations are taken over, and the sums of those frames.
    bool search = false;
    std::int32_t search_half = 0;
    std::int32_t search_first = 0, search_last = -1;
    std::int32_t background_first = 0, background_last = -1;
    std::map<std::int32_t, block> searched;
    std::vector<double> sum, sum_sq;
    std::int32_t background_frames = 0;
    searched_track found;

    bool wants_box(std::int32_t f) const {
        if (f >= curve_first && f <= curve_last) return true;
        auto it = packets.upper_bound(f);
        return it != packets.begin() && f < *std::prev(it) + packet_size;
    }
    bool wants_cut(std::int32_t f) const { return f >= cut_first && f <= cut_last; }
    bool wants_window(std::int32_t f) const { return (f >= window_first && f <= window_last) || f == peak_frame; }
    bool wants_search(std::int32_t f) const { return search && f >= background_first && f <= background_last; }

    // A frame's samples of the search window around (x, y): a searched frame's are kept, the
    // others summed (-1 outside the frame, as in a block).
    void take_search(std::int32_t f, const frame_rows& rows, std::int32_t x, std::int32_t y) {
        const std::int32_t side = 2 * search_half + 1;
        if (f >= search_first && f <= search_last) {
            searched[f] = cut_block(rows, x - search_half, y - search_half, side, side);
            return;
        }
        if (sum.empty()) {
            sum.assign(static_cast<std::size_t>(side) * static_cast<std::size_t>(side), 0.0);
            sum_sq.assign(sum.size(), 0.0);
        }
        for (std::int32_t r = 0; r < side; ++r) {
            const std::int32_t row = y - search_half + r - rows.first_row;
            const bool row_inside = row >= 0 && row < rows.rows;
            for (std::int32_t c = 0; c < side; ++c) {
                const std::int32_t col = x - search_half + c;
                const double v =
                    row_inside && col >= 0 && col < rows.width
                        ? rows.samples[static_cast<std::size_t>(row) * static_cast<std::size_t>(rows.width) +
                                       static_cast<std::size_t>(col)]
                        : -1.0;
                const std::size_t i = static_cast<std::size_t>(r * side + c);
                sum[i] += v;
                sum_sq[i] += v * v;
            }
        }
        ++background_frames;
    }
};

needs needs_of(const detect::candidate& c, std::int32_t frames_present, std::int32_t packet_size, bool search,
               const vetting_limits& limits) {
    needs n;
    n.packet_size = packet_size;
    n.packets.insert(c.peak.packet_first_frame);
    for (const detect::candidate_frame& f : c.frames) n.packets.insert(f.packet_first_frame);
    const std::int32_t peak = c.peak.frame;
    n.curve_first = std::max(0, peak - light_curve_reach);
    n.curve_last = std::min(frames_present - 1, peak + light_curve_reach);
    // The candidate's own frames lie within the curve unless it lasts longer.
    n.curve_first = std::min(n.curve_first, c.first_frame);
    n.curve_last = std::max(n.curve_last, std::min(frames_present - 1, c.last_frame));
    n.cut_first = std::max(0, peak - cutout_before);
    n.cut_last = std::min(frames_present - 1, peak + cutout_after);
    n.window_first = c.peak.packet_first_frame;
    n.window_last = std::min(frames_present - 1, c.peak.packet_first_frame + packet_size - 1);
    n.peak_frame = peak;
    if (search) {
        const std::int32_t reach = limits.track_search_reach;
        const std::int32_t beyond = reach + std::max(limits.track_search_background, 0);
        n.search = true;
        n.search_half = track_search_half(limits);
        n.search_first = std::max(0, peak - reach);
        n.search_last = std::min(frames_present - 1, peak + reach);
        n.background_first = std::max(0, peak - beyond);
        n.background_last = std::min(frames_present - 1, peak + beyond);
    }
    return n;
}

// The searched frames' excess over the means of the frames around them, in pixel deviations.
std::optional<track_search_data> search_data(const needs& n) {
    if (!n.search || n.background_frames < 2) return std::nullopt;
    const std::int32_t side = 2 * n.search_half + 1;
    const std::size_t count = static_cast<std::size_t>(side) * static_cast<std::size_t>(side);
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    const double frames = n.background_frames;
    track_search_data d;
    d.peak_frame = n.peak_frame;
    d.first_frame = n.search_first;
    d.sigma = {n.search_half, std::vector<double>(count, none)};
    std::vector<double> mean(count, none);
    for (std::size_t i = 0; i < count; ++i) {
        if (n.sum[i] < 0.0) continue; // outside the frame
        mean[i] = n.sum[i] / frames;
        d.sigma.v[i] = std::sqrt(std::max(0.0, (n.sum_sq[i] - frames * mean[i] * mean[i]) / (frames - 1.0)));
    }
    for (std::int32_t f = n.search_first; f <= n.search_last; ++f) {
        window e{n.search_half, std::vector<double>(count, none)};
        if (const auto it = n.searched.find(f); it != n.searched.end())
            for (std::size_t i = 0; i < count; ++i)
                if (it->second[i] >= 0) e.v[i] = it->second[i] - mean[i];
        d.excess.push_back(std::move(e));
    }
    return d;
}

// The box's pixel means over one packet and the spread of its sum from frame to frame.
struct packet_box {
    std::vector<double> means; // box_side x box_side
    double sum_sigma = std::numeric_limits<double>::quiet_NaN();
};

packet_box measure_packet(const needs& n, std::int32_t first) {
    packet_box box;
    const std::size_t count = static_cast<std::size_t>(box_side * box_side);
    std::vector<std::int64_t> sums(count, 0);
    std::vector<std::int64_t> box_sums;
    for (auto it = n.boxes.lower_bound(first); it != n.boxes.end() && it->first < first + n.packet_size; ++it) {
        std::int64_t total = 0;
        for (std::size_t i = 0; i < count; ++i) {
            sums[i] += it->second[i];
            total += it->second[i];
        }
        box_sums.push_back(total);
    }
    if (box_sums.empty()) {
        box.means.assign(count, std::numeric_limits<double>::quiet_NaN());
        return box;
    }
    const double frames = static_cast<double>(box_sums.size());
    for (std::size_t i = 0; i < count; ++i) box.means.push_back(static_cast<double>(sums[i]) / frames);
    if (box_sums.size() > 1) {
        double mean = 0.0;
        for (const std::int64_t b : box_sums) mean += static_cast<double>(b);
        mean /= frames;
        double sq = 0.0;
        for (const std::int64_t b : box_sums) sq += (static_cast<double>(b) - mean) * (static_cast<double>(b) - mean);
        box.sum_sigma = std::sqrt(sq / (frames - 1.0));
    }
    return box;
}

double box_excess(const needs& n, std::int32_t frame, const packet_box& box) {
    const auto it = n.boxes.find(frame);
    if (it == n.boxes.end()) return std::numeric_limits<double>::quiet_NaN();
    double excess = 0.0;
    for (std::size_t i = 0; i < it->second.size(); ++i) excess += static_cast<double>(it->second[i]) - box.means[i];
    return excess;
}

// The measures the class is decided from: the peak frame's excess over the peak packet's mean
// and that mean around the place.
void measure_class(const detect::candidate& c, const needs& n, measured_candidate& m) {
    const std::size_t count = static_cast<std::size_t>((2 * class_half + 1) * (2 * class_half + 1));
    window mean{class_half, std::vector<double>(count, 0.0)};
    double frames = 0.0;
    for (auto it = n.windows.lower_bound(n.window_first); it != n.windows.end() && it->first <= n.window_last; ++it) {
        for (std::size_t i = 0; i < count; ++i)
            mean.v[i] += it->second[i] < 0 ? std::numeric_limits<double>::quiet_NaN() : it->second[i];
        frames += 1.0;
    }
    for (double& v : mean.v) v = frames > 0.0 ? v / frames : std::numeric_limits<double>::quiet_NaN();
    window excess{class_half, std::vector<double>(count, std::numeric_limits<double>::quiet_NaN())};
    if (const auto peak = n.windows.find(c.peak.frame); peak != n.windows.end())
        for (std::size_t i = 0; i < count; ++i)
            if (peak->second[i] >= 0) excess.v[i] = peak->second[i] - mean.v[i];
    m.measures = measure_place(excess, mean, c.peak.det.sigma);
    m.source_width = source_width(mean);
    const detect::candidate_frame& first = c.frames.empty() ? detect::candidate_frame{} : c.frames.front();
    const detect::candidate_frame& last = c.frames.empty() ? first : c.frames.back();
    m.start_x = c.frames.empty() ? c.peak.det.x : first.x;
    m.start_y = c.frames.empty() ? c.peak.det.y : first.y;
    m.end_x = c.frames.empty() ? c.peak.det.x : last.x;
    m.end_y = c.frames.empty() ? c.peak.det.y : last.y;
    m.track_first_frame = c.first_frame;
    m.track_last_frame = c.last_frame;
    if (c.last_frame > c.first_frame)
        m.speed = std::hypot(m.end_x - m.start_x, m.end_y - m.start_y) / (c.last_frame - c.first_frame);
}

measured_candidate measure(const detect::candidate& c, needs& n) {
    measured_candidate m;
    m.c = c;
    std::map<std::int32_t, packet_box> packets;
    for (const std::int32_t first : n.packets) packets.emplace(first, measure_packet(n, first));
    std::map<std::int32_t, std::int32_t> packet_of;
    for (const detect::candidate_frame& f : c.frames) packet_of[f.frame] = f.packet_first_frame;
    // Frames of the curve outside the candidate are compared with the peak's packet.
    const auto packet_for = [&](std::int32_t frame) -> const packet_box& {
        const auto it = packet_of.find(frame);
        return packets.at(it == packet_of.end() ? c.peak.packet_first_frame : it->second);
    };

    for (const detect::candidate_frame& f : c.frames)
        m.integrated_excess += box_excess(n, f.frame, packet_for(f.frame));

    const std::int32_t peak = c.peak.frame;
    m.curve.first_frame = std::max(0, peak - light_curve_reach);
    for (std::int32_t f = m.curve.first_frame; f <= peak + light_curve_reach && n.boxes.count(f) > 0; ++f)
        m.curve.excess.push_back(box_excess(n, f, packet_for(f)));
    m.curve.sigma = packets.at(c.peak.packet_first_frame).sum_sigma;

    measure_class(c, n, m);
    m.searched = n.found;

    for (auto& [frame, samples] : n.cuts) {
        cutout cut;
        cut.frame = frame;
        cut.left = c.peak.det.x - cutout_half;
        cut.top = c.peak.det.y - cutout_half;
        cut.samples = std::move(samples);
        m.cutouts.push_back(std::move(cut));
    }
    return m;
}

// Reads every frame some candidate needs once, in file order, and hands each its blocks.
void read_blocks(ser::ser_reader& reader, const std::vector<detect::candidate>& candidates, std::vector<needs>& all,
                 const vetting_limits& limits) {
    std::set<std::int32_t> frames;
    const std::int32_t present = reader.frames_present();
    for (const needs& n : all) {
        for (std::int32_t f = std::max(0, n.curve_first); f <= n.curve_last; ++f) frames.insert(f);
        for (std::int32_t f = n.cut_first; f <= n.cut_last; ++f) frames.insert(f);
        for (const std::int32_t first : n.packets)
            for (std::int32_t f = first; f < first + n.packet_size && f < present; ++f) frames.insert(f);
        frames.insert(n.peak_frame);
        for (std::int32_t f = n.background_first; f <= n.background_last; ++f) frames.insert(f);
    }
    if (frames.empty() || !reader.check_geometry()) return;
    const std::int32_t w = reader.width();
    const std::int32_t h = reader.height();
    struct row_span {
        std::int32_t top = 0, bottom = 0; // rows, both inside the frame
    };
    std::vector<row_span> spans;
    std::vector<std::vector<std::uint16_t>> samples; // of each span, kept from frame to frame
    for (const std::int32_t f : frames) {
        if (f < 0 || f >= present) continue;
        // Only the rows the blocks of this frame lie in are read, each run of them once.
        spans.clear();
        for (std::size_t k = 0; k < all.size(); ++k) {
            if (!all[k].wants_box(f) && !all[k].wants_cut(f) && !all[k].wants_window(f) && !all[k].wants_search(f))
                continue;
            std::int32_t half = all[k].wants_box(f) ? box_half : 0;
            if (all[k].wants_window(f)) half = std::max(half, class_half);
            if (all[k].wants_search(f)) half = std::max(half, all[k].search_half);
            if (all[k].wants_cut(f)) half = std::max(half, cutout_half);
            const std::int32_t y = candidates[k].peak.det.y;
            const std::int32_t top = std::max(y - half, 0), bottom = std::min(y + half, h - 1);
            if (top <= bottom) spans.push_back({top, bottom});
        }
        std::sort(spans.begin(), spans.end(), [](const row_span& a, const row_span& b) { return a.top < b.top; });
        std::size_t merged = 0;
        for (std::size_t k = 0; k < spans.size(); ++k) {
            if (merged > 0 && spans[k].top <= spans[merged - 1].bottom + 1)
                spans[merged - 1].bottom = std::max(spans[merged - 1].bottom, spans[k].bottom);
            else
                spans[merged++] = spans[k];
        }
        spans.resize(merged);
        if (samples.size() < spans.size()) samples.resize(spans.size());
        for (std::size_t k = 0; k < spans.size(); ++k) {
            const std::int32_t rows = spans[k].bottom - spans[k].top + 1;
            samples[k].resize(static_cast<std::size_t>(rows) * static_cast<std::size_t>(w));
            reader.read_rows(f, spans[k].top, rows, samples[k]);
        }
        // A block's rows inside the frame lie in the span of its centre row.
        static const std::vector<std::uint16_t> nothing;
        const auto rows_at = [&](std::int32_t y) -> frame_rows {
            for (std::size_t k = 0; k < spans.size(); ++k)
                if (y >= spans[k].top && y <= spans[k].bottom)
                    return {samples[k], w, spans[k].top, spans[k].bottom - spans[k].top + 1};
            return {nothing, w, 0, 0};
        };
        const auto cut = [&](const detect::detection& peak, std::int32_t half) {
            const std::int32_t side = 2 * half + 1;
            return cut_block(rows_at(peak.y), peak.x - half, peak.y - half, side, side);
        };
        for (std::size_t k = 0; k < all.size(); ++k) {
            const detect::detection& peak = candidates[k].peak.det;
            if (all[k].wants_box(f)) all[k].boxes[f] = cut(peak, box_half);
            if (all[k].wants_cut(f)) all[k].cuts[f] = cut(peak, cutout_half);
            if (all[k].wants_window(f)) all[k].windows[f] = cut(peak, class_half);
            if (all[k].wants_search(f)) all[k].take_search(f, rows_at(peak.y), peak.x, peak.y);
            // The search is made as soon as its last frame is in, and its samples let go.
            if (all[k].wants_search(f) && f == all[k].background_last) {
                if (const auto data = search_data(all[k])) all[k].found = search_track(*data, peak.x, peak.y, limits);
                all[k].searched.clear();
                all[k].sum = {};
                all[k].sum_sq = {};
            }
        }
    }
}

// The SER file's path as seen from inside the results folder, so that the files of a folder
// name it alike whoever scanned it and from where, and still find it when both are moved.
std::string path_from_folder(const std::string& path, const std::string& result_dir) {
    std::error_code ec;
    const std::filesystem::path file = std::filesystem::absolute(path, ec).lexically_normal();
    if (ec) return path;
    const std::filesystem::path folder = std::filesystem::absolute(result_dir, ec).lexically_normal();
    if (ec) return path;
    const std::filesystem::path rel = file.lexically_relative(folder);
    return rel.empty() ? file.string() : rel.string();
}

} // namespace

std::string observation::utc_text(std::int32_t frame) const {
    const auto t = times.utc_of(frame);
    return t ? ser::format_utc(*t) : std::string{};
}

std::int32_t last_frame_examined(const detect::pass_report& pass) {
    switch (pass.end) {
        case detect::pass_end::max_det_frames:
        case detect::pass_end::scattered:
            return pass.frame_reached; // the pass stood on the frame it had just examined
        case detect::pass_end::end_of_range:
        case detect::pass_end::stopped:
        case detect::pass_end::failed:
            break;
    }
    return pass.frame_reached - 1;
}

ser::frame_times frame_times_of(platform::file_system& fs, const detect::scan_job& job) {
    auto input = fs.open_read(job.path);
    if (!input) return {};
    ser::ser_reader reader(std::move(input.value()));
    reader.read_ser_header();
    return ser::read_frame_times(reader, job.fps);
}

std::vector<measured_candidate> classed_candidates(ser::ser_reader& reader, const detect::scan_job& job,
                                                   const scan_records& records, const vetting_limits& limits) {
    observation o;
    o.scattered = records.scattered;
    o.limits = limits;
    const std::vector<detect::candidate> candidates = detect::group_candidates(records.frames);
    const std::vector<char> search = track_searched(candidates, limits);
    std::vector<needs> all;
    for (std::size_t k = 0; k < candidates.size(); ++k)
        all.push_back(needs_of(candidates[k], reader.frames_present(), std::max(1, job.settings.packet_size),
                               search[k] != 0, limits));
    read_blocks(reader, candidates, all, limits);
    for (std::size_t k = 0; k < candidates.size(); ++k) o.candidates.push_back(measure(candidates[k], all[k]));
    classify(o);
    return std::move(o.candidates);
}

observation observe(ser::ser_reader& reader, const detect::scan_job& job, const std::string& result_dir,
                    const scan_records& records, const vetting_limits& limits, const moon_options& moon) {
    observation o;
    o.path = job.path;
    o.path_from_results = path_from_folder(job.path, result_dir);
    const std::size_t slash = job.path.find_last_of('/');
    o.name = slash == std::string::npos ? job.path : job.path.substr(slash + 1);
    o.size = reader.file().size();
    o.header = reader.header();
    o.frames_present = reader.frames_present();
    o.times = ser::read_frame_times(reader, job.fps);
    o.settings = job.settings;
    o.switches = job.switches;
    o.bit_shift = job.bit_shift;
    o.swap_bytes = job.swap_bytes;
    o.byte_order_warning = ser::byte_order_warning(reader);
    o.passes = records.passes;
    o.scattered = records.scattered;
    o.limits = limits;
    o.candidates = classed_candidates(reader, job, records, limits);
    const std::vector<std::int32_t> lowest = lowest_threshold_by_frame(o.passes, o.settings);
    std::vector<bool> examined(lowest.size());
    for (std::size_t f = 0; f < lowest.size(); ++f) examined[f] = lowest[f] > 0;
    // A candidate on a source has its noise counted among the sources (expect_noise), so their
    // pixels are left out of the mirror.
    const auto sources = [&](const std::vector<double>& mean, const std::vector<double>& sigma, std::int32_t w,
                             std::int32_t h) { return source_pixels(mean, sigma, w, h, limits.star_excess); };
    o.noise =
        fit_noise(detect::sweep_mirrored(reader, job.settings, job.switches, examined, sources), lowest, o.settings);
    expect_noise(o.candidates, o.noise);
    o.moon = observe_moon(reader, o.times, job.settings.start_frame, job.settings.packet_size, moon);
    for (measured_candidate& m : o.candidates) m.position = position_on_moon(o.moon, m.c, o.times);
    return o;
}

} // namespace serflash::report
