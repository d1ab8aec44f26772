// A whole scan of a tiny SER file held in memory, with a header and settings taken from the
// input: the straightforward scan and the fast scan (at one thread and at two or three) must
// leave exactly the same folders and files, messages and reports, and nothing may be written
// outside the results folders.
//
// The input is read field by field from the front (missing bytes read as 0): the file's size,
// header oddities and picture, then every setting, then how the scan runs; what is left is
// XORed over the frames' bytes. A setting reads as two bytes: below 0xFFF0 a value in the
// field's usual range, above it an extreme value (0xFFFF: the next four bytes as they are).
#include "detect/memory_fs.h"
#include "fuzz_input.h"

#include "detect/batch.h"
#include "detect/fast_scan.h"
#include "detect/passes.h"
#include "detect/rules.h"
#include "report/observation_sinks.h"
#include "ser/ser_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace serflash;
using detect::testing::memory_fs;

using fuzzing::byte_source;
using fuzzing::make_ser;

struct fuzz_case {
    std::string ser_path;
    std::vector<std::uint8_t> ser;
    int occupied = 0; // what already stands at the first results folder's name
    detect::scan_job job;
    detect::fast_scan_options fast;
    unsigned more_threads = 2;
    int stop_after = 0; // asks of the stop button until it is pressed; 0: never
    int refused = 0;    // which writes fail
    // The candidates' tables and report page too: they cost more than the scan itself, so only
    // some runs write them.
    bool reports = false;
};

fuzz_case make_case(const std::uint8_t* data, std::size_t size) {
    byte_source in(data, size);
    fuzz_case c;
    constexpr const char* names[] = {"in/clip.ser", "in/.ser", "in/a.b.c",
                                     ("in/\xE6\x9C\x88\xE9\x9D\xA2_\xE9\x96\x83\xE5\x85\x89_long_name_of_a_capture_"
                                      "taken_on_a_cold_night_with_a_small_telescope_and_a_fast_camera_000001.ser")};
    c.ser_path = names[in.u8() % std::size(names)];
    c.ser = make_ser(in);

    // Settings: the defaults the file gets when it is listed, then any field changed.
    ser::ser_reader reader(platform::make_memory_input(c.ser));
    reader.read_ser_header();
    const std::int32_t frames = reader.frames_present();
    const std::int32_t top = reader.depth() == 8 ? 255 : 4200;
    detect::scan_job& job = c.job;
    job.path = c.ser_path;
    job.bit_shift = in.pick(-2, 17);
    job.settings = detect::default_settings(frames, reader.depth(), job.bit_shift);
    detect::scan_settings& s = job.settings;
    in.maybe(s.start_frame, -2, frames);
    in.maybe(s.end_frame, -2, frames);
    in.maybe(s.max_det_frames, -1, 12);
    in.maybe(s.packet_size, 0, frames + 1);
    in.maybe(s.blue_level, -10, top);
    in.maybe(s.red_level, 0, top + 10);
    in.maybe(s.brightness, 0, 3000);
    in.maybe(s.threshold, 20, 120);
    in.maybe(s.threshold_step, 0, 12);
    for (std::int32_t* pct : {&s.pct_top, &s.pct_bottom, &s.pct_left, &s.pct_right}) in.maybe(*pct, -30, 110);
    const std::uint8_t masks = in.u8();
    for (std::size_t k = 0; k < 4; ++k) {
        if ((masks & (1U << k)) == 0) continue;
        s.mask_ul[k] = detect::pack_point(in.pick(-3, 35), in.pick(-3, 35));
        s.mask_lr[k] = detect::pack_point(in.pick(-3, 35), in.pick(-3, 35));
    }
    for (std::int32_t* half : {&s.red_mask_half, &s.blue_mask_half, &s.star_mask_half}) in.maybe(*half, -2, 12);
    in.maybe(s.star_half_width, -1, 12);
    in.maybe(s.star_threshold, -10, 80);
    in.maybe(s.scatter_v, -1, 30);
    in.maybe(s.scatter_h, -1, 30);
    const std::uint8_t switches = in.u8();
    job.switches = {(switches & 1U) != 0, (switches & 2U) != 0, (switches & 4U) != 0};
    s.continue_after_scatter = (switches & 8U) != 0;
    job.swap_bytes = (switches & 16U) != 0;
    job.fps = (switches & 32U) != 0 ? in.u8() / 4.0 : 0.0;
    if ((switches & 128U) != 0) s.snapshots = detect::snapshot_format::none;
    // Every pass reads the file: a few tens of passes keep a run short.
    if (s.threshold_step >= 1 && (std::int64_t{s.threshold} - detect::lowest_threshold) / s.threshold_step > 40)
        s.threshold = detect::lowest_threshold + s.threshold_step * (s.threshold % 41);

    c.fast.threads = 1;
    c.fast.chunk_bytes = 1 + in.u16() % 20000;
    c.fast.band_bytes = (switches & 64U) != 0 ? 0 : 1 + in.u16() % 20000;
    c.more_threads = 2 + in.u8() % 2;
    const std::uint8_t run = in.u8();
    c.occupied = run % 4;
    c.stop_after = (run & 8U) != 0 ? 1 + (run >> 4) : 0;
    const std::uint8_t writes = in.u8();
    c.refused = writes % 8;
    c.reports = (writes & 0x30U) == 0x30U;
    s.complete = (writes & 0x40U) != 0;
    s.complete_threshold = detect::lowest_threshold + ((writes & 0x8U) != 0 ? 12 : 0);

    // What is left changes the frames' bytes.
    const std::vector<std::uint8_t> extra = in.rest();
    for (std::size_t i = 0; i < extra.size() && ser::header_size + i < c.ser.size(); ++i)
        c.ser[static_cast<std::size_t>(ser::header_size) + i] ^= extra[i];
    return c;
}

