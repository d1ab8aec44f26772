#include "ser/ser_writer.h"

#include <cstring>

namespace serflash::ser {
namespace {

void put_le(std::uint8_t* dst, std::uint64_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) dst[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

} // namespace

std::array<std::uint8_t, header_size> encode_header(const ser_header& h) {
    std::array<std::uint8_t, header_size> b{};
    std::memcpy(b.data(), h.FileID.data(), 14);
    const std::int32_t ints[] = {
        h.LuID, h.ColorID, h.LittleEndian, h.ImageWidth, h.ImageHeight, h.PixelDepthPerPlane, h.FrameCount};
    std::size_t at = 14;
    for (const std::int32_t v : ints) {
        put_le(b.data() + at, static_cast<std::uint32_t>(v), 4);
        at += 4;
    }
    std::memcpy(b.data() + 42, h.Observer.data(), 40);
    std::memcpy(b.data() + 82, h.Instrument.data(), 40);
    std::memcpy(b.data() + 122, h.Telescope.data(), 40);
    put_le(b.data() + 162, static_cast<std::uint64_t>(h.Datetime), 8);
    put_le(b.data() + 170, static_cast<std::uint64_t>(h.DatetimeUTC), 8);
    return b;
}

ser_header make_header(std::int32_t width, std::int32_t height, std::int32_t depth, std::int32_t frames) {
    ser_header h;
    h.ImageWidth = width;
    h.ImageHeight = height;
    h.PixelDepthPerPlane = depth;
    h.FrameCount = frames;
    return h;
}

ser_writer::ser_writer(platform::output_file& out, const ser_header& h) : out_(out), depth_(h.PixelDepthPerPlane) {
    const auto bytes = encode_header(h);
    ok_ = out_.write(bytes.data(), bytes.size());
}

bool ser_writer::write_frame(std::span<const std::uint16_t> samples) { return write_bytes(encode_frame(samples)); }

const std::vector<std::uint8_t>& ser_writer::encode_frame(std::span<const std::uint16_t> samples) {
    const std::size_t n = samples.size();
    if (depth_ == 8) {
        bytes_.resize(n);
        for (std::size_t i = 0; i < n; ++i) bytes_[i] = static_cast<std::uint8_t>(samples[i]);
    } else {
        bytes_.resize(2 * n);
        std::uint8_t* dst = bytes_.data();
        const std::size_t lo = high_first_ ? 1 : 0;
        for (std::size_t i = 0; i < n; ++i) {
            dst[2 * i + lo] = static_cast<std::uint8_t>(samples[i]);
            dst[2 * i + 1 - lo] = static_cast<std::uint8_t>(samples[i] >> 8);
        }
    }
    return bytes_;
}

bool ser_writer::write_bytes(std::span<const std::uint8_t> bytes) {
    if (ok_ && !out_.write(bytes.data(), bytes.size())) ok_ = false;
    return ok_;
}

bool ser_writer::close() {
    const bool closed = out_.close();
    ok_ = ok_ && closed;
    return ok_;
}

} // namespace serflash::ser
