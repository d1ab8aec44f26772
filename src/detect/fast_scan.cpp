#include "detect/fast_scan.h"

#include "detect/batch_progress.h"
#include "detect/fast_kernels.h"
#include "detect/frame_hits.h"
#include "detect/packet_buffers.h"
#include "detect/passes.h"
#include "detect/read_ahead.h"
#include "detect/rules.h"
#include "detect/snapshots.h"
#include "detect/work_pool.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

namespace serflash::detect {
namespace {

using fast::candidate;

constexpr std::int64_t int32_max = std::numeric_limits<std::int32_t>::max();

// A frame that a pass saves: its detections at the pass's threshold.
struct kept_frame : frame_hits {
    bool withdrawn = false; // passed over for its scatter (when passes go on past such frames)
};

// What a pass needs to go on from a frame withdrawn for its scatter: the star map left by the
// packet it was in and, when no whole packet follows, the maps the remainder is tested against.
struct carried_state {
    std::int32_t packet_first_frame = 0; // of the maps
    big_vector<std::int32_t> star_map;
    big_vector<double> mean_map, sigma_map;
};

// The rows [first, second) of `height` that part `part` of `parts` works on.
std::pair<std::int32_t, std::int32_t> part_rows(unsigned part, unsigned parts, std::int32_t height) {
    return {static_cast<std::int32_t>(std::int64_t{height} * part / parts),
            static_cast<std::int32_t>(std::int64_t{height} * (part + 1) / parts)};
}

enum class trace_end { running, capped, scattered, finished, stopped };

// The course of one pass at one threshold through the frames of a sweep, recorded until it
// saves `cap` frames, meets a frame withdrawn for its scatter, or the frames end.
struct pass_trace {
    std::int32_t threshold = 0;
    std::int32_t cap = 0;
    std::vector<kept_frame> saved; // in frame order, with any frames passed over
    std::int64_t saved_count = 0;  // of them, those not passed over
    trace_end end = trace_end::running;
    std::int32_t end_frame = 0; // finished, stopped: the frame after the last; scattered: that frame
    bool scatter_all_recur = true;
    std::int32_t scatter_points = 0;
    hit_extent scatter_extent;
    std::int32_t packets_after = -1; // whole packets left after the scattered frame's; -1: none, remainder
    std::shared_ptr<const carried_state> carried;
    bool keeps_above_scatter = false; // the pass over every frame: see threshold_above_scatter

    bool running() const { return end == trace_end::running; }

    // Returns true when the frame is withdrawn for its scatter and the trace ends there. In a
    // remainder, a pass that goes on past such frames records it and goes on.
    bool take(std::int32_t frame, std::int32_t packet_first, const std::vector<candidate>& cands,
              const scan_settings& cfg, bool in_remainder) {
        kept_frame kf;
        for (const candidate& c : cands)
            if (c.top_threshold >= threshold) kf.add(c.row, c.col, c.sample, c.mean, c.sigma);
        const std::int32_t count = kf.count();
        if (count == 0) return false;
        kf.record.frame = frame;
        kf.record.packet_first_frame = packet_first;
        bool scattered = is_scattered(count, kf.extent, cfg);
        if (scattered && keeps_above_scatter) {
            std::vector<ranked_hit> ranked;
            for (const candidate& c : cands)
                if (c.top_threshold >= threshold) ranked.push_back({c.row, c.col, c.top_threshold});
            if (const std::int32_t raised = threshold_above_scatter(ranked, threshold, cfg); raised > 0) {
                kept_frame above;
                above.raised_threshold = raised;
                for (const candidate& c : cands)
                    if (c.top_threshold >= raised) above.add(c.row, c.col, c.sample, c.mean, c.sigma);
                above.record.frame = frame;
                above.record.packet_first_frame = packet_first;
                kf = std::move(above);
                scattered = false;
            }
        }
        if (scattered && cfg.continue_after_scatter && in_remainder) {
            kf.withdrawn = true;
            saved.push_back(std::move(kf));
            return false;
        }
        if (scattered) {
            end = trace_end::scattered;
            end_frame = frame;
            scatter_all_recur = kf.all_recur;
            scatter_points = count;
            scatter_extent = kf.extent;
            return true;
        }
        saved.push_back(std::move(kf));
        if (++saved_count >= cap) end = trace_end::capped;
        return false;
    }
};

struct sweep_plan {
    std::int32_t first_frame = 0;
    std::int32_t whole_packets = 0;
    std::int32_t remainder = 0;
    const carried_state* start = nullptr; // null: the start of a pass (no stars yet)
};

class fast_scanner final : public pass_runner {
public:
    fast_scanner(const scan_context& ctx, const fast_scan_options& options)
        : ctx_(ctx),
          pool_(work_pool::workers_for(ctx.cores.threads(options.threads))),
          chunk_bytes_(options.chunk_bytes),
          band_bytes_(options.band_bytes),
          kernel_(options.kernel),
          grey_(ctx.settings.brightness) {}

