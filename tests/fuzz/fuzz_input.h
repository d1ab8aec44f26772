#pragma once
// The fuzzers' reading of their input: fields taken from the front of the bytes, and a tiny SER
// file made from them with the header oddities, pictures and time stamps they ask for.
#include "ser/ser_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <limits>
#include <utility>
#include <vector>

namespace serflash::fuzzing {

class byte_source {
public:
    byte_source(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t u8() { return at_ < size_ ? data_[at_++] : 0; }
    std::uint16_t u16() { return static_cast<std::uint16_t>(u8() | (u8() << 8)); }
    std::uint32_t u32() { return static_cast<std::uint32_t>(u16()) | (static_cast<std::uint32_t>(u16()) << 16); }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    std::int64_t i64() {
        return static_cast<std::int64_t>(static_cast<std::uint64_t>(u32()) | std::uint64_t{u32()} << 32);
    }

    // A value in lo..hi, or now and then one far outside it.
    std::int32_t pick(std::int32_t lo, std::int32_t hi) {
        constexpr std::int32_t extremes[] = {std::numeric_limits<std::int32_t>::min(),
                                             std::numeric_limits<std::int32_t>::min() + 1,
                                             -65536,
                                             -32769,
                                             -32768,
                                             -1,
                                             0,
                                             32767,
                                             32768,
                                             65535,
                                             65536,
                                             1 << 24,
                                             std::numeric_limits<std::int32_t>::max() - 1,
                                             std::numeric_limits<std::int32_t>::max()};
        const std::uint16_t v = u16();
        if (v == 0xFFFF) return i32();
        if (v >= 0xFFF0) return extremes[(v - 0xFFF0U) % std::size(extremes)];
        const auto span = static_cast<std::uint32_t>(static_cast<std::int64_t>(hi) - lo + 1);
        return static_cast<std::int32_t>(lo + static_cast<std::int64_t>(v % span));
    }
    // Either keeps value or sets it from pick.
    void maybe(std::int32_t& value, std::int32_t lo, std::int32_t hi) {
        if ((u8() & 1U) != 0) value = pick(lo, hi);
    }

    std::vector<std::uint8_t> rest() {
        std::vector<std::uint8_t> r(data_ + std::min(at_, size_), data_ + size_);
        at_ = size_;
        return r;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

// A small linear congruential generator: the noise of the frames, fixed by the input.
class noise_source {
public:
    explicit noise_source(std::uint32_t seed) : state_(seed) {}
    std::uint32_t next() {
        state_ = state_ * 1664525U + 1013904223U;
        return state_ >> 8;
    }

private:
    std::uint32_t state_;
};

inline void put32(std::vector<std::uint8_t>& b, std::size_t at, std::int32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(static_cast<std::uint32_t>(v) >> (8 * i));
}
inline void put64(std::vector<std::uint8_t>& b, std::size_t at, std::int64_t v) {
    for (std::size_t i = 0; i < 8; ++i) b[at + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(v) >> (8 * i));
}

// The SER file: header (with the oddities the input asks for), frames, then maybe time stamps.
inline std::vector<std::uint8_t> make_ser(byte_source& in) {
    // The detector keeps 10 pixels from every edge: from 21 x 21 up something is examined.
    const std::int32_t w = 1 + in.u8() % 32;
    const std::int32_t h = 1 + in.u8() % 32;
    const std::int32_t frames = 1 + in.u8() % 40;
    const std::uint8_t odd = in.u8();
    const bool wide = (odd & 1U) != 0;
    const std::int32_t top = wide ? 65535 : 255;

    std::vector<std::uint8_t> b(ser::header_size, 0);
    std::memcpy(b.data(), "SERFLASH-FUZZ!", 14);
    std::int32_t color_id = 0;
    if ((odd & 2U) != 0) {
        constexpr std::int32_t ids[] = {0, 8, 9, 10, 11, 16, 17, 18, 19, ser::color_rgb, ser::color_bgr, 7};
        color_id = ids[in.u8() % std::size(ids)];
    }
    put32(b, 18, color_id);
    put32(b, 22, in.u8() % 2);
    put32(b, 26, (odd & 4U) != 0 ? in.pick(-2, 40) : w);
    put32(b, 30, (odd & 4U) != 0 ? in.pick(-2, 40) : h);
    std::int32_t depth = wide ? 16 : 8;
    if ((odd & 8U) != 0) {
        constexpr std::int32_t depths[] = {0, 1, 7, 12, 15, 24, 32, -16};
        depth = depths[in.u8() % std::size(depths)];
    }
    put32(b, 34, depth);
    put32(b, 38, (odd & 16U) != 0 ? in.pick(-2, 45) : frames);
    // Observer, Instrument and Telescope: any bytes (code page 932 text, or not).
    for (const std::size_t field : {42U, 82U, 122U}) {
        const std::size_t n = in.u8() % 41U;
        for (std::size_t i = 0; i < n; ++i) b[field + i] = in.u8();
    }
    put64(b, 162, in.i64());
    put64(b, 170, in.i64());

    // The picture: a level with noise, flashes with their neighbours, hot pixels, a burst.
    const std::int32_t level = std::clamp(in.pick(0, top), 0, top);
    const std::int32_t spread = 1 + in.u8() % (wide ? 200 : 20);
    noise_source noise(in.u32());
    const std::size_t n = static_cast<std::size_t>(w) * static_cast<std::size_t>(h);
    std::vector<std::int32_t> samples(n * static_cast<std::size_t>(frames));
    for (std::int32_t& s : samples)
        s = level + static_cast<std::int32_t>(noise.next() % static_cast<std::uint32_t>(spread));
    const auto add = [&](std::int32_t f, std::int32_t x, std::int32_t y, std::int32_t amount) {
        if (x < 0 || y < 0 || x >= w || y >= h) return;
        samples[static_cast<std::size_t>(f) * n + static_cast<std::size_t>(y * w + x)] += amount;
    };
    for (int k = in.u8() % 6; k > 0; --k) {
        const std::int32_t x = in.u8() % w, y = in.u8() % h, f = in.u8() % frames;
        const std::int32_t amplitude = std::clamp(in.pick(0, wide ? 4000 : 200), -top, top);
        const std::int32_t share = in.u8() % 101; // of the amplitude, on each of the four neighbours
        add(f, x, y, amplitude);
        for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}})
            add(f, x + dx, y + dy, static_cast<std::int32_t>(std::int64_t{amplitude} * share / 100));
    }
    for (int k = in.u8() % 3; k > 0; --k) {
        const std::int32_t x = in.u8() % w, y = in.u8() % h, hot = std::clamp(in.pick(0, top), -top, top);
        for (std::int32_t f = 0; f < frames; ++f) add(f, x, y, hot);
    }
    if (const std::uint8_t burst = in.u8(); burst >= 128) {
        const std::int32_t f = burst % frames;
        for (int k = in.u8() % 40; k > 0; --k) add(f, in.u8() % w, in.u8() % h, top / 2);
    }
    const std::int32_t planes = ser::samples_per_pixel(color_id);
    for (const std::int32_t s : samples) {
        const auto v = static_cast<std::uint16_t>(std::clamp(s, 0, top));
        for (std::int32_t p = 0; p < planes; ++p) {
            b.push_back(static_cast<std::uint8_t>(v & 0xFFU));
            if (wide) b.push_back(static_cast<std::uint8_t>(v >> 8));
        }
    }
    if ((odd & 32U) != 0) {
        // Time stamps after the frames, now and then out of order or not all of them.
        std::int64_t ticks = 638000000000000000 + std::int64_t{in.u32()} * 10000;
        const std::int64_t step = 1 + std::int64_t{in.u16()} * 1000;
        const std::int32_t stamps = frames - (in.u8() % 3);
        const std::uint8_t flags = in.u8();
        for (std::int32_t k = 0; k < stamps; ++k) {
            b.resize(b.size() + 8);
            put64(b, b.size() - 8, (ticks & ((std::int64_t{1} << 62) - 1)) | (std::int64_t{flags & 3U} << 62));
            ticks += (flags & 4U) != 0 && k == stamps / 2 ? -step : step * (1 + ((flags & 8U) != 0 && k == 2));
        }
    }
    if ((odd & 64U) != 0) b.resize(b.size() - std::min<std::size_t>(b.size(), 1 + in.u16() % 400));
    if ((odd & 128U) != 0) b.resize(b.size() + in.u8());
    return b;
}

} // namespace serflash::fuzzing
