#include "sensitivity/sensitivity.h"

#include "detect/candidates.h"
#include "detect/fast_scan.h"
#include "detect/passes.h"
#include "detect/rules.h"
#include "detect/packet_buffers.h"
#include "detect/work_pool.h"
#include "report/observation.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <mutex>
#include <thread>

namespace serflash::sensitivity {
namespace {

// Draws of a place for one flash before it is given up (a frame masked almost everywhere).
constexpr int place_draws = 4000;
// Memory the injected runs scanned at once may take together, at about 40 bytes per sample each.
constexpr std::int64_t runs_memory = std::int64_t{2} << 30;
constexpr std::int64_t run_bytes_per_sample = 40;
constexpr std::int64_t run_fixed_bytes = std::int64_t{16} << 20;

// A small generator with a fixed algorithm (splitmix64), so that a seed gives the same flashes
// with every compiler and library.
class random_stream {
public:
    explicit random_stream(std::uint64_t seed) : state_(seed) {}
    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ULL);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n), n > 0, without the bias of a plain remainder.
    std::uint64_t below(std::uint64_t n) {
        const std::uint64_t floor = (0 - n) % n;
        for (;;)
            if (const std::uint64_t r = next(); r >= floor) return r % n;
    }
    std::int32_t below(std::int32_t n) { return static_cast<std::int32_t>(below(static_cast<std::uint64_t>(n))); }

private:
    std::uint64_t state_;
};

// One stream per purpose and index, so that drawing one thing never shifts another.
random_stream stream_for(std::uint64_t seed, std::uint64_t purpose, std::uint64_t index) {
    const std::uint64_t by_purpose = random_stream(seed).next() ^ (purpose * 0xD1B54A32D192ED03ULL);
    const std::uint64_t by_index = random_stream(by_purpose).next() ^ (index * 0x9E3779B97F4A7C15ULL);
    return random_stream(random_stream(by_index).next());
}

enum purpose : std::uint64_t { level_order = 1, run_frames = 2, flash_place = 3, packet_choice = 4 };

bool matches(const detect::candidate& c, const injected_flash& f) {
    const std::int32_t last = f.frame + f.frames - 1;
    return std::abs(c.peak.det.x - f.x) <= recovery_pixels && std::abs(c.peak.det.y - f.y) <= recovery_pixels &&
           c.first_frame <= last + recovery_frames && c.last_frame >= f.frame - recovery_frames;
}

double distance(std::int32_t x0, std::int32_t y0, std::int32_t x1, std::int32_t y1) {
    const double dx = x1 - x0;
    const double dy = y1 - y0;
    return std::sqrt(dx * dx + dy * dy);
}

time_span span_of(const ser::frame_times& times, std::int32_t threshold, std::int32_t first, std::int32_t last) {
    time_span s;
    s.threshold = threshold;
    s.first_frame = first;
    s.last_frame = last;
    if (last < first) return s;
    s.utc_first = times.utc_of(first);
    s.utc_last = times.utc_of(last);
    if (s.utc_first && s.utc_last)
        s.seconds = static_cast<double>(*s.utc_last - *s.utc_first) / 1e7 +
                    (times.frame_interval > 0.0 ? times.frame_interval : 0.0);
    return s;
}

} // namespace

std::vector<double> amplitude_ladder::values() const {
    std::vector<double> v;
    if (!check()) return v;
    const auto rungs = static_cast<std::int32_t>(std::floor((last - first) / step + 1e-9)) + 1;
    for (std::int32_t i = 0; i < rungs; ++i) v.push_back(first + step * i);
    return v;
}

platform::status room_for_flashes(std::int32_t width, std::int32_t height) {
    if (width > 2 * detect::inner_margin && height > 2 * detect::inner_margin) return {};
    return platform::status::failure(
        "its frames of " + std::to_string(width) + " x " + std::to_string(height) +
        " pixels have no inner area for flashes (the scan examines only pixels more than " +
        std::to_string(detect::inner_margin) + " from every edge)");
}

