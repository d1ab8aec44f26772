// Scan speed benchmark: the floor (reading the file sequentially from a warm page cache), the
// reference scan and the fast scan, with masks off and on, 16- and 8-bit files; how time grows
// with the frames and with the files; a capture of real frame size (1936 x 1216, 16-bit) with
// all passes through the file, warm and cold, on 1 thread and on every core. Every figure is a
// ratio measured in the same run; the last line sums them up.
//
//   bench [--frames N] [--data DIR] [--repeat R] [--no-reference] [--big-frames N] [--no-big]
//   bench --scan FILE [--masks] [--threads N] [--chunk BYTES] [--kernel ISA] [--max N] [--no-snapshots]
//         [--reference]                                               (one timed scan)
//   bench --scan kernel                                                        (the summing kernels)
//
// Each scan runs in a child process, so that its peak memory is its own.
#include "bench/scan_once.h"
#include "detect/fast_kernels.h"
#include "detect/fast_scan.h"
#include "detect/passes.h"
#include "ser/ser_reader.h"
#include "synth/synth.h"

#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace serflash;
namespace fs = std::filesystem;
using clock_type = std::chrono::steady_clock;

struct options {
    std::int32_t frames = 1000;
    std::string data = "bench-data";
    int repeat = 5;
    bool reference = true;
    std::string scan_only; // --scan FILE: one scan of one file, timed (for profiling)
    bool masks = false;
    unsigned threads = 0;
    std::size_t chunk = 0;
    std::string kernel;             // --kernel avx2|portable: the summing kernel of --scan FILE
    std::int32_t max_frames = 0;    // --max N of --scan FILE; 0: the file's default
    bool no_snapshots = false;      // --no-snapshots: --scan FILE writes no snapshot files
    std::int32_t big_frames = 1000; // of the large-frame case
    bool big = true;
};

double seconds_since(clock_type::time_point t0) {
    return std::chrono::duration<double>(clock_type::now() - t0).count();
}

// A realistic clip: sky with gradient and noise, a bright limb, a dark patch, stars, hot
// pixels and a few flashes.
synth::params clip_params(std::int32_t depth, std::int32_t frames) {
    synth::params p = synth::default_params(depth);
    p.width = 640;
    p.height = 480;
    p.frames = frames;
    p.seed = 2026;
    const double amp = depth == 8 ? 90.0 : 900.0;
    for (int k = 0; k < 6; ++k)
        p.flashes.push_back(
            {100 + 80 * k, 120 + 40 * (k % 4), frames * (2 * k + 1) / 13, amp * (1.0 - 0.08 * k), 1 + k % 3});
    return p;
}

enum class clip_layout { mono, rgb, swapped };

std::string clip_path(const options& o, std::int32_t depth, std::int32_t frames, clip_layout layout) {
    const char* kind = layout == clip_layout::rgb ? "rgb" : layout == clip_layout::swapped ? "swapped" : "";
    return o.data + "/clip" + std::to_string(depth) + kind + "_640x480_" + std::to_string(frames) + ".ser";
}

std::string ensure_clip(const options& o, std::int32_t depth, std::int32_t frames,
                        clip_layout layout = clip_layout::mono) {
    const std::string path = clip_path(o, depth, frames, layout);
    const std::int64_t planes = layout == clip_layout::rgb ? 3 : 1;
    const std::int64_t size = 178 + std::int64_t{640} * 480 * planes * (depth == 8 ? 1 : 2) * frames;
    std::error_code ec;
    if (fs::exists(path, ec) && static_cast<std::int64_t>(fs::file_size(path, ec)) == size) return path;
    fs::create_directories(o.data, ec);
    std::printf("generating %s ...\n", path.c_str());
    std::fflush(stdout);
    synth::params p = clip_params(depth, frames);
    if (layout == clip_layout::rgb) p.color_id = ser::color_rgb;
    p.swap_bytes = layout == clip_layout::swapped;
    const synth::result r = synth::write_ser(platform::native_file_system(), path, p);
    if (!r.ok) {
        std::fprintf(stderr, "bench: cannot write %s: %s\n", path.c_str(), r.error.c_str());
        std::exit(2);
    }
    return path;
}

