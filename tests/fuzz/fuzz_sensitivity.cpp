// A sensitivity measurement of a tiny SER file held in memory, with the file, the scan settings
// and the sensitivity options (the amplitude ladder, flashes per amplitude, spot radius, flash
// length, seed and a stop) taken from the input: it must never crash, hang or grow without
// bound, every flash of the plan lies where it may, every flash drawn is placed or counted as
// not placed, the same input measures the same twice, and the outputs stay in the results folder.
#include "detect/memory_fs.h"
#include "fuzz_input.h"

#include "detect/batch.h"
#include "detect/rules.h"
#include "sensitivity/sensitivity.h"
#include "sensitivity/sensitivity_report.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace serflash;
using detect::testing::memory_fs;
using fuzzing::byte_source;

// A rung of the ladder: mostly an ordinary value, now and then one no ladder may hold.
double amplitude(byte_source& in, double usual_top) {
    constexpr double odd[] = {0.0,
                              -1.0,
                              1e-300,
                              0.05,
                              65535.0,
                              65536.0,
                              10000.0,
                              10001.0,
                              1e30,
                              std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN(),
                              std::numeric_limits<double>::max()};
    const std::uint8_t v = in.u8();
    if (v >= 0xF0) return odd[(v - 0xF0U) % std::size(odd)];
    return usual_top * v / 0xEF;
}

struct measured {
    bool ok = false;
    std::string reason;
    sensitivity::file_sensitivity s;
};

constexpr const char* parent = "out";

measured measure(memory_fs& fs, const detect::scan_job& job, const sensitivity::sensitivity_options& options,
                 int stop_after, bool write) {
    detect::scan_environment env;
    env.results_parent = parent;
    env.fs = &fs;
    const detect::file_report plain = detect::scan_file(job, env, {});
    measured m;
    if (plain.outcome != detect::file_outcome::scanned) return m;
    int asked = 0;
    detect::engine_hooks hooks;
    if (stop_after > 0) hooks.stop_requested = [&] { return ++asked > stop_after; };
    auto r = sensitivity::measure_sensitivity(fs, job, plain, options, hooks);
    m.ok = r.ok();
    if (!m.ok) {
        m.reason = r.reason();
        if (m.reason.empty()) std::abort(); // a refusal always says why
        return m;
    }
    m.s = std::move(r.value());
    if (write && !m.s.stopped) {
        (void)sensitivity::write_sensitivity(fs, job, plain, m.s, nullptr);
        for (const std::string& line : sensitivity::sensitivity_lines(m.s))
            if (line.empty()) std::abort();
        if (sensitivity::sensitivity_last_line(m.s).empty()) std::abort();
    }
    return m;
}