platform::status amplitude_ladder::check() const {
    if (!std::isfinite(first) || !std::isfinite(last) || !std::isfinite(step))
        return platform::status::failure("the amplitudes must be finite numbers");
    if (!(first > 0.0)) return platform::status::failure("the first amplitude must be above 0");
    if (last < first) return platform::status::failure("the last amplitude must not lie below the first");
    if (!(step > 0.0)) return platform::status::failure("the amplitude step must be above 0");
    if ((last - first) / step > 1000.0) return platform::status::failure("the ladder has more than 1000 amplitudes");
    // No sample exceeds 65535 counts, and no flash brighter than that can be told apart.
    if (unit == amplitude_unit::counts && last > 65535.0)
        return platform::status::failure("amplitudes in counts must be at most 65535, the largest sample");
    if (unit == amplitude_unit::sigma && last > 10000.0)
        return platform::status::failure("amplitudes in sigma must be at most 10000");
    return {};
}

std::vector<pass_coverage> coverage_of(const detect::file_report& plain) {
    std::vector<pass_coverage> out;
    for (const detect::pass_report& p : plain.passes)
        out.push_back({p.threshold, p.first_frame, report::last_frame_examined(p)});
    return out;
}

detect::scan_job run_job(const detect::scan_job& plain_job, const planned_run& run,
                         const std::vector<pass_coverage>& plain_passes) {
    detect::scan_job job = plain_job;
    detect::scan_settings& s = job.settings;
    if (!plain_passes.empty()) {
        s.threshold = plain_passes.front().threshold;
        for (const pass_coverage& p : plain_passes) s.threshold = std::max(s.threshold, p.threshold);
    }
    s.start_frame = run.first_frame;
    s.end_frame = run.last_frame;
    // More frames than every pass together could save.
    const std::int64_t passes =
        (std::int64_t{s.threshold} - detect::lowest_threshold) / std::max(1, s.threshold_step) + 2;
    s.max_det_frames = static_cast<std::int32_t>(std::min<std::int64_t>(
        std::numeric_limits<std::int32_t>::max(),
        (std::int64_t{run.last_frame} - run.first_frame + 1) * std::max<std::int64_t>(passes, 1) + 1));
    return job;
}

