#pragma once
// Small SER files and scans of them for the robustness tests.
#include "detect/batch.h"
#include "detect/memory_fs.h"
#include "detect/memory_scan.h"
#include "platform/native_forwarding_fs.h"
#include "report/observation_sinks.h"

#include <cstdint>
#include <string>
#include <vector>

namespace serflash::testing {

// 32 x 32 pixels of 16 bits, no times; a flash at column 16, row 15 of frame 10.
inline std::vector<std::uint8_t> flash_file(std::int32_t frames) {
    std::vector<std::vector<std::uint16_t>> f(static_cast<std::size_t>(frames), std::vector<std::uint16_t>(32 * 32));
    for (std::size_t k = 0; k < f.size(); ++k)
        for (std::size_t i = 0; i < f[k].size(); ++i)
            f[k][i] = static_cast<std::uint16_t>(1000 + (i * 7 + k * 13) % 23);
    for (const auto& d : {std::pair{0, 0}, {0, -1}, {0, 1}, {-1, 0}, {1, 0}})
        f[10][static_cast<std::size_t>((15 + d.first) * 32 + 16 + d.second)] += 900;
    return detect::testing::ser_bytes(32, 32, 16, f);
}

// One file scanned in memory with the candidates tables and the page written beside it.
inline detect::batch_report scan_with_outputs(detect::testing::memory_fs& mem, const detect::scan_job& job) {
    detect::batch_request req;
    req.jobs.push_back(job);
    req.fs = &mem;
    report::observation_options options;
    options.fs = &mem;
    req.sinks = report::observation_sinks(options);
    return detect::run_batch(req);
}

// The text of the one file in memory whose name ends so, or empty.
inline std::string file_ending(const detect::testing::memory_fs& mem, const std::string& ending) {
    for (const auto& [path, bytes] : mem.files)
        if (path.size() > ending.size() && path.ends_with(ending)) return std::string(bytes.begin(), bytes.end());
    return {};
}

} // namespace serflash::testing