// What one scan left behind.
struct scan_outcome {
    memory_fs fs;
    detect::file_report report;
    std::vector<std::string> said; // caption and text of every message
    std::vector<std::string> observed;
    bool cut_short = false; // stopped for its passes
};

// More than the settings ask for (see make_case): only raises of the threshold reach it.
constexpr int max_passes = 60;

const char* const results_parent = "out";

std::string first_results_folder(const fuzz_case& c) {
    return std::string(results_parent) + "/" + detect::results_folder_name(detect::base_name_of(c.ser_path));
}

void lay_out(const fuzz_case& c, memory_fs& fs) {
    fs.dirs = {"in", results_parent};
    fs.files[c.ser_path] = c.ser;
    const std::string taken = first_results_folder(c);
    if (c.occupied == 1) fs.files[taken] = {'x'};
    if (c.occupied == 2) fs.links.insert(taken);
    if (c.occupied == 3) {
        fs.dirs.insert(taken);
        fs.files[taken + "/earlier.txt"] = {'y'};
    }
    const auto ends_with = [](const std::string& path, const char* tail) {
        const std::size_t n = std::strlen(tail);
        return path.size() >= n && path.compare(path.size() - n, n, tail) == 0;
    };
    switch (c.refused) {
        case 1:
            fs.refuse_create = [ends_with](const std::string& p) { return ends_with(p, ".bmp"); };
            break;
        case 2:
            fs.refuse_write = [ends_with](const std::string& p) { return ends_with(p, "_summary.txt"); };
            break;
        case 3:
            fs.refuse_create = [ends_with](const std::string& p) { return ends_with(p, ".html"); };
            break;
        case 4:
            fs.refuse_mkdir = true;
            break;
        default:
            break;
    }
}

scan_outcome scan(const fuzz_case& c, const detect::file_scanner& scanner) {
    scan_outcome r;
    lay_out(c, r.fs);
    detect::scan_environment env;
    env.results_parent = results_parent;
    env.fs = &r.fs;
    env.scanner = scanner;
    report::observation_options observation;
    observation.fs = &r.fs;
    observation.observed = [&r](const report::observation& o, const std::string& problem) {
        r.observed.push_back(o.path + ": " + std::to_string(o.candidates.size()) + " candidates; " + problem);
    };
    if (c.reports) env.sinks = report::observation_sinks(observation);
    detect::engine_hooks hooks;
    hooks.message = [&r](const detect::engine_message& m) {
        r.said.emplace_back(detect::caption_text(m.caption));
        r.said.push_back(m.text);
        r.said.push_back(m.reason);
    };
    // A flat sky makes remainder frames stand out without bound, and each raise of the threshold
    // is one more pass: a run with too many passes is stopped and left uncompared.
    int passes = 0;
    hooks.threshold_shown = [&passes](std::int32_t) { ++passes; };
    int asked = 0;
    hooks.stop_requested = [&] {
        r.cut_short = r.cut_short || passes > max_passes;
        return r.cut_short || (c.stop_after > 0 && ++asked >= c.stop_after);
    };
    r.report = detect::scan_file(c.job, env, hooks);
    return r;
}

