#pragma once
// One file scanned through the product's own scan (detect::scan_file) with settings given
// directly, and results trees read and compared: what the benchmark and the scanner tests need.
#include "detect/batch.h"
#include "ser/ser_reader.h"

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
    std::string results_parent; // the results folder "Results_<base name>" is made in here
    detect::scan_settings settings;
    detect::mask_switches switches;
    std::int32_t bit_shift = 0;
    bool swap_bytes = false;
    std::function<bool()> stop_requested; // the user's stop button
    platform::file_system* fs = nullptr;  // null: the machine's file system
    detect::picture_encoder png_encoder;  // null: PNG snapshots are refused
};

// The defaults a file gets when it is listed.
inline detect::scan_settings default_settings(const ser::ser_reader& reader) {
    return detect::default_settings(reader.frames_present(), reader.depth(), reader.bit_shift());
}

struct scan_result {
    bool ran = false; // the passes ran (the file was not refused before them)
    detect::file_report report;
    std::vector<std::string> messages; // caption, then text, of every message
};

inline scan_result scan_once(const scan_job& job, const detect::file_scanner& scanner) {
    scan_result r;
    detect::scan_job file{job.ser_path, job.settings, job.switches, job.bit_shift, job.swap_bytes};
    detect::scan_environment env;
    env.results_parent = job.results_parent;
    env.scanner = scanner;
    env.fs = job.fs;
    env.png_encoder = job.png_encoder;
    detect::engine_hooks hooks;
    hooks.stop_requested = job.stop_requested;
    hooks.message = [&r](const detect::engine_message& m) {
        r.messages.emplace_back(detect::caption_text(m.caption));
        r.messages.push_back(m.text);
    };
    r.report = detect::scan_file(file, env, hooks);
    r.ran = !r.report.passes.empty() || r.report.outcome == detect::file_outcome::scanned || !r.report.no_pass.empty();
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
