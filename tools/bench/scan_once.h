#pragma once
// Scans one SER file into a results folder the way the batch run does (header block, then the
// scan command), with settings given directly; used to compare scanners and to time them.
#include "detect/batch.h"
#include "detect/scan_state.h"
#include "detect/summary_file.h"
#include "ser/ser_reader.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

namespace serflash::bench {

struct scan_job {
    std::string ser_path;
    std::string results_parent; // the results folder "Results_<name>" is made in here
    std::string name = "file";
    detect::scan_settings settings;
    detect::mask_switches switches;
    std::int32_t bit_shift = 0;
    std::function<bool()> stop_requested; // the user's stop button
};

// The scan table's defaults for a file (frame range, limit, packet, levels, gain).
inline detect::scan_settings default_settings(const ser::ser_reader& reader) {
    detect::scan_settings s;
    const std::int32_t frames = reader.frame_count();
    s.start_frame = 0;
    s.end_frame = frames - 1;
    s.max_det_frames = std::min(frames / 100 + 1, 200);
    s.packet_size = std::min(200, frames);
    const bool eight = reader.depth() == 8;
    s.blue_level = eight ? 0 : 500;
    s.red_level = eight ? 255 : 3800;
    s.brightness = 1000;
    return s;
}

struct scan_result {
    bool ran = false;
    detect::scan_outcome outcome;
    std::int32_t threshold = 0;
    std::int32_t cur_frame = 0;
    std::vector<std::string> messages; // caption, then text, of every message
};

inline scan_result scan_once(const scan_job& job, const detect::file_scanner& scanner) {
    scan_result r;
    platform::file_system& fs = platform::native_file_system();
    auto input = fs.open_read(job.ser_path);
    if (!input) return r;
    ser::ser_reader reader(std::move(input));
    reader.set_bit_shift(job.bit_shift);
    reader.read_ser_header();
    const std::string dir = job.results_parent + "/Results_" + job.name;
    fs.make_dir(dir);
    const std::string summary_path = dir + "/" + job.name + "_summary.txt";
    detect::engine_hooks hooks;
    const detect::mask_switches sw = job.switches;
    hooks.switches = [sw] { return sw; };
    hooks.stop_requested = job.stop_requested;
    hooks.message = [&r](const std::string& caption, const std::string& text) {
        r.messages.push_back(caption);
        r.messages.push_back(text);
    };
    {
        auto header = detect::summary_file::open(fs, summary_path, platform::write_mode::truncate);
        if (!header) return r;
        detect::write_summary_header(*header, reader.header_text(), job.settings, sw);
        header->close();
    }
    detect::scan_state st;
    st.reader = &reader;
    st.settings = job.settings;
    st.init_threshold = job.settings.threshold;
    st.frame_buf.assign(reader.samples_per_frame(), 0);
    st.result_dir = dir;
    st.detect_result_path = summary_path;
    st.fs = &fs;
    st.hooks = hooks;
    scanner(st);
    r.ran = true;
    r.outcome = st.outcome;
    r.threshold = st.threshold;
    r.cur_frame = st.cur_frame;
    return r;
}

// Every file below `root` (relative path -> bytes), for comparing two results trees.
inline std::map<std::string, std::string> read_tree(const std::string& root) {
    std::map<std::string, std::string> files;
    namespace fs = std::filesystem;
    std::error_code ec;
    for (fs::recursive_directory_iterator it(root, ec), end; !ec && it != end; it.increment(ec)) {
        if (!it->is_regular_file()) continue;
        std::ifstream in(it->path(), std::ios::binary);
        files[fs::relative(it->path(), root).string()] =
            std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    return files;
}

// The first difference between two results trees, or empty when they are byte-identical.
inline std::string compare_trees(const std::string& a, const std::string& b) {
    const auto ta = read_tree(a);
    const auto tb = read_tree(b);
    for (const auto& [name, bytes] : ta) {
        const auto it = tb.find(name);
        if (it == tb.end()) return name + " is missing from " + b;
        if (it->second != bytes) {
            std::size_t at = 0;
            while (at < bytes.size() && at < it->second.size() && bytes[at] == it->second[at]) ++at;
            return name + " differs at byte " + std::to_string(at);
        }
    }
    for (const auto& [name, bytes] : tb)
        if (ta.find(name) == ta.end()) return name + " is missing from " + a;
    return {};
}

} // namespace serflash::bench