// Says what went wrong (the input is replayed from the crash file), then stops.
[[noreturn]] void fail(const std::string& why) {
    std::fprintf(stderr, "fuzz_scan: %s\n", why.c_str());
    __builtin_trap();
}

void require(bool ok, const std::string& why) {
    if (!ok) fail(why);
}

bool same_report(const detect::file_report& a, const detect::file_report& b) {
    if (a.outcome != b.outcome || a.result_dir != b.result_dir || a.folder_taken != b.folder_taken ||
        a.final_threshold != b.final_threshold || a.last_frame != b.last_frame || a.det_frames != b.det_frames ||
        a.det_count != b.det_count || a.problems != b.problems || a.incomplete != b.incomplete ||
        a.no_pass != b.no_pass || a.raise_withheld != b.raise_withheld || a.frames.size() != b.frames.size() ||
        a.scattered.size() != b.scattered.size() || a.passes.size() != b.passes.size())
        return false;
    for (std::size_t k = 0; k < a.frames.size(); ++k) {
        const detect::saved_frame &x = a.frames[k], &y = b.frames[k];
        if (x.threshold != y.threshold || x.frame != y.frame || x.packet_first_frame != y.packet_first_frame ||
            x.detection_count != y.detection_count)
            return false;
    }
    for (std::size_t k = 0; k < a.passes.size(); ++k) {
        const detect::pass_report &x = a.passes[k], &y = b.passes[k];
        if (x.threshold != y.threshold || x.end != y.end || x.frame_reached != y.frame_reached ||
            x.frames_not_examined != y.frames_not_examined || x.saved_frames != y.saved_frames ||
            x.detections != y.detections || x.raised != y.raised)
            return false;
    }
    return true;
}

// The first file that differs, or empty.
std::string first_difference(const memory_fs& a, const memory_fs& b) {
    for (const auto& [path, bytes] : a.files) {
        const auto it = b.files.find(path);
        if (it == b.files.end()) return path + " is written by one only";
        if (it->second != bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && at < it->second.size() && bytes[at] == it->second[at]) ++at;
            return path + " differs from byte " + std::to_string(at);
        }
    }
    for (const auto& [path, bytes] : b.files)
        if (a.files.count(path) == 0) return path + " is written by one only";
    return a.dirs == b.dirs ? std::string{} : "the folders differ";
}

void require_same(const scan_outcome& a, const scan_outcome& b, const char* what) {
    const std::string files = first_difference(a.fs, b.fs);
    require(files.empty(), std::string(what) + ": " + files);
    require(a.said == b.said, std::string(what) + ": the messages differ");
    require(a.observed == b.observed, std::string(what) + ": the candidates' files differ");
    require(same_report(a.report, b.report), std::string(what) + ": the reports differ");
}

// Only results folders are written; what stood before stays as it was.
void require_written_inside(const fuzz_case& c, const scan_outcome& r) {
    memory_fs before;
    lay_out(c, before);
    const std::string inside = std::string(results_parent) + "/Results_";
    for (const auto& [path, bytes] : r.fs.files) {
        const auto it = before.files.find(path);
        require(it != before.files.end() ? it->second == bytes : path.rfind(inside, 0) == 0, path + " is written");
    }
    for (const auto& [path, bytes] : before.files) require(r.fs.files.count(path) == 1, path + " is gone");
    for (const std::string& dir : r.fs.dirs)
        require(before.dirs.count(dir) == 1 || dir.rfind(inside, 0) == 0, dir + " is made");
    require(r.fs.links == before.links, "a link is gone");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz_case c = make_case(data, size);
    detect::fast_scan_options more = c.fast;
    more.threads = c.more_threads;
    const scan_outcome fast = scan(c, detect::make_fast_scanner(c.fast));
    require_written_inside(c, fast);
    if (fast.cut_short) return -1; // not worth keeping
    const scan_outcome threaded = scan(c, detect::make_fast_scanner(more));
    if (!threaded.cut_short) require_same(fast, threaded, "fast scan at 1 and more threads");
    // The straightforward scan asks whether to stop after every frame, the fast one between
    // packets: only the threads of one do not change where a stop lands.
    if (c.stop_after > 0) return 0;
    const scan_outcome reference = scan(c, detect::run_scan);
    if (!reference.cut_short) require_same(fast, reference, "fast and straightforward scan");
    return 0;
}