    scan_outcome run();

    display::display_bitmap& picture() override { return disp_; }
    bool prepare(scan_run& run) override;
    run_end run_pass(scan_run& run) override;
    void before_closing(scan_run& run) override;
    // The traces were recorded with the settings before: the next pass is swept afresh, alone.
    void settings_changed(scan_run&) override {
        traces_.clear();
        only_asked_ = true;
    }

private:
    bool prepare_arrays();
    run_end replay_pass();
    pass_trace* trace_for(std::int32_t threshold);
    void emit(const kept_frame& kf);
    void write_snapshots();

    bool sweep(const sweep_plan& plan, const std::vector<pass_trace*>& traces, bool report_progress);
    void sum_packet(std::int32_t first_frame);
    void finish_packet();
    void collect_candidates(std::int32_t first_frame);
    void ensure_limits();
    void test_frames(std::int32_t first_frame, std::int32_t count, std::vector<std::vector<candidate>>& out);
    void read_frames(std::int32_t first, std::int32_t count, std::uint8_t* dst);
    std::uint8_t* chunk_buffer(std::size_t frames);
    std::shared_ptr<const carried_state> carry(bool with_maps);
    void progress(std::int32_t frame);

    // The settings in force.
    const scan_settings& cfg() const { return run_->settings; }

    const scan_context& ctx_;
    scan_run* run_ = nullptr; // the scan under way, from prepare on
    work_pool pool_;
    std::size_t chunk_bytes_;
    std::size_t band_bytes_;
    fast::summing_kernel kernel_;