platform::result<injection_plan> plan_injections(platform::file_system& reads, const detect::scan_job& job,
                                                 const detect::file_report& plain, const sensitivity_options& options,
                                                 const detect::engine_hooks& hooks) {
    using platform::status;
    if (const status ladder = options.ladder.check(); !ladder) return ladder;
    if (options.per_level < 1 || options.per_level > most_flashes_per_level)
        return status::failure("the flashes per amplitude must be from 1 to " + std::to_string(most_flashes_per_level));
    if (options.flash_frames != 1 && options.flash_frames != 2) return status::failure("a flash lasts 1 or 2 frames");
    if (!(options.spot_radius > 0.0) || options.spot_radius > 20.0)
        return status::failure("the spot radius must lie above 0 and at most 20 pixels");

    auto input = reads.open_read(job.path);
    if (!input) return status::failure("it cannot be opened (" + input.reason() + ")");
    ser::ser_reader reader(std::move(input.value()));
    job.prepare(reader);
    if (reader.depth() != 8 && reader.depth() != 16)
        return status::failure("only files of 8 or 16 bits per sample can be measured");
    if (const status geometry = reader.check_geometry(); !geometry) return geometry;
    const detect::scan_settings& s = job.settings;
    if (const status runnable =
            detect::scan_refusal(s, reader.frames_present(), detect::highest_sample_of_depth(reader.depth()));
        !runnable)
        return runnable;

    const std::int32_t len = options.flash_frames;
    const std::int32_t range = s.end_frame - s.start_frame + 1;
    if (range < len) return status::failure("the frame range is shorter than a flash");
    injection_plan plan;
    const std::vector<double> rungs = options.ladder.values();
    const auto levels = static_cast<std::int32_t>(rungs.size());
    const std::int32_t total = levels * options.per_level;
    const std::int32_t packet = s.packet_size;
    const std::int32_t packets = range / packet;
    const auto packet_of = [&](std::int32_t frame) { return std::min((frame - s.start_frame) / packet, packets - 1); };
    const auto packet_last = [&](std::int32_t k) {
        return k == packets - 1 ? s.end_frame : s.start_frame + (k + 1) * packet - 1;
    };

    // The amplitudes in a random order, each packet getting flashes in proportion to its frames.
    std::vector<std::int32_t> order(static_cast<std::size_t>(total));
    for (std::int32_t i = 0; i < total; ++i) order[static_cast<std::size_t>(i)] = i / options.per_level;
    random_stream shuffle = stream_for(options.seed, level_order, 0);
    for (std::int32_t i = total - 1; i > 0; --i)
        std::swap(order[static_cast<std::size_t>(i)], order[static_cast<std::size_t>(shuffle.below(i + 1))]);
    std::vector<std::vector<std::size_t>> by_packet(static_cast<std::size_t>(packets));
    random_stream packet_draw = stream_for(options.seed, packet_choice, 0);
    for (std::int32_t i = 0; i < total; ++i)
        by_packet[static_cast<std::size_t>(packet_of(s.start_frame + packet_draw.below(range)))].push_back(
            static_cast<std::size_t>(i));

    // Frames: the flashes of a run sit in slots of 2 (len + 2) frames of its packet, one a slot
    // at an offset below len + 2, so that two flashes of a run lie at least two frames apart
    // beyond the recovery reach and no frame holds two flashes.
    const std::int32_t slot = 2 * (len + 2);
    // And few enough that their separations take at most a quarter of the inner area.
    const double inner_area = static_cast<double>(std::max(0, reader.width() - 2 * detect::inner_margin)) *
                              std::max(0, reader.height() - 2 * detect::inner_margin);
    const auto by_area = static_cast<std::int32_t>(
        std::clamp(std::floor(inner_area / (4.0 * least_separation * least_separation)), 1.0, 1e6));
    std::vector<planned_flash> drawn(static_cast<std::size_t>(total));
    plan.per_run = 0;
    for (std::int32_t k = 0; k < packets; ++k) {
        const std::int32_t pf = s.start_frame + k * packet;
        const std::int32_t pl = packet_last(k);
        const std::int32_t frames = pl - pf + 1;
        const std::int32_t slots = std::max(1, frames / slot);
        const std::int32_t per_run = std::min(slots, by_area);
        const std::int32_t offsets = frames >= slot ? len + 2 : frames - len + 1;
        plan.per_run = std::max(plan.per_run, per_run);
        const auto& mine = by_packet[static_cast<std::size_t>(k)];
        for (std::size_t first = 0; first < mine.size(); first += static_cast<std::size_t>(per_run)) {
            const auto r = static_cast<std::int32_t>(plan.runs.size());
            const bool stars_before = job.switches.stars && k > 0;
            plan.runs.push_back({pf, stars_before ? pf - packet : pf, pl});
            plan.frames_scanned += pl - plan.runs.back().first_frame + 1;
            random_stream where = stream_for(options.seed, run_frames, static_cast<std::uint64_t>(r));
            std::vector<std::int32_t> free_slots(static_cast<std::size_t>(slots));
            for (std::int32_t q = 0; q < slots; ++q) free_slots[static_cast<std::size_t>(q)] = q;
            const std::size_t count = std::min(mine.size() - first, static_cast<std::size_t>(per_run));
            for (std::size_t q = 0; q < count; ++q) {
                const auto qi = static_cast<std::int32_t>(q);
                const std::int32_t pick = qi + where.below(slots - qi);
                std::swap(free_slots[q], free_slots[static_cast<std::size_t>(pick)]);
                planned_flash& p = drawn[mine[first + q]];
                p.run = r;
                p.level = order[mine[first + q]];
                p.packet_first_frame = pf;
                p.flash.frames = len;
                p.flash.frame = pf + free_slots[q] * slot + where.below(offsets);
            }
        }
    }
    const std::vector<detect::candidate> plain_candidates = detect::group_candidates(plain.frames);

    detect::packet_buffers buf;
    const std::int32_t w = reader.width();
    const std::int32_t h = reader.height();
    buf.star_map.assign(reader.samples_per_frame(), 0);
    const std::int32_t inner_w = std::max(0, w - 2 * detect::inner_margin);
    const std::int32_t inner_h = std::max(0, h - 2 * detect::inner_margin);
    double masked_sum = 0.0;
    double tested_sum = 0.0;
    std::vector<char> placed(drawn.size(), 0);

    for (std::int32_t k = 0; k < packets; ++k) {
        if (hooks.should_stop()) return status::failure("stopped");
        const std::int32_t pf = s.start_frame + k * packet;
        const std::int32_t pl = packet_last(k); // the last tests the remainder too
        if (!detect::compute_packet_stats(buf, reader, packet, pf, hooks))
            return status::failure("there is no memory for the packet statistics");
        detect::apply_masks(buf, s, job.switches);
        const auto sigma_at = [&](std::int32_t x, std::int32_t y) { return buf.sigma_map[buf.at(y, x)]; };
        std::int64_t masked = 0;
        for (std::int32_t y = detect::inner_margin; y < h - detect::inner_margin; ++y)
            for (std::int32_t x = detect::inner_margin; x < w - detect::inner_margin; ++x)
                if (sigma_at(x, y) >= detect::mask_value) ++masked;
        const double tested = pl - pf + 1;
        masked_sum += static_cast<double>(masked) * tested;
        tested_sum += tested;

        std::vector<const detect::candidate*> near_packet;
        for (const detect::candidate& c : plain_candidates)
            if (c.last_frame >= pf && c.first_frame <= pl) near_packet.push_back(&c);
        // The places taken in each run so far: a flash is compared with those of its own run only,
        // which the inner area bounds, so the plan takes time in proportion to the flashes.
        std::map<std::int32_t, std::vector<std::pair<std::int32_t, std::int32_t>>> taken_in_run;
        std::size_t tried = 0;
        for (const std::size_t i : by_packet[static_cast<std::size_t>(k)]) {
            planned_flash& p = drawn[i];
            if (inner_w == 0 || inner_h == 0) break;
            if (++tried % 64 == 0 && hooks.should_stop()) return status::failure("stopped");
            auto& taken = taken_in_run[p.run];
            random_stream where = stream_for(options.seed, flash_place, i);
            for (int d = 0; d < place_draws; ++d) {
                const std::int32_t x = detect::inner_margin + where.below(inner_w);
                const std::int32_t y = detect::inner_margin + where.below(inner_h);
                const double sigma = sigma_at(x, y);
                if (!std::isfinite(sigma) || !(sigma > 0.0) || sigma >= detect::mask_value) continue;
                const bool crowded =
                    std::any_of(taken.begin(), taken.end(),
                                [&](const auto& q) { return distance(x, y, q.first, q.second) <= least_separation; }) ||
                    std::any_of(near_packet.begin(), near_packet.end(), [&](const detect::candidate* c) {
                        return distance(x, y, c->peak.det.x, c->peak.det.y) <= least_separation;
                    });
                if (crowded) continue;
                const double rung = rungs[static_cast<std::size_t>(p.level)];
                p.flash.x = x;
                p.flash.y = y;
                p.local_sigma = sigma;
                p.flash.counts = options.ladder.unit == amplitude_unit::sigma ? rung * sigma : rung;
                placed[i] = 1;
                taken.emplace_back(x, y);
                break;
            }
        }
    }
    for (std::size_t i = 0; i < drawn.size(); ++i) {
        if (placed[i] != 0)
            plan.flashes.push_back(drawn[i]);
        else
            ++plan.not_placed;
    }
    const double inner = static_cast<double>(inner_w) * inner_h;
    plan.masked_fraction = inner > 0.0 && tested_sum > 0.0 ? masked_sum / (inner * tested_sum) : 1.0;
    return plan;
}