// Reads the whole file sequentially in 8 MiB blocks (as dd bs=8M); seconds.
double read_file(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) return 0.0;
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<char> buf(std::size_t{8} << 20);
    const auto t0 = clock_type::now();
    while (::read(fd, buf.data(), buf.size()) > 0) {}
    const double t = seconds_since(t0);
    ::close(fd);
    return t;
}

double floor_seconds(const std::string& path, int repeat) {
    read_file(path); // warm the page cache
    // Reads are short and cheap: take the best of many, as for a quiet machine.
    double best = 1e30;
    for (int i = 0; i < std::max(repeat, 9); ++i) best = std::min(best, read_file(path));
    return best;
}

struct timed_run {
    double seconds = 0.0;
    long peak_kib = 0;
    bool ok = false;
};

// Runs fn in a child process; its time (measured there) and peak resident memory.
template <typename Fn>
timed_run in_child(Fn fn) {
    timed_run r;
    int pipe_fd[2];
    if (::pipe(pipe_fd) != 0) return r;
    std::fflush(stdout);
    // The child's peak counts the pages it shares with this process at the fork: what the
    // comparisons of results trees read is handed back first, so that the peak is the scan's.
    ::malloc_trim(0);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(pipe_fd[0]);
        const auto t0 = clock_type::now();
        const bool ok = fn();
        const double t = ok ? seconds_since(t0) : -1.0;
        if (::write(pipe_fd[1], &t, sizeof t) != static_cast<ssize_t>(sizeof t)) ::_exit(3);
        ::_exit(0);
    }
    ::close(pipe_fd[1]);
    double t = -1.0;
    const bool got = ::read(pipe_fd[0], &t, sizeof t) == static_cast<ssize_t>(sizeof t);
    ::close(pipe_fd[0]);
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    r.ok = got && t >= 0.0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    r.seconds = t;
    r.peak_kib = ru.ru_maxrss;
    return r;
}

bench::scan_job job_for(const std::string& path, const std::string& parent, bool masks) {
    bench::scan_job job;
    job.ser_path = path;
    job.results_parent = parent;
    auto in = platform::native_file_system().open_read(path);
    ser::ser_reader reader(std::move(in.value()));
    reader.read_ser_header();
    job.settings = bench::default_settings(reader);
    if (masks) job.switches = {true, true, true};
    return job;
}

timed_run best_fast(const bench::scan_job& job, const std::string& parent, int repeat,
                    const detect::fast_scan_options& opt = {}) {
    timed_run best;
    for (int i = 0; i < repeat; ++i) {
        fs::remove_all(parent);
        fs::create_directories(parent);
        bench::scan_job j = job;
        j.results_parent = parent;
        const timed_run r = in_child([&] { return bench::scan_once(j, detect::make_fast_scanner(opt)).ran; });
        if (!r.ok) return r;
        if (!best.ok || r.seconds < best.seconds) best = r;
    }
    return best;
}

// Scans several files, `jobs` at a time, in a child; the time of the whole set.
timed_run fast_files_once(const std::vector<std::string>& paths, const std::string& parent, unsigned jobs);
timed_run fast_files(const std::vector<std::string>& paths, const std::string& parent, unsigned jobs, int repeat) {
    timed_run best;
    for (int i = 0; i < repeat; ++i) {
        const timed_run r = fast_files_once(paths, parent, jobs);
        if (!best.ok || (r.ok && r.seconds < best.seconds)) best = r;
    }
    return best;
}
timed_run fast_files_once(const std::vector<std::string>& paths, const std::string& parent, unsigned jobs) {
    fs::remove_all(parent);
    fs::create_directories(parent);
    return in_child([&] {
        std::vector<std::thread> workers;
        std::atomic<std::size_t> next{0};
        detect::fast_scan_options opt;
        if (jobs > 1) opt.threads = 1;
        for (unsigned w = 0; w < jobs; ++w)
            workers.emplace_back([&] {
                for (std::size_t i = next++; i < paths.size(); i = next++) {
                    // One folder per file: the same clip may be listed several times.
                    const std::string own = parent + "/f" + std::to_string(i);
                    fs::create_directories(own);
                    bench::scan_job j = job_for(paths[i], own, false);
                    bench::scan_once(j, detect::make_fast_scanner(opt));
                }
            });
        for (auto& t : workers) t.join();
        return true;
    });
}

