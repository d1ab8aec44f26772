#pragma once
// A scan context and work buffers over a small SER file held in memory, for engine tests.
#include "detect/packet_buffers.h"
#include "detect/scan_context.h"
#include "platform/file_io.h"
#include "ser/ser_reader.h"

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

namespace serflash::detect::testing {

// SER bytes: a 178-byte header with the geometry, then the frames (samples little-endian).
inline std::vector<std::uint8_t> ser_bytes(std::int32_t w, std::int32_t h, std::int32_t depth,
                                           const std::vector<std::vector<std::uint16_t>>& frames) {
    std::vector<std::uint8_t> b(178, 0);
    std::memcpy(b.data(), "SERFLASH-TESTS", 14);
    const auto put = [&](std::size_t off, std::int32_t v) {
        for (int i = 0; i < 4; ++i)
            b[off + static_cast<std::size_t>(i)] =
                static_cast<std::uint8_t>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFFU);
    };
    put(22, 0);
    put(26, w);
    put(30, h);
    put(34, depth);
    put(38, static_cast<std::int32_t>(frames.size()));
    for (const auto& f : frames)
        for (std::uint16_t s : f) {
            b.push_back(static_cast<std::uint8_t>(s & 0xFFU));
            if (depth != 8) b.push_back(static_cast<std::uint8_t>(s >> 8));
        }
    return b;
}

struct memory_scan {
    std::unique_ptr<ser::ser_reader> reader;
    scan_context ctx;   // reading the frames, with default settings
    packet_buffers buf; // of the frames' size, all zeros

    memory_scan(std::int32_t w, std::int32_t h, const std::vector<std::vector<std::uint16_t>>& frames,
                std::int32_t depth = 16) {
        reader = std::make_unique<ser::ser_reader>(platform::make_memory_input(ser_bytes(w, h, depth, frames)));
        reader->read_ser_header();
        ctx.reader = reader.get();
        const auto n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
        buf.width = w;
        buf.height = h;
        buf.frame_buf.assign(n, 0);
        buf.mean_map.assign(n, 0.0);
        buf.sigma_map.assign(n, 0.0);
        buf.star_map.assign(n, 0);
    }
    std::size_t at(int row, int col) const { return buf.at(row, col); }
};

} // namespace serflash::detect::testing