run_result run_injected(platform::file_system& reads, const detect::scan_job& job,
                        const std::vector<injected_flash>& flashes, double spot_radius, unsigned threads,
                        const detect::engine_hooks& hooks, const std::vector<pass_coverage>* counted) {
    run_result result;
    result.recovered.assign(flashes.size(), false);
    auto input = reads.open_read(job.path);
    if (!input) {
        result.problem = "it cannot be opened (" + input.reason() + ")";
        return result;
    }
    ser::ser_reader reader(std::move(input.value()));
    job.prepare(reader);
    auto patch = byte_patch::make(reader.file(), frame_layout::of(reader), flashes, spot_radius);
    if (!patch) {
        result.problem = patch.reason();
        return result;
    }
    injecting_file_system injected(reads, job.path, std::make_shared<const byte_patch>(std::move(patch.value())));
    detect::scan_environment env;
    env.fs = &injected;
    detect::fast_scan_options fast;
    fast.threads = std::max(1U, threads);
    env.scanner = detect::make_fast_scanner(fast);
    // Nothing of an injected run is shown; only a stop is heard.
    detect::engine_hooks quiet;
    quiet.stop_requested = hooks.stop_requested;
    // Its outputs are dropped: no picture need be drawn or encoded.
    detect::scan_job injected_job = job;
    injected_job.settings.snapshots = detect::snapshot_format::none;
    detect::file_report report = detect::scan_file(injected_job, env, quiet);
    result.scanned = report.outcome == detect::file_outcome::scanned;
    if (!result.scanned) result.problem = report.problems.empty() ? "it was not scanned" : report.problem_text();
    if (counted != nullptr) {
        const auto covered = [&](const detect::saved_frame& f) {
            return std::any_of(counted->begin(), counted->end(), [&](const pass_coverage& p) {
                return p.threshold == f.threshold && f.frame >= p.first_frame && f.frame <= p.last_frame;
            });
        };
        std::erase_if(report.frames, [&](const detect::saved_frame& f) { return !covered(f); });
    }
    result.found_as.assign(flashes.size(), std::nullopt);
    if (report.frames.empty()) return result;
    // The candidates classed on the frames as the run read them, flashes included.
    auto again = injected.open_read(job.path);
    if (!again) {
        result.scanned = false;
        result.problem = "it cannot be opened again (" + again.reason() + ")";
        return result;
    }
    ser::ser_reader classing(std::move(again.value()));
    job.prepare(classing);
    const std::vector<report::measured_candidate> candidates =
        report::classed_candidates(classing, injected_job, {report.frames, report.scattered, report.passes});
    for (std::size_t i = 0; i < flashes.size(); ++i) {
        for (const report::measured_candidate& m : candidates)
            if (matches(m.c, flashes[i]) && (!result.found_as[i] || m.cls < *result.found_as[i]))
                result.found_as[i] = m.cls;
        result.recovered[i] = result.found_as[i] == report::candidate_class::flash;
    }
    return result;
}