// Nanoseconds per sample of the summing kernel k on one core, as the scanner runs it: one band of
// inner rows of 1936 x 1216 16-bit frames, a few frames at a time, the frames and the band's state
// in the cache. Every step is given frames of its own, as a scan's are (written just before, out
// of the time), so that the largest samples go on changing as they do over a packet. The best
// of a few repetitions.
double kernel_ns_per_sample(detect::fast::summing_kernel k) {
    detect::fast::frame_geometry g;
    g.width = 1936;
    g.height = 1216;
    const detect::fast_scan_options defaults;
    constexpr std::size_t state_per_pixel = 34;
    const std::size_t row_samples = static_cast<std::size_t>(g.width);
    const auto band_rows = static_cast<std::int32_t>(defaults.band_bytes / (row_samples * state_per_pixel));
    const std::int32_t rows = band_rows + 2;
    const auto per_step = static_cast<std::int32_t>(
        std::max<std::size_t>(defaults.band_bytes / (static_cast<std::size_t>(rows) * row_samples * 2), 1));
    std::vector<std::uint16_t> frames(static_cast<std::size_t>(per_step) * static_cast<std::size_t>(rows) *
                                      row_samples);
    std::uint32_t x = 12345;
    const auto new_frames = [&] {
        for (auto& v : frames) {
            x = x * 1103515245U + 12345U;
            v = static_cast<std::uint16_t>(1000 + (x >> 20) % 200);
        }
    };
    constexpr std::int32_t packet = 200;
    const std::int32_t r0 = 100;
    detect::fast::band_accumulator acc(k);
    double best = 1e30;
    for (int rep = 0; rep < 3; ++rep) {
        double seconds = 0.0;
        std::int64_t samples = 0;
        for (int p = 0; p < 5; ++p) {
            acc.start(g, r0, r0 + band_rows);
            for (std::int32_t k0 = 0; k0 < packet; k0 += per_step) {
                const std::int32_t n = std::min(per_step, packet - k0);
                new_frames();
                const auto t0 = clock_type::now();
                acc.add(reinterpret_cast<const std::uint8_t*>(frames.data()), n, k0, r0 - 1, rows);
                seconds += seconds_since(t0);
                samples += std::int64_t{n} * band_rows * g.width;
            }
        }
        best = std::min(best, seconds * 1e9 / static_cast<double>(samples));
    }
    return best;
}

// Each kernel this processor runs, with the instruction set it uses; the scan's first.
struct kernel_figure {
    std::string isa;
    double ns = 0.0;
};
std::vector<kernel_figure> kernel_figures() {
    std::vector<kernel_figure> out;
    for (const detect::fast::summing_kernel k : detect::fast::kernels_here()) {
        out.push_back({detect::fast::kernel_isa(k), kernel_ns_per_sample(k)});
        std::printf("kernel %-8s %6.3f ns per sample (one core, 1936-wide band in cache)\n", out.back().isa.c_str(),
                    out.back().ns);
    }
    return out;
}

// The middle value (the mean of the two middle ones for an even count); 0 for none.
double median(std::vector<double> v) {
    if (v.empty()) return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t m = v.size() / 2;
    return v.size() % 2 != 0 ? v[m] : (v[m - 1] + v[m]) / 2.0;
}

std::string format_ratio(double r) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", r);
    return text;
}

// The capture of the large-frame case: a realistic frame size with two flashes, made once.
std::string ensure_big(const options& o, std::int32_t frames) {
    const std::string path = o.data + "/big16_1936x1216_" + std::to_string(frames) + ".ser";
    const std::int64_t size = 178 + std::int64_t{1936} * 1216 * 2 * frames;
    std::error_code ec;
    if (fs::exists(path, ec) && static_cast<std::int64_t>(fs::file_size(path, ec)) == size) return path;
    fs::create_directories(o.data, ec);
    synth::params p = synth::default_params(16);
    p.width = 1936;
    p.height = 1216;
    p.frames = frames;
    p.flashes = {{500, 400, frames * 3 / 10, 600.0, 1}, {1500, 900, frames * 7 / 10, 400.0, 2}};
    std::printf("generating %s (%.1f GB, once) ...\n", path.c_str(), static_cast<double>(size) / 1e9);
    std::fflush(stdout);
    const synth::result r = synth::write_ser(platform::native_file_system(), path, p);
    if (!r.ok) {
        std::fprintf(stderr, "bench: cannot write %s: %s\n", path.c_str(), r.error.c_str());
        std::exit(2);
    }
    return path;
}