void check_plan(const measured& m, const detect::scan_job& job, std::int32_t width, std::int32_t height) {
    if (!m.ok || m.s.stopped) return;
    const sensitivity::injection_plan& plan = m.s.plan;
    const auto rungs = static_cast<std::int64_t>(m.s.options.ladder.values().size());
    if (static_cast<std::int64_t>(plan.flashes.size()) + plan.not_placed != rungs * m.s.options.per_level) std::abort();
    const detect::scan_settings& s = job.settings;
    for (const sensitivity::planned_flash& p : plan.flashes) {
        const sensitivity::injected_flash& f = p.flash;
        if (f.x < detect::inner_margin || f.x >= width - detect::inner_margin) std::abort();
        if (f.y < detect::inner_margin || f.y >= height - detect::inner_margin) std::abort();
        if (f.frame < s.start_frame || f.frame + f.frames - 1 > s.end_frame) std::abort();
        if (p.run < 0 || static_cast<std::size_t>(p.run) >= plan.runs.size()) std::abort();
        if (p.level < 0 || p.level >= rungs) std::abort();
        if (!std::isfinite(f.counts) || !(p.local_sigma > 0.0)) std::abort();
    }
    std::int64_t injected = 0, recovered = 0;
    for (const sensitivity::level_result& l : m.s.levels) {
        if (l.recovered < 0 || l.recovered > l.injected) std::abort();
        injected += l.injected;
        recovered += l.recovered;
    }
    if (injected != static_cast<std::int64_t>(plan.flashes.size())) std::abort();
    (void)recovered;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    byte_source in(data, size);
    const std::vector<std::uint8_t> bytes = fuzzing::make_ser(in);
    ser::ser_reader reader(platform::make_memory_input(bytes));
    reader.read_ser_header();
    const std::int32_t frames = reader.frames_present();

    detect::scan_job job;
    job.path = "in/f.ser";
    job.settings = detect::default_settings(frames, reader.depth(), 0);
    detect::scan_settings& s = job.settings;
    in.maybe(s.start_frame, -2, frames);
    in.maybe(s.end_frame, -2, frames);
    in.maybe(s.packet_size, 0, frames + 1);
    in.maybe(s.max_det_frames, -1, 12);
    in.maybe(s.threshold, 20, 120);
    in.maybe(s.threshold_step, 1, 12);
    if (s.threshold_step >= 1 && (std::int64_t{s.threshold} - detect::lowest_threshold) / s.threshold_step > 40)
        s.threshold = detect::lowest_threshold + s.threshold_step * (s.threshold % 41);
    const std::uint8_t switches = in.u8();
    job.switches = {(switches & 1U) != 0, (switches & 2U) != 0, (switches & 4U) != 0};
    job.swap_bytes = (switches & 8U) != 0;
    s.snapshots = detect::snapshot_format::none;

    sensitivity::sensitivity_options o;
    const bool in_sigma = (switches & 16U) != 0;
    o.ladder.unit = in_sigma ? sensitivity::amplitude_unit::sigma : sensitivity::amplitude_unit::counts;
    const double top = in_sigma ? 30.0 : (reader.depth() == 8 ? 300.0 : 5000.0);
    o.ladder.first = amplitude(in, top);
    o.ladder.last = amplitude(in, top);
    o.ladder.step = amplitude(in, top / 4);
    o.per_level = in.pick(0, 40);
    o.flash_frames = (switches & 32U) != 0 ? in.pick(0, 3) : 1;
    o.spot_radius = amplitude(in, 4.0);
    o.seed = static_cast<std::uint64_t>(in.i64());
    o.threads = 1 + in.u8() % 3;
    const int stop_after = (switches & 64U) != 0 ? in.u8() % 8 : 0;
    // Keep one input's work small (every few flashes cost a scan): few rungs, and few flashes on
    // them unless there are so many that they are refused.
    if (o.ladder.step > 0.0 && std::isfinite(o.ladder.first) && std::isfinite(o.ladder.last) &&
        (o.ladder.last - o.ladder.first) / o.ladder.step > 4.0)
        o.ladder.step = (o.ladder.last - o.ladder.first) / 4.0;
    if (o.per_level > 12 && o.per_level <= 40) o.per_level = 12;

    memory_fs once;
    once.dirs.insert("in");
    once.dirs.insert(parent);
    once.files[job.path] = bytes;
    const measured first = measure(once, job, o, stop_after, true);
    check_plan(first, job, reader.width(), reader.height());
    for (const auto& [path, content] : once.files)
        if (path != job.path && path.rfind(std::string(parent) + "/Results_f", 0) != 0) std::abort();
    if (stop_after > 0 || (switches & 128U) == 0) return 0;

    // The same input measures the same: the places, the amplitudes and what was recovered.
    memory_fs again;
    again.dirs = {"in", parent};
    again.files[job.path] = bytes;
    const measured second = measure(again, job, o, 0, false);
    if (first.ok != second.ok || first.reason != second.reason) std::abort();
    if (first.s.plan.flashes.size() != second.s.plan.flashes.size()) std::abort();
    for (std::size_t i = 0; i < first.s.plan.flashes.size(); ++i) {
        const auto& p = first.s.plan.flashes[i];
        const auto& q = second.s.plan.flashes[i];
        if (p.flash.x != q.flash.x || p.flash.y != q.flash.y || p.flash.frame != q.flash.frame ||
            p.recovered != q.recovered)
            std::abort();
    }
    return 0;
}