std::vector<level_result> level_results(const injection_plan& plan, const amplitude_ladder& ladder) {
    const std::vector<double> rungs = ladder.values();
    std::vector<level_result> levels(rungs.size());
    std::vector<double> other(rungs.size(), 0.0);
    for (const planned_flash& p : plan.flashes) {
        if (p.level < 0 || static_cast<std::size_t>(p.level) >= levels.size()) continue;
        const auto i = static_cast<std::size_t>(p.level);
        ++levels[i].injected;
        if (p.recovered) ++levels[i].recovered;
        other[i] += ladder.unit == amplitude_unit::sigma ? p.flash.counts : p.sigma_multiple();
    }
    for (std::size_t i = 0; i < levels.size(); ++i) {
        const double mean =
            levels[i].injected > 0 ? other[i] / levels[i].injected : std::numeric_limits<double>::quiet_NaN();
        levels[i].sigma = ladder.unit == amplitude_unit::sigma ? rungs[i] : mean;
        levels[i].counts = ladder.unit == amplitude_unit::sigma ? mean : rungs[i];
    }
    return levels;
}

amplitude_limit limit_at(const std::vector<level_result>& levels, double fraction) {
    amplitude_limit limit;
    const level_result* previous = nullptr;
    for (const level_result& l : levels) {
        if (l.injected == 0) continue;
        if (l.completeness() >= fraction) {
            limit.reached = true;
            if (previous == nullptr) {
                limit.at_first_rung = true;
                limit.counts = l.counts;
                limit.sigma = l.sigma;
            } else {
                const double t = (fraction - previous->completeness()) / (l.completeness() - previous->completeness());
                limit.counts = previous->counts + t * (l.counts - previous->counts);
                limit.sigma = previous->sigma + t * (l.sigma - previous->sigma);
            }
            return limit;
        }
        previous = &l;
    }
    return limit;
}