// Empties the page cache (root only); false when that is not allowed here.
bool drop_page_cache() {
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY);
    if (fd < 0) return false;
    const bool ok = ::write(fd, "3\n", 2) == 2;
    ::close(fd);
    return ok;
}

struct big_figures {
    double warm_none = 0.0; // fast scan on every core without snapshots / warm read floor
    double warm_bmp = 0.0;  // the same with the default BMP snapshots
    double cold = 0.0;      // default snapshots from an empty page cache; 0 when not measured
    unsigned threads = 1;
    double scaling = 0.0; // time on 1 thread / time on every core, default snapshots
    bool identical = true;
};

// 1936 x 1216 16-bit, every pass through the file (a frame limit of 200 is not reached).
big_figures large_frames(const options& o, const std::string& work) {
    big_figures out;
    out.threads = std::max(1U, std::thread::hardware_concurrency());
    std::int32_t frames = o.big_frames;
    const std::int64_t frame_bytes = std::int64_t{1936} * 1216 * 2;
    std::error_code ec;
    fs::create_directories(o.data, ec);
    const std::string existing = o.data + "/big16_1936x1216_" + std::to_string(frames) + ".ser";
    if (!fs::exists(existing, ec)) {
        // Leave 2 GB free beside the file and the snapshots.
        const fs::space_info space = fs::space(o.data, ec);
        const std::int64_t room = ec ? 0 : static_cast<std::int64_t>(space.available) - (std::int64_t{2} << 30);
        const std::int64_t fit = std::max<std::int64_t>(room / frame_bytes, 0);
        if (fit < frames) {
            std::printf("large frames: room for only %lld frames on the disk of %s\n", static_cast<long long>(fit),
                        o.data.c_str());
            frames = static_cast<std::int32_t>(fit);
        }
    }
    if (frames < 10) {
        std::printf("large frames: skipped (no room on the disk)\n");
        return out;
    }
    const std::string path = ensure_big(o, frames);
    bench::scan_job job = job_for(path, "", false);
    job.settings.max_det_frames = 200;
    // The machine's speed drifts (shared hosts, a disk that varies from run to run): runs of the
    // two cases alternate, and ratios are taken pair by pair, their median quoted.
    const int runs = std::min(o.repeat, 3);
    std::printf("\nlarge frames: 1936 x 1216 16-bit, %d frames (%.1f GB), all passes through the file\n", frames,
                static_cast<double>(frame_bytes) * frames / 1e9);
    read_file(path); // warm the page cache
    bench::scan_job none = job;
    none.settings.snapshots = detect::snapshot_format::none;
    detect::fast_scan_options one;
    one.threads = 1;
    // Each run: a warm read, the scan without snapshots, with them, and with them on one thread.
    std::vector<double> none_pairs, bmp_pairs, scaling;
    std::printf("%-22s %10s %10s %10s %10s %10s\n", "warm run", "read s", "none s", "bmp s", "1 thread s", "peak MiB");
    for (int i = 0; i < runs; ++i) {
        const double floor_s = std::min({read_file(path), read_file(path), read_file(path)});
        const timed_run tn = best_fast(none, work + "/bign0", 1);
        const timed_run tb = best_fast(job, work + "/bign", 1);
        const timed_run t1 = best_fast(job, work + "/big1", 1, one);
        if (floor_s > 0.0 && tn.ok) none_pairs.push_back(tn.seconds / floor_s);
        if (floor_s > 0.0 && tb.ok) bmp_pairs.push_back(tb.seconds / floor_s);
        if (t1.ok && tb.ok) scaling.push_back(t1.seconds / tb.seconds);
        const std::string diff = bench::compare_trees(work + "/big1", work + "/bign");
        if (!diff.empty()) std::printf("  1 thread against %u: %s\n", out.threads, diff.c_str());
        out.identical = out.identical && diff.empty() && t1.ok && tb.ok && tn.ok;
        std::printf("%-22d %10.2f %10.2f %10.2f %10.2f %10.1f\n", i + 1, floor_s, tn.seconds, tb.seconds, t1.seconds,
                    static_cast<double>(std::max(tb.peak_kib, t1.peak_kib)) / 1024.0);
    }
    out.warm_none = median(none_pairs);
    out.warm_bmp = median(bmp_pairs);
    out.scaling = median(scaling);
    std::printf("warm: none/read %.2f, bmp/read %.2f (medians of %zu pairs)\n", out.warm_none, out.warm_bmp,
                bmp_pairs.size());
    if (!drop_page_cache()) {
        std::printf("cold: skipped (emptying the page cache needs root)\n");
    } else {
        // Each scan from an empty page cache against a read from an empty page cache just before.
        std::vector<double> ratios;
        for (int i = 0; i < runs; ++i) {
            drop_page_cache();
            const double cold_floor = read_file(path);
            drop_page_cache();
            const timed_run cold = best_fast(job, work + "/bigc", 1);
            const std::string cold_diff = bench::compare_trees(work + "/bign", work + "/bigc");
            if (!cold_diff.empty()) std::printf("  cold against warm: %s\n", cold_diff.c_str());
            out.identical = out.identical && cold_diff.empty() && cold.ok;
            if (!cold.ok || cold_floor <= 0.0) continue;
            ratios.push_back(cold.seconds / cold_floor);
            std::printf("cold %d: read %.2f s, scan %.2f s, x %.2f, peak %.1f MiB\n", i + 1, cold_floor, cold.seconds,
                        ratios.back(), static_cast<double>(cold.peak_kib) / 1024.0);
        }
        out.cold = median(ratios);
        std::printf("cold: median of %zu pairs %.2f\n", ratios.size(), out.cold);
    }
    std::printf("threads 1 -> %u: x %.2f (median of %zu pairs)\n", out.threads, out.scaling, scaling.size());
    return out;
}