    fast::frame_geometry geom_;
    display::grey_table grey_;     // snapshots are drawn without level marks
    display::display_bitmap disp_; // the header and size of every snapshot's bitmap
    big_vector<double> mean_, sigma_;
    big_vector<std::uint16_t> limits_;           // made when whole frames are tested
    bool limits_ready_ = false;                  // limits_ follow the maps
    big_vector<std::int32_t> stars_, new_stars_; // made when the star mask is on
    big_vector<std::uint8_t> marks_;             // made when a mask is on
    big_vector<std::uint16_t> chunk_;            // 16-bit storage keeps 16-bit samples aligned
    std::vector<std::uint8_t> scratch_;          // the file's bytes of colour frames
    struct band_worker {
        fast::band_accumulator acc;
        big_vector<std::uint16_t> buffer;  // frames of the band being summed
        std::vector<std::uint8_t> scratch; // the file's bytes of colour frames
    };
    std::vector<band_worker> band_workers_;                  // one per worker
    std::vector<std::vector<fast::pixel_peaks>> band_peaks_; // of the packet just summed, by band
    std::vector<std::vector<candidate>> packet_cands_;
    std::map<std::int32_t, std::unique_ptr<pass_trace>> traces_;
    std::vector<saved_frame> snapshots_; // emitted, not yet written
    bool first_sweep_done_ = false;
    bool only_asked_ = false;           // sweep only the threshold asked for
    std::int32_t packet_first_ = 0;     // first frame of the packet in the maps
    std::unique_ptr<read_ahead> ahead_; // made for the first packet summed in bands
};

void fast_scanner::progress(std::int32_t frame) {
    if (!run_->hooks().progress) return;
    scan_progress p;
    p.file_index = run_->ctx.file_index;
    p.file_count = run_->ctx.file_count;
    p.threshold = run_->cursor.threshold;
    p.frame = frame;
    p.start_frame = cfg().start_frame;
    p.end_frame = cfg().end_frame;
    p.pass = static_cast<std::int32_t>(run_->outcome.passes.size()) + 1;
    // The first sweep reads the range once for every pass; the batch keeps the furthest point.
    p.file_fraction = file_fraction_of_sweep(frame, p.start_frame, p.end_frame);
    run_->hooks().progress(p);
}

std::uint8_t* fast_scanner::chunk_buffer(std::size_t frames) {
    auto& buf = chunk_;
    const std::size_t need = (frames * geom_.frame_bytes() + 1) / 2;
    if (buf.size() < need) buf.resize(need);
    return reinterpret_cast<std::uint8_t*>(buf.data());
}

void fast_scanner::read_frames(std::int32_t first, std::int32_t count, std::uint8_t* dst) {
    for (std::int32_t k = 0; k < count; ++k)
        run_->reader().read_raw_rows(first + k, 0, geom_.height,
                                     dst + static_cast<std::size_t>(k) * geom_.frame_bytes(), scratch_);
}

// Sums the packet of packet_size frames from first_frame band of rows by band: each worker takes
// a band and reads that band of every frame of the packet, a few frames at a time, so that the
// band's sums and the frames read stay in the worker's cache; the reads are copies from the page
// cache into small buffers. A finished band leaves its rows of the maps and its pixels worth a
// closer look.
void fast_scanner::sum_packet(std::int32_t first_frame) {
    const std::int32_t packet = cfg().packet_size;
    const std::int32_t h = geom_.height;
    const std::size_t row_bytes = geom_.frame_bytes() / static_cast<std::size_t>(h); // of the plane examined
    ser::ser_reader& reader = run_->reader();
    platform::input_file& file = reader.file();
    // Read-ahead: this packet and the next one are fetched in file order while the workers sum,
    // so that the disk never waits for the arithmetic and no worker waits for the disk in frame
    // order (the bands read a packet's frames out of file order). Files that cannot be read
    // from several threads get the hint only.
    const std::int64_t ahead =
        std::min<std::int64_t>(2 * std::int64_t{packet}, std::int64_t{cfg().end_frame} + 1 - first_frame);
    const std::int64_t packet_pos = reader.frame_offset(first_frame);
    const std::int64_t ahead_bytes = std::max<std::int64_t>(ahead, packet) * reader.frame_bytes();
    const bool concurrent = file.concurrent_reads() && run_->ctx.cores.reader_thread();
    if (concurrent) {
        if (!ahead_) ahead_ = std::make_unique<read_ahead>(file);
        ahead_->want(packet_pos, packet_pos + ahead_bytes);
    } else {
        file.will_need(packet_pos, ahead_bytes);
    }

    const unsigned parts = pool_.parts();
    constexpr std::size_t state_per_pixel = 34; // sums and largest samples
    // No band size asked for: one band per worker.
    const std::size_t wanted_rows = band_bytes_ != 0
                                        ? band_bytes_ / (static_cast<std::size_t>(geom_.width) * state_per_pixel)
                                        : (static_cast<std::size_t>(h) + parts - 1) / parts;
    const auto band_rows = static_cast<std::int32_t>(std::clamp<std::size_t>(
        wanted_rows, std::min<std::size_t>(8, static_cast<std::size_t>(h)), static_cast<std::size_t>(h)));
    const std::int32_t bands = (h + band_rows - 1) / band_rows;
    const std::size_t buffer_rows = static_cast<std::size_t>(band_rows) + 2;
    const std::size_t step_bytes = band_bytes_ != 0 ? band_bytes_ : std::size_t{2} << 20;
    const auto per_step = static_cast<std::int32_t>(
        std::clamp<std::size_t>(step_bytes / (buffer_rows * row_bytes), 1, static_cast<std::size_t>(packet)));
    if (band_workers_.size() < parts) {
        band_workers_ = std::vector<band_worker>(parts);
        for (band_worker& w : band_workers_) w.acc.use_kernel(kernel_);
    }
    band_peaks_.resize(static_cast<std::size_t>(bands));
    std::atomic<std::int32_t> next_band{0};
    std::mutex read_mutex;

    pool_.run(parts, [&](unsigned part) {
        band_worker& worker = band_workers_[part];
        const std::size_t need = (static_cast<std::size_t>(per_step) * buffer_rows * row_bytes + 1) / 2;
        if (worker.buffer.size() < need) worker.buffer.resize(need);
        auto* bytes = reinterpret_cast<std::uint8_t*>(worker.buffer.data());
        for (std::int32_t b = next_band++; b < bands; b = next_band++) {
            const std::int32_t r0 = b * band_rows;
            const std::int32_t r1 = std::min(h, r0 + band_rows);
            const std::int32_t first_row = std::max(r0 - 1, 0);
            const std::int32_t rows = std::min(r1 + 1, h) - first_row;
            const std::size_t length = static_cast<std::size_t>(rows) * row_bytes;
            worker.acc.start(geom_, r0, r1);
            for (std::int32_t k0 = 0; k0 < packet; k0 += per_step) {
                const std::int32_t n = std::min(per_step, packet - k0);
                for (std::int32_t k = 0; k < n; ++k) {
                    std::uint8_t* dst = bytes + static_cast<std::size_t>(k) * length;
                    if (concurrent) {
                        reader.read_raw_rows(first_frame + k0 + k, first_row, rows, dst, worker.scratch);
                    } else {
                        std::lock_guard<std::mutex> lock(read_mutex);
                        reader.read_raw_rows(first_frame + k0 + k, first_row, rows, dst, worker.scratch);
                    }
                }
                worker.acc.add(bytes, n, k0, first_row, rows);
            }
            auto& peaks = band_peaks_[static_cast<std::size_t>(b)];
            peaks.clear();
            worker.acc.finish(packet, mean_.data(), sigma_.data(), peaks);
        }
    });
    limits_ready_ = false;
}

// Masks of the packet just summed.
void fast_scanner::finish_packet() {
    const unsigned parts = pool_.parts();
    const std::int32_t h = geom_.height;
    const mask_switches sw = run_->ctx.switches;
    const std::size_t pixels = geom_.pixels();
    if ((sw.red || sw.blue || sw.stars) && marks_.size() != pixels) marks_.assign(pixels, 0);
    if (sw.stars && stars_.size() != pixels) stars_.assign(pixels, 0);
    if (sw.stars && new_stars_.size() != pixels) new_stars_.assign(pixels, 0);
    const auto w = static_cast<std::size_t>(geom_.width);
    const auto mark_inner = [&](auto&& test) {
        std::fill(marks_.begin(), marks_.end(), std::uint8_t{0});
        if (!geom_.has_inner()) return;
        for (std::int32_t j = inner_margin; j < geom_.height - inner_margin; ++j)
            for (std::size_t c = inner_margin; c < w - inner_margin; ++c) {
                const std::size_t i = static_cast<std::size_t>(j) * w + c;
                if (test(i)) marks_[i] = 1;
            }
    };
    if (sw.red) {
        mark_inner([&](std::size_t i) { return red_marked(mean_[i], cfg()); });
        fast::dilate_marks(geom_, marks_.data(), cfg().red_mask_half, sigma_.data());
    }
    if (sw.blue) {
        mark_inner([&](std::size_t i) { return blue_marked(mean_[i], cfg()); });
        fast::dilate_marks(geom_, marks_.data(), cfg().blue_mask_half, sigma_.data());
    }
    if (sw.stars) {
        mark_inner([&](std::size_t i) { return stars_[i] != 0; });
        fast::dilate_marks(geom_, marks_.data(), cfg().star_mask_half, sigma_.data());
        pool_.run(parts, [&](unsigned part) {
            const auto [r0, r1] = part_rows(part, parts, h);
            fast::find_stars(geom_, cfg(), mean_.data(), new_stars_.data(), r0, r1);
        });
        stars_.swap(new_stars_);
    }
    for (std::size_t k = 0; k < 4; ++k) {
        const pixel_rect r = rect_bounds(cfg().mask_ul[k], cfg().mask_lr[k], geom_.width, geom_.height);
        for (std::int32_t y = r.y0; y <= r.y1; ++y)
            std::fill_n(sigma_.data() + static_cast<std::size_t>(y) * w + static_cast<std::size_t>(r.x0),
                        r.x1 - r.x0 + 1, mask_value);
    }
}

// The limits of every inner pixel against the current maps, for testing whole frames.
void fast_scanner::ensure_limits() {
    if (limits_ready_) return;
    if (limits_.size() != geom_.pixels()) limits_.assign(geom_.pixels(), 65535);
    const unsigned parts = pool_.parts();
    const std::int32_t h = geom_.height;
    pool_.run(parts, [&](unsigned part) {
        const auto [r0, r1] = part_rows(part, parts, h);
        fast::compute_limits(geom_, mean_.data(), sigma_.data(), limits_.data(), r0, r1);
    });
    limits_ready_ = true;
}

// Tests `count` frames from first_frame in full against the current maps, chunk by chunk,
// the frames of a chunk shared among the workers.
void fast_scanner::test_frames(std::int32_t first_frame, std::int32_t count, std::vector<std::vector<candidate>>& out) {
    const auto per_chunk = static_cast<std::int32_t>(std::clamp<std::size_t>(
        chunk_bytes_ / std::max<std::size_t>(geom_.frame_bytes(), 1), 1, static_cast<std::size_t>(std::max(count, 1))));
    out.resize(static_cast<std::size_t>(count));
    ensure_limits();
    for (std::int32_t done = 0; done < count;) {
        const std::int32_t n = std::min(per_chunk, count - done);
        std::uint8_t* frames = chunk_buffer(static_cast<std::size_t>(n));
        read_frames(first_frame + done, n, frames);
        pool_.run(static_cast<unsigned>(n), [&, frames, done](unsigned k) {
            auto& list = out[static_cast<std::size_t>(done) + k];
            list.clear();
            fast::test_frame(geom_, cfg(), frames + k * geom_.frame_bytes(), mean_.data(), sigma_.data(),
                             limits_.data(), list);
        });
        done += n;
    }
}

// The candidates of every frame of the packet just finished: from the largest samples where
// they tell everything, else by testing the frames again.
void fast_scanner::collect_candidates(std::int32_t first_frame) {
    const std::int32_t packet = cfg().packet_size;
    packet_cands_.resize(static_cast<std::size_t>(packet));
    for (auto& list : packet_cands_) list.clear();
    if (!geom_.has_inner()) return;
    // The limits of the pixels worth a look, against the masked maps.
    std::vector<std::uint16_t> limit_of;
    for (const auto& band : band_peaks_)
        for (const fast::pixel_peaks& p : band)
            limit_of.push_back(sample_limit(mean_[p.index], sigma_[p.index], lowest_threshold));
    std::vector<char> retest(static_cast<std::size_t>(packet), 0);
    std::int32_t retest_count = 0;
    bool all_again = false;
    std::size_t n = 0;
    for (const auto& band : band_peaks_) {
        for (const fast::pixel_peaks& p : band) {
            const std::uint16_t limit = limit_of[n++];
            if (p.sample[1] <= limit) continue;
            if (p.sample[3] > limit) { // four or more frames pass here
                all_again = true;
                break;
            }
            const auto mark = [&](std::uint16_t f) {
                if (retest[f] == 0) ++retest_count;
                retest[f] = 1;
            };
            mark(p.frame[1]);
            if (p.sample[2] > limit) mark(p.frame[2]);
        }
        if (all_again) break;
    }
    if (all_again || retest_count > std::max(packet / 8, 1)) {
        test_frames(first_frame, packet, packet_cands_);
        return;
    }
    std::vector<std::vector<candidate>> one;
    for (std::int32_t f = 0; f < packet; ++f) {
        if (retest[static_cast<std::size_t>(f)] == 0) continue;
        test_frames(first_frame + f, 1, one);
        packet_cands_[static_cast<std::size_t>(f)] = std::move(one[0]);
        one.clear();
    }
    n = 0;
    for (const auto& band : band_peaks_) {
        for (const fast::pixel_peaks& p : band) {
            const std::uint16_t limit = limit_of[n++];
            if (p.sample[0] <= limit) continue;
            const std::uint16_t f = p.frame[0];
            if (retest[f] != 0) continue;
            candidate cand;
            if (fast::make_candidate(geom_, cfg(), mean_.data(), sigma_.data(), p.index, p.sample[0], p.neighbour,
                                     cand))
                packet_cands_[f].push_back(cand);
        }
    }
}

std::shared_ptr<const carried_state> fast_scanner::carry(bool with_maps) {
    auto c = std::make_shared<carried_state>();
    c->packet_first_frame = packet_first_;
    c->star_map = stars_;
    if (with_maps) {
        c->mean_map = mean_;
        c->sigma_map = sigma_;
    }
    return c;
}

// One sequential read of the frames of `plan` for all the traces at once. Returns false when
// the user asked to stop (the running traces then end where the sweep stopped).
bool fast_scanner::sweep(const sweep_plan& plan, const std::vector<pass_trace*>& traces, bool report_progress) {
    const auto any_running = [&] {
        return std::any_of(traces.begin(), traces.end(), [](const pass_trace* t) { return t->running(); });
    };
    if (plan.start != nullptr) {
        stars_ = plan.start->star_map;
        if (plan.whole_packets == 0 && !plan.start->mean_map.empty()) {
            packet_first_ = plan.start->packet_first_frame;
            mean_ = plan.start->mean_map;
            sigma_ = plan.start->sigma_map;
            limits_ready_ = false;
        }
    } else {
        std::fill(stars_.begin(), stars_.end(), 0);
    }
    std::int32_t frame = plan.first_frame;
    bool stopped = false;
    for (std::int32_t k = 0; k < plan.whole_packets && any_running() && !stopped; ++k) {
        sum_packet(frame);
        if (report_progress) progress(frame + cfg().packet_size - 1);
        packet_first_ = frame;
        finish_packet();
        collect_candidates(frame);
        const bool last = k == plan.whole_packets - 1;
        std::shared_ptr<const carried_state> carried;
        for (std::int32_t f = 0; f < cfg().packet_size; ++f) {
            for (pass_trace* t : traces) {
                if (!t->running()) continue;
                if (t->take(frame + f, packet_first_, packet_cands_[static_cast<std::size_t>(f)], cfg(), false)) {
                    // The frames after this packet are examined against its maps when no whole
                    // packet follows the place the pass goes on from.
                    const bool maps_needed = cfg().continue_after_scatter
                                                 ? std::int64_t{cfg().end_frame} - (frame + f) < cfg().packet_size
                                                 : last && plan.remainder != 0;
                    if (!carried || (maps_needed && carried->mean_map.empty())) carried = carry(maps_needed);
                    t->carried = carried;
                    t->packets_after = plan.whole_packets - 1 - k;
                }
            }
        }
        frame += cfg().packet_size;
        if (run_->hooks().should_stop()) stopped = true;
    }
    if (!stopped && plan.remainder > 0 && any_running()) {
        std::vector<std::vector<candidate>> cands;
        for (std::int32_t done = 0; done < plan.remainder && any_running() && !stopped;) {
            const std::int32_t n = std::min(plan.remainder - done, std::max(cfg().packet_size, 1));
            test_frames(frame, n, cands);
            for (std::int32_t f = 0; f < n; ++f)
                for (pass_trace* t : traces)
                    if (t->running())
                        t->take(frame + f, packet_first_, cands[static_cast<std::size_t>(f)], cfg(), true);
            frame += n;
            done += n;
            if (report_progress) progress(frame - 1);
            if (run_->hooks().should_stop()) stopped = true;
        }
    }
    for (pass_trace* t : traces) {
        if (!t->running()) continue;
        t->end = stopped ? trace_end::stopped : trace_end::finished;
        t->end_frame = frame;
    }
    return !stopped;
}

// The recorded course of a pass at `threshold` from the start of the frame range; sweeps the
// file when no sweep has recorded it yet.
pass_trace* fast_scanner::trace_for(std::int32_t threshold) {
    if (auto it = traces_.find(threshold); it != traces_.end()) return it->second.get();
    std::vector<std::int32_t> wanted;
    const std::int64_t step = cfg().threshold_step;
    const auto want = [&](std::int64_t t) {
        if (t >= lowest_threshold && t <= int32_max && traces_.find(static_cast<std::int32_t>(t)) == traces_.end())
            wanted.push_back(static_cast<std::int32_t>(t));
    };
    want(threshold);
    // The thresholds the lowering passes reach next, a bounded number per sweep so that memory
    // does not grow with the initial threshold typed in.
    const std::int64_t lowerings_per_sweep = only_asked_ ? 0 : 1024;
    for (std::int64_t t = std::int64_t{threshold} - step, n = 0; t >= lowest_threshold && n < lowerings_per_sweep;
         t -= step, ++n)
        want(t);
    // Frames saved at a pass are rare, so a trace costs little: record many raises at once,
    // and many more once a file has shown that it needs more than the first sweep recorded.
    const std::int64_t raises = only_asked_ ? 0 : first_sweep_done_ ? 256 : 24;
    for (std::int64_t r = 1; r <= raises; ++r) want(threshold + r * step);
    first_sweep_done_ = true;

    std::vector<pass_trace*> list;
    for (std::int32_t t : wanted) {
        auto trace = std::make_unique<pass_trace>();
        trace->threshold = t;
        trace->cap = cfg().max_det_frames;
        trace->keeps_above_scatter = run_->cursor.every_frame_pass;
        list.push_back(trace.get());
        traces_[t] = std::move(trace);
    }
    const std::int32_t range = cfg().end_frame - cfg().start_frame + 1;
    sweep_plan plan;
    plan.first_frame = cfg().start_frame;
    plan.whole_packets = range / cfg().packet_size;
    plan.remainder = range % cfg().packet_size;
    sweep(plan, list, true);
    return traces_[threshold].get();
}

void fast_scanner::emit(const kept_frame& kf) {
    // The packet is the one the straightforward scan would have in its maps at this frame.
    run_->cursor.packet_first_frame = kf.record.packet_first_frame;
    snapshots_.push_back(save_frame(*run_, kf));
}

// Writes the snapshots emitted so far, after the sweeps: the workers share them, each reading
// its frame, drawing, boxing and writing it, while the others draw and write theirs. Snapshot
// files are independent, and two snapshots of one name hold the same picture. One frame and
// bitmap per worker are held at once, the first of them the scan's own bitmap; failures are
// reported in snapshot order.
void fast_scanner::write_snapshots() {
    if (snapshots_.empty()) return;
    if (cfg().snapshots == snapshot_format::none) {
        snapshots_.clear();
        return;
    }
    const snapshot_output output = run_->snapshot_out();
    const std::size_t pixels = geom_.pixels();
    const bool parallel = run_->fs.concurrent_writes();
    ser::ser_reader& reader = run_->reader();
    const bool concurrent_reads = reader.file().concurrent_reads();
    struct slot {
        bool made = false;
        big_vector<std::uint16_t> frame; // the frame's samples as the scan reads them
        std::vector<std::uint8_t> scratch;
        display::display_bitmap disp;
        platform::status failure;
    };
    const std::size_t slots = parallel ? std::max<std::size_t>(pool_.parts(), 1) : 1;
    std::vector<slot> work(std::min(slots, snapshots_.size()));
    // The scan's bitmap has the header and the size every snapshot needs: the first worker
    // draws into it (lent for the while), the others into bitmaps of their own made alike.
    const std::size_t bitmap_bytes = disp_.disp_buf.size();
    struct lent_bitmap {
        std::vector<std::uint8_t>& owner;
        std::vector<std::uint8_t>& borrower;
        ~lent_bitmap() { owner.swap(borrower); }
    };
    if (pixels > 0) work[0].disp.disp_buf.swap(disp_.disp_buf);
    const lent_bitmap lent{disp_.disp_buf, work[0].disp.disp_buf};
    std::vector<std::string> paths;
    for (const saved_frame& f : snapshots_) paths.push_back(snapshot_name(run_->ctx.result_dir, f, output.format));
    std::mutex reader_mutex;
    for (std::size_t first = 0; first < snapshots_.size(); first += work.size()) {
        const std::size_t n = std::min(work.size(), snapshots_.size() - first);
        const auto draw_and_write = [&](unsigned k) {
            slot& s = work[k];
            if (!s.made && pixels > 0) { // made by the worker that uses it
                s.made = true;
                s.frame.resize((geom_.frame_bytes() + 1) / 2);
                s.disp.disp_info = disp_.disp_info;
                if (k != 0) s.disp.disp_buf.resize(bitmap_bytes);
            }
            auto* bytes = reinterpret_cast<std::uint8_t*>(s.frame.data());
            const std::int32_t frame = snapshots_[first + k].frame;
            if (concurrent_reads) {
                reader.read_raw_rows(frame, 0, geom_.height, bytes, s.scratch);
            } else {
                const std::lock_guard<std::mutex> lock(reader_mutex);
                reader.read_raw_rows(frame, 0, geom_.height, bytes, s.scratch);
            }
            if (pixels > 0 && s.disp.disp_buf.size() >= pixels * 4 && s.disp.width() == geom_.width &&
                s.disp.height() == geom_.height) {
                if (geom_.eight_bit)
                    grey_.render(bytes, pixels, s.disp.disp_buf.data());
                else
                    grey_.render(s.frame.data(), pixels, s.disp.disp_buf.data());
            }
            s.failure = write_frame_snapshot(run_->fs, run_->ctx.result_dir, snapshots_[first + k], s.disp, output);
        };
        if (parallel)
            pool_.run(static_cast<unsigned>(n), draw_and_write);
        else
            for (unsigned k = 0; k < n; ++k) draw_and_write(k);
        for (std::size_t k = 0; k < n; ++k) {
            if (run_->hooks().repaint) run_->hooks().repaint();
            if (!work[k].failure) report_snapshot_failure(*run_, paths[first + k], work[k].failure.reason());
        }
    }
    snapshots_.clear();
}

// One pass at the cursor's threshold from start_frame: what detect_in_packet over its packets and the
// remainder would have written.
run_end fast_scanner::replay_pass() {
    pass_trace* trace = trace_for(run_->cursor.threshold);
    std::unique_ptr<pass_trace> going_on;
    for (;;) {
        for (const kept_frame& kf : trace->saved) {
            if (kf.withdrawn) {
                run_->cursor.cur_frame = kf.record.frame;
                withdraw_scattered_frame(*run_, kf.record.detection_count, kf.extent, kf.all_recur);
                continue;
            }
            emit(kf);
            progress(kf.record.frame);
            if (run_->cursor.det_frames >= cfg().max_det_frames) {
                run_->cursor.cur_frame = kf.record.frame;
                return run_end::max_det_frames;
            }
        }
        switch (trace->end) {
            case trace_end::running:
            case trace_end::finished:
                run_->cursor.cur_frame = trace->end_frame;
                return run_end::went_on;
            case trace_end::stopped:
                run_->cursor.cur_frame = trace->end_frame;
                run_->outcome.stopped = true;
                return run_end::went_on;
            case trace_end::capped:
                // A trace is capped at the frames left before max_det_frames: never reached here.
                run_->cursor.cur_frame = trace->saved.empty() ? cfg().start_frame : trace->saved.back().record.frame;
                return run_end::max_det_frames;
            case trace_end::scattered:
                break;
        }
        run_->cursor.cur_frame = trace->end_frame;
        withdraw_scattered_frame(*run_, trace->scatter_points, trace->scatter_extent, trace->scatter_all_recur);
        sweep_plan plan;
        if (cfg().continue_after_scatter) {
            // The next packet starts after the withdrawn frame.
            plan.first_frame = trace->end_frame + 1;
            const std::int32_t left = cfg().end_frame - trace->end_frame;
            plan.whole_packets = left / cfg().packet_size;
            plan.remainder = left % cfg().packet_size;
        } else {
            if (trace->packets_after < 0) return run_end::went_on;
            // The next packet starts at the withdrawn frame.
            plan.first_frame = trace->end_frame;
            plan.whole_packets = trace->packets_after;
            plan.remainder = (cfg().end_frame - cfg().start_frame + 1) % cfg().packet_size;
        }
        // Compute the rest of this pass afresh.
        auto next = std::make_unique<pass_trace>();
        next->threshold = run_->cursor.threshold;
        next->cap = cfg().max_det_frames - run_->cursor.det_frames;
        next->keeps_above_scatter = trace->keeps_above_scatter;
        plan.start = trace->carried.get();
        const std::shared_ptr<const carried_state> keep = trace->carried;
        sweep(plan, {next.get()}, true);
        going_on = std::move(next);
        trace = going_on.get();
    }
}

bool fast_scanner::prepare_arrays() {
    const std::int32_t w = run_->ctx.width();
    const std::int32_t h = run_->ctx.height();
    geom_.width = w;
    geom_.height = h;
    geom_.eight_bit = run_->reader().scan_sample_bytes() == 1;
    const std::size_t pixels = geom_.pixels();
    try {
        // Every packet writes both maps in full, band by band on the workers.
        mean_.resize(pixels);
        sigma_.resize(pixels);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

scan_outcome fast_scanner::run() {
    if (ctx_.reader == nullptr || !fast_scan_applies(*ctx_.reader, ctx_.settings)) return run_scan(ctx_);
    return drive_scan(ctx_, *this);
}

bool fast_scanner::prepare(scan_run& run) {
    run_ = &run;
    return prepare_arrays();
}

run_end fast_scanner::run_pass(scan_run& run) {
    try {
        return replay_pass();
    } catch (const std::bad_alloc&) {
        // As when the straightforward scan cannot have the work arrays of a packet.
        report_no_packet_memory(run.hooks());
        return run_end::failed;
    }
}

void fast_scanner::before_closing(scan_run& run) {
    try {
        write_snapshots();
    } catch (const std::bad_alloc&) {
        report_snapshot_failure(run, run.ctx.result_dir, "no memory");
    }
}

} // namespace

bool fast_scan_applies(const ser::ser_reader& reader, const scan_settings& settings) {
    // Packets whose sums need more than 32 bits, and sample depths whose frames the reader gives
    // as zeros, take the reference scan.
    return settings.packet_size <= fast::longest_tracked_packet && (reader.depth() == 8 || reader.depth() == 16);
}

scan_outcome fast_scan(const scan_context& ctx, const fast_scan_options& options) {
    fast_scanner scanner(ctx, options);
    return scanner.run();
}

file_scanner make_fast_scanner(const fast_scan_options& options) {
    return [options](const scan_context& ctx) { return fast_scan(ctx, options); };
}

} // namespace serflash::detect