platform::result<file_sensitivity> measure_sensitivity(platform::file_system& given_reads, const detect::scan_job& job,
                                                       const detect::file_report& plain,
                                                       const sensitivity_options& options,
                                                       const detect::engine_hooks& hooks) {
    // The survey, every run and the frame times read the file through one descriptor.
    shared_open_file_system reads_once(given_reads, job.path);
    platform::file_system& reads = reads_once;
    file_sensitivity out;
    out.path = job.path;
    out.result_dir = plain.result_dir;
    out.options = options;
    auto planned = plan_injections(reads, job, plain, options, hooks);
    if (!planned) {
        if (hooks.should_stop()) {
            out.stopped = true;
            return out;
        }
        return planned.outcome();
    }
    out.plan = std::move(planned.value());
    injection_plan& plan = out.plan;

    // The runs, scanned several at once; each run's result depends on its own flashes alone.
    std::vector<std::vector<std::size_t>> runs(plan.runs.size());
    for (std::size_t i = 0; i < plan.flashes.size(); ++i)
        runs[static_cast<std::size_t>(plan.flashes[i].run)].push_back(i);
    const std::vector<pass_coverage> counted = coverage_of(plain);

    std::int64_t samples = 0;
    if (auto probe = reads.open_read(job.path)) {
        ser::ser_reader reader(std::move(probe.value()));
        reader.read_ser_header();
        samples = static_cast<std::int64_t>(reader.samples_per_frame());
    }
    // The runs at once and the threads of each divide one budget of cores.
    const detect::core_budget cores =
        options.threads == 0 ? detect::core_budget::machine() : detect::core_budget::of(options.threads);
    const auto by_memory = static_cast<unsigned>(
        std::clamp<std::int64_t>(runs_memory / (samples * run_bytes_per_sample + run_fixed_bytes), 1, 4096));
    const unsigned at_once = std::min(cores.at_once(static_cast<unsigned>(runs.size())), by_memory);
    const unsigned threads_each = cores.share(at_once).threads(0);
    std::vector<run_result> results(runs.size());
    std::mutex mutex;
    std::int32_t done = 0;
    const auto all = static_cast<std::int32_t>(runs.size());
    std::atomic<std::size_t> next{0};
    const auto worker = [&] {
        for (std::size_t r = next++; r < runs.size(); r = next++) {
            if (hooks.should_stop()) continue;
            std::vector<injected_flash> flashes;
            for (const std::size_t i : runs[r]) flashes.push_back(plan.flashes[i].flash);
            results[r] = run_injected(reads, run_job(job, plan.runs[r], counted), flashes, options.spot_radius,
                                      threads_each, hooks, &counted);
            const std::lock_guard lock(mutex);
            ++done;
            if (options.run_done) options.run_done(done, all);
        }
    };
    if (!counted.empty()) {
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < at_once; ++t) pool.emplace_back(worker);
        worker();
        for (auto& t : pool) t.join();
    }
    if (hooks.should_stop()) {
        out.stopped = true;
        return out;
    }
    for (std::size_t r = 0; r < runs.size() && !counted.empty(); ++r) {
        if (!results[r].scanned) return platform::status::failure("an injected run failed: " + results[r].problem);
        for (std::size_t k = 0; k < runs[r].size(); ++k) {
            planned_flash& p = plan.flashes[runs[r][k]];
            p.found_as = results[r].found_as[k];
            p.recovered = results[r].recovered[k];
        }
    }

    out.levels = level_results(plan, options.ladder);
    out.half = limit_at(out.levels, 0.5);
    out.most = limit_at(out.levels, 0.9);

    ser::frame_times times;
    if (auto again_input = reads.open_read(job.path)) {
        ser::ser_reader reader(std::move(again_input.value()));
        job.prepare(reader);
        times = ser::read_frame_times(reader, job.fps);
        for (const report::measured_candidate& m :
             report::classed_candidates(reader, job, {plain.frames, plain.scattered, plain.passes})) {
            ++out.false_by_class[static_cast<std::size_t>(m.cls)];
            ++out.false_candidates;
        }
    }
    out.time_source = times.source;
    std::int32_t first = std::numeric_limits<std::int32_t>::max();
    std::int32_t last = -1;
    for (const detect::pass_report& p : plain.passes) {
        const std::int32_t end = report::last_frame_examined(p);
        out.passes.push_back(span_of(times, p.threshold, p.first_frame, end));
        if (end < p.first_frame) continue;
        first = std::min(first, p.first_frame);
        last = std::max(last, end);
    }
    out.covered = last >= 0 ? span_of(times, 0, first, last) : time_span{};
    if (std::isfinite(out.covered.seconds) && out.covered.seconds > 0.0)
        out.false_per_hour = out.false_candidates / (out.covered.seconds / 3600.0);
    return out;
}

} // namespace serflash::sensitivity