double frames_per_second(std::int32_t frames, double seconds) { return seconds > 0 ? frames / seconds : 0.0; }

} // namespace

int main(int argc, char** argv) {
    options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--frames" && i + 1 < argc)
            o.frames = std::atoi(argv[++i]);
        else if (a == "--data" && i + 1 < argc)
            o.data = argv[++i];
        else if (a == "--repeat" && i + 1 < argc)
            o.repeat = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-reference")
            o.reference = false;
        else if (a == "--scan" && i + 1 < argc)
            o.scan_only = argv[++i];
        else if (a == "--masks")
            o.masks = true;
        else if (a == "--reference")
            o.reference = true;
        else if (a == "--chunk" && i + 1 < argc)
            o.chunk = static_cast<std::size_t>(std::atol(argv[++i]));
        else if (a == "--max" && i + 1 < argc)
            o.max_frames = std::max(1, std::atoi(argv[++i]));
        else if (a == "--no-snapshots")
            o.no_snapshots = true;
        else if (a == "--kernel" && i + 1 < argc)
            o.kernel = argv[++i];
        else if (a == "--threads" && i + 1 < argc)
            o.threads = static_cast<unsigned>(std::atoi(argv[++i]));
        else if (a == "--big-frames" && i + 1 < argc)
            o.big_frames = std::max(10, std::atoi(argv[++i]));
        else if (a == "--no-big")
            o.big = false;
        else {
            std::fprintf(stderr,
                         "usage: bench [--frames N] [--data DIR] [--repeat R] [--no-reference] "
                         "[--big-frames N] [--no-big]\n");
            return 2;
        }
    }
    if (o.frames < 10) o.frames = 10;
    const std::string work = o.data + "/results";
    if (o.scan_only == "kernel") {
        // The summing kernels alone on frames that stay in the cache.
        kernel_figures();
        return 0;
    }
    if (!o.scan_only.empty()) {
        fs::remove_all(work + "/one");
        fs::create_directories(work + "/one");
        detect::fast_scan_options opt;
        opt.threads = o.threads;
        if (o.chunk != 0) opt.chunk_bytes = o.chunk;
        for (const detect::fast::summing_kernel k : detect::fast::kernels_here())
            if (o.kernel == detect::fast::kernel_isa(k)) opt.kernel = k;
        if (const std::string chosen = detect::fast::kernel_isa(opt.kernel); !o.kernel.empty() && o.kernel != chosen)
            std::printf("kernel %s not run here; %s\n", o.kernel.c_str(), chosen.c_str());
        if (const char* b = std::getenv("BENCH_BAND_BYTES")) opt.band_bytes = static_cast<std::size_t>(std::atol(b));
        bench::scan_job job = job_for(o.scan_only, work + "/one", o.masks);
        if (o.max_frames > 0) job.settings.max_det_frames = o.max_frames;
        if (o.no_snapshots) job.settings.snapshots = detect::snapshot_format::none;
        const auto t0 = clock_type::now();
        const bench::scan_result r =
            bench::scan_once(job, std::string(argv[argc - 1]) == "--reference" ? detect::file_scanner(detect::run_scan)
                                                                               : detect::make_fast_scanner(opt));
        std::printf("%.3f s, final threshold %d, frame %d, %d frames with %d detections\n", seconds_since(t0),
                    r.report.final_threshold, r.report.last_frame, r.report.det_frames, r.report.det_count);
        return 0;
    }

    std::printf("serflash scan benchmark: 640 x 480, %d frames per file, %u cores, best of %d fast runs\n", o.frames,
                std::thread::hardware_concurrency(), o.repeat);
    std::printf("%-22s %10s %10s %12s %12s %10s %10s\n", "case", "fps", "floor fps", "fast/floor", "ref/fast",
                "peak MiB", "identical");

    bool all_identical = true;
    // A case's fast run against the straightforward one, its line of the table; false when the
    // results differ.
    const auto table_row = [&](const std::string& name, const bench::scan_job& job, double floor_s) {
        const timed_run fast = best_fast(job, work + "/fast", o.repeat);
        std::string identical = "-";
        double ref_ratio = 0.0;
        if (o.reference) {
            fs::remove_all(work + "/ref");
            fs::create_directories(work + "/ref");
            bench::scan_job j = job;
            j.results_parent = work + "/ref";
            const timed_run ref = in_child([&] { return bench::scan_once(j, detect::run_scan).ran; });
            ref_ratio = ref.seconds / fast.seconds;
            const std::string diff = bench::compare_trees(work + "/ref", work + "/fast");
            identical = diff.empty() ? "yes" : "NO";
            if (!diff.empty()) {
                all_identical = false;
                std::printf("  difference: %s\n", diff.c_str());
            }
        }
        std::printf("%-22s %10.0f %10.0f %12.2f %12.1f %10.1f %10s\n", name.c_str(),
                    frames_per_second(o.frames, fast.seconds), frames_per_second(o.frames, floor_s),
                    fast.seconds / floor_s, ref_ratio, static_cast<double>(fast.peak_kib) / 1024.0, identical.c_str());
        return fast.seconds / floor_s;
    };
    double eight_bit_ratio = 0.0; // 8-bit default settings, fast scan / warm read
    for (const std::int32_t depth : {16, 8}) {
        const std::string path = ensure_clip(o, depth, o.frames);
        const double floor_s = floor_seconds(path, o.repeat);
        for (const bool masks : {false, true}) {
            const std::string name = std::to_string(depth) + "-bit " + (masks ? "all masks" : "default");
            const double ratio = table_row(name, job_for(path, "", masks), floor_s);
            if (depth == 8 && !masks) eight_bit_ratio = ratio;
        }
    }
    // Colour and byte-swapped files take the fast scanner too (the plane it examines is read for
    // every layout and byte order).
    for (const bool colour : {true, false}) {
        const std::string path = ensure_clip(o, 16, o.frames, colour ? clip_layout::rgb : clip_layout::swapped);
        bench::scan_job job = job_for(path, "", false);
        job.swap_bytes = !colour;
        table_row(colour ? "16-bit RGB default" : "16-bit swapped default", job, floor_seconds(path, o.repeat));
    }

    // Both clips hold the same number of samples. The two depths, and masks off and on, are also
    // timed in alternating pairs, whose median ratios follow the machine's drift.
    std::vector<double> depth_pairs, mask_pairs[2];
    {
        const bench::scan_job j16 = job_for(ensure_clip(o, 16, o.frames), "", false);
        const bench::scan_job j8 = job_for(ensure_clip(o, 8, o.frames), "", false);
        const bench::scan_job masked[2] = {job_for(ensure_clip(o, 16, o.frames), "", true),
                                           job_for(ensure_clip(o, 8, o.frames), "", true)};
        for (int i = 0; i < o.repeat; ++i) {
            const timed_run a = best_fast(j16, work + "/pair", 1);
            const timed_run b = best_fast(j8, work + "/pair", 1);
            const timed_run am = best_fast(masked[0], work + "/pair", 1);
            const timed_run bm = best_fast(masked[1], work + "/pair", 1);
            if (a.ok && b.ok) depth_pairs.push_back(b.seconds / a.seconds);
            if (a.ok && am.ok) mask_pairs[0].push_back(am.seconds / a.seconds);
            if (b.ok && bm.ok) mask_pairs[1].push_back(bm.seconds / b.seconds);
        }
    }
    const double eight_per_sample = median(depth_pairs);
    std::printf("8-bit/16-bit per sample %.2f; all masks/default: 16-bit %.2f, 8-bit %.2f (medians of %zu pairs)\n",
                eight_per_sample, median(mask_pairs[0]), median(mask_pairs[1]), depth_pairs.size());

    // Growth with the number of frames (16-bit, default settings).
    {
        const std::string one = ensure_clip(o, 16, o.frames);
        const std::string two = ensure_clip(o, 16, 2 * o.frames);
        const double floor1 = floor_seconds(one, o.repeat);
        const double floor2 = floor_seconds(two, o.repeat);
        // The same settings for both, with a frame limit no pass reaches: every pass runs
        // through the whole file, so the sweep cannot end early.
        bench::scan_job j1 = job_for(one, "", false);
        bench::scan_job j2 = job_for(two, "", false);
        j1.settings.max_det_frames = j2.settings.max_det_frames = 1000000;
        const timed_run f1 = best_fast(j1, work + "/grow1", o.repeat);
        const timed_run f2 = best_fast(j2, work + "/grow2", o.repeat);
        std::printf(
            "\nframes (no frame limit): %d -> %d: fast scan time x %.2f (floor x %.2f), peak memory %.1f -> "
            "%.1f MiB\n",
            o.frames, 2 * o.frames, f2.seconds / f1.seconds, floor2 / floor1, static_cast<double>(f1.peak_kib) / 1024.0,
            static_cast<double>(f2.peak_kib) / 1024.0);
    }

    // Growth with the number of files (16-bit, default settings), one at a time and in parallel.
    {
        const std::string path = ensure_clip(o, 16, o.frames);
        const unsigned cores = std::max(1U, std::thread::hardware_concurrency());
        const timed_run one = fast_files({path}, work + "/files", 1, o.repeat);
        std::printf("files: 1 file %.3f s\n", one.seconds);
        for (const std::size_t n : {2U, 4U}) {
            const std::vector<std::string> paths(n, path);
            const timed_run seq = fast_files(paths, work + "/files", 1, o.repeat);
            const timed_run par = fast_files(paths, work + "/files", cores, o.repeat);
            std::printf("files: %zu files x %.2f of one file one by one, x %.2f with %u jobs (peak %.1f MiB)\n", n,
                        seq.seconds / one.seconds, par.seconds / one.seconds, cores,
                        static_cast<double>(par.peak_kib) / 1024.0);
        }
    }
    big_figures big;
    if (o.big) {
        big = large_frames(o, work);
        all_identical = all_identical && big.identical;
    }
    fs::remove_all(work);
    std::printf("\n");
    const std::vector<kernel_figure> kernels = kernel_figures();
    const auto cold_text = big.cold > 0.0 ? format_ratio(big.cold) : std::string("-");
    std::printf(
        "bench: warm %s none, %s bmp, cold %s, threads 1->%u x%.2f, kernel %.2f ns/sample (%s), 8-bit 640x480 "
        "%.2f, identical %s\n",
        format_ratio(big.warm_none).c_str(), format_ratio(big.warm_bmp).c_str(), cold_text.c_str(), big.threads,
        big.scaling, kernels.front().ns, kernels.front().isa.c_str(), eight_bit_ratio, all_identical ? "yes" : "no");
    return all_identical ? 0 : 1;
}
